// The capturers on Wine. TZYRWindowsBitmap: the row order of the DIB it makes, and packed DIBs
// read from memory another process wrote, refused when what their header claims runs past the
// block. The capturer base, through a derived capturer with a scripted display list: display
// choice by name with the primary as fall-back, capture parameters, GetScreenImage's argument
// checks. The GDI capturer on Wine's display with ZYRScene's pattern on the screen: 1:1 frames
// pixel-exact in both row orders and cut to the destination, fresh pixels every frame,
// HALFTONE-scaled frames with their bars or stretched.
#include "ProcessLogServer.h"
#include "SceneTestSupport.h"
#include "capturers/TBaseFullscreenCapturer.h"
#include "capturers/TGDIFullscreenCapturer.h"
#include "capturers/TZYRWindowsBitmap.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace {

// A packed DIB: the header, then `after` patterned bytes (palette and rows).
std::vector<uint8_t> PackedDib(int32_t width, int32_t height, uint16_t bits, uint32_t colors, uint32_t imageSize,
                               size_t after)
{
    const BITMAPINFOHEADER header{sizeof(header), width, height, 1, bits, BI_RGB, imageSize, 0, 0, colors, 0};
    std::vector<uint8_t> block(sizeof(header) + after);
    for (size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    std::memcpy(block.data(), &header, sizeof(header));
    return block;
}

TEST(WindowsBitmap, PositiveHeightIsBottomUpNegativeHeightTopDown)
{
    for (const int32_t height : {48, -48}) {
        SCOPED_TRACE(height);
        TZYRWindowsBitmap bitmap(64, height, 32, 0, nullptr);
        ASSERT_NE(bitmap.Bits(), nullptr);
        EXPECT_EQ(bitmap.Height(), 48);
        ASSERT_EQ(bitmap.ImageSize(), 64u * 4 * 48);
        std::memset(bitmap.Bits(), 0, bitmap.ImageSize());
        std::memset(bitmap.Bits(), 0xFF, 64 * 4);  // the first row in memory
        ::GdiFlush();
        EXPECT_EQ(::GetPixel(bitmap.DC(), 5, height > 0 ? 47 : 0), RGB(255, 255, 255));
        EXPECT_EQ(::GetPixel(bitmap.DC(), 5, height > 0 ? 0 : 47), RGB(0, 0, 0));
    }
}

TEST(WindowsBitmap, FromMemoryCopiesThePixelsBehindHeaderAndPaletteWithinTheBlock)
{
    struct Case {
        const char* name;
        std::vector<uint8_t> block;
        size_t available;  // bytes of the block handed over
        uint32_t copied;   // 0: refused
    };
    const Case cases[] = {
        {"32-bit", PackedDib(32, 32, 32, 0, 4096, 4096), 40 + 4096, 4096},
        {"1-bit mask behind two palette entries", PackedDib(32, 64, 1, 2, 256, 8 + 256), 48 + 256, 256},
        {"image size above the bitmap's: only its bytes", PackedDib(4, 4, 32, 0, 1024, 1024), 40 + 1024, 64},
        {"shorter than a header", PackedDib(32, 32, 32, 0, 4096, 4096), 39, 0},
        {"image size beyond the block", PackedDib(32, 32, 32, 0, 4096, 4000), 40 + 4000, 0},
        {"dimensions beyond the block", PackedDib(1000, 1000, 32, 0, 16, 16), 40 + 16, 0},
        {"palette beyond the block", PackedDib(8, 8, 8, 0x40000000, 0, 0), 40, 0},
        {"image size of 4 GiB - 1", PackedDib(32, 32, 32, 0, 0xFFFFFFFF, 16), 40 + 16, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t mark = LogMark();
        const auto bitmap = TZYRWindowsBitmap::CreateBitmapFromMemory(c.block.data(), c.available);
        if (c.copied == 0) {
            EXPECT_EQ(bitmap, nullptr);
            const std::vector<TLoggedLine> lines = LinesSince(mark);
            ASSERT_FALSE(lines.empty());
            EXPECT_EQ(lines.back().ui32Type, 2u);
            EXPECT_EQ(lines.back().strText.rfind("TZYRWindowsBitmap::CreateBitmapFromMemory ", 0), 0u);
            continue;
        }
        ASSERT_NE(bitmap, nullptr);
        ASSERT_EQ(bitmap->ImageSize(), c.copied);
        const size_t pixelsAt = 40 + 4 * reinterpret_cast<const BITMAPINFOHEADER*>(c.block.data())->biClrUsed;
        EXPECT_EQ(std::memcmp(bitmap->Bits(), c.block.data() + pixelsAt, c.copied), 0);
    }
}

// A 1-bit bitmap whose block declares no colours (a cursor mask as some hosts pack it) reads black
// for 0 and white for 1; with entries given, those are used.
TEST(WindowsBitmap, OneBitBitmapsWithoutAPaletteAreBlackAndWhite)
{
    const uint32_t palette[2] = {0x00112233, 0x00445566};
    struct Case {
        const char* name;
        uint32_t colours;
        const void* pPalette;
        COLORREF one;
    };
    for (const Case& c : {Case{"no colours", 0, nullptr, RGB(255, 255, 255)},
                          Case{"two colours given", 2, palette, RGB(0x44, 0x55, 0x66)}}) {
        SCOPED_TRACE(c.name);
        TZYRWindowsBitmap bitmap(32, 32, 1, c.colours, c.pPalette);
        ASSERT_NE(bitmap.Bits(), nullptr);
        std::memset(bitmap.Bits(), 0, bitmap.ImageSize());
        bitmap.Bits()[0] = 0x80;  // the first pixel of the bottom row
        ::GdiFlush();
        EXPECT_EQ(::GetPixel(bitmap.DC(), 0, 31), c.one);
        EXPECT_EQ(::GetPixel(bitmap.DC(), 1, 31), c.colours == 0 ? RGB(0, 0, 0) : RGB(0x11, 0x22, 0x33));
    }
}

class FakeCapturer : public TBaseFullscreenCapturer {
public:
    explicit FakeCapturer(std::vector<TDisplayInfo> list) : TBaseFullscreenCapturer(nullptr), displays(std::move(list)) {}
    void GetScreenImageInternal(const TAreaView& destination, bool bDontMirrorFrames, ID3D11Texture2D* pTexture) override
    {
        frames.push_back({destination.pData, bDontMirrorFrames, pTexture});
    }
    SIZE GetMonitorDimensions() override { return SIZE{CurrentDisplayInfo().iWidth, CurrentDisplayInfo().iHeight}; }
    std::vector<TDisplayInfo> GetDisplays() override { return displays; }
    void UpdateWebCam(const uint8_t*, int32_t, int32_t, uint32_t, THooksRect, const void*, uint32_t) override {}
    void UpdateWebCamBackground(const uint8_t*, int32_t, int32_t, uint32_t, THooksRect) override {}

    std::vector<TDisplayInfo> displays;
    std::vector<std::tuple<const uint8_t*, bool, ID3D11Texture2D*>> frames;
};

TDisplayInfo Display(const wchar_t* name, int32_t x, int32_t width, bool bPrimary)
{
    TDisplayInfo display;
    wcsncpy(display.wszDeviceName, name, kDisplayDeviceNameUnits - 1);
    std::tie(display.iX, display.iWidth, display.iHeight, display.bPrimary) = std::make_tuple(x, width, 1080, bPrimary);
    return display;
}

const std::vector<TDisplayInfo> kThree = {Display(L"A", 0, 1920, true), Display(L"B", 1920, 2560, false),
                                          Display(L"C", 4480, 1280, true)};

std::tuple<int32_t, int32_t, int32_t, int32_t> Tie(const THooksRect& r)
{
    return {r.left, r.top, r.right, r.bottom};
}

TEST(CapturerBase, DisplayIsChosenByExactNameOrTheLastPrimaryWithAWarning)
{
    struct Case {
        const char* name;
        std::vector<TDisplayInfo> displays;
        const wchar_t* requested;
        const wchar_t* chosen;
        int32_t currentX, currentWidth;  // all zero when the name was not listed
    };
    const Case cases[] = {
        {"listed", kThree, L"B", L"B", 1920, 2560},
        {"names compare case-sensitively", kThree, L"b", L"C", 0, 0},
        {"empty name", kThree, L"", L"C", 0, 0},
        {"no primary", {Display(L"A", 0, 1920, false)}, L"Z", L"", 0, 0},
        {"no displays", {}, L"A", L"", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeCapturer capturer(c.displays);
        const size_t mark = LogMark();
        EXPECT_TRUE(capturer.Initialize(c.requested));
        EXPECT_EQ(capturer.DisplayName(), c.chosen);
        EXPECT_EQ(capturer.CurrentDisplayInfo().iX, c.currentX);
        EXPECT_EQ(capturer.CurrentDisplayInfo().iWidth, c.currentWidth);
        const std::string warning = "TBaseFullscreenCapturer::Initialize display was not found so the primary will be used '" +
                                    std::string(c.chosen, c.chosen + wcslen(c.chosen)) + "'.";
        const std::vector<TLoggedLine> lines = LinesSince(mark);
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [&](const TLoggedLine& l) { return l.ui32Type == 4 && l.strText == warning; }),
                  c.currentWidth == 0 ? 1 : 0);
    }
}

// The rectangle arithmetic is tested natively; here the whole-display source comes from the chosen
// display, and every call replaces all parameters.
TEST(CapturerBase, CaptureParametersTakeTheWholeDisplayAndEachCallReplacesThemAll)
{
    FakeCapturer capturer(kThree);
    capturer.Initialize(L"B");
    capturer.SetCaptureParameters(1280, 720, THooksRect{0, 0, 0, 0}, true, false);
    EXPECT_EQ(Tie(capturer.SourceRect()), std::make_tuple(0, 0, 2560, 1080));
    EXPECT_EQ(Tie(capturer.DestinationRect()), std::make_tuple(0, 90, 1280, 630));
    capturer.SetCaptureParameters(640, 480, THooksRect{100, 50, 740, 530}, false, true);
    EXPECT_EQ(std::make_tuple(capturer.FinalWidth(), capturer.FinalHeight(), capturer.KeepsProportion()),
              std::make_tuple(640, 480, false));
    EXPECT_EQ(Tie(capturer.SourceRect()), std::make_tuple(100, 50, 740, 530));
    EXPECT_EQ(Tie(capturer.DestinationRect()), std::make_tuple(0, 0, 640, 480));
}

TEST(CapturerBase, GetScreenImageRefusesUnusableArgumentsWithOneErrorLine)
{
    struct Case {
        const char* name;
        bool bDisplays;
        int32_t width, height;
        THooksRect source;
        bool bArea;
        const char* error;  // null: passed on
    };
    const Case cases[] = {
        {"final size unset", true, -1, 720, {0, 0, 100, 100}, true, "invalid final width/height"},
        {"whole screen of no display", false, 1280, 720, {0, 0, 0, 0}, true, "invalid vqhrSourceRectBeforeResizing"},
        {"inverted source", true, 1280, 720, {500, 500, 100, 100}, true, "invalid vqhrSourceRectBeforeResizing"},
        {"final height 0", true, 640, 0, {0, 0, 100, 100}, true, "invalid vqhrDestRectAfterResizing"},
        {"no destination area", true, 640, 480, {0, 0, 100, 100}, false, "invalid destination area"},
        {"valid", true, 64, 48, {0, 0, 0, 0}, true, nullptr},
    };
    std::vector<uint8_t> buffer(320 * 48, 0xA5);
    const TAreaView area{buffer.data(), 64, 320, 48, buffer.size()};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeCapturer capturer(c.bDisplays ? kThree : std::vector<TDisplayInfo>{});
        capturer.Initialize(L"A");
        capturer.SetCaptureParameters(c.width, c.height, c.source, true, false);
        const size_t mark = LogMark();
        capturer.GetScreenImage(c.bArea ? area : TAreaView{}, true, nullptr);
        const std::vector<TLoggedLine> lines = LinesSince(mark);
        if (c.error != nullptr) {
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_EQ(lines[0].ui32Type, 2u);
            EXPECT_EQ(lines[0].strText, std::string("TBaseFullscreenCapturer::GetScreenImage ") + c.error);
            EXPECT_TRUE(capturer.frames.empty());
            continue;
        }
        EXPECT_TRUE(lines.empty());
        // With a texture the frame goes there: an empty area is no reason to refuse.
        ID3D11Texture2D* pTexture = reinterpret_cast<ID3D11Texture2D*>(buffer.data());  // never dereferenced
        capturer.GetScreenImage(TAreaView{}, false, pTexture);
        const decltype(capturer.frames) expected = {{buffer.data(), true, nullptr}, {nullptr, false, pTexture}};
        EXPECT_EQ(capturer.frames, expected);
    }
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0xA5; })) << "the base writes no pixel";
}


