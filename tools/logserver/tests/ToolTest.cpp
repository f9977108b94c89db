// ZYRLogServer.exe as scripts use it: exit codes, the ready and quit events, lines in a file from a
// real client, the stopped and level bytes, the duration, and the entry gone after exit.
#include "ServerTestSupport.h"

#include <cstdio>
#include <memory>

using namespace lstest;
using zyrlog::TRecordType;

namespace {

constexpr DWORD kGenerousMs = 20000;

std::wstring ToolPath()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring self(path, length);
    return self.substr(0, self.find_last_of(L'\\') + 1) + L"ZYRLogServer.exe";
}

// Quotes an argument for CommandLineToArgvW when it needs it.
std::wstring Quote(const std::wstring& arg)
{
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) {
        return arg;
    }
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(2 * backslashes, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

TKernelHandle Launch(const std::vector<std::wstring>& args)
{
    std::wstring commandLine = Quote(ToolPath());
    for (const std::wstring& arg : args) {
        commandLine += L" " + Quote(arg);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        ADD_FAILURE() << "CreateProcessW failed, error " << ::GetLastError();
        return {};
    }
    ::CloseHandle(info.hThread);
    return TKernelHandle(info.hProcess);
}

// The exit code, or STILL_ACTIVE after killing a process that did not end in time.
DWORD ExitCodeOf(HANDLE hProcess)
{
    if (::WaitForSingleObject(hProcess, kGenerousMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(hProcess, 99);
        ::WaitForSingleObject(hProcess, kGenerousMs);
        return STILL_ACTIVE;
    }
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeProcess(hProcess, &code);
    return code;
}

DWORD RunToEnd(const std::vector<std::wstring>& args)
{
    TKernelHandle hProcess = Launch(args);
    return hProcess ? ExitCodeOf(hProcess.Get()) : STILL_ACTIVE;
}

std::wstring TempFile(const wchar_t* tag)
{
    wchar_t directory[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, directory);
    return std::wstring(directory) + L"zyr-logserver-" + tag + L"-" + std::to_wstring(::GetCurrentProcessId()) + L".txt";
}

std::vector<std::string> ReadLines(const std::wstring& path)
{
    std::vector<std::string> lines;
    FILE* file = ::_wfopen(path.c_str(), L"rb");
    if (file == nullptr) {
        ADD_FAILURE() << "cannot open " << Narrow(path);
        return lines;
    }
    std::string line;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line.push_back(static_cast<char>(c));
        }
    }
    std::fclose(file);
    EXPECT_TRUE(line.empty()) << "the last line ends in a line feed";
    return lines;
}

// Waits until the tool sets its ready event; false when it ended first or took too long.
bool WaitReady(HANDLE hReady, HANDLE hProcess)
{
    const HANDLE handles[2] = {hReady, hProcess};
    return ::WaitForMultipleObjects(2, handles, FALSE, kGenerousMs) == WAIT_OBJECT_0;
}

std::wstring EventName(const wchar_t* what)
{
    static int counter = 0;
    return std::wstring(L"test-logserver-") + what + L"-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
           std::to_wstring(counter++);
}

TEST(LogServerTool, ExitCodes)
{
    const std::wstring objects = UniquePrefix(L"exit");
    const struct Case {
        const char* name;
        std::vector<std::wstring> args;
        DWORD expected;
    } cases[] = {
        {"help", {L"--help"}, 0},
        {"no prefix", {L"--json"}, 2},
        {"bad level", {L"--prefix", L"C:\\Apps", L"--level", L"7"}, 2},
        {"output that cannot be opened",
         {L"--prefix", L"C:\\Apps", L"--object-prefix", objects, L"--out", L"C:\\no such folder\\x\\out.txt"}, 1},
        {"duration 0 ends at once", {L"--prefix", L"C:\\Apps", L"--object-prefix", objects, L"--duration-ms", L"0"}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RunToEnd(c.args), c.expected);
    }
}

