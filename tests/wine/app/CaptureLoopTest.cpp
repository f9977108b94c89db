// The capture loop against a fake capturer and clock: start-up (region, size, monitor, re-map,
// overlay, failed starts), the frame handshake (warm-up, slot order, single frames, first-frame
// event, time stamps, ready only after the whole image), the idle change reports (driven through
// the capturer interface: Xvfb's mode cannot be changed under Wine), the overlay command, the
// webcam hand-over and the shared-texture bookkeeping.
#include "LoopHarness.h"

#include "app/CapturePlan.h"
#include "ipc/HostObjectNames.h"
#include "ipc/WideText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace looptest;

constexpr THooksRect kRegion{100, 100, 1000, 700};

uint32_t CounterMilliseconds()
{
    LARGE_INTEGER frequency{};
    LARGE_INTEGER counter{};
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&counter);
    return capplan::CounterToMilliseconds(counter.QuadPart, frequency.QuadPart);
}

std::u16string MonitorName(const LoopHarness& h)
{
    return ReadHeaderWideString(h.Header(), ZYR_WIDE_FIELD(wszMonitorName));
}

// Stops the run; every run ends with its exit steps: overlay ended once, capture invalidated, the
// capturer destroyed, the exit line the loop's last.
void StopAndExpectExitSteps(LoopHarness& h)
{
    h.Stop();
    EXPECT_EQ(1u, h.env.nTerminateOverlay.load());
    EXPECT_EQ(1, h.Header().bCaptureInvalidated);
    EXPECT_EQ(h.env.nCreateCapturer > 0 && !h.env.bNoCapturer, h.probe.bDestroyed.load());
    std::string last;
    for (const TLoggedLine& line : h.Lines()) {
        last = line.strText.rfind(LoopLine(""), 0) == 0 ? line.strText : last;
    }
    EXPECT_EQ(LoopLine("exit"), last);
}

struct StartCase {
    const char* name;
    THooksRect region;
    int32_t requestedWidth, requestedHeight;
    int32_t displayWidth, displayHeight;  // of \\.\DISPLAY1
    const char16_t* headerMonitor;
    const wchar_t* activeMonitor;
    const char* error;  // the region's error line
    const wchar_t* monitor;  // given to Initialize and shown in the header afterwards
    int32_t sourceWidth, sourceHeight, imageWidth, imageHeight;
    Rect sourceAfter;
    bool bOverlay;
};

