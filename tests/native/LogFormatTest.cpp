#include "log/LogFormat.h"

#include "ExactBuffer.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace {

using namespace zyrlog;

TRecordFields SampleFields(uint32_t type)
{
    TRecordFields fields;
    fields.ui32Type = type;
    fields.ui32ProcessId = 0x11223344;
    fields.ui32ModuleId = 0x55667788;
    fields.ui32ThreadId = 0x99AABBCC;
    fields.ui64Timestamp = 0x0102030405060708ull;
    fields.bStopSeen = 1;
    return fields;
}

// The record header of SampleFields, spelled out byte by byte (little-endian).
std::vector<uint8_t> SampleHeaderBytes(uint8_t size, uint8_t type, uint8_t textLength)
{
    return {size, 0, 0, 0,                                   // size
            type, 0, 0, 0,                                   // type
            0x44, 0x33, 0x22, 0x11,                          // process id
            0x88, 0x77, 0x66, 0x55,                          // module id
            0xCC, 0xBB, 0xAA, 0x99,                          // thread id
            0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01,  // time stamp
            0x01,                                            // stop-seen
            textLength, 0, 0, 0};                            // L
}

TEST(RecordPacking, NarrowAbcIsByteExact)
{
    ASSERT_EQ(RecordSize(4, false), 38u);
    ExactBuffer record(38, 0xEE);
    ASSERT_EQ(PackRecord(record.data(), SampleFields(0), "abc", 4, false), 38u);
    std::vector<uint8_t> expected = SampleHeaderBytes(38, 0, 4);
    ASSERT_EQ(expected.size(), 33u);
    for (uint8_t b : std::initializer_list<uint8_t>{'a', 'b', 'c', 0}) {
        expected.push_back(b);
    }
    expected.push_back(0);  // one trailing byte, zeroed by the packer
    EXPECT_EQ(record.ToVector(), expected);
}

TEST(RecordPacking, WideAbcIsByteExact)
{
    ASSERT_EQ(RecordSize(8, true), 43u);
    const char16_t text[] = u"abc";
    ExactBuffer record(43, 0xEE);
    ASSERT_EQ(PackRecord(record.data(), SampleFields(3), text, sizeof text, true), 43u);
    std::vector<uint8_t> expected = SampleHeaderBytes(43, 3, 8);
    for (uint8_t b : std::initializer_list<uint8_t>{'a', 0, 'b', 0, 'c', 0, 0, 0}) {
        expected.push_back(b);
    }
    expected.push_back(0);  // two trailing bytes
    expected.push_back(0);
    EXPECT_EQ(record.ToVector(), expected);
}

TEST(RecordPacking, OversizedTextIsRefusedBeforeAnythingIsWritten)
{
    if constexpr (sizeof(size_t) > 4) {
        ExactBuffer record(1, 0x77);
        EXPECT_EQ(PackRecord(record.data(), SampleFields(0), nullptr, size_t{0xFFFFFFFF}, false), 0u);
        EXPECT_EQ(record.data()[0], 0x77);
    } else {
        GTEST_SKIP() << "a text of 4 GiB cannot be described on a 32-bit build";
    }
}

TEST(RecordTypes, WideTypes)
{
    struct Case {
        uint32_t type;
        bool wide;
    };
    const Case cases[] = {{0, false}, {1, false}, {2, false}, {3, true}, {4, true},
                          {5, false}, {6, true},  {7, false}, {0xFFFFFFFF, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type);
        EXPECT_EQ(IsWideRecordType(c.type), c.wide);
    }
    EXPECT_EQ(static_cast<uint32_t>(TRecordType::ThreadStart), 6u);
    EXPECT_EQ(kRingCapacity, 20959498u);
}

std::vector<uint8_t> PackNarrow(const std::string& text, uint32_t type = 0)
{
    std::vector<uint8_t> record(RecordSize(text.size() + 1, false));
    PackRecord(record.data(), SampleFields(type), text.c_str(), text.size() + 1, false);
    return record;
}

