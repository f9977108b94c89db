// The pattern functions: values, uniqueness of coords on a 1920x1080 screen, smoothness, scaling.
#include "ScenePattern.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using scene::Pattern;
using scene::PatternPixel;

constexpr uint32_t kWidth = 1920;
constexpr uint32_t kHeight = 1080;

TEST(ScenePattern, KnownValues)
{
    struct Case {
        const char* name;
        Pattern pattern;
        uint32_t x, y, generation;
        uint32_t expected;
    };
    const Case cases[] = {
        {"coords origin", Pattern::Coords, 0, 0, 0, 0x00000000u},
        {"coords low bytes", Pattern::Coords, 0x12, 0x34, 0, 0x00003412u},
        {"coords x high bits", Pattern::Coords, 0x301, 0, 0, 0x00030001u},
        {"coords y high bits", Pattern::Coords, 0, 0x205, 0, 0x00100500u},
        {"coords last pixel, generation 2", Pattern::Coords, 1919, 1079, 2, 0x00A7377Fu},
        {"coords generation 5 is 1", Pattern::Coords, 0, 0, 5, 0x00400000u},
        {"smooth origin", Pattern::Smooth, 0, 0, 0, 0x00000000u},
        {"smooth steps of eight", Pattern::Smooth, 15, 16, 0, 0x00000201u},
        {"smooth last pixel, generation 7", Pattern::Smooth, 1919, 1079, 7, 0x002886EFu},
        {"smooth generation 5", Pattern::Smooth, 8, 0, 5, 0x00C80001u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(PatternPixel(c.pattern, c.x, c.y, c.generation), c.expected);
    }
}

// Every pixel of 1920x1080 has its own colour in each generation, and the top byte is 0.
TEST(ScenePattern, CoordsUniqueOnFullHd)
{
    for (uint32_t generation = 0; generation < 4; ++generation) {
        SCOPED_TRACE(generation);
        std::vector<bool> seen(1u << 24);
        size_t duplicates = 0;
        size_t topByteSet = 0;
        for (uint32_t y = 0; y < kHeight; ++y) {
            for (uint32_t x = 0; x < kWidth; ++x) {
                const uint32_t value = PatternPixel(Pattern::Coords, x, y, generation);
                topByteSet += (value & ~scene::kPatternColourMask) != 0 ? 1 : 0;
                duplicates += seen[value & scene::kPatternColourMask] ? 1 : 0;
                seen[value & scene::kPatternColourMask] = true;
            }
        }
        EXPECT_EQ(duplicates, 0u);
        EXPECT_EQ(topByteSet, 0u);
    }
}

// A stale frame of the previous generation cannot pass for the current one anywhere; the
// generation repeats every four.
TEST(ScenePattern, CoordsGenerationsDifferInEveryPixel)
{
    for (uint32_t generation = 0; generation < 4; ++generation) {
        SCOPED_TRACE(generation);
        size_t same = 0;
        size_t periodBroken = 0;
        for (uint32_t y = 0; y < kHeight; ++y) {
            for (uint32_t x = 0; x < kWidth; ++x) {
                const uint32_t value = PatternPixel(Pattern::Coords, x, y, generation);
                same += value == PatternPixel(Pattern::Coords, x, y, generation + 1) ? 1 : 0;
                periodBroken += value != PatternPixel(Pattern::Coords, x, y, generation + 4) ? 1 : 0;
            }
        }
        EXPECT_EQ(same, 0u);
        EXPECT_EQ(periodBroken, 0u);
    }
}

TEST(ScenePattern, SmoothNeighboursDifferByAtMostOne)
{
    size_t steep = 0;
    for (uint32_t y = 0; y + 1 < kHeight; ++y) {
        for (uint32_t x = 0; x + 1 < kWidth; ++x) {
            const uint32_t value = PatternPixel(Pattern::Smooth, x, y, 3);
            steep += scene::MaxChannelDifference(value, PatternPixel(Pattern::Smooth, x + 1, y, 3)) > 1 ? 1 : 0;
            steep += scene::MaxChannelDifference(value, PatternPixel(Pattern::Smooth, x, y + 1, 3)) > 1 ? 1 : 0;
        }
    }
    EXPECT_EQ(steep, 0u);
}

// Six generations with six distinct reds, spaced widely enough for any scaling tolerance.
TEST(ScenePattern, SmoothGenerationsDistinctForSix)
{
    for (uint32_t a = 0; a < 6; ++a) {
        for (uint32_t b = a + 1; b < 6; ++b) {
            SCOPED_TRACE(testing::Message() << a << " against " << b);
            EXPECT_GE(scene::MaxChannelDifference(PatternPixel(Pattern::Smooth, 100, 100, a),
                                                  PatternPixel(Pattern::Smooth, 100, 100, b)),
                      40u);
        }
        EXPECT_EQ(PatternPixel(Pattern::Smooth, 7, 9, a), PatternPixel(Pattern::Smooth, 7, 9, a + 6));
    }
}

TEST(ScenePattern, ScaledPixelTakesTheSourcePixelUnderTheCentre)
{
    struct Case {
        const char* name;
        uint32_t dx, dy, srcW, srcH, dstW, dstH;
        uint32_t sourceX, sourceY;
    };
    const Case cases[] = {
        {"same size", 17, 33, 1920, 1080, 1920, 1080, 17, 33},
        {"same size, last pixel", 1919, 1079, 1920, 1080, 1920, 1080, 1919, 1079},
        {"half size", 0, 0, 1920, 1080, 960, 540, 1, 1},
        {"half size, last pixel", 959, 539, 1920, 1080, 960, 540, 1919, 1079},
        {"two thirds", 1, 1, 1920, 1080, 1280, 720, 2, 2},
        {"two thirds, last pixel", 1279, 719, 1920, 1080, 1280, 720, 1919, 1079},
        {"double size", 3, 5, 1920, 1080, 3840, 2160, 1, 2},
        {"zero destination", 5, 5, 1920, 1080, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (Pattern pattern : {Pattern::Coords, Pattern::Smooth}) {
            EXPECT_EQ(scene::ScaledPatternPixel(pattern, c.dx, c.dy, c.srcW, c.srcH, c.dstW, c.dstH, 1),
                      PatternPixel(pattern, c.sourceX, c.sourceY, 1));
        }
    }
}

TEST(ScenePattern, MaxChannelDifference)
{
    struct Case {
        const char* name;
        uint32_t a, b, expected;
    };
    const Case cases[] = {
        {"equal", 0x00123456u, 0x00123456u, 0},
        {"blue", 0x00000010u, 0x00000003u, 13},
        {"green, reversed", 0x00000100u, 0x0000FF00u, 254},
        {"red", 0x00FF0000u, 0x00000000u, 255},
        {"top byte ignored", 0xFF000000u, 0x00000000u, 0},
        {"largest of three", 0x00050A01u, 0x00010203u, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(scene::MaxChannelDifference(c.a, c.b), c.expected);
        EXPECT_EQ(scene::MaxChannelDifference(c.b, c.a), c.expected);
    }
}

TEST(ScenePattern, Names)
{
    for (Pattern pattern : {Pattern::Coords, Pattern::Smooth}) {
        const std::string name = scene::PatternName(pattern);
        Pattern parsed = pattern == Pattern::Coords ? Pattern::Smooth : Pattern::Coords;
        EXPECT_TRUE(scene::ParsePatternName(std::wstring(name.begin(), name.end()), &parsed)) << name;
        EXPECT_EQ(parsed, pattern) << name;
    }
    for (const wchar_t* bad : {L"", L"Coords", L"coord", L"smooth ", L"noise"}) {
        Pattern parsed = Pattern::Smooth;
        EXPECT_FALSE(scene::ParsePatternName(bad, &parsed));
        EXPECT_EQ(parsed, Pattern::Smooth);
    }
}

}  // namespace
