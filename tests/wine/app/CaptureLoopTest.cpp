// The capture loop against a fake capturer and clock: start-up (region, size, monitor, re-map,
// overlay, failed starts), the frame handshake (warm-up, slot order, single frames, first-frame
// event, time stamps, ready only after the whole image), the idle change reports (driven through
// the capturer interface: Xvfb's mode cannot be changed under Wine), the overlay command, the
// webcam hand-over, and the cursor step over the scene.
#include "CursorTestSupport.h"
#include "LoopHarness.h"
#include "SceneTestSupport.h"

#include "app/CapturePlan.h"
#include "app/TZYRFullscreenCapturer.h"
#include "ipc/HostObjectNames.h"

#include <gtest/gtest.h>

#include <d3d11.h>
#include <wrl/client.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

namespace {

using namespace looptest;

constexpr THooksRect kRegion{100, 100, 1000, 700};
constexpr THooksRect kWhole{0, 0, 0, 0};
constexpr Rect kDisplay1Rect{0, 0, 1920, 1080};
const wchar_t kDisplay1[] = L"\\\\.\\DISPLAY1";
const wchar_t kDisplay2[] = L"\\\\.\\DISPLAY2";

uint32_t CounterMilliseconds()
{
    LARGE_INTEGER frequency{}, counter{};
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&counter);
    return capplan::CounterToMilliseconds(counter.QuadPart, frequency.QuadPart);
}

// Stops the run, which ends with its exit steps: overlay ended once, capture invalidated, the
// capturer destroyed, the exit line the loop's last.
void StopAndExpectExitSteps(LoopHarness& h)
{
    h.Stop();
    EXPECT_EQ(1u, h.fake.nTerminateOverlay.load());
    EXPECT_EQ(1, h.Header().bCaptureInvalidated);
    EXPECT_EQ(h.fake.nCreateCapturer > 0 && !h.fake.bNoCapturer, h.fake.bDestroyed.load());
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
    const wchar_t* headerMonitor;
    const wchar_t* activeMonitor;
    const char* error;                    // the region's error line
    const wchar_t* monitor;               // captured, and in the header afterwards
    std::array<int32_t, 4> sourceAndImage;  // source width and height, image width and height
    Rect sourceAfter;
};

TEST(CaptureLoopStart, RegionSizeAndMonitorReachTheCapturerTheHeaderAndTheSlots)
{
    const StartCase cases[] = {
        {"left < 0", {-1, 0, 100, 100}, -1, -1, kDisplay1, kDisplay2, "invalid region left position", kDisplay1,
         {1920, 1080, 1920, 1080}, kDisplay1Rect},
        {"right <= left", {500, 100, 400, 700}, -1, -1, kDisplay1, L"",
         "invalid region, right <= left or bottom <= top", kDisplay1, {1920, 1080, 1920, 1080}, kDisplay1Rect},
        {"region on the header's monitor: safe size", kRegion, -1, -1, kDisplay2, kDisplay1, nullptr, kDisplay2,
         {1280, 1024, 896, 600}, ToRect(kRegion)},
        {"requested size, region", {8, 8, 1000, 700}, 1283, 719, kDisplay1, L"", nullptr, kDisplay1,
         {1920, 1080, 1283, 719}, Rect{8, 8, 1000, 700}},
        {"whole: the active application's monitor", kWhole, 1280, 720, L"OLD", kDisplay2, nullptr, kDisplay2,
         {1280, 1024, 1280, 720}, Rect{0, 0, 1280, 1024}},
        {"whole, no active monitor: the primary", kWhole, -1, -1, L"OLD", L"", nullptr, L"",
         {1920, 1080, 1920, 1080}, kDisplay1Rect},
    };
    for (const StartCase& c : cases) {
        SCOPED_TRACE(c.name);
        LoopHarness h;
        h.fake.pActiveMonitor = c.activeMonitor;
        TFrameBufferHeader& header = h.Header();
        header.CaptureRegion = c.region;
        header.iRequestedWidth = c.requestedWidth;
        header.iRequestedHeight = c.requestedHeight;
        h.SetMonitorName(c.headerMonitor);
        ASSERT_TRUE(h.Start());
        StopAndExpectExitSteps(h);

        const std::vector<TLoggedLine> lines = h.Lines();
        EXPECT_EQ(c.error ? 1 : 0, std::count_if(lines.begin(), lines.end(), [](auto& l) { return l.ui32Type == 2; }));
        EXPECT_EQ(c.error ? 1u : 0u, CountLines(lines, 2, LoopLine(c.error ? c.error : "")));
        const auto [sourceWidth, sourceHeight, width, height] = c.sourceAndImage;
        EXPECT_EQ(1u, CountLines(lines, 0, LoopLine("safe image size " + std::to_string(width) + " x " +
                                                    std::to_string(height))));
        EXPECT_EQ(c.monitor, h.MonitorName());
        EXPECT_EQ(c.sourceAndImage,
                  (std::array{header.iSourceWidth, header.iSourceHeight, header.iImageWidth, header.iImageHeight}));
        const ParametersCall call{width, height, c.error ? Rect{} : ToRect(c.region), c.sourceAfter, false};
        EXPECT_EQ(std::vector{call}, h.fake.parameterCalls);
        for (size_t slot = 0; slot < kFrameSlotCount; ++slot) {  // the re-map laid the slots out for the size
            const TAreaView area = h.View().FrameSlot(slot);
            EXPECT_TRUE(area.IsValid() && int32_t(area.ui32Width) == width && int32_t(area.ui32Rows) == height) << slot;
        }
        // The overlay is started for the whole screen only.
        const bool bOverlay = c.error || c.region.right == 0;
        EXPECT_EQ(bOverlay ? 1u : 0u, h.fake.nStartOverlay.load());
        EXPECT_EQ(bOverlay ? 1u : 0u, h.fake.nCommandsClients.load());
        EXPECT_EQ(bOverlay ? 0 : 0x5A, header.bOverlayStatus);
    }
}

