#include "TRefHost.h"
#include "ipc/WideText.h"

#include "ipc/HostObjectNames.h"
#include "ipc/PermissiveSecurity.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace {

// How long the destructor lets a capturer end after the uninstall event, and after a terminate.
constexpr DWORD kStopWaitMs = 10000;

struct TAccessMutexObject {
    THostObject object;
    int key;
    const wchar_t* pszName;
};

constexpr TAccessMutexObject kAccessMutexObjects[] = {
    {THostObject::HUDMutex, kAccessMutexHUD, kHUDAccessMutexName},
    {THostObject::WebCamBackgroundMutex, kAccessMutexWebCamBackground, kWebCamBackgroundAccessMutexName},
    {THostObject::WebCamMutex, kAccessMutexWebCam, kWebCamAccessMutexName},
    {THostObject::RadialMenuMutex, kAccessMutexRadialMenu, kRadialMenuAccessMutexName},
};

// A mutex whose name the options give.
struct TNamedMutexObject {
    THostObject object;
    const std::wstring* pName;
    TKernelHandle* pOwner;
};

std::wstring Describe(THostObject object, std::wstring_view name)
{
    return std::wstring(HostObjectName(object)) + L" '" + std::wstring(name) + L"'";
}

// Takes the handle a Create* call returned, with the last error that call left. An object that
// existed before the call belongs to another host: it is closed again and the call fails.
bool TakeNewObject(HANDLE hObject, DWORD dwCreateError, THostObject object, std::wstring_view name,
                   TKernelHandle* pOwner, std::wstring* pError)
{
    TKernelHandle handle(hObject);
    if (!handle) {
        *pError = Describe(object, name) + L": creation failed, error " + std::to_wstring(dwCreateError);
        return false;
    }
    if (dwCreateError == ERROR_ALREADY_EXISTS) {
        *pError = Describe(object, name) + L" already exists: another host is running";
        return false;
    }
    *pOwner = std::move(handle);
    return true;
}

bool CreateNamedEvent(SECURITY_ATTRIBUTES* pAttributes, bool bManualReset, bool bSignalled, THostObject object,
                      const wchar_t* pszName, TKernelHandle* pOwner, std::wstring* pError)
{
    ::SetLastError(ERROR_SUCCESS);
    HANDLE hEvent = ::CreateEventW(pAttributes, bManualReset ? TRUE : FALSE, bSignalled ? TRUE : FALSE, pszName);
    const DWORD dwError = ::GetLastError();
    return TakeNewObject(hEvent, dwError, object, pszName, pOwner, pError);
}

bool CreateNamedMutex(SECURITY_ATTRIBUTES* pAttributes, THostObject object, const wchar_t* pszName,
                      TKernelHandle* pOwner, std::wstring* pError)
{
    ::SetLastError(ERROR_SUCCESS);
    HANDLE hMutex = ::CreateMutexW(pAttributes, FALSE, pszName);
    const DWORD dwError = ::GetLastError();
    return TakeNewObject(hMutex, dwError, object, pszName, pOwner, pError);
}

