#include "log/TLogClient.h"
#include "ipc/WideText.h"

#include "ipc/PermissiveSecurity.h"
#include "log/LogDirectory.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

using namespace zyrlog;

namespace {

// Other processes write these bytes while we read them.
uint8_t ReadSharedByte(const uint8_t* p)
{
    return *static_cast<const volatile uint8_t*>(p);
}

std::wstring ThisModulePath()
{
    HMODULE hModule = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              reinterpret_cast<LPCWSTR>(&ThisModulePath), &hModule)) {
        return {};
    }
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(hModule, path, MAX_PATH);
    return std::wstring(path, length < MAX_PATH ? length : MAX_PATH);
}

// Restores the thread's last error when a log call returns.
class TLastErrorKeeper {
public:
    TLastErrorKeeper() : dwError(::GetLastError()) {}
    ~TLastErrorKeeper() { ::SetLastError(dwError); }
    TLastErrorKeeper(const TLastErrorKeeper&) = delete;
    TLastErrorKeeper& operator=(const TLastErrorKeeper&) = delete;

private:
    DWORD dwError;
};

TKernelHandle OpenOrCreateMutex(const std::wstring& name, PSECURITY_ATTRIBUTES pAttributes)
{
    TKernelHandle hMutex(::OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()));
    if (!hMutex) {
        hMutex.Reset(::CreateMutexW(pAttributes, FALSE, name.c_str()));
    }
    return hMutex;
}

// Grows `buffer` for a need of `need` bytes: the capacity becomes (need / 102,400 + 1) x 102,400
// whenever it is below that, so it always exceeds the need (a 102,400-byte need takes 204,800).
// False, with the buffer empty, when the pages cannot be committed.
bool Reserve(TVirtualBuffer& buffer, size_t need)
{
    const size_t capacity = GrownCapacity(need);
    if (buffer.Capacity() >= capacity) {
        return true;
    }
    return buffer.Allocate(capacity);
}

}  // namespace

TLogObjectNames TLogObjectNames::WithPrefix(const std::wstring& prefix)
{
    TLogObjectNames result;
    result.wsDirectoryMutex = prefix + result.wsDirectoryMutex;
    result.wsDirectoryMapping = prefix + result.wsDirectoryMapping;
    result.wsLogReadyPrefix = prefix + result.wsLogReadyPrefix;
    result.wsWriteAccessPrefix = prefix + result.wsWriteAccessPrefix;
    result.wsBufferPrefix = prefix + result.wsBufferPrefix;
    return result;
}

TLogClient::TLogClient(const TLogObjectNames& objectNames, const std::wstring& modulePath)
    : names(objectNames)
{
    TLastErrorKeeper keeper;
    LARGE_INTEGER frequency{};
    ::QueryPerformanceFrequency(&frequency);
    ui64Frequency = static_cast<uint64_t>(frequency.QuadPart);
    OpenDirectory();
    dwProcessId = ::GetCurrentProcessId();
    wsModulePath = modulePath.empty() ? ThisModulePath() : modulePath;
    wsModuleDirectory = ToWide(ModuleDirectoryOf(ToU16(wsModulePath)));
    ui32ModuleId = FindEntry().ui32ModuleId;
    bEnabled.store(true);
}

TLogClient::~TLogClient()
{
    bEnabled.store(false);
    // A call that passed the enabled test before we cleared it finishes first.
    TCriticalSectionLock lock(csWrite);
    pBuffer.store(nullptr);
    viewBuffer.Reset();
    hBufferMapping.Reset();
    hWriteAccessMutex.Reset();
    hLogReadyEvent.Reset();
    bufRecord.Reset();
    bufFormat.Reset();
    viewDirectory.Reset();
    hDirectoryMapping.Reset();
    hDirectoryMutex.Reset();
}

void TLogClient::OpenDirectory()
{
    TLocalMemory<PSECURITY_DESCRIPTOR> descriptor = BuildPermissiveSecurityDescriptor();
    SECURITY_ATTRIBUTES attributes = MakeSecurityAttributes(descriptor.Get());
    hDirectoryMutex = OpenOrCreateMutex(names.wsDirectoryMutex, &attributes);
    if (!hDirectoryMutex) {
        return;
    }
    TMutexOwnership ownership(hDirectoryMutex.Get(), ::WaitForSingleObject(hDirectoryMutex.Get(), INFINITE));
    bool bCreated = false;
    hDirectoryMapping.Reset(::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, names.wsDirectoryMapping.c_str()));
    if (!hDirectoryMapping) {
        hDirectoryMapping.Reset(::CreateFileMappingW(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE | SEC_COMMIT, 0,
                                                     static_cast<DWORD>(kDirectoryViewSize),
                                                     names.wsDirectoryMapping.c_str()));
        bCreated = hDirectoryMapping && ::GetLastError() != ERROR_ALREADY_EXISTS;
    }
    if (hDirectoryMapping) {
        viewDirectory = TMappedView(
            ::MapViewOfFile(hDirectoryMapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, kDirectoryViewSize),
            kDirectoryViewSize);
    }
    if (bCreated && viewDirectory) {
        StoreU32(viewDirectory.Bytes(), 0);
    }
}

