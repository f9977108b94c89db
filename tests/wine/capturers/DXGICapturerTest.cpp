// The DXGI capturer on Wine's Direct3D 11, over the fake duplication (Wine has none of its own):
// the surface choice and pixels of each path in both row orders, the frame wait with the previous
// image as fall-back, the engine's rebuild after access loss and its limit, engine errors, the
// display fall-back, frames whose destination is taller or narrower than the surface, and the webcam
// overlays.
#include "FakeOutputDuplication.h"
#include "ProcessLogServer.h"
#include "TextureReadback.h"
#include "capturers/TDXGIFullscreenCapturer.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kDesktopW = 1920;
constexpr int kDesktopH = 1080;
constexpr const char kFrameName[] = "TDXGIFullscreenCapturer::GetScreenImageInternal";
constexpr uint8_t kUntouched = 0xAB;

// Every pixel is distinct within a generation and differs between generations.
uint32_t Pattern(int x, int y, uint32_t generation)
{
    return 0xFF000000u | ((static_cast<uint32_t>(x) & 0xFFF) << 12) | (static_cast<uint32_t>(y) & 0x7FF) << 1 |
           (generation & 1);
}

fakedup::TStep WholeDesktopFrame(uint32_t generation)
{
    fakedup::TFrame frame;
    frame.pixel = [generation](int x, int y) { return Pattern(x, y, generation); };
    frame.dirties = {RECT{0, 0, kDesktopW, kDesktopH}};
    return fakedup::Frame(frame);
}

// A clock that only moves when the capturer yields: 1 ms per yield.
class SteppedClock final : public TFrameWaitClock {
public:
    uint32_t TickCount() override { return ui32Now; }
    void YieldSlice() override { ++ui32Now; }
    uint32_t ui32Now = 5000;
};

struct FrameBuffer {
    FrameBuffer(uint32_t width, uint32_t rows, uint32_t stride) : bytes(uint64_t{stride} * rows, kUntouched)
    {
        area = TAreaView{bytes.data(), width, stride, rows, bytes.size(), 0};
    }
    uint32_t Pixel(uint32_t x, uint32_t memoryRow) const
    {
        uint32_t value = 0;
        std::memcpy(&value, bytes.data() + uint64_t{memoryRow} * area.ui32Stride + x * 4, 4);
        return value;
    }
    bool Untouched() const
    {
        return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == kUntouched; });
    }
    std::vector<uint8_t> bytes;
    TAreaView area;
};

// Every channel within ±tolerance (1: linear filtering at texel centres).
bool Near(uint32_t got, uint32_t want, int tolerance = 1)
{
    for (int shift = 0; shift < 32; shift += 8) {
        const int diff = static_cast<int>((got >> shift) & 0xFF) - static_cast<int>((want >> shift) & 0xFF);
        if (diff > tolerance || diff < -tolerance) {
            return false;
        }
    }
    return true;
}

// Picture row y of `rows` lies at memory row y (top-down) or rows - 1 - y (bottom-up); every pixel
// is the pattern at (left + x, top + y) within ±tolerance per channel.
::testing::AssertionResult ShowsDesktop(const FrameBuffer& frame, uint32_t width, uint32_t rows, bool bTopDown,
                                        int left, int top, uint32_t generation, int tolerance = 0)
{
    for (uint32_t y = 0; y < rows; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t got = frame.Pixel(x, bTopDown ? y : rows - 1 - y);
            const uint32_t want = Pattern(left + static_cast<int>(x), top + static_cast<int>(y), generation);
            if (!Near(got, want, tolerance)) {
                return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is " << std::hex << got
                                                     << ", expected " << want;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

bool Logged(const std::vector<std::string>& lines, const std::string& text)
{
    return std::find(lines.begin(), lines.end(), text) != lines.end();
}

size_t CountOf(const std::vector<std::string>& lines, const std::string& text)
{
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), text));
}

class DXGICapturer : public ::testing::Test {
protected:
    // A capturer of Wine's display with the module's shaders, configured for `width` x `height` of
    // `source`.
    void Start(int32_t width, int32_t height, THooksRect source, bool bKeepProportion = true,
               bool bDrawOverlays = false)
    {
        pCapturer = std::make_unique<TDXGIFullscreenCapturer>(::GetModuleHandleW(nullptr), clock);
        ASSERT_TRUE(pCapturer->Initialize(L"\\\\.\\DISPLAY1"));
        pCapturer->SetCaptureParameters(width, height, source, bKeepProportion, bDrawOverlays);
    }
    void Capture(FrameBuffer& frame, bool bTopDown = true)
    {
        pCapturer->GetScreenImage(frame.area, bTopDown, nullptr);
    }

