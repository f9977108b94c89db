// Frames end to end: the capturer exe (GDI) under the reference host's frame client, over
// ZYRScene's pattern on the virtual display. Pixels are compared with the pattern the scene paints;
// lines are read from the log server's ring.
#include "FramesFixture.h"

#include <algorithm>
#include <cstdio>

namespace {

using scene::Pattern;

bool IsSignalled(HANDLE hEvent)
{
    return ::WaitForSingleObject(hEvent, 0) == WAIT_OBJECT_0;
}

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.rfind(prefix, 0) == 0;
}

TEST_F(Frames, WholeScreenIsExactInBothRowOrdersAfterTheWarmUpInSlotOrder)
{
    for (const bool bTopDown : {false, true}) {
        SCOPED_TRACE(bTopDown ? "top-down" : "bottom-up");
        TRefHostOptions options = GdiOptions();
        options.bDontMirrorFrames = bTopDown;
        TFrameClient& client = StartFrames(options);
        ::ResetEvent(pHost->FirstFrameEvent());
        const uint64_t requested = NowMs();
        ASSERT_EQ(Frame(0), TFrameResult::Ok);
        // GetTickCount moves in steps of up to 16 ms: allow for one step.
        EXPECT_GE(NowMs() - requested, 2000u - 16) << "nothing is published during the warm-up";
        EXPECT_TRUE(IsSignalled(pHost->FirstFrameEvent()));
        EXPECT_EQ(pHost->Header()->iImageWidth, kScreenW);
        EXPECT_EQ(pHost->Header()->iImageHeight, kScreenH);
        ASSERT_EQ(picture.ui32Width, static_cast<uint32_t>(kScreenW));
        EXPECT_TRUE(IsExact(picture, 0, 0, ui32Generation));

        // Slot 1 is current: a request for slot 2 is not served before it (and is served after it,
        // once the new picture below is on the screen).
        client.Request(2);
        EXPECT_EQ(client.WaitReady(2, 500, pHost->CapturerProcess()), TFrameResult::TimedOut);
        // A new picture on the screen shows in the next frames; slots 1..5 then 0 again.
        ASSERT_TRUE(pScene->Next());
        ++ui32Generation;
        uint32_t ui32Previous = ui32Timestamp;
        for (uint32_t frame = 1; frame <= 6; ++frame) {
            SCOPED_TRACE("slot " + std::to_string(frame % 6));
            ASSERT_EQ(Frame(frame % 6, frame != 2), TFrameResult::Ok);
            EXPECT_GE(ui32Timestamp, ui32Previous) << "time stamps in milliseconds never go back";
            EXPECT_LT(ui32Timestamp - ui32Previous, 10000u);
            ui32Previous = ui32Timestamp;
            EXPECT_TRUE(IsExact(picture, 0, 0, ui32Generation));
        }
        const TCapturerRun run = Stop();
        EXPECT_EQ(run.iExitCode, 0);
        EXPECT_GE(run.Find(kThread + " safe image size 1920 x 1080"), 0);
        EXPECT_GE(run.Find(kThread + " pFrameBufferHeader->bDontMirrorFrames " + (bTopDown ? "1" : "0")), 0);
        EXPECT_TRUE(std::any_of(run.records.begin(), run.records.end(),
                                [](const auto& r) { return StartsWith(r.strText, kThread + " skipping frame "); }))
            << "slot 0 is captured while the warm-up lasts";
        // Slots laid out like a DIB of the frame size are drawn by GDI without a second copy.
        const auto costs = std::find_if(run.records.begin(), run.records.end(), [](const auto& r) {
            return StartsWith(r.strText, "TGDIFullscreenCapturer::~TGDIFullscreenCapturer ");
        });
        ASSERT_NE(costs, run.records.end());
        unsigned long long total = 0;
        unsigned long long direct = 0;
        ASSERT_EQ(std::sscanf(costs->strText.c_str(), "TGDIFullscreenCapturer::~TGDIFullscreenCapturer %llu frames (%llu",
                              &total, &direct), 2) << costs->strText;
        EXPECT_GT(total, 7u);
        EXPECT_EQ(direct, total) << costs->strText;
        EXPECT_EQ(pHost->Header()->bCaptureInvalidated, 1);
    }
}