TDirectoryMatch TLogClient::FindEntry()
{
    if (!viewDirectory || !hDirectoryMutex) {
        return {};
    }
    const DWORD dwWait = ::WaitForSingleObject(hDirectoryMutex.Get(), INFINITE);
    TMutexOwnership ownership(hDirectoryMutex.Get(), dwWait);
    // An abandoned mutex is ours now, but the directory may be half written: read nothing.
    if (dwWait != WAIT_OBJECT_0) {
        return {};
    }
    return FindDirectoryEntry(viewDirectory.Bytes(), viewDirectory.Size(), ToU16(wsModuleDirectory),
                              ToU16(wsModulePath));
}

std::wstring TLogClient::LogName() const
{
    if (!IsConnected()) {
        return {};
    }
    return wsLogName;
}

bool TLogClient::Connect()
{
    if (bConnected.load(std::memory_order_acquire)) {
        return true;
    }
    TCriticalSectionLock lock(csConnect);
    if (bConnected.load(std::memory_order_relaxed)) {
        return true;
    }
    if (wsLogName.empty()) {
        wsLogName = ToWide(FindEntry().wsLogName);
    }
    if (wsLogName.empty()) {
        return false;
    }
    TLocalMemory<PSECURITY_DESCRIPTOR> descriptor = BuildPermissiveSecurityDescriptor();
    SECURITY_ATTRIBUTES attributes = MakeSecurityAttributes(descriptor.Get());
    OpenLogObjects(&attributes);
    bConnected.store(true, std::memory_order_release);
    return true;
}

void TLogClient::OpenLogObjects(PSECURITY_ATTRIBUTES pAttributes)
{
    const std::wstring readyName = names.wsLogReadyPrefix + wsLogName;
    hLogReadyEvent.Reset(::OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, readyName.c_str()));
    if (!hLogReadyEvent) {
        hLogReadyEvent.Reset(::CreateEventW(pAttributes, FALSE, FALSE, readyName.c_str()));
    }
    hWriteAccessMutex = OpenOrCreateMutex(names.wsWriteAccessPrefix + wsLogName, pAttributes);
    if (!hWriteAccessMutex) {
        return;  // connected without a ring: every record is dropped
    }
    TMutexOwnership ownership(hWriteAccessMutex.Get(), ::WaitForSingleObject(hWriteAccessMutex.Get(), INFINITE));
    const std::wstring bufferName = names.wsBufferPrefix + wsLogName;
    bool bCreated = false;
    hBufferMapping.Reset(::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, bufferName.c_str()));
    if (!hBufferMapping) {
        hBufferMapping.Reset(::CreateFileMappingW(INVALID_HANDLE_VALUE, pAttributes, PAGE_READWRITE | SEC_COMMIT, 0,
                                                  static_cast<DWORD>(kRingMappingSize), bufferName.c_str()));
        bCreated = hBufferMapping && ::GetLastError() != ERROR_ALREADY_EXISTS;
    }
    if (!hBufferMapping) {
        return;
    }
    viewBuffer = TMappedView(::MapViewOfFile(hBufferMapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, kRingMappingSize),
                             kRingMappingSize);
    if (!viewBuffer) {
        return;
    }
    uint8_t* pControl = viewBuffer.Bytes();
    if (bCreated) {
        std::memset(pControl, 0, kRingControlSize);
        StoreU32(pControl + kRingCapacityOffset, kRingCapacity);
        StoreU32(pControl + kRingUnusedOffset, 0);
    }
    pControl[kRingWritersStoppedOffset] = 0;
    pBuffer.store(pControl, std::memory_order_release);
}

bool TLogClient::LevelAllows(uint8_t level) const
{
    const uint8_t* pControl = pBuffer.load(std::memory_order_acquire);
    return pControl != nullptr && ReadSharedByte(pControl + kRingLevelOffset) >= level;
}

bool TLogClient::Decide(uint8_t level)
{
    if (!IsEnabled()) {
        return false;
    }
    // Detail and verbose lines cost one byte compare when the server does not want them.
    if (level > 0 && !LevelAllows(level)) {
        return false;
    }
    const uint8_t* pControl = pBuffer.load(std::memory_order_acquire);
    if (pControl != nullptr && ReadSharedByte(pControl + kRingWritersStoppedOffset) != 0) {
        bStopSeen.store(1, std::memory_order_relaxed);
    }
    if (!Connect()) {
        return false;
    }
    return LevelAllows(level);
}

