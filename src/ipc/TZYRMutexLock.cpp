#include "ipc/TZYRMutexLock.h"

#include "log/Log.h"

#include <utility>

TZYRMutexLock::TZYRMutexLock(bool bLock, DWORD timeoutMs, std::shared_ptr<TZYRMutex> mutex)
{
    bLocked = false;
    LogVerbose("%s", "TZYRMutexLock::TZYRMutexLock");
    pMutex = std::move(mutex);
    if (bLock) {
        LogVerbose("%s", "TZYRMutexLock::Lock");
        bLocked = pMutex != nullptr && pMutex->Lock(timeoutMs);
        LogVerbose("%s exit", "TZYRMutexLock::Lock");
    }
    LogVerbose("%s exit", "TZYRMutexLock::TZYRMutexLock");
}

TZYRMutexLock::~TZYRMutexLock()
{
    LogVerbose("%s", "TZYRMutexLock::~TZYRMutexLock");
    LogVerbose("%s", "TZYRMutexLock::Unlock");
    if (pMutex != nullptr) {
        pMutex->Unlock();
    }
    LogVerbose("%s exit", "TZYRMutexLock::Unlock");
    LogVerbose("%s exit", "TZYRMutexLock::~TZYRMutexLock");
}
