// The server's directory entries: the editing walk over damaged directories (on a heap buffer),
// and registration as a client sees it: found, replaced by a later server of the same prefix,
// removed by its owner only, other entries left alone.
#include "ServerDirectory.h"
#include "ServerTestSupport.h"

#include "log/LogDirectory.h"

#include <algorithm>
#include <cstring>
#include <memory>

using namespace lstest;
using namespace logserver;
using zyrlog::LoadU32;
using zyrlog::StoreU32;

namespace {

// An entry of `size` bytes (at least 8) with the given type and prefix, padded with 0xAB.
std::vector<uint8_t> RawEntry(uint32_t type, std::u16string_view prefix, size_t size)
{
    std::vector<uint8_t> entry = zyrlog::BuildDirectoryEntry(type, prefix, u"log", nullptr, 0);
    entry.resize(size, 0xAB);
    StoreU32(entry.data(), static_cast<uint32_t>(size));
    return entry;
}

// A directory of `viewSize` bytes holding `entries` back to back and the count `count`.
std::vector<uint8_t> Directory(size_t viewSize, const std::vector<std::vector<uint8_t>>& entries, uint32_t count)
{
    std::vector<uint8_t> view(viewSize, 0);
    size_t at = zyrlog::kDirectoryEntriesOffset;
    for (const auto& entry : entries) {
        std::memcpy(view.data() + at, entry.data(), std::min(entry.size(), viewSize - at));
        at += std::min(entry.size(), viewSize - at);
    }
    StoreU32(view.data(), count);
    return view;
}

TEST(ServerDirectoryWalk, StopsWhereTheDirectoryStopsMakingSense)
{
    const auto a = RawEntry(3, u"A\\", 5000);
    const auto b = RawEntry(5, u"B\\", 4200);
    struct Case {
        const char* name;
        std::vector<uint8_t> view;
        std::vector<TEntrySpan> expected;
    };
    std::vector<uint8_t> tooLong = Directory(20000, {a, b}, 2);
    StoreU32(tooLong.data() + 4 + 5000, 20000);  // b claims to run past the view
    std::vector<uint8_t> tiny = Directory(20000, {a, b}, 2);
    StoreU32(tiny.data() + 4 + 5000, 7);         // smaller than its own size and type fields
    const Case cases[] = {
        {"two whole entries", Directory(20000, {a, b}, 2), {{4, 5000}, {5004, 4200}}},
        {"count below the entries", Directory(20000, {a, b}, 1), {{4, 5000}}},
        {"count above the entries: size 0 ends", Directory(20000, {a, b}, 1000000), {{4, 5000}, {5004, 4200}}},
        {"entry past the view", tooLong, {{4, 5000}}},
        {"entry smaller than its header", tiny, {{4, 5000}}},
        {"view ends inside the second entry", Directory(9000, {a, b}, 2), {{4, 5000}}},
        {"view too small for a count", std::vector<uint8_t>(3, 0xFF), {}},
        {"count 0", Directory(20000, {a, b}, 0), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<TEntrySpan> got = WholeEntries(c.view.data(), c.view.size());
        ASSERT_EQ(got.size(), c.expected.size());
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].offset, c.expected[i].offset);
            EXPECT_EQ(got[i].size, c.expected[i].size);
        }
    }
}

