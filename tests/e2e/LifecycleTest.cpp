// The capturer's life as a host sees it: each start-up failure with its exit code and lines, the
// three ways a host ends it (each stops and joins the capture thread). scripts/check-exe.sh checks
// the built file itself (subsystem and embedded manifest).
#include "EndToEndSupport.h"
#include "SceneTestSupport.h"
#include "TFrameClient.h"
#include "TScreenOutputDuplication.h"

#include <tlhelp32.h>

#include <optional>
#include <regex>

namespace {

constexpr uint32_t kError = 2;
const std::string kRun = "TZYRFullscreenCapturer::Run ";

struct FailureCase {
    const char* name;
    std::optional<THostObject> omitted;
    const wchar_t* args;  // the capturer's whole command line instead of the host's pid
    bool bUndersizedSection;
    int exitCode;
    bool bStartedCorrectly;
    std::vector<std::string> lastLines;  // patterns of the lines just before "WinMain exit with <code>"
};

class StartupFailure : public EndToEnd, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(StartupFailure, EndsWithItsCodeAndLines)
{
    const FailureCase& c = GetParam();
    TRefHostOptions options;
    if (c.omitted) {
        options.Omit(*c.omitted);
    }
    if (c.bUndersizedSection) {
        options.ui64SectionSize = 4096;  // smaller than the header
        options.bUndersizedSection = true;
    }
    const std::wstring args = c.args != nullptr ? c.args : L"";
    const TCapturerRun run = RunToExit(options, c.args != nullptr ? &args : nullptr);
    ASSERT_TRUE(run.bExited);
    EXPECT_EQ(run.iExitCode, c.exitCode);
    EXPECT_EQ(run.bStartedCorrectly, c.bStartedCorrectly) << "set only from the started-correctly step on";

