// The log directory walk over views a server (or anything else) wrote: which entry and module
// match, and that hostile sizes, counts and unterminated strings never take it outside the view.
// Each view is walked in a vector of exactly its size, so AddressSanitizer sees any read past it.
#include "log/LogDirectory.h"
#include "log/LogFormat.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace zyrlog;
using Bytes = std::vector<uint8_t>;

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
    const struct {
        const char* name;
        Bytes view;
        std::u16string path;
        bool found;
        std::u16string logName;
        uint32_t moduleId;
    } cases[] = {
        // Prefixes and modules compare ignoring the case of A-Z only.
        {"prefix and module path ignoring case", Directory({Entry(3, u"C:\\Apps\\", u"Apps", tool)}), kPath, true,
         u"Apps", 7},
        {"prefix longer than the directory", Directory({Entry(3, u"C:\\Apps\\Tool\\Sub\\", u"L", tool)}), kPath, false,
         u"", 0},
        {"different drive", Directory({Entry(3, u"D:\\Apps\\", u"L", tool)}), kPath, false, u"", 0},
        {"non-ASCII letters exactly", Directory({Entry(3, u"C:\\\u00C4\\", u"L")}), u"c:\\\u00E4\\x.exe", false, u"",
         0},
        {"'[' is not '{'", Directory({Entry(3, u"C:\\[", u"L")}), u"c:\\{\\x.exe", false, u"", 0},
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
        {"module path only a prefix", Directory({Entry(3, u"C:\\", u"L", {{9, kPath.substr(0, 20)}})}), kPath, true,
         u"L", 0},
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
        {"count says one of two modules", With(Directory({two}), count, 1), kPath, true, u"L", 0},
        {"entry size cuts the second module off",
         With(Directory({two}), 4, static_cast<uint32_t>(kEntryModulesOffset + kModuleEntrySize)), kPath, true, u"L",
         0},
        {"entry size too small for the log name", With(Directory({one}), 4, 2056), kPath, true, u"", 0},
        {"view without room for an entry header", With(Bytes(11), 0, 1), kPath, false, u"", 0},
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
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes view(c.view);  // a copy holds no spare capacity
        const TDirectoryMatch match = FindDirectoryEntry(view.data(), view.size(), ModuleDirectoryOf(c.path), c.path);
        EXPECT_EQ(match.bFound, c.found);
        EXPECT_EQ(match.wsLogName, c.logName);
        EXPECT_EQ(match.ui32ModuleId, c.moduleId);
    }
    EXPECT_FALSE(FindDirectoryEntry(nullptr, kDirectoryViewSize, u"C:\\", kPath).bFound);
}

TEST(LogDirectoryWalk, ModuleDirectoryOf)
{
    EXPECT_EQ(ModuleDirectoryOf(u"C:\\Apps\\tool\\cap.exe"), u"C:\\Apps\\tool\\");
    EXPECT_EQ(ModuleDirectoryOf(u"C:\\cap.exe"), u"C:\\");
    EXPECT_EQ(ModuleDirectoryOf(u"cap.exe"), u"\\");
    EXPECT_EQ(ModuleDirectoryOf(u""), u"\\");
}

}  // namespace
