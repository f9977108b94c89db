// Percentiles, the run statistics with the first frame set apart, and the exact stats line.
#include "FrameStatistics.h"

#include <gtest/gtest.h>

namespace {

TEST(FrameStatistics, PercentileInterpolatesBetweenClosestRanks)
{
    struct Case {
        const char* name;
        std::vector<double> values;
        double p;
        double expected;
    };
    std::vector<double> oneToTwenty;
    for (int i = 1; i <= 20; ++i) {
        oneToTwenty.push_back(i);
    }
    const Case cases[] = {
        {"no values", {}, 0.5, 0},
        {"one value", {7}, 0.95, 7},
        {"odd count median", {3, 1, 2}, 0.5, 2},
        {"even count median is the middle mean", {4, 1, 3, 2}, 0.5, 2.5},
        {"p95 of 1..20", oneToTwenty, 0.95, 19.05},
        {"p0 is the minimum", {5, 9, 1}, 0, 1},
        {"p1 is the maximum", {5, 9, 1}, 1, 9},
        {"p above 1 clamps", {5, 9, 1}, 1.5, 9},
        {"p below 0 clamps", {5, 9, 1}, -0.5, 1},
        {"duplicates", {5, 5, 1, 9}, 0.5, 5},
        {"p95 of two", {10, 20}, 0.95, 19.5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NEAR(Percentile(c.values, c.p), c.expected, 1e-9);
    }
}

TEST(FrameStatistics, LatencySummary)
{
    const TLatencySummary summary = SummarizeLatencies({10, 1, 2, 3});
    EXPECT_DOUBLE_EQ(summary.dMedianMs, 2.5);
    EXPECT_NEAR(summary.dP95Ms, 8.95, 1e-9);  // 3 + 0.85 * (10 - 3)
    EXPECT_DOUBLE_EQ(summary.dMaxMs, 10);
    const TLatencySummary none = SummarizeLatencies({});
    EXPECT_EQ(none.dMedianMs, 0);
    EXPECT_EQ(none.dMaxMs, 0);
}

// Frame 1 waited 2,100 ms (warm-up), frames 2..5 came 10 ms apart, one of them late.
std::vector<TFrameTiming> WarmUpRun()
{
    return {
        {0, 2100, 2100},
        {2100, 2110, 10},
        {2110, 2120, 10},
        {2120, 2150, 30},
        {2150, 2160, 10},
    };
}

TEST(FrameStatistics, TheFirstFrameCountsOnlyAsFirstFrameTime)
{
    const TFrameRunStats stats = ComputeFrameRunStats(WarmUpRun(), 42);
    EXPECT_EQ(stats.ui32Frames, 5u);
    EXPECT_DOUBLE_EQ(stats.dFirstFrameMs, 2100);
    EXPECT_DOUBLE_EQ(stats.dFramesPerSecond, 4 * 1000.0 / 60);  // four intervals over 60 ms
    EXPECT_DOUBLE_EQ(stats.latency.dMedianMs, 10);
    EXPECT_DOUBLE_EQ(stats.latency.dMaxMs, 30) << "the warm-up wait is not a latency";
    EXPECT_NEAR(stats.latency.dP95Ms, 27, 1e-9);  // 10 + 0.85 * 20
    EXPECT_EQ(stats.ui64CapturerCpuMs, 42u);
}

TEST(FrameStatistics, RunsOfOneAndNoFrames)
{
    const TFrameRunStats one = ComputeFrameRunStats({{5, 2305, 2300}}, 0);
    EXPECT_EQ(one.ui32Frames, 1u);
    EXPECT_DOUBLE_EQ(one.dFirstFrameMs, 2300);
    EXPECT_EQ(one.dFramesPerSecond, 0);
    EXPECT_EQ(one.latency.dMaxMs, 0);
    const TFrameRunStats none = ComputeFrameRunStats({}, 7);
    EXPECT_EQ(none.ui32Frames, 0u);
    EXPECT_EQ(none.dFirstFrameMs, 0);
    EXPECT_EQ(none.ui64CapturerCpuMs, 7u);
}

TEST(FrameStatistics, StatsLineHasTheStableForm)
{
    EXPECT_EQ(FormatStatsLine(ComputeFrameRunStats(WarmUpRun(), 42)),
              "stats frames=5 fps=66.7 first_frame_ms=2100 latency_median_ms=10.00 latency_p95_ms=27.00 "
              "latency_max_ms=30.00 capturer_cpu_ms=42");
    TFrameRunStats stats;
    stats.dFirstFrameMs = 2100.5;
    stats.latency = TLatencySummary{0.004, 0.006, 1234.567};
    EXPECT_EQ(FormatStatsLine(stats),
              "stats frames=0 fps=0.0 first_frame_ms=2101 latency_median_ms=0.00 latency_p95_ms=0.01 "
              "latency_max_ms=1234.57 capturer_cpu_ms=0");
}

}  // namespace
