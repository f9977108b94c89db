// The capture thread's arithmetic (region checks, frame size, warm-up, time stamps, scale and
// cursor offset) and the capturer's destination rectangle.
#include "app/CapturePlan.h"
#include "capturers/CaptureGeometry.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <utility>

namespace {

using capplan::TRegionCheck;
using Rect = std::array<int32_t, 4>;
constexpr int32_t kMax = INT32_MAX;
constexpr int32_t kMin = INT32_MIN;

Rect R(const THooksRect& r)
{
    return {r.left, r.top, r.right, r.bottom};
}

TEST(CapturePlan, RegionChecksRunInOrderAndTheFirstFailureDecides)
{
    const std::pair<Rect, TRegionCheck> cases[] = {
        {{0, 0, 1920, 1080}, TRegionCheck::Ok},           {{1919, 1079, 1920, 1080}, TRegionCheck::Ok},
        {{1920, 0, 1920, 1080}, TRegionCheck::InvalidLeft}, {{-5, -5, 100, 100}, TRegionCheck::InvalidLeft},
        {{0, 2000, 3000, 100}, TRegionCheck::InvalidTop},   {{0, 0, 1921, 1081}, TRegionCheck::InvalidRight},
        {{500, 500, 400, 1081}, TRegionCheck::InvalidBottom}, {{1000, 100, 100, 700}, TRegionCheck::Empty},
        {{100, 700, 1000, 700}, TRegionCheck::Empty},
    };
    for (const auto& [r, expected] : cases) {
        EXPECT_EQ(capplan::CheckCaptureRegion(THooksRect{r[0], r[1], r[2], r[3]}, 1920, 1080), expected)
            << ::testing::PrintToString(r);
    }
    EXPECT_EQ(capplan::CheckCaptureRegion(THooksRect{0, 0, 1, 1}, 0, 0), TRegionCheck::InvalidLeft);
    const char* texts[] = {"valid region", "invalid region left position", "invalid region top position",
                           "invalid region right position", "invalid region bottom position",
                           "invalid region, right <= left or bottom <= top"};
    const TRegionCheck checks[] = {TRegionCheck::Ok, TRegionCheck::InvalidLeft, TRegionCheck::InvalidTop,
                                   TRegionCheck::InvalidRight, TRegionCheck::InvalidBottom, TRegionCheck::Empty};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_STREQ(capplan::RegionCheckText(checks[i]), texts[i]);
    }
}

TEST(CapturePlan, DerivedSizesTruncateToEightRequestedSizesStay)
{
    // Requested width, height; region; capture width, height -> image width, height.
    const std::array<int32_t, 10> cases[] = {
        {-1, -1, 0, 0, 0, 0, 1366, 768, 1360, 768},          {-1, -1, 0, 0, 0, 0, 1927, 1087, 1920, 1080},
        {-1, -1, 0, 0, 0, 0, 7, 7, 0, 0},                    {-1, -1, 100, 100, 1000, 700, 1920, 1080, 896, 600},
        {-1, 12345, 0, 0, 0, 0, 1280, 720, 1280, 720},       {1283, 719, 100, 100, 1000, 700, 1920, 1080, 1283, 719},
        {0, 0, 0, 0, 0, 0, 1920, 1080, 0, 0},                {-2, 17, 0, 0, 0, 0, 1920, 1080, -2, 17},
        {-1, -1, 1000, 100, 991, 700, 1920, 1080, -8, 600},  {-1, -1, 0, 0, 0, 0, -7, 9, 0, 8},  // toward zero
    };
    for (const auto& c : cases) {
        const capplan::TImageSize size = capplan::SafeImageSize(c[0], c[1], THooksRect{c[2], c[3], c[4], c[5]}, c[6], c[7]);
        EXPECT_EQ((std::pair<int32_t, int32_t>(size.iWidth, size.iHeight)), std::make_pair(c[8], c[9]))
            << ::testing::PrintToString(c);
    }
}

TEST(CapturePlan, WarmUpCountsDownTwoSecondsAcrossTheTickWrap)
{
    const uint32_t cases[][3] = {{1000, 1000, 2000},          {1000, 2999, 1},
                                 {1000, 3000, 0},             {0xFFFFFF00u, 0x10u, 1728},
                                 {0xFFFFFF00u, 0xFFFFFF00u + 2000u, 0}, {0xFFFFFFFFu, 0u, 1999},
                                 {5000, 4999, 0}};  // a clock seen running backwards: long over
    for (const auto& c : cases) {
        EXPECT_EQ(capplan::WarmUpLeftMs(c[0], c[1]), c[2]) << c[0] << " -> " << c[1];
    }
}

