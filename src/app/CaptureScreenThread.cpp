#include "app/TCaptureScreenLoop.h"
#include "app/TZYRFullscreenCapturer.h"
#include "capturers/TDXGIFullscreenCapturer.h"
#include "capturers/TGDIFullscreenCapturer.h"
#include "log/Log.h"

#include <mmsystem.h>

#include <exception>

namespace {

// The loop sleeps 1 ms between request checks and after each frame. With the default 15.6 ms
// timer period of Windows such a sleep would last a whole period and cap the frame rate near
// 60 frames/s; a 1 ms period is asked for while the thread runs.
class TTimerPeriod {
public:
    TTimerPeriod() : bSet(::timeBeginPeriod(1) == TIMERR_NOERROR) {}
    ~TTimerPeriod()
    {
        if (bSet) {
            ::timeEndPeriod(1);
        }
    }
    TTimerPeriod(const TTimerPeriod&) = delete;
    TTimerPeriod& operator=(const TTimerPeriod&) = delete;

private:
    bool bSet;
};

// The capture loop's view of this process: the real capturers, the overlay program, the system
// clock.
class TProcessLoopEnvironment final : public TCaptureLoopEnvironment {
public:
    explicit TProcessLoopEnvironment(TZYRFullscreenCapturer& application) : app(application) {}

    std::unique_ptr<TBaseFullscreenCapturer> CreateCapturer(uint32_t nCaptureMethod) override
    {
        // Any other method leaves the loop without a capturer: it reports that it could not
        // initialise one and ends.
        switch (nCaptureMethod) {
        case 0:
            return std::make_unique<TDXGIFullscreenCapturer>(app.Instance());
        case 1:
            return std::make_unique<TGDIFullscreenCapturer>(app.Instance());
        default:
            return nullptr;
        }
    }
    std::wstring GetMonitorForActiveApplication() override
    {
        return TZYRFullscreenCapturer::GetMonitorForActiveApplication();
    }
    bool StartFullscreenOverlay() override { return app.StartFullscreenOverlay(); }
    void TerminateFullscreenOverlay() override { app.TerminateFullscreenOverlay(); }
    std::unique_ptr<TFullscreenOverlayCommandsClient> CreateOverlayCommandsClient() override
    {
        return std::make_unique<TFullscreenOverlayCommandsClient>();
    }
    uint32_t TickCount() override { return ::GetTickCount(); }
    void Sleep(uint32_t ms) override { ::Sleep(ms); }

private:
    TZYRFullscreenCapturer& app;
};

}  // namespace

void TZYRFullscreenCapturer::CaptureScreenThread()
{
    LogThreadStart(L"CaptureScreenThread");
    const TTimerPeriod timerPeriod;
    TProcessLoopEnvironment environment(*this);
    TCaptureLoopResources resources;
    resources.nCaptureMethod = nCaptureMethod;
    resources.pFrameBuffer = &frameBuffer;
    resources.pAccessMutexes = &mapAccessMutexes;
    resources.pTheFirstFrameCapturedEvent = pTheFirstFrameCapturedEvent.get();
    resources.pTerminate = &bTerminateCaptureScreenThread;
    try {
        TCaptureScreenLoop(resources, environment).Run();
    } catch (const std::exception& error) {
        // A thread that throws would end the process without a word: this one stops capturing,
        // and the process keeps supervising until the host ends it.
        LogError("%s the capture thread stopped: %s", "TZYRFullscreenCapturer::CaptureScreenThread", error.what());
    }
}
