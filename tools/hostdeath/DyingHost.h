// The host side of the harness: a real host built from the reference host's library (section,
// header, every named object, the cursor publisher with cursor drawing on, the webcam producer with
// method 0), which starts the capturer with its own process id, requests frames pipelined, and ends
// itself with TerminateProcess at the moment its plan names, holding whatever that moment holds.
//
// Lines on standard output, each flushed at once (the watcher reads them through a pipe):
//   capturer-pid <N>
//   dying <moment> <what the host saw: frames delivered, layout state>
//   host-failed <why>          (the moment was never reached; the process then exits normally)
#pragma once

#include "RunPlan.h"

#include <string>

namespace hostdeath {

// The exit code of a host that died at its moment (TerminateProcess on itself).
constexpr int kDiedAtMoment = 77;
// The exit code of a host that could not reach its moment.
constexpr int kHostFailed = 3;

// Returns only when the moment was not reached (kHostFailed).
int RunDyingHost(const TRunPlan& plan, const std::wstring& wsCapturerPath);

}  // namespace hostdeath
