// The soak's verdict: growth counted per session after settling and summed, handle rises, and
// the frame rate of the last minute against the first.
#include "SoakVerdict.h"

#include <gtest/gtest.h>

namespace {

// A session of samples every 10 s from `startSeconds`: memory rising by `growthPerSample` from
// `memory`, 100 frames a second scaled by `rate`.
void AddSession(std::vector<soak::TSample>* pSamples, uint32_t session, double startSeconds, int count, uint64_t memory,
                uint64_t growthPerSample, double rate = 1.0, uint64_t handles = 40)
{
    for (int i = 1; i <= count; ++i) {
        soak::TSample sample;
        sample.ui32Session = session;
        sample.dSessionSeconds = 10.0 * i;
        sample.dSeconds = startSeconds + sample.dSessionSeconds;
        sample.ui64Frames = static_cast<uint64_t>(1000 * rate * i);
        sample.ui64MemoryBytes = memory + growthPerSample * static_cast<uint64_t>(i);
        sample.ui64Handles = handles;
        pSamples->push_back(sample);
    }
}

TEST(SoakVerdict, GrowthAfterSettlingIsSummedOverSessionsAndStartUpIsNot)
{
    std::vector<soak::TSample> samples;
    // Each session grows 1 MB per sample in its first minute (start-up, not counted), then 40 KB
    // per sample: 15 settled samples -> 14 steps of 40 KB = 560 KB per session.
    for (uint32_t session = 0; session < 3; ++session) {
        std::vector<soak::TSample> one;
        AddSession(&one, session, 200.0 * session, 20, 0, 40 * 1024);
        for (soak::TSample& sample : one) {
            if (sample.dSessionSeconds < 60) {
                sample.ui64MemoryBytes = 1024 * 1024 * static_cast<uint64_t>(sample.dSessionSeconds / 10);
            }
        }
        samples.insert(samples.end(), one.begin(), one.end());
    }
    const soak::TVerdict verdict = soak::Judge(samples, soak::TLimits{});
    EXPECT_EQ(verdict.ui64MemoryGrowth, 3u * 14 * 40 * 1024);
    EXPECT_FALSE(verdict.bPassed);
    ASSERT_EQ(verdict.vecReasons.size(), 1u);
    EXPECT_EQ(verdict.vecReasons[0], "memory grew by more than the limit");

    // The same run with 4 KB per settled sample: 3 x 14 x 4 KB = 168 KB, within 256 KB.
    for (soak::TSample& sample : samples) {
        if (sample.dSessionSeconds >= 60) {
            sample.ui64MemoryBytes = 4 * 1024 * static_cast<uint64_t>(sample.dSessionSeconds / 10);
        }
    }
    const soak::TVerdict flat = soak::Judge(samples, soak::TLimits{});
    EXPECT_TRUE(flat.bPassed) << soak::FormatVerdict(flat);
    EXPECT_DOUBLE_EQ(flat.dFirstMinuteFps, 100.0);
    EXPECT_DOUBLE_EQ(flat.dLastMinuteFps, 100.0);
}

TEST(SoakVerdict, APeakThatFallsBackStillCountsAndHandlesMayNotRise)
{
    std::vector<soak::TSample> samples;
    AddSession(&samples, 0, 0, 30, 10'000'000, 0);
    samples[15].ui64MemoryBytes += 300 * 1024;  // handed back later: still a rise of 300 KB
    samples[20].ui64Handles += 1;
    const soak::TVerdict verdict = soak::Judge(samples, soak::TLimits{});
    EXPECT_EQ(verdict.ui64MemoryGrowth, 300u * 1024);
    EXPECT_EQ(verdict.i64HandleGrowth, 1);
    EXPECT_FALSE(verdict.bPassed);
    EXPECT_EQ(verdict.vecReasons.size(), 2u) << soak::FormatVerdict(verdict);
}

TEST(SoakVerdict, TheLastMinuteMustKeepNinetyPercentOfTheFirst)
{
    std::vector<soak::TSample> samples;
    AddSession(&samples, 0, 0, 20, 0, 0, 1.0);
    AddSession(&samples, 1, 200, 20, 0, 0, 0.89);
    soak::TVerdict verdict = soak::Judge(samples, soak::TLimits{});
    EXPECT_NEAR(verdict.dLastMinuteFps, 89.0, 1e-9);
    EXPECT_FALSE(verdict.bPassed);

    samples.clear();
    AddSession(&samples, 0, 0, 20, 0, 0, 1.0);
    AddSession(&samples, 1, 200, 20, 0, 0, 0.91);
    verdict = soak::Judge(samples, soak::TLimits{});
    EXPECT_TRUE(verdict.bPassed) << soak::FormatVerdict(verdict);
}

TEST(SoakVerdict, TooShortARunIsNoPass)
{
    std::vector<soak::TSample> samples;
    AddSession(&samples, 0, 0, 6, 0, 0);  // nothing after the first minute
    const soak::TVerdict verdict = soak::Judge(samples, soak::TLimits{});
    EXPECT_FALSE(verdict.bPassed);
    EXPECT_EQ(verdict.vecReasons.at(0), "no session has two samples after settling");
}

}  // namespace
