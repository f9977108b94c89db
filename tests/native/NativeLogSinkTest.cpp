#include "log/Log.h"
#include "log/LogNativeSink.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(NativeLogSink, CallsKeepTypeLevelAndText)
{
    ClearNativeLogLines();
    LogInfo("%s", "A::B");
    LogDetail("%s %d", "detail", 1);
    LogVerbose("%s exit with %d", "C::D", -13);
    LogWarning("%s", "warn");
    LogError("%s error %x", "E::F", 0x80004001u);
    const std::vector<TNativeLogLine> lines = NativeLogLines();
    ASSERT_EQ(lines.size(), 5u);
    struct Expected {
        uint32_t type;
        uint8_t level;
        const char* text;
    };
    const Expected expected[] = {
        {0, 0, "A::B"}, {0, 1, "detail 1"}, {0, 2, "C::D exit with -13"}, {1, 0, "warn"}, {2, 0, "E::F error 80004001"},
    };
    for (size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "line " << i);
        EXPECT_EQ(lines[i].ui32Type, expected[i].type);
        EXPECT_EQ(lines[i].ui8Level, expected[i].level);
        EXPECT_EQ(lines[i].strText, expected[i].text);
    }
}

TEST(NativeLogSink, LongLinesAreNotTruncated)
{
    ClearNativeLogLines();
    const std::string longText(102399, 'x');
    LogInfo("%s", longText.c_str());
    const std::vector<TNativeLogLine> lines = NativeLogLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].strText, longText);
}

int LeaveEarly(bool early)
{
    int result = -1;
    TScopedLog scoped("T::LeaveEarly", &result);
    if (early) {
        result = -7;
        return result;
    }
    result = 3;
    return result;
}

TEST(ScopedLog, LogsEntryAndTheResultOnEveryWayOut)
{
    for (bool early : {true, false}) {
        SCOPED_TRACE(early ? "early return" : "normal return");
        ClearNativeLogLines();
        const int returned = LeaveEarly(early);
        const std::vector<TNativeLogLine> lines = NativeLogLines();
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0].strText, "T::LeaveEarly");
        EXPECT_EQ(lines[1].strText, "T::LeaveEarly exit with " + std::to_string(returned));
        EXPECT_EQ(lines[1].ui32Type, 0u);
        EXPECT_EQ(lines[1].ui8Level, 0u);
    }
}

TEST(ScopedLog, NullNameAndNullResult)
{
    ClearNativeLogLines();
    {
        TScopedLog scoped(nullptr, nullptr);
    }
    const std::vector<TNativeLogLine> lines = NativeLogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].strText, "");
    EXPECT_EQ(lines[1].strText, " exit with 0");
}

}  // namespace
