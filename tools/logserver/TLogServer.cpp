#include "TLogServer.h"
#include "ipc/WideText.h"

#include "ServerDirectory.h"
#include "ipc/PermissiveSecurity.h"

#include <atomic>
#include <cstring>

using namespace zyrlog;

namespace {

// Writers hold the write-access mutex only for one copy and the directory mutex only for one walk;
// a wait this long means a holder is stuck, and the server gives up on that step.
constexpr DWORD kLockWaitMs = 10000;

void SetError(std::wstring* pError, const wchar_t* step, const std::wstring& name, DWORD dwError)
{
    if (pError != nullptr) {
        *pError = std::wstring(step) + L" \"" + name + L"\" failed, error " + std::to_wstring(dwError);
    }
}

// Create first: it opens an existing object too, with full access; Open is the fall-back for an
// object whose security grants us less.
TKernelHandle CreateOrOpenMutex(const std::wstring& name, PSECURITY_ATTRIBUTES pAttributes)
{
    TKernelHandle hMutex(::CreateMutexW(pAttributes, FALSE, name.c_str()));
    if (!hMutex) {
        hMutex.Reset(::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name.c_str()));
    }
    return hMutex;
}

TKernelHandle CreateOrOpenEvent(const std::wstring& name, PSECURITY_ATTRIBUTES pAttributes)
{
    TKernelHandle hEvent(::CreateEventW(pAttributes, FALSE, FALSE, name.c_str()));
    if (!hEvent) {
        hEvent.Reset(::OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, name.c_str()));
    }
    return hEvent;
}

TKernelHandle CreateOrOpenMapping(const std::wstring& name, PSECURITY_ATTRIBUTES pAttributes, size_t size,
                                  bool& bCreated)
{
    ::SetLastError(ERROR_SUCCESS);
    TKernelHandle hMapping(::CreateFileMappingW(INVALID_HANDLE_VALUE, pAttributes, PAGE_READWRITE | SEC_COMMIT, 0,
                                                static_cast<DWORD>(size), name.c_str()));
    bCreated = hMapping && ::GetLastError() != ERROR_ALREADY_EXISTS;
    if (!hMapping) {
        hMapping.Reset(::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, name.c_str()));
    }
    return hMapping;
}

TMappedView MapWhole(HANDLE hMapping, size_t size)
{
    return TMappedView(::MapViewOfFile(hMapping, FILE_MAP_ALL_ACCESS, 0, 0, size), size);
}

// Both results grant the mutex; after WAIT_ABANDONED the bytes it guards may be half written,
// which every reader here tolerates.
bool Granted(DWORD dwWait)
{
    return dwWait == WAIT_OBJECT_0 || dwWait == WAIT_ABANDONED;
}

void StoreSharedByte(uint8_t* p, uint8_t value)
{
    *static_cast<volatile uint8_t*>(p) = value;
}

uint64_t NextInstance()
{
    static std::atomic<uint64_t> counter{0};
    return ++counter;
}

void AppendMalformed(std::vector<TLogRecord>& out, std::string problem)
{
    TLogRecord entry;
    entry.bMalformed = true;
    entry.strProblem = std::move(problem);
    out.push_back(std::move(entry));
}

// Decodes the records in `bytes`, copied from ring offset state.ui32Read on; the first bytes that
// are not a record end the walk with one malformed entry.
size_t DecodeSpan(const uint8_t* bytes, uint32_t available, const TRingState& state, std::vector<TLogRecord>& out)
{
    size_t appended = 0;
    uint32_t at = 0;
    while (at < available) {
        TLogRecord entry;
        const TDecodeResult result = DecodeRecord(bytes + at, available - at, entry.record);
        if (result != TDecodeResult::Ok) {
            const uint32_t left = available - at;
            const std::string sizeField = left >= 4 ? std::to_string(LoadU32(bytes + at)) : std::string("cut off");
            const uint64_t offset = (static_cast<uint64_t>(state.ui32Read) + at) % state.ui32Capacity;
            AppendMalformed(out, std::string(DecodeResultName(result)) + " at ring offset " + std::to_string(offset) +
                                     ": size field " + sizeField + ", " + std::to_string(left) +
                                     " bytes up to the write offset skipped");
            return appended + 1;
        }
        at += entry.record.ui32Size;
        out.push_back(std::move(entry));
        ++appended;
    }
    return appended;
}

}  // namespace

TLogServer::~TLogServer()
{
    UnregisterEntry();
}