    fakedup::TFakeDuplicationFactory factory{kDesktopW, kDesktopH};
    SteppedClock clock;
    std::unique_ptr<TDXGIFullscreenCapturer> pCapturer;
};

TEST_F(DXGICapturer, ReadsTheDesktopImageWhenSizesMatchElseAScaledSurfaceMadeByTheFirstFrame)
{
    struct Case {
        const char* name;
        int32_t width, height;
        THooksRect source;
        bool bDrawOverlays;
        int32_t surfaceId;
        int tolerance;
    };
    const Case cases[] = {
        {"whole desktop 1:1", kDesktopW, kDesktopH, {0, 0, 0, 0}, false, -1, 0},
        {"region 1:1 from its top-left pixel", 896, 600, {100, 100, 996, 700}, false, -1, 0},
        // Equal sizes drawn through the surface: linear filtering at texel centres.
        {"region with overlays", 896, 600, {100, 100, 996, 700}, true, 0, 1},
    };
    for (const Case& c : cases) {
        for (const bool bTopDown : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (bTopDown ? ", top-down" : ", bottom-up"));
            ASSERT_NO_FATAL_FAILURE(Start(c.width, c.height, c.source, true, c.bDrawOverlays));
            EXPECT_EQ(pCapturer->TempSurfaceId(), c.surfaceId);
            EXPECT_FALSE(pCapturer->Engine()->HasTempSurface(0));
            factory.Push(WholeDesktopFrame(1));
            FrameBuffer frame(static_cast<uint32_t>(c.width), static_cast<uint32_t>(c.height),
                              static_cast<uint32_t>(c.width) * 4 + 64);
            Capture(frame, bTopDown);
            EXPECT_EQ(pCapturer->Engine()->HasTempSurface(0), c.surfaceId == 0);
            EXPECT_TRUE(ShowsDesktop(frame, static_cast<uint32_t>(c.width), static_cast<uint32_t>(c.height), bTopDown,
                                     c.source.left, c.source.top, 1, c.tolerance));
            // The stride's padding behind each row is never written.
            EXPECT_EQ(frame.bytes[static_cast<size_t>(c.width) * 4 + 10], kUntouched);
            EXPECT_EQ(pCapturer->LastFrameResult(), drOk);
            pCapturer.reset();
            EXPECT_TRUE(factory.Stats().vecRefusals.empty());
            EXPECT_EQ(factory.OutstandingReferences(), 0u);
        }
    }
}

TEST_F(DXGICapturer, WaitsJustOver100MsForANewFrameThenReusesThePreviousImage)
{
    ASSERT_NO_FATAL_FAILURE(Start(kDesktopW, kDesktopH, THooksRect{}));
    factory.Push(WholeDesktopFrame(1));
    FrameBuffer first(kDesktopW, kDesktopH, kDesktopW * 4);
    Capture(first);
    for (int i = 0; i < 150; ++i) {
        factory.Push(fakedup::Timeout());
    }
    FrameBuffer second(kDesktopW, kDesktopH, kDesktopW * 4);
    const uint32_t ui32Start = clock.ui32Now;
    const size_t mark = LogMark();
    Capture(second);
    EXPECT_EQ(clock.ui32Now - ui32Start, 101u);
    EXPECT_EQ(factory.StepsLeft(), 150u - 102u);
    EXPECT_TRUE(Logged(TextsSince(mark), std::string(kFrameName) + " Too long wait time 101 -> use previous image"));
    EXPECT_TRUE(ShowsDesktop(second, kDesktopW, kDesktopH, true, 0, 0, 1));
    EXPECT_EQ(pCapturer->LastFrameResult(), drOk);
    // The frame that reused the image held no frame, so none was released.
    EXPECT_TRUE(factory.Stats().vecRefusals.empty());
}

