// Control of the fullscreen overlay process, a second program of the product that lives beside
// this executable, and the monitor of the application the user works in.
#include "app/TZYRFullscreenCapturer.h"

#include "log/Log.h"

#include <shellapi.h>

#include <string>

namespace {

constexpr const char kStartName[] = "TZYRFullscreenCapturer::StartFullscreenOverlay";
constexpr const char kTerminateName[] = "TZYRFullscreenCapturer::TerminateFullscreenOverlay";
constexpr const char kMonitorName[] = "TZYRFullscreenCapturer::GetMonitorForActiveApplication";
constexpr wchar_t kOverlayFileName[] = L"fullscreenoverlay.exe";
constexpr DWORD kFileNameLimit = 260;

int LastErrorCode()
{
    return static_cast<int>(::GetLastError());
}

// The directory of the running executable, ending in a backslash; empty when it cannot be read.
std::wstring ModuleDirectory()
{
    wchar_t path[kFileNameLimit] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, kFileNameLimit);
    if (length == 0 || length >= kFileNameLimit) {
        return std::wstring();
    }
    std::wstring directory(path, length);
    const size_t separator = directory.find_last_of(L"\\/");
    directory.resize(separator == std::wstring::npos ? 0 : separator);
    if (directory.empty() || directory.back() != L'\\') {
        directory.push_back(L'\\');
    }
    return directory;
}

}  // namespace

bool TZYRFullscreenCapturer::StartFullscreenOverlay()
{
    int result = 0;
    TScopedLog scope(kStartName, &result);
    const std::wstring path = ModuleDirectory() + kOverlayFileName;
    const std::wstring parameters = std::to_wstring(::GetCurrentProcessId());
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
    // The handle is owned through hOverlayProcess until TerminateFullscreenOverlay closes it.
    hOverlayProcess = info.hProcess;
    result = 1;
    return true;
}

void TZYRFullscreenCapturer::TerminateFullscreenOverlay()
{
    LogInfo("%s", kTerminateName);
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
    HMONITOR hMonitor = ::MonitorFromWindow(hWindow, MONITOR_DEFAULTTONULL);
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