TEST(CapturePlan, TimestampIsExactWhereANaiveProductOverflows)
{
    const uint64_t cases[][2] = {{123456789, 10000000},         {3579544, 3579545},
                                 {42949673010000ull, 10000000},  // 2^32 + 5 ms keeps the low 32 bits
                                 {18446744073709552ull, 10000000}, {1ull << 60, 3579545},
                                 {UINT64_MAX, 1000000000},       {12345, 1}};
    for (const auto& c : cases) {
        EXPECT_EQ(capplan::CounterToMilliseconds(c[0], c[1]),
                  static_cast<uint32_t>(static_cast<unsigned __int128>(c[0]) * 1000u / c[1]))
            << c[0] << " / " << c[1];
    }
    EXPECT_EQ(capplan::CounterToMilliseconds(12345, 0), 0u);
}

TEST(CapturePlan, CursorOffsetTruncatesEachProductTowardZero)
{
    // Source, destination, display origin -> offset. 2/3 in the third row: -1280 x 2/3 = -853.3
    // -> -853, 100 x 2/3 -> 66, -1024 x 2/3 -> -682, 50 x 2/3 -> 33. In the fourth 0.5 + 0.5 is 0 + 0.
    const std::array<int32_t, 12> cases[] = {
        {0, 0, 1920, 1080, 0, 0, 1920, 1080, -1920, 0, 1920, 0},
        {100, 50, 1100, 650, 0, 0, 1000, 600, 1920, 0, -2020, -50},
        {100, 50, 1060, 590, 64, 0, 704, 360, -1280, -1024, 851, 649},
        {1, 1, 3, 3, 10, 20, 11, 21, 1, 1, 10, 20},
        {0, 0, 1, 1, kMax - 1, 0, kMax, 1, kMin, 0, kMax, 0},
        {0, 0, 1, 1, kMin, kMin, kMin + 2, kMin + 2, kMax, kMax, kMin, kMin},
    };
    for (const auto& c : cases) {
        const THooksRect source{c[0], c[1], c[2], c[3]};
        const THooksRect destination{c[4], c[5], c[6], c[7]};
        const capplan::TOffset offset =
            capplan::CursorOffset(source, destination, capplan::ScaleOf(source, destination), c[8], c[9]);
        EXPECT_EQ((std::pair<int32_t, int32_t>(offset.iX, offset.iY)), std::make_pair(c[10], c[11]))
            << ::testing::PrintToString(c);
    }
    EXPECT_EQ(capplan::ScaleOf(THooksRect{5, 0, 5, 1080}, THooksRect{0, 0, 1280, 720}).dScaleX, 0.0);
}

TEST(CaptureGeometry, DestinationRectKeepsProportionOrStretches)
{
    // Final width, height; source; keep proportion -> destination. Degenerate inputs never divide by
    // zero nor leave the final image.
    const std::pair<std::array<int32_t, 7>, Rect> cases[] = {
        {{1280, 720, 0, 0, 1920, 1200, 1}, {64, 0, 1216, 720}},    {{1280, 720, 0, 0, 2560, 1080, 1}, {0, 90, 1280, 630}},
        {{1366, 768, 0, 0, 1920, 1080, 1}, {0, 0, 1365, 768}},     {{1920, 1080, 0, 0, 1280, 1024, 1}, {285, 0, 1635, 1080}},
        {{800, 600, -1920, -200, 0, 1000, 1}, {0, 50, 800, 550}},  {{7, 4, 0, 0, 2, 2, 1}, {1, 0, 5, 4}},
        {{1280, 720, 0, 0, 1920, 1200, 0}, {0, 0, 1280, 720}},     {{1280, 720, 0, 0, 0, 0, 1}, {0, 0, 1280, 720}},
        {{1280, 720, 100, 100, 10, 10, 1}, {0, 0, 1280, 720}},     {{-5, -7, 0, 0, 1920, 1080, 0}, {0, 0, 0, 0}},
        {{0, 720, 0, 0, 1920, 1080, 1}, {0, 0, 0, 720}},           {{1920, 1080, kMin, 0, kMax, 1080, 1}, {0, 540, 1920, 540}},
        {{kMax, 1080, 0, 0, 1920, 1080, 1}, {1073740863, 0, 1073742783, 1080}},
        {{kMax, kMax, kMin, kMin, kMax, kMax, 1}, {0, 0, kMax, kMax}},
    };
    for (const auto& [c, expected] : cases) {
        EXPECT_EQ(R(capgeo::DestinationRect(c[0], c[1], THooksRect{c[2], c[3], c[4], c[5]}, c[6] != 0)), expected)
            << ::testing::PrintToString(c);
    }
    EXPECT_EQ(R(capgeo::WholeDisplayRect(2560, 1440)), (Rect{0, 0, 2560, 1440}));
    EXPECT_EQ(R(capgeo::WholeDisplayRect(-3, -4)), (Rect{0, 0, 0, 0}));
}

}  // namespace
