// The GDI capturer on Wine's real display, with ZYRScene's pattern on the screen: 1:1 frames of
// the whole screen and of a region pixel-exact in both row orders, HALFTONE-scaled frames within a
// tolerance with their bars, the copy cut to the destination's rows and stride, and the failures
// before Initialize.
#include "ProcessLogServer.h"
#include "SceneTestSupport.h"
#include "capturers/TGDIFullscreenCapturer.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using scene::Pattern;

constexpr int kScreenW = 1920;
constexpr int kScreenH = 1080;
constexpr uint32_t kGuard = 0xA5A5A5A5u;

// A destination of `rows` rows of `stride` bytes, followed by guard words that must stay intact.
struct Destination {
    std::vector<uint32_t> words;
    uint32_t ui32Stride;
    uint32_t ui32Rows;
    uint32_t ui32Width;

    Destination(uint32_t width, uint32_t rows, uint32_t stride)
        : words(static_cast<size_t>(rows) * stride / 4 + 64, kGuard), ui32Stride(stride), ui32Rows(rows),
          ui32Width(width)
    {
    }
    TAreaView Area()
    {
        return TAreaView{reinterpret_cast<uint8_t*>(words.data()), ui32Width, ui32Stride, ui32Rows,
                         uint64_t{ui32Rows} * ui32Stride};
    }
    // Pixel x of row r as the slot holds it (r counts rows in memory).
    uint32_t At(uint32_t r, uint32_t x) const { return words[static_cast<size_t>(r) * ui32Stride / 4 + x]; }
    bool GuardIntact() const
    {
        for (size_t i = static_cast<size_t>(ui32Rows) * ui32Stride / 4; i < words.size(); ++i) {
            if (words[i] != kGuard) {
                return false;
            }
        }
        return true;
    }
};

std::unique_ptr<TGDIFullscreenCapturer> InitializedCapturer()
{
    auto capturer = std::make_unique<TGDIFullscreenCapturer>(::GetModuleHandleW(nullptr));
    EXPECT_TRUE(capturer->Initialize(L"\\\\.\\DISPLAY1"));
    return capturer;
}

// Compares `rows` x `width` picture pixels (top-down picture row p lives in memory row
// p or rows - 1 - p) with the pattern at (left + x, top + p); returns the mismatch count and
// describes the first one.
size_t ExactMismatches(const Destination& dst, uint32_t width, uint32_t rows, bool bTopDown, int left, int top,
                       uint32_t generation, std::string* pFirst)
{
    return scenetest::CountExactMismatches(
        width, rows, left, top, generation,
        [&](uint32_t x, uint32_t y) { return dst.At(bTopDown ? y : rows - 1 - y, x); }, pFirst);
}

// The scene shows `kPattern` while the suite runs.
template <Pattern kPattern>
class SceneSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite() { pScene = scenetest::StartSuiteScene(kPattern); }
    static void TearDownTestSuite() { scenetest::QuitSuiteScene(pScene); }
    void SetUp() override { ASSERT_NE(pScene, nullptr); }
    static std::unique_ptr<scenetest::SceneRun> pScene;
};
template <Pattern kPattern>
std::unique_ptr<scenetest::SceneRun> SceneSuite<kPattern>::pScene;

class GdiCapturerCoords : public SceneSuite<Pattern::Coords> {
protected:
    static uint32_t ui32Generation;
};
uint32_t GdiCapturerCoords::ui32Generation = 0;

TEST_F(GdiCapturerCoords, DisplayListSizesAndTheChosenDisplay)
{
    const size_t mark = LogMark();
    TGDIFullscreenCapturer capturer(::GetModuleHandleW(nullptr));
    EXPECT_EQ(capturer.GetMonitorDimensions().cx, 0) << "no display before Initialize";
    EXPECT_EQ(capturer.GetCurrentMonitorDimensions().cx, 0);
    ASSERT_TRUE(capturer.Initialize(L"\\\\.\\NO-SUCH-DISPLAY")) << "an unlisted name takes the primary display";
    EXPECT_EQ(capturer.DisplayName(), L"\\\\.\\DISPLAY1");
    ASSERT_EQ(capturer.SelectedDisplays().size(), 1u);
    EXPECT_EQ(capturer.GetMonitorDimensions().cx, kScreenW);
    EXPECT_EQ(capturer.GetMonitorDimensions().cy, kScreenH);
    EXPECT_EQ(capturer.GetCurrentMonitorDimensions().cx, kScreenW);
    EXPECT_EQ(capturer.GetCurrentMonitorDimensions().cy, kScreenH);
    ASSERT_NE(capturer.ScreenImage(), nullptr);
    EXPECT_EQ(capturer.ScreenImage()->Width(), kScreenW);
    EXPECT_EQ(capturer.ScreenImage()->Height(), kScreenH);
    const std::vector<std::string> texts = TextsSince(mark);
    EXPECT_NE(std::find(texts.begin(), texts.end(), "TGDIFullscreenCapturer::GetDisplays exit with 1"), texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), "TGDIFullscreenCapturer::Initialize exit with 1"), texts.end());
}

