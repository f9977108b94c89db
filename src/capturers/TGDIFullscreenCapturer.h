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
    // A slot drawn straight by GDI whose transfer failed (a secure desktop, a lock screen) gets the
    // last image written before, as the system-memory bitmap would hand it on: that image.
    const uint8_t* RepeatedFrameSource() const override { return pRepeatedFrom; }

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
    // Copies or stretches the display into `target`; false (after the error line) when the platform
    // refused, leaving it as it was. With bClearUncovered, what the transfer does not reach (bars,
    // the area past the display's edge) is made black, as it is in a bitmap that only ever receives
    // transfers.
    bool TransferFromDisplay(HDC hDisplayDC, TZYRWindowsBitmap& target, bool bClearUncovered);
    // After a failed transfer into a slot: the slot written before, copied in (black when there is
    // none of the same layout).
    void RepeatLastSlot(const TAreaView& destination, bool bTopDown, TZYRWindowsBitmap& slotImage);

protected:
    // The display transfers, as the platform's BitBlt and StretchBlt (SRCCOPY); tests make them fail.
    virtual BOOL DisplayBitBlt(HDC hDst, int x, int y, int w, int h, HDC hSrc, int sx, int sy);
    virtual BOOL DisplayStretchBlt(HDC hDst, int x, int y, int w, int h, HDC hSrc, int sx, int sy, int sw, int sh);

private:
    // Copies the bitmap's bottom rows into the destination, in the asked row order.
    void CopyToDestination(const TAreaView& destination, bool bDontMirrorFrames) const;

    std::unique_ptr<TZYRWindowsBitmap> pScreenImageInSysMem;
    // Not owned: the frame buffer's section, open for the capture thread's whole run.
    HANDLE hFrameBufferSection = nullptr;
    bool bSectionRefused = false;
    std::vector<TSlotImage> vecSlotImages;
    uint64_t ui64DirectFrames = 0;
    uint64_t ui64PeakSlotViewBytes = 0;  // the slot DIBs' images, summed, at their most
    // The slot written last in the direct path (its place in the section and layout); forgotten
    // when the parameters or the section change. Offsets, not pointers: the view is the
    // destination's.
    struct TWrittenSlot {
        bool bValid = false;
        uint64_t ui64Offset = 0;
        uint32_t ui32Width = 0, ui32Stride = 0, ui32Rows = 0;
        bool bTopDown = false;
    } lastSlot;
    const uint8_t* pRepeatedFrom = nullptr;
    // Time in the BitBlt/StretchBlt call and in the row copy, summed up in the destructor's line.
    TFrameCostMeter transferCost;
    TFrameCostMeter copyCost;
};
