// ZYRScene's command line.
#include "SceneOptions.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cwchar>
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
    EXPECT_FALSE(options.hasPointer);
}

TEST(SceneOptions, AllOptions)
{
    SceneOptions options;
    std::wstring error;
    ASSERT_TRUE(scene::ParseSceneArguments({L"--quit-event", L"q", L"--pattern", L"smooth", L"--ready-event",
                                            L"r name", L"--parent", L"4294967295", L"--next-event", L"n",
                                            L"--pointer", L"100,80"},
                                           &options, &error))
        << std::string(error.begin(), error.end());
    EXPECT_EQ(options.pattern, Pattern::Smooth);
    EXPECT_EQ(options.readyEvent, L"r name");
    EXPECT_EQ(options.nextEvent, L"n");
    EXPECT_EQ(options.quitEvent, L"q");
    EXPECT_EQ(options.parentPid, 4294967295u);
    EXPECT_TRUE(options.hasPointer);
    EXPECT_EQ(options.pointerX, 100);
    EXPECT_EQ(options.pointerY, 80);
}

TEST(SceneOptions, PointerCoordinates)
{
    struct Case {
        const wchar_t* text;
        int32_t x;
        int32_t y;
    };
    const Case cases[] = {
        {L"0,0", 0, 0},
        {L"1919,1079", 1919, 1079},
        {L"-5,-2147483648", -5, INT32_MIN},
        {L"2147483647,7", INT32_MAX, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text, c.text + std::wcslen(c.text)));
        SceneOptions options;
        std::wstring error;
        ASSERT_TRUE(scene::ParseSceneArguments({L"--pointer", c.text}, &options, &error));
        EXPECT_TRUE(options.hasPointer);
        EXPECT_EQ(options.pointerX, c.x);
        EXPECT_EQ(options.pointerY, c.y);
    }
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
        {"pointer of one", {L"--pointer", L"100"}, L"bad value '100' for --pointer"},
        {"pointer of three", {L"--pointer", L"1,2,3"}, L"bad value '1,2,3' for --pointer"},
        {"pointer with x", {L"--pointer", L"100x80"}, L"bad value '100x80' for --pointer"},
        {"pointer empty half", {L"--pointer", L",80"}, L"bad value ',80' for --pointer"},
        {"pointer lone minus", {L"--pointer", L"-,1"}, L"bad value '-,1' for --pointer"},
        {"pointer beyond int", {L"--pointer", L"2147483648,0"}, L"bad value '2147483648,0' for --pointer"},
        {"pointer with blank", {L"--pointer", L"1, 2"}, L"bad value '1, 2' for --pointer"},
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