TEST(CaptureLoopStart, RegionSizeAndMonitorReachTheCapturerTheHeaderAndTheSlots)
{
    const Rect kWhole1{0, 0, 1920, 1080};
    const StartCase cases[] = {
        {"left < 0", {-1, 0, 100, 100}, -1, -1, 1920, 1080, u"\\\\.\\DISPLAY1", L"\\\\.\\DISPLAY2",
         "invalid region left position", L"\\\\.\\DISPLAY1", 1920, 1080, 1920, 1080, kWhole1, true},
        {"bottom = height + 1", {0, 0, 1920, 1081}, -1, -1, 1920, 1080, u"\\\\.\\DISPLAY1", L"", 
         "invalid region bottom position", L"\\\\.\\DISPLAY1", 1920, 1080, 1920, 1080, kWhole1, true},
        {"right <= left", {500, 100, 400, 700}, -1, -1, 1920, 1080, u"\\\\.\\DISPLAY1", L"",
         "invalid region, right <= left or bottom <= top", L"\\\\.\\DISPLAY1", 1920, 1080, 1920, 1080, kWhole1, true},
        {"region on the header's monitor", kRegion, -1, -1, 1920, 1080, u"\\\\.\\DISPLAY2", L"\\\\.\\DISPLAY1",
         nullptr, L"\\\\.\\DISPLAY2", 1280, 1024, 896, 600, ToRect(kRegion), false},
        {"requested size with a region", {8, 8, 1000, 700}, 1283, 719, 1920, 1080, u"\\\\.\\DISPLAY1", L"", nullptr,
         L"\\\\.\\DISPLAY1", 1920, 1080, 1283, 719, Rect{8, 8, 1000, 700}, false},
        {"whole 1366 x 768: safe size", {0, 0, 0, 0}, -1, -1, 1366, 768, u"\\\\.\\OLD", L"\\\\.\\DISPLAY1", nullptr,
         L"\\\\.\\DISPLAY1", 1366, 768, 1360, 768, Rect{0, 0, 1366, 768}, true},
        {"whole: the active application's monitor", {0, 0, 0, 0}, 1280, 720, 1920, 1080, u"\\\\.\\OLD",
         L"\\\\.\\DISPLAY2", nullptr, L"\\\\.\\DISPLAY2", 1280, 1024, 1280, 720, Rect{0, 0, 1280, 1024}, true},
        {"whole, no active monitor: the primary", {0, 0, 0, 0}, -1, -1, 1920, 1080, u"\\\\.\\OLD", L"", nullptr, L"",
         1920, 1080, 1920, 1080, kWhole1, true},
    };
    for (const StartCase& c : cases) {
        SCOPED_TRACE(c.name);
        LoopHarness h;
        h.probe.displays[0].iWidth = c.displayWidth;
        h.probe.displays[0].iHeight = c.displayHeight;
        h.Header().CaptureRegion = c.region;
        h.Header().iRequestedWidth = c.requestedWidth;
        h.Header().iRequestedHeight = c.requestedHeight;
        WriteHeaderWideString(h.Header(), ZYR_WIDE_FIELD(wszMonitorName), c.headerMonitor);
        h.env.SetActiveMonitor(c.activeMonitor);
        ASSERT_TRUE(h.Start());
        StopAndExpectExitSteps(h);

        const std::vector<TLoggedLine> lines = h.Lines();
        size_t errors = 0;
        for (const TLoggedLine& line : lines) {
            errors += line.ui32Type == 2 ? 1 : 0;
        }
        EXPECT_EQ(c.error ? 1u : 0u, errors);
        if (c.error) {
            EXPECT_EQ(1u, CountLines(lines, 2, LoopLine(c.error)));
        }
        const std::string size = std::to_string(c.imageWidth) + " x " + std::to_string(c.imageHeight);
        EXPECT_EQ(1u, CountLines(lines, 0, LoopLine("safe image size " + size)));
        EXPECT_EQ(std::vector<std::wstring>{c.monitor}, h.probe.initializeNames);
        EXPECT_EQ(ToU16(c.monitor), MonitorName(h));
        EXPECT_EQ(c.sourceWidth, h.Header().iSourceWidth);
        EXPECT_EQ(c.sourceHeight, h.Header().iSourceHeight);
        EXPECT_EQ(8, h.Header().iFrameSource);
        EXPECT_EQ(c.imageWidth, h.Header().iImageWidth);
        EXPECT_EQ(c.imageHeight, h.Header().iImageHeight);
        ASSERT_EQ(1u, h.probe.parameterCalls.size());
        const ParametersCall& call = h.probe.parameterCalls[0];
        EXPECT_EQ(c.imageWidth, call.iWidth);
        EXPECT_EQ(c.imageHeight, call.iHeight);
        EXPECT_EQ(c.error ? Rect{} : ToRect(c.region), call.source);
        EXPECT_EQ(c.sourceAfter, call.sourceAfter);
        // The re-map laid the slots out for the frame size.
        for (size_t slot = 0; slot < kFrameSlotCount; ++slot) {
            const TAreaView area = h.View().FrameSlot(slot);
            EXPECT_TRUE(area.IsValid() && area.ui32Width == static_cast<uint32_t>(c.imageWidth) &&
                        area.ui32Rows == static_cast<uint32_t>(c.imageHeight))
                << "slot " << slot;
        }
        // The overlay is started for the whole screen only.
        EXPECT_EQ(c.bOverlay ? 1u : 0u, h.env.nStartOverlay.load());
        EXPECT_EQ(c.bOverlay ? 1u : 0u, h.env.nCommandsClients.load());
        EXPECT_EQ(c.bOverlay ? 0 : 0x5A, h.Header().bOverlayStatus);
    }
}

