// The log client against a real ring and directory: records byte for byte, level gating,
// writers-stopped, wrap-around, the strict free-space rule, buffer growth, and the objects the
// client creates when no server did.
#include "LogClientSupport.h"

#include "log/LogDirectory.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using namespace logtest;
using zyrlog::TRecordType;

namespace {

const uint8_t* RingData(const TLogServer& server)
{
    return server.RingControl() + zyrlog::kRingControlSize;
}

TEST_F(LogClientFixture, NarrowRecordIsByteExact)
{
    StartServer();
    auto client = MakeClient();
    EXPECT_EQ(client->ModuleId(), kModuleId);
    const uint32_t at = WriteOffset(server);
    const uint64_t before = NowMs();
    Narrow(*client, TRecordType::Warning, 0, "%s", "abc");
    const uint64_t after = NowMs();

    ASSERT_EQ(WriteOffset(server), at + 38);
    const uint8_t* r = RingData(server) + at;
    EXPECT_EQ(zyrlog::LoadU32(r + 0), 38u);
    EXPECT_EQ(zyrlog::LoadU32(r + 4), 1u);
    EXPECT_EQ(zyrlog::LoadU32(r + 8), ::GetCurrentProcessId());
    EXPECT_EQ(zyrlog::LoadU32(r + 12), kModuleId);
    EXPECT_EQ(zyrlog::LoadU32(r + 16), ::GetCurrentThreadId());
    const uint64_t stamp = zyrlog::LoadU64(r + 20);
    EXPECT_GE(stamp, before);
    EXPECT_LE(stamp, after);
    EXPECT_EQ(r[28], 0);
    EXPECT_EQ(zyrlog::LoadU32(r + 29), 4u);
    EXPECT_EQ(std::memcmp(r + 33, "abc\0", 4), 0);

    const auto records = Drain();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].record.strText, "abc");
    EXPECT_EQ(ReadOffset(server), WriteOffset(server));
}

TEST_F(LogClientFixture, WideRecordsAndThreadMarker)
{
    StartServer();
    auto client = MakeClient();
    const uint32_t at = WriteOffset(server);
    // Wide formats follow the Windows runtime: %s is wide, %S narrow.
    Wide(*client, TRecordType::InfoWide, L"%s|%S|%d", L"abc", "nar", 42);
    client->WriteThreadStart(L"CaptureScreenThread");

    const uint8_t* r = RingData(server) + at;
    const std::wstring expected = L"abc|nar|42";
    const uint32_t length = static_cast<uint32_t>((expected.size() + 1) * 2);
    EXPECT_EQ(zyrlog::LoadU32(r + 0), 35u + length);
    EXPECT_EQ(zyrlog::LoadU32(r + 4), 3u);
    EXPECT_EQ(zyrlog::LoadU32(r + 29), length);
    EXPECT_EQ(std::memcmp(r + 33, expected.c_str(), length), 0);

    const auto records = Drain();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].record.strText, "abc|nar|42");
    EXPECT_EQ(records[1].record.fields.ui32Type, 6u);
    EXPECT_EQ(records[1].record.strText, "CaptureScreenThread");
    EXPECT_EQ(records[1].record.ui32TextLength, 40u);
}

TEST_F(LogClientFixture, NarrowFormatTakesWideStringsWithCapitalS)
{
    StartServer();
    auto client = MakeClient();
    Narrow(*client, TRecordType::Info, 0, "%s name '%S' error %d", "A::B", L"wide name", 2);
    const auto records = Drain();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].record.strText, "A::B name 'wide name' error 2");
}

TEST_F(LogClientFixture, LevelByteGatesDetailAndVerbose)
{
    struct Case {
        const char* name;
        uint8_t serverLevel;
        bool infoWritten;
        bool detailWritten;
        bool verboseWritten;
    };
    const Case cases[] = {
        {"level 0", 0, true, false, false},
        {"level 1", 1, true, true, false},
        {"level 2", 2, true, true, true},
    };
    StartServer();
    auto client = MakeClient();
    Narrow(*client, TRecordType::Info, 0, "connect");
    Drain();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.SetLevel(c.serverLevel);
        Narrow(*client, TRecordType::Info, 0, "info");
        Narrow(*client, TRecordType::Info, 1, "detail");
        Narrow(*client, TRecordType::Info, 2, "verbose");
        std::vector<std::string> texts;
        for (const auto& record : Drain()) {
            texts.push_back(record.record.strText);
        }
        auto has = [&texts](const char* text) { return std::find(texts.begin(), texts.end(), text) != texts.end(); };
        EXPECT_EQ(has("info"), c.infoWritten);
        EXPECT_EQ(has("detail"), c.detailWritten);
        EXPECT_EQ(has("verbose"), c.verboseWritten);
    }
}

