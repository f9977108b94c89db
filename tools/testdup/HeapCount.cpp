// Linked only into ZYRFullscreenCapturerTestDup.exe: the program's own heap, counted apart from
// the platform's. The program's operator new and delete (its own code and the C++ library linked
// into it; never the platform's DLLs) keep the bytes and blocks they hold in two counters, and
// when the environment names a period (testdup::kHeapReportVariable, seconds) a thread logs them that
// often: "TestDup heap: <bytes> bytes in <blocks> blocks held through operator new". A soak that
// sees the process grow while this stays flat has found the platform's growth, not the capturer's.
#include "TScreenOutputDuplication.h"

#include "log/Log.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

constexpr size_t kHeader = 16;  // the block's size, keeping the 16-byte alignment of operator new

std::atomic<int64_t> g_i64Bytes{0};
std::atomic<int64_t> g_i64Blocks{0};

void* Allocate(size_t size)
{
    void* pBlock = std::malloc(size + kHeader);
    if (pBlock == nullptr) {
        return nullptr;
    }
    *static_cast<size_t*>(pBlock) = size;
    g_i64Bytes.fetch_add(static_cast<int64_t>(size), std::memory_order_relaxed);
    g_i64Blocks.fetch_add(1, std::memory_order_relaxed);
    return static_cast<uint8_t*>(pBlock) + kHeader;
}

void Free(void* p)
{
    if (p == nullptr) {
        return;
    }
    uint8_t* pBlock = static_cast<uint8_t*>(p) - kHeader;
    g_i64Bytes.fetch_sub(static_cast<int64_t>(*reinterpret_cast<size_t*>(pBlock)), std::memory_order_relaxed);
    g_i64Blocks.fetch_sub(1, std::memory_order_relaxed);
    std::free(pBlock);
}

DWORD WINAPI ReportLoop(void* pPeriodMs)
{
    const auto dwPeriodMs = static_cast<DWORD>(reinterpret_cast<uintptr_t>(pPeriodMs));
    for (;;) {
        ::Sleep(dwPeriodMs);
        LogInfo("TestDup heap: %lld bytes in %lld blocks held through operator new",
                static_cast<long long>(g_i64Bytes.load(std::memory_order_relaxed)),
                static_cast<long long>(g_i64Blocks.load(std::memory_order_relaxed)));
    }
}

// Starts the reporting thread when kHeapReportVariable holds 1 to 3600; it runs until the process
// ends.
bool StartReports()
{
    const DWORD dwSeconds = testdup::NumberFromEnvironment(testdup::kHeapReportVariable, 3600);
    if (dwSeconds == 0) {
        return false;
    }
    void* const pPeriodMs = reinterpret_cast<void*>(static_cast<uintptr_t>(dwSeconds * 1000));
    const HANDLE hThread = ::CreateThread(nullptr, 0, &ReportLoop, pPeriodMs, 0, nullptr);
    if (hThread == nullptr) {
        return false;
    }
    ::CloseHandle(hThread);
    return true;
}

[[maybe_unused]] const bool g_bReporting = StartReports();

}  // namespace

void* operator new(size_t size)
{
    if (void* p = Allocate(size)) {
        return p;
    }
    throw std::bad_alloc();
}

void* operator new[](size_t size)
{
    return operator new(size);
}

void* operator new(size_t size, const std::nothrow_t&) noexcept
{
    return Allocate(size);
}

void* operator new[](size_t size, const std::nothrow_t&) noexcept
{
    return Allocate(size);
}

void operator delete(void* p) noexcept
{
    Free(p);
}

void operator delete[](void* p) noexcept
{
    Free(p);
}

void operator delete(void* p, size_t) noexcept
{
    Free(p);
}

void operator delete[](void* p, size_t) noexcept
{
    Free(p);
}

void operator delete(void* p, const std::nothrow_t&) noexcept
{
    Free(p);
}

void operator delete[](void* p, const std::nothrow_t&) noexcept
{
    Free(p);
}