struct FailedStartCase {
    const char* name;
    uint32_t nMethod;
    bool bNoCapturer, bFailInitialize;
    int32_t maxWidth;
    uint32_t type;
    const char* line;
};

TEST(CaptureLoopStart, FailedStartsEndWithoutFramesThroughTheExitSteps)
{
    const FailedStartCase cases[] = {
        {"capacity refused", 1, false, false, 640, 2,
         "the frame buffer has no layout for 1920 x 1080 frames, no frames will be captured"},
        {"unknown capture method 7", 7, false, false, 1920, 2, "unknown capture method 7"},
        {"no capturer for the method", 0, true, false, 1920, 0, "unable to initialize pFullscreenCapturer"},
        {"Initialize fails", 1, false, true, 1920, 0, "unable to initialize pFullscreenCapturer"},
    };
    for (const FailedStartCase& c : cases) {
        SCOPED_TRACE(c.name);
        LoopHarness h;
        h.fake.bNoCapturer = c.bNoCapturer;
        h.fake.bFailInitialize = c.bFailInitialize;
        h.Header().iMaxWidth = c.maxWidth;
        h.Header().bCaptureEnabled = 1;
        h.Header().bFrameRequested[0] = 1;
        ASSERT_TRUE(h.Start(c.nMethod));
        ASSERT_TRUE(h.WaitEnded()) << "the run ends without the stop flag";
        StopAndExpectExitSteps(h);
        EXPECT_EQ(1u, CountLines(h.Lines(), c.type, LoopLine(c.line)));
        EXPECT_EQ(c.nMethod == 7 ? 0u : 1u, h.fake.nCreateCapturer.load());
        EXPECT_TRUE(h.fake.parameterCalls.empty());
        EXPECT_EQ(0u, h.fake.nCompleted.load());
        EXPECT_EQ(0, h.Header().iImageWidth);  // the host sees 0 x 0
    }
}