TEST_F(LogClientFixture, VerboseBeforeConnectionDoesNotConnect)
{
    StartServer(2);
    auto client = MakeClient();
    Narrow(*client, TRecordType::Info, 2, "verbose first");
    EXPECT_FALSE(client->IsConnected());
    Narrow(*client, TRecordType::Info, 0, "info");
    EXPECT_TRUE(client->IsConnected());
    EXPECT_EQ(client->LogName(), L"unit");
    const auto records = Drain();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].record.strText, "info");
}

TEST_F(LogClientFixture, StopSeenIsStickyAndStoppedWritersDropRecords)
{
    StartServer();
    auto client = MakeClient();
    Narrow(*client, TRecordType::Info, 0, "before");
    server.SetWritersStopped(true);
    const uint32_t at = WriteOffset(server);
    Narrow(*client, TRecordType::Info, 0, "while stopped");
    EXPECT_EQ(WriteOffset(server), at) << "a stopped ring takes nothing";
    EXPECT_TRUE(client->HasSeenStop());
    server.SetWritersStopped(false);
    Narrow(*client, TRecordType::Info, 0, "after");
    Narrow(*client, TRecordType::Info, 0, "later");

    const auto records = Drain();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].record.strText, "before");
    EXPECT_EQ(records[0].record.fields.bStopSeen, 0);
    EXPECT_EQ(records[1].record.strText, "after");
    EXPECT_EQ(records[1].record.fields.bStopSeen, 1);
    EXPECT_EQ(records[2].record.fields.bStopSeen, 1);
}

TEST_F(LogClientFixture, RecordSplitsAtTheEndOfTheRing)
{
    StartServer();
    const uint32_t start = zyrlog::kRingCapacity - 20;
    PlaceOffsets(server, start, start);
    auto client = MakeClient();
    Narrow(*client, TRecordType::Info, 0, "%s", "abc");  // 38 bytes: 20 at the end, 18 at the start

    EXPECT_EQ(WriteOffset(server), 18u);
    const uint8_t* ring = RingData(server);
    EXPECT_EQ(zyrlog::LoadU32(ring + start), 38u);
    EXPECT_EQ(std::memcmp(ring + 13, "abc\0", 4), 0) << "text continues at ring offset 0";
    const auto records = Drain();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_FALSE(records[0].bMalformed);
    EXPECT_EQ(records[0].record.strText, "abc");
    EXPECT_EQ(ReadOffset(server), 18u);
}

TEST_F(LogClientFixture, RecordEndingExactlyAtTheRingEndWrapsTheOffsetToZero)
{
    StartServer();
    const uint32_t start = zyrlog::kRingCapacity - 38;
    PlaceOffsets(server, start, start);
    auto client = MakeClient();
    Narrow(*client, TRecordType::Info, 0, "%s", "abc");
    EXPECT_EQ(WriteOffset(server), 0u);
}

TEST_F(LogClientFixture, RecordAsLargeAsTheFreeSpaceIsDropped)
{
    StartServer();
    auto client = MakeClient();
    Narrow(*client, TRecordType::Info, 0, "connect");
    Drain();
    const uint32_t write = 1000;
    PlaceOffsets(server, write + 38, write);  // free space: exactly 38 bytes
    Narrow(*client, TRecordType::Info, 0, "%s", "abc");
    EXPECT_EQ(WriteOffset(server), write);
    PlaceOffsets(server, write + 39, write);  // one byte more: it fits
    Narrow(*client, TRecordType::Info, 0, "%s", "abc");
    EXPECT_EQ(WriteOffset(server), write + 38);
}

TEST_F(LogClientFixture, BuffersGrowInWholeSteps)
{
    StartServer();
    auto client = MakeClient();
    Narrow(*client, TRecordType::Info, 0, "short");
    EXPECT_EQ(client->FormatBufferCapacity(), 102400u);
    EXPECT_EQ(client->RecordBufferCapacity(), 102400u);
    const std::string line(102399, 'x');
    Narrow(*client, TRecordType::Info, 0, "%s", line.c_str());
    EXPECT_EQ(client->FormatBufferCapacity(), 204800u);
    EXPECT_EQ(client->RecordBufferCapacity(), 204800u);
    Narrow(*client, TRecordType::Info, 0, "short again");
    EXPECT_EQ(client->FormatBufferCapacity(), 204800u) << "buffers never shrink";

    const auto records = Drain();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1].record.strText, line) << "lines are never truncated";
}