// A fresh section is zero already; clearing the header anyway keeps this independent of that.
void FillHeader(TFrameBufferHeader& header, const TRefHostOptions& options)
{
    std::memset(&header, 0, kFrameBufferHeaderSize);
    header.iRequestedWidth = options.iRequestedWidth;
    header.iRequestedHeight = options.iRequestedHeight;
    header.iMaxWidth = options.iMaxWidth;
    header.iMaxHeight = options.iMaxHeight;
    header.bStretch = options.bStretch ? 1 : 0;
    header.bDontMirrorFrames = options.bDontMirrorFrames ? 1 : 0;
    header.bCaptureEnabled = options.bCaptureEnabled ? 1 : 0;
    header.bDrawMouseCursor = options.bDrawMouseCursor ? 1 : 0;
    header.bSuppressOverlayCommand = options.bSuppressOverlayCommand ? 1 : 0;
    header.ui32CaptureMethod = options.ui32CaptureMethod;
    header.CaptureRegion = options.captureRegion;
    header.WebCamVisibilityState = options.bWebCam ? 0 : 1;
    header.webcamWidth = options.ui32WebCamWidth;
    header.webcamHeight = options.ui32WebCamHeight;
    header.dWebCamLeft = options.dWebCamLeft;
    header.dWebCamTop = options.dWebCamTop;
    header.dWebCamWidth = options.dWebCamWidth;
    header.dWebCamHeight = options.dWebCamHeight;
    header.WebCamImage.fShaderParam = options.fWebCamShaderParam;
    header.UseChromaKeying = options.bChromaKeying ? 1 : 0;
    header.bUseWebCamBackground = options.bChromaKeying ? 1 : 0;
    std::copy(std::begin(options.ui64SharedTextureHandles), std::end(options.ui64SharedTextureHandles),
              header.ui64SharedTextureHandles);
    WriteHeaderWideString(header, ZYR_WIDE_FIELD(wszMonitorName), ToU16(options.wsMonitorName));
    WriteHeaderWideString(header, ZYR_WIDE_FIELD(wszCaptureFrameInstanceMutexName), ToU16(options.wsInstanceMutexName));
    WriteHeaderWideString(header, ZYR_WIDE_FIELD(wszCursorEventName), ToU16(options.wsCursorEventName));
    WriteHeaderWideString(header, ZYR_WIDE_FIELD(wszCursorMutexName), ToU16(options.wsCursorMutexName));
}

// An empty name would make an unnamed object that no capturer can find.
bool CheckName(const TRefHostOptions& options, THostObject object, const std::wstring& name, std::wstring* pError)
{
    if (options.IsOmitted(object) || !name.empty()) {
        return true;
    }
    *pError = std::wstring(HostObjectName(object)) + L": the name is empty";
    return false;
}

}  // namespace

TRefHost::~TRefHost()
{
    StopRunningCapturer();
}

bool TRefHost::CreateObjects(const TRefHostOptions& options, std::wstring* pError)
{
    std::wstring error;
    if (bObjectsCreated) {
        error = L"the objects were created already";
    } else if (!CreateAll(options, &error)) {
        CloseObjects();
    } else {
        bObjectsCreated = true;
        return true;
    }
    if (pError != nullptr) {
        *pError = error;
    }
    return false;
}

bool TRefHost::CreateAll(const TRefHostOptions& options, std::wstring* pError)
{
    // Wine 8 refuses the permissive descriptor's ACL (error 1336); as the product's own objects
    // do, the objects then get default security, which is enough within one user's session.
    TLocalMemory<PSECURITY_DESCRIPTOR> descriptor = BuildPermissiveSecurityDescriptor();
    SECURITY_ATTRIBUTES attributes = MakeSecurityAttributes(descriptor.Get());
    return CreateFrameBuffer(options, &attributes, pError) && CreateEvents(options, &attributes, pError) &&
           CreateMutexes(options, &attributes, pError);
}

bool TRefHost::CreateFrameBuffer(const TRefHostOptions& options, SECURITY_ATTRIBUTES* pAttributes, std::wstring* pError)
{
    if (options.IsOmitted(THostObject::FrameBuffer)) {
        return true;
    }
    const uint64_t ui64Size = options.ui64SectionSize;
    const size_t viewSize = static_cast<size_t>(ui64Size);
    if (options.bUndersizedSection) {
        return CreateUndersizedFrameBuffer(options, pAttributes, pError);
    }
    if (ui64Size < kFrameBufferHeaderSize || static_cast<uint64_t>(viewSize) != ui64Size) {
        *pError = L"section size " + std::to_wstring(ui64Size) + L" does not hold the header or the address space";
        return false;
    }
    ::SetLastError(ERROR_SUCCESS);
    HANDLE hMapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, pAttributes, PAGE_READWRITE,
                                           static_cast<DWORD>(ui64Size >> 32), static_cast<DWORD>(ui64Size),
                                           kFrameBufferMappingName);
    const DWORD dwError = ::GetLastError();
    if (!TakeNewObject(hMapping, dwError, THostObject::FrameBuffer, kFrameBufferMappingName, &hFrameBufferMapping,
                       pError)) {
        return false;
    }
    viewFrameBuffer = TMappedView(::MapViewOfFile(hFrameBufferMapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, viewSize), viewSize);
    if (!viewFrameBuffer) {
        *pError = L"MapViewOfFile of the frame buffer: error " + std::to_wstring(::GetLastError());
        return false;
    }
    FillHeader(*Header(), options);
    return true;
}

