#include "SoakVerdict.h"

#include <algorithm>
#include <cstdio>

namespace soak {
namespace {

// The first sample at or after `from` seconds and the last one at or before `to` within the
// samples [begin, end) of one session; both null when the window holds fewer than two samples.
struct TWindow {
    const TSample* pFirst = nullptr;
    const TSample* pLast = nullptr;
};

TWindow Window(const TSample* pBegin, const TSample* pEnd, double from, double to)
{
    TWindow window;
    for (const TSample* p = pBegin; p != pEnd; ++p) {
        if (p->dSeconds >= from && p->dSeconds <= to) {
            if (window.pFirst == nullptr) {
                window.pFirst = p;
            }
            window.pLast = p;
        }
    }
    if (window.pFirst == window.pLast) {
        return TWindow{};
    }
    return window;
}

double Rate(const TWindow& window)
{
    const double seconds = window.pLast->dSeconds - window.pFirst->dSeconds;
    return seconds > 0 ? static_cast<double>(window.pLast->ui64Frames - window.pFirst->ui64Frames) / seconds : 0;
}

int64_t Rise(uint64_t from, uint64_t to)
{
    return static_cast<int64_t>(to) - static_cast<int64_t>(from);
}

}  // namespace

TVerdict Judge(const std::vector<TSample>& samples, const TLimits& limits)
{
    TVerdict verdict;
    bool bAnySession = false;
    double firstSettled = -1;  // run time at which the first session had settled
    size_t begin = 0;
    while (begin < samples.size()) {
        size_t end = begin;
        while (end < samples.size() && samples[end].ui32Session == samples[begin].ui32Session) {
            ++end;
        }
        const TSample* pBegin = samples.data() + begin;
        const TSample* pEnd = samples.data() + end;
        const double settledAt = pBegin->dSeconds - pBegin->dSessionSeconds + limits.dSettleSeconds;
        const TWindow settled = Window(pBegin, pEnd, settledAt, pEnd[-1].dSeconds);
        if (settled.pFirst != nullptr) {
            bAnySession = true;
            if (firstSettled < 0) {
                firstSettled = settled.pFirst->dSeconds;
            }
            // Growth is the highest point after settling over the settled start: a leak that the
            // heap later hands back still counts.
            uint64_t peak = settled.pFirst->ui64MemoryBytes;
            for (const TSample* p = settled.pFirst; p <= settled.pLast; ++p) {
                peak = std::max(peak, p->ui64MemoryBytes);
                verdict.i64HandleGrowth = std::max(verdict.i64HandleGrowth, Rise(settled.pFirst->ui64Handles, p->ui64Handles));
                verdict.i64GdiGrowth = std::max(verdict.i64GdiGrowth, Rise(settled.pFirst->ui64GdiObjects, p->ui64GdiObjects));
                verdict.i64UserGrowth = std::max(verdict.i64UserGrowth, Rise(settled.pFirst->ui64UserObjects, p->ui64UserObjects));
            }
            verdict.ui64MemoryGrowth += peak - settled.pFirst->ui64MemoryBytes;
        }
        begin = end;
    }
    if (!bAnySession) {
        verdict.vecReasons.push_back("no session has two samples after settling");
        return verdict;
    }
    const double lastTime = samples.back().dSeconds;
    const TWindow first = Window(samples.data(), samples.data() + samples.size(), firstSettled,
                                 firstSettled + limits.dRateWindowSeconds);
    const TWindow last = Window(samples.data(), samples.data() + samples.size(), lastTime - limits.dRateWindowSeconds,
                                lastTime);
    const bool bRatesKnown = first.pFirst != nullptr && last.pFirst != nullptr &&
                             first.pFirst->ui32Session == first.pLast->ui32Session &&
                             last.pFirst->ui32Session == last.pLast->ui32Session;
    if (bRatesKnown) {
        verdict.dFirstMinuteFps = Rate(first);
        verdict.dLastMinuteFps = Rate(last);
    }
    if (!limits.bJudgeRate) {
        // memory and handles only; the rates, when known, are reported
    } else if (!bRatesKnown) {
        verdict.vecReasons.push_back("no minute of frames within one session at both ends");
    } else {
        if (verdict.dLastMinuteFps < verdict.dFirstMinuteFps * (1.0 - limits.dMaxRateDrop)) {
            verdict.vecReasons.push_back("the last minute's frame rate fell by more than the limit");
        }
    }
    if (verdict.ui64MemoryGrowth > limits.ui64MaxGrowthBytes) {
        verdict.vecReasons.push_back("memory grew by more than the limit");
    }
    if (verdict.i64HandleGrowth > 0) {
        verdict.vecReasons.push_back("handles grew");
    }
    if (verdict.i64GdiGrowth > 0 || verdict.i64UserGrowth > 0) {
        verdict.vecReasons.push_back("GDI or USER objects grew");
    }
    verdict.bPassed = verdict.vecReasons.empty();
    return verdict;
}

std::string FormatVerdict(const TVerdict& verdict)
{
    char line[256];
    std::snprintf(line, sizeof line,
                  "soak verdict=%s memory_growth=%llu handle_growth=%lld gdi_growth=%lld user_growth=%lld "
                  "first_minute_fps=%.1f last_minute_fps=%.1f",
                  verdict.bPassed ? "pass" : "fail", static_cast<unsigned long long>(verdict.ui64MemoryGrowth),
                  static_cast<long long>(verdict.i64HandleGrowth), static_cast<long long>(verdict.i64GdiGrowth),
                  static_cast<long long>(verdict.i64UserGrowth), verdict.dFirstMinuteFps, verdict.dLastMinuteFps);
    std::string text = line;
    for (const std::string& reason : verdict.vecReasons) {
        text += " reason=\"" + reason + "\"";
    }
    return text;
}

}  // namespace soak
