// Overlays of a surface set on Wine's Direct3D 11, read back and compared with a CPU reference:
// the webcam shader's alpha rules, drawing order and blending of overlays 0 and 1, and the
// upload, refusal and replacement rules of their pixels.
#include "DuplicationTestSupport.h"
#include "FakeOutputDuplication.h"
#include "ProcessLogServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using duptest::Pattern;

constexpr uint32_t kSet = 0;
constexpr uint32_t kSetW = 640;
constexpr uint32_t kSetH = 480;
constexpr uint32_t kCamW = 64;
constexpr uint32_t kCamH = 48;
constexpr RECT kCamRect{100, 100, 100 + kCamW, 100 + kCamH};
constexpr RECT kBackgroundRect{90, 90, 90 + kCamW, 90 + kCamH};
constexpr uint32_t kBackground = 0x40302010u;  // A 0x40, R 0x30, G 0x20, B 0x10
constexpr const char kCreateName[] = "TDXGIDuplication::CreateOverlay";

// The webcam picture: opaque, except one transparent texel in the middle, one beside the right
// edge (its neighbourhood wraps round to the left edge), and rows from 40 on whose alpha rises
// with x.
uint32_t CamTexel(uint32_t x, uint32_t y)
{
    uint32_t alpha = 0xFF;
    if ((x == 20 && y == 20) || (x == 62 && y == 10)) {
        alpha = 0;
    } else if (y >= 40) {
        alpha = (x * 4) & 0xFF;
    }
    return alpha << 24 | 0x80u << 16 | (y * 5) << 8 | (x * 3);
}

float Channel(uint32_t pixel, int shift)
{
    return static_cast<float>((pixel >> shift) & 0xFF) / 255.0f;
}

// The webcam shader's alpha for texel (x, y) under pixelAlpha.x = m.
float CamAlpha(float m, uint32_t x, uint32_t y)
{
    const float own = Channel(CamTexel(x, y), 24);
    if (m <= 1.0f) {
        return m;
    }
    if (m >= 10.0f && m <= 11.0f) {
        return own * (m - 10.0f);
    }
    if (m >= 12.0f && m <= 13.0f) {
        float sum = 0.0f;
        for (int j = -3; j <= 3; ++j) {
            for (int i = -3; i <= 3; ++i) {
                const uint32_t sx = (x + kCamW + static_cast<uint32_t>(i)) % kCamW;
                const uint32_t sy = (y + kCamH + static_cast<uint32_t>(j)) % kCamH;
                sum += Channel(CamTexel(sx, sy), 24);
            }
        }
        return std::min(own, sum / 49.0f);
    }
    return own;
}

bool Inside(const RECT& rc, uint32_t x, uint32_t y)
{
    return LONG(x) >= rc.left && LONG(x) < rc.right && LONG(y) >= rc.top && LONG(y) < rc.bottom;
}

uint32_t Pack(float b, float g, float r, float a)
{
    auto byte = [](float v) { return static_cast<uint32_t>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f)); };
    return byte(a) << 24 | byte(r) << 16 | byte(g) << 8 | byte(b);
}

// What the set holds at (x, y): the desktop (1:1), overlay 0 replacing its rectangle, overlay 1
// blended over both with its alpha (result alpha = overlay alpha).
uint32_t Expected(float m, uint32_t x, uint32_t y)
{
    uint32_t below = Pattern(0, static_cast<int>(x), static_cast<int>(y));
    if (Inside(kBackgroundRect, x, y)) {
        below = kBackground;
    }
    if (!Inside(kCamRect, x, y)) {
        return below;
    }
    const uint32_t cx = x - kCamRect.left;
    const uint32_t cy = y - kCamRect.top;
    const uint32_t cam = CamTexel(cx, cy);
    const float a = CamAlpha(m, cx, cy);
    auto mix = [&](int shift) { return Channel(cam, shift) * a + Channel(below, shift) * (1.0f - a); };
    return Pack(mix(0), mix(8), mix(16), a);
}

// Every pixel of the top-left 200 x 200 within ±1 per channel of Expected.
::testing::AssertionResult MatchesComposite(const duptest::TImage& image, float m)
{
    size_t differing = 0;
    std::ostringstream first;
    for (uint32_t y = 0; y < 200; ++y) {
        for (uint32_t x = 0; x < 200; ++x) {
            const uint32_t got = image.At(x, y);
            const uint32_t want = Expected(m, x, y);
            for (int shift = 0; shift < 32; shift += 8) {
                const int diff = int((got >> shift) & 0xFF) - int((want >> shift) & 0xFF);
                if (diff > 1 || diff < -1) {
                    if (differing++ == 0) {
                        first << " (" << x << ", " << y << ") " << std::hex << got << " not " << want;
                    }
                    break;
                }
            }
        }
    }
    if (differing == 0) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << differing << " pixels differ, first" << first.str();
}

