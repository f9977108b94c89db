// Log records byte for byte, the reader's refusals, the ring's arithmetic, buffer growth, time
// stamps, and the native sink the layout tests read. Byte vectors are built at their exact size, so
// AddressSanitizer reports any access one byte past them.
#include "log/Log.h"
#include "log/LogFormat.h"
#include "log/LogNativeSink.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using namespace zyrlog;
using Bytes = std::vector<uint8_t>;

TRecordFields Fields(uint32_t type)
{
    return TRecordFields{type, 0x11223344, 0x55667788, 0x99AABBCC, 0x0102030405060708ull, 1};
}

Bytes Pack(const void* text, size_t bytes, uint32_t type)
{
    const bool wide = IsWideRecordType(type);
    Bytes record(RecordSize(bytes, wide), 0xEE);
    EXPECT_EQ(PackRecord(record.data(), Fields(type), text, bytes, wide), record.size());
    return record;
}

Bytes Header(uint8_t size, uint8_t type, uint8_t length)
{
    return {size, 0, 0, 0, type, 0, 0, 0, 0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55, 0xCC, 0xBB, 0xAA,
            0x99, 8,    7, 6, 5, 4,    3, 2, 1, 1,    length, 0, 0, 0};
}

TEST(LogRecord, NarrowAndWideAreByteExact)
{
    Bytes narrow = Header(38, 0, 4);
    narrow.insert(narrow.end(), {'a', 'b', 'c', 0, 0});  // text, terminator, one zeroed trailing byte
    EXPECT_EQ(Pack("abc", 4, 0), narrow);
    Bytes wide = Header(43, 3, 8);
    wide.insert(wide.end(), {'a', 0, 'b', 0, 'c', 0, 0, 0, 0, 0});  // two trailing bytes
    EXPECT_EQ(Pack(u"abc", 8, 3), wide);
    if constexpr (sizeof(size_t) > 4) {  // a 4 GiB text is refused before anything is written
        Bytes one(1, 0x77);
        EXPECT_EQ(PackRecord(one.data(), Fields(0), nullptr, size_t{0xFFFFFFFF}, false), 0u);
        EXPECT_EQ(one[0], 0x77);
    }
}

TEST(LogRecord, DecodesWhatWasPacked)
{
    // Wide texts come out as UTF-16 and as UTF-8 (an unpaired surrogate as U+FFFD).
    const std::pair<std::u16string, std::string> texts[] = {
        {u"", ""}, {u"\u00E9\u4E2D", "\xC3\xA9\xE4\xB8\xAD"}, {u"\U0001F600", "\xF0\x9F\x98\x80"},
        {std::u16string(1, char16_t(0xD800)), "\xEF\xBF\xBD"}};
    for (const auto& [wide, utf8] : texts) {
        const Bytes record = Pack(wide.c_str(), 2 * wide.size() + 2, 6);
        TDecodedRecord d;
        ASSERT_EQ(DecodeRecord(record.data(), record.size(), d), TDecodeResult::Ok);
        EXPECT_EQ(d.wsText, wide);
        EXPECT_EQ(d.strText, utf8);
    }
    Bytes record = Pack("abc", 4, 2);
    record.insert(record.end(), 20, 0xFF);  // bytes after the record are not part of it
    const Bytes exact(record);
    TDecodedRecord d;
    ASSERT_EQ(DecodeRecord(exact.data(), exact.size(), d), TDecodeResult::Ok);
    EXPECT_EQ(d.ui32Size, 38u);
    EXPECT_EQ(d.strText, "abc");
    const TRecordFields f = Fields(2);
    EXPECT_TRUE(d.fields.ui32Type == 2 && d.fields.ui32ProcessId == f.ui32ProcessId &&
                d.fields.ui32ModuleId == f.ui32ModuleId && d.fields.ui32ThreadId == f.ui32ThreadId &&
                d.fields.ui64Timestamp == f.ui64Timestamp && d.fields.bStopSeen == 1);
}

TEST(LogRecord, RefusesMalformedRecords)
{
    const Bytes narrow = Pack("abc", 4, 0);  // 38 bytes, L = 4
    const Bytes wide = Pack(u"abc", 8, 3);   // 43 bytes, L = 8
    auto with = [](Bytes b, size_t at, uint32_t v) { return StoreU32(b.data() + at, v), b; };
    auto withByte = [](Bytes b, size_t at, uint8_t v) { return b[at] = v, b; };
    const std::tuple<const char*, Bytes, size_t, TDecodeResult> cases[] = {
        {"empty", narrow, 0, TDecodeResult::Truncated},
        {"header only", narrow, 34, TDecodeResult::Truncated},
        {"one byte short", narrow, 37, TDecodeResult::Truncated},
        {"wide type, narrow size", with(with(narrow, 0, 34), 4, 3), 38, TDecodeResult::BadSize},
        {"size beyond the bytes", with(narrow, 0, 0xFFFFFFFF), 38, TDecodeResult::Truncated},
        {"L one too large", with(narrow, 29, 5), 38, TDecodeResult::BadLength},
        {"L that wraps", with(narrow, 29, 0xFFFFFFFF), 38, TDecodeResult::BadLength},
        {"no terminator", withByte(narrow, 36, 'd'), 38, TDecodeResult::BadLength},
        {"wide L odd", with(with(wide, 29, 7), 0, 42), 43, TDecodeResult::BadLength},
        {"wide terminator high byte", withByte(wide, 40, 1), 43, TDecodeResult::BadLength},
        {"wide record read as narrow", with(wide, 4, 0), 43, TDecodeResult::BadLength},
    };
    for (const auto& [name, bytes, available, expected] : cases) {
        const Bytes exact(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(available));
        TDecodedRecord d;
        EXPECT_EQ(DecodeRecord(exact.data(), exact.size(), d), expected) << name;
    }
}

