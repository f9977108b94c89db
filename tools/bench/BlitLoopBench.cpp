// ZYRBlitLoopBench.exe: the platform's limit for GDI screen capture, to measure a capturer against.
// A bare loop on a second thread (under Wine the main thread reads the screen about ten times
// slower) of what a GDI capturer must do per frame and nothing else: open the display DC, BitBlt
// (or HALFTONE StretchBlt) into a 32-bit DIB section, copy every row out, delete the DC.
// Options and output: BlitLoopOptions.h (--help prints them).
#include "CommandLineArguments.h"
#include "BlitLoopOptions.h"
#include "GdiScreen.h"

#include "ipc/THandle.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitBadArguments = 2;
constexpr int kWarmUpFrames = 3;

class Stopwatch {
public:
    Stopwatch()
    {
        LARGE_INTEGER frequency;
        ::QueryPerformanceFrequency(&frequency);
        msPerTick = 1000.0 / static_cast<double>(frequency.QuadPart);
    }
    double NowMs() const
    {
        LARGE_INTEGER now;
        ::QueryPerformanceCounter(&now);
        return static_cast<double>(now.QuadPart) * msPerTick;
    }

private:
    double msPerTick = 0;
};

class BlitLoop {
public:
    explicit BlitLoop(const blitloop::BlitLoopOptions& loopOptions) : options(loopOptions) {}

    // Runs on the calling thread until the frame count or the time is reached. False, with the
    // failing call and its error in *pFailure, when a GDI call fails.
    bool Run(blitloop::BlitLoopResult* pResult, std::string* pFailure);

private:
    bool Frame(blitloop::BlitLoopResult* pResult, std::string* pFailure);
    bool Transfer(HDC hScreen);
    void CopyRows();

    const blitloop::BlitLoopOptions options;
    RECT source{};
    scene::Dib32 image;
    std::vector<uint8_t> frameCopy;
    Stopwatch clock;
};

std::string Failure(const char* call)
{
    return std::string(call) + " error " + std::to_string(::GetLastError());
}

bool BlitLoop::Run(blitloop::BlitLoopResult* pResult, std::string* pFailure)
{
    if (!scene::PrimaryMonitorRect(&source)) {
        *pFailure = "no primary monitor";
        return false;
    }
    source.right = source.left + options.width;
    source.bottom = source.top + options.height;
    const int dstW = options.bStretch ? options.stretchWidth : options.width;
    const int dstH = options.bStretch ? options.stretchHeight : options.height;
    if (!image.Create(dstW, dstH)) {
        *pFailure = Failure("CreateDIBSection");
        return false;
    }
    frameCopy.resize(static_cast<size_t>(dstW) * 4 * static_cast<size_t>(dstH));
    // Uncounted: the first screen read of a Wine process waits for the desktop process (up to
    // seconds when that has to start) and pays for first-touch page faults.
    blitloop::BlitLoopResult warmUp;
    for (int i = 0; i < kWarmUpFrames; ++i) {
        if (!Frame(&warmUp, pFailure)) {
            return false;
        }
    }
    const double startMs = clock.NowMs();
    const double endMs = startMs + 1000.0 * options.seconds;
    while ((options.frames == 0 || pResult->frames < options.frames) && (options.seconds == 0 || clock.NowMs() < endMs)) {
        if (!Frame(pResult, pFailure)) {
            return false;
        }
        ++pResult->frames;
    }
    pResult->elapsedMs = clock.NowMs() - startMs;
    return true;
}

bool BlitLoop::Frame(blitloop::BlitLoopResult* pResult, std::string* pFailure)
{
    TDeviceContext screen = scene::OpenDisplayDc();
    if (!screen) {
        *pFailure = Failure("CreateDC");
        return false;
    }
    const double blitStartMs = clock.NowMs();
    if (!Transfer(screen.Get())) {
        *pFailure = Failure(options.bStretch ? "StretchBlt" : "BitBlt");
        return false;
    }
    const double copyStartMs = clock.NowMs();
    CopyRows();
    const double copyEndMs = clock.NowMs();
    pResult->blitMs += copyStartMs - blitStartMs;
    pResult->copyMs += copyEndMs - copyStartMs;
    return true;
}

bool BlitLoop::Transfer(HDC hScreen)
{
    if (!options.bStretch) {
        return ::BitBlt(image.Dc(), 0, 0, options.width, options.height, hScreen, source.left, source.top, SRCCOPY);
    }
    ::SetStretchBltMode(image.Dc(), HALFTONE);
    ::SetBrushOrgEx(image.Dc(), 0, 0, nullptr);
    return ::StretchBlt(image.Dc(), 0, 0, options.stretchWidth, options.stretchHeight, hScreen, source.left,
                        source.top, options.width, options.height, SRCCOPY);
}

// Row by row, as a capturer copies into a frame slot whose stride may differ from the bitmap's.
void BlitLoop::CopyRows()
{
    const size_t rowBytes = static_cast<size_t>(image.Width()) * 4;
    const auto* pSource = reinterpret_cast<const uint8_t*>(image.Bits());
    for (int y = 0; y < image.Height(); ++y) {
        std::memcpy(frameCopy.data() + static_cast<size_t>(y) * rowBytes, pSource + static_cast<size_t>(y) * rowBytes,
                    rowBytes);
    }
}

}  // namespace

int main()
{
    const std::vector<std::wstring> args = toolargs::CommandLineArguments();
    if (args.size() == 1 && (args[0] == L"--help" || args[0] == L"-h")) {
        std::fputs(blitloop::BlitLoopUsage(), stdout);
        return kExitOk;
    }
    blitloop::BlitLoopOptions options;
    std::wstring error;
    if (!blitloop::ParseBlitLoopArguments(args, &options, &error)) {
        std::fprintf(stderr, "ZYRBlitLoopBench: %ls\n%s", error.c_str(), blitloop::BlitLoopUsage());
        return kExitBadArguments;
    }
    blitloop::BlitLoopResult result;
    std::string failure;
    bool bMeasured = false;
    std::thread worker([&] { bMeasured = BlitLoop(options).Run(&result, &failure); });
    worker.join();
    if (!bMeasured) {
        std::fprintf(stderr, "ZYRBlitLoopBench: %s after %llu frames\n", failure.c_str(),
                     static_cast<unsigned long long>(result.frames));
        return kExitFailed;
    }
    std::printf("%s\n", blitloop::FormatBlitLoopLine(options, result).c_str());
    return kExitOk;
}
