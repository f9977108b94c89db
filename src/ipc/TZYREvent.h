// A named event, opened or created by name. A failed open or create leaves a null handle inside
// a valid object; every operation tolerates it and says so through its result.
#pragma once

#include "ipc/THandle.h"

#include <windows.h>

class TZYREvent {
public:
    // How the open constructor reports a failed open: Run treats a missing start-up event as an
    // error, the overlay channel's first attempt is allowed to fail.
    enum class TOpenFailureLevel { Error, Info };

    // OpenEventW(desiredAccess, not inheritable, name). On failure logs "%s OpenEvent error %d".
    TZYREvent(DWORD desiredAccess, const wchar_t* name, TOpenFailureLevel failureLevel = TOpenFailureLevel::Error);
    // CreateEventW with these values. On failure logs "%s CreateEvent error %d" at error level.
    TZYREvent(SECURITY_ATTRIBUTES* pAttributes, bool bManualReset, bool bInitialState, const wchar_t* name);

    TZYREvent(const TZYREvent&) = delete;
    TZYREvent& operator=(const TZYREvent&) = delete;

    HANDLE Get() const { return hEvent.Get(); }
    bool SetEvent();
    // True only when the wait ended with the event signalled.
    bool WaitForSingleObject(DWORD timeoutMs);

private:
    TKernelHandle hEvent;
};
