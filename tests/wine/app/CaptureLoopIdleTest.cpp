// The capture loop while the host does not capture: resolution and monitor changes reported
// through bCaptureInvalidated; and the overlay start command, held back by bSuppressOverlayCommand.
#include "LoopHarness.h"

#include "ipc/HostObjectNames.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace looptest;

const std::string kMonitorChanged = LoopLine("monitor has been changed from \\\\.\\DISPLAY1 to \\\\.\\DISPLAY2");

struct ResolutionCase {
    const char* name;
    THooksRect region;
    int32_t width;  // the display's new size
    int32_t height;
    int32_t imageWidth;  // of the layout made at the start
};

TEST(CaptureLoopIdle, ResolutionChangeIsReportedOnEveryIdlePass)
{
    const ResolutionCase cases[] = {
        {"whole screen", {0, 0, 0, 0}, 1280, 720, 1920},
        {"region", {100, 100, 1000, 700}, 1280, 720, 896},
        {"height only", {0, 0, 0, 0}, 1920, 1200, 1920},
        {"width only", {100, 100, 1000, 700}, 2560, 1080, 896},
    };
    for (const ResolutionCase& c : cases) {
        SCOPED_TRACE(c.name);
        LoopHarness h;
        ASSERT_TRUE(h.Made());
        h.Header().CaptureRegion = c.region;
        ASSERT_NO_FATAL_FAILURE(h.Start());
        ASSERT_TRUE(h.WaitLooping());
        ASSERT_TRUE(WaitUntil([&] { return h.probe->CurrentSizeQueries() >= 3; }));
        EXPECT_EQ(0, h.CaptureInvalidated());

        h.probe->SetCurrentSize(c.width, c.height);
        ASSERT_TRUE(WaitUntil([&] { return h.CaptureInvalidated() != 0; }));
        const uint32_t queries = h.probe->CurrentSizeQueries();
        ASSERT_TRUE(WaitUntil([&] { return h.probe->CurrentSizeQueries() >= queries + 2; }));
        h.Stop();

        const std::vector<TLoggedLine> lines = h.Lines();
        const std::string changed = LoopLine("screen resolution has been changed to " + std::to_string(c.width) +
                                             "x" + std::to_string(c.height));
        EXPECT_GE(CountLines(lines, 0, changed), 2u);
        EXPECT_EQ(0u, CountText(lines, kMonitorChanged));
        // The layout of the start stays.
        EXPECT_EQ(1u, h.probe->ParameterCalls().size());
        EXPECT_EQ(c.imageWidth, h.Header().iImageWidth);
    }
}

TEST(CaptureLoopIdle, MonitorChangeIsReportedForTheWholeScreen)
{
    LoopHarness h;
    ASSERT_TRUE(h.Made());
    ASSERT_NO_FATAL_FAILURE(h.Start());
    ASSERT_TRUE(h.WaitLooping());
    ASSERT_TRUE(WaitUntil([&] { return h.env.nActiveMonitorQueries.load() >= 3; }));
    EXPECT_EQ(0, h.CaptureInvalidated());

    // No foreground monitor: nothing to report, the size is checked instead.
    h.env.SetActiveMonitor(L"");
    uint32_t queries = h.probe->CurrentSizeQueries();
    ASSERT_TRUE(WaitUntil([&] { return h.probe->CurrentSizeQueries() >= queries + 3; }));
    EXPECT_EQ(0, h.CaptureInvalidated());

    h.env.SetActiveMonitor(L"\\\\.\\DISPLAY2");
    ASSERT_TRUE(WaitUntil([&] { return h.CaptureInvalidated() != 0; }));
    // While the name differs the size is not looked at; the report repeats.
    h.probe->SetCurrentSize(1280, 720);
    queries = h.env.nActiveMonitorQueries.load();
    ASSERT_TRUE(WaitUntil([&] { return h.env.nActiveMonitorQueries.load() >= queries + 3; }));
    h.Stop();

    const std::vector<TLoggedLine> lines = h.Lines();
    EXPECT_GE(CountLines(lines, 3, kMonitorChanged), 2u);
    EXPECT_EQ(0u, CountText(lines, LoopLine("screen resolution has been changed to 1280x720")));
    // The name in the header stays the one of the start.
    EXPECT_EQ(u"\\\\.\\DISPLAY1", h.MonitorName());
}

TEST(CaptureLoopIdle, MonitorChangeIsIgnoredForARegion)
{
    LoopHarness h;
    ASSERT_TRUE(h.Made());
    h.Header().CaptureRegion = THooksRect{100, 100, 1000, 700};
    ASSERT_NO_FATAL_FAILURE(h.Start());
    ASSERT_TRUE(h.WaitLooping());
    h.env.SetActiveMonitor(L"\\\\.\\DISPLAY2");
    const uint32_t queries = h.probe->CurrentSizeQueries();
    ASSERT_TRUE(WaitUntil([&] { return h.probe->CurrentSizeQueries() >= queries + 3; }));
    EXPECT_EQ(0, h.CaptureInvalidated());
    h.Stop();

    EXPECT_EQ(0u, h.env.nActiveMonitorQueries.load());
    EXPECT_EQ(0u, CountText(h.Lines(), kMonitorChanged));
}

// The real command client opens the product's frame buffer under its global name: this one test
// names its section so (the suite holds the global-objects lock). No overlay process answers, so
// each command costs the client's 200 ms wait.
TEST(CaptureLoopOverlay, StartCommandIsSentOnceAfterSuppressionIsCleared)
{
    LoopHarness h(kFrameBufferMappingName);
    ASSERT_TRUE(h.Made());
    h.env.bRealCommandsClient = true;
    h.Header().bCaptureEnabled = 1;
    h.Header().bSuppressOverlayCommand = 1;
    h.Header().ui32OverlayCommand = 0xDEAD;
    h.Header().ui32OverlayCommandStatus = 0xBEEF;
    ASSERT_NO_FATAL_FAILURE(h.Start());
    ASSERT_TRUE(h.WaitLooping());
    ASSERT_TRUE(h.PassWarmUp(0));
    ASSERT_TRUE(h.Serve(1));
    EXPECT_EQ(0xDEADu, h.OverlayCommand());
    EXPECT_EQ(0xBEEFu, h.OverlayCommandStatus());

    h.SetSuppressOverlayCommand(false);
    const uint32_t pauses = h.env.nLongSleeps.load();
    ASSERT_TRUE(h.Serve(2));
    EXPECT_EQ(1u, h.OverlayCommand());
    EXPECT_EQ(0u, h.OverlayCommandStatus());
    EXPECT_EQ(pauses + 1, h.env.nLongSleeps.load());  // the pause after the command

    // Once per run: later frames send nothing.
    h.SetOverlayCommand(0xDEAD);
    ASSERT_TRUE(h.Serve(3));
    ASSERT_TRUE(h.Serve(4));
    EXPECT_EQ(0xDEADu, h.OverlayCommand());
    h.Stop();

    const std::vector<TLoggedLine> lines = h.Lines();
    EXPECT_EQ(1u, CountLines(lines, 0, "TFullscreenOverlayCommandsClient::SendCommand new command 1"));
    EXPECT_EQ(1u, h.env.nCommandsClients.load());
    EXPECT_EQ(1u, h.env.nStartOverlay.load());
    EXPECT_EQ(1u, h.env.nTerminateOverlay.load());
}

}  // namespace
