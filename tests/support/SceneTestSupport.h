// Showing ZYRScene.exe's pattern from a test, and comparing captured pixels with it.
#pragma once

#include "ScenePattern.h"

#include "ipc/THandle.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace scenetest {

// Bound of every wait on the scene: generous for a loaded 2-core machine.
constexpr DWORD kWaitMs = 30000;

// A process started with DETACHED_PROCESS; terminated by the destructor if it still runs.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // `arguments` follow the quoted exe path. False (with a test failure) when it cannot start.
    bool Start(const std::wstring& exePath, const std::wstring& arguments);
    // True with *pExitCode once the process has ended within timeoutMs.
    bool WaitExit(DWORD timeoutMs, int* pExitCode);
    HANDLE Handle() const { return hProcess.Get(); }
    DWORD Id() const { return dwId; }

private:
    TKernelHandle hProcess;
    DWORD dwId = 0;
};

// ZYRScene.exe with ready, next and quit events of names private to this test process.
class SceneRun {
public:
    SceneRun();
    // Quits the scene if it still runs (the child's destructor terminates it as a last resort).
    ~SceneRun();

    // Starts the scene with the pattern, the three events and `extraArguments`.
    bool Start(scene::Pattern pattern, const std::wstring& extraArguments = L"");
    // True when the ready event is set within the bound; false (with a failure that carries the
    // exit code) when the scene ended first or the bound passed.
    bool WaitReady();
    // Signals next and waits for ready again.
    bool Next();
    // Signals quit and returns the exit code (or a failure and INT32_MIN).
    int Quit();

private:
    std::wstring wsReadyName, wsNextName, wsQuitName;
    TKernelHandle hReady, hNext, hQuit;
    ChildProcess process;
};

// A scene shown for a whole test suite: started and ready (SetUpTestSuite), or null after a test
// failure; QuitSuiteScene ends it, expecting exit code 0 (TearDownTestSuite).
std::unique_ptr<SceneRun> StartSuiteScene(scene::Pattern pattern);
void QuitSuiteScene(std::unique_ptr<SceneRun>& pScene);

// Counts the pixels of a width x rows picture that differ from `pattern` scaled from the srcW x
// srcH screen to that size by more than `tolerance` per channel; pixelAt(x, y) gives the captured
// pixel of column x, row y counted from the picture's top. Describes the first few in *pFirst.
size_t CountMismatches(uint32_t width, uint32_t rows, scene::Pattern pattern, uint32_t generation, int srcW, int srcH,
                       uint32_t tolerance, const std::function<uint32_t(uint32_t, uint32_t)>& pixelAt,
                       std::string* pFirst);

// Counts the pixels of a width x rows picture that differ from the coords pattern at
// (left + x, top + y); pixelAt(x, y) gives the captured pixel of column x, row y counted from the
// picture's top. Describes the first mismatch in *pFirst.
size_t CountExactMismatches(uint32_t width, uint32_t rows, int left, int top, uint32_t generation,
                            const std::function<uint32_t(uint32_t, uint32_t)>& pixelAt, std::string* pFirst);

}  // namespace scenetest