TEST_F(DXGICapturer, AccessLossDropsTheEngineLeavesTheSlotAndTheNextFrameRebuildsIt)
{
    struct Case {
        const char* name;
        fakedup::TStep step;
    };
    fakedup::TStep lostAtRelease = WholeDesktopFrame(0);
    lostAtRelease.frame.hrRelease = DXGI_ERROR_ACCESS_LOST;
    const Case cases[] = {{"lost in GetFrame", fakedup::AccessLost()}, {"lost in ReleaseFrame", lostAtRelease}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(Start(kDesktopW, kDesktopH, THooksRect{}));
        factory.Push(c.step);
        FrameBuffer lost(kDesktopW, kDesktopH, kDesktopW * 4);
        size_t mark = LogMark();
        Capture(lost);
        EXPECT_EQ(pCapturer->Engine(), nullptr);
        EXPECT_EQ(pCapturer->LastFrameResult(), drAccessLost);
        EXPECT_TRUE(lost.Untouched());
        EXPECT_TRUE(Logged(TextsSince(mark),
                           std::string(kFrameName) + " Device is lost, trying to recreate a duplication API object..."));
        EXPECT_EQ(factory.OutstandingReferences(), 0u);

        factory.Push(WholeDesktopFrame(1));
        FrameBuffer next(kDesktopW, kDesktopH, kDesktopW * 4);
        mark = LogMark();
        Capture(next);
        const std::vector<std::string> lines = TextsSince(mark);
        EXPECT_TRUE(Logged(lines, std::string(kFrameName) + " 0 try to recreate pDXGIDuplication."));
        EXPECT_TRUE(Logged(lines, std::string(kFrameName) + " a new pDXGIDuplication has been created."));
        ASSERT_NE(pCapturer->Engine(), nullptr);
        EXPECT_TRUE(ShowsDesktop(next, kDesktopW, kDesktopH, true, 0, 0, 1));
        pCapturer.reset();
    }
}

// The webcam (opaque at a constant opacity of 1) over its background, both 64 x 32 at (100, 200):
// made only once a frame has made the scaled surface, composited into the next frames, and made
// again for the new engine after an access loss.
TEST_F(DXGICapturer, WebCamOverlaysAreMadeOnTheScaledSurfaceAndCompositedIntoTheFrame)
{
    constexpr int kCamW = 64;
    constexpr int kCamH = 32;
    constexpr uint32_t kStride = kCamW * 4 + 16;
    const THooksRect rect{100, 200, 100 + kCamW, 200 + kCamH};
    auto camPixel = [](int x, int y) { return 0xFF000040u | static_cast<uint32_t>(x * 4) << 16 | static_cast<uint32_t>(y * 8) << 8; };
    std::vector<uint8_t> webcam(size_t{kStride} * kCamH);
    const std::vector<uint8_t> background(size_t{kStride} * kCamH, 0x7F);
    for (int y = 0; y < kCamH; ++y) {
        for (int x = 0; x < kCamW; ++x) {
            const uint32_t value = camPixel(x, y);
            std::memcpy(webcam.data() + size_t(y) * kStride + size_t(x) * 4, &value, 4);
        }
    }
    const float shaderData[4] = {1.0f, static_cast<float>(kCamW), static_cast<float>(kCamH), 0.0f};
    auto update = [&] {
        pCapturer->UpdateWebCamBackground(background.data(), kCamW, kCamH, kStride, rect);
        pCapturer->UpdateWebCam(webcam.data(), kCamW, kCamH, kStride, rect, shaderData, sizeof(shaderData));
    };
    auto overlays = [&] {
        return static_cast<int>(pCapturer->Engine()->DoesOverlayExist(0, 0)) +
               static_cast<int>(pCapturer->Engine()->DoesOverlayExist(0, 1));
    };
    auto composited = [&](const FrameBuffer& frame) {
        for (const POINT at : {POINT{100, 200}, POINT{163, 231}, POINT{130, 215}}) {
            EXPECT_TRUE(Near(frame.Pixel(static_cast<uint32_t>(at.x), static_cast<uint32_t>(at.y)),
                             camPixel(at.x - 100, at.y - 200))) << at.x << ", " << at.y;
        }
        for (const POINT at : {POINT{99, 200}, POINT{164, 231}, POINT{100, 199}, POINT{100, 232}}) {
            EXPECT_TRUE(Near(frame.Pixel(static_cast<uint32_t>(at.x), static_cast<uint32_t>(at.y)), Pattern(at.x, at.y, 1)))
                << "outside the overlays " << at.x << ", " << at.y;
        }
    };
    ASSERT_NO_FATAL_FAILURE(Start(kDesktopW, kDesktopH, THooksRect{}, true, true));
    FrameBuffer frame(kDesktopW, kDesktopH, kDesktopW * 4);
    update();
    EXPECT_EQ(overlays(), 0) << "no scaled surface before the first frame";
    factory.Push(WholeDesktopFrame(1));
    Capture(frame);
    update();
    EXPECT_EQ(overlays(), 2);
    factory.Push(WholeDesktopFrame(1));
    Capture(frame);
    composited(frame);

    factory.Push(fakedup::AccessLost());
    Capture(frame);
    ASSERT_EQ(pCapturer->Engine(), nullptr);
    factory.Push(WholeDesktopFrame(1));
    Capture(frame);  // a new engine and its surface set, without overlays
    ASSERT_NE(pCapturer->Engine(), nullptr);
    EXPECT_EQ(overlays(), 0);
    update();
    EXPECT_EQ(overlays(), 2);
    factory.Push(WholeDesktopFrame(1));
    Capture(frame);
    composited(frame);
    pCapturer.reset();
    EXPECT_TRUE(factory.Stats().vecRefusals.empty());
    EXPECT_EQ(factory.OutstandingReferences(), 0u);
}

