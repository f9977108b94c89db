// The capture thread's arithmetic: region checks, the frame image size, the warm-up countdown, the
// frame time stamp and the cursor offset in a scaled frame.
#include "app/CapturePlan.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

using capplan::TRegionCheck;

constexpr int32_t kIntMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kIntMin = std::numeric_limits<int32_t>::min();
constexpr uint64_t kU64Max = std::numeric_limits<uint64_t>::max();

const char* CheckName(TRegionCheck check)
{
    switch (check) {
    case TRegionCheck::Ok:
        return "Ok";
    case TRegionCheck::InvalidLeft:
        return "InvalidLeft";
    case TRegionCheck::InvalidTop:
        return "InvalidTop";
    case TRegionCheck::InvalidRight:
        return "InvalidRight";
    case TRegionCheck::InvalidBottom:
        return "InvalidBottom";
    case TRegionCheck::Empty:
        return "Empty";
    }
    return "?";
}

struct RegionCase {
    const char* name;
    THooksRect region;
    int32_t width;
    int32_t height;
    TRegionCheck expected;
};

TEST(CapturePlanRegion, ChecksRunInOrderAndTheFirstFailureDecides)
{
    const RegionCase cases[] = {
        {"inside", {100, 100, 1000, 700}, 1920, 1080, TRegionCheck::Ok},
        {"right = width and bottom = height accepted", {0, 0, 1920, 1080}, 1920, 1080, TRegionCheck::Ok},
        {"last column and row", {1919, 1079, 1920, 1080}, 1920, 1080, TRegionCheck::Ok},
        {"left = width refused", {1920, 0, 1920, 1080}, 1920, 1080, TRegionCheck::InvalidLeft},
        {"left > width", {2000, 0, 2100, 1080}, 1920, 1080, TRegionCheck::InvalidLeft},
        {"negative left", {-1, 0, 100, 100}, 1920, 1080, TRegionCheck::InvalidLeft},
        {"most negative left", {kIntMin, 0, 100, 100}, 1920, 1080, TRegionCheck::InvalidLeft},
        {"top = height refused", {0, 1080, 1920, 1080}, 1920, 1080, TRegionCheck::InvalidTop},
        {"negative top", {0, -1, 100, 100}, 1920, 1080, TRegionCheck::InvalidTop},
        {"right = width + 1", {0, 0, 1921, 1080}, 1920, 1080, TRegionCheck::InvalidRight},
        {"largest right", {0, 0, kIntMax, 1080}, 1920, 1080, TRegionCheck::InvalidRight},
        {"bottom = height + 1", {0, 0, 1920, 1081}, 1920, 1080, TRegionCheck::InvalidBottom},
        // Several faults: the earlier check names the region.
        {"left and top bad: left", {-5, -5, 100, 100}, 1920, 1080, TRegionCheck::InvalidLeft},
        {"top and right bad: top", {0, 2000, 3000, 100}, 1920, 1080, TRegionCheck::InvalidTop},
        {"right and bottom bad: right", {0, 0, 1921, 1081}, 1920, 1080, TRegionCheck::InvalidRight},
        {"bottom bad and empty: bottom", {500, 500, 400, 1081}, 1920, 1080, TRegionCheck::InvalidBottom},
        // Inside the display but without an area.
        {"right = left", {100, 100, 100, 700}, 1920, 1080, TRegionCheck::Empty},
        {"right < left", {1000, 100, 100, 700}, 1920, 1080, TRegionCheck::Empty},
        {"bottom = top", {100, 700, 1000, 700}, 1920, 1080, TRegionCheck::Empty},
        {"negative right", {10, 10, -5, 20}, 1920, 1080, TRegionCheck::Empty},
        {"all zero", {0, 0, 0, 0}, 1920, 1080, TRegionCheck::Empty},
        {"display of 0 x 0", {0, 0, 1, 1}, 0, 0, TRegionCheck::InvalidLeft},
        {"display 1 x 1", {0, 0, 1, 1}, 1, 1, TRegionCheck::Ok},
    };
    for (const RegionCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_STREQ(CheckName(c.expected), CheckName(capplan::CheckCaptureRegion(c.region, c.width, c.height)));
    }
}

