// Shared pieces of the log server suites: private object names per test, a server configuration
// with a known module, variadic front ends for the client's va_list entry points, and access to
// the ring's control block.
#pragma once

#include "TLogServer.h"
#include "log/LogFormat.h"
#include "log/TLogClient.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <string>
#include <vector>

namespace lstest {

inline const wchar_t kModulePath[] = L"C:\\Apps\\tool\\cap.exe";
constexpr uint32_t kModuleId = 4;

// Names no other test (and no real server) uses.
inline std::wstring UniquePrefix(const wchar_t* tag)
{
    static std::atomic<int> counter{0};
    return std::wstring(L"test-logserver-") + tag + L"-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
           std::to_wstring(counter++) + L" ";
}

inline TLogObjectNames UniqueNames(const wchar_t* tag = L"t")
{
    return TLogObjectNames::WithPrefix(UniquePrefix(tag));
}

inline TLogServerConfig Config(const TLogObjectNames& names, uint8_t level = 0, const wchar_t* logName = L"unit")
{
    TLogServerConfig config;
    config.names = names;
    config.wsDirectoryPrefix = L"C:\\APPS\\";  // matched ignoring the case of A-Z
    config.wsLogName = logName;
    config.modules = {{9, u"C:\\Apps\\tool\\other.exe"}, {kModuleId, u"c:\\apps\\TOOL\\cap.exe"}};
    config.ui8Level = level;
    return config;
}

inline std::string Narrow(const std::wstring& text)
{
    return zyrlog::Utf16ToUtf8(std::u16string(text.begin(), text.end()));
}

inline void LogNarrow(TLogClient& client, zyrlog::TRecordType type, uint8_t level, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    client.Write(type, level, format, args);
    va_end(args);
}

inline void LogWide(TLogClient& client, zyrlog::TRecordType type, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    client.WriteWide(type, format, args);
    va_end(args);
}

inline uint32_t ReadOffset(const TLogServer& server)
{
    return zyrlog::LoadU32(server.RingControl() + zyrlog::kRingReadOffset);
}

inline uint32_t WriteOffset(const TLogServer& server)
{
    return zyrlog::LoadU32(server.RingControl() + zyrlog::kRingWriteOffset);
}

inline uint8_t* RingData(const TLogServer& server)
{
    return server.RingControl() + zyrlog::kRingControlSize;
}

// Runs `change` on the control block and ring data under the write-access mutex, as a writer would.
template <class F>
void UnderWriteMutex(TLogServer& server, F change)
{
    ASSERT_EQ(::WaitForSingleObject(server.WriteAccessMutex(), 10000), WAIT_OBJECT_0);
    change(server.RingControl());
    ::ReleaseMutex(server.WriteAccessMutex());
}

inline void PlaceOffsets(TLogServer& server, uint32_t read, uint32_t write)
{
    UnderWriteMutex(server, [&](uint8_t* control) {
        zyrlog::StoreU32(control + zyrlog::kRingReadOffset, read);
        zyrlog::StoreU32(control + zyrlog::kRingWriteOffset, write);
    });
}

// Starts `server` or fails the test with the reason.
inline void StartOrFail(TLogServer& server, const TLogServerConfig& config)
{
    std::wstring error;
    ASSERT_TRUE(server.Start(config, &error)) << Narrow(error);
}

inline std::vector<TLogRecord> Drain(TLogServer& server)
{
    std::vector<TLogRecord> records;
    server.DrainOnce(records);
    return records;
}

inline uint64_t NowMs()
{
    LARGE_INTEGER counter{};
    LARGE_INTEGER frequency{};
    ::QueryPerformanceCounter(&counter);
    ::QueryPerformanceFrequency(&frequency);
    return zyrlog::CounterToMilliseconds(static_cast<uint64_t>(counter.QuadPart),
                                         static_cast<uint64_t>(frequency.QuadPart));
}

}  // namespace lstest
