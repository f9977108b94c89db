// What a soak run concludes from its samples (platform-free, so it is tested natively).
//
// A sample is taken every few seconds of one capturer process (a session: the soak restarts the
// capturer with another size now and then, and each restart is a new process). Memory grown within
// a session after its settling time counts; what a new process starts with does not. The growth of
// all sessions is added up, so a leak cannot hide behind restarts. Handle counts must not rise
// within a session after settling. The frame rate of the run's last minute is compared with its
// first minute after settling; the soak arranges that both belong to sessions of the same size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace soak {

struct TSample {
    uint32_t ui32Session = 0;
    double dSeconds = 0;           // since the start of the run
    double dSessionSeconds = 0;    // since the start of this sample's session
    uint64_t ui64Frames = 0;       // frames served in this session up to the sample
    uint64_t ui64MemoryBytes = 0;  // the memory figure judged (see soak.sh: private bytes, or what stands in)
    uint64_t ui64Handles = 0;
    uint64_t ui64GdiObjects = 0;
    uint64_t ui64UserObjects = 0;
};

struct TLimits {
    double dSettleSeconds = 60;             // each session's first minute is start-up
    uint64_t ui64MaxGrowthBytes = 256 * 1024;
    double dMaxRateDrop = 0.10;             // last minute's frame rate at least 90 % of the first
    bool bJudgeRate = true;                 // false: a process that serves no frames (the BitBlt loop)
    double dRateWindowSeconds = 60;
};

struct TVerdict {
    bool bPassed = false;
    uint64_t ui64MemoryGrowth = 0;   // summed over the sessions, after settling
    int64_t i64HandleGrowth = 0;     // the largest rise of a session, after settling
    int64_t i64GdiGrowth = 0;
    int64_t i64UserGrowth = 0;
    double dFirstMinuteFps = 0;
    double dLastMinuteFps = 0;
    std::vector<std::string> vecReasons;  // why it failed; empty when it passed
};

// Samples in time order. Too few samples for a judgement (no session with two samples after
// settling, or no minute of frames at both ends) fails with that reason.
TVerdict Judge(const std::vector<TSample>& samples, const TLimits& limits);

// "soak verdict=pass memory_growth=<bytes> handle_growth=<n> gdi_growth=<n> user_growth=<n>
//  first_minute_fps=<x.x> last_minute_fps=<x.x>[ reason=...]" (one line)
std::string FormatVerdict(const TVerdict& verdict);

}  // namespace soak
