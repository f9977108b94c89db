// The capture loop's start-up: the region checks and the whole-screen fall-back, the monitor it
// captures, the frame size that reaches the header, the overlay start, and the runs that end
// before the first frame (capacity refused, unknown method, no capturer, failed Initialize).
#include "LoopHarness.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace looptest;

const Rect kNoRect{0, 0, 0, 0};
const Rect kDisplay1{0, 0, 1920, 1080};

// The loop's own lines, in order.
std::vector<std::string> LoopTexts(const std::vector<TLoggedLine>& lines)
{
    std::vector<std::string> texts;
    for (const TLoggedLine& line : lines) {
        if (line.strText.rfind(kLoopName, 0) == 0) {
            texts.push_back(line.strText);
        }
    }
    return texts;
}

// Every run ends with the exit steps: overlay ended once, capture invalidated, the exit line last.
void ExpectExitSteps(const LoopHarness& h, const std::vector<TLoggedLine>& lines)
{
    EXPECT_EQ(1u, h.env.nTerminateOverlay.load());
    EXPECT_EQ(1, h.CaptureInvalidated());
    if (h.env.nCreateCapturer.load() > 0 && !h.env.bNoCapturer) {
        EXPECT_TRUE(h.probe->Destroyed());
    }
    const std::vector<std::string> texts = LoopTexts(lines);
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(std::string(kLoopName), texts.front());
    EXPECT_EQ(LoopLine("exit"), texts.back());
    EXPECT_EQ(1u, CountLines(lines, 0, LoopLine("exit")));
}

std::string RectText(const THooksRect& r)
{
    return "(" + std::to_string(r.left) + ", " + std::to_string(r.top) + ") - (" + std::to_string(r.right) + ", " +
           std::to_string(r.bottom) + ")";
}

struct RegionCase {
    const char* name;
    THooksRect region;
    const char* error;
};

TEST(CaptureLoopStart, InvalidRegionIsLoggedAndTheWholeScreenCaptured)
{
    const RegionCase cases[] = {
        {"left < 0", {-1, 0, 100, 100}, "invalid region left position"},
        {"left = width", {1920, 0, 1920, 1080}, "invalid region left position"},
        {"top < 0", {0, -1, 100, 100}, "invalid region top position"},
        {"top = height", {0, 1080, 100, 1080}, "invalid region top position"},
        {"right = width + 1", {0, 0, 1921, 1080}, "invalid region right position"},
        {"bottom = height + 1", {0, 0, 1920, 1081}, "invalid region bottom position"},
        {"right <= left", {500, 100, 400, 700}, "invalid region, right <= left or bottom <= top"},
    };
    for (const RegionCase& c : cases) {
        SCOPED_TRACE(c.name);
        LoopHarness h;
        ASSERT_TRUE(h.Made());
        h.Header().CaptureRegion = c.region;
        h.Header().bCaptureEnabled = 1;
        ASSERT_NO_FATAL_FAILURE(h.Start());
        ASSERT_TRUE(h.WaitLooping());
        // One capture inside the warm-up shows what the capturer was set up with.
        h.Request(0);
        EXPECT_TRUE(WaitUntil([&] { return h.probe->Captures() >= 1; }));
        h.Stop();

        const std::vector<TLoggedLine> lines = h.Lines();
        EXPECT_EQ(1u, CountLines(lines, 0, LoopLine("capture rect " + RectText(c.region))));
        EXPECT_EQ(1u, CountLines(lines, 2, LoopLine(c.error)));
        EXPECT_EQ(1u, CountLines(lines, 0, LoopLine("safe image size 1920 x 1080")));
        EXPECT_EQ(1u, CountLines(lines, 0, "Region is empty -> start overlay"));
        const std::vector<ParametersCall> calls = h.probe->ParameterCalls();
        ASSERT_EQ(1u, calls.size());
        EXPECT_EQ(kNoRect, calls[0].source);
        EXPECT_EQ(kDisplay1, calls[0].sourceAfter);
        EXPECT_EQ(1920, calls[0].iWidth);
        EXPECT_EQ(1080, calls[0].iHeight);
        const std::vector<FrameCall> frames = h.probe->Frames();
        ASSERT_FALSE(frames.empty());
        EXPECT_EQ(kDisplay1, frames[0].source);
        EXPECT_EQ(1920u, frames[0].ui32Width);
        EXPECT_EQ(1080u, frames[0].ui32Rows);
        EXPECT_EQ(1920, h.Header().iImageWidth);
        EXPECT_EQ(1080, h.Header().iImageHeight);
        // The whole screen is captured, so the overlay is started as for an empty region.
        EXPECT_EQ(1u, h.env.nStartOverlay.load());
        EXPECT_EQ(1u, h.env.nCommandsClients.load());
        EXPECT_EQ(0, h.Header().bOverlayStatus);
        ExpectExitSteps(h, lines);
    }
}