bool TRefHost::CreateUndersizedFrameBuffer(const TRefHostOptions& options, SECURITY_ATTRIBUTES* pAttributes,
                                           std::wstring* pError)
{
    const uint64_t ui64Size = options.ui64SectionSize;
    if (ui64Size == 0 || ui64Size >= kFrameBufferHeaderSize) {
        *pError = L"an undersized section needs 1 to 198,631 bytes, not " + std::to_wstring(ui64Size);
        return false;
    }
    ::SetLastError(ERROR_SUCCESS);
    HANDLE hMapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, pAttributes, PAGE_READWRITE, 0,
                                           static_cast<DWORD>(ui64Size), kFrameBufferMappingName);
    const DWORD dwError = ::GetLastError();
    return TakeNewObject(hMapping, dwError, THostObject::FrameBuffer, kFrameBufferMappingName, &hFrameBufferMapping,
                         pError);
}

bool TRefHost::CreateEvents(const TRefHostOptions& options, SECURITY_ATTRIBUTES* pAttributes, std::wstring* pError)
{
    struct TEventObject {
        THostObject object;
        const wchar_t* pszName;
        bool bManualReset;
        bool bSignalled;
        TKernelHandle* pOwner;
    };
    // The cursor event is auto-reset: each signal of the capturer asks for one publication.
    const TEventObject events[] = {
        {THostObject::UninstallEvent, kUninstallAllHooksEventName, true, options.bUninstallPreSignalled, &hUninstallEvent},
        {THostObject::StartedCorrectlyEvent, kStartedCorrectlyEventName, true, false, &hStartedCorrectlyEvent},
        {THostObject::FirstFrameEvent, kFirstFrameCapturedEventName, true, false, &hFirstFrameEvent},
        {THostObject::CursorEvent, options.wsCursorEventName.c_str(), false, false, &hCursorEvent},
    };
    if (!CheckName(options, THostObject::CursorEvent, options.wsCursorEventName, pError)) {
        return false;
    }
    for (const TEventObject& event : events) {
        if (!options.IsOmitted(event.object) && !CreateNamedEvent(pAttributes, event.bManualReset, event.bSignalled,
                                                                  event.object, event.pszName, event.pOwner, pError)) {
            return false;
        }
    }
    return true;
}

bool TRefHost::CreateMutexes(const TRefHostOptions& options, SECURITY_ATTRIBUTES* pAttributes, std::wstring* pError)
{
    const TNamedMutexObject named[] = {
        {THostObject::InstanceMutex, &options.wsInstanceMutexName, &hInstanceMutex},
        {THostObject::CursorMutex, &options.wsCursorMutexName, &hCursorMutex},
    };
    for (const TNamedMutexObject& mutex : named) {
        if (!CheckName(options, mutex.object, *mutex.pName, pError)) {
            return false;
        }
        if (!options.IsOmitted(mutex.object) &&
            !CreateNamedMutex(pAttributes, mutex.object, mutex.pName->c_str(), mutex.pOwner, pError)) {
            return false;
        }
    }
    for (const TAccessMutexObject& mutex : kAccessMutexObjects) {
        if (!options.IsOmitted(mutex.object) &&
            !CreateNamedMutex(pAttributes, mutex.object, mutex.pszName, &hAccessMutexes[mutex.key], pError)) {
            return false;
        }
    }
    return true;
}

void TRefHost::CloseObjects()
{
    for (TKernelHandle& hMutex : hAccessMutexes) {
        hMutex.Reset();
    }
    hCursorMutex.Reset();
    hCursorEvent.Reset();
    hInstanceMutex.Reset();
    hFirstFrameEvent.Reset();
    hStartedCorrectlyEvent.Reset();
    hUninstallEvent.Reset();
    viewFrameBuffer.Reset();
    hFrameBufferMapping.Reset();
}