TEST_F(DXGICapturer, FiftyFailedRebuildsEndTheAttemptsForGood)
{
    ASSERT_NO_FATAL_FAILURE(Start(640, 360, THooksRect{}));
    factory.Push(fakedup::AccessLost());
    FrameBuffer frame(640, 360, 640 * 4);
    Capture(frame);
    for (uint32_t i = 0; i < TDXGIFullscreenCapturer::kMaxRecreateAttempts; ++i) {
        factory.FailNextDuplicateOutput(E_ACCESSDENIED);
    }
    const uint32_t ui32CallsBefore = factory.DuplicateOutputCalls();
    size_t mark = LogMark();
    for (uint32_t i = 0; i < TDXGIFullscreenCapturer::kMaxRecreateAttempts; ++i) {
        Capture(frame);
    }
    std::vector<std::string> lines = TextsSince(mark);
    EXPECT_EQ(factory.DuplicateOutputCalls() - ui32CallsBefore, TDXGIFullscreenCapturer::kMaxRecreateAttempts);
    EXPECT_TRUE(Logged(lines, std::string(kFrameName) + " 49 try to recreate pDXGIDuplication."));
    EXPECT_EQ(CountOf(lines, std::string(kFrameName) + " failed to create pDXGIDuplication."), 50u);
    EXPECT_EQ(pCapturer->RecreateAttempts(), 50u);

    factory.Push(WholeDesktopFrame(1));  // a rebuild would succeed now, but none is tried
    mark = LogMark();
    Capture(frame);
    Capture(frame);
    lines = TextsSince(mark);
    EXPECT_EQ(lines, std::vector<std::string>(2, std::string(kFrameName) + " pDXGIDuplication is null"));
    EXPECT_EQ(factory.DuplicateOutputCalls() - ui32CallsBefore, 50u);
    EXPECT_TRUE(frame.Untouched());
}

TEST_F(DXGICapturer, AnEngineErrorSkipsTheFrameAndKeepsTheEngine)
{
    ASSERT_NO_FATAL_FAILURE(Start(kDesktopW, kDesktopH, THooksRect{}));
    factory.Push(fakedup::Failure(DXGI_ERROR_UNSUPPORTED));
    FrameBuffer failed(kDesktopW, kDesktopH, kDesktopW * 4);
    Capture(failed);
    EXPECT_EQ(pCapturer->LastFrameResult(), drError);
    EXPECT_TRUE(failed.Untouched());
    const TDXGIDuplication* pEngine = pCapturer->Engine();
    ASSERT_NE(pEngine, nullptr);

    factory.Push(WholeDesktopFrame(1));
    FrameBuffer next(kDesktopW, kDesktopH, kDesktopW * 4);
    Capture(next);
    EXPECT_EQ(pCapturer->Engine(), pEngine);
    EXPECT_EQ(pCapturer->LastFrameResult(), drOk);
    EXPECT_TRUE(ShowsDesktop(next, kDesktopW, kDesktopH, true, 0, 0, 1));
}

TEST_F(DXGICapturer, AnUnlistedDisplayFallsBackToThePrimaryOne)
{
    pCapturer = std::make_unique<TDXGIFullscreenCapturer>(::GetModuleHandleW(nullptr), clock);
    ASSERT_TRUE(pCapturer->Initialize(L"\\\\.\\DISPLAY7"));
    EXPECT_EQ(pCapturer->DisplayName(), L"\\\\.\\DISPLAY1");
    ASSERT_NE(pCapturer->Engine(), nullptr);
    EXPECT_EQ(pCapturer->GetMonitorDimensions().cx, kDesktopW);
    EXPECT_EQ(pCapturer->GetCurrentMonitorDimensions().cy, kDesktopH);
}

