// The application object: owns everything the process holds outside the capture thread, runs the
// start-up checks and supervises the host until it ends, its capture-frame-instance mutex
// disappears or it signals the uninstall event.
//
// Threads: Run and the destructor run on the main thread. CaptureScreenThread runs on the capture
// thread, started by Run after every member it reads has been written, and joined before Run
// returns; afterwards the main thread touches only hHostProcess, the instance mutex name, the
// uninstall event and the stop flag.
#pragma once

#include "framebuffer/TFrameBufferHeader.h"
#include "framebuffer/TSharedFrameBuffer.h"
#include "ipc/THandle.h"
#include "ipc/TZYREvent.h"
#include "ipc/TZYRMutex.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class TZYRFullscreenCapturer {
public:
    explicit TZYRFullscreenCapturer(HINSTANCE hInstanceOfModule);
    ~TZYRFullscreenCapturer();
    TZYRFullscreenCapturer(const TZYRFullscreenCapturer&) = delete;
    TZYRFullscreenCapturer& operator=(const TZYRFullscreenCapturer&) = delete;

    // The whole life of the process: returns the exit code (0, or a negative start-up failure).
    int Run();
    // Run, with nothing thrown out of it: an exception that reaches here (none is expected) is
    // logged and ends the process with -15.
    int RunGuarded();

    // Appends every argument of the process's command line, argv[0] first, to vecArguments.
    void ParseCommandLine();

    HINSTANCE Instance() const { return hInstance; }

    // Capture thread only. Starts fullscreenoverlay.exe from this program's directory with this
    // process's id as its parameter; true when it started (its handle then replaces, without
    // closing, whatever hOverlayProcess held).
    bool StartFullscreenOverlay();
    // Capture thread only. Terminates the overlay process and closes its handle while it runs; an
    // overlay that has already ended keeps its handle open. hOverlayProcess keeps its value.
    void TerminateFullscreenOverlay();
    // Main thread: the stop could not wait for the capture thread. Terminates the overlay process
    // through the stop's own handle to it, logs the end and ends the process with 0 at once; the
    // capture thread ends with it, wherever it is.
    [[noreturn]] void EndWithoutCaptureThread(const char* pszName, unsigned int uiWaitedMs);
    // The device name of the monitor of the foreground window (e.g. \\.\DISPLAY1), or empty.
    static std::wstring GetMonitorForActiveApplication();

private:
    using TThreadHolder = std::unique_ptr<std::thread, std::function<void(std::thread*)>>;

    bool IsHostProcessAlive();
    bool IsCaptureFrameInstanceAlive();
    int RunDuplicationProbe();
    int OpenHostObjects();
    int OpenAccessMutexes();
    // False (with an error line) when the thread could not be made.
    bool StartCaptureScreenThread();
    void Supervise();
    // Up to 500 ms for the uninstall event; returns early, false, when the host process ends.
    bool WaitForUninstallEvent();
    void CaptureScreenThread();

    // Declaration order is release order in reverse: the thread holder is destroyed (stopping
    // and joining the thread) before the mutexes and events it uses.
    HINSTANCE hInstance = nullptr;
    uint32_t nCaptureMethod = 1;
    uint32_t dwHostProcessId = 0;
    TKernelHandle hHostProcess;
    TSharedFrameBuffer frameBuffer;  // the section handle and its current view
    std::unique_ptr<TZYREvent> pStartedCorrectlyEvent;
    std::unique_ptr<TZYREvent> pUninstallAllHooksEvent;
    std::unique_ptr<TZYREvent> pTheFirstFrameCapturedEvent;
    std::wstring strTLMCaptureFrameInstanceMutexName;
    std::vector<std::wstring> vecArguments;
    std::atomic<bool> bTerminateCaptureScreenThread{false};
    std::map<int, std::shared_ptr<TZYRMutex>> mapAccessMutexes;
    // Manual-reset, set by the capture thread as it returns: the stop waits on it, bounded.
    TKernelHandle hCaptureThreadEnded;
    TThreadHolder pCaptureScreenThread;
    HANDLE hOverlayProcess = nullptr;  // closed by TerminateFullscreenOverlay, not by the destructor
    // A second handle to the overlay process, owned apart from hOverlayProcess, for a stop that
    // cannot wait for the capture thread (EndWithoutCaptureThread); whoever takes it closes it.
    std::atomic<HANDLE> hOverlayProcessForStop{nullptr};
    // Held by the capture thread while it starts the overlay program: a stop that ends the process
    // without that thread waits for it, so no overlay (or its console host) is left half-started.
    std::timed_mutex mutexOverlayStart;
};
