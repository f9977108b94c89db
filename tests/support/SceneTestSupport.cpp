#include "SceneTestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <sstream>

namespace scenetest {
namespace {

std::wstring Widen(const char* text)
{
    const std::string narrow(text);
    return std::wstring(narrow.begin(), narrow.end());
}

TKernelHandle MakeEvent(const std::wstring& name, bool bManualReset)
{
    TKernelHandle hEvent(::CreateEventW(nullptr, bManualReset ? TRUE : FALSE, FALSE, name.c_str()));
    EXPECT_TRUE(hEvent) << "CreateEvent error " << ::GetLastError();
    return hEvent;
}

}  // namespace

ChildProcess::~ChildProcess()
{
    if (hProcess && ::WaitForSingleObject(hProcess.Get(), 0) == WAIT_TIMEOUT) {
        ::TerminateProcess(hProcess.Get(), 1);
        ::WaitForSingleObject(hProcess.Get(), kWaitMs);
    }
}

bool ChildProcess::Start(const std::wstring& exePath, const std::wstring& arguments)
{
    std::wstring commandLine = L"\"" + exePath + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    // DETACHED_PROCESS: no console host of its own that could outlive the child under Wine.
    if (!::CreateProcessW(exePath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                          nullptr, &startup, &info)) {
        ADD_FAILURE() << "CreateProcess error " << ::GetLastError();
        return false;
    }
    TKernelHandle hThread(info.hThread);
    hProcess.Reset(info.hProcess);
    dwId = info.dwProcessId;
    return true;
}

bool ChildProcess::WaitExit(DWORD timeoutMs, int* pExitCode)
{
    DWORD dwCode = 0;
    if (!hProcess || ::WaitForSingleObject(hProcess.Get(), timeoutMs) != WAIT_OBJECT_0 ||
        !::GetExitCodeProcess(hProcess.Get(), &dwCode)) {
        return false;
    }
    *pExitCode = static_cast<int>(dwCode);
    return true;
}

SceneRun::SceneRun()
{
    static int counter = 0;
    const std::wstring prefix =
        L"zyr-scene-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++counter) + L"-";
    wsReadyName = prefix + L"ready";
    wsNextName = prefix + L"next";
    wsQuitName = prefix + L"quit";
    hReady = MakeEvent(wsReadyName, false);
    hNext = MakeEvent(wsNextName, false);
    hQuit = MakeEvent(wsQuitName, true);
}

SceneRun::~SceneRun()
{
    int exitCode = 0;
    if (process.Handle() != nullptr && !process.WaitExit(0, &exitCode)) {
        ::SetEvent(hQuit.Get());
        process.WaitExit(kWaitMs, &exitCode);
    }
}

bool SceneRun::Start(scene::Pattern pattern, const std::wstring& extraArguments)
{
    const std::string patternName = scene::PatternName(pattern);
    const std::wstring arguments = L"--pattern " + std::wstring(patternName.begin(), patternName.end()) +
                                   L" --ready-event " + wsReadyName + L" --next-event " + wsNextName +
                                   L" --quit-event " + wsQuitName + L" " + extraArguments;
    return process.Start(Widen(ZYR_SCENE_EXE), arguments);
}

bool SceneRun::WaitReady()
{
    const HANDLE handles[] = {hReady.Get(), process.Handle()};
    const DWORD waited = ::WaitForMultipleObjects(2, handles, FALSE, kWaitMs);
    if (waited == WAIT_OBJECT_0) {
        return true;
    }
    int exitCode = 0;
    if (process.WaitExit(0, &exitCode)) {
        ADD_FAILURE() << "the scene ended with exit code " << exitCode << " before it was ready";
    } else {
        ADD_FAILURE() << "the scene was not ready within " << kWaitMs << " ms (wait result " << waited << ")";
    }
    return false;
}

bool SceneRun::Next()
{
    ::SetEvent(hNext.Get());
    return WaitReady();
}

int SceneRun::Quit()
{
    ::SetEvent(hQuit.Get());
    int exitCode = INT_MIN;
    EXPECT_TRUE(process.WaitExit(kWaitMs, &exitCode)) << "the scene did not end after quit";
    return exitCode;
}

std::unique_ptr<SceneRun> StartSuiteScene(scene::Pattern pattern)
{
    auto pScene = std::make_unique<SceneRun>();
    if (!pScene->Start(pattern) || !pScene->WaitReady()) {
        ADD_FAILURE() << "the scene did not come up";
        return nullptr;
    }
    return pScene;
}

void QuitSuiteScene(std::unique_ptr<SceneRun>& pScene)
{
    if (pScene) {
        EXPECT_EQ(pScene->Quit(), 0);
        pScene.reset();
    }
}

size_t CountExactMismatches(uint32_t width, uint32_t rows, int left, int top, uint32_t generation,
                            const std::function<uint32_t(uint32_t, uint32_t)>& pixelAt, std::string* pFirst)
{
    size_t mismatches = 0;
    for (uint32_t y = 0; y < rows; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t expected = scene::PatternPixel(scene::Pattern::Coords, left + x, top + y, generation);
            const uint32_t actual = pixelAt(x, y) & scene::kPatternColourMask;
            if (actual != expected && mismatches++ == 0) {
                std::ostringstream out;
                out << "picture (" << x << "," << y << "): " << std::hex << actual << " expected " << expected;
                *pFirst = out.str();
            }
        }
    }
    return mismatches;
}

size_t CountMismatches(uint32_t width, uint32_t rows, scene::Pattern pattern, uint32_t generation, int srcW, int srcH,
                       uint32_t tolerance, const std::function<uint32_t(uint32_t, uint32_t)>& pixelAt,
                       std::string* pFirst)
{
    size_t mismatches = 0;
    std::ostringstream first;
    for (uint32_t y = 0; y < rows; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t expected = scene::ScaledPatternPixel(pattern, x, y, static_cast<uint32_t>(srcW),
                                                                static_cast<uint32_t>(srcH), width, rows, generation);
            const uint32_t actual = pixelAt(x, y);
            if (scene::MaxChannelDifference(actual, expected) > tolerance && ++mismatches <= 5) {
                first << " (" << x << "," << y << "): 0x" << std::hex << (actual & scene::kPatternColourMask)
                      << " expected 0x" << expected << std::dec;
            }
        }
    }
    *pFirst = first.str();
    return mismatches;
}

}  // namespace scenetest