struct FailedStartCase {
    const char* name;
    uint32_t nMethod;
    bool bNoCapturer, bFailInitialize;
    int32_t maxWidth;
    uint32_t type;
    const char* line;
    uint32_t nCreateCapturer;
};

TEST(CaptureLoopStart, FailedStartsEndWithoutFramesThroughTheExitSteps)
{
    const FailedStartCase cases[] = {
        {"capacity refused", 1, false, false, 640, 2,
         "the frame buffer has no layout for 1920 x 1080 frames, no frames will be captured", 1},
        {"unknown capture method 7", 7, false, false, 1920, 2, "unknown capture method 7", 0},
        {"no capturer for the method", 0, true, false, 1920, 0, "unable to initialize pFullscreenCapturer", 1},
        {"Initialize fails", 1, false, true, 1920, 0, "unable to initialize pFullscreenCapturer", 1},
    };
    for (const FailedStartCase& c : cases) {
        SCOPED_TRACE(c.name);
        LoopHarness h;
        h.env.bNoCapturer = c.bNoCapturer;
        h.probe.bFailInitialize = c.bFailInitialize;
        h.Header().iMaxWidth = c.maxWidth;
        h.Header().bCaptureEnabled = 1;
        h.Header().bFrameRequested[0] = 1;
        ASSERT_TRUE(h.Start(c.nMethod));
        ASSERT_TRUE(h.WaitEnded()) << "the run ends without the stop flag";
        StopAndExpectExitSteps(h);

        EXPECT_EQ(1u, CountLines(h.Lines(), c.type, LoopLine(c.line)));
        EXPECT_EQ(c.nCreateCapturer, h.env.nCreateCapturer.load());
        EXPECT_TRUE(h.probe.parameterCalls.empty());
        EXPECT_EQ(0u, h.probe.nStarted.load());
        EXPECT_EQ(0u, h.env.nStartOverlay.load());
        EXPECT_EQ(0, h.Ready(0));
        EXPECT_EQ(0, h.Header().iImageWidth);  // the host sees 0 x 0
    }
}

TEST(CaptureLoopFrames, WarmUpCapturesButPublishesNothingForTwoSeconds)
{
    LoopHarness h;
    h.env.tick = 0xFFFFFF00u;  // the warm-up runs across the wrap of the 32-bit tick count
    h.Header().bCaptureEnabled = 1;
    ASSERT_TRUE(h.Start());
    h.Request(0);
    ASSERT_TRUE(WaitUntil([&] { return h.probe.nCompleted >= 3; }));
    h.env.tick += capplan::kWarmUpMs - 1;
    const uint32_t seen = h.probe.nCompleted;
    // Two more captures: at least one whole pass saw the new time.
    ASSERT_TRUE(WaitUntil([&] { return h.probe.nCompleted >= seen + 2; }));
    EXPECT_EQ(0, h.Ready(0));
    EXPECT_EQ(1, h.Requested(0));
    EXPECT_EQ(0u, h.Timestamp(0));
    EXPECT_FALSE(h.FirstFrameEventSet());
    EXPECT_GE(h.env.nLongSleeps.load(), seen);  // a 100 ms pause after each capture inside the warm-up

    h.env.tick += 1;
    ASSERT_TRUE(WaitUntil([&] { return h.Ready(0) != 0; }));
    const uint32_t published = h.probe.nCompleted;
    EXPECT_EQ(0, h.Requested(0));
    EXPECT_NE(0u, h.Timestamp(0));
    EXPECT_TRUE(h.SlotHoldsFrame(0, published));
    EXPECT_TRUE(h.FirstFrameEventSet());
    // Slot 1 is served at once: one capture, no second warm-up.
    ASSERT_TRUE(h.Serve(1));
    EXPECT_EQ(published + 1, h.probe.nCompleted.load());
    h.Stop();
    const std::vector<TLoggedLine> lines = h.Lines();
    EXPECT_GE(CountLines(lines, 0, LoopLine("skipping frame 2000 ms left")), 1u);
    EXPECT_GE(CountLines(lines, 0, LoopLine("skipping frame 1 ms left")), 1u);
    EXPECT_EQ(0u, CountLines(lines, 0, LoopLine("skipping frame 0 ms left")));
}

