// Draining a real ring written by a real client: every field of narrow, wide and thread records,
// records split at the end of the ring, the level byte, bytes that are not records, a damaged
// control block, and what a starting server skips.
#include "ServerTestSupport.h"

#include <cstring>
#include <memory>

using namespace lstest;
using zyrlog::LoadU32;
using zyrlog::StoreU32;
using zyrlog::TRecordType;

namespace {

class DrainTest : public ::testing::Test {
protected:
    void Start(uint8_t level = 0)
    {
        names = UniqueNames(L"drain");
        StartOrFail(server, Config(names, level));
    }
    std::unique_ptr<TLogClient> Client() { return std::make_unique<TLogClient>(names, kModulePath); }
    std::vector<std::string> Texts()
    {
        std::vector<std::string> texts;
        for (const TLogRecord& entry : Drain(server)) {
            texts.push_back(entry.bMalformed ? "malformed: " + entry.strProblem : entry.record.strText);
        }
        return texts;
    }

    TLogObjectNames names;
    TLogServer server;
};

TEST_F(DrainTest, NarrowWideAndThreadRecordsKeepEveryField)
{
    Start();
    auto client = Client();
    const uint64_t before = NowMs();
    LogNarrow(*client, TRecordType::Error, 0, "%s %d", "narrow", 17);
    LogWide(*client, TRecordType::WarningWide, L"%s \u00e9\u20ac", L"wide");
    client->WriteThreadStart(L"CaptureScreenThread");
    const uint64_t after = NowMs();

    const auto records = Drain(server);
    ASSERT_EQ(records.size(), 3u);
    struct Expected {
        uint32_t type;
        std::string text;
        std::u16string wide;
        uint32_t size;
    };
    const Expected expected[] = {
        {2, "narrow 17", u"", 34 + 10},
        {4, "wide \xc3\xa9\xe2\x82\xac", u"wide \u00e9\u20ac", 35 + 2 * 8},
        {6, "CaptureScreenThread", u"CaptureScreenThread", 35 + 2 * 20},
    };
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const TLogRecord& entry = records[i];
        ASSERT_FALSE(entry.bMalformed) << entry.strProblem;
        EXPECT_EQ(entry.record.fields.ui32Type, expected[i].type);
        EXPECT_EQ(entry.record.strText, expected[i].text);
        EXPECT_EQ(entry.record.wsText, expected[i].wide);
        EXPECT_EQ(entry.record.ui32Size, expected[i].size);
        EXPECT_EQ(entry.record.fields.ui32ProcessId, ::GetCurrentProcessId());
        EXPECT_EQ(entry.record.fields.ui32ThreadId, ::GetCurrentThreadId());
        EXPECT_EQ(entry.record.fields.ui32ModuleId, kModuleId);
        EXPECT_EQ(entry.record.fields.bStopSeen, 0);
        EXPECT_GE(entry.record.fields.ui64Timestamp, before);
        EXPECT_LE(entry.record.fields.ui64Timestamp, after);
    }
    EXPECT_EQ(ReadOffset(server), WriteOffset(server));
    EXPECT_TRUE(Drain(server).empty()) << "drained records are gone";
}

TEST_F(DrainTest, RecordsSplitAtTheEndOfTheRingDecodeIntact)
{
    Start();
    const uint32_t capacity = zyrlog::kRingCapacity;
    // Where the first record starts: its size field split after 1, 2 or 3 bytes, its header or its
    // text split, or ending exactly at the end.
    const struct Case {
        const char* name;
        uint32_t start;
    } cases[] = {
        {"size field split after 1 byte", capacity - 1},
        {"size field split after 2 bytes", capacity - 2},
        {"size field split after 3 bytes", capacity - 3},
        {"header split after the size", capacity - 4},
        {"text split", capacity - 36},
        {"first record ends at the end", capacity - 52},
        {"second record split", capacity - 60},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Placed before the client connects; connecting leaves existing offsets alone.
        PlaceOffsets(server, c.start, c.start);
        auto client = Client();
        LogNarrow(*client, TRecordType::Info, 0, "%s", "first record 0123");  // 34 + 18 = 52 bytes
        LogWide(*client, TRecordType::InfoWide, L"%s", L"second");
        LogNarrow(*client, TRecordType::Warning, 0, "%s", "third");
        ASSERT_LT(WriteOffset(server), c.start) << "the records wrapped";

        const auto records = Drain(server);
        ASSERT_EQ(records.size(), 3u);
        for (const TLogRecord& entry : records) {
            EXPECT_FALSE(entry.bMalformed) << entry.strProblem;
            EXPECT_EQ(entry.record.fields.ui32ModuleId, kModuleId);
        }
        EXPECT_EQ(records[0].record.strText, "first record 0123");
        EXPECT_EQ(records[1].record.strText, "second");
        EXPECT_EQ(records[2].record.strText, "third");
        EXPECT_EQ(ReadOffset(server), WriteOffset(server));
    }
}

