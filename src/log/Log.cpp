#include "log/Log.h"

#include "log/TLogClient.h"

using zyrlog::TRecordType;

namespace {
// Constructed before any other static object of the program and destroyed after all of them, so
// the log calls work from WinMain's first line to its last.
TLogClient g_logClient __attribute__((init_priority(101)));
}  // namespace

TLogClient& ProcessLogClient()
{
    return g_logClient;
}

#define ZYR_FORWARD_NARROW(type, level)               \
    va_list args;                                     \
    va_start(args, format);                           \
    g_logClient.Write((type), (level), format, args); \
    va_end(args)

void LogInfo(const char* format, ...) { ZYR_FORWARD_NARROW(TRecordType::Info, 0); }
void LogDetail(const char* format, ...) { ZYR_FORWARD_NARROW(TRecordType::Info, 1); }
void LogVerbose(const char* format, ...) { ZYR_FORWARD_NARROW(TRecordType::Info, 2); }
void LogWarning(const char* format, ...) { ZYR_FORWARD_NARROW(TRecordType::Warning, 0); }
void LogError(const char* format, ...) { ZYR_FORWARD_NARROW(TRecordType::Error, 0); }

#undef ZYR_FORWARD_NARROW

void LogInfoW(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    g_logClient.WriteWide(TRecordType::InfoWide, format, args);
    va_end(args);
}

void LogWarningW(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    g_logClient.WriteWide(TRecordType::WarningWide, format, args);
    va_end(args);
}

void LogThreadStart(const wchar_t* threadName)
{
    g_logClient.WriteThreadStart(threadName);
}
