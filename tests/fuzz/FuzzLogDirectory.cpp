// The log directory walk over arbitrary bytes. Byte 0 picks the module path; the rest is the view,
// copied into a block of exactly its size so that AddressSanitizer reports any read past it.
#include "FuzzCheck.h"
#include "log/LogDirectory.h"

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::u16string_view paths[] = {u"C:\\Apps\\tool\\ZYRFullscreenCapturer.exe",
                                                u"c:\\apps\\TOOL\\zyrfullscreencapturer.EXE", u"D:\\\u00C4pps\\x.exe",
                                                u"capturer.exe", u""};
    if (size == 0) {
        return 0;
    }
    const std::u16string_view path = paths[data[0] % 5];
    const std::vector<uint8_t> view(data + 1, data + size);
    const zyrlog::TDirectoryMatch match =
        zyrlog::FindDirectoryEntry(view.data(), view.size(), zyrlog::ModuleDirectoryOf(path), path);
    FUZZ_CHECK(match.wsLogName.size() <= zyrlog::kEntryLogNameUnits);
    FUZZ_CHECK(match.wsLogName.find(u'\0') == std::u16string::npos);
    FUZZ_CHECK(match.bFound || (match.wsLogName.empty() && match.ui32ModuleId == 0));
    return 0;
}