    const int exitLine = run.Find("WinMain exit with " + std::to_string(c.exitCode));
    ASSERT_GE(exitLine, static_cast<int>(c.lastLines.size())) << ::testing::PrintToString(run.Texts());
    for (size_t i = 0; i < c.lastLines.size(); ++i) {
        const std::string& text = run.records[exitLine - c.lastLines.size() + i].strText;
        EXPECT_TRUE(std::regex_match(text, std::regex(c.lastLines[i]))) << text << " is not " << c.lastLines[i];
    }
    EXPECT_EQ(run.records[exitLine - 1].fields.ui32Type, kError) << "the code's reason is an error line";
    EXPECT_EQ(run.records[0].fields.ui32Type, 6u) << "thread marker first";
    for (const auto& record : run.records) {
        EXPECT_EQ(record.fields.ui32ModuleId, 5u) << "module id from the server's directory";
    }
    EXPECT_EQ(run.Find("CaptureScreenThread"), -1) << "no capture thread on a failed start";
    EXPECT_EQ(run.Texts().back(), "TZYRFullscreenCapturer::~TZYRFullscreenCapturer exit");
}

INSTANTIATE_TEST_SUITE_P(
    EachMissingPiece, StartupFailure,
    ::testing::Values(
        FailureCase{"NoHostId", {}, L"", false, -1, false,
                    {"TZYRFullscreenCapturer::ParseCommandLine exit", kRun + "exit with -1"}},
        // "-1" is the 64-bit value -1, whose low 32 bits name no process.
        FailureCase{"HostThatCannotBeOpened", {}, L"-1", false, -3, false, {kRun + "OpenProcess error [1-9][0-9]* exit with -3"}},
        FailureCase{"FrameBuffer", THostObject::FrameBuffer, nullptr, false, -4, false, {kRun + "OpenFileMapping error 2 exit with -4"}},
        FailureCase{"HeaderTooSmall", {}, nullptr, true, -5, false, {kRun + "MapViewOfFile error [1-9][0-9]* exit with -5"}},
        FailureCase{"UninstallEvent", THostObject::UninstallEvent, nullptr, false, -6, false,
                    {kRun + "wsUninstallAllHooksEventName 'VQUninstallAllHooksEvent67777777773'",
                     "TZYREvent::TZYREvent OpenEvent error 2", kRun + "OpenEvent error 2 exit with -6"}},
        FailureCase{"InstanceMutex", THostObject::InstanceMutex, nullptr, false, -7, false,
                    {"TZYRFullscreenCapturer::IsCaptureFrameInstanceAlive the capture frame instance doesn't exist anymore",
                     kRun + "CaptureFrame instance doesn't exist exit with -7"}},
        FailureCase{"StartedEvent", THostObject::StartedCorrectlyEvent, nullptr, false, -8, false,
                    {kRun + "fullscreen_capture_exe_was_started_correctly_event_name "
                            "'VQZYRDllExistsInProcessEvent6777777777340000000000'",
                     "TZYREvent::TZYREvent OpenEvent error 2", kRun + "OpenEvent error 2 exit with -8"}},
        FailureCase{"FirstFrameEvent", THostObject::FirstFrameEvent, nullptr, false, -9, true,
                    {kRun + "unable to open a pTheFirstFrameCapturedEvent event error 2 exit with -9"}},
        FailureCase{"HUDMutex", THostObject::HUDMutex, nullptr, false, -10, true, {kRun + "unable to open a HUD mutex"}},
        FailureCase{"WebCamMutex", THostObject::WebCamMutex, nullptr, false, -11, true,
                    {kRun + "HUD mutex has been opened", kRun + "unable to open a WebCam mutex"}},
        FailureCase{"RadialMenuMutex", THostObject::RadialMenuMutex, nullptr, false, -12, true,
                    {kRun + "unable to open a RadialMenu mutex"}},
        FailureCase{"WebCamBackgroundMutex", THostObject::WebCamBackgroundMutex, nullptr, false, -13, true,
                    {kRun + "RadialMenu mutex has been opened", kRun + "unable to open a WebCamBackground mutex"}}),
    [](const ::testing::TestParamInfo<FailureCase>& param) { return std::string(param.param.name); });

// Lines that prove the thread ran on its own thread, was asked to stop, ended and was joined.
void ExpectThreadStoppedAndJoined(const TCapturerRun& run)
{
    const std::string thread = "TZYRFullscreenCapturer::CaptureScreenThread";
    const std::string deleter = "TZYRFullscreenCapturer::CaptureScreenThreadDeleter";
    const int marker = run.Find("CaptureScreenThread");
    ASSERT_GE(marker, 0) << ::testing::PrintToString(run.Texts());
    EXPECT_NE(run.records[marker].fields.ui32ThreadId, run.records[0].fields.ui32ThreadId) << "a thread of its own";
    const int terminate = run.Find(deleter + " terminate capture screen thread");
    const int threadExit = run.Find(thread + " exit");
    const int joined = run.Find(deleter + " exit");
    EXPECT_GE(terminate, 0);
    EXPECT_GT(threadExit, terminate) << "the thread ends after the stop request";
    EXPECT_GT(joined, threadExit) << "the deleter returns after the thread ended";
    EXPECT_GT(run.Find(kRun + "exit with 0"), joined);
    EXPECT_EQ(run.records[threadExit].fields.ui32ThreadId, run.records[marker].fields.ui32ThreadId);
    EXPECT_EQ(run.iExitCode, 0);
}

enum class StopBy { Uninstall, InstanceMutex, HostDeath };

class Stop : public EndToEnd, public ::testing::WithParamInterface<StopBy> {};

TEST_P(Stop, EndsWithZeroAfterJoiningTheCaptureThread)
{
    scenetest::ChildProcess standIn;  // a host that can die
    DWORD hostPid = 0;
    if (GetParam() == StopBy::HostDeath) {
        ASSERT_TRUE(standIn.Start(WindowsPath(ZYR_REFHOST_EXE), L"--idle 600000"));
        hostPid = standIn.Id();
    }
    ASSERT_TRUE(Start(TRefHostOptions{}, hostPid));
    ASSERT_TRUE(pHost->WaitStartedCorrectly(kWaitMs));
    const uint64_t stoppedAt = NowMs();
    std::string reason;
    switch (GetParam()) {
    case StopBy::Uninstall:
        pHost->SignalUninstall();
        reason = kRun + "pUninstallAllHooksEvent is signaled, exiting the process...";
        break;
    case StopBy::InstanceMutex:
        pHost->CloseInstanceMutex();
        reason = "TZYRFullscreenCapturer::IsCaptureFrameInstanceAlive the capture frame instance doesn't exist anymore";
        break;
    case StopBy::HostDeath:
        ::TerminateProcess(standIn.Handle(), 0);
        reason = "TZYRFullscreenCapturer::IsHostProcessAlive the host process is not alive";
        break;
    }
    const TCapturerRun run = Finish();
    ASSERT_TRUE(run.bExited);
    const int noticed = run.Find(reason);
    ASSERT_GE(noticed, 0) << ::testing::PrintToString(run.Texts());
    // Both sides stamp with the same performance counter; one pass waits at most 500 ms.
    EXPECT_LE(run.records[noticed].fields.ui64Timestamp - stoppedAt, 1000u) << "noticed within about one pass";
    ExpectThreadStoppedAndJoined(run);
    EXPECT_EQ(pHost->Header()->bCaptureInvalidated, 1) << "the thread marks the capture invalidated on its way out";
}

INSTANTIATE_TEST_SUITE_P(EachReason, Stop, ::testing::Values(StopBy::Uninstall, StopBy::InstanceMutex, StopBy::HostDeath),
                         [](const ::testing::TestParamInfo<StopBy>& param) {
                             return std::string(param.param == StopBy::Uninstall       ? "Uninstall"
                                                : param.param == StopBy::InstanceMutex ? "InstanceMutex"
                                                                                       : "HostDeath");
                         });

// The time stamp of the capturer's first record with `text`, once the drainer has it.
std::optional<uint64_t> WaitForRecordTime(const TLogServerDrainer& drainer, DWORD pid, const std::string& text)
{
    std::optional<uint64_t> stamp;
    drainer.WaitFor(
        [&](const std::vector<TLogRecord>& records) {
            for (const TLogRecord& entry : records) {
                if (!entry.bMalformed && entry.record.fields.ui32ProcessId == pid && entry.record.strText == text) {
                    stamp = entry.record.fields.ui64Timestamp;
                    return true;
                }
            }
            return false;
        },
        kWaitMs);
    return stamp;
}

// A host that ends in the middle of a supervision pass is noticed at once, not when the pass's
// 500 ms wait for the uninstall event runs out: the process has to be gone within 600 ms of its
// host. Nothing else happens, so passes start every 500 ms from the main loop's first line; the host
// dies 100 ms into one of them.
TEST_F(EndToEnd, HostThatEndsMidPassIsNoticedAtOnce)
{
    scenetest::ChildProcess standIn;  // a host that can die
    ASSERT_TRUE(standIn.Start(WindowsPath(ZYR_REFHOST_EXE), L"--idle 600000"));
    ASSERT_TRUE(Start(TRefHostOptions{}, standIn.Id()));
    const std::optional<uint64_t> loopStart =
        WaitForRecordTime(*pDrainer, pHost->CapturerProcessId(), kRun + "before the main loop");
    ASSERT_TRUE(loopStart.has_value());
    uint64_t killAt = *loopStart + 100;
    while (killAt < NowMs() + 20) {
        killAt += 500;
    }
    while (NowMs() < killAt) {
        ::Sleep(1);
    }
    const uint64_t stoppedAt = NowMs();
    ::TerminateProcess(standIn.Handle(), 0);
    const TCapturerRun run = Finish();
    ASSERT_TRUE(run.bExited);
    const int noticed = run.Find("TZYRFullscreenCapturer::IsHostProcessAlive the host process is not alive");
    ASSERT_GE(noticed, 0) << ::testing::PrintToString(run.Texts());
    // The pass's own wait would have lasted about 400 ms more.
    EXPECT_LE(run.records[noticed].fields.ui64Timestamp - stoppedAt, 150u) << "killed " << (stoppedAt - *loopStart)
                                                                           << " ms after the loop started";
    ExpectThreadStoppedAndJoined(run);
}

// The overlay programs (fullscreenoverlay.exe) still running whose parent is `parentId`.
int RunningOverlaysOf(DWORD parentId)
{
    const TFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more; more = ::Process32NextW(snapshot.Get(), &entry)) {
        count += entry.th32ParentProcessID == parentId && _wcsicmp(entry.szExeFile, L"fullscreenoverlay.exe") == 0;
    }
    return count;
}

