// The capturer base through a small derived capturer that enumerates the real (Wine) monitors the
// way the capture methods do, or hands out a scripted list, and records what GetScreenImage passes
// on. Under Xvfb 1920x1080 Wine shows one monitor, \\.\DISPLAY1 at (0, 0), primary.
#include "ProcessLogServer.h"
#include "capturers/TBaseFullscreenCapturer.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

const wchar_t kWineDisplay[] = L"\\\\.\\DISPLAY1";

struct RecordedFrame {
    TAreaView area;
    bool bDontMirrorFrames;
    ID3D11Texture2D* pTexture;
};

class FakeCapturer : public TBaseFullscreenCapturer {
public:
    FakeCapturer() : TBaseFullscreenCapturer(::GetModuleHandleW(nullptr)) {}

    std::optional<std::vector<TDisplayInfo>> scriptedDisplays;
    std::vector<RecordedFrame> frames;

    void GetScreenImageInternal(const TAreaView& destination, bool bDontMirrorFrames,
                                ID3D11Texture2D* pTexture) override
    {
        frames.push_back({destination, bDontMirrorFrames, pTexture});
    }
    // Like both capture methods: the size of the display selected by Initialize.
    SIZE GetMonitorDimensions() override
    {
        if (vecSelectedDisplays.empty()) {
            return SIZE{0, 0};
        }
        return SIZE{vecSelectedDisplays.front().iWidth, vecSelectedDisplays.front().iHeight};
    }
    std::vector<TDisplayInfo> GetDisplays() override
    {
        if (scriptedDisplays) {
            return *scriptedDisplays;
        }
        std::vector<TDisplayInfo> displays;
        ::EnumDisplayMonitors(nullptr, nullptr, &EnumProc, reinterpret_cast<LPARAM>(&displays));
        return displays;
    }
    bool Initialize(std::wstring wsName) override
    {
        TBaseFullscreenCapturer::Initialize(wsName);
        for (const TDisplayInfo& display : vecDisplays) {
            if (wsDisplayName == display.wszDeviceName) {
                vecSelectedDisplays.push_back(display);
                return true;
            }
        }
        return false;
    }
    void UpdateWebCam(const uint8_t*, int32_t, int32_t, uint32_t, THooksRect, const void*, uint32_t) override {}
    void UpdateWebCamBackground(const uint8_t*, int32_t, int32_t, uint32_t, THooksRect) override {}

private:
    static BOOL CALLBACK EnumProc(HMONITOR hMonitor, HDC, LPRECT, LPARAM lParam)
    {
        CheckAndAddMonitor(hMonitor, *reinterpret_cast<std::vector<TDisplayInfo>*>(lParam));
        return TRUE;
    }
};

TDisplayInfo MakeDisplay(const wchar_t* name, int32_t x, int32_t width, bool bPrimary)
{
    TDisplayInfo display;
    display.hMonitor = reinterpret_cast<HMONITOR>(static_cast<uintptr_t>(0x1000 + x));
    wcsncpy(display.wszDeviceName, name, kDisplayDeviceNameUnits - 1);
    display.iX = x;
    display.iWidth = width;
    display.iHeight = 1080;
    display.bPrimary = bPrimary;
    return display;
}

struct Rect {
    int32_t left, top, right, bottom;
    bool operator==(const Rect&) const = default;
};

// THooksRect is byte-packed; compare copies.
Rect ToRect(const THooksRect& r)
{
    return Rect{r.left, r.top, r.right, r.bottom};
}

std::vector<std::string> BaseLines(size_t mark)
{
    std::vector<std::string> lines;
    for (const std::string& text : TextsSince(mark)) {
        if (text.rfind("TBaseFullscreenCapturer::", 0) == 0) {
            lines.push_back(text);
        }
    }
    return lines;
}

bool HasLine(const std::vector<TLoggedLine>& lines, uint32_t type, const std::string& text)
{
    return std::any_of(lines.begin(), lines.end(),
                       [&](const TLoggedLine& line) { return line.ui32Type == type && line.strText == text; });
}