TEST(LogServerTool, PrintsAClientsRecordsUntilTheQuitEvent)
{
    for (const bool bJson : {true, false}) {
        SCOPED_TRACE(bJson ? "json" : "text");
        const std::wstring objects = UniquePrefix(L"tool");
        const TLogObjectNames names = TLogObjectNames::WithPrefix(objects);
        const std::wstring readyName = EventName(L"ready");
        const std::wstring quitName = EventName(L"quit");
        const std::wstring out = TempFile(bJson ? L"json" : L"text");
        TKernelHandle hReady(::CreateEventW(nullptr, TRUE, FALSE, readyName.c_str()));
        ASSERT_TRUE(hReady);
        std::vector<std::wstring> args = {L"--prefix", L"c:\\apps", L"--name", L"toolrun", L"--level", L"1",
                                          L"--module", L"4=C:\\APPS\\tool\\cap.exe", L"--out", out,
                                          L"--ready-event", readyName, L"--quit-event", quitName,
                                          L"--object-prefix", objects};
        if (bJson) {
            args.push_back(L"--json");
        }
        TKernelHandle hProcess = Launch(args);
        ASSERT_TRUE(hProcess);
        ASSERT_TRUE(WaitReady(hReady.Get(), hProcess.Get())) << "exit code " << ExitCodeOf(hProcess.Get());

        TLogClient client(names, kModulePath);
        EXPECT_EQ(client.ModuleId(), kModuleId);
        LogNarrow(client, TRecordType::Info, 0, "%s", "hello \"tool\"");
        LogNarrow(client, TRecordType::Info, 1, "%s", "detail");
        LogNarrow(client, TRecordType::Info, 2, "%s", "verbose: above level 1");
        LogWide(client, TRecordType::WarningWide, L"%s", L"wide \u00e9");
        TKernelHandle hQuit(::OpenEventW(EVENT_MODIFY_STATE, FALSE, quitName.c_str()));
        ASSERT_TRUE(hQuit) << "the tool created the quit event";
        ::SetEvent(hQuit.Get());
        EXPECT_EQ(ExitCodeOf(hProcess.Get()), 0u);

        const std::string pid = std::to_string(::GetCurrentProcessId());
        const std::string tid = std::to_string(::GetCurrentThreadId());
        const std::vector<std::string> lines = ReadLines(out);
        ::DeleteFileW(out.c_str());
        ASSERT_EQ(lines.size(), 3u);
        const std::string expected[] = {
            bJson ? ",\"pid\":" + pid + ",\"module\":4,\"tid\":" + tid +
                        ",\"type\":0,\"stop\":0,\"size\":47,\"text\":\"hello \\\"tool\\\"\"}"
                  : " " + pid + " 4 " + tid + " 0 hello \"tool\"",
            bJson ? ",\"pid\":" + pid + ",\"module\":4,\"tid\":" + tid + ",\"type\":0,\"stop\":0,\"size\":41,\"text\":\"detail\"}"
                  : " " + pid + " 4 " + tid + " 0 detail",
            bJson ? ",\"pid\":" + pid + ",\"module\":4,\"tid\":" + tid +
                        ",\"type\":4,\"stop\":0,\"size\":49,\"text\":\"wide \xc3\xa9\"}"
                  : " " + pid + " 4 " + tid + " 4 wide \xc3\xa9",
        };
        for (size_t i = 0; i < 3; ++i) {
            SCOPED_TRACE(lines[i]);
            EXPECT_EQ(lines[i].rfind(bJson ? "{\"ts\":" : "", 0), 0u);
            ASSERT_GE(lines[i].size(), expected[i].size());
            EXPECT_EQ(lines[i].substr(lines[i].size() - expected[i].size()), expected[i]);
        }
        TLogClient late(names, kModulePath);
        EXPECT_EQ(late.ModuleId(), 0u) << "the entry left with the tool";
    }
}

TEST(LogServerTool, StoppedLevelAndDuration)
{
    const std::wstring objects = UniquePrefix(L"stopped");
    const TLogObjectNames names = TLogObjectNames::WithPrefix(objects);
    const std::wstring readyName = EventName(L"ready");
    TKernelHandle hReady(::CreateEventW(nullptr, TRUE, FALSE, readyName.c_str()));
    ASSERT_TRUE(hReady);
    const uint64_t start = NowMs();
    TKernelHandle hProcess = Launch({L"--prefix", L"C:\\Apps\\", L"--name", L"stoppedrun", L"--level", L"0",
                                     L"--stopped", L"--duration-ms", L"1500", L"--ready-event", readyName,
                                     L"--object-prefix", objects});
    ASSERT_TRUE(hProcess);
    ASSERT_TRUE(WaitReady(hReady.Get(), hProcess.Get()));
    {
        TKernelHandle hRing(::OpenFileMappingW(FILE_MAP_READ, FALSE, (names.wsBufferPrefix + L"stoppedrun").c_str()));
        ASSERT_TRUE(hRing) << "the ring exists once the tool is ready";
        TMappedView ring(::MapViewOfFile(hRing.Get(), FILE_MAP_READ, 0, 0, zyrlog::kRingControlSize),
                         zyrlog::kRingControlSize);
        ASSERT_TRUE(ring);
        EXPECT_EQ(ring.Bytes()[zyrlog::kRingWritersStoppedOffset], 1);
        EXPECT_EQ(ring.Bytes()[zyrlog::kRingLevelOffset], 0);
        EXPECT_EQ(zyrlog::LoadU32(ring.Bytes() + zyrlog::kRingCapacityOffset), zyrlog::kRingCapacity);
    }
    EXPECT_EQ(ExitCodeOf(hProcess.Get()), 0u);
    EXPECT_GE(NowMs() - start, 1500u) << "ran for its duration";
}

}  // namespace
