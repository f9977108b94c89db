// Runs TCaptureScreenLoop on a thread of its own against what a host would give it, all made by the
// test: a 64 MiB frame buffer section under a private name (mapped whole for the test's own reads),
// the four overlay access mutexes (keys 0..3), a manual-reset first-frame event and the stop flag;
// the capturer and the process around the loop are the fakes of LoopFakes.h.
//
// The test writes the header freely before Start. Afterwards the loop thread writes it too: the
// handshake fields are then read and written through the accessors below (atomic accesses).
#pragma once

#include "LoopFakes.h"
#include "ProcessLogServer.h"

#include "app/TCaptureScreenLoop.h"
#include "framebuffer/FrameBufferView.h"
#include "framebuffer/TSharedFrameBuffer.h"
#include "ipc/THandle.h"
#include "ipc/TZYREvent.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace looptest {

constexpr char kLoopName[] = "TZYRFullscreenCapturer::CaptureScreenThread";
constexpr uint64_t kSectionSize = 64ull << 20;

// Polls the condition every millisecond until it holds or timeoutMs passed; true when it held.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = kWaitMs);
// The performance counter now, in the milliseconds the loop stamps frames with.
uint32_t CounterMilliseconds();
// "TZYRFullscreenCapturer::CaptureScreenThread " + text.
std::string LoopLine(const std::string& text);
size_t CountLines(const std::vector<TLoggedLine>& lines, uint32_t type, const std::string& text);
size_t CountText(const std::vector<TLoggedLine>& lines, const std::string& text);

class LoopHarness {
public:
    // Section under `sectionName`, or a private name when it is empty. The header says: size from
    // the capture (iRequestedWidth -1), capacity 1920 x 1080, GDI, capture disabled, monitor
    // \\.\DISPLAY1. The fake lists \\.\DISPLAY1 (0, 0) 1920 x 1080 primary and \\.\DISPLAY2 at
    // (-1280, 0) 1280 x 1024; the active application is on \\.\DISPLAY1.
    explicit LoopHarness(const std::wstring& sectionName = L"");
    ~LoopHarness();
    LoopHarness(const LoopHarness&) = delete;
    LoopHarness& operator=(const LoopHarness&) = delete;

    // False (with a test failure) when the section, its view, a mutex or the event is missing.
    bool Made() const { return bMade; }
    TFrameBufferHeader& Header() const { return *reinterpret_cast<TFrameBufferHeader*>(view.Bytes()); }
    TFrameBufferView View() const { return TFrameBufferView(view.Bytes(), view.Size()); }
    void SetMonitorName(const std::u16string& name) const;
    std::u16string MonitorName() const;

    // Before Start: the loop gets a first-frame event object whose open failed (a null handle).
    void UseFirstFrameEventWithoutHandle();
    // The test thread takes (or releases) the access mutex of `key`; the loop's zero-time-out
    // waits then fail while it is held.
    bool HoldAccessMutex(int key) const;
    void ReleaseAccessMutex(int key) const;

    // Opens the section as the product does and starts the run; the log mark is taken here.
    void Start(uint32_t nCaptureMethod = 1);
    // Until the run passed its start-up (its first sleep) or ended; false after kWaitMs.
    bool WaitLooping() const;
    // Until the run returned on its own; false after kWaitMs.
    bool WaitEnded() const;
    bool Ended() const { return ::WaitForSingleObject(hEnded.Get(), 0) == WAIT_OBJECT_0; }
    // Sets the stop flag and joins the thread (a no-op when not started or already stopped).
    void Stop();
    // What the process logged since Start.
    std::vector<TLoggedLine> Lines() const { return LinesSince(logMark); }

    // The handshake of one slot, as a host plays it.
    void Request(size_t slot) const;
    uint8_t Requested(size_t slot) const;
    uint8_t Ready(size_t slot) const;
    void ClearReady(size_t slot) const;
    uint32_t Timestamp(size_t slot) const;
    int32_t SingleFrameState() const;
    void SetSingleFrameState(int32_t state) const;
    void SetCaptureEnabled(bool bEnabled) const;
    void SetSuppressOverlayCommand(bool bSuppress) const;
    uint8_t CaptureInvalidated() const;
    uint32_t OverlayCommand() const;
    void SetOverlayCommand(uint32_t command) const;
    uint32_t OverlayCommandStatus() const;
    bool FirstFrameEventSet() const;

    // Requests `slot`, waits for it to be ready and clears the ready flag again (the host took it).
    // Fails when the slot was not published within kWaitMs.
    ::testing::AssertionResult Serve(size_t slot) const;
    // The first request of a run: captured inside the warm-up, the clock moved past 2,000 ms,
    // then published.
    ::testing::AssertionResult PassWarmUp(size_t slot);
    // The slot's pixels, checked through the bounds-checked view: every row of frame `frame`.
    ::testing::AssertionResult SlotHoldsFrame(size_t slot, uint32_t frame) const;
    // The frame number whose low byte the slot's first pixel carries, from the capturer's calls.
    uint32_t FrameInSlot(size_t slot) const;

    void SetSharedTextureHandle(size_t slot, uint64_t handle) const;

    // A header field of the test's view by its offset (packed fields cannot be bound directly).
    template <class T>
    T* Field(size_t offset) const
    {
        return reinterpret_cast<T*>(view.Bytes() + offset);
    }

    std::shared_ptr<CapturerProbe> probe;
    FakeEnvironment env;

private:
    bool bMade = false;
    TKernelHandle hSection;
    TMappedView view;
    std::vector<TKernelHandle> hMutexes;
    TSharedFrameBuffer::TAccessMutexes mutexes;
    std::unique_ptr<TZYREvent> pFirstFrameEvent;
    std::wstring wsSectionName;
    std::atomic<bool> bTerminate{false};
    TSharedFrameBuffer frameBuffer;
    std::unique_ptr<TCaptureScreenLoop> pLoop;
    TKernelHandle hEnded;
    std::thread thread;
    size_t logMark = 0;
};

}  // namespace looptest