TEST(CaptureLoopStart, ValidRegionOnTheHeadersMonitorStartsNoOverlay)
{
    LoopHarness h;
    ASSERT_TRUE(h.Made());
    h.Header().CaptureRegion = THooksRect{100, 100, 1000, 700};
    h.SetMonitorName(u"\\\\.\\DISPLAY2");
    ASSERT_NO_FATAL_FAILURE(h.Start());
    ASSERT_TRUE(h.WaitLooping());
    // A few idle passes: with a region the active application's monitor is never asked for.
    EXPECT_TRUE(WaitUntil([&] { return h.probe->CurrentSizeQueries() >= 3; }));
    h.Stop();

    EXPECT_EQ(std::vector<std::wstring>{L"\\\\.\\DISPLAY2"}, h.probe->InitializeNames());
    const std::vector<TLoggedLine> lines = h.Lines();
    EXPECT_EQ(1u, CountLines(lines, 0, LoopLine("capture rect (100, 100) - (1000, 700)")));
    EXPECT_EQ(1u, CountLines(lines, 0, LoopLine("capture image size 1280 x 1024")));
    EXPECT_EQ(1u, CountLines(lines, 0, LoopLine("safe image size 896 x 600")));
    EXPECT_EQ(0u, CountText(lines, "Region is empty -> start overlay"));
    for (const TLoggedLine& line : lines) {
        EXPECT_NE(2u, line.ui32Type) << line.strText;
    }
    const std::vector<ParametersCall> calls = h.probe->ParameterCalls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ((Rect{100, 100, 1000, 700}), calls[0].source);
    EXPECT_EQ((Rect{100, 100, 1000, 700}), calls[0].sourceAfter);
    EXPECT_TRUE(calls[0].bKeepProportion);
    EXPECT_FALSE(calls[0].bDrawOverlays);  // GDI: no webcam compositing
    EXPECT_EQ(1280, h.Header().iSourceWidth);
    EXPECT_EQ(1024, h.Header().iSourceHeight);
    EXPECT_EQ(8, h.Header().iFrameSource);
    EXPECT_EQ(896, h.Header().iImageWidth);
    EXPECT_EQ(600, h.Header().iImageHeight);
    EXPECT_EQ(u"\\\\.\\DISPLAY2", h.MonitorName());
    EXPECT_EQ(0x5A, h.Header().bOverlayStatus);
    EXPECT_EQ(0u, h.env.nActiveMonitorQueries.load());
    EXPECT_EQ(0u, h.env.nStartOverlay.load());
    EXPECT_EQ(0u, h.env.nCommandsClients.load());
    ExpectExitSteps(h, lines);
}

struct SizeCase {
    const char* name;
    int32_t displayWidth;  // \\.\DISPLAY1
    int32_t displayHeight;
    THooksRect region;
    int32_t requestedWidth;
    int32_t requestedHeight;
    int32_t expectedWidth;
    int32_t expectedHeight;
};

