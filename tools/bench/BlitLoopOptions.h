// ZYRBlitLoopBench.exe's command line and its result line (no windows.h).
//   ZYRBlitLoopBench [--size WxH] [--seconds S] [--frames N] [--stretch WxH]
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace blitloop {

struct BlitLoopOptions {
    int32_t width = 1920;      // source rectangle at the primary monitor's top-left corner
    int32_t height = 1080;
    uint32_t seconds = 10;     // run time; ignored when --frames is given and --seconds is not
    uint32_t frames = 0;       // 0: run for `seconds`
    bool bStretch = false;     // HALFTONE StretchBlt to stretchWidth x stretchHeight
    int32_t stretchWidth = 0;
    int32_t stretchHeight = 0;
};

// Parses the arguments after the program name; false with *pError saying why. Sizes are 1 to
// 16384 on each side, seconds 1 to 3600, frames 1 to 10000000; each option at most once.
bool ParseBlitLoopArguments(const std::vector<std::wstring>& args, BlitLoopOptions* pOptions, std::wstring* pError);

const char* BlitLoopUsage();

// What one run measured.
struct BlitLoopResult {
    uint64_t frames = 0;
    double elapsedMs = 0;  // the whole loop, display DC and all
    double blitMs = 0;     // sum of the BitBlt / StretchBlt calls
    double copyMs = 0;     // sum of the row copies
};

// "blit_loop frames=<n> fps=<x.x> blit_ms=<mean> copy_ms=<mean> size=<W>x<H>[ stretch=<W>x<H>]",
// means per frame in milliseconds with two decimals; zero frames give zero rates.
std::string FormatBlitLoopLine(const BlitLoopOptions& options, const BlitLoopResult& result);

}  // namespace blitloop