using scene::Pattern;

constexpr uint32_t kGuard = 0xA5A5A5A5u;

// `rows` rows of `stride` bytes, followed by guard words.
struct Destination {
    Destination(uint32_t rows, uint32_t stride)
        : words(size_t{rows} * stride / 4 + 64, kGuard),
          area{reinterpret_cast<uint8_t*>(words.data()), stride / 4, stride, rows, uint64_t{rows} * stride}
    {
    }
    uint32_t At(uint32_t row, uint32_t x) const { return words[size_t{row} * area.ui32Stride / 4 + x]; }
    std::vector<uint32_t> words;
    TAreaView area;
};

std::unique_ptr<TGDIFullscreenCapturer> Capturer(int32_t width, int32_t height, THooksRect source)
{
    auto capturer = std::make_unique<TGDIFullscreenCapturer>(::GetModuleHandleW(nullptr));
    EXPECT_TRUE(capturer->Initialize(L"\\\\.\\DISPLAY1"));
    capturer->SetCaptureParameters(width, height, source, true, false);
    return capturer;
}

// The scene shows its coords pattern while the suite runs. HALFTONE-scaled frames are checked end
// to end (tests/e2e/FrameTest.cpp).
class GdiCapturerCoords : public ::testing::Test {
protected:
    static void SetUpTestSuite() { pScene = scenetest::StartSuiteScene(Pattern::Coords); }
    static void TearDownTestSuite() { scenetest::QuitSuiteScene(pScene); }
    void SetUp() override { ASSERT_NE(pScene, nullptr); }
    static inline std::unique_ptr<scenetest::SceneRun> pScene;
};