TEST(CaptureLoopStart, FrameSizeReachesTheHeaderAndTheSlots)
{
    const SizeCase cases[] = {
        {"whole 1366 x 768", 1366, 768, {0, 0, 0, 0}, -1, -1, 1360, 768},
        {"region on 1920 x 1080", 1920, 1080, {100, 100, 1000, 700}, -1, -1, 896, 600},
        {"requested 1280 x 720", 1920, 1080, {0, 0, 0, 0}, 1280, 720, 1280, 720},
        {"requested 1283 x 719: not rounded", 1920, 1080, {0, 0, 0, 0}, 1283, 719, 1283, 719},
        {"requested with a region", 1920, 1080, {8, 8, 1000, 700}, 1283, 719, 1283, 719},
    };
    for (const SizeCase& c : cases) {
        SCOPED_TRACE(c.name);
        LoopHarness h;
        ASSERT_TRUE(h.Made());
        h.probe->displays[0].iWidth = c.displayWidth;
        h.probe->displays[0].iHeight = c.displayHeight;
        h.Header().CaptureRegion = c.region;
        h.Header().iRequestedWidth = c.requestedWidth;
        h.Header().iRequestedHeight = c.requestedHeight;
        ASSERT_NO_FATAL_FAILURE(h.Start());
        ASSERT_TRUE(h.WaitLooping());
        h.Stop();

        const std::string safe =
            "safe image size " + std::to_string(c.expectedWidth) + " x " + std::to_string(c.expectedHeight);
        EXPECT_EQ(1u, CountLines(h.Lines(), 0, LoopLine(safe)));
        EXPECT_EQ(c.expectedWidth, h.Header().iImageWidth);
        EXPECT_EQ(c.expectedHeight, h.Header().iImageHeight);
        EXPECT_EQ(c.displayWidth, h.Header().iSourceWidth);
        EXPECT_EQ(c.displayHeight, h.Header().iSourceHeight);
        const std::vector<ParametersCall> calls = h.probe->ParameterCalls();
        ASSERT_EQ(1u, calls.size());
        EXPECT_EQ(c.expectedWidth, calls[0].iWidth);
        EXPECT_EQ(c.expectedHeight, calls[0].iHeight);
        for (size_t slot = 0; slot < kFrameSlotCount; ++slot) {
            const TAreaView area = h.View().FrameSlot(slot);
            ASSERT_TRUE(area.IsValid()) << "slot " << slot;
            EXPECT_EQ(static_cast<uint32_t>(c.expectedWidth), area.ui32Width);
            EXPECT_EQ(static_cast<uint32_t>(c.expectedHeight), area.ui32Rows);
        }
    }
}

struct MonitorCase {
    const char* name;
    std::wstring wsActive;
    std::wstring wsInitialized;
    std::u16string headerName;
    int32_t width;
    int32_t height;
};

TEST(CaptureLoopStart, WholeScreenTakesTheActiveApplicationsMonitor)
{
    const MonitorCase cases[] = {
        {"second monitor", L"\\\\.\\DISPLAY2", L"\\\\.\\DISPLAY2", u"\\\\.\\DISPLAY2", 1280, 1024},
        // No foreground monitor: the capturer falls back to the primary display.
        {"none: the primary", L"", L"", u"", 1920, 1080},
    };
    for (const MonitorCase& c : cases) {
        SCOPED_TRACE(c.name);
        LoopHarness h;
        ASSERT_TRUE(h.Made());
        h.SetMonitorName(u"\\\\.\\OLD");
        h.env.SetActiveMonitor(c.wsActive);
        ASSERT_NO_FATAL_FAILURE(h.Start());
        ASSERT_TRUE(h.WaitLooping());
        h.Stop();

        EXPECT_EQ(std::vector<std::wstring>{c.wsInitialized}, h.probe->InitializeNames());
        EXPECT_EQ(c.headerName, h.MonitorName());
        EXPECT_EQ(c.width, h.Header().iSourceWidth);
        EXPECT_EQ(c.height, h.Header().iSourceHeight);
        const std::string size = std::to_string(c.width) + " x " + std::to_string(c.height);
        EXPECT_EQ(1u, CountLines(h.Lines(), 0, LoopLine("capture image size " + size)));
        EXPECT_EQ(1u, h.env.nStartOverlay.load());
    }
}