std::vector<uint8_t> PackWide(const std::u16string& text, uint32_t type = 3)
{
    const size_t bytes = 2 * (text.size() + 1);
    std::vector<uint8_t> record(RecordSize(bytes, true));
    PackRecord(record.data(), SampleFields(type), text.c_str(), bytes, true);
    return record;
}

TEST(RecordDecoding, NarrowRoundTrip)
{
    const std::string texts[] = {"", "abc", "TZYRFullscreenCapturer::Run exit with -3", std::string(5000, 'q'),
                                 "\xC3\xA9t\xC3\xA9"};
    for (const std::string& text : texts) {
        SCOPED_TRACE(testing::Message() << "length " << text.size());
        const ExactBuffer record(PackNarrow(text, 2));
        TDecodedRecord decoded;
        ASSERT_EQ(DecodeRecord(record.data(), record.size(), decoded), TDecodeResult::Ok);
        EXPECT_EQ(decoded.ui32Size, record.size());
        EXPECT_EQ(decoded.ui32TextLength, text.size() + 1);
        EXPECT_EQ(decoded.fields.ui32Type, 2u);
        EXPECT_EQ(decoded.fields.ui32ProcessId, 0x11223344u);
        EXPECT_EQ(decoded.fields.ui32ModuleId, 0x55667788u);
        EXPECT_EQ(decoded.fields.ui32ThreadId, 0x99AABBCCu);
        EXPECT_EQ(decoded.fields.ui64Timestamp, 0x0102030405060708ull);
        EXPECT_EQ(decoded.fields.bStopSeen, 1u);
        EXPECT_EQ(decoded.strText, text);
        EXPECT_TRUE(decoded.wsText.empty());
    }
}

TEST(RecordDecoding, WideRoundTrip)
{
    struct Case {
        const char* name;
        std::u16string text;
        uint32_t type;
        std::string utf8;
    };
    const Case cases[] = {
        {"empty", u"", 3, ""},
        {"thread marker", u"WinMain", 6, "WinMain"},
        {"warning", u"abc", 4, "abc"},
        {"two- and three-byte characters", u"\u00E9\u4E2D", 3, "\xC3\xA9\xE4\xB8\xAD"},
        {"surrogate pair", u"\U0001F600", 3, "\xF0\x9F\x98\x80"},
        {"unpaired surrogate", std::u16string(1, char16_t(0xD800)), 3, "\xEF\xBF\xBD"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ExactBuffer record(PackWide(c.text, c.type));
        TDecodedRecord decoded;
        ASSERT_EQ(DecodeRecord(record.data(), record.size(), decoded), TDecodeResult::Ok);
        EXPECT_EQ(decoded.ui32Size, 35 + 2 * (c.text.size() + 1));
        EXPECT_EQ(decoded.fields.ui32Type, c.type);
        EXPECT_EQ(decoded.wsText, c.text);
        EXPECT_EQ(decoded.strText, c.utf8);
    }
}

TEST(RecordDecoding, ExtraAvailableBytesAreNotPartOfTheRecord)
{
    std::vector<uint8_t> bytes = PackNarrow("abc");
    bytes.insert(bytes.end(), 20, 0xFF);
    const ExactBuffer buffer(bytes);
    TDecodedRecord decoded;
    ASSERT_EQ(DecodeRecord(buffer.data(), buffer.size(), decoded), TDecodeResult::Ok);
    EXPECT_EQ(decoded.ui32Size, 38u);
    EXPECT_EQ(decoded.strText, "abc");
}

void PutU32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value)
{
    StoreU32(bytes.data() + offset, value);
}

