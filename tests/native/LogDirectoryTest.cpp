#include "log/LogDirectory.h"
#include "log/LogFormat.h"

#include "ExactBuffer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace zyrlog;

using Bytes = std::vector<uint8_t>;

Bytes Entry(uint32_t type, std::u16string_view prefix, std::u16string_view logName,
            const std::vector<TDirectoryModule>& modules = {})
{
    return BuildDirectoryEntry(type, prefix, logName, modules.data(), modules.size());
}

// A directory view: the entry count, then the entries back to back.
Bytes Directory(uint32_t count, const std::vector<Bytes>& entries)
{
    Bytes view(4);
    StoreU32(view.data(), count);
    for (const Bytes& entry : entries) {
        view.insert(view.end(), entry.begin(), entry.end());
    }
    return view;
}

Bytes Directory(const std::vector<Bytes>& entries)
{
    return Directory(static_cast<uint32_t>(entries.size()), entries);
}

void AppendWide(Bytes& bytes, std::u16string_view text)
{
    for (char16_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
}

// Runs the walk over an exact-size heap copy of the view, so any read past it is reported.
TDirectoryMatch Find(const Bytes& view, std::u16string_view modulePath)
{
    const ExactBuffer copy(view);
    return FindDirectoryEntry(copy.data(), copy.size(), ModuleDirectoryOf(modulePath), modulePath);
}

constexpr char16_t kToolPath[] = u"c:\\apps\\tool\\ZYRFullscreenCapturer.exe";

struct MatchCase {
    const char* name;
    Bytes view;
    std::u16string modulePath;
    bool found;
    std::u16string logName;
    uint32_t moduleId;
};

void Check(const MatchCase& c)
{
    SCOPED_TRACE(c.name);
    const TDirectoryMatch match = Find(c.view, c.modulePath);
    EXPECT_EQ(match.bFound, c.found);
    EXPECT_EQ(match.wsLogName, c.logName);
    EXPECT_EQ(match.ui32ModuleId, c.moduleId);
}

TEST(DirectoryWalk, PrefixMatching)
{
    const std::vector<TDirectoryModule> tool = {{7, u"C:\\APPS\\TOOL\\zyrfullscreencapturer.EXE"}};
    const MatchCase cases[] = {
        {"prefix matches ignoring the case of A-Z", Directory({Entry(3, u"C:\\Apps\\", u"AppsLog", tool)}), kToolPath,
         true, u"AppsLog", 7},
        {"whole directory as prefix", Directory({Entry(3, u"C:\\Apps\\Tool\\", u"L", tool)}), kToolPath, true, u"L", 7},
        {"prefix longer than the directory", Directory({Entry(3, u"C:\\Apps\\Tool\\Sub\\", u"L", tool)}), kToolPath,
         false, u"", 0},
        {"prefix without trailing backslash still a prefix", Directory({Entry(3, u"c:\\ap", u"L")}), kToolPath, true,
         u"L", 0},
        {"different drive", Directory({Entry(3, u"D:\\Apps\\", u"L", tool)}), kToolPath, false, u"", 0},
        {"non-ASCII letters are compared exactly", Directory({Entry(3, u"C:\\\u00C4pps\\", u"L")}),
         u"c:\\\u00E4pps\\tool\\x.exe", false, u"", 0},
        {"same non-ASCII letters match", Directory({Entry(3, u"C:\\\u00E4pps\\", u"L")}), u"c:\\\u00E4pps\\tool\\x.exe",
         true, u"L", 0},
        {"empty prefix matches every module", Directory({Entry(3, u"", u"Everything")}), kToolPath, true,
         u"Everything", 0},
        {"bracket is not a folded letter", Directory({Entry(3, u"C:\\[", u"L")}), u"c:\\{\\x.exe", false, u"", 0},
    };
    for (const MatchCase& c : cases) {
        Check(c);
    }
}

TEST(DirectoryWalk, EntrySelection)
{
    const MatchCase cases[] = {
        {"first matching entry wins over a more specific later one",
         Directory({Entry(3, u"C:\\", u"Root"), Entry(3, u"C:\\Apps\\Tool\\", u"Tool")}), kToolPath, true, u"Root", 0},
        {"non-matching entries are skipped",
         Directory({Entry(3, u"D:\\", u"D"), Entry(3, u"E:\\", u"E"), Entry(3, u"C:\\apps\\", u"Apps")}), kToolPath,
         true, u"Apps", 0},
        {"entries of other types are ignored",
         Directory({Entry(2, u"C:\\", u"Two"), Entry(4, u"C:\\", u"Four"), Entry(0, u"C:\\", u"Zero"),
                    Entry(3, u"C:\\Apps\\", u"Three")}),
         kToolPath, true, u"Three", 0},
        {"only other types", Directory({Entry(1, u"C:\\", u"One"), Entry(0xFFFFFFFF, u"C:\\", u"Max")}), kToolPath,
         false, u"", 0},
        {"empty directory", Directory({}), kToolPath, false, u"", 0},
        {"count stops the walk before a matching entry", Directory(1, {Entry(3, u"D:\\", u"D"), Entry(3, u"C:\\", u"C")}),
         kToolPath, false, u"", 0},
        {"huge count ends at the zero size after the last entry",
         [] {
             Bytes view = Directory(0xFFFFFFFF, {Entry(3, u"D:\\", u"D")});
             view.resize(view.size() + 64, 0);
             return view;
         }(),
         kToolPath, false, u"", 0},
        {"huge count still finds a later entry",
         Directory(0xFFFFFFFF, {Entry(3, u"D:\\", u"D"), Entry(3, u"C:\\", u"C")}), kToolPath, true, u"C", 0},
    };
    for (const MatchCase& c : cases) {
        Check(c);
    }
}

TEST(DirectoryWalk, ModuleIds)
{
    const std::u16string path = kToolPath;
    const MatchCase cases[] = {
        {"whole path ignoring case", Directory({Entry(3, u"C:\\", u"L", {{41, u"C:\\Apps\\Tool\\ZYRFULLSCREENCAPTURER.exe"}})}),
         path, true, u"L", 41},
        {"second module", Directory({Entry(3, u"C:\\", u"L", {{1, u"c:\\other.exe"}, {2, path}})}), path, true, u"L", 2},
        {"first of two equal paths", Directory({Entry(3, u"C:\\", u"L", {{5, path}, {6, path}})}), path, true, u"L", 5},
        {"stored path is a prefix of the module path", Directory({Entry(3, u"C:\\", u"L", {{9, path.substr(0, 20)}})}),
         path, true, u"L", 0},
        {"module path is a prefix of the stored path", Directory({Entry(3, u"C:\\", u"L", {{9, path + u"x"}})}), path,
         true, u"L", 0},
        {"no modules", Directory({Entry(3, u"C:\\", u"L")}), path, true, u"L", 0},
        {"module id 0 in the entry", Directory({Entry(3, u"C:\\", u"L", {{0, path}})}), path, true, u"L", 0},
        {"modules of a non-matching entry are not used",
         Directory({Entry(3, u"D:\\", u"D", {{3, path}}), Entry(3, u"C:\\", u"C")}), path, true, u"C", 0},
    };
    for (const MatchCase& c : cases) {
        Check(c);
    }
}

Bytes WithU32(Bytes bytes, size_t offset, uint32_t value)
{
    StoreU32(bytes.data() + offset, value);
    return bytes;
}

TEST(DirectoryWalk, UntrustedSizesAndCounts)
{
    const std::u16string path = kToolPath;
    const Bytes oneModule = Entry(3, u"C:\\", u"L", {{11, path}});
    const Bytes twoModules = Entry(3, u"C:\\", u"L", {{11, u"x"}, {12, path}});
    const size_t countAt = 4 + kEntryModuleCountOffset;
    const MatchCase cases[] = {
        {"entry size 0 ends the walk", Directory({WithU32(Entry(3, u"D:\\", u"D"), 0, 0), Entry(3, u"C:\\", u"C")}), path,
         false, u"", 0},
        {"matching entry of size 0 is not used", Directory({WithU32(Entry(3, u"C:\\", u"C"), 0, 0)}), path, false, u"", 0},
        {"entry size past the view: the entry is cut at the view's end",
         WithU32(Directory({oneModule}), 4, 0x7FFFFFFF), path, true, u"L", 11},
        {"non-matching entry sized past the view hides the rest",
         Directory({WithU32(Entry(3, u"D:\\", u"D"), 0, 0xFFFFFFFF), Entry(3, u"C:\\", u"C")}), path, false, u"", 0},
        {"module count larger than what fits", WithU32(Directory({oneModule}), countAt, 1000), path, true, u"L", 11},
        {"module count of 2^31 - 1", WithU32(Directory({oneModule}), countAt, 0x7FFFFFFF), path, true, u"L", 11},
        {"negative module count", WithU32(Directory({oneModule}), countAt, 0xFFFFFFFF), path, true, u"L", 0},
        {"most negative module count", WithU32(Directory({oneModule}), countAt, 0x80000000), path, true, u"L", 0},
        {"module count of 0", WithU32(Directory({oneModule}), countAt, 0), path, true, u"L", 0},
        {"count says one of two modules", WithU32(Directory({twoModules}), countAt, 1), path, true, u"L", 0},
        {"entry size cuts the second module off",
         [&] {
             // The second module still lies in the view (it is the next bytes), but not in the entry.
             return WithU32(Directory({twoModules}), 4, static_cast<uint32_t>(kEntryModulesOffset + kModuleEntrySize));
         }(),
         path, true, u"L", 0},
        {"entry size too small for the module count", WithU32(Directory({oneModule}), 4, 4118), path, true, u"L", 0},
        {"entry size too small for the log name", WithU32(Directory({oneModule}), 4, 2056), path, true, u"", 0},
    };
    for (const MatchCase& c : cases) {
        Check(c);
    }
}

TEST(DirectoryWalk, ViewsTooSmallForAnything)
{
    for (size_t size : {size_t{0}, size_t{1}, size_t{3}}) {
        SCOPED_TRACE(testing::Message() << "view of " << size << " bytes");
        const ExactBuffer view(size, 0x03);
        const TDirectoryMatch match = FindDirectoryEntry(view.data(), view.size(), u"C:\\", kToolPath);
        EXPECT_FALSE(match.bFound);
    }
    EXPECT_FALSE(FindDirectoryEntry(nullptr, kDirectoryViewSize, u"C:\\", kToolPath).bFound);
    // A count but no room for an entry's size and type.
    for (size_t size : {size_t{4}, size_t{8}, size_t{11}}) {
        SCOPED_TRACE(testing::Message() << "view of " << size << " bytes");
        Bytes bytes(size, 0x00);
        StoreU32(bytes.data(), 1);
        if (size >= 8) {
            StoreU32(bytes.data() + 4, 8);
        }
        EXPECT_FALSE(Find(bytes, kToolPath).bFound);
    }
}

// A bare entry header (size, type) followed by raw units, ending exactly where the view ends.
Bytes TruncatedEntry(uint32_t declaredSize, std::u16string_view prefix)
{
    Bytes view(4);
    StoreU32(view.data(), 1);
    Bytes header(8);
    StoreU32(header.data(), declaredSize);
    StoreU32(header.data() + 4, 3);
    view.insert(view.end(), header.begin(), header.end());
    AppendWide(view, prefix);
    return view;
}

TEST(DirectoryWalk, UnterminatedStringsAtTheEndOfTheView)
{
    const std::u16string path = kToolPath;
    const std::u16string longName(kEntryLogNameUnits, u'n');
    const std::u16string fullPrefix(kEntryPrefixUnits, u'p');
    auto entryWithRawLogName = [](std::u16string_view logName) {
        Bytes view = TruncatedEntry(0xFFFFFFFF, u"C:\\");
        view.resize(4 + kEntryLogNameOffset, 0);
        AppendWide(view, logName);
        return view;
    };
    auto entryWithRawModulePath = [&](std::u16string_view modulePath) {
        Bytes view = Directory({Entry(3, u"C:\\", u"L")});
        StoreU32(view.data() + 4, 0xFFFFFFFF);
        StoreU32(view.data() + 4 + kEntryModuleCountOffset, 1);
        Bytes id(4);
        StoreU32(id.data(), 77);
        view.insert(view.end(), id.begin(), id.end());
        AppendWide(view, modulePath);
        return view;
    };
    Bytes oddTail = TruncatedEntry(0xFFFFFFFF, u"C:\\");
    oddTail.push_back('X');
    const MatchCase cases[] = {
        {"prefix runs into the view's end", TruncatedEntry(0xFFFFFFFF, u"C:\\Apps\\"), path, true, u"", 0},
        {"prefix cut at the view's end is still compared", TruncatedEntry(0xFFFFFFFF, u"C:\\Appz"), path, false, u"", 0},
        {"half a unit at the view's end is ignored", oddTail, path, true, u"", 0},
        {"log name runs into the view's end", entryWithRawLogName(u"Cut"), path, true, u"Cut", 0},
        {"log name fills its whole field", entryWithRawLogName(longName), path, true, longName, 0},
        {"module path runs into the view's end", entryWithRawModulePath(path), path, true, u"L", 0},
        {"module path fills its whole entry at the view's end",
         entryWithRawModulePath(path + std::u16string(kModulePathUnits - path.size(), u'z')),
         path + std::u16string(kModulePathUnits - path.size(), u'z'), true, u"L", 77},
    };
    for (const MatchCase& c : cases) {
        Check(c);
    }
    // A prefix of 1,024 units fills its field; the log name follows at once and is not part of it.
    Bytes unterminated = TruncatedEntry(0xFFFFFFFF, fullPrefix);
    AppendWide(unterminated, u"more");
    const ExactBuffer copy(unterminated);
    const TDirectoryMatch match = FindDirectoryEntry(copy.data(), copy.size(), fullPrefix + u"\\", u"");
    EXPECT_TRUE(match.bFound);
    EXPECT_EQ(match.wsLogName, u"more");
}

TEST(DirectoryWalk, LogNameNeverExceedsItsField)
{
    // A log name with no terminator that runs on into the module count and modules.
    Bytes view = Directory({Entry(3, u"C:\\", u"", {{1, std::u16string(1000, u'm')}})});
    for (size_t at = 4 + kEntryLogNameOffset; at < view.size(); at += 2) {
        view[at] = 'n';
        view[at + 1] = 0;
    }
    const TDirectoryMatch match = Find(view, kToolPath);
    ASSERT_TRUE(match.bFound);
    EXPECT_EQ(match.wsLogName, std::u16string(kEntryLogNameUnits, u'n'));
}

TEST(ModuleDirectoryOf, Table)
{
    struct Case {
        const char* name;
        std::u16string path;
        std::u16string expected;
    };
    const Case cases[] = {
        {"file in a folder", u"C:\\Apps\\tool\\cap.exe", u"C:\\Apps\\tool\\"},
        {"file in the root", u"C:\\cap.exe", u"C:\\"},
        {"bare file name", u"cap.exe", u"\\"},
        {"empty", u"", u"\\"},
        {"already a folder", u"C:\\dir\\", u"C:\\dir\\"},
        {"network share", u"\\\\server\\share\\x.exe", u"\\\\server\\share\\"},
        {"non-ASCII folder", u"D:\\\u00C4\u4E2D\\x.exe", u"D:\\\u00C4\u4E2D\\"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ModuleDirectoryOf(c.path), c.expected);
    }
}

TEST(EqualsIgnoringAsciiCase, Table)
{
    struct Case {
        const char* name;
        std::u16string a;
        std::u16string b;
        bool equal;
    };
    const Case cases[] = {
        {"same", u"abc", u"abc", true},
        {"ASCII case", u"C:\\APPS", u"c:\\apps", true},
        {"different length", u"abc", u"abcd", false},
        {"empty", u"", u"", true},
        {"non-ASCII case differs", u"\u00C4", u"\u00E4", false},
        {"characters next to the letters", u"@[`{", u"@[`{", true},
        {"'[' is not '{'", u"[", u"{", false},
        {"'@' is not '`'", u"@", u"`", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(EqualsIgnoringAsciiCase(c.a, c.b), c.equal);
        EXPECT_EQ(EqualsIgnoringAsciiCase(c.b, c.a), c.equal);
    }
}

TEST(BuildDirectoryEntry, LayoutAndTruncation)
{
    const std::vector<TDirectoryModule> modules = {{0x01020304, u"C:\\a.exe"}, {9, std::u16string(2000, u'q')}};
    const Bytes entry = Entry(3, std::u16string(2000, u'p'), std::u16string(2000, u'n'), modules);
    ASSERT_EQ(entry.size(), 4120u + 2 * 2052u);
    EXPECT_EQ(LoadU32(entry.data()), entry.size());
    EXPECT_EQ(LoadU32(entry.data() + 4), 3u);
    // Each string is cut to leave room for its terminator.
    EXPECT_EQ(entry[8 + 2 * 1022], 'p');
    EXPECT_EQ(entry[8 + 2 * 1023], 0);
    EXPECT_EQ(entry[2056 + 2 * 1028], 'n');
    EXPECT_EQ(entry[2056 + 2 * 1029], 0);
    EXPECT_EQ(LoadU32(entry.data() + 4116), 2u);
    EXPECT_EQ(LoadU32(entry.data() + 4120), 0x01020304u);
    EXPECT_EQ(entry[4124], 'C');
    EXPECT_EQ(entry[4125], 0);
    EXPECT_EQ(LoadU32(entry.data() + 4120 + 2052), 9u);
    EXPECT_EQ(entry[4120 + 2052 + 4 + 2 * 1022], 'q');
    EXPECT_EQ(entry[4120 + 2052 + 4 + 2 * 1023], 0);
}

}  // namespace