// A slot whose texture opened gets every frame there, through the capturer, and its memory is
// never written; the texture is opened once for the run and released when the run ends. A slot
// whose handle opens nothing goes through memory.
TEST(CaptureLoopFrames, AnOpenedHostTextureTakesItsSlotsFramesAndGoesWithTheRun)
{
    Microsoft::WRL::ComPtr<ID3D11Device> pDevice;
    ASSERT_EQ(S_OK, ::D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION,
                                        pDevice.GetAddressOf(), nullptr, nullptr));
    D3D11_TEXTURE2D_DESC desc = {};
    desc.Width = desc.Height = 16;
    desc.MipLevels = desc.ArraySize = 1;
    desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    desc.SampleDesc = {1, 0};
    desc.BindFlags = D3D11_BIND_SHADER_RESOURCE;
    Microsoft::WRL::ComPtr<ID3D11Texture2D> pTexture;
    ASSERT_EQ(S_OK, pDevice->CreateTexture2D(&desc, nullptr, pTexture.GetAddressOf()));
    {
        LoopHarness h;
        h.fake.pTexture = pTexture.Get();
        h.Header().bCaptureEnabled = 1;
        h.Header().ui64SharedTextureHandles[2] = kOpenableHandle;
        h.Header().ui64SharedTextureHandles[4] = 0x43;
        ASSERT_TRUE(h.Start());
        ASSERT_TRUE(h.PassWarmUp(0));
        for (const size_t slot : {1u, 2u, 3u, 4u, 5u, 0u, 1u, 2u}) {
            ASSERT_TRUE(h.Serve(slot));
        }
        h.Stop();
        EXPECT_EQ(h.fake.sharedHandles, (std::vector<uint64_t>{kOpenableHandle, 0x43})) << "opened once per slot";
        // Slot 2 was served twice; the capturer wrote no pixel of it.
        const size_t nWithTexture = std::count_if(h.fake.captures.begin(), h.fake.captures.end(),
                                                  [&](const CaptureCall& call) { return call.pTexture != nullptr; });
        EXPECT_EQ(nWithTexture, 2u);
        EXPECT_TRUE(std::all_of(h.fake.captures.begin(), h.fake.captures.end(), [&](const CaptureCall& call) {
            return call.pTexture == nullptr || call.pTexture == pTexture.Get();
        }));
        const TAreaView slot2 = h.View().FrameSlot(2);
        ASSERT_TRUE(slot2.IsValid());
        EXPECT_TRUE(std::all_of(slot2.pData, slot2.pData + size_t{slot2.ui32Stride} * slot2.ui32Rows,
                                [](uint8_t b) { return b == 0; }))
            << "the texture's slot was written";
        // Served fourth from the end.
        EXPECT_TRUE(h.SlotHoldsFrame(4, h.fake.nCompleted - 4)) << "the slot whose handle opened nothing";
    }
    pTexture->AddRef();
    EXPECT_EQ(1u, pTexture->Release()) << "the run kept a reference to the host's texture";
}