TEST(RecordDecoding, RejectsMalformedRecords)
{
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        size_t available;  // the decoder sees an exact heap copy of this many leading bytes
        TDecodeResult expected;
    };
    const std::vector<uint8_t> narrow = PackNarrow("abc");  // 38 bytes, L = 4
    const std::vector<uint8_t> wide = PackWide(u"abc");      // 43 bytes, L = 8
    auto with = [](std::vector<uint8_t> bytes, size_t offset, uint32_t value) {
        PutU32(bytes, offset, value);
        return bytes;
    };
    auto withByte = [](std::vector<uint8_t> bytes, size_t offset, uint8_t value) {
        bytes[offset] = value;
        return bytes;
    };
    const Case cases[] = {
        {"empty input", narrow, 0, TDecodeResult::Truncated},
        {"less than a narrow header", narrow, 33, TDecodeResult::Truncated},
        {"header only", narrow, 34, TDecodeResult::Truncated},
        {"one byte short", narrow, 37, TDecodeResult::Truncated},
        {"wide one byte short", wide, 42, TDecodeResult::Truncated},
        {"size below the narrow overhead", with(narrow, 0, 33), 38, TDecodeResult::BadSize},
        {"size zero", with(narrow, 0, 0), 38, TDecodeResult::BadSize},
        {"wide type with a narrow-sized record", with(with(narrow, 0, 34), 4, 3), 38, TDecodeResult::BadSize},
        {"size beyond the available bytes", with(narrow, 0, 39), 38, TDecodeResult::Truncated},
        {"size of 4 GiB", with(narrow, 0, 0xFFFFFFFF), 38, TDecodeResult::Truncated},
        {"L one too large", with(narrow, 29, 5), 38, TDecodeResult::BadLength},
        {"L one too small", with(narrow, 29, 3), 38, TDecodeResult::BadLength},
        {"L zero with a bare header", with(with(narrow, 0, 34), 29, 0), 38, TDecodeResult::BadLength},
        {"L that wraps when the overhead is added", with(narrow, 29, 0xFFFFFFFF), 38, TDecodeResult::BadLength},
        {"narrow text without terminator", withByte(narrow, 36, 'd'), 38, TDecodeResult::BadLength},
        {"wide L odd", with(with(wide, 29, 7), 0, 42), 43, TDecodeResult::BadLength},
        {"wide L of one unit less than size says", with(wide, 29, 6), 43, TDecodeResult::BadLength},
        {"wide terminator low byte set", withByte(wide, 39, 'd'), 43, TDecodeResult::BadLength},
        {"wide terminator high byte set", withByte(wide, 40, 1), 43, TDecodeResult::BadLength},
        {"wide record read as narrow has a bad L", with(wide, 4, 0), 43, TDecodeResult::BadLength},
        {"narrow record read as wide has a bad L", with(narrow, 4, 6), 38, TDecodeResult::BadLength},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_LE(c.available, c.bytes.size());
        const ExactBuffer buffer(c.bytes, c.available);
        TDecodedRecord decoded;
        const TDecodeResult result = DecodeRecord(buffer.data(), buffer.size(), decoded);
        EXPECT_EQ(result, c.expected) << DecodeResultName(result) << " instead of " << DecodeResultName(c.expected);
    }
}

TEST(RecordDecoding, ResultNames)
{
    EXPECT_STREQ(DecodeResultName(TDecodeResult::Ok), "Ok");
    EXPECT_STREQ(DecodeResultName(TDecodeResult::Truncated), "Truncated");
    EXPECT_STREQ(DecodeResultName(TDecodeResult::BadSize), "BadSize");
    EXPECT_STREQ(DecodeResultName(TDecodeResult::BadLength), "BadLength");
    EXPECT_STREQ(DecodeResultName(static_cast<TDecodeResult>(77)), "Unknown");
}

