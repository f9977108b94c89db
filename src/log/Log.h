// The log calls used everywhere in the capturer. Each call formats one line (printf-style) and
// hands it to the process-wide log client, which sends it to the product's log server. No call
// reports anything to its caller; a line that cannot be written disappears.
//
// Every log call preserves the calling thread's last error code, so a caller may log a failure
// and still read the code afterwards.
//
// Narrow formats follow the Windows C runtime: %S takes a wide string. Wide formats likewise:
// %s takes a wide string and %S a narrow one.
#pragma once

#include <string>

#if defined(_WIN32)
#define ZYR_LOG_FORMAT(fmt, args) __attribute__((format(ms_printf, fmt, args)))
#else
#define ZYR_LOG_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#endif

void LogInfo(const char* format, ...) ZYR_LOG_FORMAT(1, 2);     // type 0, level 0
void LogDetail(const char* format, ...) ZYR_LOG_FORMAT(1, 2);   // type 0, level 1
void LogVerbose(const char* format, ...) ZYR_LOG_FORMAT(1, 2);  // type 0, level 2
void LogWarning(const char* format, ...) ZYR_LOG_FORMAT(1, 2);  // type 1, level 0
void LogError(const char* format, ...) ZYR_LOG_FORMAT(1, 2);    // type 2, level 0

#if defined(_WIN32)
void LogInfoW(const wchar_t* format, ...);     // type 3, level 0
void LogWarningW(const wchar_t* format, ...);  // type 4, level 0
// Thread marker (type 6): the text is taken as it is, not as a format.
void LogThreadStart(const wchar_t* threadName);
#endif

// Logs "%s" with the qualified name on construction and "%s exit with %d" with the value of
// *pResult on destruction, whichever way the function leaves.
class TScopedLog {
public:
    TScopedLog(const char* qualifiedName, const int* pResult);
    ~TScopedLog();
    TScopedLog(const TScopedLog&) = delete;
    TScopedLog& operator=(const TScopedLog&) = delete;

private:
    std::string strName;
    const int* pResult;
};
