// The process's client of the product's log server. It opens (or creates) the server's directory,
// finds the destination registered for this module's folder, connects to that destination's ring
// buffer and writes one packed record per log line into it.
//
// Thread safety: every public member may be called from any thread. Formatting, the record buffer
// and submission are serialized by one critical section; connecting has a lock of its own, so two
// threads that both find the client unconnected open the per-log objects once.
//
// Every public call preserves the calling thread's last error.
#pragma once

#include "ipc/THandle.h"
#include "log/LogDirectory.h"
#include "log/LogFormat.h"

#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <string>

// Names of the server's objects. The process-wide client uses the defaults; tests give every name
// a private prefix so that they can run beside a real server.
struct TLogObjectNames {
    std::wstring wsDirectoryMutex = L"ZYR VQLogLib Server Write Access";
    std::wstring wsDirectoryMapping = L"ZYR VQLogLib Server File Mapped";
    std::wstring wsLogReadyPrefix = L"ZYR VQLogLib Log Ready ";
    std::wstring wsWriteAccessPrefix = L"ZYR VQLogLib Write Access ";
    std::wstring wsBufferPrefix = L"ZYR VQLogLib File Mapped Buffer ";

    // The same names with `prefix` put in front of each.
    static TLogObjectNames WithPrefix(const std::wstring& prefix);
};

class TLogClient {
public:
    // Opens or creates the directory and looks up this module's id. modulePath empty: the module
    // that contains this code.
    explicit TLogClient(const TLogObjectNames& names = TLogObjectNames{}, const std::wstring& modulePath = {});
    ~TLogClient();
    TLogClient(const TLogClient&) = delete;
    TLogClient& operator=(const TLogClient&) = delete;

    // Narrow line of the given record type (0, 1 or 2) and level (0, 1 or 2).
    void Write(zyrlog::TRecordType type, uint8_t level, const char* format, va_list args);
    // Wide line (type 3 or 4), level 0.
    void WriteWide(zyrlog::TRecordType type, const wchar_t* format, va_list args);
    // Thread marker (type 6); the text is not a format.
    void WriteThreadStart(const wchar_t* text);

    bool IsEnabled() const { return bEnabled.load(std::memory_order_relaxed); }

    // Observers for tests and diagnostics.
    uint32_t ModuleId() const { return ui32ModuleId; }
    bool IsConnected() const { return bConnected.load(std::memory_order_acquire); }
    std::wstring LogName() const;
    const std::wstring& ModulePath() const { return wsModulePath; }
    size_t FormatBufferCapacity() const { return bufFormat.Capacity(); }
    size_t RecordBufferCapacity() const { return bufRecord.Capacity(); }
    bool HasSeenStop() const { return bStopSeen.load(std::memory_order_relaxed) != 0; }

private:
    void OpenDirectory();
    zyrlog::TDirectoryMatch FindEntry();
    bool Connect();
    void OpenLogObjects(PSECURITY_ATTRIBUTES pAttributes);
    bool Decide(uint8_t level);
    bool LevelAllows(uint8_t level) const;
    void FormatNarrow(zyrlog::TRecordType type, const char* format, va_list args);
    void FormatWide(zyrlog::TRecordType type, const wchar_t* format, va_list args);
    void PackAndSubmit(zyrlog::TRecordType type, const void* text, size_t textBytes, bool bWide);
    void Submit(const uint8_t* record, uint32_t size);

    std::atomic<bool> bEnabled{false};
    const TLogObjectNames names;
    DWORD dwProcessId = 0;
    uint64_t ui64Frequency = 0;
    std::wstring wsModulePath;
    std::wstring wsModuleDirectory;
    uint32_t ui32ModuleId = 0;

    // Server directory.
    TKernelHandle hDirectoryMutex;
    TKernelHandle hDirectoryMapping;
    TMappedView viewDirectory;

    // Connection; written once under csConnect, then only read.
    TCriticalSection csConnect;
    std::atomic<bool> bConnected{false};
    std::wstring wsLogName;
    TKernelHandle hLogReadyEvent;
    TKernelHandle hWriteAccessMutex;
    TKernelHandle hBufferMapping;
    TMappedView viewBuffer;
    std::atomic<uint8_t*> pBuffer{nullptr};  // viewBuffer's bytes, published after connecting
    std::atomic<uint8_t> bStopSeen{0};

    // Formatting and submission.
    TCriticalSection csWrite;
    TVirtualBuffer bufFormat;
    TVirtualBuffer bufRecord;
};

// The process-wide client: constructed before WinMain, destroyed after it returns.
TLogClient& ProcessLogClient();
