// The tool's line formats: field order, UTF-8 text, one line per record, JSON escaping.
#include "ServerTestSupport.h"

using namespace lstest;

namespace {

TLogRecord Record(uint32_t type, const std::string& text, const std::u16string& wide = u"")
{
    TLogRecord entry;
    entry.record.fields.ui64Timestamp = 123456789012ull;
    entry.record.fields.ui32ProcessId = 4321;
    entry.record.fields.ui32ModuleId = 5;
    entry.record.fields.ui32ThreadId = 99;
    entry.record.fields.ui32Type = type;
    entry.record.fields.bStopSeen = 1;
    entry.record.strText = text;
    entry.record.wsText = wide;
    entry.record.ui32Size = 77;
    return entry;
}

TLogRecord Malformed(const std::string& problem)
{
    TLogRecord entry;
    entry.bMalformed = true;
    entry.strProblem = problem;
    return entry;
}

TEST(RecordFormat, TextLines)
{
    const struct Case {
        const char* name;
        TLogRecord record;
        std::string expected;
    } cases[] = {
        {"narrow", Record(0, "TZYRFullscreenCapturer::Run exit with 0"),
         "123456789012 4321 5 99 0 TZYRFullscreenCapturer::Run exit with 0"},
        {"wide, already UTF-8", Record(3, "caf\xc3\xa9", u"caf\u00e9"), "123456789012 4321 5 99 3 caf\xc3\xa9"},
        {"line breaks stay on one line", Record(2, "a\r\nb\n"), "123456789012 4321 5 99 2 a\\r\\nb\\n"},
        {"backslashes as they are", Record(1, "C:\\Apps\\"), "123456789012 4321 5 99 1 C:\\Apps\\"},
        {"empty text", Record(0, ""), "123456789012 4321 5 99 0 "},
        {"malformed", Malformed("BadSize at ring offset 7"), "0 0 0 0 0 malformed: BadSize at ring offset 7"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FormatRecordText(c.record), c.expected);
    }
}

TEST(RecordFormat, JsonLinesEscapeStrings)
{
    const std::string head = "{\"ts\":123456789012,\"pid\":4321,\"module\":5,\"tid\":99,\"type\":";
    const struct Case {
        const char* name;
        TLogRecord record;
        std::string expected;
    } cases[] = {
        {"plain", Record(0, "abc"), head + "0,\"stop\":1,\"size\":77,\"text\":\"abc\"}"},
        {"quote and backslash", Record(0, "say \"C:\\x\""),
         head + "0,\"stop\":1,\"size\":77,\"text\":\"say \\\"C:\\\\x\\\"\"}"},
        {"control characters", Record(1, std::string("a\nb\tc\x01\x1f", 7) + std::string(1, '\0') + "d"),
         head + "1,\"stop\":1,\"size\":77,\"text\":\"a\\u000ab\\u0009c\\u0001\\u001f\\u0000d\"}"},
        {"UTF-8 passes", Record(4, "\xe2\x82\xac \xf0\x9f\x98\x80", u"\u20ac \U0001F600"),
         head + "4,\"stop\":1,\"size\":77,\"text\":\"\xe2\x82\xac \xf0\x9f\x98\x80\"}"},
        {"DEL passes", Record(0, "\x7f"), head + "0,\"stop\":1,\"size\":77,\"text\":\"\x7f\"}"},
        {"malformed", Malformed("Truncated \"x\""),
         "{\"ts\":0,\"pid\":0,\"module\":0,\"tid\":0,\"type\":0,\"stop\":0,\"size\":0,"
         "\"text\":\"malformed: Truncated \\\"x\\\"\",\"malformed\":true}"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FormatRecordJson(c.record), c.expected);
    }
}

bool IsValidUtf8(const std::string& text)
{
    const int units = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                            nullptr, 0);
    return units > 0;
}

TEST(RecordFormat, NarrowTextLeavesTheCodePageAsUtf8)
{
    // A byte above 0x7F is a character of the writer's ANSI code page; the line carries it as UTF-8.
    const TLogRecord entry = Record(0, "caf\xe9");
    const std::string text = FormatRecordText(entry);
    const std::string json = FormatRecordJson(entry);
    EXPECT_TRUE(IsValidUtf8(text)) << text;
    EXPECT_TRUE(IsValidUtf8(json)) << json;
    wchar_t expected[8] = {};
    ASSERT_EQ(::MultiByteToWideChar(CP_ACP, 0, "caf\xe9", 4, expected, 8), 4);
    const std::wstring wide(expected, 4);
    EXPECT_NE(text.find(Narrow(wide)), std::string::npos) << text;
    if (::GetACP() == 1252) {
        EXPECT_NE(json.find("caf\xc3\xa9"), std::string::npos) << json;
    }
}

}  // namespace
