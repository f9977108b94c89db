// ZYRLogServer.exe: a log server on the command line (LogServerUsage() has the details).
#include "CommandLineArguments.h"
#include "LogServerOptions.h"
#include "TLogServer.h"
#include "ipc/PermissiveSecurity.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// How often the wait loop wakes to drop the lines it already printed from the drainer's memory.
constexpr DWORD kHousekeepingMs = 1000;
// How long a console close waits for the last drain and the entry's removal.
constexpr DWORD kCloseGraceMs = 5000;

// The console control handler runs on a thread the system starts and takes no context, so these
// two events are the only process-wide state: set by the handler, waited on by Run, and the
// second set by main once everything is cleaned up.
HANDLE g_hConsoleStop = nullptr;
HANDLE g_hFinished = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD dwType)
{
    if (g_hConsoleStop == nullptr) {
        return FALSE;
    }
    ::SetEvent(g_hConsoleStop);
    // After these the process ends as soon as the handler returns.
    if (dwType == CTRL_CLOSE_EVENT || dwType == CTRL_LOGOFF_EVENT || dwType == CTRL_SHUTDOWN_EVENT) {
        ::WaitForSingleObject(g_hFinished, kCloseGraceMs);
    }
    return TRUE;
}

std::string Utf8(const std::wstring& text)
{
    return zyrlog::Utf16ToUtf8(std::u16string(text.begin(), text.end()));
}

void PrintError(const std::string& message)
{
    std::fprintf(stderr, "ZYRLogServer: %s\n", message.c_str());
    std::fflush(stderr);
}

// Where the lines go; written from the drainer's thread only.
class TLineWriter {
public:
    TLineWriter() = default;
    ~TLineWriter()
    {
        if (pFile != nullptr && pFile != stdout) {
            std::fclose(pFile);
        }
    }
    TLineWriter(const TLineWriter&) = delete;
    TLineWriter& operator=(const TLineWriter&) = delete;

    // Binary mode: lines end in "\n" alone, on the console and in files alike.
    bool Open(const std::wstring& path)
    {
        pFile = path.empty() ? stdout : ::_wfopen(path.c_str(), L"wb");
        if (pFile == stdout) {
            ::_setmode(::_fileno(stdout), _O_BINARY);
        }
        return pFile != nullptr;
    }
    void Write(const std::string& line)
    {
        std::fwrite(line.data(), 1, line.size(), pFile);
        std::fputc('\n', pFile);
        std::fflush(pFile);
    }

private:
    FILE* pFile = nullptr;
};

// A manual-reset event for scripts and tests, not set.
TKernelHandle CreateSignal(const std::wstring& name, PSECURITY_ATTRIBUTES pAttributes)
{
    TKernelHandle hEvent(::CreateEventW(pAttributes, TRUE, FALSE, name.c_str()));
    if (hEvent) {
        ::ResetEvent(hEvent.Get());  // it may exist already, left set by an earlier run
    }
    return hEvent;
}

TLogServerConfig ConfigFrom(const TLogServerOptions& options)
{
    TLogServerConfig config;
    config.names = TLogObjectNames::WithPrefix(options.wsObjectPrefix);
    config.wsDirectoryPrefix = options.wsPrefix;
    config.wsLogName = options.wsLogName;
    config.modules = options.modules;
    config.ui8Level = options.ui8Level;
    return config;
}

// Waits for Ctrl-C, the quit event or the end of the duration; drops printed records meanwhile.
void WaitForTheEnd(HANDLE hQuit, const TLogServerOptions& options, TLogServerDrainer& drainer)
{
    std::vector<HANDLE> handles{g_hConsoleStop};
    if (hQuit != nullptr) {
        handles.push_back(hQuit);
    }
    const ULONGLONG start = ::GetTickCount64();
    for (;;) {
        DWORD dwWaitMs = kHousekeepingMs;
        if (options.durationMs) {
            const ULONGLONG elapsed = ::GetTickCount64() - start;
            if (elapsed >= *options.durationMs) {
                return;
            }
            dwWaitMs = static_cast<DWORD>(std::min<ULONGLONG>(dwWaitMs, *options.durationMs - elapsed));
        }
        const DWORD dwWait = ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, dwWaitMs);
        if (dwWait != WAIT_TIMEOUT) {
            return;  // a stop event, or a failed wait that would fail again
        }
        drainer.Clear();
    }
}

int Run(const TLogServerOptions& options)
{
    TLineWriter out;
    if (!out.Open(options.wsOutPath)) {
        PrintError("cannot open " + Utf8(options.wsOutPath) + " for writing");
        return 1;
    }
    TLocalMemory<PSECURITY_DESCRIPTOR> descriptor = BuildPermissiveSecurityDescriptor();
    SECURITY_ATTRIBUTES attributes = MakeSecurityAttributes(descriptor.Get());
    TKernelHandle hQuit;
    TKernelHandle hReady;
    if ((!options.wsQuitEvent.empty() && !(hQuit = CreateSignal(options.wsQuitEvent, &attributes))) ||
        (!options.wsReadyEvent.empty() && !(hReady = CreateSignal(options.wsReadyEvent, &attributes)))) {
        PrintError("cannot create the quit or ready event, error " + std::to_string(::GetLastError()));
        return 1;
    }
    TLogServer server;
    std::wstring error;
    if (!server.Start(ConfigFrom(options), &error)) {
        PrintError(Utf8(error));
        return 1;
    }
    if (options.bStopped) {
        server.SetWritersStopped(true);
    }
    // Declared after the server and the writer: it stops (with a last drain) before either goes.
    TLogServerDrainer drainer(server, [&out, &options](const TLogRecord& record) {
        out.Write(options.bJson ? FormatRecordJson(record) : FormatRecordText(record));
    });
    PrintError("log \"" + Utf8(options.wsLogName) + "\" for " + Utf8(options.wsPrefix) + ", level " +
               std::to_string(options.ui8Level) + (options.bStopped ? ", writers stopped" : ""));
    if (hReady) {
        ::SetEvent(hReady.Get());
    }
    WaitForTheEnd(hQuit.Get(), options, drainer);
    return 0;
}

}  // namespace

int main()
{
    TLogServerOptions options;
    std::wstring error;
    switch (ParseLogServerOptions(toolargs::CommandLineArguments(), options, &error)) {
    case TParseResult::Help:
        std::fputs(LogServerUsage(), stdout);
        return 0;
    case TParseResult::Bad:
        PrintError(Utf8(error) + " (--help lists the options)");
        return 2;
    case TParseResult::Run:
        break;
    }
    TKernelHandle hConsoleStop(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    TKernelHandle hFinished(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!hConsoleStop || !hFinished) {
        PrintError("cannot create an event, error " + std::to_string(::GetLastError()));
        return 1;
    }
    g_hConsoleStop = hConsoleStop.Get();
    g_hFinished = hFinished.Get();
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    const int result = Run(options);
    ::SetEvent(hFinished.Get());
    ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    g_hConsoleStop = nullptr;
    return result;
}
