#include "LogServerOptions.h"

#include "ToolOptions.h"

#include <cstdint>
#include <functional>
#include <map>

namespace {

const char kUsage[] =
    "ZYRLogServer: the project's log server. It registers a log destination for a folder in the log\n"
    "server directory, creates that log's ring buffer and prints every record the programs in that\n"
    "folder write, one line each, as they arrive.\n"
    "\n"
    "Usage: ZYRLogServer --prefix <folder> [options]\n"
    "\n"
    "  --prefix <folder>       required; programs whose folder starts with <folder> (case of A-Z\n"
    "                          ignored) log here, e.g. Z:\\path\\to\\build\\w64\\src\\ ; a trailing\n"
    "                          backslash is added when missing\n"
    "  --name <logname>        log name: names the ring buffer and its objects (default zyr)\n"
    "  --level 0|1|2           log level: 1 adds detail lines, 2 also verbose lines (default 2)\n"
    "  --module <id>=<path>    module id for the program at the full <path>; repeatable\n"
    "  --json                  JSON lines instead of text lines\n"
    "  --out <file>            write the lines to <file> (flushed per line) instead of stdout\n"
    "  --stopped               set the writers-stopped byte once started: writers drop their\n"
    "                          records and mark later ones stop-seen\n"
    "  --quit-event <name>     create the named event <name> and exit cleanly once it is set\n"
    "  --duration-ms <N>       exit cleanly after N milliseconds\n"
    "  --ready-event <name>    create the named event <name> (manual reset) and set it once the\n"
    "                          directory entry and the ring exist\n"
    "  --object-prefix <text>  put <text> in front of every log server object name (tests)\n"
    "  --help                  print this text\n"
    "\n"
    "Text lines: <ms time stamp> <pid> <module id> <thread id> <type> <text>, the text in UTF-8,\n"
    "line breaks in it shown as \\r and \\n. Types: 0 info, 1 warning, 2 error, 3/4 wide info and\n"
    "warning, 6 thread start. Bytes in the ring that are not a record print as \"malformed: <why>\".\n"
    "JSON lines: {\"ts\":N,\"pid\":N,\"module\":N,\"tid\":N,\"type\":N,\"stop\":N,\"size\":N,\"text\":\"...\"}\n"
    "with \"malformed\":true added for bytes that are not a record.\n"
    "\n"
    "Ctrl-C, closing the console, the quit event or the duration ends it: the ring is drained a\n"
    "last time and the directory entry removed.\n"
    "Exit codes: 0 clean stop, 1 the server could not start (reason on stderr), 2 bad arguments.\n";

// Whole decimal number from 0 to `max`.
bool ParseUnsigned(const std::wstring& text, uint64_t max, uint64_t& value)
{
    int64_t parsed = 0;
    if (!toolargs::ParseInRange(text, 0, static_cast<int64_t>(max), &parsed)) {
        return false;
    }
    value = static_cast<uint64_t>(parsed);
    return true;
}

bool ParseModule(const std::wstring& text, zyrlog::TDirectoryModule& module)
{
    const size_t equals = text.find(L'=');
    uint64_t id = 0;
    if (equals == std::wstring::npos || !ParseUnsigned(text.substr(0, equals), UINT32_MAX, id) ||
        equals + 1 == text.size()) {
        return false;
    }
    const std::wstring path = text.substr(equals + 1);
    module.ui32ModuleId = static_cast<uint32_t>(id);
    module.wsPath.assign(path.begin(), path.end());
    return true;
}

using TValueSetter = std::function<bool(TLogServerOptions&, const std::wstring&)>;

const std::map<std::wstring, TValueSetter>& ValueOptions()
{
    static const std::map<std::wstring, TValueSetter> options = {
        {L"--prefix", [](TLogServerOptions& o, const std::wstring& v) { o.wsPrefix = v; return !v.empty(); }},
        {L"--name", [](TLogServerOptions& o, const std::wstring& v) { o.wsLogName = v; return !v.empty(); }},
        {L"--level",
         [](TLogServerOptions& o, const std::wstring& v) {
             uint64_t level = 0;
             if (!ParseUnsigned(v, 2, level)) {
                 return false;
             }
             o.ui8Level = static_cast<uint8_t>(level);
             return true;
         }},
        {L"--module",
         [](TLogServerOptions& o, const std::wstring& v) {
             zyrlog::TDirectoryModule module{};
             if (!ParseModule(v, module)) {
                 return false;
             }
             o.modules.push_back(module);
             return true;
         }},
        {L"--out", [](TLogServerOptions& o, const std::wstring& v) { o.wsOutPath = v; return !v.empty(); }},
        {L"--quit-event", [](TLogServerOptions& o, const std::wstring& v) { o.wsQuitEvent = v; return !v.empty(); }},
        {L"--ready-event", [](TLogServerOptions& o, const std::wstring& v) { o.wsReadyEvent = v; return !v.empty(); }},
        {L"--object-prefix", [](TLogServerOptions& o, const std::wstring& v) { o.wsObjectPrefix = v; return true; }},
        {L"--duration-ms",
         [](TLogServerOptions& o, const std::wstring& v) {
             uint64_t ms = 0;
             if (!ParseUnsigned(v, UINT32_MAX - 1, ms)) {  // UINT32_MAX would mean INFINITE
                 return false;
             }
             o.durationMs = static_cast<uint32_t>(ms);
             return true;
         }},
    };
    return options;
}

TParseResult Fail(std::wstring* pError, const std::wstring& message)
{
    if (pError != nullptr) {
        *pError = message;
    }
    return TParseResult::Bad;
}

}  // namespace

TParseResult ParseLogServerOptions(const std::vector<std::wstring>& args, TLogServerOptions& options,
                                   std::wstring* pError)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        if (arg == L"--help" || arg == L"-h" || arg == L"/?") {
            return TParseResult::Help;
        }
        if (arg == L"--json") {
            options.bJson = true;
            continue;
        }
        if (arg == L"--stopped") {
            options.bStopped = true;
            continue;
        }
        const auto setter = ValueOptions().find(arg);
        if (setter == ValueOptions().end()) {
            return Fail(pError, L"unknown argument " + arg);
        }
        if (i + 1 == args.size()) {
            return Fail(pError, arg + L" needs a value");
        }
        if (!setter->second(options, args[++i])) {
            return Fail(pError, L"bad value for " + arg + L": " + args[i]);
        }
    }
    if (options.wsPrefix.empty()) {
        return Fail(pError, L"--prefix is required");
    }
    if (options.wsPrefix.back() != L'\\') {
        options.wsPrefix.push_back(L'\\');
    }
    return TParseResult::Run;
}

const char* LogServerUsage()
{
    return kUsage;
}