TEST_F(Frames, RegionsAreExactAndTheirSizesRoundDownToEight)
{
    struct Case {
        const char* name;
        THooksRect region;
        uint32_t width, height;
        bool bExact;           // a 1:1 copy of the region (or of the whole screen)
        std::string expected;  // a line of the run
    };
    const Case cases[] = {
        // 900 x 600 rounds down to 896 x 600 (the picture is then scaled to it); 896 x 600 is exact.
        {"rounded", {100, 100, 1000, 700}, 896, 600, false, kThread + " capture rect (100, 100) - (1000, 700)"},
        {"exact", {100, 100, 996, 700}, 896, 600, true, kThread + " safe image size 896 x 600"},
        // An empty region is an error and the whole screen is captured.
        {"invalid", {1920, 0, 1920, 100}, 1920, 1080, true, kThread + " invalid region left position"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TRefHostOptions options = GdiOptions();
        options.captureRegion = c.region;
        options.bDontMirrorFrames = true;
        StartFrames(options);
        ASSERT_EQ(Frame(0), TFrameResult::Ok);
        EXPECT_EQ(picture.ui32Width, c.width);
        EXPECT_EQ(picture.ui32Height, c.height);
        const bool bWhole = c.width == static_cast<uint32_t>(kScreenW);
        if (c.bExact) {
            EXPECT_TRUE(IsExact(picture, bWhole ? 0 : c.region.left, bWhole ? 0 : c.region.top, ui32Generation));
        }
        const TCapturerRun run = Stop();
        const int at = run.Find(c.expected);
        ASSERT_GE(at, 0) << ::testing::PrintToString(run.Texts());
        EXPECT_EQ(run.records[at].fields.ui32Type == 2u, bWhole) << "an error line only for the invalid region";
        EXPECT_EQ(run.Find("Region is empty -> start overlay") >= 0, bWhole) << "only the whole screen starts the overlay";
    }
}

TEST_F(Frames, SingleFramesWithCaptureOffKeepTheSlotAndLeaveTheFirstFrameEvent)
{
    TRefHostOptions options = GdiOptions();
    options.bCaptureEnabled = false;
    TFrameClient& client = StartFrames(options);
    ::ResetEvent(pHost->FirstFrameEvent());
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE("single frame " + std::to_string(round));
        uint32_t slot = 99;
        ASSERT_EQ(client.RequestSingleFrame(&slot), TFrameResult::Ok);
        EXPECT_EQ(slot, 0u) << "a single frame does not move the slot";
        ASSERT_EQ(client.WaitReady(slot, kWaitMs, pHost->CapturerProcess()), TFrameResult::Ok);
        ASSERT_EQ(client.Read(slot, &picture, &ui32Timestamp), TFrameResult::Ok);
        EXPECT_EQ(pHost->Header()->iSingleFrameState, 0);
        EXPECT_TRUE(IsExact(picture, 0, 0, ui32Generation));
        EXPECT_FALSE(IsSignalled(pHost->FirstFrameEvent())) << "capture is off";
    }
    // With capture on, the same slot 0 is served next and the event is set.
    pHost->Header()->bCaptureEnabled = 1;
    ASSERT_EQ(Frame(0), TFrameResult::Ok);
    EXPECT_TRUE(IsSignalled(pHost->FirstFrameEvent()));
    EXPECT_EQ(Stop().iExitCode, 0);
}

TEST_F(Frames, CapacityRefusalShowsNoSizeAndWritesNoFrames)
{
    TRefHostOptions options = GdiOptions();
    options.iMaxWidth = 640;
    options.iMaxHeight = 480;
    StartFrames(options);
    // The thread refuses the size and ends; the host sees a 0 x 0 image and no ready slot.
    EXPECT_EQ(Frame(0), TFrameResult::SizeRefused);
    const TCapturerRun run = Stop();
    for (size_t slot = 0; slot < kFrameSlotCount; ++slot) {
        EXPECT_EQ(pHost->Header()->bFrameReady[slot], 0);
    }
    EXPECT_EQ(pHost->Header()->iImageWidth, 0);
    EXPECT_EQ(run.iExitCode, 0) << "the process goes on supervising";
    EXPECT_GE(run.Find("The frame dimensions are too large."), 0);
    EXPECT_GE(run.Find(kThread + " the frame buffer has no layout for 1920 x 1080 frames, no frames will be captured"), 0);
    EXPECT_GE(run.Find(kThread + " exit"), 0);
}

