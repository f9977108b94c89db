// The capturer base through a derived capturer that hands out a scripted display list and records
// what GetScreenImage passes on: display choice by name with the primary as fall-back, the capture
// parameters, and the argument checks of GetScreenImage.
#include "ProcessLogServer.h"
#include "capturers/TBaseFullscreenCapturer.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

namespace {

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

TEST(CapturerBase, EachCaptureParameterCallReplacesSourceAndDestination)
{
    struct Case {
        int32_t width, height;
        THooksRect source;
        bool bKeep;
        std::tuple<int32_t, int32_t, int32_t, int32_t> source_, destination;
    };
    const Case cases[] = {
        {1280, 720, {0, 0, 0, 0}, true, {0, 0, 1920, 1080}, {0, 0, 1280, 720}},  // the whole display A
        {1280, 720, {0, 0, 1920, 1200}, true, {0, 0, 1920, 1200}, {64, 0, 1216, 720}},
        {640, 480, {100, 50, 740, 530}, false, {100, 50, 740, 530}, {0, 0, 640, 480}},
    };
    FakeCapturer capturer(kThree);
    capturer.Initialize(L"A");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        capturer.SetCaptureParameters(c.width, c.height, c.source, c.bKeep, false);
        EXPECT_EQ(capturer.FinalWidth(), c.width);
        EXPECT_EQ(capturer.FinalHeight(), c.height);
        EXPECT_EQ(capturer.KeepsProportion(), c.bKeep);
        EXPECT_EQ(Tie(capturer.SourceRect()), c.source_);
        EXPECT_EQ(Tie(capturer.DestinationRect()), c.destination);
    }
}

TEST(CapturerBase, GetScreenImageRefusesUnusableArgumentsWithOneErrorLine)
{
    struct Case {
        const char* name;
        bool bInitialize, bConfigure;
        int32_t width, height;
        THooksRect source;
        bool bArea;
        const char* error;  // null: passed on
    };
    const Case cases[] = {
        {"never configured", true, false, 0, 0, {}, true, "invalid final width/height"},
        {"final width -1", true, true, -1, 720, {0, 0, 100, 100}, true, "invalid final width/height"},
        {"whole screen of no display", false, true, 1280, 720, {0, 0, 0, 0}, true, "invalid vqhrSourceRectBeforeResizing"},
        {"inverted source", true, true, 1280, 720, {500, 500, 100, 100}, true, "invalid vqhrSourceRectBeforeResizing"},
        {"final height 0", true, true, 640, 0, {0, 0, 100, 100}, true, "invalid vqhrDestRectAfterResizing"},
        {"no destination area", true, true, 640, 480, {0, 0, 100, 100}, false, "invalid destination area"},
        {"valid", true, true, 64, 48, {0, 0, 0, 0}, true, nullptr},
    };
    std::vector<uint8_t> buffer(320 * 48, 0xA5);
    const TAreaView area{buffer.data(), 64, 320, 48, buffer.size()};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeCapturer capturer(kThree);
        if (c.bInitialize) {
            capturer.Initialize(L"A");
        }
        if (c.bConfigure) {
            capturer.SetCaptureParameters(c.width, c.height, c.source, true, false);
        }
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

}  // namespace
