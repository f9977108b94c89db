#include "app/CommandLine.h"

int64_t WStringToInt64(std::u16string_view text, int64_t defaultValue)
{
    if (text.empty()) {
        return defaultValue;
    }
    size_t at = 0;
    uint64_t sign = 1;
    if (text[0] == u'-') {
        sign = ~uint64_t{0};  // -1 in unsigned arithmetic, so overflow wraps instead of being UB
        at = 1;
    }
    uint64_t value = 0;
    for (; at < text.size(); ++at) {
        const char16_t c = text[at];
        if (c < u'0' || c > u'9') {
            return defaultValue;
        }
        value = value * 10u + static_cast<uint64_t>(c - u'0');
    }
    return static_cast<int64_t>(value * sign);
}
