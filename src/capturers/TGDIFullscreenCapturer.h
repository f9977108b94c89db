// Captures the chosen display through GDI: each frame is copied 1:1 (BitBlt) or scaled with
// HALFTONE (StretchBlt) from a device context of the display into a 32-bit bottom-up DIB in system
// memory, whose rows are then copied once into the frame slot. Draws no overlays (the webcam calls
// do nothing) and writes into no GPU texture.
//
// Thread: the capture thread alone.
#pragma once

#include "app/FrameCostMeter.h"
#include "capturers/TBaseFullscreenCapturer.h"
#include "capturers/TZYRWindowsBitmap.h"

#include <memory>

class TGDIFullscreenCapturer : public TBaseFullscreenCapturer {
public:
    explicit TGDIFullscreenCapturer(HINSTANCE hInstanceOfModule);
    ~TGDIFullscreenCapturer() override;

    void GetScreenImageInternal(const TAreaView& destination, bool bDontMirrorFrames,
                                ID3D11Texture2D* pTexture) override;
    SIZE GetMonitorDimensions() override;
    SIZE GetCurrentMonitorDimensions() override;
    std::vector<TDisplayInfo> GetDisplays() override;
    // Selects the display the base resolved and makes the frame bitmap of its size; false when the
    // resolved name is not listed (no displays at all).
    bool Initialize(std::wstring wsName) override;
    // The base parameters, then a frame bitmap of the final size (kept when the size is unchanged).
    // Without a bitmap (Initialize not run or failed) nothing changes, after an error line.
    void SetCaptureParameters(int32_t iWidth, int32_t iHeight, THooksRect source, bool bKeepProportionOfSource,
                              bool bDrawOverlays) override;
    void UpdateWebCam(const uint8_t* pImage, int32_t iWidth, int32_t iHeight, uint32_t ui32Stride,
                      THooksRect destination, const void* pShaderData, uint32_t ui32ShaderDataSize) override;
    void UpdateWebCamBackground(const uint8_t* pImage, int32_t iWidth, int32_t iHeight, uint32_t ui32Stride,
                                THooksRect destination) override;
    // Frames whose slot is laid out like a DIB of the final size are then drawn by GDI straight
    // into the section (one DIB per slot and row order); others go through the system-memory
    // bitmap and a row copy.
    void SetFrameBufferSection(HANDLE hSection) override;

    static BOOL CALLBACK GDIFullscreenCapturerMonitorEnumProc(HMONITOR hMonitor, HDC hDC, LPRECT pRect,
                                                              LPARAM lParam);

    // The frame image in system memory; null before Initialize. For tests and the cursor drawer.
    const TZYRWindowsBitmap* ScreenImage() const { return pScreenImageInSysMem.get(); }
    // Frames GDI drew straight into a slot of the section. For tests.
    uint64_t DirectFrames() const { return ui64DirectFrames; }

private:
    struct TSlotImage {
        uint64_t ui64Offset;
        bool bTopDown;
        std::unique_ptr<TZYRWindowsBitmap> pBitmap;
    };

    // The DIB on the frame buffer section for this destination, or null when the slot cannot be
    // one (or the section refused DIBs once).
    TZYRWindowsBitmap* SlotImageFor(const TAreaView& destination, bool bTopDown);
    // Copies or stretches the display into `target` (errors logged; a failed call leaves it as it
    // was). With bClearUncovered, what the transfer does not reach (bars, the area past the
    // display's edge) is made black, as it is in a bitmap that only ever receives transfers.
    void TransferFromDisplay(HDC hDisplayDC, TZYRWindowsBitmap& target, bool bClearUncovered);
    // Copies the bitmap's bottom rows into the destination, in the asked row order.
    void CopyToDestination(const TAreaView& destination, bool bDontMirrorFrames) const;

    std::unique_ptr<TZYRWindowsBitmap> pScreenImageInSysMem;
    // Not owned: the frame buffer's section, open for the capture thread's whole run.
    HANDLE hFrameBufferSection = nullptr;
    bool bSectionRefused = false;
    std::vector<TSlotImage> vecSlotImages;
    uint64_t ui64DirectFrames = 0;
    // Time in the BitBlt/StretchBlt call and in the row copy, summed up in the destructor's line.
    TFrameCostMeter transferCost;
    TFrameCostMeter copyCost;
};
