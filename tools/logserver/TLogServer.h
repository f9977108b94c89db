// The project's own log server, as a library: what the product's real log server does, for tests
// and for developers who want to watch the capturer's lines live (see ZYRLogServer.exe).
//
// It creates (or opens) the server directory, registers one destination (an entry of type 3 whose
// directory prefix covers a folder) with a log name and module ids, creates (or opens) that log's
// ring buffer, sets the level and writers-stopped bytes, and drains records as a real server would:
// it waits on the log-ready event, copies the records between the read and write offsets under the
// write-access mutex, decodes them and advances the read offset.
//
// Not thread-safe by itself except where noted; TLogServerDrainer runs the draining on a thread of
// its own and hands records to any thread.
#pragma once

#include "ipc/THandle.h"
#include "log/LogDirectory.h"
#include "log/LogFormat.h"
#include "log/TLogClient.h"

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct TLogServerConfig {
    TLogObjectNames names;             // default: the product's own names
    std::wstring wsDirectoryPrefix;    // folder the entry covers, e.g. L"C:\\Apps\\"
    std::wstring wsLogName;            // e.g. L"capturer"
    std::vector<zyrlog::TDirectoryModule> modules;  // module id and full path of each module
    uint8_t ui8Level = 0;              // 0, 1 or 2
};

// One decoded record, or a note that bytes in the ring could not be decoded.
struct TLogRecord {
    zyrlog::TDecodedRecord record;
    bool bMalformed = false;           // the ring held bytes that are not a record
    std::string strProblem;            // why, when bMalformed
};

class TLogServer {
public:
    TLogServer() = default;
    ~TLogServer();  // removes its directory entry; the ring's objects close with it
    TLogServer(const TLogServer&) = delete;
    TLogServer& operator=(const TLogServer&) = delete;

    // Creates or opens the directory, removes any earlier type-3 entry with the same prefix,
    // appends this one, creates or opens the ring (a new ring, or one whose control block does not
    // describe a ring, gets the capacity and zeroed control bytes), skips whatever the ring already
    // held (read offset = write offset), sets the level and clears writers-stopped. The ring is
    // ready before the entry is published, so nothing a client writes after finding the entry is
    // skipped. A second Start first undoes the first. False with a reason in *pError (which may be
    // null) on failure; the server then holds nothing and has no entry.
    bool Start(const TLogServerConfig& config, std::wstring* pError);

    void SetLevel(uint8_t level);
    void SetWritersStopped(bool bStopped);

    // Waits up to timeoutMs for the log-ready event; true when it was signalled.
    bool WaitReady(DWORD timeoutMs);
    // Moves every record between the read and the write offset into `out` (appending) and
    // advances the read offset past them. Returns how many entries were appended. Undecodable
    // bytes produce one bMalformed entry and the read offset jumps to the write offset; a control
    // block that does not describe a ring produces one bMalformed entry and is reset to an empty
    // ring. The write-access mutex is held only while the unread bytes are copied out.
    size_t DrainOnce(std::vector<TLogRecord>& out);

    // Raw access for tests that need to arrange the ring (offsets near the end, a full ring).
    uint8_t* RingControl() const { return viewRing.Bytes(); }
    HANDLE WriteAccessMutex() const { return hWriteAccessMutex.Get(); }

private:
    bool OpenDirectory(PSECURITY_ATTRIBUTES pAttributes, std::wstring* pError);
    bool RegisterEntry(std::wstring* pError);
    void UnregisterEntry();
    bool OpenRing(PSECURITY_ATTRIBUTES pAttributes, std::wstring* pError);
    void PrepareRing(bool bCreated);
    void Close();

    TLogServerConfig config;
    std::vector<uint8_t> vecEntry;    // the entry this server appended (owner mark included)
    std::vector<uint8_t> vecScratch;  // the ring's unread bytes, copied out by DrainOnce
    // Released in reverse declaration order: each view before its mapping.
    TKernelHandle hDirectoryMutex;
    TKernelHandle hDirectoryMapping;
    TMappedView viewDirectory;
    TKernelHandle hLogReadyEvent;
    TKernelHandle hWriteAccessMutex;
    TKernelHandle hRingMapping;
    TMappedView viewRing;
    bool bRegistered = false;
};

// Drains a TLogServer on a thread of its own until destroyed. Thread-safe.
class TLogServerDrainer {
public:
    // The server must outlive the drainer. onRecord, when given, is called for every record, in
    // ring order, on the thread that drained it: the drainer's own, or one calling Flush or the
    // destructor (the command-line tool prints from it). Records reach waiters within about 60 ms
    // of being written, without a Flush.
    explicit TLogServerDrainer(TLogServer& server, std::function<void(const TLogRecord&)> onRecord = {});
    ~TLogServerDrainer();  // drains once more, then stops and joins the thread
    TLogServerDrainer(const TLogServerDrainer&) = delete;
    TLogServerDrainer& operator=(const TLogServerDrainer&) = delete;

    // Every record drained so far, oldest first.
    std::vector<TLogRecord> Records() const;
    // Waits until pred(records so far) holds or timeoutMs passes; returns the last pred result.
    bool WaitFor(const std::function<bool(const std::vector<TLogRecord>&)>& pred, DWORD timeoutMs) const;
    // Waits until a record's text equals `text` exactly; true when seen.
    bool WaitForText(const std::string& text, DWORD timeoutMs) const;
    // Drains whatever is in the ring now (on the calling thread's behalf) and returns when done.
    void Flush();
    void Clear();

private:
    void Loop();

    TLogServer& rServer;
    std::function<void(const TLogRecord&)> onRecord;
    mutable std::mutex mutex;
    mutable std::condition_variable cvChanged;
    std::vector<TLogRecord> vecRecords;
    bool bStop = false;
    std::mutex drainMutex;  // one DrainOnce at a time (the thread's and Flush's)
    std::thread thread;
};

// "<timestamp> <pid> <module> <tid> <type> <text>" and a JSON object per record, as the command-line
// tool prints them.
std::string FormatRecordText(const TLogRecord& record);
std::string FormatRecordJson(const TLogRecord& record);
