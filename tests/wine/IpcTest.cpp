// The named-object wrappers against real Wine kernel objects, with their exact log lines read
// back from the log server's ring.
#include "ProcessLogServer.h"

#include "ipc/TZYREvent.h"
#include "ipc/TZYRMutex.h"
#include "ipc/TZYRMutexLock.h"
#include "ipc/PermissiveSecurity.h"
#include "ipc/TZYRSecurityAttributes.h"
#include "log/Log.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace {

std::wstring UniqueName(const wchar_t* base)
{
    static std::atomic<int> counter{0};
    return std::wstring(base) + L"-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(counter++);
}

size_t Count(const std::vector<std::string>& texts, const std::string& text)
{
    return static_cast<size_t>(std::count(texts.begin(), texts.end(), text));
}

// Holds a mutex on another thread (ownership is per thread) until released.
class MutexHolder {
public:
    explicit MutexHolder(HANDLE hMutex)
        : hHeld(::CreateEventW(nullptr, TRUE, FALSE, nullptr)), hRelease(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          thread([this, hMutex] {
              ::WaitForSingleObject(hMutex, INFINITE);
              ::SetEvent(hHeld.Get());
              ::WaitForSingleObject(hRelease.Get(), INFINITE);
              if (!bAbandon) {
                  ::ReleaseMutex(hMutex);
              }
          })
    {
        EXPECT_EQ(::WaitForSingleObject(hHeld.Get(), 10000), WAIT_OBJECT_0);
    }
    // Ends the holding thread; with bAbandonIt the thread ends without releasing the mutex.
    void Finish(bool bAbandonIt = false)
    {
        bAbandon = bAbandonIt;
        ::SetEvent(hRelease.Get());
        if (thread.joinable()) {
            thread.join();
        }
    }
    ~MutexHolder() { Finish(bAbandon); }

private:
    TKernelHandle hHeld;
    TKernelHandle hRelease;
    bool bAbandon = false;
    std::thread thread;
};

TEST(ZYRMutex, MissingNameLeavesNullHandleErrorLinesAndLastError)
{
    const std::wstring name = UniqueName(L"zyr-missing-mutex");
    const size_t mark = LogMark();
    ::SetLastError(0);
    auto mutex = std::make_unique<TZYRMutex>(name.c_str());
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << "the open's error survives the log lines";
    EXPECT_EQ(mutex->Get(), nullptr);
    EXPECT_FALSE(mutex->Lock(0));
    mutex->Unlock();  // harmless on a null handle: no line
    mutex.reset();
    const std::string narrowName(name.begin(), name.end());
    const std::vector<std::string> expected = {
        "TZYRMutex::TZYRMutex",
        "TZYRMutex::TZYRMutex mutex name '" + narrowName + "'",
        "TZYRMutex::TZYRMutex CreateMutex error 2",
        "TZYRMutex::TZYRMutex exit",
        "TZYRMutex::~TZYRMutex",
        "TZYRMutex::~TZYRMutex exit",
    };
    EXPECT_EQ(TextsSince(mark), expected);
}

TEST(ZYRMutex, OpenedMutexLogsCreatedAndLocks)
{
    const std::wstring name = UniqueName(L"zyr-mutex");
    TKernelHandle owner(::CreateMutexW(nullptr, FALSE, name.c_str()));
    ASSERT_TRUE(owner);
    const size_t mark = LogMark();
    TZYRMutex mutex(name.c_str());
    ASSERT_NE(mutex.Get(), nullptr);
    EXPECT_EQ(Count(TextsSince(mark), "TZYRMutex::TZYRMutex created"), 1u);
    EXPECT_TRUE(mutex.Lock(0));
    mutex.Unlock();
    EXPECT_EQ(Count(TextsSince(mark), "TZYRMutex::Unlock ReleaseMutex error 288"), 0u);
}

TEST(ZYRMutex, LockWithZeroTimeoutFailsAtOnceWhileAnotherHolderHasIt)
{
    const std::wstring name = UniqueName(L"zyr-held");
    TKernelHandle owner(::CreateMutexW(nullptr, FALSE, name.c_str()));
    ASSERT_TRUE(owner);
    TZYRMutex mutex(name.c_str());
    MutexHolder holder(owner.Get());
    const ULONGLONG start = ::GetTickCount64();
    EXPECT_FALSE(mutex.Lock(0));
    EXPECT_LT(::GetTickCount64() - start, 1000u);
    holder.Finish();
    EXPECT_TRUE(mutex.Lock(1000));
    mutex.Unlock();
}

TEST(ZYRMutex, AbandonedMutexCountsAsNotLocked)
{
    const std::wstring name = UniqueName(L"zyr-abandoned");
    TKernelHandle owner(::CreateMutexW(nullptr, FALSE, name.c_str()));
    ASSERT_TRUE(owner);
    TZYRMutex mutex(name.c_str());
    {
        MutexHolder holder(owner.Get());
        holder.Finish(true);
    }
    EXPECT_FALSE(mutex.Lock(1000)) << "WAIT_ABANDONED is not a lock";
    mutex.Unlock();  // the abandoned wait did grant ownership: give it back
}

TEST(ZYRMutexLock, TimedOutLockStillReleasesAndLogsOneError)
{
    const std::wstring name = UniqueName(L"zyr-lock-timeout");
    TKernelHandle owner(::CreateMutexW(nullptr, FALSE, name.c_str()));
    ASSERT_TRUE(owner);
    auto mutex = std::make_shared<TZYRMutex>(name.c_str());
    MutexHolder holder(owner.Get());
    const size_t mark = LogMark();
    {
        TZYRMutexLock lock(true, 0, mutex);
        EXPECT_FALSE(lock.bLocked);
        EXPECT_EQ(mutex.use_count(), 2);
    }
    EXPECT_EQ(mutex.use_count(), 1) << "the lock drops its reference";
    const auto lines = LinesSince(mark);
    const std::vector<std::string> texts = TextsSince(mark);
    ASSERT_EQ(Count(texts, "TZYRMutex::Unlock ReleaseMutex error 288"), 1u);
    for (const TLoggedLine& line : lines) {
        if (line.strText.find("ReleaseMutex error") != std::string::npos) {
            EXPECT_EQ(line.ui32Type, 2u) << "error level";
        }
    }
    const std::vector<std::string> expected = {
        "TZYRMutexLock::TZYRMutexLock",     "TZYRMutexLock::Lock",
        "TZYRMutexLock::Lock exit",         "TZYRMutexLock::TZYRMutexLock exit",
        "TZYRMutexLock::~TZYRMutexLock",    "TZYRMutexLock::Unlock",
        "TZYRMutex::Unlock ReleaseMutex error 288",
        "TZYRMutexLock::Unlock exit",       "TZYRMutexLock::~TZYRMutexLock exit",
    };
    EXPECT_EQ(texts, expected);
}

TEST(ZYRMutexLock, ObtainedLockIsReleasedForOthers)
{
    const std::wstring name = UniqueName(L"zyr-lock-ok");
    TKernelHandle owner(::CreateMutexW(nullptr, FALSE, name.c_str()));
    ASSERT_TRUE(owner);
    auto mutex = std::make_shared<TZYRMutex>(name.c_str());
    const size_t mark = LogMark();
    {
        TZYRMutexLock lock(true, 1000, mutex);
        EXPECT_TRUE(lock.bLocked);
        // Another thread cannot have it while we hold it.
        std::thread([&owner] { EXPECT_EQ(::WaitForSingleObject(owner.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT)); }).join();
    }
    std::thread([&owner] {
        EXPECT_EQ(::WaitForSingleObject(owner.Get(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
        ::ReleaseMutex(owner.Get());
    }).join();
    EXPECT_EQ(Count(TextsSince(mark), "TZYRMutex::Unlock ReleaseMutex error 288"), 0u);
}

TEST(ZYRMutexLock, UnlockedConstructionStillTriesTheRelease)
{
    const std::wstring name = UniqueName(L"zyr-lock-none");
    TKernelHandle owner(::CreateMutexW(nullptr, FALSE, name.c_str()));
    auto mutex = std::make_shared<TZYRMutex>(name.c_str());
    const size_t mark = LogMark();
    {
        TZYRMutexLock lock(false, 0, mutex);
        EXPECT_FALSE(lock.bLocked);
    }
    const std::vector<std::string> texts = TextsSince(mark);
    EXPECT_EQ(Count(texts, "TZYRMutexLock::Lock"), 0u);
    EXPECT_EQ(Count(texts, "TZYRMutex::Unlock ReleaseMutex error 288"), 1u);
}

TEST(ZYREvent, FailedOpenIsHarmlessAndSaysSo)
{
    const std::wstring name = UniqueName(L"zyr-missing-event");
    const size_t mark = LogMark();
    TZYREvent event(SYNCHRONIZE | EVENT_MODIFY_STATE, name.c_str());
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(event.Get(), nullptr);
    EXPECT_FALSE(event.SetEvent());
    EXPECT_FALSE(event.WaitForSingleObject(0));
    const auto lines = LinesSince(mark);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].strText, "TZYREvent::TZYREvent OpenEvent error 2");
    EXPECT_EQ(lines[0].ui32Type, 2u);
    EXPECT_EQ(lines[1].strText, "TZYREvent::SetEvent hEvent is null");
    EXPECT_EQ(lines[2].strText, "TZYREvent::WaitForSingleObject hEvent is null");
}

TEST(ZYREvent, InfoLevelOpenFailureForChannelsThatMayRetry)
{
    const std::wstring name = UniqueName(L"zyr-missing-event-info");
    const size_t mark = LogMark();
    TZYREvent event(SYNCHRONIZE, name.c_str(), TZYREvent::TOpenFailureLevel::Info);
    const auto lines = LinesSince(mark);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].ui32Type, 0u);
}

