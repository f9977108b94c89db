// Statistics of a run of frames: percentiles of the request-to-ready latency, the frame rate and
// the one "stats" line the tool prints. Platform-free.
//
// The first frame is special: the capture thread publishes nothing during its 2,000 ms warm-up, so
// the first frame's wait says how long the capturer took to start, not how fast it serves. It is
// reported on its own (first_frame_ms) and left out of everything else: the frame rate is counted
// over the intervals between the first frame's ready time and the last one's, and the latency
// percentiles cover frames 2..N. A run of one frame therefore has fps 0.0 and latencies 0.00.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Times of one delivered frame, in milliseconds of one monotonic clock.
struct TFrameTiming {
    double dRequestMs = 0;  // when the slot was requested
    double dReadyMs = 0;    // when the host saw it ready
    // What the capturer took for this frame: ready minus the later of its request and the previous
    // frame's ready time. With one request at a time this is request-to-ready; with requests queued
    // ahead (pipelined), the time spent behind earlier frames is not counted.
    double dLatencyMs = 0;
};

struct TLatencySummary {
    double dMedianMs = 0;
    double dP95Ms = 0;
    double dMaxMs = 0;
};

struct TFrameRunStats {
    uint32_t ui32Frames = 0;
    double dFramesPerSecond = 0;
    double dFirstFrameMs = 0;
    TLatencySummary latency;
    uint64_t ui64CapturerCpuMs = 0;
};

// The p-quantile (p in [0, 1], clamped) of `values` by linear interpolation between the two
// closest ranks: position h = (n - 1) * p in the sorted values, so p = 0.5 of an even count is
// the mean of the middle two, p = 1 the maximum. 0 for no values.
inline double Percentile(std::vector<double> values, double p)
{
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const double clamped = p < 0 ? 0 : (p > 1 ? 1 : p);
    const double position = static_cast<double>(values.size() - 1) * clamped;
    const size_t lower = static_cast<size_t>(std::floor(position));
    if (lower + 1 >= values.size()) {
        return values.back();
    }
    const double fraction = position - static_cast<double>(lower);
    return values[lower] + fraction * (values[lower + 1] - values[lower]);
}

inline TLatencySummary SummarizeLatencies(const std::vector<double>& latenciesMs)
{
    TLatencySummary summary;
    if (latenciesMs.empty()) {
        return summary;
    }
    summary.dMedianMs = Percentile(latenciesMs, 0.5);
    summary.dP95Ms = Percentile(latenciesMs, 0.95);
    summary.dMaxMs = *std::max_element(latenciesMs.begin(), latenciesMs.end());
    return summary;
}

// Frame 1 gives first_frame_ms only; frames 2..N give the rate and the latencies (see above).
inline TFrameRunStats ComputeFrameRunStats(const std::vector<TFrameTiming>& timings, uint64_t ui64CapturerCpuMs)
{
    TFrameRunStats stats;
    stats.ui32Frames = static_cast<uint32_t>(timings.size());
    stats.ui64CapturerCpuMs = ui64CapturerCpuMs;
    if (timings.empty()) {
        return stats;
    }
    stats.dFirstFrameMs = timings.front().dReadyMs - timings.front().dRequestMs;
    const double dSpanMs = timings.back().dReadyMs - timings.front().dReadyMs;
    if (timings.size() > 1 && dSpanMs > 0) {
        stats.dFramesPerSecond = static_cast<double>(timings.size() - 1) * 1000.0 / dSpanMs;
    }
    std::vector<double> latencies;
    for (size_t i = 1; i < timings.size(); ++i) {
        latencies.push_back(timings[i].dLatencyMs);
    }
    stats.latency = SummarizeLatencies(latencies);
    return stats;
}

// "stats frames=<n> fps=<x.x> first_frame_ms=<n> latency_median_ms=<x.xx> latency_p95_ms=<x.xx>
// latency_max_ms=<x.xx> capturer_cpu_ms=<n>", without a line end; the C locale's decimal point.
inline std::string FormatStatsLine(const TFrameRunStats& stats)
{
    char text[256];
    std::snprintf(text, sizeof text,
                  "stats frames=%u fps=%.1f first_frame_ms=%lld latency_median_ms=%.2f latency_p95_ms=%.2f "
                  "latency_max_ms=%.2f capturer_cpu_ms=%llu",
                  static_cast<unsigned>(stats.ui32Frames), stats.dFramesPerSecond,
                  static_cast<long long>(std::llround(stats.dFirstFrameMs)), stats.latency.dMedianMs,
                  stats.latency.dP95Ms, stats.latency.dMaxMs, static_cast<unsigned long long>(stats.ui64CapturerCpuMs));
    return text;
}
