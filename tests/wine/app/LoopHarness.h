// Runs TCaptureScreenLoop on a thread of its own against what a host gives it, all made by the
// test: a 64 MiB frame buffer section (mapped whole for the test's own reads), the four access
// mutexes, a manual-reset first-frame event and the stop flag. The capturer is a fake that needs
// no screen and writes a pattern encoding the frame number; the environment has a clock the test
// moves and sleeps ten times shorter than asked.
//
// Before Start the test writes the header freely; afterwards the loop thread writes it too, so the
// test goes through Get/Set (atomic accesses by offset: the header is packed).
#pragma once

#include "ProcessLogServer.h"

#include "app/TCaptureScreenLoop.h"
#include "ipc/THandle.h"
#include "ipc/WideText.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#define HDR(field) offsetof(TFrameBufferHeader, field)

namespace looptest {

constexpr DWORD kWaitMs = 10000;
constexpr uint64_t kSectionSize = 64ull << 20;

bool WaitUntil(const std::function<bool()>& condition);
inline std::string LoopLine(const std::string& text) { return "TZYRFullscreenCapturer::CaptureScreenThread " + text; }
size_t CountLines(const std::vector<TLoggedLine>& lines, uint32_t type, const std::string& text);
// Pixel (x, y) of frame `frame` as the fake writes it: the frame's low byte, 12 bits of row, 12 of column.
inline uint32_t PatternPixel(uint32_t frame, uint32_t x, uint32_t y)
{
    return (frame & 0xFFu) << 24 | (y & 0xFFFu) << 12 | (x & 0xFFFu);
}

struct Rect {
    int32_t left, top, right, bottom;
    bool operator==(const Rect&) const = default;
};
inline Rect ToRect(const THooksRect& r) { return Rect{r.left, r.top, r.right, r.bottom}; }

struct ParametersCall {
    int32_t iWidth, iHeight;
    Rect source, sourceAfter;  // as passed, and the capturer's once the base has set it
    bool bDrawOverlays;
    bool operator==(const ParametersCall&) const = default;
};

struct WebCamCall {
    bool bBackground;
    uint32_t ui32FirstPixel;  // of the image the call was given
    int32_t iWidth, iHeight;
    uint32_t ui32Stride;
    Rect target;
    std::vector<float> shaderData;
    uint32_t ui32InUse;  // the image's ui32InUse during the call
    bool operator==(const WebCamCall&) const = default;
};

// The process around the loop, and what its fake capturer is told and saw (the vectors: read them
// once the run stopped).
// What one GetScreenImage call was given.
struct CaptureCall {
    const uint8_t* pDestination;
    ID3D11Texture2D* pTexture;
};

// The one shared texture handle the fake capturer opens (to fake.pTexture).
constexpr uintptr_t kOpenableHandle = 0x42;

struct Fakes final : TCaptureLoopEnvironment {
    std::unique_ptr<TBaseFullscreenCapturer> CreateCapturer(uint32_t nCaptureMethod) override;
    std::wstring GetMonitorForActiveApplication() override { ++nActiveMonitorQueries; return pActiveMonitor.load(); }
    bool StartFullscreenOverlay() override { return ++nStartOverlay > 0; }
    void TerminateFullscreenOverlay() override { ++nTerminateOverlay; }
    std::unique_ptr<TFullscreenOverlayCommandsClient> CreateOverlayCommandsClient() override
    {
        ++nCommandsClients;
        return bRealCommandsClient ? std::make_unique<TFullscreenOverlayCommandsClient>() : nullptr;
    }
    uint32_t TickCount() override { return tick; }
    // Counts the sleep, sets hLooping, and sleeps a tenth of it (at least 1 ms).
    void Sleep(uint32_t ms) override;