bool Logged(const std::vector<std::string>& lines, const std::string& text)
{
    return std::find(lines.begin(), lines.end(), text) != lines.end();
}

class DuplicationOverlay : public ::testing::Test {
protected:
    static void SetUpTestSuite() { output = duptest::FirstOutput(); }
    void SetUp() override
    {
        ASSERT_TRUE(output.pOutput) << "no adapter with an output";
        pFactory = std::make_unique<fakedup::TFakeDuplicationFactory>(output.ui32Width, output.ui32Height);
        pEngine = std::make_unique<TDXGIDuplication>(output.pAdapter, output.pOutput, ::GetModuleHandleW(nullptr),
                                                     129, 130);
        ASSERT_TRUE(pEngine->IsInitialized());
        fakedup::TFrame frame;
        frame.pixel = [](int x, int y) { return Pattern(0, x, y); };
        frame.dirties = {RECT{0, 0, LONG(output.ui32Width), LONG(output.ui32Height)}};
        pFactory->Push(fakedup::Frame(frame));
        ASSERT_EQ(pEngine->GetFrame(), drOk);
        ASSERT_EQ(pEngine->ReleaseFrame(), drOk);
        ASSERT_TRUE(pEngine->CreateTemporarySurface(kSet, kSetW, kSetH, kSetW, kSetH));
    }
    void TearDown() override
    {
        pEngine.reset();
        EXPECT_EQ(pFactory->OutstandingReferences(), 0u);
        EXPECT_EQ(pFactory->OutstandingTextureReferences(), 0u);
    }
    // Overlay 0: the solid background, shader 130, no blending. Overlay 1: the webcam, shader 132
    // with pixelAlpha (m, width, height, 0), blending.
    void CreateBoth(float m)
    {
        pEngine->CreateOverlay(kSet, 0, kCamW, kCamH, 0, 130, kBackgroundRect, nullptr, 0, false);
        const float alpha[4] = {m, float(kCamW), float(kCamH), 0.0f};
        pEngine->CreateOverlay(kSet, 1, kCamW, kCamH, 0, 132, kCamRect, alpha, sizeof(alpha), true);
        const std::vector<uint32_t> background(size_t{kCamW} * kCamH, kBackground);
        pEngine->UpdateOverlayData(kSet, 0, reinterpret_cast<const uint8_t*>(background.data()), kCamW, kCamH,
                                   kCamW * 4);
        UploadCam(kCamW * 4 + 36);
    }
    // The webcam picture with rows `stride` bytes apart (padding filled with 0xEE).
    void UploadCam(uint32_t stride, uint32_t width = kCamW)
    {
        std::vector<uint8_t> bytes(size_t{stride} * kCamH, 0xEE);
        for (uint32_t y = 0; y < kCamH; ++y) {
            for (uint32_t x = 0; x < kCamW; ++x) {
                const uint32_t texel = CamTexel(x, y);
                std::memcpy(bytes.data() + size_t{y} * stride + size_t{x} * 4, &texel, 4);
            }
        }
        pEngine->UpdateOverlayData(kSet, 1, bytes.data(), int32_t(width), kCamH, int32_t(stride));
    }
    duptest::TImage Draw()
    {
        pEngine->TransferToSurface(kSet, 0, 0, 0, 0, kSetW, kSetH);
        return duptest::ReadSurface(*pEngine, kSet, kSetW);
    }

    static duptest::TRealOutput output;
    std::unique_ptr<fakedup::TFakeDuplicationFactory> pFactory;
    std::unique_ptr<TDXGIDuplication> pEngine;
};
duptest::TRealOutput DuplicationOverlay::output;

