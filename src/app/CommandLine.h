// Command-line value parsing shared by the capturer and its tests. Platform-free.
#pragma once

#include <cstdint>
#include <string_view>

// Decimal text to a signed 64-bit value: an optional leading '-', then digits only. Any other
// character anywhere (a blank, '+', a letter) makes the result `defaultValue`; so does an empty
// text. A lone '-' yields 0. Overflow wraps in 64-bit two's complement arithmetic.
int64_t WStringToInt64(std::u16string_view text, int64_t defaultValue);
