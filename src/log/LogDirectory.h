// The log server's directory of log destinations (5 MiB, written by the server, read by clients)
// and the walk that finds this module's destination in it.
//
// Platform-free. The directory is written by another process: the walk trusts no count, size or
// string in it and never reads outside the view it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zyrlog {

constexpr size_t kDirectoryViewSize = 5242880;
constexpr size_t kDirectoryEntriesOffset = 4;  // after the u32 entry count

// Offsets inside one entry.
constexpr size_t kEntrySizeOffset = 0;
constexpr size_t kEntryTypeOffset = 4;
constexpr size_t kEntryPrefixOffset = 8;
constexpr size_t kEntryPrefixUnits = 1024;
constexpr size_t kEntryLogNameOffset = 2056;
constexpr size_t kEntryLogNameUnits = (4116 - 2056) / 2;  // the field runs up to the module count
constexpr size_t kEntryModuleCountOffset = 4116;
constexpr size_t kEntryModulesOffset = 4120;
constexpr size_t kModuleEntrySize = 2052;
constexpr size_t kModulePathUnits = 1024;
constexpr uint32_t kEntryTypeLog = 3;

struct TDirectoryMatch {
    bool bFound = false;
    std::u16string wsLogName;
    uint32_t ui32ModuleId = 0;
};

// Walks the directory in `view` (viewSize bytes): the first entry of type 3 whose directory path
// prefix matches the start of moduleDirectory (case of A-Z ignored) is the match; its log name is
// copied, and the module entry whose path equals modulePath (case of A-Z ignored) gives the module
// id (0 when none). The walk ends at the entry count, at an entry size of 0, or where the next
// entry would start outside the view. Strings without a terminator end at their field's end or at
// the end of the view, whichever comes first.
TDirectoryMatch FindDirectoryEntry(const uint8_t* view, size_t viewSize,
                                   std::u16string_view moduleDirectory,
                                   std::u16string_view modulePath);

// The directory of a module path: everything up to and including the last backslash or slash;
// a backslash is appended when the result does not end in one.
std::u16string ModuleDirectoryOf(std::u16string_view modulePath);

// ASCII-only case folding (A-Z), as the server compares paths.
bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b);

// Builds one directory entry (as a server writes it) into `out`; used by servers and tests.
struct TDirectoryModule {
    uint32_t ui32ModuleId;
    std::u16string wsPath;
};
std::vector<uint8_t> BuildDirectoryEntry(uint32_t type, std::u16string_view prefix, std::u16string_view logName,
                                const TDirectoryModule* modules, size_t moduleCount);

}  // namespace zyrlog