TEST(CapturePlanRegion, EachCheckHasItsLineText)
{
    const std::vector<std::pair<TRegionCheck, std::string>> texts = {
        {TRegionCheck::InvalidLeft, "invalid region left position"},
        {TRegionCheck::InvalidTop, "invalid region top position"},
        {TRegionCheck::InvalidRight, "invalid region right position"},
        {TRegionCheck::InvalidBottom, "invalid region bottom position"},
        {TRegionCheck::Empty, "invalid region, right <= left or bottom <= top"},
        {TRegionCheck::Ok, "valid region"},
    };
    for (const auto& [check, text] : texts) {
        SCOPED_TRACE(CheckName(check));
        EXPECT_EQ(text, capplan::RegionCheckText(check));
    }
}

struct SizeCase {
    const char* name;
    int32_t requestedWidth;
    int32_t requestedHeight;
    THooksRect region;
    int32_t captureWidth;
    int32_t captureHeight;
    int32_t expectedWidth;
    int32_t expectedHeight;
};

TEST(CapturePlanSize, DerivedSizesTruncateToEightRequestedSizesStay)
{
    const SizeCase cases[] = {
        {"whole 1366 x 768", -1, -1, {0, 0, 0, 0}, 1366, 768, 1360, 768},
        {"whole 1920 x 1080", -1, -1, {0, 0, 0, 0}, 1920, 1080, 1920, 1080},
        {"whole 1927 x 1087", -1, -1, {0, 0, 0, 0}, 1927, 1087, 1920, 1080},
        {"whole 7 x 7", -1, -1, {0, 0, 0, 0}, 7, 7, 0, 0},
        {"region (100, 100) - (1000, 700)", -1, -1, {100, 100, 1000, 700}, 1920, 1080, 896, 600},
        {"region with odd edges", -1, -1, {3, 5, 1004, 706}, 1920, 1080, 1000, 696},
        {"region height ignored when width is -1", -1, 12345, {0, 0, 0, 0}, 1280, 720, 1280, 720},
        {"requested 1280 x 720 as is", 1280, 720, {0, 0, 0, 0}, 1920, 1080, 1280, 720},
        {"requested 1283 x 719: no rounding", 1283, 719, {0, 0, 0, 0}, 1920, 1080, 1283, 719},
        {"requested with a region: still as is", 1283, 719, {100, 100, 1000, 700}, 1920, 1080, 1283, 719},
        {"requested 0 x 0 (a zeroed header)", 0, 0, {0, 0, 0, 0}, 1920, 1080, 0, 0},
        {"requested -2 is not -1", -2, 17, {0, 0, 0, 0}, 1920, 1080, -2, 17},
        // Negative values truncate toward zero: -9 -> -8, -7 -> 0 (not -16 and -8).
        {"negative region width -9", -1, -1, {1000, 100, 991, 700}, 1920, 1080, -8, 600},
        {"negative region height -7", -1, -1, {100, 700, 1000, 693}, 1920, 1080, 896, 0},
        {"negative display size", -1, -1, {0, 0, 0, 0}, -15, -17, -8, -16},
        {"negative display size -7", -1, -1, {0, 0, 0, 0}, -7, 9, 0, 8},
    };
    for (const SizeCase& c : cases) {
        SCOPED_TRACE(c.name);
        const capplan::TImageSize size =
            capplan::SafeImageSize(c.requestedWidth, c.requestedHeight, c.region, c.captureWidth, c.captureHeight);
        EXPECT_EQ(c.expectedWidth, size.iWidth);
        EXPECT_EQ(c.expectedHeight, size.iHeight);
    }
}

struct WarmUpCase {
    const char* name;
    uint32_t start;
    uint32_t now;
    uint32_t expected;
};

TEST(CapturePlanWarmUp, CountsDownTwoSecondsAcrossTheTickWrap)
{
    const WarmUpCase cases[] = {
        {"first pass", 1000, 1000, 2000},
        {"1 ms later", 1000, 1001, 1999},
        {"1 ms left", 1000, 2999, 1},
        {"exactly 2,000 ms", 1000, 3000, 0},
        {"long after", 1000, 100000, 0},
        {"start at tick 0", 0, 1500, 500},
        {"start before the wrap, now after it", 0xFFFFFF00u, 0x10u, 1728},
        {"1,999 ms across the wrap", 0xFFFFFF00u, 0xFFFFFF00u + 1999u, 1},
        {"2,000 ms across the wrap", 0xFFFFFF00u, 0xFFFFFF00u + 2000u, 0},
        {"start at the last tick", 0xFFFFFFFFu, 0u, 1999},
        // A clock seen running backwards counts as a full wrap: long over.
        {"now one tick before start", 5000, 4999, 0},
    };
    for (const WarmUpCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.expected, capplan::WarmUpLeftMs(c.start, c.now));
    }
    EXPECT_EQ(2000u, capplan::kWarmUpMs);
}