TEST(ServerDirectoryWalk, RemovingCompactsInOrderAndZeroesTheFreedBytes)
{
    const auto keep1 = RawEntry(5, u"C:\\Apps\\", 4200);
    const auto drop1 = RawEntry(3, u"c:\\apps\\", 4500);
    const auto keep2 = RawEntry(3, u"C:\\Apps\\Tool\\", 4300);
    const auto drop2 = RawEntry(3, u"C:\\APPS\\", 4100);
    std::vector<uint8_t> view = Directory(40000, {keep1, drop1, keep2, drop2}, 4);
    const size_t oldEnd = 4 + 4200 + 4500 + 4300 + 4100;

    const size_t removed = RemoveEntries(view.data(), view.size(), [](const uint8_t* entry, size_t size) {
        return IsLogEntryWithPrefix(entry, size, u"C:\\Apps\\");
    });

    EXPECT_EQ(removed, 2u);
    EXPECT_EQ(LoadU32(view.data()), 2u);
    EXPECT_EQ(std::memcmp(view.data() + 4, keep1.data(), keep1.size()), 0);
    EXPECT_EQ(std::memcmp(view.data() + 4 + keep1.size(), keep2.data(), keep2.size()), 0);
    const size_t newEnd = 4 + keep1.size() + keep2.size();
    for (size_t i = newEnd; i < oldEnd; ++i) {
        ASSERT_EQ(view[i], 0) << "at " << i;
    }
}

TEST(ServerDirectoryWalk, RemovingDropsWhatLiesPastADamagedEntry)
{
    const auto a = RawEntry(5, u"A\\", 4200);
    const auto b = RawEntry(5, u"B\\", 4200);
    std::vector<uint8_t> view = Directory(20000, {a, b}, 2);
    StoreU32(view.data() + 4 + 4200, 0);  // b's size field destroyed
    RemoveEntries(view.data(), view.size(), [](const uint8_t*, size_t) { return false; });
    EXPECT_EQ(LoadU32(view.data()), 1u);
    EXPECT_EQ(WholeEntries(view.data(), view.size()).size(), 1u);
}

TEST(ServerDirectoryWalk, AppendingNeedsRoomInTheView)
{
    const auto a = RawEntry(5, u"A\\", 4200);
    const auto b = RawEntry(3, u"B\\", 4200);
    std::vector<uint8_t> exact = Directory(4 + 4200 + 4200, {a}, 1);
    EXPECT_TRUE(AppendEntry(exact.data(), exact.size(), b));
    EXPECT_EQ(LoadU32(exact.data()), 2u);
    EXPECT_EQ(std::memcmp(exact.data() + 4 + 4200, b.data(), b.size()), 0);

    std::vector<uint8_t> short1 = Directory(4 + 4200 + 4199, {a}, 1);
    const std::vector<uint8_t> before = short1;
    EXPECT_FALSE(AppendEntry(short1.data(), short1.size(), b));
    EXPECT_EQ(short1, before) << "a refused append leaves the directory as it was";
}

