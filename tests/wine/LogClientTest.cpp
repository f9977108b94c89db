// The log client against a real log server's ring and directory: records as the server reads them
// (stop-seen included), level gating, wrap-around and the strict free-space rule, buffer growth, the objects
// the client creates when no server did, and two threads writing at once.
#include "TLogServer.h"
#include "log/LogDirectory.h"
#include "log/LogFormat.h"
#include "log/TLogClient.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdarg>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <thread>
#include <type_traits>

using zyrlog::LoadU32;
using zyrlog::TRecordType;

namespace {

const wchar_t kModulePath[] = L"C:\\Apps\\Tool\\capturer.exe";
constexpr uint32_t kModuleId = 7;

// The client's va_list entry points, narrow or wide by the format's character type.
template <class Char>
void Write(TLogClient& client, TRecordType type, uint8_t level, const Char* format, ...)
{
    va_list args;
    va_start(args, format);
    if constexpr (std::is_same_v<Char, wchar_t>) {
        client.WriteWide(type, format, args);
    } else {
        client.Write(type, level, format, args);
    }
    va_end(args);
}

// Object names of this test alone.
TLogObjectNames UniqueNames()
{
    const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    return TLogObjectNames::WithPrefix(L"zyrtest-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                       std::wstring(test.begin(), test.end()) + L" ");
}

// A server of its own per test, whose entry covers kModulePath.
class LogClient : public ::testing::Test {
protected:
    void SetUp() override
    {
        TLogServerConfig config;
        config.names = names;
        config.wsDirectoryPrefix = L"c:\\apps\\";  // case differs from the module path on purpose
        config.wsLogName = L"unit";
        config.modules = {{3, u"C:\\Apps\\Tool\\other.exe"}, {kModuleId, u"c:\\apps\\tool\\CAPTURER.EXE"}};
        std::wstring error;
        ASSERT_TRUE(server.Start(config, &error));
        client = std::make_unique<TLogClient>(names, kModulePath);
    }
    uint32_t Offset(size_t at) const { return LoadU32(server.RingControl() + at); }
    std::vector<TLogRecord> Drain()
    {
        std::vector<TLogRecord> records;
        server.DrainOnce(records);
        return records;
    }
    std::vector<std::string> DrainTexts()
    {
        std::vector<std::string> texts;
        for (const TLogRecord& record : Drain()) {
            texts.push_back(record.bMalformed ? "malformed" : record.record.strText);
        }
        return texts;
    }

    TLogObjectNames names = UniqueNames();
    TLogServer server;
    std::unique_ptr<TLogClient> client;
};

// The server's decoder checks size, header, text, terminator and trailing zero byte(s) exactly.
TEST_F(LogClient, RecordsAreExactAsTheServerReadsThemWithStickyStopSeenAndKeepTheLastError)
{
    struct Case {
        std::function<void()> write;
        uint32_t type;
        std::string text;
        uint32_t size;
        uint8_t stopSeen;
    };
    const Case cases[] = {
        {[&] { Write(*client, TRecordType::Warning, 0, "%s", "abc"); }, 1, "abc", 38, 0},
        {[&] { Write(*client, TRecordType::Info, 0, "%s '%S' %d", "A::B", L"wide", 2); }, 0, "A::B 'wide' 2", 48, 0},
        {[&] { Write(*client, TRecordType::InfoWide, 0, L"%s|%S|%d", L"abc", "nar", 42); }, 3, "abc|nar|42", 57, 0},
        {[&] { client->WriteThreadStart(L"CaptureScreenThread"); }, 6, "CaptureScreenThread", 75, 0},
        // A stopped ring takes nothing; the next record says the stop was seen, and so do later ones.
        {[&] {
             server.SetWritersStopped(true);
             Write(*client, TRecordType::Info, 0, "while stopped");
             server.SetWritersStopped(false);
             Write(*client, TRecordType::Info, 0, "after");
         },
         0, "after", 40, 1},
        {[&] { Write(*client, TRecordType::Info, 0, "later"); }, 0, "later", 40, 1},
    };
    EXPECT_EQ(client->ModuleId(), kModuleId);
    const auto nowMs = [] {
        LARGE_INTEGER counter{}, frequency{};
        ::QueryPerformanceCounter(&counter);
        ::QueryPerformanceFrequency(&frequency);
        return zyrlog::CounterToMilliseconds(counter.QuadPart, frequency.QuadPart);
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const uint32_t at = Offset(zyrlog::kRingWriteOffset);
        const uint64_t before = nowMs();
        ::SetLastError(1234);
        c.write();
        EXPECT_EQ(::GetLastError(), 1234u);
        EXPECT_EQ(Offset(zyrlog::kRingWriteOffset), at + c.size);
        const std::vector<TLogRecord> records = Drain();
        ASSERT_EQ(records.size(), 1u);
        ASSERT_FALSE(records[0].bMalformed);
        const zyrlog::TDecodedRecord& r = records[0].record;
        EXPECT_EQ(r.fields.ui32Type, c.type);
        EXPECT_EQ(r.fields.ui32ProcessId, ::GetCurrentProcessId());
        EXPECT_EQ(r.fields.ui32ModuleId, kModuleId);
        EXPECT_EQ(r.fields.ui32ThreadId, ::GetCurrentThreadId());
        EXPECT_GE(r.fields.ui64Timestamp, before);
        EXPECT_LE(r.fields.ui64Timestamp, nowMs());
        EXPECT_EQ(r.fields.bStopSeen, c.stopSeen);
        EXPECT_EQ(r.strText, c.text);
    }
}

TEST_F(LogClient, LevelByteGatesDetailAndVerbose)
{
    server.SetLevel(2);
    Write(*client, TRecordType::Info, 2, "verbose first");
    EXPECT_FALSE(client->IsConnected()) << "verbose lines alone never connect";
    const std::vector<std::string> lines = {"info", "detail", "verbose"};
    for (uint8_t level = 0; level <= 2; ++level) {
        server.SetLevel(level);
        for (uint8_t lineLevel = 0; lineLevel <= 2; ++lineLevel) {
            Write(*client, TRecordType::Info, lineLevel, "%s", lines[lineLevel].c_str());
        }
        EXPECT_EQ(DrainTexts(), std::vector<std::string>(lines.begin(), lines.begin() + level + 1)) << int{level};
    }
}

TEST_F(LogClient, RecordsWrapAtTheRingEndAndNeedMoreThanTheirSizeFree)
{
    struct Case {
        const char* name;
        uint32_t read, write, writeAfter;
    };
    const uint32_t end = zyrlog::kRingCapacity;
    const Case cases[] = {
        {"38-byte record split 20 + 18", end - 20, end - 20, 18},
        {"record ending at the ring end", end - 38, end - 38, 0},
        {"free space exactly 38 bytes: dropped", 1038, 1000, 1000},
        {"one byte more: written", 1039, 1000, 1038},
    };
    Write(*client, TRecordType::Info, 0, "connect");
    Drain();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        zyrlog::StoreU32(server.RingControl() + zyrlog::kRingReadOffset, c.read);
        zyrlog::StoreU32(server.RingControl() + zyrlog::kRingWriteOffset, c.write);
        Write(*client, TRecordType::Info, 0, "%s", "abc");
        EXPECT_EQ(Offset(zyrlog::kRingWriteOffset), c.writeAfter);
        if (c.read == c.write) {
            EXPECT_EQ(DrainTexts(), std::vector<std::string>{"abc"});
        }
    }
}

TEST_F(LogClient, BuffersGrowInWholeStepsAndNeverTruncate)
{
    const std::string line(102399, 'x');
    for (const auto& [text, capacity] : {std::pair<std::string, size_t>{"short", 102400}, {line, 204800}, {"short", 204800}}) {
        Write(*client, TRecordType::Info, 0, "%s", text.c_str());
        EXPECT_EQ(client->FormatBufferCapacity(), capacity);
        EXPECT_EQ(client->RecordBufferCapacity(), capacity);
    }
    EXPECT_EQ(DrainTexts(), (std::vector<std::string>{"short", line, "short"}));
}

TEST(LogClientWithoutServer, CreatesTheDirectoryAndThePerLogObjects)
{
    const TLogObjectNames names = UniqueNames();
    TLogClient client(names, kModulePath);
    TKernelHandle directory(::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, names.wsDirectoryMapping.c_str()));
    ASSERT_TRUE(directory);
    TMappedView view(::MapViewOfFile(directory.Get(), FILE_MAP_ALL_ACCESS, 0, 0, 0), zyrlog::kDirectoryViewSize);
    ASSERT_TRUE(view);
    EXPECT_EQ(LoadU32(view.Bytes()), 0u) << "an empty directory";