// A capture pass that does not return (the platform stalled in a call; here every acquire of the
// test variant's duplication stalls for 20 s) cannot hold the process past its stop: the stop waits
// for the capture thread a bounded time, then ends the overlay program and the process with 0,
// and the log says so.
class StalledPass : public EndToEnd, public ::testing::WithParamInterface<StopBy> {
protected:
    void SetUp() override
    {
        EndToEnd::SetUp();
        ASSERT_TRUE(::SetEnvironmentVariableW(testdup::kStallVariable, L"20000"));  // inherited
        wsCapturer = TestDupCapturerPath();
    }
    void TearDown() override { ::SetEnvironmentVariableW(testdup::kStallVariable, nullptr); }
};

TEST_P(StalledPass, TheProcessEndsWithinTheBound)
{
    scenetest::ChildProcess standIn;
    DWORD hostPid = 0;
    if (GetParam() == StopBy::HostDeath) {
        ASSERT_TRUE(standIn.Start(WindowsPath(ZYR_REFHOST_EXE), L"--idle 600000"));
        hostPid = standIn.Id();
    }
    TRefHostOptions options;
    options.ui32CaptureMethod = 0;
    ASSERT_TRUE(Start(options, hostPid));
    ASSERT_TRUE(pHost->WaitStartedCorrectly(kWaitMs));
    TFrameClient frames(*pHost);
    ASSERT_TRUE(frames.Request(0));
    // The event exists once the duplication does (bounded polling while the capturer starts its
    // engine); the capture thread sets it entering a stall.
    TKernelHandle stalling;
    const std::wstring stallingName = testdup::StallingEventName(pHost->CapturerProcessId());
    for (int i = 0; i < 300 && !stalling; ++i) {
        stalling.Reset(::OpenEventW(SYNCHRONIZE, FALSE, stallingName.c_str()));
        if (!stalling) {
            ::WaitForSingleObject(pHost->CapturerProcess(), 100);
        }
    }
    ASSERT_TRUE(stalling) << "the test variant made no stall event";
    ASSERT_EQ(::WaitForSingleObject(stalling.Get(), kWaitMs), WAIT_OBJECT_0);
    ASSERT_GT(RunningOverlaysOf(pHost->CapturerProcessId()), 0) << "the whole screen starts the overlay program";

    const uint64_t stoppedAt = NowMs();
    if (GetParam() == StopBy::HostDeath) {
        ::TerminateProcess(standIn.Handle(), 0);
    } else {
        pHost->SignalUninstall();
    }
    ASSERT_EQ(::WaitForSingleObject(pHost->CapturerProcess(), kWaitMs), WAIT_OBJECT_0);
    const uint64_t goneAfter = NowMs() - stoppedAt;
    EXPECT_LE(goneAfter, 600u) << "the process outlived its stop";
    EXPECT_EQ(RunningOverlaysOf(pHost->CapturerProcessId()), 0) << "the overlay program outlived the capturer";
    const TCapturerRun run = Finish();
    ASSERT_TRUE(run.bExited);
    EXPECT_EQ(run.iExitCode, 0);
    const int warning = run.Find("TZYRFullscreenCapturer::CaptureScreenThreadDeleter the capture thread did not end "
                                 "within 400 ms: the process ends without it");
    ASSERT_GE(warning, 0) << ::testing::PrintToString(run.Texts());
    EXPECT_EQ(run.records[warning].fields.ui32Type, 1u) << "a warning";
    EXPECT_GT(warning, run.Find("TZYRFullscreenCapturer::CaptureScreenThreadDeleter terminate capture screen thread"));
    EXPECT_EQ(run.Texts().back(), kRun + "exit with 0") << "the process's last line";
    EXPECT_LT(run.Find("TZYRFullscreenCapturer::CaptureScreenThread exit"), 0) << "the stalled thread never returned";
}

INSTANTIATE_TEST_SUITE_P(HostDeathAndUninstall, StalledPass, ::testing::Values(StopBy::HostDeath, StopBy::Uninstall),
                         [](const ::testing::TestParamInfo<StopBy>& param) {
                             return std::string(param.param == StopBy::HostDeath ? "HostDeath" : "Uninstall");
                         });

TEST_F(EndToEnd, PresignalledUninstallEventEndsAfterOnePass)
{
    TRefHostOptions options;
    options.bUninstallPreSignalled = true;
    SetLogLevel(2);
    const TCapturerRun run = RunToExit(options);
    ASSERT_TRUE(run.bExited);
    EXPECT_TRUE(run.bStartedCorrectly);
    // Mutex opens: the start-up instance check, four access mutexes, and one per loop pass.
    EXPECT_EQ(run.Count("TZYRMutex::TZYRMutex"), 6u) << ::testing::PrintToString(run.Texts());
    EXPECT_EQ(run.Count(kRun + "pUninstallAllHooksEvent is signaled, exiting the process..."), 1u);
    ExpectThreadStoppedAndJoined(run);
}

}  // namespace