TEST(CaptureLoopFrames, SlotsAreServedStrictlyInOrderWithRisingTimestamps)
{
    LoopHarness h;
    h.Header().bCaptureEnabled = 1;
    // Slot 1 has a host texture (its low 32 bits count); none opens, so it goes through memory.
    h.Header().ui64SharedTextureHandles[1] = 0xFFFFFFFF12345678ull;
    ASSERT_TRUE(h.Start());
    ASSERT_TRUE(h.PassWarmUp(0));
    const uint32_t first = h.probe.nCompleted;

    // Slot 1 is current: a request for slot 3 waits, however long.
    h.Request(3);
    const uint32_t polls = h.env.nPollSleeps;
    ASSERT_TRUE(WaitUntil([&] { return h.env.nPollSleeps >= polls + 20; }));
    EXPECT_EQ(0, h.Ready(3));
    EXPECT_EQ(first, h.probe.nCompleted.load());
    ASSERT_TRUE(h.Serve(1));
    ASSERT_TRUE(h.Serve(2));
    // Slot 3 was asked for long ago: it follows slot 2 without a new request.
    ASSERT_TRUE(WaitUntil([&] { return h.Ready(3) != 0; }));
    h.Set<uint8_t>(HDR(bFrameReady) + 3, 0);
    EXPECT_TRUE(h.SlotHoldsFrame(1, first + 1));
    EXPECT_TRUE(h.SlotHoldsFrame(3, first + 3));

    // Round again, each stamp the counter's milliseconds between the request and the ready flag
    // (so they never fall).
    uint32_t frame = first + 3;
    for (const size_t slot : {4u, 5u, 0u, 1u, 2u}) {
        SCOPED_TRACE("slot " + std::to_string(slot));
        const uint32_t before = CounterMilliseconds();
        ASSERT_TRUE(h.Serve(slot));
        const uint32_t after = CounterMilliseconds();
        EXPECT_TRUE(h.SlotHoldsFrame(slot, ++frame));
        EXPECT_LE(h.Timestamp(slot) - before, after - before) << before << " .. " << after;
    }
    EXPECT_EQ(std::vector<uint64_t>{0x12345678}, h.probe.Copy(h.probe.sharedHandles)) << "opened once per run";
}

