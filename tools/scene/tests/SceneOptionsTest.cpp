// ZYRScene's command line.
#include "SceneOptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using scene::Pattern;
using scene::SceneOptions;

TEST(SceneOptions, Defaults)
{
    SceneOptions options;
    std::wstring error;
    ASSERT_TRUE(scene::ParseSceneArguments({}, &options, &error));
    EXPECT_EQ(options.pattern, Pattern::Coords);
    EXPECT_TRUE(options.readyEvent.empty());
    EXPECT_TRUE(options.nextEvent.empty());
    EXPECT_TRUE(options.quitEvent.empty());
    EXPECT_EQ(options.parentPid, 0u);
}

TEST(SceneOptions, AllOptions)
{
    SceneOptions options;
    std::wstring error;
    ASSERT_TRUE(scene::ParseSceneArguments({L"--quit-event", L"q", L"--pattern", L"smooth", L"--ready-event",
                                            L"r name", L"--parent", L"4294967295", L"--next-event", L"n"},
                                           &options, &error))
        << std::string(error.begin(), error.end());
    EXPECT_EQ(options.pattern, Pattern::Smooth);
    EXPECT_EQ(options.readyEvent, L"r name");
    EXPECT_EQ(options.nextEvent, L"n");
    EXPECT_EQ(options.quitEvent, L"q");
    EXPECT_EQ(options.parentPid, 4294967295u);
}

TEST(SceneOptions, Rejected)
{
    struct Case {
        const char* name;
        std::vector<std::wstring> args;
        std::wstring errorPart;
    };
    const Case cases[] = {
        {"unknown option", {L"--colour", L"red"}, L"unknown option '--colour'"},
        {"positional", {L"coords"}, L"unknown option 'coords'"},
        {"missing value", {L"--pattern"}, L"--pattern needs a value"},
        {"missing value after others", {L"--pattern", L"coords", L"--quit-event"}, L"--quit-event needs a value"},
        {"unknown pattern", {L"--pattern", L"noise"}, L"bad value 'noise' for --pattern"},
        {"empty event name", {L"--ready-event", L""}, L"bad value '' for --ready-event"},
        {"parent zero", {L"--parent", L"0"}, L"bad value '0' for --parent"},
        {"parent negative", {L"--parent", L"-5"}, L"bad value '-5' for --parent"},
        {"parent too large", {L"--parent", L"4294967296"}, L"bad value '4294967296' for --parent"},
        {"parent not a number", {L"--parent", L"12a"}, L"bad value '12a' for --parent"},
        {"twice", {L"--next-event", L"a", L"--next-event", L"b"}, L"--next-event given twice"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SceneOptions options;
        std::wstring error;
        EXPECT_FALSE(scene::ParseSceneArguments(c.args, &options, &error));
        EXPECT_EQ(error, c.errorPart);
    }
}

}  // namespace