TEST_F(DXGICapturer, CopiesNoMoreRowsThanTheSurfaceHasAndNoMoreBytesThanTheFrameRowHolds)
{
    struct Case {
        const char* name;
        uint32_t width, rows, stride;
        uint32_t expectedRows;
    };
    // Scaled to 640 x 360 (surface set 0): its rows are what there is to copy.
    const Case cases[] = {
        {"frame taller than the surface", 640, 400, 640 * 4, 360},
        {"narrow frame rows", 500, 360, 500 * 4, 360},
    };
    for (const Case& c : cases) {
        for (const bool bTopDown : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (bTopDown ? ", top-down" : ", bottom-up"));
            ASSERT_NO_FATAL_FAILURE(Start(640, 360, THooksRect{0, 0, 640, 360}, true, true));
            factory.Push(WholeDesktopFrame(1));
            FrameBuffer frame(c.width, c.rows, c.stride);
            Capture(frame, bTopDown);
            EXPECT_TRUE(ShowsDesktop(frame, c.width, c.expectedRows, bTopDown, 0, 0, 1, 1));
            // Rows beyond the surface's are left as they were.
            for (uint32_t row = c.expectedRows; row < c.rows; ++row) {
                EXPECT_EQ(frame.Pixel(0, row), 0xABABABABu) << row;
            }
            pCapturer.reset();
        }
    }
}

}  // namespace

namespace {

// The pixels of a B8G8R8A8 texture of `pDevice` as a top-down frame.
FrameBuffer ReadBack(ID3D11Device* pDevice, ID3D11Texture2D* pTexture)
{
    D3D11_TEXTURE2D_DESC desc = {};
    pTexture->GetDesc(&desc);
    FrameBuffer frame(desc.Width, desc.Height, desc.Width * 4);
    const std::vector<uint32_t> pixels = fakedup::ReadTexturePixels(pDevice, pTexture);
    EXPECT_EQ(pixels.size(), size_t{desc.Width} * desc.Height) << "the texture could not be read back";
    std::memcpy(frame.bytes.data(), pixels.data(), std::min(frame.bytes.size(), pixels.size() * 4));
    return frame;
}

}  // namespace

// The host's texture stands in as a texture made on the engine's own device: Wine opens no shared
// handle (checked first, through the capturer).
TEST_F(DXGICapturer, ATextureGetsTheFrameOnTheGpuAndTheSlotIsLeftAlone)
{
    struct Case {
        const char* name;
        int32_t width, height;
        THooksRect source;
        bool bDrawOverlays;
        int tolerance;
    };
    const Case cases[] = {
        {"region 1:1, cropped by the copy", 896, 600, {100, 100, 996, 700}, false, 0},
        {"region through the scaled surface", 896, 600, {100, 100, 996, 700}, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(Start(c.width, c.height, c.source, true, c.bDrawOverlays));
        {
            Microsoft::WRL::ComPtr<ID3D11Texture2D> pOpened;
            const size_t mark = LogMark();
            pCapturer->OpenSharedHandle(reinterpret_cast<HANDLE>(uintptr_t{0x40000002}), pOpened.GetAddressOf());
            EXPECT_EQ(pOpened, nullptr);
            const std::vector<std::string> lines = TextsSince(mark);
            EXPECT_TRUE(Logged(lines, "TDXGIDuplication::OpenSharedHandle OpenSharedResource error 80004001"));
            EXPECT_TRUE(Logged(lines, "TDXGIFullscreenCapturer::OpenSharedHandle exit"));
        }
        ID3D11Device* pDevice = pCapturer->Engine()->Device();
        D3D11_TEXTURE2D_DESC desc = {};
        desc.Width = static_cast<UINT>(c.width);
        desc.Height = static_cast<UINT>(c.height);
        desc.MipLevels = desc.ArraySize = 1;
        desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
        desc.SampleDesc = {1, 0};
        desc.BindFlags = D3D11_BIND_SHADER_RESOURCE;
        Microsoft::WRL::ComPtr<ID3D11Texture2D> pTexture;
        ASSERT_EQ(pDevice->CreateTexture2D(&desc, nullptr, pTexture.GetAddressOf()), S_OK);

        factory.Push(WholeDesktopFrame(1));
        // A slot too small for the frame: with a texture the slot plays no part.
        FrameBuffer slot(16, 16, 64);
        pCapturer->GetScreenImage(slot.area, false, pTexture.Get());
        EXPECT_TRUE(slot.Untouched());
        EXPECT_EQ(pCapturer->LastFrameResult(), drOk);
        EXPECT_TRUE(ShowsDesktop(ReadBack(pDevice, pTexture.Get()), static_cast<uint32_t>(c.width),
                                 static_cast<uint32_t>(c.height), true, c.source.left, c.source.top, 1, c.tolerance));
        pCapturer.reset();
        pTexture->AddRef();
        EXPECT_EQ(pTexture->Release(), 1u) << "the capturer kept a reference to the texture";
    }
}
