// What the reference host's tests share: the host's objects as a capturer would open them, and
// paths of the built programs as Windows paths.
#pragma once

#include "TRefHost.h"
#include "ipc/HostObjectNames.h"

#include <windows.h>

#include <ostream>
#include <string>
#include <vector>

// Test names and failure messages show the object's command-line name.
inline void PrintTo(THostObject object, std::ostream* pStream)
{
    const std::wstring text = HostObjectName(object);
    *pStream << std::string(text.begin(), text.end());
}

namespace refhost_test {

enum class TKind { Mapping, Event, Mutex };

struct TObjectEntry {
    THostObject object;
    TKind kind;
    std::wstring wsName;
};

// Every object of a host made with `options`, named independently of the host's own tables.
inline std::vector<TObjectEntry> AllObjects(const TRefHostOptions& options = TRefHostOptions{})
{
    return {
        {THostObject::FrameBuffer, TKind::Mapping, kFrameBufferMappingName},
        {THostObject::UninstallEvent, TKind::Event, kUninstallAllHooksEventName},
        {THostObject::InstanceMutex, TKind::Mutex, options.wsInstanceMutexName},
        {THostObject::StartedCorrectlyEvent, TKind::Event, kStartedCorrectlyEventName},
        {THostObject::FirstFrameEvent, TKind::Event, kFirstFrameCapturedEventName},
        {THostObject::HUDMutex, TKind::Mutex, kHUDAccessMutexName},
        {THostObject::WebCamMutex, TKind::Mutex, kWebCamAccessMutexName},
        {THostObject::RadialMenuMutex, TKind::Mutex, kRadialMenuAccessMutexName},
        {THostObject::WebCamBackgroundMutex, TKind::Mutex, kWebCamBackgroundAccessMutexName},
        {THostObject::CursorEvent, TKind::Event, options.wsCursorEventName},
        {THostObject::CursorMutex, TKind::Mutex, options.wsCursorMutexName},
    };
}

// Opens an object by name with the rights a capturer uses; the handle is null on failure and
// *pError then holds the open's last error.
inline TKernelHandle OpenObject(const TObjectEntry& entry, DWORD* pError)
{
    HANDLE h = nullptr;
    switch (entry.kind) {
    case TKind::Mapping:
        h = ::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, entry.wsName.c_str());
        break;
    case TKind::Event:
        h = ::OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, entry.wsName.c_str());
        break;
    case TKind::Mutex:
        h = ::OpenMutexW(SYNCHRONIZE, FALSE, entry.wsName.c_str());
        break;
    }
    *pError = h == nullptr ? ::GetLastError() : ERROR_SUCCESS;
    return TKernelHandle(h);
}

// Creates the object by hand, as another host would.
inline TKernelHandle CreateObjectByHand(const TObjectEntry& entry)
{
    switch (entry.kind) {
    case TKind::Mapping:
        return TKernelHandle(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 1 << 20,
                                                  entry.wsName.c_str()));
    case TKind::Event:
        return TKernelHandle(::CreateEventW(nullptr, TRUE, FALSE, entry.wsName.c_str()));
    case TKind::Mutex:
        return TKernelHandle(::CreateMutexW(nullptr, FALSE, entry.wsName.c_str()));
    }
    return TKernelHandle();
}

inline std::wstring WindowsPath(const char* unixPath)
{
    std::wstring path = L"Z:";
    for (const char* p = unixPath; *p != '\0'; ++p) {
        path.push_back(*p == '/' ? L'\\' : static_cast<wchar_t>(*p));
    }
    return path;
}

inline std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

}  // namespace refhost_test