// One run as a host plays it.
TEST(CaptureLoopFrames, WarmUpSlotOrderTimeStampsReadyAfterTheWholeImageAndSingleFrames)
{
    LoopHarness h;
    h.fake.tick = 0xFFFFFF00u;  // the warm-up runs across the wrap of the 32-bit tick count
    h.Header().bCaptureEnabled = 1;
    // Slot 1 has a host texture (its low 32 bits count); none opens, so it goes through memory.
    h.Header().ui64SharedTextureHandles[1] = 0xFFFFFFFF12345678ull;
    ASSERT_TRUE(h.Start());
    // The warm-up: captures, each followed by a 100 ms pause, but nothing published for 2,000 ms.
    h.Request(0);
    ASSERT_TRUE(WaitUntil([&] { return h.fake.nCompleted >= 3; }));
    h.fake.tick += capplan::kWarmUpMs - 1;
    const uint32_t seen = h.fake.nCompleted;
    // Two more captures: at least one whole pass saw the new time.
    ASSERT_TRUE(WaitUntil([&] { return h.fake.nCompleted >= seen + 2; }));
    EXPECT_EQ(0, h.Ready(0));
    EXPECT_EQ(0u, h.Timestamp(0));
    EXPECT_FALSE(h.TakeFirstFrameEvent());
    EXPECT_GE(h.fake.nLongSleeps.load(), seen);
    h.fake.tick += 1;
    ASSERT_TRUE(WaitUntil([&] { return h.Ready(0) != 0; }));
    uint32_t frame = h.fake.nCompleted;
    EXPECT_TRUE(h.SlotHoldsFrame(0, frame));
    EXPECT_TRUE(h.TakeFirstFrameEvent());
    h.Set<uint8_t>(HDR(bFrameReady), 0);

    // Slot 1 is current: a request for slot 3 waits, however long, and follows slot 2 by itself.
    h.Request(3);
    ASSERT_TRUE(h.WaitPolls());
    EXPECT_EQ(0, h.Ready(3));
    EXPECT_EQ(frame, h.fake.nCompleted.load());
    ASSERT_TRUE(h.Serve(1));
    ASSERT_TRUE(h.Serve(2));
    ASSERT_TRUE(WaitUntil([&] { return h.Ready(3) != 0; }));
    h.Set<uint8_t>(HDR(bFrameReady) + 3, 0);
    EXPECT_TRUE(h.SlotHoldsFrame(1, frame + 1));
    EXPECT_TRUE(h.SlotHoldsFrame(3, frame += 3));
    // Round again, each stamp the counter's milliseconds between request and ready (so never falling).
    for (const size_t slot : {4u, 5u, 0u, 1u}) {
        const uint32_t before = CounterMilliseconds();
        ASSERT_TRUE(h.Serve(slot));
        EXPECT_LE(h.Timestamp(slot) - before, CounterMilliseconds() - before) << "slot " << slot;
        EXPECT_TRUE(h.SlotHoldsFrame(slot, ++frame));
    }

    // Ready only after the whole image: the capturer stops half way through slot 2, then a single
    // frame into slot 3 with capture disabled (state 2 while it is made, 0 once published).
    for (const int32_t single : {0, 1}) {
        const size_t slot = 2 + size_t(single);
        const TAreaView area = h.View().FrameSlot(slot);
        ASSERT_TRUE(area.IsValid());
        h.fake.bGateArmed = true;
        h.Set<uint8_t>(HDR(bCaptureEnabled), uint8_t(1 - single));
        h.Set<int32_t>(HDR(iSingleFrameState), single);
        h.Request(slot);
        ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(h.fake.hGateEntered.Get(), kWaitMs));
        ::ResetEvent(h.fake.hGateEntered.Get());
        EXPECT_EQ(0, h.Get<uint8_t>(HDR(bFrameRequested) + slot)) << "the request is taken before the capture";
        EXPECT_EQ(0, h.Ready(slot));
        EXPECT_EQ(2 * single, h.Get<int32_t>(HDR(iSingleFrameState)));
        const auto* pLastRow = reinterpret_cast<const uint32_t*>(area.pData + (area.ui32Rows - 1) * area.ui32Stride);
        EXPECT_NE(PatternPixel(frame + 1, 5, area.ui32Rows - 1), pLastRow[5]) << "the last row is not written yet";
        ::SetEvent(h.fake.hGateRelease.Get());
        ASSERT_TRUE(WaitUntil([&] { return h.Ready(slot) != 0; }));
        ::ResetEvent(h.fake.hGateRelease.Get());
        EXPECT_TRUE(h.SlotHoldsFrame(slot, ++frame));
        EXPECT_EQ(0, h.Get<int32_t>(HDR(iSingleFrameState)));
        EXPECT_EQ(single == 0, h.TakeFirstFrameEvent()) << "set only while capture is enabled";
        h.Set<uint8_t>(HDR(bFrameReady) + slot, 0);
    }
    // Exactly one frame, and the slot did not move: a single frame into slot 4 waits.
    h.Set<int32_t>(HDR(iSingleFrameState), 1);
    h.Request(4);
    ASSERT_TRUE(h.WaitPolls());
    EXPECT_EQ(0, h.Ready(4));
    EXPECT_EQ(frame, h.fake.nCompleted.load());
    // Capture enabled: slot 3 is still current and sets the event; the pending slot 4 follows.
    h.Set<int32_t>(HDR(iSingleFrameState), 0);
    h.Set<uint8_t>(HDR(bCaptureEnabled), 1);
    ASSERT_TRUE(h.Serve(3));
    EXPECT_TRUE(h.TakeFirstFrameEvent());
    ASSERT_TRUE(WaitUntil([&] { return h.Ready(4) != 0; }));
    EXPECT_TRUE(h.SlotHoldsFrame(3, frame + 1));
    EXPECT_TRUE(h.SlotHoldsFrame(4, frame + 2));
    h.Stop();
    EXPECT_EQ(std::vector<uint64_t>{0x12345678}, h.fake.sharedHandles) << "opened once per run";
    EXPECT_GE(CountLines(h.Lines(), 0, LoopLine("skipping frame 2000 ms left")), 1u);
    EXPECT_GE(CountLines(h.Lines(), 0, LoopLine("skipping frame 1 ms left")), 1u);
}

