// The watcher side of the harness: for each run it starts this program as a dying host (see
// DyingHost.h), learns the capturer's process id from it, finds the overlay program the capturer
// starts, waits for the host to die, and measures how long the capturer and the overlay program
// outlive it. One line per run on standard output:
//   run 17 moment=cursor-mutex after_ms=2734 capturer_gone_ms=312 overlay_gone_ms=330 exit-code 0 ok
//       capturer_pid=320 overlay_pid=332 method=1 size=... frames=... delay_ms=... host="frames=5 ..."
//       died_at=<the death on the performance counter in ms: the log records' time base>
// ("FAILED(<reasons>)" instead of "ok"), then per-moment maxima and the summary line
//   host-death 100/100 within 600 ms, slowest 559 ms
// A capturer or overlay program still running at the limit is terminated and its run fails.
#pragma once

#include "RunPlan.h"

#include <cstdint>
#include <optional>
#include <string>

namespace hostdeath {

struct TWatchOptions {
    std::wstring wsCapturerDir;     // holds both capturer exes and fullscreenoverlay.exe
    uint32_t ui32FirstRun = 1;
    uint32_t ui32Runs = 100;
    uint64_t ui64Seed = 1;
    std::optional<TMoment> moment;  // every run at this moment
    std::optional<uint32_t> method; // every run with this method
    uint32_t ui32BoundMs = 600;     // capturer and overlay program gone within this
    uint32_t ui32LimitMs = 5000;    // then they are terminated
};

// 0 when every run passed, 1 otherwise.
int WatchHostDeaths(const TWatchOptions& options);

// The arguments that make this program the host of `plan`'s run (after the program name).
std::wstring HostArguments(const TWatchOptions& options, const TRunPlan& plan);

}  // namespace hostdeath