using u128 = unsigned __int128;

// The reference: c * 1000 / f in exact 128-bit arithmetic, low 32 bits.
uint32_t ExactMilliseconds(uint64_t c, uint64_t f)
{
    return static_cast<uint32_t>(static_cast<u128>(c) * 1000u / f);
}

// Largest counter whose exact count of 100 ns units, c * 10^7 / f, fits 64 bits: the domain of the
// quotient-and-remainder arithmetic. At 10 MHz and above that is every counter; at 3.579545 MHz it
// ends near 6.6 * 10^18 ticks (58,000 years).
uint64_t DomainEnd(uint64_t f)
{
    const u128 end = ((static_cast<u128>(1) << 64) * f - 1) / 10000000u;
    return end > kU64Max ? kU64Max : static_cast<uint64_t>(end);
}

std::string Describe(uint64_t c, uint64_t f)
{
    return "c = " + std::to_string(c) + ", f = " + std::to_string(f);
}

TEST(CapturePlanTimestamp, MatchesExactArithmeticWhereANaiveProductOverflows)
{
    const uint64_t frequencies[] = {10000000, 3579545, 1000000000, 2400000000, 14318180, 1000, 1};
    for (const uint64_t f : frequencies) {
        const uint64_t end = DomainEnd(f);
        const uint64_t counters[] = {0, 1, f - 1, f, f + 1, f * 86400 + f / 2, 123456789012345,
                                     // Past 1.8 * 10^16 a naive c * 1000 no longer fits 64 bits.
                                     18446744073709552, 1ull << 60, end / 2, end - f / 3, end};
        for (const uint64_t c : counters) {
            if (c > end) {
                continue;  // outside the arithmetic's documented domain (only for f < 10^7)
            }
            SCOPED_TRACE(Describe(c, f));
            EXPECT_EQ(ExactMilliseconds(c, f), capplan::CounterToMilliseconds(c, f));
        }
    }
}

TEST(CapturePlanTimestamp, HugeCountersReallyOverflowANaiveProduct)
{
    // The cases above are only meaningful if c * 1000 does not fit 64 bits for them.
    const uint64_t huge[] = {18446744073709552ull, 1ull << 60, kU64Max};
    for (const uint64_t c : huge) {
        SCOPED_TRACE(std::to_string(c));
        EXPECT_GT(static_cast<u128>(c) * 1000u, static_cast<u128>(kU64Max));
    }
    // At 10 MHz the whole 64-bit counter range is exact.
    EXPECT_EQ(kU64Max, DomainEnd(10000000));
    EXPECT_EQ(ExactMilliseconds(kU64Max, 10000000), capplan::CounterToMilliseconds(kU64Max, 10000000));
    EXPECT_EQ(ExactMilliseconds(kU64Max, 1000000000), capplan::CounterToMilliseconds(kU64Max, 1000000000));
}

struct StampCase {
    const char* name;
    uint64_t counter;
    uint64_t frequency;
    uint32_t expected;
};

TEST(CapturePlanTimestamp, HandCheckedValues)
{
    const StampCase cases[] = {
        {"10 MHz", 123456789, 10000000, 12345},
        {"ACPI timer: one tick short of a second", 3579544, 3579545, 999},
        {"ACPI timer: one second", 3579545, 3579545, 1000},
        {"1 GHz, one day", 86400000000000ull, 1000000000, 86400000},
        {"10 MHz, 2^32 ms wraps to 0", 42949672960000ull, 10000000, 0},
        {"10 MHz, 2^32 + 5 ms keeps the low 32 bits", 42949673010000ull, 10000000, 5},
        {"frequency 0", 12345, 0, 0},
    };
    for (const StampCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.expected, capplan::CounterToMilliseconds(c.counter, c.frequency));
    }
}

struct ScaleCase {
    const char* name;
    THooksRect source;
    THooksRect destination;
    double expectedX;
    double expectedY;
};