// A slot the header puts where no image fits is still published (without an image), and the values
// that put it there are named: once while they stay the same, again after a usable slot.
TEST(CaptureLoopFrames, AnUnusableSlotNamesItsLayoutOncePerChange)
{
    LoopHarness h;
    h.Header().bCaptureEnabled = 1;
    ASSERT_TRUE(h.Start());
    ASSERT_TRUE(h.PassWarmUp(0));
    const uint32_t total = h.Get<uint32_t>(HDR(ui32TotalSize));
    const uint32_t stride = h.Get<uint32_t>(HDR(ui32FrameImageStride));
    const int32_t width = h.Get<int32_t>(HDR(iImageWidth));
    const int32_t height = h.Get<int32_t>(HDR(iImageHeight));
    const uint32_t offset4 = h.Get<uint32_t>(HDR(ui32FrameImageOffsets) + 16);
    // Slots 1 and 2 start at the end of the mapped buffer; slot 4 is wider than its stride.
    h.Set<uint32_t>(HDR(ui32FrameImageOffsets) + 4, total);
    h.Set<uint32_t>(HDR(ui32FrameImageOffsets) + 8, total);
    ASSERT_TRUE(h.Serve(1));
    ASSERT_TRUE(h.Serve(2));
    ASSERT_TRUE(h.Serve(3));
    h.Set<int32_t>(HDR(iImageWidth), width + 1);
    ASSERT_TRUE(h.Serve(4));
    h.Stop();
    const auto line = [&](int slot, uint32_t offset, int32_t w) {
        return LoopLine("frame slot " + std::to_string(slot) + " is not usable: offset " + std::to_string(offset) +
                        ", " + std::to_string(w) + " x " + std::to_string(height) + " pixels, stride " +
                        std::to_string(stride) + ", " + std::to_string(total) + " bytes mapped");
    };
    const std::vector<TLoggedLine> lines = h.Lines();
    EXPECT_EQ(1u, CountLines(lines, 2, line(1, total, width)));
    EXPECT_EQ(0u, CountLines(lines, 2, line(2, total, width))) << "the same values are named once";
    EXPECT_EQ(1u, CountLines(lines, 2, line(4, offset4, width + 1)));
}

struct IdleCase {
    const char* name;
    THooksRect region;
    const wchar_t* activeMonitor;  // from now on
    uint32_t width, height;        // the display's size from now on
    uint32_t type;
    const char* report;  // repeated on every idle pass; null: none
};

