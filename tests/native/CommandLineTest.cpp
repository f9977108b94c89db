#include "app/CommandLine.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

struct Case {
    const char* name;
    std::u16string text;
    int64_t defaultValue;
    int64_t expected;
};

TEST(WStringToInt64, Table)
{
    // 10^20 - 1 reduced modulo 2^64: the conversion wraps instead of detecting overflow.
    const int64_t twentyNinesWrapped = static_cast<int64_t>(7766279631452241919ull);
    const Case cases[] = {
        {"plain number", u"1234", 0, 1234},
        {"zero", u"0", 55, 0},
        {"empty text gives the default", u"", 0, 0},
        {"empty text gives a non-zero default", u"", 42, 42},
        {"lone minus sign is zero, not the default", u"-", 42, 0},
        {"letters", u"abc", 0, 0},
        {"letters with a non-zero default", u"abc", -9, -9},
        {"plus sign is not accepted", u"+7", 0, 0},
        {"leading blank", u" 7", 0, 0},
        {"trailing blank", u"7 ", 0, 0},
        {"embedded blank", u"1 2", 0, 0},
        {"minus one", u"-1", 0, -1},
        {"trailing letter", u"12a", 0, 0},
        {"double minus", u"--1", 5, 5},
        {"minus after digits", u"1-", 5, 5},
        {"leading zeros", u"000123", 0, 123},
        {"minus zero", u"-0", 7, 0},
        {"largest value", u"9223372036854775807", 0, INT64_MAX},
        {"one past the largest wraps to the smallest", u"9223372036854775808", 0, INT64_MIN},
        {"smallest value", u"-9223372036854775808", 0, INT64_MIN},
        {"twenty nines wrap modulo 2^64", u"99999999999999999999", 0, twentyNinesWrapped},
        {"2^64 wraps to zero", u"18446744073709551616", 3, 0},
        {"character after '9'", u"1:", 5, 5},
        {"character before '0'", u"/1", 5, 5},
        {"full-width digit is not a digit", u"\uFF11", 8, 8},
        {"NUL inside the text", std::u16string(u"1\0" u"2", 3), 8, 8},
        {"process id beyond 32 bits", u"4294967296", 0, 4294967296ll},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(WStringToInt64(c.text, c.defaultValue), c.expected);
    }
}

TEST(WStringToInt64, MinusOneKeepsAllLowBitsAsHostId)
{
    // The capturer takes the low 32 bits as the host process id.
    const int64_t value = WStringToInt64(u"-1", 0);
    EXPECT_EQ(static_cast<uint32_t>(value), 4294967295u);
}

}  // namespace
