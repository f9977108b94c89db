// The native (non-Windows) build's destination of the log calls: an in-memory list of formatted
// lines that tests of the platform-free code read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TNativeLogLine {
    uint32_t ui32Type;
    uint8_t ui8Level;
    std::string strText;
};

// Lines logged so far by this process (all threads), oldest first.
std::vector<TNativeLogLine> NativeLogLines();
void ClearNativeLogLines();