TEST(ServerDirectoryWalk, EntryPrefixStaysInsideTheEntry)
{
    struct Case {
        const char* name;
        uint32_t type;
        std::u16string prefix;
        size_t size;
        std::u16string_view compareWith;
        bool expected;
    };
    const Case cases[] = {
        {"same, other case", 3, u"c:\\apps\\", 4200, u"C:\\APPS\\", true},
        {"other type", 5, u"C:\\Apps\\", 4200, u"C:\\Apps\\", false},
        {"longer prefix", 3, u"C:\\Apps\\Tool\\", 4200, u"C:\\Apps\\", false},
        {"shorter prefix", 3, u"C:\\", 4200, u"C:\\Apps\\", false},
        {"prefix cut by the entry's end", 3, u"C:\\Apps\\", 8 + 2 * 3, u"C:\\", true},
        {"entry ends before the prefix", 3, u"C:\\Apps\\", 8, u"", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> entry = RawEntry(c.type, c.prefix, 4200);
        EXPECT_EQ(IsLogEntryWithPrefix(entry.data(), c.size, c.compareWith), c.expected);
    }
}

TEST(ServerDirectoryWalk, OwnedEntryIsStillReadByClients)
{
    const std::vector<zyrlog::TDirectoryModule> modules = {{4, u"C:\\Apps\\tool\\cap.exe"}};
    const auto entry = BuildOwnedEntry(u"C:\\Apps\\", u"owned", modules, TOwnerMark{77, 5});
    ASSERT_EQ(entry.size(), zyrlog::kEntryModulesOffset + zyrlog::kModuleEntrySize + kOwnerMarkSize);
    EXPECT_EQ(LoadU32(entry.data()), entry.size());
    const uint8_t* mark = entry.data() + entry.size() - kOwnerMarkSize;
    EXPECT_EQ(LoadU32(mark), kOwnerMarkMagic);
    EXPECT_EQ(LoadU32(mark + 4), 77u);
    EXPECT_EQ(zyrlog::LoadU64(mark + 8), 5u);

    const auto other = RawEntry(3, u"D:\\", 4200);
    std::vector<uint8_t> view = Directory(20000, {other, entry}, 2);
    const zyrlog::TDirectoryMatch match =
        zyrlog::FindDirectoryEntry(view.data(), view.size(), u"c:\\apps\\tool\\", u"c:\\apps\\tool\\CAP.EXE");
    EXPECT_TRUE(match.bFound);
    EXPECT_EQ(match.wsLogName, u"owned");
    EXPECT_EQ(match.ui32ModuleId, 4u);
}

// The live directory of a set of names, opened the way a client opens it.
class LiveDirectory {
public:
    explicit LiveDirectory(const TLogObjectNames& names)
        : hMapping(::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, names.wsDirectoryMapping.c_str()))
    {
        if (hMapping) {
            view = TMappedView(::MapViewOfFile(hMapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, zyrlog::kDirectoryViewSize),
                               zyrlog::kDirectoryViewSize);
        }
    }
    uint8_t* Bytes() const { return view.Bytes(); }
    std::vector<TEntrySpan> Entries() const { return WholeEntries(view.Bytes(), view.Size()); }
    size_t LogEntriesFor(std::u16string_view prefix) const
    {
        size_t n = 0;
        for (const TEntrySpan& e : Entries()) {
            n += IsLogEntryWithPrefix(view.Bytes() + e.offset, e.size, prefix) ? 1 : 0;
        }
        return n;
    }

private:
    TKernelHandle hMapping;
    TMappedView view;
};

TEST(ServerRegistration, ClientFindsTheLogNameAndItsModuleId)
{
    const TLogObjectNames names = UniqueNames(L"reg");
    TLogServer server;
    StartOrFail(server, Config(names, 0, L"found"));
    TLogClient client(names, kModulePath);
    EXPECT_EQ(client.ModuleId(), kModuleId);
    LogNarrow(client, zyrlog::TRecordType::Info, 0, "%s", "hello");
    EXPECT_TRUE(client.IsConnected());
    EXPECT_EQ(client.LogName(), L"found");
    const auto records = Drain(server);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].record.fields.ui32ModuleId, kModuleId);

    TLogClient stranger(names, L"C:\\Other\\cap.exe");
    EXPECT_EQ(stranger.ModuleId(), 0u);
    LogNarrow(stranger, zyrlog::TRecordType::Info, 0, "%s", "not covered");
    EXPECT_FALSE(stranger.IsConnected());
}

TEST(ServerRegistration, LaterServerOfTheSamePrefixReplacesTheEntryAndOwnersRemoveOnlyTheirOwn)
{
    const TLogObjectNames names = UniqueNames(L"replace");
    auto first = std::make_unique<TLogServer>();
    StartOrFail(*first, Config(names, 0, L"first"));
    TLogServerConfig secondConfig = Config(names, 0, L"second");
    secondConfig.wsDirectoryPrefix = L"c:\\apps\\";
    auto second = std::make_unique<TLogServer>();
    StartOrFail(*second, secondConfig);

    LiveDirectory directory(names);
    ASSERT_NE(directory.Bytes(), nullptr);
    EXPECT_EQ(directory.LogEntriesFor(u"C:\\Apps\\"), 1u);
    {
        TLogClient client(names, kModulePath);
        LogNarrow(client, zyrlog::TRecordType::Info, 0, "%s", "x");
        EXPECT_EQ(client.LogName(), L"second");
    }

    first.reset();
    EXPECT_EQ(directory.LogEntriesFor(u"C:\\Apps\\"), 1u) << "the first server leaves the second's entry alone";
    second.reset();
    EXPECT_EQ(directory.LogEntriesFor(u"C:\\Apps\\"), 0u);
    EXPECT_EQ(LoadU32(directory.Bytes()), 0u);
    TLogClient late(names, kModulePath);
    EXPECT_EQ(late.ModuleId(), 0u);
    LogNarrow(late, zyrlog::TRecordType::Info, 0, "%s", "nobody listens");
    EXPECT_FALSE(late.IsConnected());
}