TEST(CaptureLoopFrames, SingleFrameWithCaptureDisabledKeepsTheSlot)
{
    LoopHarness h;
    ASSERT_TRUE(h.Start());
    h.Set<int32_t>(HDR(iSingleFrameState), 1);
    ASSERT_TRUE(h.PassWarmUp(0));
    uint32_t frame = h.probe.nCompleted;
    EXPECT_EQ(0, h.Get<int32_t>(HDR(iSingleFrameState)));
    EXPECT_TRUE(h.SlotHoldsFrame(0, frame));
    EXPECT_FALSE(h.FirstFrameEventSet()) << "set only while capture is enabled";

    // Exactly one frame; the slot did not move: a single frame into slot 1 waits, one into 0 is served.
    h.Set<int32_t>(HDR(iSingleFrameState), 1);
    h.Request(1);
    const uint32_t polls = h.env.nPollSleeps;
    ASSERT_TRUE(WaitUntil([&] { return h.env.nPollSleeps >= polls + 20; }));
    EXPECT_EQ(0, h.Ready(1));
    EXPECT_EQ(frame, h.probe.nCompleted.load());
    ASSERT_TRUE(h.Serve(0));
    EXPECT_TRUE(h.SlotHoldsFrame(0, ++frame));
    EXPECT_EQ(0, h.Get<int32_t>(HDR(iSingleFrameState)));
    EXPECT_EQ(0, h.Ready(1));
    EXPECT_FALSE(h.FirstFrameEventSet());

    // Capture enabled: slot 0 is still current and sets the event; the pending slot 1 follows.
    h.Set<uint8_t>(HDR(bCaptureEnabled), 1);
    ASSERT_TRUE(h.Serve(0));
    EXPECT_TRUE(h.FirstFrameEventSet());
    ASSERT_TRUE(WaitUntil([&] { return h.Ready(1) != 0; }));
    EXPECT_TRUE(h.SlotHoldsFrame(0, frame + 1));
    EXPECT_TRUE(h.SlotHoldsFrame(1, frame + 2));
}

TEST(CaptureLoopFrames, ReadyIsSetOnlyAfterTheWholeImage)
{
    LoopHarness h;
    h.Header().bCaptureEnabled = 1;
    ASSERT_TRUE(h.Start());
    ASSERT_TRUE(h.PassWarmUp(0));
    const uint32_t frame = h.probe.nCompleted + 1;
    for (const bool bSingle : {false, true}) {
        SCOPED_TRACE(bSingle ? "single frame" : "frame");
        const size_t slot = bSingle ? 2 : 1;
        h.probe.bGateArmed = true;
        if (bSingle) {
            h.Set<int32_t>(HDR(iSingleFrameState), 1);
        }
        h.Request(slot);
        ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(h.probe.hGateEntered.Get(), kWaitMs));
        ::ResetEvent(h.probe.hGateEntered.Get());
        const TAreaView area = h.View().FrameSlot(slot);
        ASSERT_TRUE(area.IsValid());
        EXPECT_EQ(0, h.Requested(slot)) << "the request is taken before the capture";
        EXPECT_EQ(0, h.Ready(slot));
        EXPECT_EQ(bSingle ? 2 : 0, h.Get<int32_t>(HDR(iSingleFrameState)));
        const uint32_t* pLastRow = reinterpret_cast<const uint32_t*>(area.pData + (area.ui32Rows - 1) * area.ui32Stride);
        EXPECT_NE(PatternPixel(frame + bSingle, 5, area.ui32Rows - 1), pLastRow[5]);
        ::SetEvent(h.probe.hGateRelease.Get());
        ASSERT_TRUE(WaitUntil([&] { return h.Ready(slot) != 0; }));
        ::ResetEvent(h.probe.hGateRelease.Get());
        EXPECT_TRUE(h.SlotHoldsFrame(slot, frame + bSingle));
        EXPECT_EQ(0, h.Get<int32_t>(HDR(iSingleFrameState)));
        h.Set<uint8_t>(HDR(bFrameReady) + slot, 0);
    }
}

struct IdleCase {
    const char* name;
    THooksRect region;
    const wchar_t* activeMonitor;  // from now on
    int32_t width, height;         // the display's size from now on
    uint32_t type;
    const char* report;  // repeated on every idle pass; null: none
};

