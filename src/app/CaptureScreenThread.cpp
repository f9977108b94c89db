#include "app/TZYRFullscreenCapturer.h"

#include "log/Log.h"

namespace {
constexpr const char kThreadName[] = "TZYRFullscreenCapturer::CaptureScreenThread";
// How often the thread looks at the stop flag while it has nothing else to do.
constexpr DWORD kStopPollMs = 10;
}  // namespace

// The frame loop (capturer creation, region and size, slot handshake) is not built yet: the thread
// announces itself, waits for the stop request and runs its exit steps.
void TZYRFullscreenCapturer::CaptureScreenThread()
{
    LogThreadStart(L"CaptureScreenThread");
    LogInfo("%s", kThreadName);
    while (!bTerminateCaptureScreenThread.load()) {
        ::Sleep(kStopPollMs);
    }
    if (TFrameBufferHeader* pHeader = frameBuffer.Header()) {
        pHeader->bCaptureInvalidated = 1;
    }
    LogInfo("%s exit", kThreadName);
}
