// Log records byte for byte, the reader's refusals, the ring's arithmetic, buffer growth, the
// native sink the layout tests read, and the directory walk over views anything may have written.
// Byte vectors are built at their exact size, so AddressSanitizer reports any access past them.
#include "log/Log.h"
#include "log/LogDirectory.h"
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
        EXPECT_EQ(std::tie(d.wsText, d.strText), std::tie(wide, utf8));
    }
    Bytes record = Pack("abc", 4, 2);
    record.insert(record.end(), 20, 0xFF);  // bytes after the record are not part of it
    const Bytes exact(record);
    TDecodedRecord d;
    ASSERT_EQ(DecodeRecord(exact.data(), exact.size(), d), TDecodeResult::Ok);
    const TRecordFields& f = d.fields;
    EXPECT_EQ(std::make_tuple(d.ui32Size, d.strText, f.ui32Type, f.ui32ProcessId, f.ui32ModuleId, f.ui32ThreadId,
                              f.ui64Timestamp, f.bStopSeen),
              std::make_tuple(38u, std::string("abc"), 2u, 0x11223344u, 0x55667788u, 0x99AABBCCu,
                              0x0102030405060708ull, uint8_t{1}));
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
    EXPECT_EQ(RingFreeSpace(5, kRingCapacity - 1, kRingCapacity), 6u);
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
    // Time stamps stay exact where a naive counter x 1,000 overflows 64 bits.
    EXPECT_EQ(CounterToMilliseconds(UINT64_MAX, 2900000000ull), 6360946232313ull);
    EXPECT_EQ(CounterToMilliseconds(123456789, 0), 0u);
}

int Leave(bool early)
{
    int result = -1;
    TScopedLog scoped("T::Leave", &result);
    return result = early ? -7 : 3;
}

TEST(NativeLogSink, KeepsTypeLevelAndTextAndTheScopedExitLine)
{
    ClearNativeLogLines();
    LogVerbose("%s exit with %d", "C::D", -13);
    LogError("%s error %x", "E::F", 0x80004001u);
    Leave(true);
    Leave(false);
    std::vector<std::string> lines;
    for (const TNativeLogLine& line : NativeLogLines()) {
        lines.push_back(std::to_string(line.ui32Type) + std::to_string(line.ui8Level) + " " + line.strText);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"02 C::D exit with -13", "20 E::F error 80004001", "00 T::Leave",
                                               "00 T::Leave exit with -7", "00 T::Leave", "00 T::Leave exit with 3"}));
}

// The directory walk: which entry and module match, and hostile sizes, counts and unterminated
// strings never take it outside the view.
const std::u16string kPath = u"c:\\apps\\tool\\ZYRFullscreenCapturer.exe";

Bytes Entry(uint32_t type, std::u16string_view prefix, std::u16string_view logName,
            const std::vector<TDirectoryModule>& modules = {})
{
    return BuildDirectoryEntry(type, prefix, logName, modules.data(), modules.size());
}

Bytes Directory(const std::vector<Bytes>& entries, uint32_t count = 0xFFFFFFFE)
{
    Bytes view(4);
    StoreU32(view.data(), count == 0xFFFFFFFE ? static_cast<uint32_t>(entries.size()) : count);
    for (const Bytes& entry : entries) {
        view.insert(view.end(), entry.begin(), entry.end());
    }
    return view;
}

Bytes With(Bytes bytes, size_t at, uint32_t value)
{
    StoreU32(bytes.data() + at, value);
    return bytes;
}

