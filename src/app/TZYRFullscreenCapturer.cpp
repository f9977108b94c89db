#include "app/TZYRFullscreenCapturer.h"
#include "ipc/WideText.h"

#include <exception>

#include "app/CommandLine.h"
#include "duplication/TDXGIDuplication.h"
#include "ipc/HostObjectNames.h"
#include "log/Log.h"

#include <shellapi.h>

namespace {

constexpr const char kRunName[] = "TZYRFullscreenCapturer::Run";
constexpr DWORD kUninstallWaitMs = 500;
// How long a stop waits for the capture thread to finish its pass and its exit steps. A pass is
// milliseconds, but one call of the platform's (a first shader compile, a device release, a
// stalled driver) can take seconds, and the process must be gone within 600 ms of its host.
constexpr DWORD kCaptureThreadStopBoundMs = 400;
// How long that stop lets an overlay start under way finish.
constexpr int kOverlayStartWaitMs = 150;
constexpr int kDuplicationAvailable = 10002;
constexpr int kDuplicationUnavailable = -2;
constexpr int kCaptureThreadNotStarted = -14;
constexpr int kUnexpectedFailure = -15;

int ErrorCode()
{
    return static_cast<int>(::GetLastError());
}

}  // namespace

TZYRFullscreenCapturer::TZYRFullscreenCapturer(HINSTANCE hInstanceOfModule) : hInstance(hInstanceOfModule)
{
    LogInfo("%s", "TZYRFullscreenCapturer::TZYRFullscreenCapturer");
    LogInfo("%s exit", "TZYRFullscreenCapturer::TZYRFullscreenCapturer");
}

TZYRFullscreenCapturer::~TZYRFullscreenCapturer()
{
    LogInfo("%s", "TZYRFullscreenCapturer::~TZYRFullscreenCapturer");
    const TKernelHandle overlayForStop(hOverlayProcessForStop.exchange(nullptr));
    // Run has joined the capture thread on every path that started it, so the view is unused.
    hHostProcess.Reset();
    frameBuffer.Close();
    LogInfo("%s exit", "TZYRFullscreenCapturer::~TZYRFullscreenCapturer");
}

void TZYRFullscreenCapturer::ParseCommandLine()
{
    LogInfo("%s", "TZYRFullscreenCapturer::ParseCommandLine");
    int argumentCount = 0;
    TLocalMemory<LPWSTR*> arguments(::CommandLineToArgvW(::GetCommandLineW(), &argumentCount));
    if (arguments.Get() != nullptr) {
        for (int i = 0; i < argumentCount; ++i) {
            vecArguments.emplace_back(arguments.Get()[i]);
        }
    }
    LogInfo("%s exit", "TZYRFullscreenCapturer::ParseCommandLine");
}

bool TZYRFullscreenCapturer::IsHostProcessAlive()
{
    // A time-out or a failed wait counts as alive: only a signalled process has ended.
    if (::WaitForSingleObject(hHostProcess.Get(), 0) == WAIT_OBJECT_0) {
        LogInfo("%s the host process is not alive", "TZYRFullscreenCapturer::IsHostProcessAlive");
        return false;
    }
    return true;
}

bool TZYRFullscreenCapturer::IsCaptureFrameInstanceAlive()
{
    // Only the mutex's existence matters; it is never waited on.
    TZYRMutex instanceMutex(strTLMCaptureFrameInstanceMutexName.c_str());
    if (instanceMutex.Get() != nullptr) {
        return true;
    }
    const DWORD dwError = ::GetLastError();
    if (dwError == ERROR_FILE_NOT_FOUND) {
        LogInfo("%s the capture frame instance doesn't exist anymore",
                "TZYRFullscreenCapturer::IsCaptureFrameInstanceAlive");
    } else {
        LogError("%s unable to open a strTLMCaptureFrameInstanceMutexName (%S) error %d",
                 "TZYRFullscreenCapturer::IsCaptureFrameInstanceAlive", strTLMCaptureFrameInstanceMutexName.c_str(),
                 static_cast<int>(dwError));
    }
    return false;
}

int TZYRFullscreenCapturer::Run()
{
    LogInfo("%s", kRunName);
    ParseCommandLine();
    if (vecArguments.size() < 2) {
        LogError("%s exit with -1", kRunName);
        return -1;
    }
    dwHostProcessId = static_cast<uint32_t>(WStringToInt64(ToU16(vecArguments[1]), 0));
    if (dwHostProcessId == 0) {
        return RunDuplicationProbe();
    }
    const int startResult = OpenHostObjects();
    if (startResult != 0) {
        return startResult;
    }
    nCaptureMethod = frameBuffer.Header()->ui32CaptureMethod;
    if (!StartCaptureScreenThread()) {
        return kCaptureThreadNotStarted;
    }
    LogInfo("%s before the main loop", kRunName);
    Supervise();
    pCaptureScreenThread.reset();
    LogInfo("%s exit with 0", kRunName);
    return 0;
}