    std::atomic<const wchar_t*> pActiveMonitor{L"\\\\.\\DISPLAY1"};
    std::vector<TDisplayInfo> displays;
    bool bNoCapturer = false, bFailInitialize = false, bRealCommandsClient = false;
    std::atomic<uint32_t> tick{1000};
    std::atomic<uint64_t> ui64CurrentSize{0};  // width << 32 | height now; 0: the display's size
    std::atomic<uint32_t> nCreateCapturer{0}, nActiveMonitorQueries{0}, nStartOverlay{0}, nTerminateOverlay{0},
        nCommandsClients{0}, nPollSleeps{0}, nLongSleeps{0};
    std::atomic<uint32_t> nCompleted{0};  // frames 1..nCompleted have all their rows written
    std::atomic<bool> bDestroyed{false};
    // The next capture stops after half of its rows: hGateEntered is set, hGateRelease awaited.
    std::atomic<bool> bGateArmed{false};
    TKernelHandle hGateEntered{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    TKernelHandle hGateRelease{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    TKernelHandle hLooping{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    const uint8_t* pHeader = nullptr;
    std::vector<ParametersCall> parameterCalls;
    std::vector<WebCamCall> webCamCalls;
    std::vector<uint64_t> sharedHandles;
    ID3D11Texture2D* pTexture = nullptr;  // not owned
    // Captures repeat the image written before instead of a new frame (RepeatedFrameSource).
    std::atomic<bool> bRepeatFrames{false};
    std::vector<CaptureCall> captures;
};

class LoopHarness {
public:
    // The section under `sectionName` (a private name when empty). The header: size from the
    // capture, capacity 1920 x 1080, GDI, capture disabled, monitor \\.\DISPLAY1. The fake lists
    // \\.\DISPLAY1 (0, 0) 1920 x 1080 primary and \\.\DISPLAY2 at (-1280, 0) 1280 x 1024.
    explicit LoopHarness(const std::wstring& sectionName = L"");
    ~LoopHarness();

    TFrameBufferHeader& Header() const { return *reinterpret_cast<TFrameBufferHeader*>(view.Bytes()); }
    TFrameBufferView View() const { return TFrameBufferView(view.Bytes(), view.Size()); }
    template <class T>
    T Get(size_t offset) const { return std::atomic_ref<T>(*reinterpret_cast<T*>(view.Bytes() + offset)).load(); }
    template <class T>
    void Set(size_t offset, T value) const { std::atomic_ref<T>(*reinterpret_cast<T*>(view.Bytes() + offset)) = value; }
    void Request(size_t slot) const { Set<uint8_t>(HDR(bFrameRequested) + slot, 1); }
    uint8_t Ready(size_t slot) const { return Get<uint8_t>(HDR(bFrameReady) + slot); }
    uint32_t Timestamp(size_t slot) const { return Get<uint32_t>(HDR(ui32FrameTimestamps) + slot * 4); }
    // True when the first-frame event was set since the last call (the call resets it).
    bool TakeFirstFrameEvent() const
    {
        const bool bSet = ::WaitForSingleObject(firstFrameEvent.Get(), 0) == WAIT_OBJECT_0;
        ::ResetEvent(firstFrameEvent.Get());
        return bSet;
    }
    // Until the loop polled 20 more times for the current slot's request.
    bool WaitPolls() const
    {
        const uint32_t polls = fake.nPollSleeps;
        return WaitUntil([&] { return fake.nPollSleeps >= polls + 20; });
    }

    // Starts the run and waits until it passed its start-up (its first sleep) or ended.
    ::testing::AssertionResult Start(uint32_t nCaptureMethod = 1);
    bool WaitEnded() const { return ::WaitForSingleObject(hEnded.Get(), kWaitMs) == WAIT_OBJECT_0; }
    void SetMonitorName(const std::wstring& name) { WriteHeaderWideString(Header(), HDR(wszMonitorName), ToU16(name)); }
    std::wstring MonitorName() const { return ToWide(ReadHeaderWideString(Header(), HDR(wszMonitorName))); }
    // Sets the stop flag and joins the thread (a no-op when not started).
    void Stop();
    // What the process logged since Start.
    std::vector<TLoggedLine> Lines() const { return LinesSince(logMark); }

    // Requests `slot`, waits for it to be ready and clears the flag again (the host took it).
    ::testing::AssertionResult Serve(size_t slot) const;
    // The first request of a run: captured inside the warm-up, the clock moved past it, published.
    ::testing::AssertionResult PassWarmUp(size_t slot);
    // Every pixel of the slot is frame `frame`'s.
    ::testing::AssertionResult SlotHoldsFrame(size_t slot, uint32_t frame) const;

    Fakes fake;

private:
    std::wstring wsSectionName;
    TKernelHandle hSection;
    TMappedView view;
    TSharedFrameBuffer::TAccessMutexes mutexes;
    TZYREvent firstFrameEvent{nullptr, true, false, nullptr};
    std::atomic<bool> bTerminate{false};
    TSharedFrameBuffer frameBuffer;
    std::unique_ptr<TCaptureScreenLoop> pLoop;
    TKernelHandle hEnded{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::thread thread;
    size_t logMark = 0;
};

}  // namespace looptest