TEST(CapturerBaseDisplays, ListMatchesTheWineMonitorAndExactNameIsChosen)
{
    FakeCapturer capturer;
    const size_t mark = LogMark();
    EXPECT_TRUE(capturer.Initialize(kWineDisplay));

    ASSERT_EQ(1u, capturer.Displays().size());
    const TDisplayInfo& display = capturer.Displays().front();
    EXPECT_EQ(std::wstring(kWineDisplay), display.wszDeviceName);
    EXPECT_EQ(::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), display.hMonitor);
    EXPECT_EQ(0, display.iX);
    EXPECT_EQ(0, display.iY);
    EXPECT_EQ(1920, display.iWidth);
    EXPECT_EQ(1080, display.iHeight);
    EXPECT_TRUE(display.bPrimary);
    EXPECT_EQ(std::wstring(kWineDisplay), capturer.DisplayName());
    EXPECT_EQ(display.hMonitor, capturer.CurrentDisplayInfo().hMonitor);
    EXPECT_EQ(1920, capturer.CurrentDisplayInfo().iWidth);

    const std::vector<TLoggedLine> lines = LinesSince(mark);
    EXPECT_TRUE(HasLine(lines, 3, "TBaseFullscreenCapturer::Initialize '\\\\.\\DISPLAY1'"));
    EXPECT_TRUE(HasLine(lines, 0,
                        "TBaseFullscreenCapturer::CheckAndAddMonitor found monitor '\\\\.\\DISPLAY1', pos 0x0, "
                        "size 1920x1080, primary 1"));
    EXPECT_TRUE(HasLine(lines, 0, "TBaseFullscreenCapturer::Initialize exit true"));
    for (const TLoggedLine& line : lines) {
        EXPECT_NE(4u, line.ui32Type) << line.strText;
    }
}

struct FallbackCase {
    const char* name;
    std::optional<std::vector<TDisplayInfo>> displays;  // none: the Wine monitor list
    std::wstring wsRequested;
    std::wstring wsExpectedName;
    std::string strWarning;
};

TEST(CapturerBaseDisplays, UnlistedNameFallsBackToThePrimary)
{
    const FallbackCase cases[] = {
        {"unknown name on Wine", std::nullopt, L"\\\\.\\DISPLAY7", kWineDisplay,
         "TBaseFullscreenCapturer::Initialize display was not found so the primary will be used '\\\\.\\DISPLAY1'."},
        {"names compare case-sensitively", std::nullopt, L"\\\\.\\display1", kWineDisplay,
         "TBaseFullscreenCapturer::Initialize display was not found so the primary will be used '\\\\.\\DISPLAY1'."},
        {"empty name", std::nullopt, L"", kWineDisplay,
         "TBaseFullscreenCapturer::Initialize display was not found so the primary will be used '\\\\.\\DISPLAY1'."},
        {"two primaries: the later wins",
         std::vector<TDisplayInfo>{MakeDisplay(L"A", 0, 1920, true), MakeDisplay(L"B", 1920, 2560, false),
                                   MakeDisplay(L"C", 4480, 1280, true)},
         L"Z", L"C", "TBaseFullscreenCapturer::Initialize display was not found so the primary will be used 'C'."},
        {"no primary: empty name", std::vector<TDisplayInfo>{MakeDisplay(L"A", 0, 1920, false)}, L"Z", L"",
         "TBaseFullscreenCapturer::Initialize display was not found so the primary will be used ''."},
        {"no displays", std::vector<TDisplayInfo>{}, L"A", L"",
         "TBaseFullscreenCapturer::Initialize display was not found so the primary will be used ''."},
    };
    for (const FallbackCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeCapturer capturer;
        capturer.scriptedDisplays = c.displays;
        const size_t mark = LogMark();
        capturer.Initialize(c.wsRequested);
        EXPECT_EQ(c.wsExpectedName, capturer.DisplayName());
        // Not found: CurrentDisplay stays the default record (origin of the primary display).
        EXPECT_EQ(nullptr, capturer.CurrentDisplayInfo().hMonitor);
        EXPECT_EQ(0, capturer.CurrentDisplayInfo().iX);
        EXPECT_EQ(0, capturer.CurrentDisplayInfo().iWidth);
        EXPECT_EQ(std::wstring(), capturer.CurrentDisplayInfo().wszDeviceName);
        EXPECT_TRUE(HasLine(LinesSince(mark), 4, c.strWarning));
    }
}