// Host id 0: the host only asks whether desktop duplication works on this machine. No host object
// is opened.
int TZYRFullscreenCapturer::RunDuplicationProbe()
{
    LogInfo("%s trying to create DXGI Output Duplication", kRunName);
    if (TDXGIDuplication::TryToCreate()) {
        LogInfo("%s exit with %d because we can create DXGI Output Duplication", kRunName, kDuplicationAvailable);
        return kDuplicationAvailable;
    }
    LogInfo("%s exit with -2 because we can't create DXGI Output Duplication", kRunName);
    return kDuplicationUnavailable;
}

// The start-up checks in their fixed order; 0 when all passed, else the exit code of the first
// that failed (its line already logged). Objects opened before a failure stay with the object.
int TZYRFullscreenCapturer::OpenHostObjects()
{
    hHostProcess.Reset(::OpenProcess(SYNCHRONIZE, FALSE, dwHostProcessId));
    if (!hHostProcess) {
        LogError("%s OpenProcess error %d exit with -3", kRunName, ErrorCode());
        return -3;
    }
    if (!frameBuffer.OpenSection(kFrameBufferMappingName)) {
        LogError("%s OpenFileMapping error %d exit with -4", kRunName, ErrorCode());
        return -4;
    }
    if (!frameBuffer.MapHeader()) {
        LogError("%s MapViewOfFile error %d exit with -5", kRunName, ErrorCode());
        return -5;
    }
    LogInfo("%s wsUninstallAllHooksEventName '%S'", kRunName, kUninstallAllHooksEventName);
    pUninstallAllHooksEvent = std::make_unique<TZYREvent>(SYNCHRONIZE | EVENT_MODIFY_STATE, kUninstallAllHooksEventName);
    if (pUninstallAllHooksEvent->Get() == nullptr) {
        LogError("%s OpenEvent error %d exit with -6", kRunName, ErrorCode());
        return -6;
    }
    // The host may leave the 260-unit field without a terminator: the copy stops at its end.
    const std::u16string instanceName = ReadHeaderWideString(
        *frameBuffer.Header(), ZYR_WIDE_FIELD(wszCaptureFrameInstanceMutexName));
    strTLMCaptureFrameInstanceMutexName.assign(instanceName.begin(), instanceName.end());
    LogInfo("%s strTLMCaptureFrameInstanceMutexName is '%S'", kRunName, strTLMCaptureFrameInstanceMutexName.c_str());
    if (!IsCaptureFrameInstanceAlive()) {
        LogError("%s CaptureFrame instance doesn't exist exit with -7", kRunName);
        return -7;
    }
    LogInfo("%s fullscreen_capture_exe_was_started_correctly_event_name '%S'", kRunName, kStartedCorrectlyEventName);
    pStartedCorrectlyEvent = std::make_unique<TZYREvent>(SYNCHRONIZE | EVENT_MODIFY_STATE, kStartedCorrectlyEventName);
    if (pStartedCorrectlyEvent->Get() == nullptr) {
        LogError("%s OpenEvent error %d exit with -8", kRunName, ErrorCode());
        return -8;
    }
    // From here on the host knows that the process started.
    pStartedCorrectlyEvent->SetEvent();
    pTheFirstFrameCapturedEvent = std::make_unique<TZYREvent>(EVENT_MODIFY_STATE, kFirstFrameCapturedEventName);
    if (pTheFirstFrameCapturedEvent->Get() == nullptr) {
        LogError("%s unable to open a pTheFirstFrameCapturedEvent event error %d exit with -9", kRunName, ErrorCode());
        return -9;
    }
    LogInfo("%s pTheFirstFrameCapturedEvent event has been opened", kRunName);
    return OpenAccessMutexes();
}

int TZYRFullscreenCapturer::OpenAccessMutexes()
{
    struct TAccessMutexSpec {
        int iKey;
        const wchar_t* wszName;
        const char* szLabel;
        int iExitCode;
    };
    static constexpr TAccessMutexSpec kOrder[] = {
        {kAccessMutexHUD, kHUDAccessMutexName, "HUD", -10},
        {kAccessMutexWebCam, kWebCamAccessMutexName, "WebCam", -11},
        {kAccessMutexRadialMenu, kRadialMenuAccessMutexName, "RadialMenu", -12},
        {kAccessMutexWebCamBackground, kWebCamBackgroundAccessMutexName, "WebCamBackground", -13},
    };
    for (const TAccessMutexSpec& spec : kOrder) {
        // The entry is stored even when the open failed.
        auto& pMutex = mapAccessMutexes[spec.iKey];
        pMutex = std::make_shared<TZYRMutex>(spec.wszName);
        if (pMutex->Get() == nullptr) {
            LogError("%s unable to open a %s mutex", kRunName, spec.szLabel);
            return spec.iExitCode;
        }
        LogInfo("%s %s mutex has been opened", kRunName, spec.szLabel);
    }
    return 0;
}

