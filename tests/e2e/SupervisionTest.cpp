// The supervision loop: each of the three stop reasons ends the capturer with 0 after stopping and
// joining its capture thread; the host's death is noticed within about one pass; an uninstall
// event that is already signalled ends the loop after one pass.
#include "EndToEndSupport.h"

namespace {

const std::string kThread = "TZYRFullscreenCapturer::CaptureScreenThread";
const std::string kDeleter = "TZYRFullscreenCapturer::CaptureScreenThreadDeleter";

// Lines that prove the thread ran, was asked to stop, ended and was joined, in that order.
void ExpectThreadStartedStoppedAndJoined(const TCapturerRun& run)
{
    const int marker = run.Find("CaptureScreenThread");
    ASSERT_GE(marker, 0) << ::testing::PrintToString(run.Texts());
    EXPECT_EQ(run.records[marker].fields.ui32Type, 6u);
    const uint32_t mainThread = run.records[0].fields.ui32ThreadId;
    EXPECT_NE(run.records[marker].fields.ui32ThreadId, mainThread) << "a thread of its own";

    const int entry = run.Find(kThread);
    const int terminate = run.Find(kDeleter + " terminate capture screen thread");
    const int threadExit = run.Find(kThread + " exit");
    const int joined = run.Find(kDeleter + " exit");
    const int runExit = run.Find("TZYRFullscreenCapturer::Run exit with 0");
    EXPECT_GT(entry, marker);
    EXPECT_GT(terminate, 0);
    EXPECT_GT(threadExit, terminate) << "the thread ends after the stop request";
    EXPECT_GT(joined, threadExit) << "the deleter returns after the thread ended";
    EXPECT_GT(runExit, joined);
    EXPECT_EQ(run.records[threadExit].fields.ui32ThreadId, run.records[marker].fields.ui32ThreadId);
    EXPECT_GE(run.Find("WinMain exit with 0"), 0);
}

TEST_F(EndToEnd, UninstallEventEndsWithZero)
{
    ASSERT_TRUE(Start(TRefHostOptions{}));
    ASSERT_TRUE(pHost->WaitStartedCorrectly(kWaitMs));
    pHost->SignalUninstall();
    const TCapturerRun run = Finish();
    ASSERT_TRUE(run.bExited);
    EXPECT_EQ(run.iExitCode, 0);
    EXPECT_GE(run.Find("TZYRFullscreenCapturer::Run pUninstallAllHooksEvent is signaled, exiting the process..."), 0);
    EXPECT_GE(run.Find("TZYRFullscreenCapturer::Run before the main loop"), 0);
    ExpectThreadStartedStoppedAndJoined(run);
    EXPECT_EQ(pHost->Header()->bCaptureInvalidated, 1) << "the thread marks the capture invalidated on its way out";
}

TEST_F(EndToEnd, ClosedInstanceMutexEndsWithZero)
{
    ASSERT_TRUE(Start(TRefHostOptions{}));
    ASSERT_TRUE(pHost->WaitStartedCorrectly(kWaitMs));
    pHost->CloseInstanceMutex();
    const TCapturerRun run = Finish();
    ASSERT_TRUE(run.bExited);
    EXPECT_EQ(run.iExitCode, 0);
    EXPECT_GE(run.Find("TZYRFullscreenCapturer::IsCaptureFrameInstanceAlive the capture frame instance doesn't exist anymore"), 0);
    ExpectThreadStartedStoppedAndJoined(run);
}

TEST_F(EndToEnd, HostDeathIsNoticedWithinAboutOnePass)
{
    TStandInHost standIn;
    ASSERT_NE(standIn.ProcessId(), 0u);
    ASSERT_TRUE(Start(TRefHostOptions{}, standIn.ProcessId()));
    ASSERT_TRUE(pHost->WaitStartedCorrectly(kWaitMs));
    const uint64_t endedAt = NowMs();
    standIn.End();
    const TCapturerRun run = Finish();
    ASSERT_TRUE(run.bExited);
    EXPECT_EQ(run.iExitCode, 0);
    const int noticed = run.Find("TZYRFullscreenCapturer::IsHostProcessAlive the host process is not alive");
    ASSERT_GE(noticed, 0);
    // Both sides stamp with the same performance counter. One pass waits at most 500 ms; the
    // margin covers a loaded two-core machine.
    const uint64_t latency = run.records[noticed].fields.ui64Timestamp - endedAt;
    EXPECT_LE(latency, 1000u) << "noticed after " << latency << " ms";
    RecordProperty("host_death_latency_ms", static_cast<int>(latency));
    ExpectThreadStartedStoppedAndJoined(run);
}

TEST_F(EndToEnd, PresignalledUninstallEventEndsAfterOnePass)
{
    TRefHostOptions options;
    options.bUninstallPreSignalled = true;
    SetLogLevel(2);
    const TCapturerRun run = RunToExit(options);
    ASSERT_TRUE(run.bExited);
    EXPECT_EQ(run.iExitCode, 0);
    EXPECT_TRUE(run.bStartedCorrectly);
    // Mutex opens: the start-up instance check, four access mutexes, and one per loop pass.
    EXPECT_EQ(run.Count("TZYRMutex::TZYRMutex"), 6u) << ::testing::PrintToString(run.Texts());
    EXPECT_EQ(run.Count("TZYRFullscreenCapturer::Run pUninstallAllHooksEvent is signaled, exiting the process..."), 1u);
    ExpectThreadStartedStoppedAndJoined(run);
}

TEST_F(EndToEnd, StartUpLinesInOrder)
{
    ASSERT_TRUE(Start(TRefHostOptions{}));
    ASSERT_TRUE(pHost->WaitStartedCorrectly(kWaitMs));
    pHost->SignalUninstall();
    const TCapturerRun run = Finish();
    ASSERT_TRUE(run.bExited);
    const std::string run_ = "TZYRFullscreenCapturer::Run ";
    const std::vector<std::string> ordered = {
        "TZYRFullscreenCapturer::Run",
        run_ + "wsUninstallAllHooksEventName 'VQUninstallAllHooksEvent67777777773'",
        run_ + "strTLMCaptureFrameInstanceMutexName is 'ZYRRefHostCaptureFrameInstance67777777773'",
        run_ + "fullscreen_capture_exe_was_started_correctly_event_name 'VQZYRDllExistsInProcessEvent6777777777340000000000'",
        run_ + "pTheFirstFrameCapturedEvent event has been opened",
        run_ + "HUD mutex has been opened",
        run_ + "WebCam mutex has been opened",
        run_ + "RadialMenu mutex has been opened",
        run_ + "WebCamBackground mutex has been opened",
        run_ + "before the main loop",
        run_ + "exit with 0",
    };
    int previous = -1;
    for (const std::string& line : ordered) {
        const int at = run.Find(line);
        EXPECT_GT(at, previous) << line;
        previous = at;
    }
}

}  // namespace
