// ZYRBlitLoopBench.exe as the benchmark script runs it: short runs on Wine's screen, the line it
// prints, and its exit codes.
#include "ipc/THandle.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <regex>
#include <string>

namespace {

constexpr DWORD kWaitMs = 60000;

struct ToolRun {
    bool bEnded = false;
    int exitCode = 0;
    std::string output;  // stdout
};

// Runs the exe with `arguments`, its stdout into a pipe, and waits for its end.
ToolRun RunTool(const std::wstring& arguments)
{
    ToolRun run;
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE hRead = nullptr;
    HANDLE hWrite = nullptr;
    if (!::CreatePipe(&hRead, &hWrite, &inheritable, 0)) {
        ADD_FAILURE() << "CreatePipe error " << ::GetLastError();
        return run;
    }
    TKernelHandle readEnd(hRead);
    TKernelHandle writeEnd(hWrite);
    ::SetHandleInformation(hRead, HANDLE_FLAG_INHERIT, 0);
    const std::string exe = ZYR_BLIT_LOOP_EXE;
    const std::wstring exePath(exe.begin(), exe.end());
    std::wstring commandLine = L"\"" + exePath + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = hWrite;
    startup.hStdError = hWrite;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(exePath.c_str(), commandLine.data(), nullptr, nullptr, TRUE, DETACHED_PROCESS, nullptr,
                          nullptr, &startup, &info)) {
        ADD_FAILURE() << "CreateProcess error " << ::GetLastError();
        return run;
    }
    TKernelHandle hProcess(info.hProcess);
    TKernelHandle hThread(info.hThread);
    writeEnd.Reset();  // the child holds the only write end now: its end ends the reads
    char buffer[512];
    DWORD got = 0;
    while (::ReadFile(hRead, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        run.output.append(buffer, got);
    }
    DWORD code = 0;
    run.bEnded = ::WaitForSingleObject(hProcess.Get(), kWaitMs) == WAIT_OBJECT_0 &&
                 ::GetExitCodeProcess(hProcess.Get(), &code);
    run.exitCode = static_cast<int>(code);
    if (!run.bEnded) {
        ::TerminateProcess(hProcess.Get(), 1);
    }
    return run;
}

TEST(BlitLoopRun, MeasuresAndPrintsOneLine)
{
    struct Case {
        const char* name;
        std::wstring arguments;
        const char* pattern;
    };
    const Case cases[] = {
        {"bit blit, frame count", L"--frames 20",
         R"(blit_loop frames=20 fps=[0-9]+\.[0-9] blit_ms=[0-9]+\.[0-9]{2} copy_ms=[0-9]+\.[0-9]{2} size=1920x1080\r?\n)"},
        {"stretch, frame count", L"--frames 5 --stretch 1280x720",
         R"(blit_loop frames=5 fps=[0-9]+\.[0-9] blit_ms=[0-9]+\.[0-9]{2} copy_ms=[0-9]+\.[0-9]{2} size=1920x1080 stretch=1280x720\r?\n)"},
        {"one second", L"--seconds 1 --size 640x480",
         R"(blit_loop frames=[1-9][0-9]* fps=[0-9]+\.[0-9] blit_ms=[0-9]+\.[0-9]{2} copy_ms=[0-9]+\.[0-9]{2} size=640x480\r?\n)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ToolRun run = RunTool(c.arguments);
        ASSERT_TRUE(run.bEnded);
        EXPECT_EQ(run.exitCode, 0) << run.output;
        EXPECT_TRUE(std::regex_match(run.output, std::regex(c.pattern))) << run.output;
        EXPECT_EQ(run.output.find("fps=0.0 "), std::string::npos) << run.output;
    }
}

TEST(BlitLoopRun, ExitCodes)
{
    struct Case {
        const char* name;
        std::wstring arguments;
        int exitCode;
        const char* outputStart;
    };
    const Case cases[] = {
        {"help", L"--help", 0, "usage: ZYRBlitLoopBench"},
        {"bad option", L"--fast", 2, "ZYRBlitLoopBench: unknown option '--fast'"},
        {"bad size", L"--size 1920", 2, "ZYRBlitLoopBench: bad value '1920' for --size"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ToolRun run = RunTool(c.arguments);
        ASSERT_TRUE(run.bEnded);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(run.output.rfind(c.outputStart, 0), 0u) << run.output;
    }
}

}  // namespace