bool TRefHost::StartCapturer(const std::wstring& exePath, DWORD hostPid, const std::wstring* argsOverride,
                             std::wstring* pError)
{
    if (hCapturerProcess && ::WaitForSingleObject(hCapturerProcess.Get(), 0) == WAIT_TIMEOUT) {
        *pError = L"a capturer started by this host is still running";
        return false;
    }
    const DWORD dwHostPid = hostPid != 0 ? hostPid : ::GetCurrentProcessId();
    const std::wstring arguments = argsOverride != nullptr ? *argsOverride : std::to_wstring(dwHostPid);
    std::wstring commandLine = L"\"" + exePath + L"\"";
    if (!arguments.empty()) {
        commandLine += L" " + arguments;
    }
    // The capturer is a GUI program and needs no console. DETACHED_PROCESS also keeps console
    // programs started this way (tests start stand-ins) from getting a console host process of
    // their own, which under Wine can outlive them.
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    // Wine reports ERROR_INTERNAL_ERROR when a new process dies while its loader initialises; seen
    // once in some hundred starts on a loaded machine, before any of the program's code ran. That
    // start is repeated (twice at most); every other failure is reported at once.
    DWORD dwError = ERROR_SUCCESS;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (::CreateProcessW(exePath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                             nullptr, &startup, &info)) {
            dwError = ERROR_SUCCESS;
            break;
        }
        dwError = ::GetLastError();
        if (dwError != ERROR_INTERNAL_ERROR) {
            break;
        }
        ++ui32StartRetries;
    }
    if (dwError != ERROR_SUCCESS) {
        *pError = L"CreateProcess '" + exePath + L"': error " + std::to_wstring(dwError);
        return false;
    }
    TKernelHandle hThread(info.hThread);
    hCapturerProcess.Reset(info.hProcess);
    dwCapturerProcessId = info.dwProcessId;
    return true;
}

bool TRefHost::WaitStartedCorrectly(DWORD timeoutMs) const
{
    return hStartedCorrectlyEvent && ::WaitForSingleObject(hStartedCorrectlyEvent.Get(), timeoutMs) == WAIT_OBJECT_0;
}

bool TRefHost::WaitStartedCorrectlyOrExit(DWORD timeoutMs) const
{
    HANDLE handles[2];
    DWORD count = 0;
    for (HANDLE h : {hStartedCorrectlyEvent.Get(), hCapturerProcess.Get()}) {
        if (h != nullptr) {
            handles[count++] = h;
        }
    }
    if (count == 0) {
        return false;
    }
    ::WaitForMultipleObjects(count, handles, FALSE, timeoutMs);
    // Asked again: the capturer may have set the event just before it ended.
    return IsStartedCorrectlySet();
}

void TRefHost::SignalUninstall()
{
    if (hUninstallEvent) {
        ::SetEvent(hUninstallEvent.Get());
    }
}

void TRefHost::CloseInstanceMutex()
{
    hInstanceMutex.Reset();
}

bool TRefHost::WaitCapturerExit(DWORD timeoutMs, int* pExitCode)
{
    if (!hCapturerProcess || ::WaitForSingleObject(hCapturerProcess.Get(), timeoutMs) != WAIT_OBJECT_0) {
        return false;
    }
    DWORD dwExitCode = 0;
    if (!::GetExitCodeProcess(hCapturerProcess.Get(), &dwExitCode)) {
        return false;
    }
    // Exit codes are the capturer's int return value: -7 comes back as 0xFFFFFFF9.
    *pExitCode = static_cast<int>(dwExitCode);
    return true;
}

// Asks a capturer that still runs to end, as a host that is done would; one that does not end in
// time is terminated. Either way it has ended (or the wait failed) when this returns, so the
// next host finds no handle of it on the named objects.
void TRefHost::StopRunningCapturer()
{
    if (!hCapturerProcess || ::WaitForSingleObject(hCapturerProcess.Get(), 0) != WAIT_TIMEOUT) {
        return;
    }
    if (hUninstallEvent) {
        SignalUninstall();
        if (::WaitForSingleObject(hCapturerProcess.Get(), kStopWaitMs) == WAIT_OBJECT_0) {
            return;
        }
    }
    ::TerminateProcess(hCapturerProcess.Get(), 1);
    ::WaitForSingleObject(hCapturerProcess.Get(), kStopWaitMs);
}