TEST(CapturePlanScale, DestinationOverSourcePerAxis)
{
    const ScaleCase cases[] = {
        {"1:1", {0, 0, 1920, 1080}, {0, 0, 1920, 1080}, 1.0, 1.0},
        {"1080p into 720p", {0, 0, 1920, 1080}, {0, 0, 1280, 720}, 1280.0 / 1920.0, 720.0 / 1080.0},
        {"negative source origin", {-1920, -200, 0, 1000}, {0, 50, 800, 550}, 800.0 / 1920.0, 500.0 / 1200.0},
        {"bars: offset destination", {0, 0, 1920, 1200}, {64, 0, 1216, 720}, 1152.0 / 1920.0, 720.0 / 1200.0},
        {"scaled up", {100, 100, 740, 460}, {0, 0, 1280, 720}, 2.0, 2.0},
        {"empty source width", {5, 0, 5, 1080}, {0, 0, 1280, 720}, 0.0, 720.0 / 1080.0},
        {"empty source height", {0, 7, 1920, 7}, {0, 0, 1280, 720}, 1280.0 / 1920.0, 0.0},
        {"empty destination", {0, 0, 1920, 1080}, {3, 3, 3, 3}, 0.0, 0.0},
        {"widest source", {kIntMin, 0, kIntMax, 1}, {0, 0, 1, 1}, 1.0 / 4294967295.0, 1.0},
    };
    for (const ScaleCase& c : cases) {
        SCOPED_TRACE(c.name);
        const capplan::TScale scale = capplan::ScaleOf(c.source, c.destination);
        EXPECT_DOUBLE_EQ(c.expectedX, scale.dScaleX);
        EXPECT_DOUBLE_EQ(c.expectedY, scale.dScaleY);
    }
}

struct OffsetCase {
    const char* name;
    THooksRect source;
    THooksRect destination;
    int32_t displayX;
    int32_t displayY;
    int32_t expectedX;
    int32_t expectedY;
};

TEST(CapturePlanCursor, OffsetTruncatesEachProductTowardZero)
{
    const OffsetCase cases[] = {
        {"primary display, 1:1", {0, 0, 1920, 1080}, {0, 0, 1920, 1080}, 0, 0, 0, 0},
        {"display left of the primary, 1:1", {0, 0, 1920, 1080}, {0, 0, 1920, 1080}, -1920, 0, 1920, 0},
        {"display right of the primary, region", {100, 50, 1100, 650}, {0, 0, 1000, 600}, 1920, 0, -2020, -50},
        // 2/3: -1280 * 2/3 = -853.3 -> -853 (floor would give -854); 100 * 2/3 = 66.7 -> 66;
        // -1024 * 2/3 = -682.7 -> -682; 50 * 2/3 = 33.3 -> 33.
        {"negative origin scaled by 2/3", {100, 50, 1060, 590}, {64, 0, 704, 360}, -1280, -1024, 851, 649},
        // Each product is truncated on its own: 0.5 + 0.5 gives 0 + 0, not 1.
        {"halves are truncated separately", {1, 1, 3, 3}, {10, 20, 11, 21}, 1, 1, 10, 20},
        {"negative halves toward zero", {-1, -1, 1, 1}, {10, 20, 11, 21}, -1, -3, 10, 21},
        {"scaled up by 2", {10, 20, 650, 380}, {0, 0, 1280, 720}, -3, 5, -14, -50},
        // Out of range values saturate instead of wrapping.
        {"saturates high", {0, 0, 1, 1}, {kIntMax - 1, 0, kIntMax, 1}, kIntMin, 0, kIntMax, 0},
        {"saturates low", {0, 0, 1, 1}, {kIntMin, kIntMin, kIntMin + 2, kIntMin + 2}, kIntMax, kIntMax, kIntMin,
         kIntMin},
    };
    for (const OffsetCase& c : cases) {
        SCOPED_TRACE(c.name);
        const capplan::TScale scale = capplan::ScaleOf(c.source, c.destination);
        const capplan::TOffset offset =
            capplan::CursorOffset(c.source, c.destination, scale, c.displayX, c.displayY);
        EXPECT_EQ(c.expectedX, offset.iX);
        EXPECT_EQ(c.expectedY, offset.iY);
    }
}

}  // namespace