TEST_F(Frames, OverlayProgramGetsItsStartCommandOnceAfterSuppressionAndEndsWithTheCapture)
{
    TRefHostOptions options = GdiOptions();
    options.bSuppressOverlayCommand = true;
    StartFrames(options);
    for (uint32_t frame = 0; frame < 8; ++frame) {
        if (frame == 3) {
            EXPECT_EQ(pHost->Header()->ui32OverlayCommand, 0u) << "no command while suppressed";
            pHost->Header()->bSuppressOverlayCommand = 0;
        }
        ASSERT_EQ(Frame(frame % 6), TFrameResult::Ok);
    }
    EXPECT_EQ(pHost->Header()->ui32OverlayCommand, 1u);
    EXPECT_EQ(pHost->Header()->ui32OverlayCommandStatus, 1u) << "the overlay program answered";
    EXPECT_EQ(pHost->Header()->bOverlayStatus, 1) << "the overlay program is up";
    const TCapturerRun run = Stop();
    std::vector<std::string> overlayLines;
    for (const auto& record : run.otherRecords) {
        overlayLines.push_back(record.strText);
    }
    const std::string started = "fullscreenoverlay started for capturer " + std::to_string(run.dwProcessId);
    EXPECT_EQ(std::count(overlayLines.begin(), overlayLines.end(), started), 1) << ::testing::PrintToString(overlayLines);
    EXPECT_EQ(std::count(overlayLines.begin(), overlayLines.end(), "fullscreenoverlay command 1 status 1"), 1);
    EXPECT_GE(run.Find("TZYRFullscreenCapturer::TerminateFullscreenOverlay"), 0);
    // The overlay program is gone once the capture has ended.
    ASSERT_FALSE(run.otherRecords.empty());
    TKernelHandle hOverlay(::OpenProcess(SYNCHRONIZE, FALSE, run.otherRecords.front().fields.ui32ProcessId));
    EXPECT_TRUE(!hOverlay || ::WaitForSingleObject(hOverlay.Get(), kWaitMs) == WAIT_OBJECT_0);
}

TEST_F(Frames, MissingOverlayProgramIsReportedAndCaptureGoesOn)
{
    const std::wstring capturer = CapturerPath();
    const std::wstring overlay = capturer.substr(0, capturer.find_last_of(L"\\/") + 1) + L"fullscreenoverlay.exe";
    const std::wstring hidden = overlay + L".hidden";
    ASSERT_TRUE(::MoveFileExW(overlay.c_str(), hidden.c_str(), MOVEFILE_REPLACE_EXISTING));
    StartFrames(GdiOptions());
    const TFrameResult first = Frame(0);
    const TFrameResult second = Frame(1);
    const TCapturerRun run = Stop();
    ::MoveFileExW(hidden.c_str(), overlay.c_str(), MOVEFILE_REPLACE_EXISTING);
    EXPECT_EQ(first, TFrameResult::Ok);
    EXPECT_EQ(second, TFrameResult::Ok);
    EXPECT_GE(run.Find("TZYRFullscreenCapturer::StartFullscreenOverlay ShellExecuteEx error 2"), 0);
    EXPECT_GE(run.Find("TZYRFullscreenCapturer::StartFullscreenOverlay exit with 0"), 0);
    EXPECT_TRUE(run.otherRecords.empty());
}

// Scaled frames over the smooth pattern, whose neighbours differ by at most one step.
class ScaledFrames : public Frames {
protected:
    static void SetUpTestSuite() { SetUpWithScene(Pattern::Smooth); }
};

TEST_F(ScaledFrames, RequestedSizesAreUsedAsGivenWithBarsOrStretched)
{
    struct Case {
        int32_t width, height;
        bool bStretch;
        uint32_t barRows;  // rows of bars above and below the picture
    };
    // 1280 x 800 keeping proportion: scale 2/3, a 1280 x 720 picture between 40-row bars.
    // 1002 x 566 is no multiple of 8: used as given, stretched over the whole image.
    for (const Case& c : {Case{1280, 800, false, 40}, Case{1002, 566, true, 0}}) {
        SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height);
        TRefHostOptions options = GdiOptions();
        options.iRequestedWidth = c.width;
        options.iRequestedHeight = c.height;
        options.bStretch = c.bStretch;
        StartFrames(options);
        ASSERT_EQ(Frame(0), TFrameResult::Ok);
        ASSERT_EQ(picture.ui32Width, static_cast<uint32_t>(c.width));
        ASSERT_EQ(picture.ui32Height, static_cast<uint32_t>(c.height));
        EXPECT_TRUE(IsSmoothScaled(picture, c.barRows));
        const TCapturerRun run = Stop();
        EXPECT_GE(run.Find(kThread + " safe image size " + std::to_string(c.width) + " x " + std::to_string(c.height)), 0);
    }
}

}  // namespace