TEST(LogRing, WriteKeepsTheStrictFreeSpaceRuleAndSplitsAtTheEnd)
{
    // A 64-byte ring: read, write, record size -> written, new write offset.
    const uint32_t cases[][5] = {
        {10, 10, 64, 0, 0},  // an empty ring drops a record as large as the ring ...
        {10, 10, 63, 1, 9},  // ... and takes one byte less, wrapping
        {20, 10, 10, 0, 0},  // reader ahead: exactly the free space is dropped ...
        {20, 10, 9, 1, 19},  // ... one byte less fits
        {30, 50, 20, 1, 6},  // split at the end, the tail at 0
        {30, 50, 14, 1, 0},  // ends exactly at the end
        {5, 63, 4, 1, 3},    // split after one byte
        {30, 50, 43, 1, 29}, // the tail runs up to one below the reader ...
        {30, 50, 44, 0, 0},  // ... but never reaches it
    };
    for (const auto& c : cases) {
        Bytes ring(64, 0xEE);
        Bytes expected = ring;
        Bytes record(c[2]);
        for (uint32_t i = 0; i < c[2]; ++i) {
            record[i] = static_cast<uint8_t>(i + 1);
            expected[(c[1] + i) % 64] = c[3] ? record[i] : 0xEE;
        }
        uint32_t newWrite = 0xDEAD;
        EXPECT_EQ(RingWrite(ring.data(), TRingState{64, c[0], c[1]}, record.data(), c[2], newWrite),
                  c[3] ? TRingWriteResult::Written : TRingWriteResult::NoSpace)
            << c[0] << " " << c[1] << " " << c[2];
        EXPECT_TRUE(!c[3] || newWrite == c[4]) << newWrite;
        EXPECT_EQ(ring, expected);
    }
    EXPECT_EQ(RingFreeSpace(57, 57, 100), 100u);
    EXPECT_EQ(RingFreeSpace(11, 10, 100), 1u);
    EXPECT_EQ(RingFreeSpace(5, kRingCapacity - 1, kRingCapacity), 6u);
    Bytes ring(64, 7);
    ring[63] = 63;
    Bytes out(3);
    RingRead(ring.data(), 64, 63, out.data(), 3);
    EXPECT_EQ(out, (Bytes{63, 7, 7}));
}

TEST(LogRing, ControlBlockIsAcceptedOnlyInsideTheMapping)
{
    const size_t small = kRingControlSize + 256;
    // Mapping size, capacity, read, write -> accepted.
    const uint64_t cases[][5] = {
        {small, 256, 255, 255, true},       {small, 100, 99, 0, true},        {small, 0, 0, 0, false},
        {small, 257, 0, 0, false},          {small, 0xFFFFFFFF, 0, 0, false}, {small, 256, 256, 0, false},
        {small, 256, 0, 0xFFFFFFFF, false}, {kRingControlSize, 0, 0, 0, false},
        {kRingMappingSize, kRingCapacity, 1000, kRingCapacity - 1, true},
        {kRingMappingSize, kRingCapacity + 1, 0, 0, false},
    };
    for (const auto& c : cases) {
        Bytes control(kRingControlSize);  // only the control block is read
        StoreU32(control.data() + kRingCapacityOffset, uint32_t(c[1]));
        StoreU32(control.data() + kRingReadOffset, uint32_t(c[2]));
        StoreU32(control.data() + kRingWriteOffset, uint32_t(c[3]));
        TRingState state;
        EXPECT_EQ(ReadRingState(control.data(), c[0], state), c[4] != 0) << c[0] << " " << c[1] << " " << c[2] << " " << c[3];
    }
    Bytes tiny(11);
    TRingState state;
    EXPECT_FALSE(ReadRingState(tiny.data(), tiny.size(), state));
}

TEST(LogBuffer, GrowsIn102400ByteStepsAndTimestampsAreExact)
{
    const size_t growth[][2] = {{0, 102400}, {102399, 102400}, {102400, 204800}, {204801, 307200}};
    for (const auto& c : growth) {
        EXPECT_EQ(GrownCapacity(c[0]), c[1]) << c[0];
    }
    // Where a naive counter x 1,000 overflows 64 bits.
    const uint64_t stamps[][2] = {{UINT64_MAX - 12345, 10000000}, {123456789012345ull, 3579545}, {UINT64_MAX, 2900000000ull}};
    for (const auto& c : stamps) {
        EXPECT_EQ(CounterToMilliseconds(c[0], c[1]), uint64_t(static_cast<unsigned __int128>(c[0]) * 1000u / c[1]));
    }
    EXPECT_EQ(CounterToMilliseconds(123456789, 0), 0u);
}

int LeaveEarly(bool early)
{
    int result = -1;
    TScopedLog scoped("T::Leave", &result);
    return result = early ? -7 : 3;
}

TEST(NativeLogSink, KeepsTypeLevelAndTextAndTheScopedExitLine)
{
    ClearNativeLogLines();
    LogDetail("%s %d", "detail", 1);
    LogVerbose("%s exit with %d", "C::D", -13);
    LogWarning("%s", "warn");
    LogError("%s error %x", "E::F", 0x80004001u);
    LeaveEarly(true);
    LeaveEarly(false);
    std::vector<std::string> lines;
    for (const TNativeLogLine& line : NativeLogLines()) {
        lines.push_back(std::to_string(line.ui32Type) + std::to_string(line.ui8Level) + " " + line.strText);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"01 detail 1", "02 C::D exit with -13", "10 warn", "20 E::F error 80004001",
                                               "00 T::Leave", "00 T::Leave exit with -7", "00 T::Leave",
                                               "00 T::Leave exit with 3"}));
}

}  // namespace
