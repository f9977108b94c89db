// Shared pieces of the log client suites: a private server per test and variadic front ends for
// the client's va_list entry points.
#pragma once

#include "TLogServer.h"
#include "log/LogFormat.h"
#include "log/TLogClient.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <memory>
#include <string>

namespace logtest {

inline const wchar_t kModulePath[] = L"C:\\Apps\\Tool\\capturer.exe";
constexpr uint32_t kModuleId = 7;

inline void Narrow(TLogClient& client, zyrlog::TRecordType type, uint8_t level, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    client.Write(type, level, format, args);
    va_end(args);
}

inline void Wide(TLogClient& client, zyrlog::TRecordType type, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    client.WriteWide(type, format, args);
    va_end(args);
}

// A unique name prefix per test, so no two tests (and no real server) share objects.
inline TLogObjectNames UniqueNames()
{
    static std::atomic<int> counter{0};
    const std::wstring prefix =
        L"zyrtest-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(counter++) + L" ";
    return TLogObjectNames::WithPrefix(prefix);
}

inline TLogServerConfig ServerConfig(const TLogObjectNames& names, uint8_t level = 0)
{
    TLogServerConfig config;
    config.names = names;
    config.wsDirectoryPrefix = L"c:\\apps\\";  // case differs from the module path on purpose
    config.wsLogName = L"unit";
    config.modules = {{3, u"C:\\Apps\\Tool\\other.exe"}, {kModuleId, u"c:\\apps\\tool\\CAPTURER.EXE"}};
    config.ui8Level = level;
    return config;
}

// Ring offsets as the control block holds them.
inline uint32_t ReadOffset(const TLogServer& server)
{
    return zyrlog::LoadU32(server.RingControl() + zyrlog::kRingReadOffset);
}

inline uint32_t WriteOffset(const TLogServer& server)
{
    return zyrlog::LoadU32(server.RingControl() + zyrlog::kRingWriteOffset);
}

// Moves both offsets (under the write-access mutex, as a server would).
inline void PlaceOffsets(TLogServer& server, uint32_t read, uint32_t write)
{
    ASSERT_EQ(::WaitForSingleObject(server.WriteAccessMutex(), 10000), WAIT_OBJECT_0);
    zyrlog::StoreU32(server.RingControl() + zyrlog::kRingReadOffset, read);
    zyrlog::StoreU32(server.RingControl() + zyrlog::kRingWriteOffset, write);
    ::ReleaseMutex(server.WriteAccessMutex());
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

class LogClientFixture : public ::testing::Test {
protected:
    void StartServer(uint8_t level = 0)
    {
        names = UniqueNames();
        std::wstring error;
        ASSERT_TRUE(server.Start(ServerConfig(names, level), &error)) << std::string(error.begin(), error.end());
    }
    std::unique_ptr<TLogClient> MakeClient() { return std::make_unique<TLogClient>(names, kModulePath); }

    std::vector<TLogRecord> Drain()
    {
        std::vector<TLogRecord> records;
        server.DrainOnce(records);
        return records;
    }

    TLogObjectNames names;
    TLogServer server;
};

}  // namespace logtest