// A foreground window that touches no monitor belongs to the nearest one, without a detour through
// the primary monitor (with one monitor both answer the same; the detour's line tells them apart).
TEST(CaptureLoopIdle, AnOffscreenForegroundWindowBelongsToTheNearestMonitor)
{
    const HWND hWindow = ::CreateWindowExW(0, L"STATIC", L"off screen", WS_POPUP | WS_VISIBLE, -8000, -8000, 100, 100,
                                           nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(hWindow, nullptr);
    ::SetForegroundWindow(hWindow);
    ASSERT_TRUE(WaitUntil([&] { return ::GetForegroundWindow() == hWindow; })) << "the window never came to the front";
    RECT rect{};
    ::GetWindowRect(hWindow, &rect);
    ASSERT_LT(rect.right, 0) << "the window is not off screen";
    const size_t mark = LogMark();
    EXPECT_EQ(TZYRFullscreenCapturer::GetMonitorForActiveApplication(), L"\\\\.\\DISPLAY1");
    for (const std::string& text : TextsSince(mark)) {
        EXPECT_EQ(text.find("will use the primary monitor"), std::string::npos) << text;
    }
    ::DestroyWindow(hWindow);
}

TEST(CaptureLoopIdle, ChangesAreReportedOnEveryIdlePass)
{
    const IdleCase cases[] = {
        {"resolution", kWhole, kDisplay1, 1280, 720, 0, "screen resolution has been changed to 1280x720"},
        {"width, region", kRegion, kDisplay1, 2560, 1080, 0, "screen resolution has been changed to 2560x1080"},
        {"height, no active monitor", kWhole, L"", 1920, 1200, 0, "screen resolution has been changed to 1920x1200"},
        // While the monitor differs the size is not looked at.
        {"monitor", kWhole, kDisplay2, 1280, 720, 3,
         "monitor has been changed from \\\\.\\DISPLAY1 to \\\\.\\DISPLAY2"},
        {"monitor, region: ignored", kRegion, kDisplay2, 1920, 1080, 0, nullptr},
    };
    for (const IdleCase& c : cases) {
        SCOPED_TRACE(c.name);
        LoopHarness h;
        h.Header().CaptureRegion = c.region;
        ASSERT_TRUE(h.Start());
        ASSERT_TRUE(WaitUntil([&] { return h.fake.nLongSleeps >= 3; }));
        EXPECT_EQ(0, h.Get<uint8_t>(HDR(bCaptureInvalidated)));
        h.fake.pActiveMonitor = c.activeMonitor;
        h.fake.ui64CurrentSize = uint64_t(c.width) << 32 | c.height;
        const uint32_t passes = h.fake.nLongSleeps;
        ASSERT_TRUE(WaitUntil([&] { return h.fake.nLongSleeps >= passes + 4; }));
        EXPECT_EQ(c.report ? 1 : 0, h.Get<uint8_t>(HDR(bCaptureInvalidated)));
        h.Stop();

        const std::vector<TLoggedLine> lines = h.Lines();
        const auto changes = std::count_if(lines.begin(), lines.end(), [](const TLoggedLine& line) {
            return line.strText.find("has been changed") != std::string::npos;
        });
        const size_t reports = c.report ? CountLines(lines, c.type, LoopLine(c.report)) : 0;
        EXPECT_GE(reports, c.report ? 2u : 0u);
        EXPECT_EQ(ptrdiff_t(reports), changes) << "no other report";
        EXPECT_EQ(kDisplay1, h.MonitorName()) << "the name of the start stays";
        EXPECT_EQ(1u, h.fake.parameterCalls.size()) << "the layout of the start stays";
        EXPECT_EQ(c.region.right == 0, h.fake.nActiveMonitorQueries > 0) << "a region never follows the monitor";
    }
}

// The real command client opens the product's frame buffer under its global name, so this test's
// section carries it (the suite holds the global-objects lock). No overlay process answers: each
// command costs the client's 200 ms wait.
TEST(CaptureLoopOverlay, StartCommandIsSentOnceAfterSuppressionIsCleared)
{
    LoopHarness h(kFrameBufferMappingName);
    h.fake.bRealCommandsClient = true;
    h.Header().bCaptureEnabled = 1;
    h.Header().bSuppressOverlayCommand = 1;
    h.Header().ui32OverlayCommand = 0xDEAD;
    ASSERT_TRUE(h.Start());
    ASSERT_TRUE(h.PassWarmUp(0));
    ASSERT_TRUE(h.Serve(1));
    EXPECT_EQ(0xDEADu, h.Get<uint32_t>(HDR(ui32OverlayCommand)));
    h.Set<uint8_t>(HDR(bSuppressOverlayCommand), 0);
    const uint32_t pauses = h.fake.nLongSleeps;
    ASSERT_TRUE(h.Serve(2));
    EXPECT_EQ(1u, h.Get<uint32_t>(HDR(ui32OverlayCommand)));
    EXPECT_EQ(pauses + 1, h.fake.nLongSleeps.load()) << "the pause after the command";
    h.Set<uint32_t>(HDR(ui32OverlayCommand), 0xDEAD);
    ASSERT_TRUE(h.Serve(3));
    ASSERT_TRUE(h.Serve(4));
    EXPECT_EQ(0xDEADu, h.Get<uint32_t>(HDR(ui32OverlayCommand))) << "once per run";
    StopAndExpectExitSteps(h);
    EXPECT_EQ(1u, CountLines(h.Lines(), 0, "TFullscreenOverlayCommandsClient::SendCommand new command 1"));
}

TEST(CaptureLoopExtras, WebCamAndItsBackgroundGoToTheCapturerWithEachPublishedFrame)
{
    LoopHarness h;
    TFrameBufferHeader& header = h.Header();
    header.ui32CaptureMethod = 0;  // DXGI: the webcam is composited
    header.bCaptureEnabled = 1;
    header.webcamWidth = 640;
    header.webcamHeight = 480;
    header.dWebCamLeft = header.dWebCamTop = 0.7;
    header.dWebCamWidth = header.dWebCamHeight = 0.25;
    header.UseChromaKeying = header.bUseWebCamBackground = 1;
    ASSERT_TRUE(h.Start(0));
    const TAreaView webcam = h.View().WebCamArea();
    const TAreaView background = h.View().WebCamBackgroundArea();
    ASSERT_TRUE(webcam.IsValid() && background.IsValid() && webcam.ui32Width * webcam.ui32Rows > 0);
    *reinterpret_cast<uint32_t*>(webcam.pData) = 0xCAFE0001u;
    *reinterpret_cast<uint32_t*>(background.pData) = 0xBAC60002u;

    // Frames captured inside the warm-up get no webcam; each published one gets both images.
    ASSERT_TRUE(h.PassWarmUp(0));
    ASSERT_TRUE(h.Serve(1));
    h.Stop();
    EXPECT_TRUE(h.fake.parameterCalls.at(0).bDrawOverlays);
    // Each image is read in place, marked in use during the call.
    const Rect target = ToRect(header.CalculateWebCamTargetRect(header.WebCamDisplayMode));
    const std::vector<float> shader{12.5f, float(webcam.ui32Width), float(webcam.ui32Rows), 0};  // 12.5: chroma keying
    const WebCamCall webcamCall{false, 0xCAFE0001u, int32_t(webcam.ui32Width), int32_t(webcam.ui32Rows),
                                webcam.ui32Stride, target, shader, 1};
    const WebCamCall backgroundCall{true, 0xBAC60002u, int32_t(background.ui32Width), int32_t(background.ui32Rows),
                                    background.ui32Stride, target, {}, 1};
    EXPECT_EQ((std::vector{webcamCall, backgroundCall, webcamCall, backgroundCall}), h.fake.webCamCalls);
    EXPECT_EQ(0u, header.WebCamImage.ui32InUse + header.WebCamBackgroundImage.ui32InUse);
}

// Region (96, 48) - (896, 648): 800 x 600 frames at scale 1, so the pointer at (300, 200) puts the
// cursor's top-left picture pixel at (204, 152).
class CaptureLoopCursor : public ::testing::Test {
protected:
    static void SetUpTestSuite() { pScene = scenetest::StartSuiteScene(scene::Pattern::Coords); }
    static void TearDownTestSuite() { scenetest::QuitSuiteScene(pScene); }
    void SetUp() override { ASSERT_NE(pScene, nullptr); }

    // The slot holds the fake's frame (the one slot `frameOf` holds) with `size` x `size` of the
    // colour cursor at (left, top).
    static ::testing::AssertionResult SlotShows(const LoopHarness& h, size_t slot, bool bTopDown, int32_t size,
                                                int32_t top, int32_t left = 204, size_t frameOf = kSlotItself)
    {
        const TAreaView area = h.View().FrameSlot(slot);
        const cursortest::Image image{area.pData, int32_t(area.ui32Width), int32_t(area.ui32Rows), area.ui32Stride,
                                      bTopDown};
        const TAreaView framed = h.View().FrameSlot(frameOf == kSlotItself ? slot : frameOf);
        const uint32_t frame = *reinterpret_cast<const uint32_t*>(framed.pData) >> 24;
        return cursortest::ShowsCursorAt(
            image, [&](int32_t x, int32_t y) { return PatternPixel(frame, x, bTopDown ? y : image.iHeight - 1 - y); },
            refcursor::TCursorPicture::Colour, left, top, size, size);
    }
    // Region (96, 48) - (896, 648) in the asked row order, the pointer at (300, 200) with the host's
    // colour cursor published, the warm-up passed with slot 0.
    static ::testing::AssertionResult StartWithCursor(LoopHarness& h, cursortest::CursorHost& host, bool bTopDown)
    {
        const uint64_t handle = cursortest::PointAt(POINT{300, 200});
        if (handle == 0) {
            return ::testing::AssertionFailure() << "the pointer has no cursor";
        }
        h.Header().bCaptureEnabled = 1;
        h.Header().bDontMirrorFrames = bTopDown ? 1 : 0;
        h.Header().CaptureRegion = THooksRect{96, 48, 896, 648};
        if (!h.Start()) {
            return ::testing::AssertionFailure() << "the loop did not start";
        }
        // The layout has placed the cursor areas: the host publishes its cursor.
        host.Publish(handle, POINT{300, 200}, POINT{0, 0}, refcursor::TCursorPicture::Colour);
        return h.PassWarmUp(0);
    }
    static constexpr size_t kSlotItself = ~size_t{0};

    static std::unique_ptr<scenetest::SceneRun> pScene;
};

std::unique_ptr<scenetest::SceneRun> CaptureLoopCursor::pScene;

TEST_F(CaptureLoopCursor, CursorGoesIntoSlotsWithoutSharedTextureAtTheRegionsPlaceOnceAsked)
{
    for (const bool bTopDown : {false, true}) {
        SCOPED_TRACE(bTopDown ? "top-down" : "bottom-up");
        LoopHarness h;
        cursortest::CursorHost host(reinterpret_cast<uint8_t*>(&h.Header()), kSectionSize);
        h.Header().ui64SharedTextureHandles[2] = 0x42;  // slot 2 is the host's texture (none opens here)
        ASSERT_TRUE(StartWithCursor(h, host, bTopDown));
        EXPECT_FALSE(host.TakeEvent()) << "no drawer before the host asks";
        // The flag is seen by a pass of its own before the next request comes.
        const uint32_t polls = h.fake.nPollSleeps;
        h.Set<uint8_t>(HDR(bDrawMouseCursor), 1);
        ASSERT_TRUE(WaitUntil([&] { return h.fake.nPollSleeps >= polls + 2; }));
        for (const size_t slot : {1u, 2u, 3u}) {
            ASSERT_TRUE(h.Serve(slot));
        }
        h.Stop();
        const int32_t top = bTopDown ? 153 : 152;  // top-down rows: the cursor covers image rows y + 1 .. y + 32
        EXPECT_TRUE(SlotShows(h, 0, bTopDown, 0, top));
        EXPECT_TRUE(SlotShows(h, 1, bTopDown, refcursor::kCursorSize, top));
        EXPECT_TRUE(SlotShows(h, 2, bTopDown, 0, top)) << "a slot with a shared texture gets no cursor";
        EXPECT_TRUE(SlotShows(h, 3, bTopDown, refcursor::kCursorSize, top));
        EXPECT_TRUE(host.TakeEvent()) << "the first frame with the cursor asks the host";
        EXPECT_FALSE(host.TakeEvent()) << "later frames draw from the cache";
    }
}

// A capturer that repeats the image before (a failed transfer) hands on that image's cursor too: it
// is taken out, and the frame shows the cursor once, where the pointer is now.
TEST_F(CaptureLoopCursor, ARepeatedFrameHasOneCursorAtThePointerNow)
{
    for (const bool bTopDown : {false, true}) {
        SCOPED_TRACE(bTopDown ? "top-down" : "bottom-up");
        LoopHarness h;
        cursortest::CursorHost host(reinterpret_cast<uint8_t*>(&h.Header()), kSectionSize);
        h.Header().bDrawMouseCursor = 1;
        ASSERT_TRUE(StartWithCursor(h, host, bTopDown));
        ASSERT_TRUE(h.Serve(1));
        ASSERT_NE(0u, cursortest::PointAt(POINT{340, 230}));
        h.fake.bRepeatFrames = true;
        ASSERT_TRUE(h.Serve(2));
        ASSERT_TRUE(h.Serve(3));
        h.Stop();
        const int32_t shift = bTopDown ? 1 : 0;
        EXPECT_TRUE(SlotShows(h, 1, bTopDown, refcursor::kCursorSize, 152 + shift));
        for (const size_t slot : {2u, 3u}) {
            EXPECT_TRUE(SlotShows(h, slot, bTopDown, refcursor::kCursorSize, 182 + shift, 244, 1))
                << "slot " << slot << ": slot 1's picture with one cursor";
        }
    }
}

}  // namespace