TEST(CaptureLoopIdle, ChangesAreReportedOnEveryIdlePass)
{
    const IdleCase cases[] = {
        {"resolution", {0, 0, 0, 0}, L"\\\\.\\DISPLAY1", 1280, 720, 0, "screen resolution has been changed to 1280x720"},
        {"width of a region's display", kRegion, L"\\\\.\\DISPLAY1", 2560, 1080, 0,
         "screen resolution has been changed to 2560x1080"},
        {"height, no active monitor", {0, 0, 0, 0}, L"", 1920, 1200, 0,
         "screen resolution has been changed to 1920x1200"},
        // While the monitor differs the size is not looked at.
        {"monitor", {0, 0, 0, 0}, L"\\\\.\\DISPLAY2", 1280, 720, 3,
         "monitor has been changed from \\\\.\\DISPLAY1 to \\\\.\\DISPLAY2"},
        {"monitor, region: ignored", kRegion, L"\\\\.\\DISPLAY2", 1920, 1080, 0, nullptr},
    };
    for (const IdleCase& c : cases) {
        SCOPED_TRACE(c.name);
        LoopHarness h;
        h.Header().CaptureRegion = c.region;
        ASSERT_TRUE(h.Start());
        ASSERT_TRUE(WaitUntil([&] { return h.env.nLongSleeps >= 3; }));
        EXPECT_EQ(0, h.Get<uint8_t>(HDR(bCaptureInvalidated)));
        h.env.SetActiveMonitor(c.activeMonitor);
        h.probe.ui64CurrentSize = uint64_t(c.width) << 32 | uint32_t(c.height);
        if (c.report) {
            ASSERT_TRUE(WaitUntil([&] { return h.Get<uint8_t>(HDR(bCaptureInvalidated)) != 0; }));
        }
        const uint32_t passes = h.env.nLongSleeps;
        ASSERT_TRUE(WaitUntil([&] { return h.env.nLongSleeps >= passes + 3; }));
        EXPECT_EQ(c.report ? 1 : 0, h.Get<uint8_t>(HDR(bCaptureInvalidated)));
        h.Stop();

        size_t changes = 0;
        for (const TLoggedLine& line : h.Lines()) {
            changes += line.strText.find("has been changed") != std::string::npos ? 1 : 0;
        }
        const size_t reports = c.report ? CountLines(h.Lines(), c.type, LoopLine(c.report)) : 0;
        EXPECT_GE(reports, c.report ? 2u : 0u);
        EXPECT_EQ(reports, changes) << "no other report";
        EXPECT_EQ(u"\\\\.\\DISPLAY1", MonitorName(h)) << "the name of the start stays";
        EXPECT_EQ(1u, h.probe.parameterCalls.size()) << "the layout of the start stays";
        EXPECT_EQ(c.region.right == 0, h.env.nActiveMonitorQueries > 0) << "a region never follows the monitor";
    }
}

// The real command client opens the product's frame buffer under its global name, so this test's
// section carries it (the suite holds the global-objects lock). No overlay process answers: each
// command costs the client's 200 ms wait.
TEST(CaptureLoopOverlay, StartCommandIsSentOnceAfterSuppressionIsCleared)
{
    LoopHarness h(kFrameBufferMappingName);
    h.env.bRealCommandsClient = true;
    h.Header().bCaptureEnabled = 1;
    h.Header().bSuppressOverlayCommand = 1;
    h.Header().ui32OverlayCommand = 0xDEAD;
    ASSERT_TRUE(h.Start());
    ASSERT_TRUE(h.PassWarmUp(0));
    ASSERT_TRUE(h.Serve(1));
    EXPECT_EQ(0xDEADu, h.Get<uint32_t>(HDR(ui32OverlayCommand)));

    h.Set<uint8_t>(HDR(bSuppressOverlayCommand), 0);
    const uint32_t pauses = h.env.nLongSleeps;
    ASSERT_TRUE(h.Serve(2));
    EXPECT_EQ(1u, h.Get<uint32_t>(HDR(ui32OverlayCommand)));
    EXPECT_EQ(pauses + 1, h.env.nLongSleeps.load()) << "the pause after the command";
    h.Set<uint32_t>(HDR(ui32OverlayCommand), 0xDEAD);
    ASSERT_TRUE(h.Serve(3));
    ASSERT_TRUE(h.Serve(4));
    EXPECT_EQ(0xDEADu, h.Get<uint32_t>(HDR(ui32OverlayCommand))) << "once per run";
    StopAndExpectExitSteps(h);
    EXPECT_EQ(1u, CountLines(h.Lines(), 0, "TFullscreenOverlayCommandsClient::SendCommand new command 1"));
}

