// Captures the chosen display with desktop duplication, through one TDXGIDuplication engine. On top
// of the engine: the display name -> adapter and output mapping, the choice between reading the
// engine's desktop image directly (same size, no overlays) and a scaled surface set, a wait of about
// 100 ms for a new frame with the previous image as fall-back, the rebuild of the engine after
// access was lost (at most 50 attempts per loss, one per frame), the row copy into the frame slot,
// and the webcam pictures handed to the engine's overlays.
//
// Thread: the capture thread alone.
#pragma once

#include "capturers/TBaseFullscreenCapturer.h"
#include "duplication/TDXGIDuplication.h"

#include <memory>

// Milliseconds and yielding for the frame wait; the product uses GetTickCount and Sleep(0), tests
// a clock they drive.
class TFrameWaitClock {
public:
    virtual ~TFrameWaitClock() = default;
    virtual uint32_t TickCount() = 0;
    // Gives the rest of the time slice away between two polls.
    virtual void YieldSlice() = 0;
};

class TDXGIFullscreenCapturer : public TBaseFullscreenCapturer {
public:
    static constexpr int32_t kVertexShaderResourceId = 129;     // IDR_SHADER_Vertex11
    static constexpr int32_t kPixelShaderResourceId = 130;      // IDR_SHADER_Texture11BGR
    static constexpr int32_t kWebCamPixelShaderResourceId = 132;  // IDR_SHADER_Texture11Alpha
    static constexpr uint32_t kWebCamBackgroundOverlayId = 0;
    static constexpr uint32_t kWebCamOverlayId = 1;
    static constexpr uint32_t kMaxRecreateAttempts = 50;
    static constexpr uint32_t kFrameWaitMs = 100;

    explicit TDXGIFullscreenCapturer(HINSTANCE hInstanceOfModule);
    // `clock` must outlive the capturer.
    TDXGIFullscreenCapturer(HINSTANCE hInstanceOfModule, TFrameWaitClock& clock);
    ~TDXGIFullscreenCapturer() override;

    // Without a texture: the newest desktop image (or the previous one after ~100 ms without a new
    // frame) cropped and scaled as set, copied into `destination`. With a texture: the same image
    // copied on the GPU to the texture's top-left corner, `destination` untouched. A frame that fails
    // before the copy (no engine, a failed surface, access lost, an engine error) copies nothing.
    void GetScreenImageInternal(const TAreaView& destination, bool bDontMirrorFrames,
                                ID3D11Texture2D* pTexture) override;
    SIZE GetMonitorDimensions() override;
    SIZE GetCurrentMonitorDimensions() override;
    // The displays that duplication can serve: every output of every adapter, in that order.
    std::vector<TDisplayInfo> GetDisplays() override;
    // The base's display choice, then the engine for it; false when no engine could be built.
    bool Initialize(std::wstring wsName) override;
    // The base parameters, then the surface choice: the desktop image itself when the sizes match
    // and no overlays are drawn, surface set 0 (made by the next frame) otherwise.
    void SetCaptureParameters(int32_t iWidth, int32_t iHeight, THooksRect source, bool bKeepProportionOfSource,
                              bool bDrawOverlays) override;
    // The webcam (overlay 1: shader 132, the 16 bytes of shader data, blending) and its chroma-key
    // background (overlay 0: shader 130, no data, no blending) on the current surface set.
    void UpdateWebCam(const uint8_t* pImage, int32_t iWidth, int32_t iHeight, uint32_t ui32Stride,
                      THooksRect destination, const void* pShaderData, uint32_t ui32ShaderDataSize) override;
    void UpdateWebCamBackground(const uint8_t* pImage, int32_t iWidth, int32_t iHeight, uint32_t ui32Stride,
                                THooksRect destination) override;

    // The host's texture opened on the engine's device (one reference for the caller); *ppTexture
    // stays as the caller set it (null) when there is no engine.
    void OpenSharedHandle(HANDLE hShared, ID3D11Texture2D** ppTexture) override;

    // Builds a new engine for the display named wsDisplayName (replacing the current one); false,
    // with no engine, when the display or its output is not found or the engine fails to initialise.
    bool CreateDXGIDuplication();

    // For tests.
    TDXGIDuplication* Engine() const { return pDXGIDuplication.get(); }
    int32_t TempSurfaceId() const { return iTempSurfaceId; }
    int32_t LastFrameResult() const { return iLastFrameResult; }
    uint32_t RecreateAttempts() const { return ui32RecreateAttempts; }

private:
    enum class TAcquired { NewFrame, PreviousImage, None };
    // One overlay's picture and, for its creation, its shader, rectangle and blending.
    struct TOverlayRequest {
        uint32_t ui32OverlayId;
        int32_t iPixelShaderResourceId;
        const uint8_t* pImage;
        int32_t iWidth, iHeight;
        uint32_t ui32Stride;
        THooksRect destination;
        const void* pShaderData;
        uint32_t ui32ShaderDataSize;
        bool bUseBlending;
    };

    // Makes an engine when the last one was lost and attempts are left; false: no frame this time.
    bool EnsureEngine();
    // Replaces the engine with one for `output` of `adapter`; false, with no engine, when it fails.
    bool CreateEngine(const TDisplayAdapterInfo& adapter, const TDisplayOutputInfo& output);
    // Brings the engine's image up to date (NewFrame: a frame is held until ReleaseFrame), or keeps
    // the previous one after the wait; None: the frame ends here.
    TAcquired AcquireFrame();
    bool EnsureTempSurface();
    void OnAccessLost();
    void CopyToDestination(const TAreaView& destination, bool bDontMirrorFrames);
    // Makes the overlay on the current surface set when it has none, then uploads the picture.
    void ForwardOverlay(const char* pszName, const TOverlayRequest& request);
    uint32_t SurfaceId() const { return static_cast<uint32_t>(iTempSurfaceId); }
    // Where the frame starts in the surface that is read or copied.
    uint32_t ReadOriginX() const;
    uint32_t ReadOriginY() const;

    int32_t iLastFrameResult = drOk;
    std::unique_ptr<TDXGIDuplication> pDXGIDuplication;
    uint32_t ui32RecreateAttempts = 0;
    int32_t iTempSurfaceId = -1;
    TFrameWaitClock& rClock;
};