TEST(ServerRegistration, IdenticalServersEachRemoveTheirOwnEntry)
{
    const TLogObjectNames names = UniqueNames(L"twins");
    auto first = std::make_unique<TLogServer>();
    StartOrFail(*first, Config(names));
    StartOrFail(*first, Config(names));  // a second Start of the same object replaces its own entry
    LiveDirectory directory(names);
    EXPECT_EQ(directory.LogEntriesFor(u"C:\\Apps\\"), 1u);
    auto twin = std::make_unique<TLogServer>();
    StartOrFail(*twin, Config(names));
    EXPECT_EQ(directory.LogEntriesFor(u"C:\\Apps\\"), 1u);
    first.reset();
    EXPECT_EQ(directory.LogEntriesFor(u"C:\\Apps\\"), 1u) << "the twin's entry is not the first's";
    twin.reset();
    EXPECT_EQ(directory.LogEntriesFor(u"C:\\Apps\\"), 0u);
}

TEST(ServerRegistration, OtherEntriesSurviveStartAndStop)
{
    const TLogObjectNames names = UniqueNames(L"others");
    TLogClient creator(names, kModulePath);  // creates the empty directory
    LiveDirectory directory(names);
    ASSERT_NE(directory.Bytes(), nullptr);
    const auto otherType = RawEntry(5, u"C:\\Apps\\", 4200);
    const auto otherPrefix = RawEntry(3, u"C:\\Apps\\tool\\", 4300);
    std::memcpy(directory.Bytes() + 4, otherType.data(), otherType.size());
    std::memcpy(directory.Bytes() + 4 + 4200, otherPrefix.data(), otherPrefix.size());
    StoreU32(directory.Bytes(), 2);
    {
        TLogServer server;
        StartOrFail(server, Config(names));
        const auto entries = directory.Entries();
        ASSERT_EQ(entries.size(), 3u);
        EXPECT_EQ(std::memcmp(directory.Bytes() + 4, otherType.data(), otherType.size()), 0);
        EXPECT_EQ(std::memcmp(directory.Bytes() + 4 + 4200, otherPrefix.data(), otherPrefix.size()), 0);
        EXPECT_TRUE(IsLogEntryWithPrefix(directory.Bytes() + entries[2].offset, entries[2].size, u"C:\\Apps\\"));
    }
    EXPECT_EQ(LoadU32(directory.Bytes()), 2u);
    EXPECT_EQ(std::memcmp(directory.Bytes() + 4 + 4200, otherPrefix.data(), otherPrefix.size()), 0);
}

TEST(ServerRegistration, StartRefusesAnEmptyPrefixOrLogName)
{
    const TLogObjectNames names = UniqueNames(L"empty");
    for (const bool bEmptyPrefix : {true, false}) {
        SCOPED_TRACE(bEmptyPrefix ? "prefix" : "log name");
        TLogServerConfig config = Config(names);
        (bEmptyPrefix ? config.wsDirectoryPrefix : config.wsLogName).clear();
        TLogServer server;
        std::wstring error;
        EXPECT_FALSE(server.Start(config, &error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(server.RingControl(), nullptr);
    }
}

}  // namespace