TEST_F(DuplicationOverlay, WebCamAlphaRulesBlendOverTheBackgroundWhichReplacesItsRectangle)
{
    struct Case {
        const char* name;
        float m;
    };
    const Case cases[] = {
        {"0.5: half opacity", 0.5f},
        {"10.5: half of each texel's alpha", 10.5f},
        {"12: the 7 x 7 rule, 48/49 beside one transparent texel, wrapping at the edges", 12.0f},
        {"5: the texel's alpha", 5.0f},
        {"14: the texel's alpha", 14.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t mark = LogMark();
        CreateBoth(c.m);
        ASSERT_TRUE(pEngine->DoesOverlayExist(kSet, 0));
        ASSERT_TRUE(pEngine->DoesOverlayExist(kSet, 1));
        const duptest::TImage image = Draw();
        ASSERT_EQ(image.ui32Height, kSetH);
        EXPECT_TRUE(MatchesComposite(image, c.m));
        const std::vector<std::string> lines = TextsSince(mark);
        EXPECT_TRUE(Logged(lines, std::string(kCreateName) + " ui32CustomShaderDataSize 16"));
        EXPECT_TRUE(Logged(lines, std::string(kCreateName) + " a blend state has been created."));
    }
    // The 7 x 7 rule's numbers themselves: 48/49 next to one transparent texel, also across the
    // right edge to the left one.
    EXPECT_NEAR(CamAlpha(12.0f, 21, 22), 48.0f / 49.0f, 1e-6);
    EXPECT_NEAR(CamAlpha(12.0f, 1, 10), 48.0f / 49.0f, 1e-6);
}

TEST_F(DuplicationOverlay, UploadsCopyWhatBothRowsHoldAndRefuseAnotherSize)
{
    CreateBoth(14.0f);
    const duptest::TImage reference = Draw();
    ASSERT_TRUE(MatchesComposite(reference, 14.0f));
    // Another size: refused with its line, the texture keeps the picture.
    const size_t mark = LogMark();
    pEngine->UpdateOverlayData(kSet, 1, std::vector<uint8_t>(kCamW * 4 * kCamH, 0).data(), kCamW - 1, kCamH,
                               kCamW * 4);
    EXPECT_TRUE(Logged(TextsSince(mark), "TDXGIDuplication::UpdateOverlayData invalid overlay dimensions 64x48, but input 63x48"));
    EXPECT_TRUE(duptest::SameImage(Draw(), reference));

    // A 640 x 4 overlay (row pitch 2560) filled from rows 2560 and 2600 bytes apart.
    for (const int32_t stride : {2560, 2600}) {
        SCOPED_TRACE("stride " + std::to_string(stride));
        const RECT strip{0, 300, 640, 304};
        pEngine->CreateOverlay(kSet, 2, 640, 4, 0, 130, strip, nullptr, 0, false);
        std::vector<uint8_t> bytes(size_t(stride) * 4, 0xEE);
        for (uint32_t y = 0; y < 4; ++y) {
            for (uint32_t x = 0; x < 640; ++x) {
                const uint32_t texel = 0xFF000000u | y << 16 | x;
                std::memcpy(bytes.data() + size_t(y) * size_t(stride) + x * 4, &texel, 4);
            }
        }
        pEngine->UpdateOverlayData(kSet, 2, bytes.data(), 640, 4, stride);
        const duptest::TImage image = Draw();
        size_t differing = 0;
        for (uint32_t y = 0; y < 4; ++y) {
            for (uint32_t x = 0; x < 640; ++x) {
                differing += image.At(x, 300 + y) != (0xFF000000u | y << 16 | x);
            }
        }
        EXPECT_EQ(differing, 0u);
    }
}

TEST_F(DuplicationOverlay, CreationNeedsASetReplacesAnOverlayAndLeavesNoneAfterAFailingStep)
{
    // No set 5: nothing is made, only the exit line.
    size_t mark = LogMark();
    pEngine->CreateOverlay(5, 1, kCamW, kCamH, 0, 130, kCamRect, nullptr, 0, false);
    EXPECT_FALSE(pEngine->DoesOverlayExist(5, 1));
    EXPECT_TRUE(Logged(TextsSince(mark), std::string(kCreateName) + " exit"));

    // Made again with another rectangle: drawn only there.
    CreateBoth(14.0f);
    const RECT moved{300, 300, 300 + kCamW, 300 + kCamH};
    pEngine->CreateOverlay(kSet, 1, kCamW, kCamH, 0, 130, moved, nullptr, 0, false);
    UploadCam(kCamW * 4);
    duptest::TImage image = Draw();
    EXPECT_EQ(image.At(120, 120), kBackground) << "the old rectangle shows the background again";
    EXPECT_EQ(image.At(300 + 5, 300 + 7), CamTexel(5, 7)) << "without blending the texel replaces the frame";

    // A pixel shader that does not exist: its line, and no overlay 1 at all (the old one is gone).
    mark = LogMark();
    pEngine->CreateOverlay(kSet, 1, kCamW, kCamH, 0, 999, kCamRect, nullptr, 0, false);
    EXPECT_FALSE(pEngine->DoesOverlayExist(kSet, 1));
    EXPECT_TRUE(pEngine->DoesOverlayExist(kSet, 0));
    EXPECT_TRUE(Logged(TextsSince(mark), std::string(kCreateName) + " CreatePixelShader IDR_SHADER_Texture11BGR error"));
    image = Draw();
    EXPECT_EQ(image.At(305, 307), Pattern(0, 305, 307));
    // A new surface set drops the overlays.
    ASSERT_TRUE(pEngine->CreateTemporarySurface(kSet, kSetW, kSetH, kSetW, kSetH));
    EXPECT_FALSE(pEngine->DoesOverlayExist(kSet, 0));
}

}  // namespace