    // An entry registered by hand, as by a server that never creates the ring.
    const zyrlog::TDirectoryModule module{kModuleId, u"C:\\Apps\\Tool\\capturer.exe"};
    const auto entry = zyrlog::BuildDirectoryEntry(3, u"C:\\Apps\\", u"handmade", &module, 1);
    std::memcpy(view.Bytes() + 4, entry.data(), entry.size());
    zyrlog::StoreU32(view.Bytes(), 1);
    Write(client, TRecordType::Info, 0, "%s", "abc");
    EXPECT_TRUE(client.IsConnected());

    TKernelHandle ready(::OpenEventW(SYNCHRONIZE, FALSE, (names.wsLogReadyPrefix + L"handmade").c_str()));
    EXPECT_EQ(::WaitForSingleObject(ready.Get(), 0), WAIT_OBJECT_0) << "a written record sets log-ready";
    EXPECT_TRUE(TKernelHandle(::OpenMutexW(SYNCHRONIZE, FALSE, (names.wsWriteAccessPrefix + L"handmade").c_str())));
    TKernelHandle ring(::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, (names.wsBufferPrefix + L"handmade").c_str()));
    TMappedView ringView(::MapViewOfFile(ring.Get(), FILE_MAP_ALL_ACCESS, 0, 0, 0), zyrlog::kRingMappingSize);
    ASSERT_TRUE(ringView);
    const uint8_t* control = ringView.Bytes();
    EXPECT_EQ(LoadU32(control + zyrlog::kRingCapacityOffset), zyrlog::kRingCapacity);
    EXPECT_EQ(LoadU32(control + zyrlog::kRingWriteOffset), 38u);
    EXPECT_EQ(control[zyrlog::kRingLevelOffset], 0);
    zyrlog::TDecodedRecord record;
    ASSERT_EQ(zyrlog::DecodeRecord(control + zyrlog::kRingControlSize, 38, record), zyrlog::TDecodeResult::Ok);
    EXPECT_EQ(record.strText, "abc");
    EXPECT_EQ(record.fields.ui32ModuleId, 0u) << "the module id is looked up once, at construction";
}

