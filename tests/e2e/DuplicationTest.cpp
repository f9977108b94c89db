// Desktop duplication as the shipped exe meets Wine, which has none: the probe (host id 0) answers
// -2 without touching the host's objects, and capture method 0 ends the capture thread through its
// exit steps while the process goes on supervising until the host stops it. The test variant, whose
// duplication stands in for the one Wine lacks, answers the probe with 10002.
#include "EndToEndSupport.h"

#include <algorithm>

namespace {

const std::string kRun = "TZYRFullscreenCapturer::Run ";
const std::string kThread = "TZYRFullscreenCapturer::CaptureScreenThread ";
constexpr uint32_t kError = 2;

TEST_F(EndToEnd, ProbeAnswersMinusTwoWithoutOpeningAnyHostObject)
{
    // Every host object exists: a probe that opened one would set started-correctly or log it.
    const std::wstring args = L"0";
    const TCapturerRun run = RunToExit(TRefHostOptions{}, &args);
    ASSERT_TRUE(run.bExited);
    EXPECT_EQ(run.iExitCode, -2);
    EXPECT_FALSE(run.bStartedCorrectly);
    const int tried = run.Find(kRun + "trying to create DXGI Output Duplication");
    const int failed = run.Find("TDXGIDuplication::TryToCreate DuplicateOutput error 80004001");
    const int answered = run.Find(kRun + "exit with -2 because we can't create DXGI Output Duplication");
    ASSERT_GE(tried, 0) << ::testing::PrintToString(run.Texts());
    EXPECT_GT(failed, tried);
    EXPECT_GT(answered, failed);
    EXPECT_EQ(run.records[failed].fields.ui32Type, kError);
    EXPECT_EQ(run.Find("WinMain exit with -2"), answered + 1) << "the answer is the exit code";
    for (const std::string& text : run.Texts()) {
        EXPECT_EQ(text.find("OpenProcess"), std::string::npos) << text;
        EXPECT_EQ(text.find("wsUninstallAllHooksEventName"), std::string::npos) << text;
        EXPECT_EQ(text.find("CaptureScreenThread"), std::string::npos) << text;
    }
}

TEST_F(EndToEnd, ProbeOfTheTestVariantAnswers10002)
{
    wsCapturer = TestDupCapturerPath();
    const std::wstring args = L"0";
    const TCapturerRun run = RunToExit(TRefHostOptions{}, &args);
    ASSERT_TRUE(run.bExited);
    EXPECT_EQ(run.iExitCode, 10002);
    EXPECT_FALSE(run.bStartedCorrectly);
    const int answered = run.Find(kRun + "exit with 10002 because we can create DXGI Output Duplication");
    ASSERT_GT(answered, run.Find(kRun + "trying to create DXGI Output Duplication")) << ::testing::PrintToString(run.Texts());
    EXPECT_EQ(run.Find("WinMain exit with 10002"), answered + 1);
    for (const auto& record : run.records) {
        EXPECT_NE(record.fields.ui32Type, kError) << record.strText;
    }
}

TEST_F(EndToEnd, MethodZeroWithoutDuplicationEndsTheCaptureThreadButNotTheProcess)
{
    TRefHostOptions options;
    options.ui32CaptureMethod = 0;
    ASSERT_TRUE(Start(options));
    ASSERT_TRUE(pHost->WaitStartedCorrectly(kWaitMs));
    // The thread's exit steps mark the capture invalidated; the host polls the header for it.
    const uint64_t deadline = NowMs() + kWaitMs;
    while (pHost->Header()->bCaptureInvalidated == 0 && NowMs() < deadline) {
        ::WaitForSingleObject(pHost->CapturerProcess(), 10);
    }
    ASSERT_EQ(pHost->Header()->bCaptureInvalidated, 1);
    EXPECT_EQ(::WaitForSingleObject(pHost->CapturerProcess(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the process supervises on";
    pHost->SignalUninstall();
    const TCapturerRun run = Finish();
    ASSERT_TRUE(run.bExited);
    EXPECT_EQ(run.iExitCode, 0);
    const int duplicate = run.Find("TDXGIDuplication::TDXGIDuplication DuplicateOutput error 80004001");
    const int unusable = run.Find("TDXGIFullscreenCapturer::CreateDXGIDuplication unable to use pDXGIDuplication");
    const int gaveUp = run.Find(kThread + "unable to initialize pFullscreenCapturer");
    const int threadExit = run.Find(kThread + "exit");
    ASSERT_GE(duplicate, 0) << ::testing::PrintToString(run.Texts());
    EXPECT_GT(unusable, duplicate);
    EXPECT_GT(gaveUp, unusable);
    EXPECT_GT(threadExit, gaveUp);
    EXPECT_GT(run.Find(kRun + "pUninstallAllHooksEvent is signaled, exiting the process..."), threadExit);
}

}  // namespace
