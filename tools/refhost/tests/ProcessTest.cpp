// The host with real processes: ZYRRefHost.exe itself stands in for a capturer that never
// starts correctly (--idle), which drives the session's and the destructor's other paths; one run
// of the real capturer checks started-correctly, the uninstall stop and exit code 0.
#include "RefHostSession.h"
#include "RefHostTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

namespace {

using namespace refhost_test;

// Generous bound for process starts and ends under Wine on a loaded two-core machine.
constexpr DWORD kWaitMs = 30000;

std::wstring CapturerPath()
{
    return WindowsPath(ZYR_CAPTURER_EXE);
}

std::wstring RefHostPath()
{
    return WindowsPath(ZYR_REFHOST_EXE);
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

// Runs ZYRRefHost.exe with `arguments` and returns its exit code, or -1000 when it did not end.
int RunTool(const std::wstring& arguments)
{
    TRefHost launcher;
    std::wstring error;
    if (!launcher.StartCapturer(RefHostPath(), 0, &arguments, &error)) {
        ADD_FAILURE() << Narrow(error);
        return -1000;
    }
    int iExitCode = -1000;
    EXPECT_TRUE(launcher.WaitCapturerExit(kWaitMs, &iExitCode));
    return iExitCode;
}

TEST(RefHostTool, ExitCodes)
{
    struct Case {
        const char* name;
        std::wstring wsArguments;
        int iExitCode;
    };
    const Case cases[] = {
        {"help", L"--help", 0},
        {"idle", L"--idle 0", 0},
        {"no arguments", L"", 2},
        {"bare host id", L"1234", 2},
        {"unknown option", L"--capturer x.exe --frobnicate", 2},
        {"missing value", L"--capturer x.exe --run-ms", 2},
        {"capturer that cannot start", L"--capturer Z:\\no\\such\\capturer.exe --timeout-ms 1000", 1},
        {"frames from a capturer that cannot start", L"--capturer Z:\\no\\such\\capturer.exe --frames 3 --raw", 1},
        {"two streams", L"--capturer x.exe --frames 3 --raw --y4m", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RunTool(c.wsArguments), c.iExitCode);
    }
}

TEST(RefHostProcess, StartFailureNamesTheProgram)
{
    TRefHost host;
    std::wstring error;
    EXPECT_FALSE(host.StartCapturer(L"Z:\\no\\such\\capturer.exe", 0, nullptr, &error));
    EXPECT_NE(error.find(L"Z:\\no\\such\\capturer.exe"), std::wstring::npos) << Narrow(error);
    EXPECT_EQ(host.CapturerProcess(), nullptr);
}

TEST(RefHostProcess, ExitCodesComeBackSigned)
{
    wchar_t systemDirectory[MAX_PATH] = {};
    ASSERT_NE(::GetSystemDirectoryW(systemDirectory, MAX_PATH), 0u);
    const std::wstring cmd = std::wstring(systemDirectory) + L"\\cmd.exe";
    for (int iCode : {-7, -13, 10002, 0}) {
        SCOPED_TRACE(iCode);
        TRefHost host;
        const std::wstring arguments = L"/c exit " + std::to_wstring(iCode);
        std::wstring error;
        ASSERT_TRUE(host.StartCapturer(cmd, 0, &arguments, &error)) << Narrow(error);
        EXPECT_NE(host.CapturerProcessId(), 0u);
        int iExitCode = 12345;
        ASSERT_TRUE(host.WaitCapturerExit(kWaitMs, &iExitCode));
        EXPECT_EQ(iExitCode, iCode);
    }
}

TEST(RefHostProcess, WaitForStartEndsWhenTheProgramEndsWithoutStarting)
{
    TRefHost host;
    std::wstring error;
    ASSERT_TRUE(host.CreateObjects(TRefHostOptions{}, &error)) << Narrow(error);
    const std::wstring arguments = L"--idle 0";
    ASSERT_TRUE(host.StartCapturer(RefHostPath(), 0, &arguments, &error)) << Narrow(error);
    const ULONGLONG ullStart = ::GetTickCount64();
    EXPECT_FALSE(host.WaitStartedCorrectlyOrExit(kWaitMs));
    EXPECT_LT(::GetTickCount64() - ullStart, kWaitMs) << "returned on the process's end, not the time-out";
    int iExitCode = -1;
    ASSERT_TRUE(host.WaitCapturerExit(0, &iExitCode));
    EXPECT_EQ(iExitCode, 0);
}

TRefHostCommand IdleCommand(uint32_t ui32IdleMs, uint32_t ui32TimeoutMs)
{
    TRefHostCommand command;
    command.wsCapturerPath = RefHostPath();
    command.bArgsOverride = true;
    command.wsArgs = L"--idle " + std::to_wstring(ui32IdleMs);
    command.ui32TimeoutMs = ui32TimeoutMs;
    return command;
}

TEST(RefHostSession, ProgramThatEndsWithoutStartingIsOnlyReported)
{
    TRefHost host;
    std::ostringstream out;
    std::ostringstream err;
    const TRefHostSessionResult result = RunRefHostSession(IdleCommand(0, kWaitMs), host, out, err);
    EXPECT_EQ(result.iExitCode, 0) << err.str();
    EXPECT_FALSE(result.bHostMustEnd);
    const std::vector<std::string> expected = {
        "capturer-pid " + std::to_string(host.CapturerProcessId()),
        "started-correctly no",
        "exit-code 0",
    };
    EXPECT_EQ(Lines(out.str()), expected);
    EXPECT_EQ(err.str(), "");
}

TEST(RefHostSession, EndHostLeavesTheProgramRunning)
{
    TRefHostCommand command = IdleCommand(600000, 200);
    command.stopMethod = TStopMethod::EndHost;
    // Without the uninstall event the host's destructor terminates the stand-in at once.
    command.options.Omit(THostObject::UninstallEvent);
    TRefHost host;
    std::ostringstream out;
    std::ostringstream err;
    const TRefHostSessionResult result = RunRefHostSession(command, host, out, err);
    EXPECT_EQ(result.iExitCode, 0) << err.str();
    EXPECT_TRUE(result.bHostMustEnd);
    const std::vector<std::string> lines = Lines(out.str());
    ASSERT_EQ(lines.size(), 3u) << out.str();
    EXPECT_EQ(lines[1].rfind("started-correctly no after ", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2], "stop end-host");
    EXPECT_EQ(::WaitForSingleObject(host.CapturerProcess(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

// The stand-in ignores the uninstall event: the session gives up after its time-out, and the
// destructor, after its own 10 s grace, terminates it.
TEST(RefHostSession, ProgramThatNeverEndsIsAFailureAndIsTerminated)
{
    auto host = std::make_unique<TRefHost>();
    std::ostringstream out;
    std::ostringstream err;
    const TRefHostSessionResult result = RunRefHostSession(IdleCommand(600000, 200), *host, out, err);
    EXPECT_EQ(result.iExitCode, 1);
    EXPECT_FALSE(result.bHostMustEnd);
    EXPECT_NE(err.str().find("did not end within 200 ms"), std::string::npos) << err.str();
    const std::vector<std::string> lines = Lines(out.str());
    ASSERT_EQ(lines.size(), 3u) << out.str();
    EXPECT_EQ(lines[2], "stop uninstall");

    const TKernelHandle process(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                              host->CapturerProcessId()));
    ASSERT_TRUE(process.IsValid());
    host.reset();
    ASSERT_EQ(::WaitForSingleObject(process.Get(), 0), static_cast<DWORD>(WAIT_OBJECT_0)) << "ended before ~TRefHost returned";
    DWORD dwExitCode = 0;
    ASSERT_TRUE(::GetExitCodeProcess(process.Get(), &dwExitCode));
    EXPECT_EQ(dwExitCode, 1u) << "terminated";
}

TEST(RefHostSession, RealCapturerStartsAndEndsWithZeroOnUninstall)
{
    TRefHostCommand command;
    command.wsCapturerPath = CapturerPath();
    command.ui32RunMs = 300;
    command.ui32TimeoutMs = kWaitMs;
    TRefHost host;
    std::ostringstream out;
    std::ostringstream err;
    const TRefHostSessionResult result = RunRefHostSession(command, host, out, err);
    EXPECT_EQ(result.iExitCode, 0) << err.str();
    EXPECT_FALSE(result.bHostMustEnd);
    EXPECT_TRUE(host.IsStartedCorrectlySet());
    const std::vector<std::string> lines = Lines(out.str());
    ASSERT_EQ(lines.size(), 4u) << out.str();
    EXPECT_EQ(lines[0], "capturer-pid " + std::to_string(host.CapturerProcessId()));
    EXPECT_EQ(lines[1].rfind("started-correctly yes after ", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2], "stop uninstall");
    EXPECT_EQ(lines[3], "exit-code 0");
}

}  // namespace
