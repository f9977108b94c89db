// ZYRLogServer's command line.
#include "LogServerOptions.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(LogServerOptions, DefaultsAndEveryOption)
{
    TLogServerOptions options;
    std::wstring error;
    ASSERT_EQ(ParseLogServerOptions({L"--prefix", L"Z:\\build\\src"}, options, &error), TParseResult::Run)
        << std::string(error.begin(), error.end());
    EXPECT_EQ(options.wsPrefix, L"Z:\\build\\src\\") << "a trailing backslash is added";
    EXPECT_EQ(options.wsLogName, L"zyr");
    EXPECT_EQ(options.ui8Level, 2);
    EXPECT_TRUE(options.modules.empty());
    EXPECT_FALSE(options.bJson);
    EXPECT_FALSE(options.bStopped);
    EXPECT_TRUE(options.wsOutPath.empty());
    EXPECT_FALSE(options.durationMs.has_value());

    TLogServerOptions all;
    ASSERT_EQ(ParseLogServerOptions({L"--prefix", L"C:\\Apps\\", L"--name", L"cap", L"--level", L"0", L"--module",
                                     L"5=C:\\Apps\\a=b.exe", L"--module", L"4294967295=D:\\x.exe", L"--json", L"--out",
                                     L"C:\\out.txt", L"--stopped", L"--quit-event", L"q", L"--duration-ms", L"0",
                                     L"--ready-event", L"r", L"--object-prefix", L"test "},
                                    all, &error),
              TParseResult::Run)
        << std::string(error.begin(), error.end());
    EXPECT_EQ(all.wsPrefix, L"C:\\Apps\\");
    EXPECT_EQ(all.wsLogName, L"cap");
    EXPECT_EQ(all.ui8Level, 0);
    ASSERT_EQ(all.modules.size(), 2u);
    EXPECT_EQ(all.modules[0].ui32ModuleId, 5u);
    EXPECT_EQ(all.modules[0].wsPath, u"C:\\Apps\\a=b.exe") << "the first = separates the id";
    EXPECT_EQ(all.modules[1].ui32ModuleId, 4294967295u);
    EXPECT_TRUE(all.bJson);
    EXPECT_EQ(all.wsOutPath, L"C:\\out.txt");
    EXPECT_TRUE(all.bStopped);
    EXPECT_EQ(all.wsQuitEvent, L"q");
    ASSERT_TRUE(all.durationMs.has_value());
    EXPECT_EQ(*all.durationMs, 0u);
    EXPECT_EQ(all.wsReadyEvent, L"r");
    EXPECT_EQ(all.wsObjectPrefix, L"test ");
}

TEST(LogServerOptions, HelpAndBadArguments)
{
    const struct Case {
        const char* name;
        std::vector<std::wstring> args;
        TParseResult expected;
    } cases[] = {
        {"help", {L"--help"}, TParseResult::Help},
        {"help wins over a missing prefix", {L"--json", L"-h"}, TParseResult::Help},
        {"no arguments", {}, TParseResult::Bad},
        {"no prefix", {L"--name", L"x"}, TParseResult::Bad},
        {"empty prefix", {L"--prefix", L""}, TParseResult::Bad},
        {"prefix without value", {L"--prefix"}, TParseResult::Bad},
        {"unknown option", {L"--prefix", L"C:\\", L"--verbose"}, TParseResult::Bad},
        {"level 3", {L"--prefix", L"C:\\", L"--level", L"3"}, TParseResult::Bad},
        {"level -1", {L"--prefix", L"C:\\", L"--level", L"-1"}, TParseResult::Bad},
        {"module without =", {L"--prefix", L"C:\\", L"--module", L"5"}, TParseResult::Bad},
        {"module without path", {L"--prefix", L"C:\\", L"--module", L"5="}, TParseResult::Bad},
        {"module id not a number", {L"--prefix", L"C:\\", L"--module", L"x=C:\\a.exe"}, TParseResult::Bad},
        {"module id too large", {L"--prefix", L"C:\\", L"--module", L"4294967296=C:\\a.exe"}, TParseResult::Bad},
        {"duration not a number", {L"--prefix", L"C:\\", L"--duration-ms", L"10s"}, TParseResult::Bad},
        {"duration meaning forever", {L"--prefix", L"C:\\", L"--duration-ms", L"4294967295"}, TParseResult::Bad},
        {"empty name", {L"--prefix", L"C:\\", L"--name", L""}, TParseResult::Bad},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TLogServerOptions options;
        std::wstring error;
        EXPECT_EQ(ParseLogServerOptions(c.args, options, &error), c.expected);
        EXPECT_EQ(error.empty(), c.expected != TParseResult::Bad);
    }
}

TEST(LogServerOptions, UsageNamesEveryOption)
{
    for (const char* option : {"--prefix", "--name", "--level", "--module", "--json", "--out", "--stopped",
                               "--quit-event", "--duration-ms", "--ready-event", "--object-prefix", "--help"}) {
        SCOPED_TRACE(option);
        EXPECT_NE(std::strstr(LogServerUsage(), option), nullptr);
    }
}

}  // namespace
