// The abstract screen capturer: the display list and the choice of the display by device name
// (falling back to the primary display), the capture parameters with their rectangle math, and the
// checks that run before every frame. The derived capturers (DXGI, GDI) enumerate the displays
// they can capture and do the pixel work.
//
// Thread: the capture thread alone creates, uses and deletes a capturer; nothing here locks.
#pragma once

#include "capturers/TDisplayInfo.h"
#include "framebuffer/FrameBufferView.h"
#include "framebuffer/TFrameBufferHeader.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct ID3D11Texture2D;

class TBaseFullscreenCapturer {
public:
    explicit TBaseFullscreenCapturer(HINSTANCE hInstance);
    virtual ~TBaseFullscreenCapturer();
    TBaseFullscreenCapturer(const TBaseFullscreenCapturer&) = delete;
    TBaseFullscreenCapturer& operator=(const TBaseFullscreenCapturer&) = delete;

    // The pixel work of one frame, called only by GetScreenImage once its checks passed: the
    // parameters are set, both rectangles are non-empty, and `destination` is either a valid area
    // (every byte of its ui32Rows rows of ui32Stride bytes lies inside the mapped view) or, when
    // pTexture is non-null, possibly invalid. Without a texture, write at most ui32Rows rows of at
    // most min(ui32Stride, bytes of an available image row) bytes, row r at pData + r * ui32Stride;
    // bottom-up rows unless bDontMirrorFrames.
    virtual void GetScreenImageInternal(const TAreaView& destination, bool bDontMirrorFrames,
                                        ID3D11Texture2D* pTexture) = 0;

    // Size of the display chosen by Initialize; {0, 0} when none (the base always answers that).
    virtual SIZE GetMonitorDimensions();
    // The chosen display's size as the platform reports it now; {0, 0} in the base.
    virtual SIZE GetCurrentMonitorDimensions();
    // The displays the capture method can capture, in the platform's order; empty in the base.
    virtual std::vector<TDisplayInfo> GetDisplays();
    // Fills vecDisplays and resolves the display to use into wsDisplayName: the requested name when
    // a record has exactly that device name (CurrentDisplay then holds that record), else the name
    // of the primary record (the last one marked primary; empty if none), with a warning line.
    // The base always returns true; the derived versions call it first and decide.
    virtual bool Initialize(std::wstring wsName);
    // Replaces all capture parameters (see CaptureGeometry.h for the destination math). An all-zero
    // source means the whole chosen display, (0, 0) - GetMonitorDimensions(). The source is stored
    // as given otherwise; GetScreenImage refuses an empty one. bDrawOverlays is for the derived
    // classes only.
    virtual void SetCaptureParameters(int32_t iWidth, int32_t iHeight, THooksRect source, bool bKeepProportionOfSource,
                                      bool bDrawOverlays);
    virtual void UpdateWebCam(const uint8_t* pImage, int32_t iWidth, int32_t iHeight, uint32_t ui32Stride,
                              THooksRect destination, const void* pShaderData, uint32_t ui32ShaderDataSize) = 0;
    virtual void UpdateWebCamBackground(const uint8_t* pImage, int32_t iWidth, int32_t iHeight, uint32_t ui32Stride,
                                        THooksRect destination) = 0;
    // The host's shared texture behind `hShared`; the base answers with *ppTexture = null. The
    // caller owns one reference to a texture it gets.
    virtual void OpenSharedHandle(HANDLE hShared, ID3D11Texture2D** ppTexture);
    // The section behind the frame buffer view (not owned; open while frames are captured), for a
    // capturer that can draw into it directly. Ignored by the base.
    virtual void SetFrameBufferSection(HANDLE /*hSection*/) {}
    // When the last GetScreenImage could not get a new picture and filled its destination with a
    // copy of the image it wrote before (cursor included, if one was drawn there since): that
    // image. Null otherwise, and always for capturers that never do so.
    virtual const uint8_t* RepeatedFrameSource() const { return nullptr; }

    // One frame into `destination` (or pTexture). Refuses, with one error line and without touching
    // the destination: parameters never set, an all-zero or empty source or destination rectangle,
    // and, without a texture, an invalid destination area.
    void GetScreenImage(const TAreaView& destination, bool bDontMirrorFrames, ID3D11Texture2D* pTexture);

    // Reads the platform's information of `hMonitor` and appends its record to `displays`; on a
    // failed query logs the error and appends nothing.
    static void CheckAndAddMonitor(HMONITOR hMonitor, std::vector<TDisplayInfo>& displays);

    int32_t FinalWidth() const { return iFinalWidth; }
    int32_t FinalHeight() const { return iFinalHeight; }
    const THooksRect& SourceRect() const { return vqhrSourceRectBeforeResizing; }
    const THooksRect& DestinationRect() const { return vqhrDestRectAfterResizing; }
    bool KeepsProportion() const { return bKeepProportion; }
    // The display found by Initialize (all zero when the name was not listed); its iX, iY place the
    // cursor.
    const TDisplayInfo& CurrentDisplayInfo() const { return CurrentDisplay; }
    const std::wstring& DisplayName() const { return wsDisplayName; }
    const std::vector<TDisplayInfo>& Displays() const { return vecDisplays; }
    const std::vector<TDisplayInfo>& SelectedDisplays() const { return vecSelectedDisplays; }
    HINSTANCE Instance() const { return hInstance; }

protected:
    int32_t iFinalWidth = -1;  // -1: never set
    int32_t iFinalHeight = -1;
    THooksRect vqhrSourceRectBeforeResizing = {};
    THooksRect vqhrDestRectAfterResizing = {};
    bool bKeepProportion = true;
    TDisplayInfo CurrentDisplay;
    std::wstring wsDisplayName;
    std::vector<TDisplayInfo> vecDisplays;
    // Chosen by the derived class; only the first element is read.
    std::vector<TDisplayInfo> vecSelectedDisplays;
    HINSTANCE hInstance;

    // For the derived classes' GetMonitorDimensions and GetCurrentMonitorDimensions: the size of the
    // first selected display as recorded, and as the platform reports it now ({0, 0} without a
    // selected display; a failed query logs "<pszName> GetMonitorInfo error %d" and answers {0, 0}).
    SIZE SelectedDisplaySize() const;
    SIZE CurrentSizeOfSelectedDisplay(const char* pszName) const;

private:
    bool ParametersAllowCapture(const TAreaView& destination, ID3D11Texture2D* pTexture) const;
};