TEST(Utf16ToUtf8, Table)
{
    struct Case {
        const char* name;
        std::u16string text;
        std::string expected;
    };
    const Case cases[] = {
        {"empty", u"", ""},
        {"ASCII", u"Log", "Log"},
        {"last one-byte", u"\u007F", "\x7F"},
        {"first two-byte", u"\u0080", "\xC2\x80"},
        {"last two-byte", u"\u07FF", "\xDF\xBF"},
        {"first three-byte", u"\u0800", "\xE0\xA0\x80"},
        {"last BMP", u"\uFFFF", "\xEF\xBF\xBF"},
        {"first supplementary", u"\U00010000", "\xF0\x90\x80\x80"},
        {"last supplementary", u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
        {"lone high surrogate at the end", std::u16string{u'a', char16_t(0xDBFF)}, "a\xEF\xBF\xBD"},
        {"lone low surrogate", std::u16string{char16_t(0xDC00), u'b'}, "\xEF\xBF\xBD" "b"},
        {"high then a non-surrogate", std::u16string{char16_t(0xD800), u'c'}, "\xEF\xBF\xBD" "c"},
        {"two highs then a low", std::u16string{char16_t(0xD800), char16_t(0xD83D), char16_t(0xDE00)},
         "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
        {"embedded NUL", std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Utf16ToUtf8(c.text), c.expected);
    }
}

TEST(LittleEndian, LoadsAndStoresAtOddAddresses)
{
    ExactBuffer bytes(13, 0);
    StoreU32(bytes.data() + 1, 0x04030201u);
    StoreU64(bytes.data() + 5, 0x0C0B0A0908070605ull);
    const std::vector<uint8_t> expected = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    EXPECT_EQ(bytes.ToVector(), expected);
    EXPECT_EQ(LoadU32(bytes.data() + 9), 0x0C0B0A09u);
    EXPECT_EQ(LoadU64(bytes.data() + 5), 0x0C0B0A0908070605ull);
}

TEST(BufferGrowth, GrownCapacity)
{
    struct Case {
        const char* name;
        size_t need;
        size_t expected;
    };
    const Case cases[] = {
        {"nothing needed", 0, 102400},
        {"one byte", 1, 102400},
        {"one below a step", 102399, 102400},
        {"a line of 102,399 characters plus terminator", 102399 + 1, 204800},
        {"exact multiple of two steps", 204800, 307200},
        {"just past two steps", 204801, 307200},
        {"ten steps", 1024000, 1126400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(GrownCapacity(c.need), c.expected);
        EXPECT_GT(GrownCapacity(c.need), c.need);
        EXPECT_EQ(GrownCapacity(c.need) % kBufferGrowthStep, 0u);
    }
    static_assert(GrownCapacity(102400) == 204800);
}

TEST(Timestamp, CounterToMillisecondsMatchesExactArithmetic)
{
    struct Case {
        const char* name;
        uint64_t counter;
        uint64_t frequency;
    };
    const Case cases[] = {
        {"zero", 0, 10000000},
        {"just under a millisecond", 9999, 10000000},
        {"one millisecond", 10000, 10000000},
        {"just under a second", 9999999, 10000000},
        {"one second", 10000000, 10000000},
        {"a day at 10 MHz", 864000000000ull, 10000000},
        {"counter near 2^63 at 10 MHz", 0x7FFFFFFFFFFFFFFFull, 10000000},
        {"counter near 2^64 at 10 MHz", 0xFFFFFFFFFFFFFFFFull - 12345, 10000000},
        {"ACPI timer frequency", 123456789012345ull, 3579545},
        {"TSC frequency, large counter", 0xFFFFFFFFFFFFFFFFull, 2900000000ull},
        {"1 GHz, odd counter", 1000000000123456789ull, 1000000000},
        {"frequency 1, small counter", 123456789, 1},
        {"frequency 3, remainder carries", 0x00000100FFFFFFFFull, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const unsigned __int128 exact = static_cast<unsigned __int128>(c.counter) * 1000u / c.frequency;
        EXPECT_EQ(CounterToMilliseconds(c.counter, c.frequency), static_cast<uint64_t>(exact));
    }
}

TEST(Timestamp, ZeroFrequencyGivesZero)
{
    EXPECT_EQ(CounterToMilliseconds(0, 0), 0u);
    EXPECT_EQ(CounterToMilliseconds(123456789, 0), 0u);
}

}  // namespace