TEST_F(GdiCapturerCoords, WholeScreenOneToOneIsExactInBothRowOrders)
{
    const auto capturer = InitializedCapturer();
    capturer->SetCaptureParameters(kScreenW, kScreenH, THooksRect{0, 0, 0, 0}, true, false);
    for (const bool bTopDown : {false, true}) {
        SCOPED_TRACE(bTopDown ? "top-down" : "bottom-up");
        Destination dst(kScreenW, kScreenH, kScreenW * 4);
        capturer->GetScreenImage(dst.Area(), bTopDown, nullptr);
        std::string first;
        EXPECT_EQ(ExactMismatches(dst, kScreenW, kScreenH, bTopDown, 0, 0, ui32Generation, &first), 0u) << first;
        EXPECT_TRUE(dst.GuardIntact());
    }
}

TEST_F(GdiCapturerCoords, RegionOneToOneStartsAtTheRegionsCorner)
{
    const auto capturer = InitializedCapturer();
    // A 896 x 600 region at (100, 100), as the capture thread sizes (100, 100) - (1000, 700).
    capturer->SetCaptureParameters(896, 600, THooksRect{100, 100, 996, 700}, true, false);
    EXPECT_EQ(capturer->ScreenImage()->Width(), 896) << "the bitmap follows the final size";
    Destination dst(896, 600, 896 * 4);
    capturer->GetScreenImage(dst.Area(), true, nullptr);
    std::string first;
    EXPECT_EQ(ExactMismatches(dst, 896, 600, true, 100, 100, ui32Generation, &first), 0u) << first;
}

TEST_F(GdiCapturerCoords, WiderFinalImageWithTheSourceSizeCopiesFromTheSourcesLeftEdge)
{
    const auto capturer = InitializedCapturer();
    // 2000 x 1080 keeping proportion: the destination (40, 0) - (1960, 1080) has the source's size,
    // so the 1:1 path fills the whole bitmap from the source's top-left corner.
    capturer->SetCaptureParameters(2000, kScreenH, THooksRect{0, 0, 0, 0}, true, false);
    const THooksRect dest = capturer->DestinationRect();
    EXPECT_EQ(dest.left, 40);
    EXPECT_EQ(dest.right, 1960);
    Destination dst(2000, kScreenH, 2000 * 4);
    capturer->GetScreenImage(dst.Area(), true, nullptr);
    std::string first;
    EXPECT_EQ(ExactMismatches(dst, kScreenW, kScreenH, true, 0, 0, ui32Generation, &first), 0u) << first;
    // Columns beyond the display keep the new bitmap's black.
    for (const uint32_t r : {0u, 540u, 1079u}) {
        EXPECT_EQ(dst.At(r, 1920) & scene::kPatternColourMask, 0u) << "row " << r;
        EXPECT_EQ(dst.At(r, 1999) & scene::kPatternColourMask, 0u) << "row " << r;
    }
}

