// Test doubles around the capture loop: a capturer that needs no screen and writes a pattern that
// encodes the frame number, the probe through which a test steers and watches it (the loop
// destroys the capturer in its exit steps, the probe outlives it), and an environment with a clock
// the test moves and short real sleeps.
#pragma once

#include "app/TCaptureScreenLoop.h"
#include "capturers/TBaseFullscreenCapturer.h"
#include "ipc/THandle.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace looptest {

// Bound of every wait of these suites.
constexpr DWORD kWaitMs = 10000;

// Pixel (x, y) of frame `frame` as the fake capturer writes it: the frame number's low byte, then
// 12 bits of row and 12 bits of column.
uint32_t PatternPixel(uint32_t frame, uint32_t x, uint32_t y);

// THooksRect is byte-packed: tests compare copies.
struct Rect {
    int32_t left, top, right, bottom;
    bool operator==(const Rect&) const = default;
};
Rect ToRect(const THooksRect& rect);
void PrintTo(const Rect& rect, std::ostream* os);

struct ParametersCall {
    int32_t iWidth;
    int32_t iHeight;
    Rect source;  // as passed
    bool bKeepProportion;
    bool bDrawOverlays;
    Rect sourceAfter;  // the capturer's rectangles once the base has set them
    Rect destinationAfter;
};

struct FrameCall {
    uint32_t ui32Frame;  // 1, 2, ... in call order
    uint8_t* pData;
    uint32_t ui32Width;
    uint32_t ui32Rows;
    uint32_t ui32Stride;
    bool bDontMirrorFrames;
    Rect source;  // the capturer's source rectangle at the time of the call
};

// One UpdateWebCam or UpdateWebCamBackground call.
struct WebCamCall {
    bool bBackground;
    uint32_t ui32FirstPixel;  // read from the image the call was given
    int32_t iWidth;
    int32_t iHeight;
    uint32_t ui32Stride;
    Rect target;
    std::vector<float> shaderData;  // webcam only
    uint32_t ui32InUseSeen;         // the area's ui32InUse during the call
};

class CapturerProbe {
public:
    CapturerProbe();

    // Set before the run.
    std::vector<TDisplayInfo> displays;
    bool bFailInitialize = false;

    // What GetCurrentMonitorDimensions answers from now on.
    void SetCurrentSize(int32_t width, int32_t height);
    // The next capture stops after half of its rows until ReleaseGate (or kWaitMs).
    void ArmGate();
    bool WaitGateEntered();
    void ReleaseGate();

    // Completed captures: frame numbers 1..Captures() have all their rows written.
    uint32_t Captures() const { return nCompleted.load(); }
    uint32_t CurrentSizeQueries() const { return nCurrentSizeQueries.load(); }
    bool Destroyed() const { return bDestroyed.load(); }
    std::vector<std::wstring> InitializeNames() const;
    std::vector<ParametersCall> ParameterCalls() const;
    std::vector<FrameCall> Frames() const;
    std::vector<WebCamCall> WebCamCalls() const;
    std::vector<uint64_t> SharedHandles() const;  // OpenSharedHandle's handle values, in order

    // The ui32InUse fields the webcam calls report (in the test's view of the header).
    std::atomic<const uint32_t*> pWebCamInUse{nullptr};
    std::atomic<const uint32_t*> pBackgroundInUse{nullptr};

private:
    friend class FakeLoopCapturer;

    std::atomic<int32_t> iCurrentWidth{-1};  // -1: the chosen display's size
    std::atomic<int32_t> iCurrentHeight{-1};
    std::atomic<uint32_t> nStarted{0};
    std::atomic<uint32_t> nCompleted{0};
    std::atomic<uint32_t> nCurrentSizeQueries{0};
    std::atomic<bool> bGateArmed{false};
    std::atomic<bool> bDestroyed{false};
    TKernelHandle hGateEntered;
    TKernelHandle hGateRelease;
    mutable std::mutex lock;
    std::vector<std::wstring> initializeNames;
    std::vector<ParametersCall> parameterCalls;
    std::vector<FrameCall> frames;
    std::vector<WebCamCall> webCamCalls;
    std::vector<uint64_t> sharedHandles;
};