bool TLogServer::Start(const TLogServerConfig& newConfig, std::wstring* pError)
{
    Close();
    config = newConfig;
    if (config.wsDirectoryPrefix.empty() || config.wsLogName.empty()) {
        if (pError != nullptr) {
            *pError = L"the directory prefix and the log name must not be empty";
        }
        return false;
    }
    TLocalMemory<PSECURITY_DESCRIPTOR> descriptor = BuildPermissiveSecurityDescriptor();
    SECURITY_ATTRIBUTES attributes = MakeSecurityAttributes(descriptor.Get());
    if (!OpenRing(&attributes, pError) || !OpenDirectory(&attributes, pError) || !RegisterEntry(pError)) {
        Close();
        return false;
    }
    return true;
}

void TLogServer::Close()
{
    UnregisterEntry();
    viewRing.Reset();
    hRingMapping.Reset();
    hWriteAccessMutex.Reset();
    hLogReadyEvent.Reset();
    viewDirectory.Reset();
    hDirectoryMapping.Reset();
    hDirectoryMutex.Reset();
    vecEntry.clear();
}

bool TLogServer::OpenRing(PSECURITY_ATTRIBUTES pAttributes, std::wstring* pError)
{
    const std::wstring readyName = config.names.wsLogReadyPrefix + config.wsLogName;
    hLogReadyEvent = CreateOrOpenEvent(readyName, pAttributes);
    if (!hLogReadyEvent) {
        SetError(pError, L"creating the event", readyName, ::GetLastError());
        return false;
    }
    const std::wstring mutexName = config.names.wsWriteAccessPrefix + config.wsLogName;
    hWriteAccessMutex = CreateOrOpenMutex(mutexName, pAttributes);
    if (!hWriteAccessMutex) {
        SetError(pError, L"creating the mutex", mutexName, ::GetLastError());
        return false;
    }
    const DWORD dwWait = ::WaitForSingleObject(hWriteAccessMutex.Get(), kLockWaitMs);
    TMutexOwnership ownership(hWriteAccessMutex.Get(), dwWait);
    if (!Granted(dwWait)) {
        SetError(pError, L"waiting for the mutex", mutexName, dwWait == WAIT_FAILED ? ::GetLastError() : dwWait);
        return false;
    }
    const std::wstring bufferName = config.names.wsBufferPrefix + config.wsLogName;
    bool bCreated = false;
    hRingMapping = CreateOrOpenMapping(bufferName, pAttributes, kRingMappingSize, bCreated);
    if (!hRingMapping) {
        SetError(pError, L"creating the mapping", bufferName, ::GetLastError());
        return false;
    }
    viewRing = MapWhole(hRingMapping.Get(), kRingMappingSize);
    if (!viewRing) {
        SetError(pError, L"mapping a view of", bufferName, ::GetLastError());
        return false;
    }
    PrepareRing(bCreated);
    return true;
}

// Called with the write-access mutex held.
void TLogServer::PrepareRing(bool bCreated)
{
    uint8_t* pControl = viewRing.Bytes();
    TRingState state;
    if (bCreated || !ReadRingState(pControl, viewRing.Size(), state)) {
        std::memset(pControl, 0, kRingControlSize);
        StoreU32(pControl + kRingCapacityOffset, kRingCapacity);
    } else {
        StoreU32(pControl + kRingReadOffset, state.ui32Write);
    }
    StoreSharedByte(pControl + kRingLevelOffset, config.ui8Level);
    StoreSharedByte(pControl + kRingWritersStoppedOffset, 0);
}

bool TLogServer::OpenDirectory(PSECURITY_ATTRIBUTES pAttributes, std::wstring* pError)
{
    hDirectoryMutex = CreateOrOpenMutex(config.names.wsDirectoryMutex, pAttributes);
    if (!hDirectoryMutex) {
        SetError(pError, L"creating the mutex", config.names.wsDirectoryMutex, ::GetLastError());
        return false;
    }
    const DWORD dwWait = ::WaitForSingleObject(hDirectoryMutex.Get(), kLockWaitMs);
    TMutexOwnership ownership(hDirectoryMutex.Get(), dwWait);
    if (!Granted(dwWait)) {
        SetError(pError, L"waiting for the mutex", config.names.wsDirectoryMutex,
                 dwWait == WAIT_FAILED ? ::GetLastError() : dwWait);
        return false;
    }
    bool bCreated = false;
    hDirectoryMapping = CreateOrOpenMapping(config.names.wsDirectoryMapping, pAttributes, kDirectoryViewSize, bCreated);
    if (!hDirectoryMapping) {
        SetError(pError, L"creating the mapping", config.names.wsDirectoryMapping, ::GetLastError());
        return false;
    }
    viewDirectory = MapWhole(hDirectoryMapping.Get(), kDirectoryViewSize);
    if (!viewDirectory) {
        SetError(pError, L"mapping a view of", config.names.wsDirectoryMapping, ::GetLastError());
        return false;
    }
    if (bCreated) {
        StoreU32(viewDirectory.Bytes(), 0);
    }
    return true;
}