TEST_F(GdiCapturerCoords, CopyIsCutToTheDestinationsRowsAndStride)
{
    const auto capturer = InitializedCapturer();
    capturer->SetCaptureParameters(kScreenW, kScreenH, THooksRect{0, 0, 0, 0}, true, false);
    struct Case {
        const char* name;
        uint32_t rows;
        uint32_t stride;
        bool bTopDown;
    };
    const Case cases[] = {
        {"fewer rows, bottom-up: the picture's top rows", 100, kScreenW * 4, false},
        {"fewer rows, top-down", 100, kScreenW * 4, true},
        {"narrow stride cuts each row", 50, 400, true},
        {"more rows than the bitmap: only the bitmap's", kScreenH + 8, kScreenW * 4, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Destination dst(c.stride / 4, c.rows, c.stride);
        capturer->GetScreenImage(dst.Area(), c.bTopDown, nullptr);
        const uint32_t rows = c.rows < kScreenH ? c.rows : kScreenH;
        std::string first;
        EXPECT_EQ(ExactMismatches(dst, c.stride / 4, rows, c.bTopDown, 0, 0, ui32Generation, &first), 0u) << first;
        EXPECT_TRUE(dst.GuardIntact());
        // Rows past the bitmap's height are not written.
        for (uint32_t r = rows; r < c.rows; ++r) {
            EXPECT_EQ(dst.At(r, 0), kGuard) << "row " << r;
        }
    }
}

TEST_F(GdiCapturerCoords, EveryFrameIsFreshFromTheScreen)
{
    const auto capturer = InitializedCapturer();
    capturer->SetCaptureParameters(kScreenW, kScreenH, THooksRect{0, 0, 0, 0}, true, false);
    Destination dst(kScreenW, kScreenH, kScreenW * 4);
    capturer->GetScreenImage(dst.Area(), true, nullptr);
    ASSERT_TRUE(pScene->Next());
    ++ui32Generation;
    capturer->GetScreenImage(dst.Area(), true, nullptr);
    std::string first;
    EXPECT_EQ(ExactMismatches(dst, kScreenW, kScreenH, true, 0, 0, ui32Generation, &first), 0u) << first;
}

TEST(GdiCapturerFailures, NothingIsCapturedOrChangedBeforeInitialize)
{
    const size_t mark = LogMark();
    TGDIFullscreenCapturer capturer(::GetModuleHandleW(nullptr));
    capturer.SetCaptureParameters(640, 480, THooksRect{0, 0, 0, 0}, true, false);
    EXPECT_EQ(capturer.FinalWidth(), -1) << "the base parameters stay unset without a bitmap";
    Destination dst(640, 480, 640 * 4);
    capturer.GetScreenImage(dst.Area(), false, nullptr);
    EXPECT_EQ(dst.At(0, 0), kGuard);
    const std::vector<std::string> texts = TextsSince(mark);
    const std::vector<std::string> expected = {
        "TGDIFullscreenCapturer::SetCaptureParameters pScreenImageInSysMem is null",
        "TBaseFullscreenCapturer::GetScreenImage invalid final width/height",
    };
    for (const std::string& line : expected) {
        EXPECT_NE(std::find(texts.begin(), texts.end(), line), texts.end()) << line;
    }
}

using GdiCapturerSmooth = SceneSuite<Pattern::Smooth>;

// The picture rows [top, top + height) of a top-down destination as a frame of their own.
scenetest::ScreenFrame Rows(const Destination& dst, uint32_t width, uint32_t top, uint32_t height)
{
    scenetest::ScreenFrame frame;
    frame.result = scene::GrabResult::Ok;
    frame.width = static_cast<int>(width);
    frame.height = static_cast<int>(height);
    for (uint32_t r = top; r < top + height; ++r) {
        for (uint32_t x = 0; x < width; ++x) {
            frame.pixels.push_back(dst.At(r, x));
        }
    }
    return frame;
}

TEST_F(GdiCapturerSmooth, HalftoneScaledFramesKeepProportionWithBarsOrStretch)
{
    const auto capturer = InitializedCapturer();
    // 1280 x 800 keeping proportion: scale 2/3, the picture is 1280 x 720 with 40-row bars.
    capturer->SetCaptureParameters(1280, 800, THooksRect{0, 0, 0, 0}, true, false);
    Destination kept(1280, 800, 1280 * 4);
    capturer->GetScreenImage(kept.Area(), true, nullptr);
    std::string first;
    EXPECT_EQ(scenetest::CountMismatches(Rows(kept, 1280, 40, 720), Pattern::Smooth, 0, kScreenW, kScreenH,
                                         scene::kSmoothScaledTolerance, &first),
              0u)
        << first;
    for (const uint32_t barRow : {0u, 39u, 760u, 799u}) {
        for (const uint32_t x : {0u, 640u, 1279u}) {
            EXPECT_EQ(kept.At(barRow, x) & scene::kPatternColourMask, 0u) << "bar pixel (" << x << "," << barRow << ")";
        }
    }

    // Stretched: the whole 1280 x 800 image shows the whole screen.
    capturer->SetCaptureParameters(1280, 800, THooksRect{0, 0, 0, 0}, false, false);
    Destination stretched(1280, 800, 1280 * 4);
    capturer->GetScreenImage(stretched.Area(), true, nullptr);
    EXPECT_EQ(scenetest::CountMismatches(Rows(stretched, 1280, 0, 800), Pattern::Smooth, 0, kScreenW, kScreenH,
                                         scene::kSmoothScaledTolerance, &first),
              0u)
        << first;
}

}  // namespace