TEST_F(DrainTest, LevelByteDecidesWhichLinesArrive)
{
    Start(0);
    auto client = Client();
    LogNarrow(*client, TRecordType::Info, 0, "%s", "connect");
    const struct Case {
        uint8_t level;
        std::vector<std::string> expected;
    } cases[] = {
        {0, {"level 0"}},
        {1, {"level 0", "level 1"}},
        {2, {"level 0", "level 1", "level 2"}},
        {0, {"level 0"}},
    };
    Texts();
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.level));
        server.SetLevel(c.level);
        EXPECT_EQ(server.RingControl()[zyrlog::kRingLevelOffset], c.level);
        for (int level = 0; level <= 2; ++level) {
            LogNarrow(*client, TRecordType::Info, static_cast<uint8_t>(level), "level %d", level);
        }
        EXPECT_EQ(Texts(), c.expected);
    }
}

TEST_F(DrainTest, WritersStoppedDropsRecordsAndMarksLaterOnes)
{
    Start();
    auto client = Client();
    LogNarrow(*client, TRecordType::Info, 0, "%s", "before");
    server.SetWritersStopped(true);
    EXPECT_EQ(server.RingControl()[zyrlog::kRingWritersStoppedOffset], 1);
    LogNarrow(*client, TRecordType::Info, 0, "%s", "dropped");
    server.SetWritersStopped(false);
    LogNarrow(*client, TRecordType::Info, 0, "%s", "after");
    const auto records = Drain(server);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].record.fields.bStopSeen, 0);
    EXPECT_EQ(records[1].record.strText, "after");
    EXPECT_EQ(records[1].record.fields.bStopSeen, 1);
}

// Bytes that no client wrote, appended at the write offset under the write-access mutex.
void InjectBytes(TLogServer& server, const std::vector<uint8_t>& bytes)
{
    UnderWriteMutex(server, [&](uint8_t* control) {
        zyrlog::TRingState state;
        ASSERT_TRUE(zyrlog::ReadRingState(control, zyrlog::kRingMappingSize, state));
        uint32_t newWrite = 0;
        ASSERT_EQ(zyrlog::RingWrite(control + zyrlog::kRingControlSize, state, bytes.data(),
                                    static_cast<uint32_t>(bytes.size()), newWrite),
                  zyrlog::TRingWriteResult::Written);
        StoreU32(control + zyrlog::kRingWriteOffset, newWrite);
    });
}

std::vector<uint8_t> PackedRecord(const char* text)
{
    const size_t length = std::strlen(text) + 1;
    std::vector<uint8_t> bytes(zyrlog::RecordSize(length, false));
    zyrlog::TRecordFields fields;
    fields.ui32ProcessId = 1;
    zyrlog::PackRecord(bytes.data(), fields, text, length, false);
    return bytes;
}