TEST(CaptureLoopStart, CapacityRefusalEndsTheRunWithoutFrames)
{
    LoopHarness h;
    ASSERT_TRUE(h.Made());
    h.Header().iMaxWidth = 640;
    h.Header().iMaxHeight = 480;
    h.Header().bCaptureEnabled = 1;
    h.Header().bFrameRequested[0] = 1;
    h.Header().bFrameReady[3] = 1;
    ASSERT_NO_FATAL_FAILURE(h.Start());
    // No stop flag: the run ends by itself.
    ASSERT_TRUE(h.WaitEnded());
    h.Stop();

    EXPECT_EQ(0, h.Header().iImageWidth);
    EXPECT_EQ(0, h.Header().iImageHeight);
    EXPECT_EQ(0, h.Requested(0));
    EXPECT_EQ(0, h.Ready(3));
    EXPECT_EQ(0u, h.probe->Captures());
    EXPECT_TRUE(h.probe->ParameterCalls().empty());
    EXPECT_EQ(0u, h.env.nStartOverlay.load());
    const std::vector<TLoggedLine> lines = h.Lines();
    EXPECT_EQ(1u, CountLines(lines, 1, "The frame dimensions are too large."));
    EXPECT_EQ(1u, CountLines(lines, 2,
                             LoopLine("the frame buffer has no layout for 1920 x 1080 frames, no frames will be "
                                      "captured")));
    ExpectExitSteps(h, lines);
}

struct FailedStartCase {
    const char* name;
    uint32_t nMethod;
    bool bNoCapturer;
    bool bFailInitialize;
    uint32_t type;
    const char* line;
    uint32_t nCreateCapturer;
};

TEST(CaptureLoopStart, FailedStartsEndThroughTheExitSteps)
{
    const FailedStartCase cases[] = {
        {"unknown capture method 7", 7, false, false, 2, "unknown capture method 7", 0},
        {"no capturer for the method", 0, true, false, 0, "unable to initialize pFullscreenCapturer", 1},
        {"Initialize fails", 1, false, true, 0, "unable to initialize pFullscreenCapturer", 1},
    };
    for (const FailedStartCase& c : cases) {
        SCOPED_TRACE(c.name);
        LoopHarness h;
        ASSERT_TRUE(h.Made());
        h.env.bNoCapturer = c.bNoCapturer;
        h.probe->bFailInitialize = c.bFailInitialize;
        h.Header().bCaptureEnabled = 1;
        h.Header().bFrameRequested[0] = 1;
        ASSERT_NO_FATAL_FAILURE(h.Start(c.nMethod));
        ASSERT_TRUE(h.WaitEnded());
        h.Stop();

        const std::vector<TLoggedLine> lines = h.Lines();
        EXPECT_EQ(1u, CountLines(lines, c.type, LoopLine(c.line)));
        EXPECT_EQ(c.nCreateCapturer, h.env.nCreateCapturer.load());
        EXPECT_TRUE(h.probe->ParameterCalls().empty());
        EXPECT_EQ(0u, h.probe->Captures());
        EXPECT_EQ(0u, h.env.nStartOverlay.load());
        EXPECT_EQ(1, h.Requested(0));  // never taken
        EXPECT_EQ(0, h.Ready(0));
        EXPECT_EQ(0, h.Header().iImageWidth);
        ExpectExitSteps(h, lines);
    }
}

}  // namespace
