// Owners for what Win32 hands out: kernel handles, mapped views, loaded modules, LocalAlloc'ed
// memory, critical sections and committed pages. Move-only; Reset/Release are explicit; nothing
// here logs.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <utility>

// Kernel objects whose "no object" value is NULL: events, mutexes, mappings, processes, threads.
struct TNullHandleTraits {
    static HANDLE Invalid() { return nullptr; }
    static void Close(HANDLE h) { ::CloseHandle(h); }
};

// Files and the like, whose "no object" value is INVALID_HANDLE_VALUE.
struct TFileHandleTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { ::CloseHandle(h); }
};

template <class TTraits>
class TUniqueHandle {
public:
    TUniqueHandle() = default;
    explicit TUniqueHandle(HANDLE h) : hHandle(h) {}
    ~TUniqueHandle() { Reset(); }
    TUniqueHandle(TUniqueHandle&& other) noexcept : hHandle(other.Release()) {}
    TUniqueHandle& operator=(TUniqueHandle&& other) noexcept
    {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    TUniqueHandle(const TUniqueHandle&) = delete;
    TUniqueHandle& operator=(const TUniqueHandle&) = delete;

    HANDLE Get() const { return hHandle; }
    bool IsValid() const { return hHandle != TTraits::Invalid(); }
    explicit operator bool() const { return IsValid(); }
    HANDLE Release()
    {
        HANDLE h = hHandle;
        hHandle = TTraits::Invalid();
        return h;
    }
    // Closing preserves the thread's last error: owners are reset on paths that still report it.
    void Reset(HANDLE h = TTraits::Invalid())
    {
        if (hHandle != TTraits::Invalid() && hHandle != h) {
            const DWORD dwError = ::GetLastError();
            TTraits::Close(hHandle);
            ::SetLastError(dwError);
        }
        hHandle = h;
    }

private:
    HANDLE hHandle = TTraits::Invalid();
};

using TKernelHandle = TUniqueHandle<TNullHandleTraits>;
using TFileHandle = TUniqueHandle<TFileHandleTraits>;

// A view of a file mapping (MapViewOfFile), unmapped on destruction.
class TMappedView {
public:
    TMappedView() = default;
    TMappedView(void* p, size_t size) : pView(p), nSize(p ? size : 0) {}
    ~TMappedView() { Reset(); }
    TMappedView(TMappedView&& other) noexcept : pView(other.pView), nSize(other.nSize)
    {
        other.pView = nullptr;
        other.nSize = 0;
    }
    TMappedView& operator=(TMappedView&& other) noexcept
    {
        if (this != &other) {
            Reset();
            std::swap(pView, other.pView);
            std::swap(nSize, other.nSize);
        }
        return *this;
    }
    TMappedView(const TMappedView&) = delete;
    TMappedView& operator=(const TMappedView&) = delete;

    void* Get() const { return pView; }
    template <class T>
    T* As() const { return static_cast<T*>(pView); }
    uint8_t* Bytes() const { return static_cast<uint8_t*>(pView); }
    size_t Size() const { return nSize; }
    explicit operator bool() const { return pView != nullptr; }
    void Reset()
    {
        if (pView != nullptr) {
            const DWORD dwError = ::GetLastError();
            ::UnmapViewOfFile(pView);
            ::SetLastError(dwError);
        }
        pView = nullptr;
        nSize = 0;
    }

private:
    void* pView = nullptr;
    size_t nSize = 0;
};

// A module from LoadLibraryW/LoadLibraryExW (a DLL, or an exe loaded as a data file), freed on
// destruction; freeing preserves the thread's last error.
class TModule {
public:
    TModule() = default;
    explicit TModule(HMODULE h) : hModule(h) {}
    ~TModule() { Reset(); }
    TModule(TModule&& other) noexcept : hModule(other.hModule) { other.hModule = nullptr; }
    TModule& operator=(TModule&& other) noexcept
    {
        if (this != &other) {
            Reset();
            std::swap(hModule, other.hModule);
        }
        return *this;
    }
    TModule(const TModule&) = delete;
    TModule& operator=(const TModule&) = delete;

