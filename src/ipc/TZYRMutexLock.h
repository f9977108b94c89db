// A scoped lock over a shared TZYRMutex. The destructor releases the mutex whether or not the
// constructor's wait obtained it; a release the thread is not entitled to fails and is logged
// once ("%s ReleaseMutex error %d"). Callers read bLocked before touching the protected data.
#pragma once

#include "ipc/TZYRMutex.h"

#include <memory>

class TZYRMutexLock {
public:
    TZYRMutexLock(bool bLock, DWORD timeoutMs, std::shared_ptr<TZYRMutex> mutex);
    ~TZYRMutexLock();
    TZYRMutexLock(const TZYRMutexLock&) = delete;
    TZYRMutexLock& operator=(const TZYRMutexLock&) = delete;

    std::shared_ptr<TZYRMutex> pMutex;
    bool bLocked = false;
};
