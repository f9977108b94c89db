// The frame producer: one run of the capture thread. Creates the capturer the host chose, fixes
// the region and the frame size, has the shared buffer laid out and mapped, then serves the host's
// frame requests slot by slot (0, 1, ... 5, 0, ...) until the stop flag is set, and ends with its
// exit steps (overlay ended, bCaptureInvalidated set).
//
// The process around the loop is reached through TCaptureLoopEnvironment, so tests can run the
// loop with a capturer that needs no screen and a clock they control.
//
// Thread: Run executes on the capture thread; the stop flag is the only member another thread
// touches.
#pragma once

#include "app/CapturePlan.h"
#include "app/FrameCostMeter.h"
#include "capturers/TBaseFullscreenCapturer.h"
#include "cursor/TDrawMouseCursor.h"
#include "framebuffer/TSharedFrameBuffer.h"
#include "ipc/TFullscreenOverlayCommands.h"
#include "ipc/TZYREvent.h"

#include <d3d11.h>
#include <wrl/client.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

class TCaptureLoopEnvironment {
public:
    virtual ~TCaptureLoopEnvironment() = default;
    // The capturer for a capture method (0 DXGI, 1 GDI); null for a method it cannot make.
    virtual std::unique_ptr<TBaseFullscreenCapturer> CreateCapturer(uint32_t nCaptureMethod) = 0;
    virtual std::wstring GetMonitorForActiveApplication() = 0;
    virtual bool StartFullscreenOverlay() = 0;
    virtual void TerminateFullscreenOverlay() = 0;
    // The channel to the overlay process; null when the loop is to send no command.
    virtual std::unique_ptr<TFullscreenOverlayCommandsClient> CreateOverlayCommandsClient() = 0;
    // Milliseconds of a 32-bit tick count (GetTickCount in the product).
    virtual uint32_t TickCount() = 0;
    // Waits ms milliseconds (Sleep in the product).
    virtual void Sleep(uint32_t ms) = 0;
};

struct TCaptureLoopResources {
    uint32_t nCaptureMethod = 1;
    TSharedFrameBuffer* pFrameBuffer = nullptr;
    const TSharedFrameBuffer::TAccessMutexes* pAccessMutexes = nullptr;
    TZYREvent* pTheFirstFrameCapturedEvent = nullptr;
    const std::atomic<bool>* pTerminate = nullptr;
};

class TCaptureScreenLoop {
public:
    TCaptureScreenLoop(const TCaptureLoopResources& resources, TCaptureLoopEnvironment& environment);
    ~TCaptureScreenLoop();
    TCaptureScreenLoop(const TCaptureScreenLoop&) = delete;
    TCaptureScreenLoop& operator=(const TCaptureScreenLoop&) = delete;

    // The whole run: start-up, the frame loop while the stop flag is clear, the exit steps.
    void Run();

private:
    enum class TPass { Next, Stop };

    // Capturer, region, size, layout, parameters, overlay; false: go to the exit steps.
    bool StartUp();
    bool CreateAndInitializeCapturer(TFrameBufferHeader& header);
    TReallocOutcome FixRegionAndLayout(TFrameBufferHeader& header);
    void ConfigureCapturer(TFrameBufferHeader& header);
    void IdlePass(TFrameBufferHeader& header);
    void CapturePass(TFrameBufferHeader& header);
    void OpenSharedTexture(TFrameBufferHeader& header);
    // Captures into the current slot; returns the slot's checked view (invalid when it has none).
    TAreaView CaptureSlot(TFrameBufferHeader& header, ID3D11Texture2D* pTexture);
    void ReportUnusableSlot(const TAreaView& slot, const TFrameSlotFields& fields, ID3D11Texture2D* pTexture);
    void DrawCursor(const TFrameBufferHeader& header, const TAreaView& slot);
    void SetFirstFrameEvent();
    void UpdateWebCam(TFrameBufferHeader& header);
    void UpdateWebCamBackground(TFrameBufferHeader& header);
    void PublishSlot(TFrameBufferHeader& header, bool bSingleFrame);
    void ExitSteps();
    ID3D11Texture2D* SlotTexture() const;

    TCaptureLoopResources res;
    TCaptureLoopEnvironment& env;
    uint64_t ui64CounterFrequency = 0;

    // State of one run; the capturer is destroyed in the exit steps.
    std::unique_ptr<TBaseFullscreenCapturer> pFullscreenCapturer;
    std::unique_ptr<TFullscreenOverlayCommandsClient> pOverlayCommands;
    THooksRect captureRegion = {};
    std::wstring wsMonitorName;
    int32_t iCaptureWidth = 0;
    int32_t iCaptureHeight = 0;
    capplan::TImageSize imageSize = {};
    bool bOverlayCommandSent = false;
    size_t nSlot = 0;
    bool bWarmUpStarted = false;
    uint32_t ui32WarmUpStart = 0;
    THooksRect sourceRect = {};
    THooksRect destRect = {};
    capplan::TScale scale = {};
    // Where display pixels of the pointer land in the frame, after the scale.
    capplan::TOffset cursorOffset = {};
    // Made the first time the host asks for the cursor, kept for the rest of the run.
    std::unique_ptr<TDrawMouseCursor> pDrawMouseCursor;
    // From the request seen to the ready flag, for the summary line of the exit steps.
    TFrameCostMeter frameCost;
    TFrameCostMeter cursorCost;
    // Frame slot -> the host's texture opened for it (or none); made once per slot and run.
    std::map<size_t, Microsoft::WRL::ComPtr<ID3D11Texture2D>> mapSharedTextures;
    // The slot fields last named as unusable; cleared by a usable slot.
    std::optional<TFrameSlotFields> lastUnusableSlot;
};
