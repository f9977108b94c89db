// A named mutex that another process created: opened with SYNCHRONIZE, never created here.
// Normally owned through std::shared_ptr, since the application object's map and any number of
// TZYRMutexLock objects refer to the same mutex.
#pragma once

#include "ipc/THandle.h"

#include <windows.h>

class TZYRMutex {
public:
    // A failed open leaves a null handle, and its error code is still the thread's last error
    // when the constructor returns.
    explicit TZYRMutex(const wchar_t* name);
    ~TZYRMutex();
    TZYRMutex(const TZYRMutex&) = delete;
    TZYRMutex& operator=(const TZYRMutex&) = delete;

    HANDLE Get() const { return hMutex.Get(); }
    // True only when the wait returned WAIT_OBJECT_0; an abandoned mutex counts as not locked.
    bool Lock(DWORD timeoutMs);
    // ReleaseMutex; a failure is logged ("%s ReleaseMutex error %d").
    void Unlock();

private:
    TKernelHandle hMutex;
};
