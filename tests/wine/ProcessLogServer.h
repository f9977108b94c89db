// For suites whose code logs through the process-wide client: main() starts a log server under
// the product's own names for this program's folder (level 2), so every line the code under test
// writes can be read back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TLoggedLine {
    uint32_t ui32Type;
    std::string strText;
};

// Flushes the ring and returns a position; LinesSince returns what was logged after it.
size_t LogMark();
std::vector<TLoggedLine> LinesSince(size_t mark);
// Texts only, in order.
std::vector<std::string> TextsSince(size_t mark);