TEST_F(DrainTest, BytesThatAreNotRecordsGiveOneMalformedEntry)
{
    Start();
    auto packed = [](uint32_t at, uint32_t value) {
        auto bytes = PackedRecord("abc");  // 38 bytes
        StoreU32(bytes.data() + at, value);
        return bytes;
    };
    auto unterminated = PackedRecord("abc");
    unterminated[36] = 'd';
    const struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        bool bFollowed;  // a good record comes after the bad bytes (and is lost with them)
        const char* problem;
    } cases[] = {
        {"size 0", packed(0, 0), true, "BadSize"},
        {"size below the header", packed(0, 20), true, "BadSize"},
        {"size past the write offset", packed(0, 39), false, "Truncated"},
        {"length disagrees with size", packed(29, 5), true, "BadLength"},
        {"text without terminator", unterminated, true, "BadLength"},
        {"fewer bytes than a header", std::vector<uint8_t>(10, 0x41), false, "Truncated"},
        {"garbage size before a record", std::vector<uint8_t>(10, 0x41), true, "Truncated"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InjectBytes(server, PackedRecord("good"));
        InjectBytes(server, c.bytes);
        if (c.bFollowed) {
            InjectBytes(server, PackedRecord("lost behind the bad bytes"));
        }
        const auto records = Drain(server);
        ASSERT_EQ(records.size(), 2u);
        EXPECT_EQ(records[0].record.strText, "good");
        EXPECT_TRUE(records[1].bMalformed);
        EXPECT_NE(records[1].strProblem.find(c.problem), std::string::npos) << records[1].strProblem;
        EXPECT_EQ(ReadOffset(server), WriteOffset(server));

        InjectBytes(server, PackedRecord("next"));
        EXPECT_EQ(Texts(), std::vector<std::string>{"next"});
    }
}

TEST_F(DrainTest, DamagedControlBlockIsReportedAndReset)
{
    Start();
    auto client = Client();
    const struct Case {
        const char* name;
        uint32_t capacity, read, write;
    } cases[] = {
        {"capacity 0", 0, 0, 0},
        {"capacity past the mapping", zyrlog::kRingCapacity + 1, 0, 0},
        {"read past the capacity", zyrlog::kRingCapacity, zyrlog::kRingCapacity, 0},
        {"write past the capacity", zyrlog::kRingCapacity, 0, 0xFFFFFFFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UnderWriteMutex(server, [&](uint8_t* control) {
            StoreU32(control + zyrlog::kRingCapacityOffset, c.capacity);
            StoreU32(control + zyrlog::kRingReadOffset, c.read);
            StoreU32(control + zyrlog::kRingWriteOffset, c.write);
        });
        const auto records = Drain(server);
        ASSERT_EQ(records.size(), 1u);
        EXPECT_TRUE(records[0].bMalformed);
        EXPECT_NE(records[0].strProblem.find("control block"), std::string::npos) << records[0].strProblem;
        EXPECT_EQ(LoadU32(server.RingControl() + zyrlog::kRingCapacityOffset), zyrlog::kRingCapacity);
        LogNarrow(*client, TRecordType::Info, 0, "%s", "after the reset");
        EXPECT_EQ(Texts(), std::vector<std::string>{"after the reset"});
    }
}

TEST_F(DrainTest, StartingServerSkipsWhatTheRingHeldAndRepairsItsControlBlock)
{
    Start(1);
    auto client = Client();
    LogNarrow(*client, TRecordType::Info, 0, "%s", "old");
    const uint32_t write = WriteOffset(server);
    ASSERT_GT(write, ReadOffset(server));

    TLogServer successor;
    StartOrFail(successor, Config(names, 2));
    EXPECT_EQ(ReadOffset(successor), write);
    EXPECT_EQ(successor.RingControl()[zyrlog::kRingLevelOffset], 2);
    EXPECT_TRUE(Drain(successor).empty());

    UnderWriteMutex(successor, [](uint8_t* control) { StoreU32(control + zyrlog::kRingCapacityOffset, 0); });
    TLogServer repairer;
    StartOrFail(repairer, Config(names, 0));
    EXPECT_EQ(LoadU32(repairer.RingControl() + zyrlog::kRingCapacityOffset), zyrlog::kRingCapacity);
    EXPECT_EQ(ReadOffset(repairer), 0u);
    EXPECT_EQ(WriteOffset(repairer), 0u);
    LogNarrow(*client, TRecordType::Info, 0, "%s", "new");
    EXPECT_EQ(Drain(repairer).size(), 1u);
}

}  // namespace