class FakeLoopCapturer final : public TBaseFullscreenCapturer {
public:
    explicit FakeLoopCapturer(std::shared_ptr<CapturerProbe> probe);
    ~FakeLoopCapturer() override;

    bool Initialize(std::wstring wsName) override;
    SIZE GetMonitorDimensions() override;
    SIZE GetCurrentMonitorDimensions() override;
    std::vector<TDisplayInfo> GetDisplays() override;
    void SetCaptureParameters(int32_t iWidth, int32_t iHeight, THooksRect source, bool bKeepProportionOfSource,
                              bool bDrawOverlays) override;
    void GetScreenImageInternal(const TAreaView& destination, bool bDontMirrorFrames,
                                ID3D11Texture2D* pTexture) override;
    void UpdateWebCam(const uint8_t* pImage, int32_t iWidth, int32_t iHeight, uint32_t ui32Stride,
                      THooksRect destination, const void* pShaderData, uint32_t ui32ShaderDataSize) override;
    void UpdateWebCamBackground(const uint8_t* pImage, int32_t iWidth, int32_t iHeight, uint32_t ui32Stride,
                                THooksRect destination) override;
    // Records the handle and hands out no texture: the slot then goes through shared memory.
    void OpenSharedHandle(HANDLE hShared, ID3D11Texture2D** ppTexture) override;

private:
    void WriteRows(const TAreaView& destination, uint32_t frame, uint32_t firstRow, uint32_t endRow) const;

    std::shared_ptr<CapturerProbe> pProbe;
};

class FakeEnvironment final : public TCaptureLoopEnvironment {
public:
    explicit FakeEnvironment(std::shared_ptr<CapturerProbe> probe);

    std::unique_ptr<TBaseFullscreenCapturer> CreateCapturer(uint32_t nCaptureMethod) override;
    std::wstring GetMonitorForActiveApplication() override;
    bool StartFullscreenOverlay() override;
    void TerminateFullscreenOverlay() override;
    std::unique_ptr<TFullscreenOverlayCommandsClient> CreateOverlayCommandsClient() override;
    uint32_t TickCount() override { return ui32Tick.load(); }
    // Counts the call by length, sets the looping event, and really sleeps a tenth of it (at least
    // 1 ms): the loop keeps its rhythm, ten times faster.
    void Sleep(uint32_t ms) override;

    // Set before the run.
    bool bNoCapturer = false;          // CreateCapturer answers null, as for a method it cannot make
    bool bRealCommandsClient = false;  // otherwise CreateOverlayCommandsClient answers null

    void SetTick(uint32_t tick) { ui32Tick.store(tick); }
    void AdvanceClock(uint32_t ms) { ui32Tick.fetch_add(ms); }
    void SetActiveMonitor(const std::wstring& name);
    HANDLE LoopingEvent() const { return hLooping.Get(); }

    std::atomic<uint32_t> nCreateCapturer{0};
    std::atomic<uint32_t> nActiveMonitorQueries{0};
    std::atomic<uint32_t> nStartOverlay{0};
    std::atomic<uint32_t> nTerminateOverlay{0};
    std::atomic<uint32_t> nCommandsClients{0};
    std::atomic<uint32_t> nPollSleeps{0};  // Sleep(1): waiting for a request
    std::atomic<uint32_t> nLongSleeps{0};  // Sleep(100): idle, warm-up, after the overlay command
    std::atomic<uint32_t> nOtherSleeps{0};

private:
    std::shared_ptr<CapturerProbe> pProbe;
    std::atomic<uint32_t> ui32Tick{1000};
    std::mutex lock;
    std::wstring wsActiveMonitor = L"\\\\.\\DISPLAY1";
    TKernelHandle hLooping;  // manual reset: set by the first Sleep of the run
};

}  // namespace looptest
