// Running totals of where the capture's time goes, in performance-counter ticks, for one summary
// line when the capture ends (per-frame lines would cost more than what they measure).
// Platform-free; one thread.
#pragma once

#include <cstdint>

class TFrameCostMeter {
public:
    void Add(uint64_t ui64Ticks)
    {
        ui64TotalTicks += ui64Ticks;
        ++ui64Count;
    }
    uint64_t Count() const { return ui64Count; }
    // Mean milliseconds per added interval at the given counter frequency; 0 without intervals.
    double AverageMs(uint64_t ui64Frequency) const
    {
        if (ui64Count == 0 || ui64Frequency == 0) {
            return 0.0;
        }
        return static_cast<double>(ui64TotalTicks) * 1000.0 / static_cast<double>(ui64Frequency) /
               static_cast<double>(ui64Count);
    }

private:
    uint64_t ui64TotalTicks = 0;
    uint64_t ui64Count = 0;
};