TEST(CaptureLoopExtras, WebCamImagesGoToTheCapturerWithEachFrameUnlessTheirMutexIsBusy)
{
    LoopHarness h;
    TFrameBufferHeader& header = h.Header();
    header.ui32CaptureMethod = 0;  // DXGI: the webcam is composited
    header.bCaptureEnabled = 1;
    header.webcamWidth = 640;
    header.webcamHeight = 480;
    header.dWebCamLeft = header.dWebCamTop = 0.7;
    header.dWebCamWidth = header.dWebCamHeight = 0.25;
    header.WebCamImage.fShaderParam = 0.75f;
    header.UseChromaKeying = 1;
    header.bUseWebCamBackground = 1;
    ASSERT_TRUE(h.Start(0));
    EXPECT_TRUE(h.probe.Copy(h.probe.parameterCalls).at(0).bDrawOverlays);
    const Rect source = ToRect(header.WebCamSourceRect);
    const TAreaView webcam = h.View().WebCamArea();
    const TAreaView background = h.View().WebCamBackgroundArea();
    ASSERT_TRUE(webcam.IsValid() && background.IsValid());
    *reinterpret_cast<uint32_t*>(webcam.pData) = 0xCAFE0001u;
    *reinterpret_cast<uint32_t*>(background.pData) = 0xBAC60002u;

    // Frames captured inside the warm-up get no webcam; the published one gets both images.
    ASSERT_TRUE(h.PassWarmUp(0));
    std::vector<WebCamCall> calls = h.probe.Copy(h.probe.webCamCalls);
    ASSERT_EQ(2u, calls.size());
    const Rect target = ToRect(header.CalculateWebCamTargetRect(header.WebCamDisplayMode));
    const int32_t width = source.right - source.left;
    const int32_t height = source.bottom - source.top;
    ASSERT_GT(width * height, 0);
    for (const WebCamCall& call : calls) {
        SCOPED_TRACE(call.bBackground ? "background" : "webcam");
        EXPECT_EQ(call.bBackground ? 0xBAC60002u : 0xCAFE0001u, call.ui32FirstPixel);
        EXPECT_EQ(width, call.iWidth);
        EXPECT_EQ(height, call.iHeight);
        EXPECT_EQ(call.bBackground ? background.ui32Stride : webcam.ui32Stride, call.ui32Stride);
        EXPECT_EQ(target, call.target);
        EXPECT_EQ(1u, call.ui32InUse) << "marked in use during the call";
    }
    EXPECT_FALSE(calls[0].bBackground);  // chroma keying: the shader takes its own parameter
    EXPECT_EQ((std::vector<float>{12.5f, float(width), float(height), 0.0f}), calls[0].shaderData);
    EXPECT_EQ(0u, header.WebCamImage.ui32InUse);
    EXPECT_EQ(0u, header.WebCamBackgroundImage.ui32InUse);

    // A busy mutex costs its image of that frame only.
    size_t n = calls.size();
    size_t slot = 1;
    for (const int key : {kAccessMutexWebCam, kAccessMutexWebCamBackground}) {
        ASSERT_TRUE(h.HoldAccessMutex(key));
        ASSERT_TRUE(h.Serve(slot++));
        h.ReleaseAccessMutex(key);
        calls = h.probe.Copy(h.probe.webCamCalls);
        ASSERT_EQ(++n, calls.size());
        EXPECT_EQ(key == kAccessMutexWebCam, calls.back().bBackground);
    }
    ASSERT_TRUE(h.Serve(slot));
    EXPECT_EQ(n + 2, h.probe.Copy(h.probe.webCamCalls).size());
}

}  // namespace
