// The outcome of the duplication engine's frame calls (GetFrame, ReleaseFrame). Platform-free.
#pragma once

#include <cstdint>

enum TDuplicationResult : int32_t {
    drOk = 0,          // a frame was acquired and folded into the desktop image, or released
    drTimeout = 1,     // no new frame is available now
    drAccessLost = 2,  // the duplication is no longer valid: the owner builds a new engine
    drError = 3,       // any other failure, including a call on an engine that is not initialised
};

// "drOk", "drTimeout", "drAccessLost", "drError", or "dr?" for a value outside the four.
const char* DuplicationResultName(int32_t result);