// Both threads start at once on a client that is not connected yet (they race through the
// connection step) and log while a drainer empties the ring.
TEST_F(LogClient, TwoThreadsLogAtOnceWithoutLostOrTornRecords)
{
    constexpr int kLines = 10000;
    TLogServerDrainer drainer(server);
    TKernelHandle go(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    DWORD threadIds[2] = {};
    auto writer = [&](int index) {
        threadIds[index] = ::GetCurrentThreadId();
        ::WaitForSingleObject(go.Get(), 30000);
        for (int i = 0; i < kLines; ++i) {
            Write(*client, TRecordType::Info, 0, "thread %d line %d", index, i);
        }
    };
    std::thread first(writer, 0), second(writer, 1);
    ::SetEvent(go.Get());
    first.join();
    second.join();
    ASSERT_TRUE(drainer.WaitFor([](const std::vector<TLogRecord>& r) { return r.size() >= 2u * kLines; }, 120000));
    std::map<DWORD, int> next;
    for (const TLogRecord& entry : drainer.Records()) {
        ASSERT_FALSE(entry.bMalformed);
        const DWORD tid = entry.record.fields.ui32ThreadId;
        ASSERT_TRUE(tid == threadIds[0] || tid == threadIds[1]) << tid;
        ASSERT_EQ(entry.record.strText,
                  "thread " + std::to_string(tid == threadIds[1]) + " line " + std::to_string(next[tid]++));
    }
    EXPECT_EQ(next[threadIds[0]], kLines);
    EXPECT_EQ(next[threadIds[1]], kLines);
}

}  // namespace
