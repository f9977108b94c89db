#include "ServerDirectory.h"

#include "log/LogFormat.h"

#include <cstring>

using namespace zyrlog;

namespace logserver {

std::vector<TEntrySpan> WholeEntries(const uint8_t* view, size_t viewSize)
{
    std::vector<TEntrySpan> entries;
    if (view == nullptr || viewSize < kDirectoryEntriesOffset) {
        return entries;
    }
    const uint32_t count = LoadU32(view);
    size_t offset = kDirectoryEntriesOffset;
    // Every entry kept is at least 8 bytes long, so the walk ends within viewSize / 8 steps
    // whatever the count says.
    for (uint32_t i = 0; i < count; ++i) {
        if (viewSize - offset < kEntryPrefixOffset) {
            break;
        }
        const uint32_t size = LoadU32(view + offset + kEntrySizeOffset);
        if (size < kEntryPrefixOffset || size > viewSize - offset) {
            break;
        }
        entries.push_back({offset, size});
        offset += size;
    }
    return entries;
}

size_t RemoveEntries(uint8_t* view, size_t viewSize,
                     const std::function<bool(const uint8_t*, size_t)>& drop)
{
    const std::vector<TEntrySpan> entries = WholeEntries(view, viewSize);
    if (view == nullptr || viewSize < kDirectoryEntriesOffset) {
        return 0;
    }
    size_t to = kDirectoryEntriesOffset;
    size_t removed = 0;
    uint32_t kept = 0;
    for (const TEntrySpan& entry : entries) {
        if (drop(view + entry.offset, entry.size)) {
            ++removed;
            continue;
        }
        if (to != entry.offset) {
            std::memmove(view + to, view + entry.offset, entry.size);
        }
        to += entry.size;
        ++kept;
    }
    const size_t end = entries.empty() ? kDirectoryEntriesOffset : entries.back().offset + entries.back().size;
    std::memset(view + to, 0, end - to);
    StoreU32(view, kept);
    return removed;
}

bool AppendEntry(uint8_t* view, size_t viewSize, const std::vector<uint8_t>& entry)
{
    if (view == nullptr || viewSize < kDirectoryEntriesOffset || entry.empty()) {
        return false;
    }
    const std::vector<TEntrySpan> entries = WholeEntries(view, viewSize);
    const size_t end = entries.empty() ? kDirectoryEntriesOffset : entries.back().offset + entries.back().size;
    if (entry.size() > viewSize - end) {
        return false;
    }
    std::memcpy(view + end, entry.data(), entry.size());
    StoreU32(view, static_cast<uint32_t>(entries.size() + 1));
    return true;
}

std::u16string EntryPrefix(const uint8_t* entry, size_t size)
{
    std::u16string prefix;
    for (size_t i = 0; i + 1 < kEntryPrefixUnits; ++i) {
        const size_t at = kEntryPrefixOffset + 2 * i;
        if (at + 2 > size) {
            break;
        }
        const char16_t c = static_cast<char16_t>(entry[at] | (entry[at + 1] << 8));
        if (c == u'\0') {
            break;
        }
        prefix.push_back(c);
    }
    return prefix;
}

bool IsLogEntryWithPrefix(const uint8_t* entry, size_t size, std::u16string_view prefix)
{
    if (size < kEntryPrefixOffset || LoadU32(entry + kEntryTypeOffset) != kEntryTypeLog) {
        return false;
    }
    return EqualsIgnoringAsciiCase(EntryPrefix(entry, size), prefix);
}

std::vector<uint8_t> BuildOwnedEntry(std::u16string_view prefix, std::u16string_view logName,
                                     const std::vector<TDirectoryModule>& modules, const TOwnerMark& mark)
{
    std::vector<uint8_t> entry = BuildDirectoryEntry(kEntryTypeLog, prefix, logName, modules.data(), modules.size());
    const size_t at = entry.size();
    entry.resize(at + kOwnerMarkSize, 0);
    StoreU32(entry.data() + at, kOwnerMarkMagic);
    StoreU32(entry.data() + at + 4, mark.ui32ProcessId);
    StoreU64(entry.data() + at + 8, mark.ui64Instance);
    StoreU32(entry.data() + kEntrySizeOffset, static_cast<uint32_t>(entry.size()));
    return entry;
}

}  // namespace logserver