TEST(CapturerBaseDisplays, BaseInitializeAlwaysSucceedsAndPicksTheMatchingRecord)
{
    FakeCapturer capturer;
    capturer.scriptedDisplays = std::vector<TDisplayInfo>{MakeDisplay(L"A", 0, 1920, true),
                                                          MakeDisplay(L"B", 1920, 2560, false)};
    EXPECT_TRUE(capturer.TBaseFullscreenCapturer::Initialize(L"B"));
    EXPECT_EQ(std::wstring(L"B"), capturer.DisplayName());
    EXPECT_EQ(1920, capturer.CurrentDisplayInfo().iX);
    EXPECT_EQ(2560, capturer.CurrentDisplayInfo().iWidth);
    EXPECT_EQ(2u, capturer.Displays().size());
}

TEST(CapturerBaseDisplays, UnreadableMonitorIsLeftOut)
{
    std::vector<TDisplayInfo> displays;
    const size_t mark = LogMark();
    TBaseFullscreenCapturer::CheckAndAddMonitor(reinterpret_cast<HMONITOR>(static_cast<uintptr_t>(0x5eed)), displays);
    EXPECT_TRUE(displays.empty());
    const std::vector<TLoggedLine> lines = LinesSince(mark);
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(2u, lines[0].ui32Type);
    EXPECT_EQ(0u, lines[0].strText.rfind("TBaseFullscreenCapturer::CheckAndAddMonitor GetMonitorInfo error ", 0))
        << lines[0].strText;
    EXPECT_NE(std::string::npos, lines[0].strText.find(" for monitor ")) << lines[0].strText;
}

TEST(CapturerBaseParameters, WholeScreenSourceAndItsLines)
{
    FakeCapturer capturer;
    ASSERT_TRUE(capturer.Initialize(kWineDisplay));
    const size_t mark = LogMark();
    capturer.SetCaptureParameters(1280, 720, THooksRect{0, 0, 0, 0}, true, false);
    EXPECT_EQ(1280, capturer.FinalWidth());
    EXPECT_EQ(720, capturer.FinalHeight());
    EXPECT_TRUE(capturer.KeepsProportion());
    EXPECT_EQ((Rect{0, 0, 1920, 1080}), ToRect(capturer.SourceRect()));
    EXPECT_EQ((Rect{0, 0, 1280, 720}), ToRect(capturer.DestinationRect()));
    const std::vector<std::string> expected = {
        "TBaseFullscreenCapturer::SetCaptureParameters resized dim 1280x720, src rect (0, 0) - (0, 0), "
        "keep proportion 1, draw overlays 0",
        "TBaseFullscreenCapturer::SetCaptureParameters set the src rect to whole screen (0, 0) - (1920, 1080)",
        "TBaseFullscreenCapturer::SetCaptureParameters source size (1920, 1080)",
        "TBaseFullscreenCapturer::SetCaptureParameters destination rect (0, 0) - (1280, 720)",
        "TBaseFullscreenCapturer::SetCaptureParameters exit",
    };
    EXPECT_EQ(expected, BaseLines(mark));
}

