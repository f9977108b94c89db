// The server's side of the directory of log destinations: removing entries, appending one, and
// the owner mark that lets a server find the entry it wrote among identical ones.
//
// Platform-free. The directory is shared with other servers and clients: counts, sizes and strings
// in it are not trusted, and nothing here reads or writes outside [view, view + viewSize).
#pragma once

#include "log/LogDirectory.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace logserver {

// One entry that lies wholly inside the view.
struct TEntrySpan {
    size_t offset = 0;
    size_t size = 0;
};

// The entries a rewrite keeps walking over: in order, up to the entry count, stopping at an entry
// whose size is smaller than its size and type fields (0 included) or that would run past the view.
std::vector<TEntrySpan> WholeEntries(const uint8_t* view, size_t viewSize);

// Removes every entry of the walk for which drop(entry bytes, entry size) holds, moves the others
// together in their order and sets the entry count to their number; whatever lay past the walk's
// end is dropped with them. The bytes freed at the end are zeroed. Returns the number removed.
size_t RemoveEntries(uint8_t* view, size_t viewSize,
                     const std::function<bool(const uint8_t*, size_t)>& drop);

// Appends `entry` after the walk's last entry and counts it; false (directory unchanged) when it
// does not fit the view.
bool AppendEntry(uint8_t* view, size_t viewSize, const std::vector<uint8_t>& entry);

// The directory prefix of an entry (size bytes at `entry`), read up to its terminator, its field's
// end or the entry's end.
std::u16string EntryPrefix(const uint8_t* entry, size_t size);

// True for an entry of type 3 whose prefix equals `prefix`, ignoring the case of A-Z.
bool IsLogEntryWithPrefix(const uint8_t* entry, size_t size, std::u16string_view prefix);

// Who wrote an entry: appended after the module entries (clients never read past them), so a
// server removes its own entry and not a later server's entry with the same contents.
struct TOwnerMark {
    uint32_t ui32ProcessId = 0;
    uint64_t ui64Instance = 0;
};
constexpr uint32_t kOwnerMarkMagic = 0x56534C5A;  // "ZLSV"
constexpr size_t kOwnerMarkSize = 16;             // magic, process id, instance

// BuildDirectoryEntry's entry of type 3 with the owner mark after it (the size field covers it).
std::vector<uint8_t> BuildOwnedEntry(std::u16string_view prefix, std::u16string_view logName,
                                     const std::vector<zyrlog::TDirectoryModule>& modules,
                                     const TOwnerMark& mark);

}  // namespace logserver