TEST_F(LogClientFixture, LogCallsKeepTheLastError)
{
    StartServer();
    auto client = MakeClient();
    ::SetLastError(1234);
    Narrow(*client, TRecordType::Error, 0, "%s", "x");
    EXPECT_EQ(::GetLastError(), 1234u);
    ::SetLastError(87);
    Wide(*client, TRecordType::InfoWide, L"%s", L"y");
    EXPECT_EQ(::GetLastError(), 87u);
}

TEST(LogClientWithoutServer, CreatesTheDirectoryAndThePerLogObjects)
{
    const TLogObjectNames names = UniqueNames();
    TLogClient client(names, kModulePath);
    TKernelHandle directory(::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, names.wsDirectoryMapping.c_str()));
    ASSERT_TRUE(directory) << "the client creates the directory";
    TMappedView view(::MapViewOfFile(directory.Get(), FILE_MAP_ALL_ACCESS, 0, 0, zyrlog::kDirectoryViewSize),
                     zyrlog::kDirectoryViewSize);
    ASSERT_TRUE(view);
    EXPECT_EQ(zyrlog::LoadU32(view.Bytes()), 0u);
    Narrow(client, TRecordType::Info, 0, "lost: no entry yet");
    EXPECT_FALSE(client.IsConnected());

    // Register an entry by hand, as a server that never creates the ring would.
    const zyrlog::TDirectoryModule module{kModuleId, u"C:\\Apps\\Tool\\capturer.exe"};
    const auto entry = zyrlog::BuildDirectoryEntry(3, u"C:\\Apps\\", u"handmade", &module, 1);
    std::memcpy(view.Bytes() + 4, entry.data(), entry.size());
    zyrlog::StoreU32(view.Bytes(), 1);
    Narrow(client, TRecordType::Info, 0, "%s", "abc");
    EXPECT_TRUE(client.IsConnected());

    TKernelHandle ring(::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, (names.wsBufferPrefix + L"handmade").c_str()));
    ASSERT_TRUE(ring) << "the client creates the ring";
    TKernelHandle ready(::OpenEventW(SYNCHRONIZE, FALSE, (names.wsLogReadyPrefix + L"handmade").c_str()));
    EXPECT_TRUE(ready);
    EXPECT_EQ(::WaitForSingleObject(ready.Get(), 0), WAIT_OBJECT_0) << "a written record sets log-ready";
    TKernelHandle mutex(::OpenMutexW(SYNCHRONIZE, FALSE, (names.wsWriteAccessPrefix + L"handmade").c_str()));
    EXPECT_TRUE(mutex);
    TMappedView ringView(::MapViewOfFile(ring.Get(), FILE_MAP_ALL_ACCESS, 0, 0, zyrlog::kRingMappingSize),
                         zyrlog::kRingMappingSize);
    ASSERT_TRUE(ringView);
    const uint8_t* control = ringView.Bytes();
    EXPECT_EQ(zyrlog::LoadU32(control + 0), 20959498u);
    EXPECT_EQ(zyrlog::LoadU32(control + 4), 0u);
    EXPECT_EQ(zyrlog::LoadU32(control + 8), 38u);
    EXPECT_EQ(control[12], 0) << "level 0 written by a fresh ring";
    zyrlog::TDecodedRecord record;
    ASSERT_EQ(zyrlog::DecodeRecord(control + zyrlog::kRingControlSize, 38, record), zyrlog::TDecodeResult::Ok);
    EXPECT_EQ(record.strText, "abc");
    EXPECT_EQ(record.fields.ui32ModuleId, 0u) << "the module id is looked up once, at construction";
}

TEST(LogClientWithoutServer, ModuleIdIsZeroWithoutAMatchingModule)
{
    const TLogObjectNames names = UniqueNames();
    TLogServerConfig config = ServerConfig(names);
    config.modules = {{9, u"C:\\Apps\\Tool\\capturer.exe.bak"}};
    TLogServer server;
    std::wstring error;
    ASSERT_TRUE(server.Start(config, &error));
    TLogClient client(names, kModulePath);
    EXPECT_EQ(client.ModuleId(), 0u);
    TLogClient outside(names, L"D:\\Elsewhere\\capturer.exe");
    Narrow(outside, TRecordType::Info, 0, "not covered by the entry");
    EXPECT_FALSE(outside.IsConnected());
}

}  // namespace