// The picture is the final size's rows (at most the destination's) and the source's columns (at
// most the stride's); its top-left pixel is the source's.
TEST_F(GdiCapturerCoords, OneToOneFramesArePixelExactInBothRowOrders)
{
    struct Case {
        const char* name;
        int32_t width, height;
        THooksRect source;
        uint32_t rows, stride;  // of the destination
        bool bTopDown;
    };
    const Case cases[] = {
        {"whole screen, bottom-up", 1920, 1080, {0, 0, 0, 0}, 1080, 7680, false},
        {"whole screen, top-down", 1920, 1080, {0, 0, 0, 0}, 1080, 7680, true},
        {"region at (100, 100)", 896, 600, {100, 100, 996, 700}, 600, 3584, true},
        {"wider final size: copied from the source's left edge", 2000, 1080, {0, 0, 0, 0}, 1080, 8000, true},
        {"fewer rows, bottom-up: the picture's top rows", 1920, 1080, {0, 0, 0, 0}, 100, 7680, false},
        {"narrow stride cuts each row", 1920, 1080, {0, 0, 0, 0}, 50, 400, true},
        {"more rows than the picture: only its rows", 1920, 1080, {0, 0, 0, 0}, 1088, 7680, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto capturer = Capturer(c.width, c.height, c.source);
        Destination dst(c.rows, c.stride);
        capturer->GetScreenImage(dst.area, c.bTopDown, nullptr);
        const uint32_t rows = std::min<uint32_t>(c.rows, c.height);
        std::string first;
        EXPECT_EQ(scenetest::CountExactMismatches(
                      std::min<uint32_t>(c.stride / 4, 1920), rows, c.source.left, c.source.top, 0,
                      [&](uint32_t x, uint32_t y) { return dst.At(c.bTopDown ? y : rows - 1 - y, x); }, &first),
                  0u)
            << first;
        EXPECT_TRUE(std::all_of(dst.words.begin() + size_t{rows} * c.stride / 4, dst.words.end(),
                                [](uint32_t w) { return w == kGuard; }))
            << "nothing written below the picture";
    }
}

// Frames drawn by GDI straight into a slot of the section: what the transfer does not reach is
// black, whatever the slot held before (here garbage; in a run, the frame of six slots ago with its
// cursor, possibly in a bar).
TEST_F(GdiCapturerCoords, SlotsOnTheSectionAreBlackWhereTheTransferDoesNotReach)
{
    struct Case {
        const char* name;
        int32_t width, height;
        bool bTopDown;
        THooksRect covered;
    };
    const Case cases[] = {
        {"bars above and below a stretched picture", 1280, 800, false, {0, 40, 1280, 760}},
        {"past the display's edge in a 1:1 copy", 1920, 1200, true, {0, 0, 1920, 1080}},
    };
    constexpr uint32_t kOffset = 4096;
    constexpr uint32_t kGarbage = 0xABABABABu;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const uint32_t stride = uint32_t(c.width) * 4;
        const uint64_t size = uint64_t{stride} * uint32_t(c.height);
        TKernelHandle hSection(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                    DWORD(kOffset + size), nullptr));
        ASSERT_TRUE(hSection);
        auto* pBase = static_cast<uint8_t*>(::MapViewOfFile(hSection.Get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
        ASSERT_NE(pBase, nullptr);
        uint32_t* pSlot = reinterpret_cast<uint32_t*>(pBase + kOffset);
        std::fill(pSlot, pSlot + size / 4, kGarbage);
        const auto capturer = Capturer(c.width, c.height, THooksRect{0, 0, 0, 0});
        capturer->SetFrameBufferSection(hSection.Get());
        capturer->GetScreenImage(TAreaView{pBase + kOffset, uint32_t(c.width), stride, uint32_t(c.height), size, kOffset},
                                 c.bTopDown, nullptr);
        EXPECT_EQ(capturer->DirectFrames(), 1u);
        size_t garbage = 0, notBlack = 0;
        for (int32_t y = 0; y < c.height; ++y) {
            const uint32_t* pRow = pSlot + size_t(c.bTopDown ? y : c.height - 1 - y) * uint32_t(c.width);
            for (int32_t x = 0; x < c.width; ++x) {
                const bool bCovered = x >= c.covered.left && x < c.covered.right && y >= c.covered.top &&
                                      y < c.covered.bottom;
                garbage += pRow[x] == kGarbage ? 1 : 0;
                notBlack += !bCovered && pRow[x] != 0 ? 1 : 0;
            }
        }
        EXPECT_EQ(garbage, 0u) << "pixels the frame left as the slot held them";
        EXPECT_EQ(notBlack, 0u) << "pixels outside the picture that are not black";
        ::UnmapViewOfFile(pBase);
    }
}

// Display transfers that fail on demand, as they do on a secure desktop.
class FailingGdiCapturer final : public TGDIFullscreenCapturer {
public:
    FailingGdiCapturer() : TGDIFullscreenCapturer(::GetModuleHandleW(nullptr)) {}
    bool bFail = false;

protected:
    BOOL DisplayBitBlt(HDC hDst, int x, int y, int w, int h, HDC hSrc, int sx, int sy) override
    {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return bFail ? FALSE : TGDIFullscreenCapturer::DisplayBitBlt(hDst, x, y, w, h, hSrc, sx, sy);
    }
    BOOL DisplayStretchBlt(HDC hDst, int x, int y, int w, int h, HDC hSrc, int sx, int sy, int sw, int sh) override
    {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return bFail ? FALSE : TGDIFullscreenCapturer::DisplayStretchBlt(hDst, x, y, w, h, hSrc, sx, sy, sw, sh);
    }
};

// Slots drawn straight by GDI: a failed transfer repeats the slot written before (which the host
// saw last), however many fail in a row; with nothing written before, the frame is black.
TEST_F(GdiCapturerCoords, AFailedTransferIntoASlotRepeatsTheSlotWrittenBefore)
{
    constexpr uint32_t kWidth = 896, kRows = 600, kStride = kWidth * 4, kSlotBytes = kStride * kRows;
    constexpr uint32_t kGarbage = 0xABABABABu;
    TKernelHandle hSection(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 2 * kSlotBytes, nullptr));
    ASSERT_TRUE(hSection);
    auto* pBase = static_cast<uint8_t*>(::MapViewOfFile(hSection.Get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(pBase, nullptr);
    const TAreaView slots[2] = {{pBase, kWidth, kStride, kRows, kSlotBytes, 0},
                                {pBase + kSlotBytes, kWidth, kStride, kRows, kSlotBytes, kSlotBytes}};
    const auto fill = [&](const TAreaView& slot) {
        std::fill_n(reinterpret_cast<uint32_t*>(slot.pData), kSlotBytes / 4, kGarbage);
    };
    const auto same = [&](const TAreaView& a, const TAreaView& b) { return std::memcmp(a.pData, b.pData, kSlotBytes) == 0; };
    {
        SCOPED_TRACE("nothing written before");
        FailingGdiCapturer capturer;
        ASSERT_TRUE(capturer.Initialize(L"\\\\.\\DISPLAY1"));
        capturer.SetCaptureParameters(896, 600, THooksRect{100, 100, 996, 700}, true, false);
        capturer.SetFrameBufferSection(hSection.Get());
        capturer.bFail = true;
        fill(slots[0]);
        const size_t mark = LogMark();
        capturer.GetScreenImage(slots[0], true, nullptr);
        EXPECT_EQ(capturer.RepeatedFrameSource(), nullptr);
        const uint32_t* pPixels = reinterpret_cast<const uint32_t*>(slots[0].pData);
        EXPECT_TRUE(std::all_of(pPixels, pPixels + kSlotBytes / 4, [](uint32_t p) { return p == 0; }));
        EXPECT_EQ(TextsSince(mark), (std::vector<std::string>{"TGDIFullscreenCapturer::GetScreenImageInternal BitBlt error 5"}));
    }
    FailingGdiCapturer capturer;
    ASSERT_TRUE(capturer.Initialize(L"\\\\.\\DISPLAY1"));
    capturer.SetCaptureParameters(896, 600, THooksRect{100, 100, 996, 700}, true, false);
    capturer.SetFrameBufferSection(hSection.Get());
    capturer.GetScreenImage(slots[0], true, nullptr);  // a good frame
    EXPECT_EQ(capturer.RepeatedFrameSource(), nullptr);
    std::string first;
    ASSERT_EQ(scenetest::CountExactMismatches(kWidth, kRows, 100, 100, 0, [&](uint32_t x, uint32_t y) {
                  return reinterpret_cast<const uint32_t*>(slots[0].pData)[size_t{y} * kWidth + x];
              }, &first), 0u) << first;
    capturer.bFail = true;
    fill(slots[1]);
    capturer.GetScreenImage(slots[1], true, nullptr);
    EXPECT_EQ(capturer.RepeatedFrameSource(), slots[0].pData);
    EXPECT_TRUE(same(slots[1], slots[0]));
    // The next failure repeats the slot written last, which is now slot 1 (a cursor drawn there
    // since is the capture loop's to take out).
    reinterpret_cast<uint32_t*>(slots[1].pData)[0] = 0x12345678;
    capturer.GetScreenImage(slots[0], true, nullptr);
    EXPECT_EQ(capturer.RepeatedFrameSource(), slots[1].pData);
    EXPECT_TRUE(same(slots[0], slots[1]));
    // Repeating into the slot written last leaves it as it is.
    capturer.GetScreenImage(slots[0], true, nullptr);
    EXPECT_EQ(capturer.RepeatedFrameSource(), slots[0].pData);
    EXPECT_EQ(reinterpret_cast<const uint32_t*>(slots[0].pData)[0], 0x12345678u);
    capturer.bFail = false;
    capturer.GetScreenImage(slots[1], true, nullptr);
    EXPECT_EQ(capturer.RepeatedFrameSource(), nullptr);
    ::UnmapViewOfFile(pBase);
}

TEST_F(GdiCapturerCoords, EveryFrameIsFreshFromTheScreen)
{
    const auto capturer = Capturer(1920, 1080, THooksRect{0, 0, 0, 0});
    Destination dst(1080, 7680);
    capturer->GetScreenImage(dst.area, true, nullptr);
    ASSERT_TRUE(pScene->Next());  // the scene shows generation 1 now
    capturer->GetScreenImage(dst.area, true, nullptr);
    std::string first;
    EXPECT_EQ(scenetest::CountExactMismatches(1920, 1080, 0, 0, 1, [&](uint32_t x, uint32_t y) { return dst.At(y, x); }, &first), 0u)
        << first;
}

}  // namespace
