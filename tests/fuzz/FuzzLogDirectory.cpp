// Directory walk over arbitrary views: no read outside the view (AddressSanitizer), bounded
// strings, and the same answer as a plain reading of the format written from the layout table.
#include "FuzzCheck.h"
#include "log/LogDirectory.h"
#include "log/LogFormat.h"

#include "FuzzInputs.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

using namespace zyrlog;

namespace {

char16_t Fold(char16_t c)
{
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
}

// Units from `begin` up to a NUL or `end` (byte offsets, end exclusive).
std::u16string Units(const uint8_t* view, uint64_t begin, uint64_t end)
{
    std::u16string text;
    for (uint64_t at = begin; at + 2 <= end; at += 2) {
        const char16_t c = static_cast<char16_t>(view[at] | (view[at + 1] << 8));
        if (c == 0) {
            break;
        }
        text.push_back(c);
    }
    return text;
}

bool SameFolded(std::u16string_view a, std::u16string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char16_t x, char16_t y) { return Fold(x) == Fold(y); });
}

// The format read straight from its table, with 64-bit offsets and every field clipped to its
// entry and the view.
TDirectoryMatch Reference(const uint8_t* view, uint64_t size, std::u16string_view directory,
                          std::u16string_view path)
{
    TDirectoryMatch match;
    if (size < 4) {
        return match;
    }
    const uint32_t count = LoadU32(view);
    uint64_t entry = 4;
    for (uint32_t i = 0; i < count && entry + 8 <= size; ++i) {
        const uint32_t entrySize = LoadU32(view + entry);
        if (entrySize == 0) {
            break;
        }
        const uint64_t end = std::min<uint64_t>(size, entry + entrySize);
        const std::u16string prefix = Units(view, entry + 8, std::min<uint64_t>(end, entry + 8 + 2048));
        if (LoadU32(view + entry + 4) == 3 && prefix.size() <= directory.size() &&
            SameFolded(prefix, directory.substr(0, prefix.size()))) {
            match.bFound = true;
            match.wsLogName = Units(view, entry + 2056, std::min<uint64_t>(end, entry + 4116));
            const int32_t modules = entry + 4120 <= end ? static_cast<int32_t>(LoadU32(view + entry + 4116)) : 0;
            for (int32_t m = 0; m < modules; ++m) {
                const uint64_t module = entry + 4120 + 2052ull * static_cast<uint64_t>(m);
                if (module + 2052 > end) {
                    break;
                }
                if (SameFolded(Units(view, module + 4, module + 2052), path)) {
                    match.ui32ModuleId = LoadU32(view + module);
                    break;
                }
            }
            return match;
        }
        entry += entrySize;
    }
    return match;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    const std::u16string_view path = fuzzinput::kModulePaths[data[0] % fuzzinput::kModulePathCount];
    const std::u16string directory = ModuleDirectoryOf(path);
    FUZZ_CHECK(!directory.empty() && directory.back() == u'\\');

    // An exact-size copy: one byte past the view is outside the allocation.
    const size_t viewSize = size - 1;
    std::unique_ptr<uint8_t[]> view(new uint8_t[viewSize]);
    if (viewSize != 0) {
        std::memcpy(view.get(), data + 1, viewSize);
    }
    const TDirectoryMatch match = FindDirectoryEntry(view.get(), viewSize, directory, path);
    FUZZ_CHECK(match.wsLogName.size() <= kEntryLogNameUnits);
    FUZZ_CHECK(match.wsLogName.find(u'\0') == std::u16string::npos);
    if (!match.bFound) {
        FUZZ_CHECK(match.wsLogName.empty() && match.ui32ModuleId == 0);
    }
    const TDirectoryMatch expected = Reference(view.get(), viewSize, directory, path);
    FUZZ_CHECK(match.bFound == expected.bFound);
    FUZZ_CHECK(match.wsLogName == expected.wsLogName);
    FUZZ_CHECK(match.ui32ModuleId == expected.ui32ModuleId);
    return 0;
}
