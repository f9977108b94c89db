// Control of the fullscreen overlay process, a second program of the product that lives beside
// this executable, and the monitor of the application the user works in.
#include "app/TZYRFullscreenCapturer.h"

#include "app/CapturePlan.h"
#include "ipc/WideText.h"
#include "log/Log.h"

#include <shellapi.h>

#include <string>

namespace {

constexpr const char kStartName[] = "TZYRFullscreenCapturer::StartFullscreenOverlay";
constexpr const char kTerminateName[] = "TZYRFullscreenCapturer::TerminateFullscreenOverlay";
constexpr const char kMonitorName[] = "TZYRFullscreenCapturer::GetMonitorForActiveApplication";
constexpr DWORD kFileNameLimit = 260;

int LastErrorCode()
{
    return static_cast<int>(::GetLastError());
}

// The overlay program beside the running executable; empty when the executable's path cannot be
// read whole.
std::wstring OverlayProgramPath()
{
    wchar_t path[kFileNameLimit] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, kFileNameLimit);
    return ToWide(capplan::OverlayProgramPath(ToU16(std::wstring(path, length)), length, kFileNameLimit));
}

}  // namespace

bool TZYRFullscreenCapturer::StartFullscreenOverlay()
{
    int result = 0;
    TScopedLog scope(kStartName, &result);
    const std::wstring path = OverlayProgramPath();
    if (path.empty()) {
        // A bare name would be looked for along the search path: another program could be started.
        LogError("%s the module path does not fit in %d characters, the overlay program is not started", kStartName,
                 static_cast<int>(kFileNameLimit - 1));
        return false;
    }
    const std::wstring parameters = std::to_wstring(::GetCurrentProcessId());
    const std::lock_guard<std::timed_mutex> starting(mutexOverlayStart);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.hwnd = nullptr;
    info.lpVerb = L"open";
    info.lpFile = path.c_str();
    info.lpParameters = parameters.c_str();
    info.lpDirectory = nullptr;
    info.nShow = SW_HIDE;
    if (!::ShellExecuteExW(&info)) {
        LogInfo("%s ShellExecuteEx error %d", kStartName, LastErrorCode());
        return false;
    }
    LogInfo("%s overlay process has been started handle %p", kStartName, static_cast<void*>(info.hProcess));
    // The handle is owned through hOverlayProcess until TerminateFullscreenOverlay closes it; the
    // stop's own handle lets the main thread end the overlay when it cannot wait for this thread.
    hOverlayProcess = info.hProcess;
    HANDLE hForStop = nullptr;
    if (::DuplicateHandle(::GetCurrentProcess(), info.hProcess, ::GetCurrentProcess(), &hForStop, 0, FALSE,
                          DUPLICATE_SAME_ACCESS)) {
        const TKernelHandle previous(hOverlayProcessForStop.exchange(hForStop));
    }
    result = 1;
    return true;
}

void TZYRFullscreenCapturer::TerminateFullscreenOverlay()
{
    LogInfo("%s", kTerminateName);
    const TKernelHandle stopHandle(hOverlayProcessForStop.exchange(nullptr));  // not needed any more
    if (hOverlayProcess != nullptr) {
        // A failed wait counts as still running: terminating is then the safe side.
        if (::WaitForSingleObject(hOverlayProcess, 0) != WAIT_OBJECT_0) {
            ::TerminateProcess(hOverlayProcess, 0);
            TKernelHandle closer(hOverlayProcess);  // closes it here; the member keeps its value
            LogInfo("%s overlay process has been terminated", kTerminateName);
        } else {
            LogInfo("%s overlay process was terminated before", kTerminateName);
        }
    }
    LogInfo("%s exit", kTerminateName);
}

std::wstring TZYRFullscreenCapturer::GetMonitorForActiveApplication()
{
    const HWND hWindow = ::GetForegroundWindow();
    if (hWindow == nullptr) {
        LogVerbose("%s unable to find the foreground window error %d", kMonitorName, LastErrorCode());
        return std::wstring();
    }
    // A window that touches no monitor (moved off every screen) belongs to the nearest one.
    HMONITOR hMonitor = ::MonitorFromWindow(hWindow, MONITOR_DEFAULTTONEAREST);
    if (hMonitor == nullptr) {
        LogVerbose("%s MonitorFromWindow error %d, will use the primary monitor", kMonitorName, LastErrorCode());
        hMonitor = ::MonitorFromWindow(hWindow, MONITOR_DEFAULTTOPRIMARY);
        if (hMonitor == nullptr) {
            LogVerbose("%s MonitorFromWindow error %d", kMonitorName, LastErrorCode());
            return std::wstring();
        }
    }
    MONITORINFOEXW info{};
    info.cbSize = sizeof(info);
    static_assert(sizeof(MONITORINFOEXW) == 104);
    if (!::GetMonitorInfoW(hMonitor, &info)) {
        LogVerbose("%s GetMonitorInfo error %d", kMonitorName, LastErrorCode());
        return std::wstring();
    }
    return std::wstring(info.szDevice);
}
