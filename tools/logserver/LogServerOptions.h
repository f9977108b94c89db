// ZYRLogServer.exe's command line: what it asks for, and the parser that turns argv into it.
#pragma once

#include "log/LogDirectory.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct TLogServerOptions {
    std::wstring wsPrefix;                          // always ends in a backslash
    std::wstring wsLogName = L"zyr";
    uint8_t ui8Level = 2;
    std::vector<zyrlog::TDirectoryModule> modules;
    bool bJson = false;
    std::wstring wsOutPath;                         // empty: standard output
    bool bStopped = false;
    std::wstring wsQuitEvent;
    std::optional<uint32_t> durationMs;
    std::wstring wsReadyEvent;
    std::wstring wsObjectPrefix;                    // put in front of every server object name
};

enum class TParseResult { Run, Help, Bad };

// Parses the arguments after the program name. Bad: *pError says why; options holds what was
// parsed so far.
TParseResult ParseLogServerOptions(const std::vector<std::wstring>& args, TLogServerOptions& options,
                                   std::wstring* pError);

// The text --help prints.
const char* LogServerUsage();