TEST(CapturerBaseParameters, EachCallReplacesAllParameters)
{
    FakeCapturer capturer;
    ASSERT_TRUE(capturer.Initialize(kWineDisplay));
    capturer.SetCaptureParameters(1280, 720, THooksRect{0, 0, 1920, 1200}, true, true);
    EXPECT_EQ((Rect{64, 0, 1216, 720}), ToRect(capturer.DestinationRect()));
    const size_t mark = LogMark();
    capturer.SetCaptureParameters(640, 480, THooksRect{100, 50, 740, 530}, false, true);
    EXPECT_EQ(640, capturer.FinalWidth());
    EXPECT_EQ(480, capturer.FinalHeight());
    EXPECT_FALSE(capturer.KeepsProportion());
    EXPECT_EQ((Rect{100, 50, 740, 530}), ToRect(capturer.SourceRect()));
    EXPECT_EQ((Rect{0, 0, 640, 480}), ToRect(capturer.DestinationRect()));
    // Without keep proportion there is no source size line.
    const std::vector<std::string> expected = {
        "TBaseFullscreenCapturer::SetCaptureParameters resized dim 640x480, src rect (100, 50) - (740, 530), "
        "keep proportion 0, draw overlays 1",
        "TBaseFullscreenCapturer::SetCaptureParameters destination rect (0, 0) - (640, 480)",
        "TBaseFullscreenCapturer::SetCaptureParameters exit",
    };
    EXPECT_EQ(expected, BaseLines(mark));
}

constexpr uint32_t kAreaWidth = 64;
constexpr uint32_t kAreaStride = 320;
constexpr uint32_t kAreaRows = 48;

struct RefusalCase {
    const char* name;
    bool bConfigure;
    bool bInitialize;
    int32_t iWidth;
    int32_t iHeight;
    THooksRect source;
    bool bValidArea;
    const char* expectedError;
};

TEST(CapturerBaseGetScreenImage, RefusalsLogOneLineAndTouchNothing)
{
    const RefusalCase cases[] = {
        {"never configured", false, true, 0, 0, {}, true,
         "TBaseFullscreenCapturer::GetScreenImage invalid final width/height"},
        {"final width -1", true, true, -1, 720, {0, 0, 100, 100}, true,
         "TBaseFullscreenCapturer::GetScreenImage invalid final width/height"},
        {"whole screen of no display", true, false, 1280, 720, {0, 0, 0, 0}, true,
         "TBaseFullscreenCapturer::GetScreenImage invalid vqhrSourceRectBeforeResizing"},
        {"inverted source", true, true, 1280, 720, {500, 500, 100, 100}, true,
         "TBaseFullscreenCapturer::GetScreenImage invalid vqhrSourceRectBeforeResizing"},
        {"final size 0 x 0", true, true, 0, 0, {0, 0, 100, 100}, true,
         "TBaseFullscreenCapturer::GetScreenImage invalid vqhrDestRectAfterResizing"},
        {"final height 0", true, true, 640, 0, {0, 0, 100, 100}, true,
         "TBaseFullscreenCapturer::GetScreenImage invalid vqhrDestRectAfterResizing"},
        {"no destination area", true, true, 640, 480, {0, 0, 100, 100}, false,
         "TBaseFullscreenCapturer::GetScreenImage invalid destination area"},
    };
    std::vector<uint8_t> buffer(size_t{kAreaStride} * kAreaRows, 0xA5);
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeCapturer capturer;
        if (c.bInitialize) {
            ASSERT_TRUE(capturer.Initialize(kWineDisplay));
        }
        if (c.bConfigure) {
            capturer.SetCaptureParameters(c.iWidth, c.iHeight, c.source, true, false);
        }
        TAreaView area;
        if (c.bValidArea) {
            area = TAreaView{buffer.data(), kAreaWidth, kAreaStride, kAreaRows, buffer.size()};
        }
        for (int frame = 0; frame < 3; ++frame) {
            const size_t mark = LogMark();
            capturer.GetScreenImage(area, false, nullptr);
            const std::vector<TLoggedLine> lines = LinesSince(mark);
            ASSERT_EQ(1u, lines.size());
            EXPECT_EQ(2u, lines[0].ui32Type);
            EXPECT_EQ(c.expectedError, lines[0].strText);
        }
        EXPECT_TRUE(capturer.frames.empty());
        EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0xA5; }));
    }
}