void TLogClient::Write(TRecordType type, uint8_t level, const char* format, va_list args)
{
    TLastErrorKeeper keeper;
    if (!Decide(level)) {
        return;
    }
    TCriticalSectionLock lock(csWrite);
    FormatNarrow(type, format, args);
}

void TLogClient::WriteWide(TRecordType type, const wchar_t* format, va_list args)
{
    TLastErrorKeeper keeper;
    if (!Decide(0)) {
        return;
    }
    TCriticalSectionLock lock(csWrite);
    FormatWide(type, format, args);
}

void TLogClient::WriteThreadStart(const wchar_t* text)
{
    TLastErrorKeeper keeper;
    if (text == nullptr || !Decide(0)) {
        return;
    }
    TCriticalSectionLock lock(csWrite);
    if (IsEnabled()) {
        PackAndSubmit(TRecordType::ThreadStart, text, (std::wcslen(text) + 1) * sizeof(wchar_t), true);
    }
}

// The Windows C runtime's formatting, so %S means a wide string in narrow formats (and a narrow
// one in wide formats), as every caller of the log calls expects.
void TLogClient::FormatNarrow(TRecordType type, const char* format, va_list args)
{
    if (!IsEnabled() || format == nullptr) {
        return;
    }
    va_list measure;
    va_copy(measure, args);
    const int length = ::_vscprintf(format, measure);
    va_end(measure);
    if (length < 0) {
        return;
    }
    const size_t textBytes = static_cast<size_t>(length) + 1;
    if (!Reserve(bufFormat, textBytes)) {
        return;
    }
    char* text = reinterpret_cast<char*>(bufFormat.Get());
    ::_vsnprintf(text, textBytes, format, args);
    text[length] = '\0';
    PackAndSubmit(type, text, textBytes, false);
}

void TLogClient::FormatWide(TRecordType type, const wchar_t* format, va_list args)
{
    if (!IsEnabled() || format == nullptr) {
        return;
    }
    va_list measure;
    va_copy(measure, args);
    const int length = ::_vscwprintf(format, measure);
    va_end(measure);
    if (length < 0) {
        return;
    }
    const size_t units = static_cast<size_t>(length) + 1;
    if (!Reserve(bufFormat, units * sizeof(wchar_t))) {
        return;
    }
    wchar_t* text = reinterpret_cast<wchar_t*>(bufFormat.Get());
    ::_vsnwprintf(text, units, format, args);
    text[length] = L'\0';
    PackAndSubmit(type, text, units * sizeof(wchar_t), true);
}

void TLogClient::PackAndSubmit(TRecordType type, const void* text, size_t textBytes, bool bWide)
{
    const size_t size = RecordSize(textBytes, bWide);
    if (size > kRingCapacity || !Reserve(bufRecord, size)) {
        return;  // could never fit the ring, or no memory: the line disappears
    }
    LARGE_INTEGER counter{};
    ::QueryPerformanceCounter(&counter);
    TRecordFields fields;
    fields.ui32Type = static_cast<uint32_t>(type);
    fields.ui32ProcessId = dwProcessId;
    fields.ui32ModuleId = ui32ModuleId;
    fields.ui32ThreadId = ::GetCurrentThreadId();
    fields.ui64Timestamp = CounterToMilliseconds(static_cast<uint64_t>(counter.QuadPart), ui64Frequency);
    fields.bStopSeen = bStopSeen.load(std::memory_order_relaxed);
    PackRecord(bufRecord.Get(), fields, text, textBytes, bWide);
    Submit(bufRecord.Get(), static_cast<uint32_t>(size));
}

void TLogClient::Submit(const uint8_t* record, uint32_t size)
{
    uint8_t* pControl = pBuffer.load(std::memory_order_acquire);
    if (pControl == nullptr) {
        return;
    }
    bool bWritten = false;
    {
        const DWORD dwWait = ::WaitForSingleObject(hWriteAccessMutex.Get(), INFINITE);
        TMutexOwnership ownership(hWriteAccessMutex.Get(), dwWait);
        // An abandoned mutex is released again untouched: the ring may hold a half-written record.
        if (dwWait != WAIT_OBJECT_0) {
            return;
        }
        TRingState state;
        if (ReadSharedByte(pControl + kRingWritersStoppedOffset) == 0 &&
            ReadRingState(pControl, kRingMappingSize, state)) {
            uint32_t newWrite = 0;
            if (RingWrite(pControl + kRingControlSize, state, record, size, newWrite) == TRingWriteResult::Written) {
                StoreU32(pControl + kRingWriteOffset, newWrite);
                bWritten = true;
            }
        }
    }
    if (bWritten && hLogReadyEvent) {
        ::SetEvent(hLogReadyEvent.Get());
    }
}
