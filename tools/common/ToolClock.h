// The tools' clock: milliseconds of the performance counter (the time base the capturer's log
// uses too), for timing runs, waits and deaths.
#pragma once

#include <windows.h>

namespace toolclock {

inline double NowMs()
{
    static const double ticksPerMs = [] {
        LARGE_INTEGER frequency{};
        ::QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER counter{};
    ::QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / ticksPerMs;
}

inline double NowSeconds()
{
    return NowMs() / 1000.0;
}

}  // namespace toolclock
