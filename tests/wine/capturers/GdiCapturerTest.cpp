// The GDI capturer on Wine's real display with ZYRScene's pattern on the screen: 1:1 frames of the
// whole screen and of a region pixel-exact in both row orders and cut to the destination's rows
// and stride, fresh pixels on every frame, and HALFTONE-scaled frames with their bars or stretched.
#include "ProcessLogServer.h"
#include "SceneTestSupport.h"
#include "capturers/TGDIFullscreenCapturer.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

using scene::Pattern;

constexpr uint32_t kGuard = 0xA5A5A5A5u;

// `rows` rows of `stride` bytes, followed by guard words that must stay intact.
struct Destination {
    Destination(uint32_t width, uint32_t rows, uint32_t stride)
        : words(size_t{rows} * stride / 4 + 64, kGuard), area{reinterpret_cast<uint8_t*>(words.data()), width, stride, rows,
                                                                uint64_t{rows} * stride}
    {
    }
    uint32_t At(uint32_t row, uint32_t x) const { return words[size_t{row} * area.ui32Stride / 4 + x]; }
    bool GuardIntact() const
    {
        return std::all_of(words.end() - 64, words.end(), [](uint32_t w) { return w == kGuard; });
    }
    std::vector<uint32_t> words;
    TAreaView area;
};

std::unique_ptr<TGDIFullscreenCapturer> Capturer(int32_t width, int32_t height, THooksRect source, bool bKeep = true)
{
    auto capturer = std::make_unique<TGDIFullscreenCapturer>(::GetModuleHandleW(nullptr));
    EXPECT_TRUE(capturer->Initialize(L"\\\\.\\DISPLAY1"));
    capturer->SetCaptureParameters(width, height, source, bKeep, false);
    return capturer;
}

// The scene shows `kPattern` while the suite runs.
template <Pattern kPattern>
class SceneSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite() { pScene = scenetest::StartSuiteScene(kPattern); }
    static void TearDownTestSuite() { scenetest::QuitSuiteScene(pScene); }
    void SetUp() override { ASSERT_NE(pScene, nullptr); }
    static inline std::unique_ptr<scenetest::SceneRun> pScene;
};

using GdiCapturerCoords = SceneSuite<Pattern::Coords>;
using GdiCapturerSmooth = SceneSuite<Pattern::Smooth>;

TEST_F(GdiCapturerCoords, UnlistedDisplayNameTakesThePrimaryWithItsSize)
{
    TGDIFullscreenCapturer capturer(::GetModuleHandleW(nullptr));
    EXPECT_EQ(capturer.GetMonitorDimensions().cx, 0) << "no display before Initialize";
    ASSERT_TRUE(capturer.Initialize(L"\\\\.\\NO-SUCH-DISPLAY"));
    EXPECT_EQ(capturer.DisplayName(), L"\\\\.\\DISPLAY1");
    ASSERT_EQ(capturer.SelectedDisplays().size(), 1u);
    EXPECT_EQ(capturer.SelectedDisplays()[0].hMonitor, ::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY));
    EXPECT_EQ(capturer.GetMonitorDimensions().cx, 1920);
    EXPECT_EQ(capturer.GetMonitorDimensions().cy, 1080);
}

TEST_F(GdiCapturerCoords, OneToOneFramesArePixelExactInBothRowOrders)
{
    struct Case {
        const char* name;
        int32_t width, height;
        THooksRect source;
        uint32_t rows, stride;  // of the destination
        bool bTopDown;
        uint32_t compareWidth, compareRows;
        int left, top;
    };
    const Case cases[] = {
        {"whole screen, bottom-up", 1920, 1080, {0, 0, 0, 0}, 1080, 7680, false, 1920, 1080, 0, 0},
        {"whole screen, top-down", 1920, 1080, {0, 0, 0, 0}, 1080, 7680, true, 1920, 1080, 0, 0},
        {"region at (100, 100)", 896, 600, {100, 100, 996, 700}, 600, 3584, true, 896, 600, 100, 100},
        {"wider final size: copied from the source's left edge", 2000, 1080, {0, 0, 0, 0}, 1080, 8000, true, 1920, 1080, 0, 0},
        {"fewer rows, bottom-up: the picture's top rows", 1920, 1080, {0, 0, 0, 0}, 100, 7680, false, 1920, 100, 0, 0},
        {"narrow stride cuts each row", 1920, 1080, {0, 0, 0, 0}, 50, 400, true, 100, 50, 0, 0},
        {"more rows than the picture: only its rows", 1920, 1080, {0, 0, 0, 0}, 1088, 7680, true, 1920, 1080, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto capturer = Capturer(c.width, c.height, c.source);
        Destination dst(c.stride / 4, c.rows, c.stride);
        capturer->GetScreenImage(dst.area, c.bTopDown, nullptr);
        std::string first;
        EXPECT_EQ(scenetest::CountExactMismatches(
                      c.compareWidth, c.compareRows, c.left, c.top, 0,
                      [&](uint32_t x, uint32_t y) { return dst.At(c.bTopDown ? y : c.compareRows - 1 - y, x); }, &first),
                  0u)
            << first;
        EXPECT_TRUE(dst.GuardIntact());
        for (uint32_t row = c.compareRows; row < c.rows; ++row) {
            EXPECT_EQ(dst.At(row, 0), kGuard) << "row " << row << " lies below the picture";
        }
    }
}

TEST_F(GdiCapturerCoords, EveryFrameIsFreshFromTheScreen)
{
    const auto capturer = Capturer(1920, 1080, THooksRect{0, 0, 0, 0});
    Destination dst(1920, 1080, 7680);
    capturer->GetScreenImage(dst.area, true, nullptr);
    ASSERT_TRUE(pScene->Next());  // the scene shows generation 1 now
    capturer->GetScreenImage(dst.area, true, nullptr);
    std::string first;
    EXPECT_EQ(scenetest::CountExactMismatches(1920, 1080, 0, 0, 1, [&](uint32_t x, uint32_t y) { return dst.At(y, x); }, &first), 0u)
        << first;
}

TEST_F(GdiCapturerSmooth, HalftoneScaledFramesKeepProportionWithBarsOrStretch)
{
    struct Case {
        const char* name;
        bool bKeep;
        uint32_t pictureTop, pictureRows;
    };
    // 1280 x 800 keeping proportion: scale 2/3, a 1280 x 720 picture between 40-row bars.
    for (const Case& c : {Case{"kept proportion", true, 40, 720}, Case{"stretched", false, 0, 800}}) {
        SCOPED_TRACE(c.name);
        const auto capturer = Capturer(1280, 800, THooksRect{0, 0, 0, 0}, c.bKeep);
        Destination dst(1280, 800, 1280 * 4);
        capturer->GetScreenImage(dst.area, true, nullptr);
        scenetest::ScreenFrame picture{scene::GrabResult::Ok, 0, 1280, static_cast<int>(c.pictureRows), {}};
        for (uint32_t row = 0; row < 800; ++row) {
            for (uint32_t x = 0; x < 1280; ++x) {
                if (row >= c.pictureTop && row < c.pictureTop + c.pictureRows) {
                    picture.pixels.push_back(dst.At(row, x));
                } else {
                    EXPECT_EQ(dst.At(row, x) & scene::kPatternColourMask, 0u) << "bar pixel (" << x << ", " << row << ")";
                }
            }
        }
        std::string first;
        EXPECT_EQ(scenetest::CountMismatches(picture, Pattern::Smooth, 0, 1920, 1080, scene::kSmoothScaledTolerance, &first), 0u)
            << first;
    }
}

}  // namespace
