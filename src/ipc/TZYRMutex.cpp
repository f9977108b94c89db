#include "ipc/TZYRMutex.h"

#include "log/Log.h"

TZYRMutex::TZYRMutex(const wchar_t* name)
{
    LogVerbose("%s", "TZYRMutex::TZYRMutex");
    if (name != nullptr) {
        LogVerbose("%s mutex name '%S'", "TZYRMutex::TZYRMutex", name);
    }
    hMutex.Reset(::OpenMutexW(SYNCHRONIZE, FALSE, name));
    const DWORD dwOpenError = ::GetLastError();
    if (hMutex) {
        LogVerbose("%s created", "TZYRMutex::TZYRMutex");
    } else {
        // "created" and "CreateMutex" are the words the log readers know, though we only open.
        LogVerbose("%s CreateMutex error %d", "TZYRMutex::TZYRMutex", static_cast<int>(dwOpenError));
    }
    LogVerbose("%s exit", "TZYRMutex::TZYRMutex");
    ::SetLastError(dwOpenError);
}

TZYRMutex::~TZYRMutex()
{
    LogVerbose("%s", "TZYRMutex::~TZYRMutex");
    hMutex.Reset();
    LogVerbose("%s exit", "TZYRMutex::~TZYRMutex");
}

bool TZYRMutex::Lock(DWORD timeoutMs)
{
    if (!hMutex) {
        return false;
    }
    return ::WaitForSingleObject(hMutex.Get(), timeoutMs) == WAIT_OBJECT_0;
}

void TZYRMutex::Unlock()
{
    if (hMutex && !::ReleaseMutex(hMutex.Get())) {
        LogError("%s ReleaseMutex error %d", "TZYRMutex::Unlock", static_cast<int>(::GetLastError()));
    }
}
