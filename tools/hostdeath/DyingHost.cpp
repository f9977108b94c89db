#include "DyingHost.h"

#include "FramePump.h"
#include "RefHostSession.h"
#include "TCursorPublisher.h"
#include "TFrameClient.h"
#include "TRefHost.h"
#include "TWebCamProducer.h"

#include "ToolClock.h"

#include <windows.h>

#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace hostdeath {
namespace {

constexpr DWORD kStartBoundMs = 30000;
constexpr DWORD kFramesBoundMs = 60000;
constexpr DWORD kMutexBoundMs = 5000;
constexpr uint32_t kManyFrames = 1000000;

void Say(const std::string& line)
{
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

[[noreturn]] void Die(TMoment moment, const std::string& details)
{
    Say(std::string("dying ") + MomentName(moment) + " " + details);
    ::TerminateProcess(::GetCurrentProcess(), kDiedAtMoment);
    ::ExitProcess(kDiedAtMoment);  // not reached: TerminateProcess on this process does not return
}

int Fail(const std::string& why)
{
    Say("host-failed " + why);
    return kHostFailed;
}

using toolclock::NowMs;

// Waits without giving the processor away for long: for deaths that must land within a few
// milliseconds of what the host saw.
void SpinMs(uint32_t ms)
{
    const double end = NowMs() + ms;
    while (NowMs() < end) {
        ::SwitchToThread();
    }
}

// Counts the frames the pump delivers; can end the process inside the delivery of frame N, which the
// pump calls right after it re-requested that frame's slot.
class TCountingSink final : public IFrameSink {
public:
    void DieAt(uint32_t frame, std::function<void()> onFrame)
    {
        ui32DieAt = frame;
        dieHook = std::move(onFrame);
    }
    bool Consume(const TDeliveredFrame&, std::string*) override
    {
        uint32_t count = 0;
        {
            std::lock_guard<std::mutex> lock(mutexCount);
            count = ++ui32Frames;
        }
        conditionCount.notify_all();
        if (dieHook && count == ui32DieAt) {
            dieHook();
        }
        return true;
    }
    void PumpEnded()
    {
        {
            std::lock_guard<std::mutex> lock(mutexCount);
            bPumpEnded = true;
        }
        conditionCount.notify_all();
    }
    // False when the pump ended or the bound passed first.
    bool WaitFrames(uint32_t atLeast, DWORD timeoutMs)
    {
        std::unique_lock<std::mutex> lock(mutexCount);
        return conditionCount.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                       [&] { return ui32Frames >= atLeast || bPumpEnded; }) &&
               ui32Frames >= atLeast;
    }
    uint32_t Frames()
    {
        std::lock_guard<std::mutex> lock(mutexCount);
        return ui32Frames;
    }

private:
    std::mutex mutexCount;
    std::condition_variable conditionCount;
    uint32_t ui32Frames = 0;
    bool bPumpEnded = false;
    uint32_t ui32DieAt = 0;
    std::function<void()> dieHook;
};

TRefHostOptions HostOptions(const TRunPlan& plan)
{
    TRefHostOptions options;
    options.ui32CaptureMethod = plan.ui32Method;
    options.iRequestedWidth = plan.iWidth;
    options.iRequestedHeight = plan.iHeight;
    options.bDrawMouseCursor = true;
    // Only method 0 composites the webcam; with chroma keying the capturer also takes the
    // background's mutex for every frame.
    options.bWebCam = plan.ui32Method == 0;
    options.bChromaKeying = plan.ui32Method == 0;
    return options;
}

// The header fields the capturer writes while it lays the section out, read through the host's view.
int32_t SourceWidth(const TRefHost& host)
{
    return host.Header()->iSourceWidth;
}
int32_t ImageWidth(const TRefHost& host)
{
    return host.Header()->iImageWidth;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs, bool bSpin)
{
    const double end = NowMs() + timeoutMs;
    while (!condition()) {
        if (NowMs() > end) {
            return false;
        }
        if (bSpin) {
            ::SwitchToThread();
        } else {
            ::Sleep(1);
        }
    }
    return true;
}

// Owned or abandoned: both give the mutex to this thread, which then holds it until it dies.
bool Take(HANDLE hMutex)
{
    const DWORD result = ::WaitForSingleObject(hMutex, kMutexBoundMs);
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

std::string LayoutState(const TRefHost& host)
{
    return ImageWidth(host) != 0 ? "layout=done" : "layout=pending";
}

// The moments that start before the capturer does: the mutex the host holds from the beginning.
HANDLE MutexHeldFromStart(const TRunPlan& plan, const TRefHost& host)
{
    if (plan.moment == TMoment::CursorMutex) {
        return host.CursorMutex();
    }
    if (plan.moment == TMoment::Remap && plan.heldKey) {
        return host.AccessMutex(*plan.heldKey);
    }
    return nullptr;
}

// Ends the process at the plan's moment; returns (the host's failure code) only when the moment
// cannot be reached.
int ReachMoment(const TRunPlan& plan, const TRefHost& host, TCountingSink& sink)
{
    const TMoment moment = plan.moment;
    switch (moment) {
    case TMoment::WarmUp:
        if (!WaitUntil([&] { return ImageWidth(host) != 0; }, kFramesBoundMs, false)) {
            return Fail("the capturer laid nothing out");
        }
        ::Sleep(plan.ui32DelayMs);
        Die(moment, "frames=" + std::to_string(sink.Frames()));
    case TMoment::MidFrame:
        // The sink ends the process; the pump only comes back when the frames stop.
        sink.WaitFrames(kManyFrames, INFINITE);
        return Fail("the frames stopped after " + std::to_string(sink.Frames()));
    case TMoment::CursorMutex:
        if (!sink.WaitFrames(plan.ui32Frames, kFramesBoundMs)) {
            return Fail("no frames while holding the cursor mutex");
        }
        ::Sleep(plan.ui32DelayMs);
        Die(moment, "frames=" + std::to_string(sink.Frames()));
    case TMoment::Remap: {
        const bool bRacing = !plan.heldKey;
        if (!WaitUntil([&] { return SourceWidth(host) != 0; }, kFramesBoundMs, bRacing)) {
            return Fail("the capturer never started its layout");
        }
        if (bRacing) {
            SpinMs(plan.ui32DelayMs);
        } else {
            ::Sleep(plan.ui32DelayMs);
        }
        Die(moment, LayoutState(host));
    }
    default: {
        const uint32_t key = OverlayMutexKey(moment).value_or(0);
        if (!sink.WaitFrames(plan.ui32Frames, kFramesBoundMs)) {
            return Fail("no frames before taking the mutex");
        }
        if (!Take(host.AccessMutex(key))) {
            return Fail(std::string("the ") + OverlayMutexName(key) + " mutex was not obtained");
        }
        const uint32_t takenAt = sink.Frames();
        ::Sleep(plan.ui32DelayMs);
        Die(moment, "frames=" + std::to_string(takenAt) + ".." + std::to_string(sink.Frames()));
    }
    }
}

}  // namespace

int RunDyingHost(const TRunPlan& plan, const std::wstring& wsCapturerPath)
{
    TRefHost host;
    std::wstring error;
    if (!host.CreateObjects(HostOptions(plan), &error)) {
        return Fail("objects: " + ToUtf8(error));
    }
    TCursorPublisher cursorPublisher(host, TCursorPublisherOptions{});
    if (!cursorPublisher.Start()) {
        return Fail("the cursor publisher did not start");
    }
    std::optional<TWebCamProducer> webcamProducer;
    if (plan.ui32Method == 0) {
        webcamProducer.emplace(host, 10.0);
        if (!webcamProducer->Start()) {
            return Fail("the webcam producer did not start");
        }
    }
    if (HANDLE hHeld = MutexHeldFromStart(plan, host); hHeld != nullptr && !Take(hHeld)) {
        return Fail("the mutex to hold from the start was not obtained");
    }
    if (!host.StartCapturer(wsCapturerPath, 0, nullptr, &error)) {
        return Fail("start: " + ToUtf8(error));
    }
    Say("capturer-pid " + std::to_string(host.CapturerProcessId()));
    if (!host.WaitStartedCorrectlyOrExit(kStartBoundMs)) {
        return Fail("the capturer did not start correctly");
    }
    TCountingSink sink;
    if (plan.moment == TMoment::MidFrame) {
        const uint32_t delayMs = plan.ui32DelayMs;
        sink.DieAt(plan.ui32Frames, [&sink, delayMs] {
            SpinMs(delayMs);
            Die(TMoment::MidFrame, "frames=" + std::to_string(sink.Frames()));
        });
    }
    TFrameClient client(host);
    // Never joined: the process ends through TerminateProcess whatever happens below.
    std::thread([&] {
        TPumpOptions options;
        options.mode = TPumpMode::Pipelined;
        options.ui32Frames = kManyFrames;
        options.ui32TimeoutMs = kFramesBoundMs;
        options.hCapturerProcess = host.CapturerProcess();
        RunFramePump(client, options, sink);
        sink.PumpEnded();
    }).detach();
    const int result = ReachMoment(plan, host, sink);
    // The moment was missed; the capturer sees its host end all the same.
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(result));
    return result;
}

}  // namespace hostdeath