TEST(CapturerBaseGetScreenImage, ValidCallReachesTheDerivedClassUnchanged)
{
    std::vector<uint8_t> buffer(size_t{kAreaStride} * kAreaRows, 0);
    const TAreaView area{buffer.data(), kAreaWidth, kAreaStride, kAreaRows, buffer.size()};
    uint8_t textureStandIn = 0;  // never dereferenced: the base only passes the pointer on
    ID3D11Texture2D* pTexture = reinterpret_cast<ID3D11Texture2D*>(&textureStandIn);

    FakeCapturer capturer;
    ASSERT_TRUE(capturer.Initialize(kWineDisplay));
    capturer.SetCaptureParameters(kAreaWidth, kAreaRows, THooksRect{0, 0, 0, 0}, true, false);
    const size_t mark = LogMark();
    capturer.GetScreenImage(area, false, nullptr);
    capturer.GetScreenImage(area, true, nullptr);
    // With a texture the frame goes to the texture: an empty area is no reason to refuse.
    capturer.GetScreenImage(TAreaView{}, false, pTexture);
    EXPECT_TRUE(BaseLines(mark).empty());

    ASSERT_EQ(3u, capturer.frames.size());
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const RecordedFrame& frame = capturer.frames[i];
        EXPECT_EQ(buffer.data(), frame.area.pData);
        EXPECT_EQ(kAreaWidth, frame.area.ui32Width);
        EXPECT_EQ(kAreaStride, frame.area.ui32Stride);
        EXPECT_EQ(kAreaRows, frame.area.ui32Rows);
        EXPECT_EQ(buffer.size(), frame.area.ui64Size);
        EXPECT_EQ(i == 1, frame.bDontMirrorFrames);
        EXPECT_EQ(nullptr, frame.pTexture);
    }
    EXPECT_EQ(nullptr, capturer.frames[2].area.pData);
    EXPECT_EQ(pTexture, capturer.frames[2].pTexture);
    // 1920 x 1080 into 64 x 48: bars top and bottom.
    EXPECT_EQ((Rect{0, 0, 1920, 1080}), ToRect(capturer.SourceRect()));
    EXPECT_EQ((Rect{0, 6, 64, 42}), ToRect(capturer.DestinationRect()));
}

TEST(CapturerBaseLifecycle, DefaultsSharedHandleAndLines)
{
    const size_t mark = LogMark();
    {
        FakeCapturer capturer;
        EXPECT_EQ(-1, capturer.FinalWidth());
        EXPECT_EQ(-1, capturer.FinalHeight());
        EXPECT_TRUE(capturer.KeepsProportion());
        EXPECT_EQ((Rect{0, 0, 0, 0}), ToRect(capturer.SourceRect()));
        EXPECT_EQ((Rect{0, 0, 0, 0}), ToRect(capturer.DestinationRect()));
        EXPECT_EQ(::GetModuleHandleW(nullptr), capturer.Instance());
        EXPECT_TRUE(capturer.DisplayName().empty());
        EXPECT_EQ(0, capturer.TBaseFullscreenCapturer::GetMonitorDimensions().cx);
        EXPECT_EQ(0, capturer.TBaseFullscreenCapturer::GetCurrentMonitorDimensions().cy);
        EXPECT_TRUE(capturer.TBaseFullscreenCapturer::GetDisplays().empty());
        uint8_t standIn = 0;
        ID3D11Texture2D* pTexture = reinterpret_cast<ID3D11Texture2D*>(&standIn);
        capturer.OpenSharedHandle(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x40)), &pTexture);
        EXPECT_EQ(nullptr, pTexture);
    }
    const std::vector<std::string> expected = {
        "TBaseFullscreenCapturer::TBaseFullscreenCapturer",
        "TBaseFullscreenCapturer::TBaseFullscreenCapturer exit",
        "TBaseFullscreenCapturer::OpenSharedHandle",
        "TBaseFullscreenCapturer::OpenSharedHandle exit",
        "TBaseFullscreenCapturer::~TBaseFullscreenCapturer",
        "TBaseFullscreenCapturer::~TBaseFullscreenCapturer exit",
    };
    EXPECT_EQ(expected, BaseLines(mark));
}

}  // namespace