TEST(ZYREvent, CreatedEventSignalsAcrossOpens)
{
    const std::wstring name = UniqueName(L"zyr-event");
    TZYRSecurityAttributes attributes;
    TZYREvent created(attributes.Get(), false, false, name.c_str());
    ASSERT_NE(created.Get(), nullptr);
    TZYREvent opened(SYNCHRONIZE | EVENT_MODIFY_STATE, name.c_str());
    ASSERT_NE(opened.Get(), nullptr);
    const size_t mark = LogMark();
    EXPECT_FALSE(opened.WaitForSingleObject(0)) << "a time-out is false, without a line";
    EXPECT_TRUE(created.SetEvent());
    EXPECT_TRUE(opened.WaitForSingleObject(5000));
    EXPECT_FALSE(opened.WaitForSingleObject(0)) << "auto-reset: consumed by the wait";
    EXPECT_TRUE(TextsSince(mark).empty());
}

TEST(ZYREvent, SetEventWithoutModifyRightFails)
{
    const std::wstring name = UniqueName(L"zyr-event-rights");
    TKernelHandle owner(::CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
    TZYREvent syncOnly(SYNCHRONIZE, name.c_str());
    ASSERT_NE(syncOnly.Get(), nullptr);
    const size_t mark = LogMark();
    EXPECT_FALSE(syncOnly.SetEvent());
    EXPECT_EQ(TextsSince(mark), std::vector<std::string>{"TZYREvent::SetEvent SetEvent error 5"});
}

// Wine 8 rejects the permissive descriptor (ERROR_INVALID_ACL, 1336) where Windows accepts it, so
// both outcomes are checked against what the platform itself answers for the same string.
TEST(ZYRSecurityAttributes, DescriptorOrDefaultSecurityWithItsLines)
{
    PSECURITY_DESCRIPTOR pProbe = nullptr;
    const bool bConverts = ::ConvertStringSecurityDescriptorToSecurityDescriptorW(kPermissiveSddl, SDDL_REVISION_1,
                                                                                 &pProbe, nullptr) != FALSE;
    const DWORD dwProbeError = bConverts ? 0 : ::GetLastError();
    ::LocalFree(pProbe);
    const size_t mark = LogMark();
    {
        TZYRSecurityAttributes attributes;
        EXPECT_EQ(attributes.HasDescriptor(), bConverts);
        EXPECT_EQ(attributes.Get()->nLength, sizeof(SECURITY_ATTRIBUTES));
        EXPECT_FALSE(attributes.Get()->bInheritHandle);
        // Usable either way: a null descriptor means default security.
        const std::wstring name = UniqueName(L"zyr-sa-mutex");
        TKernelHandle mutex(::CreateMutexW(attributes.Get(), FALSE, name.c_str()));
        EXPECT_TRUE(mutex);
        TKernelHandle reopened(::OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()));
        EXPECT_TRUE(reopened);
    }
    std::vector<std::string> expected = {"TZYRSecurityAttributes::TZYRSecurityAttributes"};
    if (!bConverts) {
        expected.push_back("TZYRSecurityAttributes::TZYRSecurityAttributes "
                           "ConvertStringSecurityDescriptorToSecurityDescriptor error " +
                           std::to_string(dwProbeError));
    }
    expected.insert(expected.end(), {"TZYRSecurityAttributes::TZYRSecurityAttributes exit",
                                     "TZYRSecurityAttributes::~TZYRSecurityAttributes",
                                     "TZYRSecurityAttributes::~TZYRSecurityAttributes exit"});
    EXPECT_EQ(TextsSince(mark), expected);
}

TEST(ScopedLog, LogsEntryAndTheResultAtExit)
{
    const size_t mark = LogMark();
    {
        int result = -1;
        TScopedLog scoped("Rotation::Setup", &result);
        result = 17;
    }
    const std::vector<std::string> expected = {"Rotation::Setup", "Rotation::Setup exit with 17"};
    EXPECT_EQ(TextsSince(mark), expected);
}

}  // namespace