// The platform may refuse a thread (resources, memory): that is a start-up failure like the others,
// with an exit code of its own, and never an exception out of the process.
bool TZYRFullscreenCapturer::StartCaptureScreenThread()
{
    // Without the event (the platform refused it) the stop joins without a bound, as it always may.
    hCaptureThreadEnded.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    auto stop = [this](std::thread* pThread) {
        constexpr const char kName[] = "TZYRFullscreenCapturer::CaptureScreenThreadDeleter";
        LogInfo("%s terminate capture screen thread", kName);
        bTerminateCaptureScreenThread.store(true);
        if (hCaptureThreadEnded &&
            ::WaitForSingleObject(hCaptureThreadEnded.Get(), kCaptureThreadStopBoundMs) == WAIT_TIMEOUT) {
            EndWithoutCaptureThread(kName, kCaptureThreadStopBoundMs);
        }
        if (pThread->joinable()) {
            pThread->join();
        }
        delete pThread;
        LogInfo("%s exit", kName);
    };
    try {
        // The holder and its deleter exist before the thread: once the thread runs, nothing that
        // can fail is left, so a running thread always has its owner.
        TThreadHolder holder(nullptr, stop);
        holder.reset(new std::thread([this] {
            CaptureScreenThread();
            if (hCaptureThreadEnded) {
                ::SetEvent(hCaptureThreadEnded.Get());
            }
        }));
        pCaptureScreenThread = std::move(holder);
        return true;
    } catch (const std::exception& error) {
        LogError("%s unable to start the capture thread: %s, exit with %d", kRunName, error.what(),
                 kCaptureThreadNotStarted);
        return false;
    }
}

// Nothing of this process may run on: the capture thread is inside a call that does not return in
// time, and destroying what it uses under it would be worse than ending. The log lines are in the
// log server's ring before the process ends.
void TZYRFullscreenCapturer::EndWithoutCaptureThread(const char* pszName, unsigned int uiWaitedMs)
{
    LogWarning("%s the capture thread did not end within %u ms: the process ends without it", pszName, uiWaitedMs);
    // An overlay start under way is let finish (it takes milliseconds), so that the program it
    // starts is ended below rather than left running, with a console host, after this process.
    const bool bOverlayStartDone = mutexOverlayStart.try_lock_for(std::chrono::milliseconds(kOverlayStartWaitMs));
    if (const HANDLE hOverlay = hOverlayProcessForStop.exchange(nullptr)) {
        const TKernelHandle owner(hOverlay);
        if (::WaitForSingleObject(hOverlay, 0) != WAIT_OBJECT_0) {
            ::TerminateProcess(hOverlay, 0);
            LogInfo("%s overlay process has been terminated", pszName);
        }
    }
    if (!bOverlayStartDone) {
        LogWarning("%s the overlay program was still being started", pszName);
    }
    LogInfo("%s exit with 0", kRunName);
    ::TerminateProcess(::GetCurrentProcess(), 0);
    ::ExitProcess(0);  // not reached: TerminateProcess of the own process does not return
}

int TZYRFullscreenCapturer::RunGuarded()
{
    try {
        return Run();
    } catch (const std::exception& error) {
        LogError("%s unexpected failure: %s, exit with %d", kRunName, error.what(), kUnexpectedFailure);
    } catch (...) {
        LogError("%s unexpected failure, exit with %d", kRunName, kUnexpectedFailure);
    }
    return kUnexpectedFailure;
}

void TZYRFullscreenCapturer::Supervise()
{
    for (;;) {
        if (!IsHostProcessAlive()) {
            return;
        }
        if (!IsCaptureFrameInstanceAlive()) {
            return;
        }
        if (WaitForUninstallEvent()) {
            LogInfo("%s pUninstallAllHooksEvent is signaled, exiting the process...", kRunName);
            return;
        }
    }
}

// The pass's wait also ends when the host process ends: the next pass's host test then reports
// it at once. Waiting on the event alone let a dead host go unnoticed for up to 500 ms, and the
// process has to be gone within 600 ms of its host.
bool TZYRFullscreenCapturer::WaitForUninstallEvent()
{
    const HANDLE handles[] = {pUninstallAllHooksEvent->Get(), hHostProcess.Get()};
    const DWORD dwResult = ::WaitForMultipleObjects(2, handles, FALSE, kUninstallWaitMs);
    if (dwResult == WAIT_FAILED) {
        // Never a busy loop: the event alone is waited for, as a pass always could.
        return pUninstallAllHooksEvent->WaitForSingleObject(kUninstallWaitMs);
    }
    return dwResult == WAIT_OBJECT_0;
}