bool TLogServer::RegisterEntry(std::wstring* pError)
{
    const logserver::TOwnerMark mark{::GetCurrentProcessId(), NextInstance()};
    vecEntry = logserver::BuildOwnedEntry(ToU16(config.wsDirectoryPrefix), ToU16(config.wsLogName), config.modules,
                                          mark);
    // Compare with the prefix as the entry holds it (cut to its field).
    const std::u16string prefix = logserver::EntryPrefix(vecEntry.data(), vecEntry.size());
    const DWORD dwWait = ::WaitForSingleObject(hDirectoryMutex.Get(), kLockWaitMs);
    TMutexOwnership ownership(hDirectoryMutex.Get(), dwWait);
    if (!Granted(dwWait)) {
        SetError(pError, L"waiting for the mutex", config.names.wsDirectoryMutex,
                 dwWait == WAIT_FAILED ? ::GetLastError() : dwWait);
        return false;
    }
    logserver::RemoveEntries(viewDirectory.Bytes(), viewDirectory.Size(), [&prefix](const uint8_t* entry, size_t size) {
        return logserver::IsLogEntryWithPrefix(entry, size, prefix);
    });
    if (!logserver::AppendEntry(viewDirectory.Bytes(), viewDirectory.Size(), vecEntry)) {
        if (pError != nullptr) {
            *pError = L"the directory has no room for an entry of " + std::to_wstring(vecEntry.size()) + L" bytes";
        }
        return false;
    }
    bRegistered = true;
    return true;
}

void TLogServer::UnregisterEntry()
{
    if (!bRegistered || !viewDirectory || !hDirectoryMutex) {
        return;
    }
    bRegistered = false;
    const DWORD dwWait = ::WaitForSingleObject(hDirectoryMutex.Get(), kLockWaitMs);
    TMutexOwnership ownership(hDirectoryMutex.Get(), dwWait);
    if (!Granted(dwWait)) {
        return;  // a stuck holder: the entry stays behind, as it would after a crash
    }
    const std::vector<uint8_t>& own = vecEntry;
    logserver::RemoveEntries(viewDirectory.Bytes(), viewDirectory.Size(), [&own](const uint8_t* entry, size_t size) {
        return size == own.size() && std::memcmp(entry, own.data(), size) == 0;
    });
}

void TLogServer::SetLevel(uint8_t level)
{
    config.ui8Level = level;
    if (viewRing) {
        StoreSharedByte(viewRing.Bytes() + kRingLevelOffset, level);
    }
}

void TLogServer::SetWritersStopped(bool bStopped)
{
    if (viewRing) {
        StoreSharedByte(viewRing.Bytes() + kRingWritersStoppedOffset, bStopped ? 1 : 0);
    }
}

bool TLogServer::WaitReady(DWORD timeoutMs)
{
    return hLogReadyEvent && ::WaitForSingleObject(hLogReadyEvent.Get(), timeoutMs) == WAIT_OBJECT_0;
}

size_t TLogServer::DrainOnce(std::vector<TLogRecord>& out)
{
    if (!viewRing || !hWriteAccessMutex) {
        return 0;
    }
    uint8_t* pControl = viewRing.Bytes();
    TRingState state;
    uint32_t available = 0;
    {
        const DWORD dwWait = ::WaitForSingleObject(hWriteAccessMutex.Get(), kLockWaitMs);
        TMutexOwnership ownership(hWriteAccessMutex.Get(), dwWait);
        if (!Granted(dwWait)) {
            return 0;
        }
        if (!ReadRingState(pControl, viewRing.Size(), state)) {
            AppendMalformed(out, "ring control block: capacity " + std::to_string(state.ui32Capacity) + ", read " +
                                     std::to_string(state.ui32Read) + ", write " + std::to_string(state.ui32Write) +
                                     "; reset to an empty ring");
            StoreU32(pControl + kRingCapacityOffset, kRingCapacity);
            StoreU32(pControl + kRingReadOffset, 0);
            StoreU32(pControl + kRingWriteOffset, 0);
            return 1;
        }
        available = state.ui32Write >= state.ui32Read ? state.ui32Write - state.ui32Read
                                                      : state.ui32Capacity - state.ui32Read + state.ui32Write;
        if (available == 0) {
            return 0;
        }
        if (vecScratch.size() < available) {
            vecScratch.resize(available);
        }
        // Writers add whole records under this mutex, so the bytes up to the write offset are
        // complete records; decoding happens after the mutex is released.
        RingRead(pControl + kRingControlSize, state.ui32Capacity, state.ui32Read, vecScratch.data(), available);
        StoreU32(pControl + kRingReadOffset, state.ui32Write);
    }
    return DecodeSpan(vecScratch.data(), available, state, out);
}
