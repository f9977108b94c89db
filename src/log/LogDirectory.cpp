#include "log/LogDirectory.h"

#include "log/LogFormat.h"

#include <cstring>

namespace zyrlog {
namespace {

char16_t FoldAscii(char16_t c)
{
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

// Reads a wide string that starts at `offset`, stopping at a terminator, after maxUnits units or
// at `limit` (exclusive, a byte offset into view), whichever comes first.
std::u16string ReadBoundedWide(const uint8_t* view, size_t offset, size_t maxUnits, size_t limit)
{
    std::u16string text;
    for (size_t i = 0; i < maxUnits; ++i) {
        const size_t at = offset + 2 * i;
        if (at + 2 > limit) {
            break;
        }
        const char16_t c = static_cast<char16_t>(view[at] | (view[at + 1] << 8));
        if (c == u'\0') {
            break;
        }
        text.push_back(c);
    }
    return text;
}

bool PrefixMatches(std::u16string_view prefix, std::u16string_view directory)
{
    if (prefix.size() > directory.size()) {
        return false;
    }
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (FoldAscii(prefix[i]) != FoldAscii(directory[i])) {
            return false;
        }
    }
    return true;
}

uint32_t FindModuleId(const uint8_t* view, size_t entryStart, size_t entryEnd,
                      std::u16string_view modulePath)
{
    if (entryStart + kEntryModulesOffset > entryEnd) {
        return 0;
    }
    const int32_t declared = static_cast<int32_t>(LoadU32(view + entryStart + kEntryModuleCountOffset));
    if (declared <= 0) {
        return 0;
    }
    // Only module entries that lie wholly inside the entry (and so inside the view) are read.
    const size_t fitting = (entryEnd - entryStart - kEntryModulesOffset) / kModuleEntrySize;
    const size_t count = static_cast<size_t>(declared) < fitting ? static_cast<size_t>(declared) : fitting;
    for (size_t i = 0; i < count; ++i) {
        const size_t module = entryStart + kEntryModulesOffset + i * kModuleEntrySize;
        const std::u16string path = ReadBoundedWide(view, module + 4, kModulePathUnits, module + kModuleEntrySize);
        if (EqualsIgnoringAsciiCase(path, modulePath)) {
            return LoadU32(view + module);
        }
    }
    return 0;
}

}  // namespace

bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b)
{
    return a.size() == b.size() && PrefixMatches(a, b);
}

std::u16string ModuleDirectoryOf(std::u16string_view modulePath)
{
    const size_t slash = modulePath.find_last_of(u"\\/");
    std::u16string directory(slash == std::u16string_view::npos ? std::u16string_view{}
                                                                 : modulePath.substr(0, slash + 1));
    if (directory.empty() || directory.back() != u'\\') {
        directory.push_back(u'\\');
    }
    return directory;
}

TDirectoryMatch FindDirectoryEntry(const uint8_t* view, size_t viewSize,
                                   std::u16string_view moduleDirectory,
                                   std::u16string_view modulePath)
{
    TDirectoryMatch match;
    if (view == nullptr || viewSize < kDirectoryEntriesOffset) {
        return match;
    }
    const uint32_t entryCount = LoadU32(view);
    size_t offset = kDirectoryEntriesOffset;
    for (uint32_t i = 0; i < entryCount; ++i) {
        if (offset > viewSize || viewSize - offset < kEntryPrefixOffset) {
            break;
        }
        const uint32_t entrySize = LoadU32(view + offset + kEntrySizeOffset);
        if (entrySize == 0) {
            break;
        }
        // A declared size running past the view is cut at the view's end.
        const size_t entryEnd = entrySize > viewSize - offset ? viewSize : offset + entrySize;
        if (LoadU32(view + offset + kEntryTypeOffset) == kEntryTypeLog) {
            const std::u16string prefix =
                ReadBoundedWide(view, offset + kEntryPrefixOffset, kEntryPrefixUnits, entryEnd);
            if (PrefixMatches(prefix, moduleDirectory)) {
                match.bFound = true;
                match.wsLogName = ReadBoundedWide(view, offset + kEntryLogNameOffset,
                                                  kEntryLogNameUnits, entryEnd);
                match.ui32ModuleId = FindModuleId(view, offset, entryEnd, modulePath);
                return match;
            }
        }
        // Compared before adding, so a 32-bit size_t cannot wrap back to an earlier entry.
        if (entrySize >= viewSize - offset) {
            break;
        }
        offset += entrySize;
    }
    return match;
}

std::vector<uint8_t> BuildDirectoryEntry(uint32_t type, std::u16string_view prefix,
                                         std::u16string_view logName,
                                         const TDirectoryModule* modules, size_t moduleCount)
{
    std::vector<uint8_t> entry(kEntryModulesOffset + moduleCount * kModuleEntrySize, 0);
    auto putWide = [&entry](size_t offset, std::u16string_view text, size_t maxUnits) {
        const size_t units = text.size() < maxUnits - 1 ? text.size() : maxUnits - 1;
        for (size_t i = 0; i < units; ++i) {
            entry[offset + 2 * i] = static_cast<uint8_t>(text[i] & 0xFF);
            entry[offset + 2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
        }
    };
    StoreU32(entry.data() + kEntrySizeOffset, static_cast<uint32_t>(entry.size()));
    StoreU32(entry.data() + kEntryTypeOffset, type);
    putWide(kEntryPrefixOffset, prefix, kEntryPrefixUnits);
    putWide(kEntryLogNameOffset, logName, kEntryLogNameUnits);
    StoreU32(entry.data() + kEntryModuleCountOffset, static_cast<uint32_t>(moduleCount));
    for (size_t i = 0; i < moduleCount; ++i) {
        const size_t at = kEntryModulesOffset + i * kModuleEntrySize;
        StoreU32(entry.data() + at, modules[i].ui32ModuleId);
        putWide(at + 4, modules[i].wsPath, kModulePathUnits);
    }
    return entry;
}

}  // namespace zyrlog