Bytes Wide(Bytes bytes, std::u16string_view text)
{
    for (char16_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    return bytes;
}

// A count of 1 and an entry header (size 4 GiB - 1, type 3) followed by a raw prefix that runs
// into the view's end.
Bytes Cut(std::u16string_view prefix)
{
    return Wide(With(With(With(Bytes(12), 0, 1), 4, 0xFFFFFFFF), 8, 3), prefix);
}

TEST(LogDirectoryWalk, MatchesAndStaysInsideHostileViews)
{
    const std::vector<TDirectoryModule> tool = {{7, u"C:\\APPS\\TOOL\\zyrfullscreencapturer.EXE"}};
    const Bytes one = Entry(3, u"C:\\", u"L", {{11, kPath}});
    const Bytes two = Entry(3, u"C:\\", u"L", {{11, u"x"}, {12, kPath}});
    const size_t count = 4 + kEntryModuleCountOffset;
    const std::u16string padded = kPath + std::u16string(kModulePathUnits - kPath.size(), u'z');
    // An entry sized past the view with one module whose path runs into the view's end.
    auto rawModule = [&](std::u16string_view path) {
        Bytes v = With(With(Directory({Entry(3, u"C:\\", u"L")}), 4, 0xFFFFFFFF), count, 1);
        v.insert(v.end(), {77, 0, 0, 0});
        return Wide(v, path);
    };
    Bytes logNameCut = Cut(u"C:\\");
    logNameCut.resize(4 + kEntryLogNameOffset);
    Bytes runOnName = Directory({Entry(3, u"C:\\", u"", {{1, std::u16string(1000, u'm')}})});
    for (size_t at = 4 + kEntryLogNameOffset; at < runOnName.size(); at += 2) {
        runOnName[at] = 'n';
        runOnName[at + 1] = 0;
    }
    // View, module path -> found, log name, module id.
    const std::tuple<const char*, Bytes, std::u16string, bool, std::u16string, uint32_t> cases[] = {
        // Prefixes and modules compare ignoring the case of A-Z only.
        {"prefix and module path ignoring case", Directory({Entry(3, u"C:\\Apps\\", u"Apps", tool)}), kPath, true,
         u"Apps", 7},
        {"prefix longer than the directory", Directory({Entry(3, u"C:\\Apps\\Tool\\Sub\\", u"L", tool)}), kPath, false,
         u"", 0},
        {"non-ASCII letters exactly", Directory({Entry(3, u"C:\\\u00C4\\", u"L")}), u"c:\\\u00E4\\x.exe", false, u"",
         0},
        {"empty prefix matches every module", Directory({Entry(3, u"", u"All")}), kPath, true, u"All", 0},
        // Which entry and which module.
        {"first match wins, other types ignored",
         Directory({Entry(2, u"C:\\", u"Two"), Entry(3, u"D:\\", u"D"), Entry(3, u"C:\\", u"Root"),
                    Entry(3, u"C:\\Apps\\", u"Apps")}),
         kPath, true, u"Root", 0},
        {"count stops the walk", Directory({Entry(3, u"D:\\", u"D"), Entry(3, u"C:\\", u"C")}, 1), kPath, false, u"",
         0},
        {"huge count still finds a later entry",
         Directory({Entry(3, u"D:\\", u"D"), Entry(3, u"C:\\", u"C")}, 0xFFFFFFFF), kPath, true, u"C", 0},
        {"second module", Directory({two}), kPath, true, u"L", 12},
        {"modules of a non-matching entry",
         Directory({Entry(3, u"D:\\", u"D", {{3, kPath}}), Entry(3, u"C:\\", u"C")}), kPath, true, u"C", 0},
        // Sizes and counts that say anything.
        {"entry size 0 ends the walk", Directory({With(Entry(3, u"D:\\", u"D"), 0, 0), Entry(3, u"C:\\", u"C")}),
         kPath, false, u"", 0},
        {"entry size past the view: cut at the view's end", With(Directory({one}), 4, 0x7FFFFFFF), kPath, true, u"L",
         11},
        {"entry sized past the view hides the rest",
         Directory({With(Entry(3, u"D:\\", u"D"), 0, 0xFFFFFFFF), Entry(3, u"C:\\", u"C")}), kPath, false, u"", 0},
        {"module count larger than fits", With(Directory({one}), count, 0x7FFFFFFF), kPath, true, u"L", 11},
        {"negative module count", With(Directory({one}), count, 0x80000000), kPath, true, u"L", 0},
        {"entry size cuts the second module off",
         With(Directory({two}), 4, static_cast<uint32_t>(kEntryModulesOffset + kModuleEntrySize)), kPath, true, u"L",
         0},
        {"entry size too small for the log name", With(Directory({one}), 4, 2056), kPath, true, u"", 0},
        // Strings without a terminator.
        {"prefix runs into the view's end", Cut(u"C:\\Apps\\"), kPath, true, u"", 0},
        {"cut prefix is still compared", Cut(u"C:\\Appz"), kPath, false, u"", 0},
        {"half a unit at the end is ignored", [] { Bytes v = Cut(u"C:\\"); v.push_back('X'); return v; }(), kPath,
         true, u"", 0},
        {"log name runs into the view's end", Wide(logNameCut, u"Cut"), kPath, true, u"Cut", 0},
        {"log name never exceeds its field", runOnName, kPath, true, std::u16string(kEntryLogNameUnits, u'n'), 0},
        {"module path runs into the view's end", rawModule(kPath), kPath, true, u"L", 0},
        {"module path fills its entry at the view's end", rawModule(padded), padded, true, u"L", 77},
    };
    for (const auto& [name, bytes, path, found, logName, moduleId] : cases) {
        const Bytes view(bytes);  // a copy holds no spare capacity
        const TDirectoryMatch match = FindDirectoryEntry(view.data(), view.size(), ModuleDirectoryOf(path), path);
        EXPECT_EQ(std::tie(match.bFound, match.wsLogName, match.ui32ModuleId), std::tie(found, logName, moduleId))
            << name;
    }
    EXPECT_FALSE(FindDirectoryEntry(nullptr, kDirectoryViewSize, u"C:\\", kPath).bFound);
}

}  // namespace
