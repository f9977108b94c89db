#include "BlitLoopOptions.h"

#include "ToolOptions.h"

#include <cstdio>
#include <set>

namespace blitloop {
namespace {

constexpr uint64_t kMaxSide = 16384;
constexpr uint64_t kMaxSeconds = 3600;
constexpr uint64_t kMaxFrames = 10000000;

// Whole-string decimal from 1 to `maximum`.
bool ParseCount(const std::wstring& text, uint64_t maximum, uint64_t* pValue)
{
    int64_t value = 0;
    if (!toolargs::ParseInRange(text, 1, static_cast<int64_t>(maximum), &value)) {
        return false;
    }
    *pValue = static_cast<uint64_t>(value);
    return true;
}

bool ParseSize(const std::wstring& text, int32_t* pWidth, int32_t* pHeight)
{
    const size_t x = text.find(L'x');
    uint64_t width = 0;
    uint64_t height = 0;
    if (x == std::wstring::npos || !ParseCount(text.substr(0, x), kMaxSide, &width) ||
        !ParseCount(text.substr(x + 1), kMaxSide, &height)) {
        return false;
    }
    *pWidth = static_cast<int32_t>(width);
    *pHeight = static_cast<int32_t>(height);
    return true;
}

bool ApplyOption(const std::wstring& option, const std::wstring& value, BlitLoopOptions* pOptions)
{
    uint64_t count = 0;
    if (option == L"--size") {
        return ParseSize(value, &pOptions->width, &pOptions->height);
    }
    if (option == L"--stretch") {
        pOptions->bStretch = true;
        return ParseSize(value, &pOptions->stretchWidth, &pOptions->stretchHeight);
    }
    if (!ParseCount(value, option == L"--seconds" ? kMaxSeconds : kMaxFrames, &count)) {
        return false;
    }
    (option == L"--seconds" ? pOptions->seconds : pOptions->frames) = static_cast<uint32_t>(count);
    return true;
}

}  // namespace

bool ParseBlitLoopArguments(const std::vector<std::wstring>& args, BlitLoopOptions* pOptions, std::wstring* pError)
{
    const std::set<std::wstring> known = {L"--size", L"--seconds", L"--frames", L"--stretch"};
    std::set<std::wstring> seen;
    if (!toolargs::ParseOptionPairs(
            args, known, [pOptions](const std::wstring& option, const std::wstring& value) {
                return ApplyOption(option, value, pOptions);
            }, &seen, pError)) {
        return false;
    }
    if (seen.count(L"--frames") != 0 && seen.count(L"--seconds") == 0) {
        pOptions->seconds = 0;
    }
    return true;
}

const char* BlitLoopUsage()
{
    return "usage: ZYRBlitLoopBench [--size WxH] [--seconds S] [--frames N] [--stretch WxH]\n"
           "On a second thread, per frame: CreateDC(\"DISPLAY\"), BitBlt of WxH (default 1920x1080) from\n"
           "the primary monitor's top-left corner into a 32-bit DIB section (or HALFTONE StretchBlt to\n"
           "--stretch WxH), a copy of every row into a separate buffer, DeleteDC. After 3 uncounted\n"
           "frames, runs --seconds S (default 10) or --frames N, whichever ends first, and prints:\n"
           "blit_loop frames=<n> fps=<x.x> blit_ms=<mean> copy_ms=<mean> size=WxH [stretch=WxH]\n"
           "Exit code: 0 measured, 1 a GDI call failed, 2 bad arguments.\n";
}

std::string FormatBlitLoopLine(const BlitLoopOptions& options, const BlitLoopResult& result)
{
    const double frames = static_cast<double>(result.frames);
    const double fps = result.frames != 0 && result.elapsedMs > 0 ? frames * 1000.0 / result.elapsedMs : 0.0;
    const double blitMs = result.frames != 0 ? result.blitMs / frames : 0.0;
    const double copyMs = result.frames != 0 ? result.copyMs / frames : 0.0;
    char line[256];
    std::snprintf(line, sizeof line, "blit_loop frames=%llu fps=%.1f blit_ms=%.2f copy_ms=%.2f size=%dx%d",
                  static_cast<unsigned long long>(result.frames), fps, blitMs, copyMs, options.width, options.height);
    std::string text = line;
    if (options.bStretch) {
        std::snprintf(line, sizeof line, " stretch=%dx%d", options.stretchWidth, options.stretchHeight);
        text += line;
    }
    return text;
}

}  // namespace blitloop
