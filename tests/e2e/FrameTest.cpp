// Frames end to end: the capturer exe (GDI) under the reference host's frame client, over
// ZYRScene's pattern on the virtual display. Pixels are compared with the pattern the scene paints;
// lines are read from the log server's ring.
#include "FramesFixture.h"

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace {

using scene::Pattern;

scenetest::ScreenFrame AsScreenFrame(const TFramePicture& picture, uint32_t top, uint32_t rows)
{
    scenetest::ScreenFrame frame;
    frame.result = scene::GrabResult::Ok;
    frame.width = static_cast<int>(picture.ui32Width);
    frame.height = static_cast<int>(rows);
    const auto first = picture.vecPixels.begin() + static_cast<ptrdiff_t>(size_t{top} * picture.ui32Width);
    frame.pixels.assign(first, first + static_cast<ptrdiff_t>(size_t{rows} * picture.ui32Width));
    return frame;
}

bool IsSignalled(HANDLE hEvent)
{
    return ::WaitForSingleObject(hEvent, 0) == WAIT_OBJECT_0;
}

// Polls a header byte until it has `value`, within the bound.
bool WaitForByte(const volatile uint8_t* pByte, uint8_t value)
{
    const uint64_t start = NowMs();
    while (*pByte != value) {
        if (NowMs() - start > kWaitMs) {
            return false;
        }
        ::Sleep(5);
    }
    return true;
}


TEST_F(Frames, WholeScreenIsExactInBothRowOrdersAfterTheWarmUpInSlotOrder)
{
    for (const bool bTopDown : {false, true}) {
        SCOPED_TRACE(bTopDown ? "top-down" : "bottom-up");
        TRefHostOptions options = GdiOptions();
        options.bDontMirrorFrames = bTopDown;
        StartFrames(options);
        ::ResetEvent(pHost->FirstFrameEvent());
        const uint64_t requested = NowMs();
        TFramePicture picture;
        uint32_t ui32Timestamp = 0;
        ASSERT_EQ(Frame(0, &picture, &ui32Timestamp), TFrameResult::Ok);
        // GetTickCount moves in steps of up to 16 ms: allow for one step.
        EXPECT_GE(NowMs() - requested, 2000u - 16) << "nothing is published during the warm-up";
        EXPECT_TRUE(IsSignalled(pHost->FirstFrameEvent()));
        EXPECT_EQ(pHost->Header()->iImageWidth, kScreenW);
        EXPECT_EQ(pHost->Header()->iImageHeight, kScreenH);
        ASSERT_EQ(picture.ui32Width, static_cast<uint32_t>(kScreenW));
        std::string first;
        EXPECT_EQ(ExactMismatches(picture, 0, 0, ui32Generation, &first), 0u) << first;

        // A new picture on the screen shows in the next frames; slots 1..5 then 0 again.
        ASSERT_TRUE(pScene->Next());
        ++ui32Generation;
        uint32_t ui32Previous = ui32Timestamp;
        for (uint32_t frame = 1; frame <= 6; ++frame) {
            const uint32_t slot = frame % 6;
            SCOPED_TRACE("slot " + std::to_string(slot));
            ASSERT_EQ(Frame(slot, &picture, &ui32Timestamp), TFrameResult::Ok);
            EXPECT_GE(ui32Timestamp, ui32Previous) << "time stamps in milliseconds never go back";
            EXPECT_LT(ui32Timestamp - ui32Previous, 10000u);
            ui32Previous = ui32Timestamp;
            EXPECT_EQ(ExactMismatches(picture, 0, 0, ui32Generation, &first), 0u) << first;
        }
        const TCapturerRun run = Stop();
        EXPECT_EQ(run.iExitCode, 0);
        EXPECT_GE(run.Find(kThread + " safe image size 1920 x 1080"), 0);
        EXPECT_GE(run.Find(kThread + " pFrameBufferHeader->bDontMirrorFrames " + (bTopDown ? "1" : "0")), 0);
        const auto warmUps = std::count_if(run.records.begin(), run.records.end(), [](const auto& record) {
            return record.strText.rfind(kThread + " skipping frame ", 0) == 0;
        });
        EXPECT_GE(warmUps, 1) << "slot 0 is captured while the warm-up lasts";
        // Slots laid out like a DIB of the frame size are drawn by GDI without a second copy.
        const auto costs = std::find_if(run.records.begin(), run.records.end(), [](const auto& record) {
            return record.strText.rfind("TGDIFullscreenCapturer::~TGDIFullscreenCapturer ", 0) == 0;
        });
        ASSERT_NE(costs, run.records.end());
        unsigned long long total = 0;
        unsigned long long direct = 0;
        ASSERT_EQ(std::sscanf(costs->strText.c_str(), "TGDIFullscreenCapturer::~TGDIFullscreenCapturer %llu frames (%llu",
                              &total, &direct),
                  2)
            << costs->strText;
        EXPECT_GT(total, 7u);
        EXPECT_EQ(direct, total) << costs->strText;
        EXPECT_EQ(pHost->Header()->bCaptureInvalidated, 1);
    }
}

TEST_F(Frames, RegionIsExactAndItsSizeRoundsDownToEight)
{
    struct Case {
        const char* name;
        THooksRect region;
        bool bExact;  // the rounded size equals the region's: a 1:1 copy
    };
    // 900 x 600 rounds down to 896 x 600 (the picture is then scaled to it); 896 x 600 is exact.
    const Case cases[] = {{"rounded", {100, 100, 1000, 700}, false}, {"exact", {100, 100, 996, 700}, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TRefHostOptions options = GdiOptions();
        options.captureRegion = c.region;
        options.bDontMirrorFrames = true;
        StartFrames(options);
        TFramePicture picture;
        uint32_t ui32Timestamp = 0;
        ASSERT_EQ(Frame(0, &picture, &ui32Timestamp), TFrameResult::Ok);
        EXPECT_EQ(picture.ui32Width, 896u);
        EXPECT_EQ(picture.ui32Height, 600u);
        if (c.bExact) {
            std::string first;
            EXPECT_EQ(ExactMismatches(picture, 100, 100, ui32Generation, &first), 0u) << first;
        }
        const TCapturerRun run = Stop();
        const THooksRect& r = c.region;
        EXPECT_GE(run.Find(kThread + " capture rect (" + std::to_string(r.left) + ", " + std::to_string(r.top) +
                           ") - (" + std::to_string(r.right) + ", " + std::to_string(r.bottom) + ")"),
                  0);
        EXPECT_GE(run.Find(kThread + " safe image size 896 x 600"), 0);
        EXPECT_EQ(run.Find("Region is empty -> start overlay"), -1) << "a region starts no overlay";
    }
}

TEST_F(Frames, SlotsAreServedOnlyInOrder)
{
    TFrameClient& client = StartFrames(GdiOptions());
    TFramePicture picture;
    uint32_t ui32First = 0;
    ASSERT_EQ(Frame(0, &picture, &ui32First), TFrameResult::Ok);
    // Slot 1 is current: a request for slot 2 waits for it.
    client.Request(2);
    EXPECT_EQ(client.WaitReady(2, 500, pHost->CapturerProcess()), TFrameResult::TimedOut);
    client.Request(1);
    uint32_t ui32Second = 0;
    uint32_t ui32Third = 0;
    ASSERT_EQ(client.WaitReady(1, kWaitMs, pHost->CapturerProcess()), TFrameResult::Ok);
    ASSERT_EQ(client.WaitReady(2, kWaitMs, pHost->CapturerProcess()), TFrameResult::Ok);
    ASSERT_EQ(client.Read(1, &picture, &ui32Second), TFrameResult::Ok);
    ASSERT_EQ(client.Read(2, &picture, &ui32Third), TFrameResult::Ok);
    EXPECT_LE(ui32First, ui32Second);
    EXPECT_LE(ui32Second, ui32Third);
    EXPECT_EQ(Stop().iExitCode, 0);
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
        TFramePicture picture;
        uint32_t ui32Timestamp = 0;
        ASSERT_EQ(client.Read(slot, &picture, &ui32Timestamp), TFrameResult::Ok);
        EXPECT_EQ(pHost->Header()->iSingleFrameState, 0);
        std::string first;
        EXPECT_EQ(ExactMismatches(picture, 0, 0, ui32Generation, &first), 0u) << first;
        EXPECT_FALSE(IsSignalled(pHost->FirstFrameEvent())) << "capture is off";
    }
    // With capture on, the same slot 0 is served next and the event is set.
    pHost->Header()->bCaptureEnabled = 1;
    TFramePicture picture;
    uint32_t ui32Timestamp = 0;
    ASSERT_EQ(Frame(0, &picture, &ui32Timestamp), TFrameResult::Ok);
    EXPECT_TRUE(IsSignalled(pHost->FirstFrameEvent()));
    EXPECT_EQ(Stop().iExitCode, 0);
}

TEST_F(Frames, InvalidRegionIsReportedAndTheWholeScreenCaptured)
{
    TRefHostOptions options = GdiOptions();
    options.captureRegion = THooksRect{1920, 0, 1920, 100};
    options.bDontMirrorFrames = true;
    StartFrames(options);
    TFramePicture picture;
    uint32_t ui32Timestamp = 0;
    ASSERT_EQ(Frame(0, &picture, &ui32Timestamp), TFrameResult::Ok);
    ASSERT_EQ(picture.ui32Width, static_cast<uint32_t>(kScreenW));
    std::string first;
    EXPECT_EQ(ExactMismatches(picture, 0, 0, ui32Generation, &first), 0u) << first;
    const TCapturerRun run = Stop();
    const int error = run.Find(kThread + " invalid region left position");
    ASSERT_GE(error, 0);
    EXPECT_EQ(run.records[error].fields.ui32Type, 2u) << "an error line";
    EXPECT_GE(run.Find("Region is empty -> start overlay"), 0);
}

TEST_F(Frames, CapacityRefusalShowsNoSizeAndWritesNoFrames)
{
    TRefHostOptions options = GdiOptions();
    options.iMaxWidth = 640;
    options.iMaxHeight = 480;
    TFrameClient& client = StartFrames(options);
    ASSERT_TRUE(WaitForByte(&pHost->Header()->bCaptureInvalidated, 1)) << "the thread ends";
    EXPECT_EQ(pHost->Header()->iImageWidth, 0);
    EXPECT_EQ(pHost->Header()->iImageHeight, 0);
    client.Request(0);
    EXPECT_EQ(client.WaitReady(0, kWaitMs, pHost->CapturerProcess()), TFrameResult::SizeRefused);
    for (size_t slot = 0; slot < kFrameSlotCount; ++slot) {
        EXPECT_EQ(pHost->Header()->bFrameReady[slot], 0);
    }
    const TCapturerRun run = Stop();
    EXPECT_EQ(run.iExitCode, 0) << "the process goes on supervising";
    EXPECT_GE(run.Find("The frame dimensions are too large."), 0);
    EXPECT_GE(run.Find(kThread + " the frame buffer has no layout for 1920 x 1080 frames, no frames will be captured"), 0);
    EXPECT_GE(run.Find(kThread + " exit"), 0);
}

// The records of one other process whose text starts with `prefix`.
std::vector<std::string> OtherTexts(const TCapturerRun& run, const std::string& prefix)
{
    std::vector<std::string> texts;
    for (const auto& record : run.otherRecords) {
        if (record.strText.rfind(prefix, 0) == 0) {
            texts.push_back(record.strText);
        }
    }
    return texts;
}

// Moves fullscreenoverlay.exe away from the capturer's folder for one test, and back.
class OverlayProgramHidden {
public:
    OverlayProgramHidden()
    {
        const std::wstring capturer = CapturerPath();
        wsPath = capturer.substr(0, capturer.find_last_of(L"\\/") + 1) + L"fullscreenoverlay.exe";
        wsHidden = wsPath + L".hidden";
        bMoved = ::MoveFileExW(wsPath.c_str(), wsHidden.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
    }
    ~OverlayProgramHidden()
    {
        if (bMoved) {
            ::MoveFileExW(wsHidden.c_str(), wsPath.c_str(), MOVEFILE_REPLACE_EXISTING);
        }
    }
    bool Moved() const { return bMoved; }

private:
    std::wstring wsPath;
    std::wstring wsHidden;
    bool bMoved = false;
};

TEST_F(Frames, OverlayProgramGetsItsStartCommandOnceAfterSuppressionAndEndsWithTheCapture)
{
    TRefHostOptions options = GdiOptions();
    options.bSuppressOverlayCommand = true;
    StartFrames(options);
    TFramePicture picture;
    uint32_t ui32Timestamp = 0;
    for (uint32_t slot = 0; slot < 3; ++slot) {
        ASSERT_EQ(Frame(slot, &picture, &ui32Timestamp), TFrameResult::Ok);
    }
    EXPECT_EQ(pHost->Header()->ui32OverlayCommand, 0u) << "no command while suppressed";
    pHost->Header()->bSuppressOverlayCommand = 0;
    for (uint32_t slot = 3; slot < 8; ++slot) {
        ASSERT_EQ(Frame(slot % 6, &picture, &ui32Timestamp), TFrameResult::Ok);
    }
    EXPECT_EQ(pHost->Header()->ui32OverlayCommand, 1u);
    EXPECT_EQ(pHost->Header()->ui32OverlayCommandStatus, 1u) << "the overlay program answered";
    EXPECT_EQ(pHost->Header()->bOverlayStatus, 1) << "the overlay program is up";
    const TCapturerRun run = Stop();
    ASSERT_FALSE(run.otherRecords.empty()) << "the overlay program logs through the same server";
    const DWORD dwOverlayId = run.otherRecords.front().fields.ui32ProcessId;
    EXPECT_EQ(OtherTexts(run, "fullscreenoverlay started for capturer "),
              std::vector<std::string>{"fullscreenoverlay started for capturer " + std::to_string(run.dwProcessId)});
    EXPECT_EQ(OtherTexts(run, "fullscreenoverlay command "), std::vector<std::string>{"fullscreenoverlay command 1 status 1"});
    EXPECT_GE(run.Find("TZYRFullscreenCapturer::TerminateFullscreenOverlay"), 0);
    // The overlay program is gone once the capture has ended.
    TKernelHandle hOverlay(::OpenProcess(SYNCHRONIZE, FALSE, dwOverlayId));
    if (hOverlay) {
        EXPECT_EQ(::WaitForSingleObject(hOverlay.Get(), kWaitMs), WAIT_OBJECT_0);
    }
}

TEST_F(Frames, MissingOverlayProgramIsReportedAndCaptureGoesOn)
{
    OverlayProgramHidden hidden;
    ASSERT_TRUE(hidden.Moved());
    StartFrames(GdiOptions());
    TFramePicture picture;
    uint32_t ui32Timestamp = 0;
    for (uint32_t slot = 0; slot < 2; ++slot) {
        ASSERT_EQ(Frame(slot, &picture, &ui32Timestamp), TFrameResult::Ok);
    }
    const TCapturerRun run = Stop();
    EXPECT_GE(run.Find("TZYRFullscreenCapturer::StartFullscreenOverlay ShellExecuteEx error 2"), 0);
    EXPECT_GE(run.Find("TZYRFullscreenCapturer::StartFullscreenOverlay exit with 0"), 0);
    EXPECT_TRUE(run.otherRecords.empty());
}

// Scaled frames over the smooth pattern, whose neighbours differ by at most one step.
class ScaledFrames : public Frames {
protected:
    static void SetUpTestSuite()
    {
        EndToEnd::SetUpTestSuite();
        pScene = scenetest::StartSuiteScene(Pattern::Smooth);
    }
};

TEST_F(ScaledFrames, RequestedSizesAreUsedAsGivenWithBarsOrStretched)
{
    struct Case {
        const char* name;
        int32_t width;
        int32_t height;
        bool bStretch;
        uint32_t barRows;  // rows of bars above and below the picture
    };
    // 1280 x 800 keeping proportion: scale 2/3, a 1280 x 720 picture between 40-row bars.
    // 1002 x 566 is no multiple of 8: used as given, stretched over the whole image.
    const Case cases[] = {{"kept proportion", 1280, 800, false, 40}, {"stretched", 1002, 566, true, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TRefHostOptions options = GdiOptions();
        options.iRequestedWidth = c.width;
        options.iRequestedHeight = c.height;
        options.bStretch = c.bStretch;
        StartFrames(options);
        TFramePicture picture;
        uint32_t ui32Timestamp = 0;
        ASSERT_EQ(Frame(0, &picture, &ui32Timestamp), TFrameResult::Ok);
        ASSERT_EQ(picture.ui32Width, static_cast<uint32_t>(c.width));
        ASSERT_EQ(picture.ui32Height, static_cast<uint32_t>(c.height));
        const uint32_t rows = picture.ui32Height - 2 * c.barRows;
        std::string first;
        EXPECT_EQ(scenetest::CountMismatches(AsScreenFrame(picture, c.barRows, rows), Pattern::Smooth, 0, kScreenW,
                                             kScreenH, scene::kSmoothScaledTolerance, &first),
                  0u)
            << first;
        for (uint32_t bar = 0; bar < c.barRows; ++bar) {
            for (const uint32_t y : {bar, picture.ui32Height - 1 - bar}) {
                const uint32_t pixel = picture.vecPixels[size_t{y} * picture.ui32Width + 640];
                EXPECT_EQ(pixel & scene::kPatternColourMask, 0u) << "bar row " << y;
            }
        }
        const TCapturerRun run = Stop();
        EXPECT_GE(run.Find(kThread + " safe image size " + std::to_string(c.width) + " x " + std::to_string(c.height)),
                  0);
    }
}

}  // namespace
