#include "log/LogNativeSink.h"

#include "log/Log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace {

std::mutex g_mutex;
std::vector<TNativeLogLine> g_lines;

void Append(uint32_t type, uint8_t level, const char* format, va_list args)
{
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length < 0) {
        return;
    }
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<size_t>(length));
    std::lock_guard<std::mutex> lock(g_mutex);
    g_lines.push_back({type, level, std::move(text)});
}

}  // namespace

std::vector<TNativeLogLine> NativeLogLines()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_lines;
}

void ClearNativeLogLines()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_lines.clear();
}

#define ZYR_FORWARD_NATIVE(type, level) \
    va_list args;                       \
    va_start(args, format);             \
    Append((type), (level), format, args); \
    va_end(args)

void LogInfo(const char* format, ...) { ZYR_FORWARD_NATIVE(0, 0); }
void LogDetail(const char* format, ...) { ZYR_FORWARD_NATIVE(0, 1); }
void LogVerbose(const char* format, ...) { ZYR_FORWARD_NATIVE(0, 2); }
void LogWarning(const char* format, ...) { ZYR_FORWARD_NATIVE(1, 0); }
void LogError(const char* format, ...) { ZYR_FORWARD_NATIVE(2, 0); }
