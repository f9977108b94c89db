// The blit loop benchmark's options and its result line.
#include "BlitLoopOptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using blitloop::BlitLoopOptions;
using blitloop::BlitLoopResult;

TEST(BlitLoopOptions, Accepted)
{
    struct Case {
        const char* name;
        std::vector<std::wstring> args;
        int32_t width, height;
        uint32_t seconds, frames;
        bool bStretch;
        int32_t stretchWidth, stretchHeight;
    };
    const Case cases[] = {
        {"defaults", {}, 1920, 1080, 10, 0, false, 0, 0},
        {"size", {L"--size", L"1280x720"}, 1280, 720, 10, 0, false, 0, 0},
        {"frames alone: no time limit", {L"--frames", L"600"}, 1920, 1080, 0, 600, false, 0, 0},
        {"frames and seconds", {L"--seconds", L"3", L"--frames", L"50"}, 1920, 1080, 3, 50, false, 0, 0},
        {"stretch", {L"--stretch", L"1280x720", L"--seconds", L"1"}, 1920, 1080, 1, 0, true, 1280, 720},
        {"largest values", {L"--size", L"16384x16384", L"--seconds", L"3600", L"--frames", L"10000000"},
         16384, 16384, 3600, 10000000, false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BlitLoopOptions options;
        std::wstring error;
        ASSERT_TRUE(blitloop::ParseBlitLoopArguments(c.args, &options, &error)) << std::string(error.begin(), error.end());
        EXPECT_EQ(options.width, c.width);
        EXPECT_EQ(options.height, c.height);
        EXPECT_EQ(options.seconds, c.seconds);
        EXPECT_EQ(options.frames, c.frames);
        EXPECT_EQ(options.bStretch, c.bStretch);
        EXPECT_EQ(options.stretchWidth, c.stretchWidth);
        EXPECT_EQ(options.stretchHeight, c.stretchHeight);
    }
}

TEST(BlitLoopOptions, Rejected)
{
    struct Case {
        const char* name;
        std::vector<std::wstring> args;
        std::wstring error;
    };
    const Case cases[] = {
        {"unknown", {L"--fps", L"60"}, L"unknown option '--fps'"},
        {"no value", {L"--size"}, L"--size needs a value"},
        {"twice", {L"--frames", L"1", L"--frames", L"2"}, L"--frames given twice"},
        {"size without x", {L"--size", L"1920"}, L"bad value '1920' for --size"},
        {"size zero", {L"--size", L"0x1080"}, L"bad value '0x1080' for --size"},
        {"size negative", {L"--size", L"-1x-1"}, L"bad value '-1x-1' for --size"},
        {"size too large", {L"--size", L"16385x10"}, L"bad value '16385x10' for --size"},
        {"size comma", {L"--size", L"1920,1080"}, L"bad value '1920,1080' for --size"},
        {"stretch empty height", {L"--stretch", L"1280x"}, L"bad value '1280x' for --stretch"},
        {"seconds zero", {L"--seconds", L"0"}, L"bad value '0' for --seconds"},
        {"seconds too many", {L"--seconds", L"3601"}, L"bad value '3601' for --seconds"},
        {"frames not a number", {L"--frames", L"ten"}, L"bad value 'ten' for --frames"},
        {"frames too many", {L"--frames", L"10000001"}, L"bad value '10000001' for --frames"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BlitLoopOptions options;
        std::wstring error;
        EXPECT_FALSE(blitloop::ParseBlitLoopArguments(c.args, &options, &error));
        EXPECT_EQ(error, c.error);
    }
}

TEST(BlitLoopOptions, ResultLine)
{
    struct Case {
        const char* name;
        BlitLoopOptions options;
        BlitLoopResult result;
        const char* expected;
    };
    BlitLoopOptions stretched;
    stretched.bStretch = true;
    stretched.stretchWidth = 1280;
    stretched.stretchHeight = 720;
    const Case cases[] = {
        {"one second of 145 frames", BlitLoopOptions{}, BlitLoopResult{145, 1000.0, 1015.0, 72.5},
         "blit_loop frames=145 fps=145.0 blit_ms=7.00 copy_ms=0.50 size=1920x1080"},
        {"rounding", BlitLoopOptions{}, BlitLoopResult{3, 7.0, 1.0, 0.02},
         "blit_loop frames=3 fps=428.6 blit_ms=0.33 copy_ms=0.01 size=1920x1080"},
        {"no frames", BlitLoopOptions{}, BlitLoopResult{0, 0.0, 0.0, 0.0},
         "blit_loop frames=0 fps=0.0 blit_ms=0.00 copy_ms=0.00 size=1920x1080"},
        {"stretch", stretched, BlitLoopResult{10, 500.0, 210.0, 5.0},
         "blit_loop frames=10 fps=20.0 blit_ms=21.00 copy_ms=0.50 size=1920x1080 stretch=1280x720"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(blitloop::FormatBlitLoopLine(c.options, c.result), c.expected);
    }
}

}  // namespace
