#include "ipc/TZYREvent.h"

#include "log/Log.h"

TZYREvent::TZYREvent(DWORD desiredAccess, const wchar_t* name, TOpenFailureLevel failureLevel)
    : hEvent(::OpenEventW(desiredAccess, FALSE, name))
{
    if (!hEvent) {
        const DWORD dwError = ::GetLastError();
        if (failureLevel == TOpenFailureLevel::Error) {
            LogError("%s OpenEvent error %d", "TZYREvent::TZYREvent", static_cast<int>(dwError));
        } else {
            LogInfo("%s OpenEvent error %d", "TZYREvent::TZYREvent", static_cast<int>(dwError));
        }
    }
}

TZYREvent::TZYREvent(SECURITY_ATTRIBUTES* pAttributes, bool bManualReset, bool bInitialState, const wchar_t* name)
    : hEvent(::CreateEventW(pAttributes, bManualReset, bInitialState, name))
{
    if (!hEvent) {
        LogError("%s CreateEvent error %d", "TZYREvent::TZYREvent", static_cast<int>(::GetLastError()));
    }
}

bool TZYREvent::SetEvent()
{
    if (!hEvent) {
        LogError("%s hEvent is null", "TZYREvent::SetEvent");
        return false;
    }
    if (!::SetEvent(hEvent.Get())) {
        LogError("%s SetEvent error %d", "TZYREvent::SetEvent", static_cast<int>(::GetLastError()));
        return false;
    }
    return true;
}

bool TZYREvent::WaitForSingleObject(DWORD timeoutMs)
{
    if (!hEvent) {
        LogError("%s hEvent is null", "TZYREvent::WaitForSingleObject");
        return false;
    }
    return ::WaitForSingleObject(hEvent.Get(), timeoutMs) == WAIT_OBJECT_0;
}