    HMODULE Get() const { return hModule; }
    explicit operator bool() const { return hModule != nullptr; }
    void Reset()
    {
        if (hModule != nullptr) {
            const DWORD dwError = ::GetLastError();
            ::FreeLibrary(hModule);
            ::SetLastError(dwError);
        }
        hModule = nullptr;
    }

private:
    HMODULE hModule = nullptr;
};

// Memory that a Win32 call allocated with LocalAlloc (security descriptors, argv arrays).
template <class T>
class TLocalMemory {
public:
    TLocalMemory() = default;
    explicit TLocalMemory(T p) : pMemory(p) {}
    ~TLocalMemory() { Reset(); }
    TLocalMemory(TLocalMemory&& other) noexcept : pMemory(other.pMemory) { other.pMemory = nullptr; }
    TLocalMemory& operator=(TLocalMemory&& other) noexcept
    {
        if (this != &other) {
            Reset();
            std::swap(pMemory, other.pMemory);
        }
        return *this;
    }
    TLocalMemory(const TLocalMemory&) = delete;
    TLocalMemory& operator=(const TLocalMemory&) = delete;

    T Get() const { return pMemory; }
    // For out-parameters of the call that allocates; the owner must be empty.
    T* Receive() { Reset(); return &pMemory; }
    void Reset()
    {
        if (pMemory != nullptr) {
            ::LocalFree(reinterpret_cast<HLOCAL>(pMemory));
        }
        pMemory = nullptr;
    }

private:
    T pMemory = nullptr;
};

// A critical section that lives as long as its owner.
class TCriticalSection {
public:
    TCriticalSection() { ::InitializeCriticalSection(&cs); }
    ~TCriticalSection() { ::DeleteCriticalSection(&cs); }
    TCriticalSection(const TCriticalSection&) = delete;
    TCriticalSection& operator=(const TCriticalSection&) = delete;
    void Enter() { ::EnterCriticalSection(&cs); }
    void Leave() { ::LeaveCriticalSection(&cs); }

private:
    CRITICAL_SECTION cs;
};

class TCriticalSectionLock {
public:
    explicit TCriticalSectionLock(TCriticalSection& section) : rSection(section) { rSection.Enter(); }
    ~TCriticalSectionLock() { rSection.Leave(); }
    TCriticalSectionLock(const TCriticalSectionLock&) = delete;
    TCriticalSectionLock& operator=(const TCriticalSectionLock&) = delete;

private:
    TCriticalSection& rSection;
};

// Committed read-write pages (VirtualAlloc) of a given capacity; empty when allocation failed.
class TVirtualBuffer {
public:
    TVirtualBuffer() = default;
    ~TVirtualBuffer() { Reset(); }
    TVirtualBuffer(const TVirtualBuffer&) = delete;
    TVirtualBuffer& operator=(const TVirtualBuffer&) = delete;

    uint8_t* Get() const { return pData; }
    size_t Capacity() const { return nCapacity; }
    // Replaces the pages by new ones of exactly `capacity` bytes; false (and empty) on failure.
    bool Allocate(size_t capacity)
    {
        Reset();
        pData = static_cast<uint8_t*>(::VirtualAlloc(nullptr, capacity, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        nCapacity = pData != nullptr ? capacity : 0;
        return pData != nullptr;
    }
    void Reset()
    {
        if (pData != nullptr) {
            ::VirtualFree(pData, 0, MEM_RELEASE);
        }
        pData = nullptr;
        nCapacity = 0;
    }

private:
    uint8_t* pData = nullptr;
    size_t nCapacity = 0;
};

// Releases a mutex that a wait granted, when the scope ends.
class TMutexOwnership {
public:
    // Owned when the wait returned WAIT_OBJECT_0 or WAIT_ABANDONED (both grant the mutex).
    TMutexOwnership(HANDLE hMutex, DWORD dwWaitResult)
        : hOwned((dwWaitResult == WAIT_OBJECT_0 || dwWaitResult == WAIT_ABANDONED) ? hMutex : nullptr),
          bWasFree(dwWaitResult == WAIT_OBJECT_0) {}
    ~TMutexOwnership()
    {
        if (hOwned != nullptr) {
            ::ReleaseMutex(hOwned);
        }
    }
    TMutexOwnership(const TMutexOwnership&) = delete;
    TMutexOwnership& operator=(const TMutexOwnership&) = delete;
    bool IsOwned() const { return hOwned != nullptr; }
    // False for an abandoned mutex: its previous owner died holding it, so what it guards may be
    // half-written.
    bool WasFree() const { return bWasFree; }

private:
    HANDLE hOwned;
    bool bWasFree;
};
