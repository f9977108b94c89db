// The part of an IDXGIOutputDuplication stand-in that does not depend on where frames come from:
// the COM object (its own reference count), the frame ownership rules of the real interface and
// the hand-over of move and dirty rectangles. A derived class only makes frames (ProduceFrame).
//
// Rules, as the real interface answers them:
//   - AcquireNextFrame while a frame is held: DXGI_ERROR_INVALID_CALL;
//   - ReleaseFrame, GetFrameMoveRects or GetFrameDirtyRects without a held frame:
//     DXGI_ERROR_INVALID_CALL;
//   - a rectangle buffer smaller than the frame's rectangles: DXGI_ERROR_MORE_DATA with the bytes
//     needed in *pRequiredSize;
//   - a null out argument: E_INVALIDARG;
//   - once any call answered DXGI_ERROR_ACCESS_LOST, every later call answers it too.
// Each of these answers is a refusal: counted, and reported to OnRefusal with a short text.
// GetDesc and the frame calls are real; the private data calls, GetParent, the pointer shape and
// the desktop surface mapping answer E_NOTIMPL (the capturer never uses them).
//
// Thread: the frame calls come from one thread at a time (the engine's). AddRef, Release,
// References and Refusals may be called from any thread.
#pragma once

#include <d3d11.h>
#include <dxgi1_2.h>
#include <windows.h>
#include <wrl/client.h>

#include <atomic>
#include <cstdint>

namespace testdup {

class TRuleOutputDuplication : public IDXGIOutputDuplication {
public:
    TRuleOutputDuplication(const TRuleOutputDuplication&) = delete;
    TRuleOutputDuplication& operator=(const TRuleOutputDuplication&) = delete;

    // IUnknown: answers IUnknown, IDXGIObject and IDXGIOutputDuplication.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE SetPrivateData(REFGUID guid, UINT size, const void* pData) override;
    HRESULT STDMETHODCALLTYPE SetPrivateDataInterface(REFGUID guid, const IUnknown* pUnknown) override;
    HRESULT STDMETHODCALLTYPE GetPrivateData(REFGUID guid, UINT* pSize, void* pData) override;
    HRESULT STDMETHODCALLTYPE GetParent(REFIID riid, void** ppParent) override;

    // Desktop-sized B8G8R8A8 mode, 60 Hz, identity rotation, image not in system memory.
    void STDMETHODCALLTYPE GetDesc(DXGI_OUTDUPL_DESC* pDesc) override;
    // On S_OK: *ppDesktopResource is the frame's texture as IDXGIResource (one reference for the
    // caller; QueryInterface gives its ID3D11Texture2D), the frame is held until ReleaseFrame, and
    // *pFrameInfo has LastPresentTime (performance counter), AccumulatedFrames 1 and
    // TotalMetadataBufferSize set, no pointer data. On failure both outs are zero.
    HRESULT STDMETHODCALLTYPE AcquireNextFrame(UINT timeoutMs, DXGI_OUTDUPL_FRAME_INFO* pFrameInfo,
                                               IDXGIResource** ppDesktopResource) override;
    HRESULT STDMETHODCALLTYPE GetFrameDirtyRects(UINT bufferSize, RECT* pBuffer, UINT* pRequiredSize) override;
    HRESULT STDMETHODCALLTYPE GetFrameMoveRects(UINT bufferSize, DXGI_OUTDUPL_MOVE_RECT* pBuffer,
                                                UINT* pRequiredSize) override;
    HRESULT STDMETHODCALLTYPE GetFramePointerShape(UINT bufferSize, void* pBuffer, UINT* pRequiredSize,
                                                   DXGI_OUTDUPL_POINTER_SHAPE_INFO* pShapeInfo) override;
    HRESULT STDMETHODCALLTYPE MapDesktopSurface(DXGI_MAPPED_RECT* pLockedRect) override;
    HRESULT STDMETHODCALLTYPE UnMapDesktopSurface() override;
    // Lets the held frame go whatever the frame's scripted answer is (only access loss sticks).
    HRESULT STDMETHODCALLTYPE ReleaseFrame() override;

    // The current reference count.
    ULONG References() const { return lReferences.load(); }
    uint32_t Refusals() const { return ui32Refusals.load(); }
    uint32_t DesktopWidth() const { return ui32Width; }
    uint32_t DesktopHeight() const { return ui32Height; }

protected:
    // What ProduceFrame hands over. The texture and the rectangle arrays are borrowed: they must
    // stay valid and unchanged until the next ProduceFrame call or the object's end.
    struct TFrameOut {
        ID3D11Texture2D* pTexture = nullptr;
        uint32_t ui32MetadataSize = 0;  // TotalMetadataBufferSize of the frame information
        const DXGI_OUTDUPL_MOVE_RECT* pMoves = nullptr;
        uint32_t ui32MoveCount = 0;
        const RECT* pDirties = nullptr;
        uint32_t ui32DirtyCount = 0;
        // What GetFrameMoveRects / GetFrameDirtyRects / ReleaseFrame answer for this frame instead
        // of succeeding (S_OK: succeed; a short buffer is refused only then).
        HRESULT hrMoveRects = S_OK;
        HRESULT hrDirtyRects = S_OK;
        HRESULT hrRelease = S_OK;
    };

    // Starts with one reference, for the creator. The device is the one DuplicateOutput was given.
    TRuleOutputDuplication(Microsoft::WRL::ComPtr<ID3D11Device> pDeviceArg, uint32_t width, uint32_t height);
    virtual ~TRuleOutputDuplication();

    // An AcquireNextFrame that the rules let through. S_OK: *pFrame describes the new frame, which
    // is then held; any other answer goes to the caller as it is (DXGI_ERROR_ACCESS_LOST sticks).
    virtual HRESULT ProduceFrame(UINT timeoutMs, TFrameOut* pFrame) = 0;
    // Observers, called on the frame thread before the call is answered; they must not call back.
    virtual void OnAcquireCall(UINT /*timeoutMs*/) {}
    virtual void OnReleaseCall() {}
    virtual void OnRefusal(const char* /*text*/) {}

    // The two desktop-sized B8G8R8A8 textures a derived class fills frames with: the frame texture
    // (D3D11_USAGE_DEFAULT, what AcquireNextFrame hands out) and an upload texture (staging, CPU
    // write) that keeps its pixels between maps, copied into the frame texture whole or by area.
    // Answers the failing creation's HRESULT.
    HRESULT CreateDesktopTextures(Microsoft::WRL::ComPtr<ID3D11Texture2D>* ppFrame,
                                  Microsoft::WRL::ComPtr<ID3D11Texture2D>* ppUpload) const;
    ID3D11Device* Device() const { return pDevice.Get(); }
    ID3D11DeviceContext* Context() const { return pContext.Get(); }

private:
    HRESULT Refuse(HRESULT hr, const char* text);
    // The shared steps of GetFrameMoveRects and GetFrameDirtyRects.
    HRESULT CopyRects(bool bMoves, HRESULT hrScripted, const void* pRects, uint32_t ui32Bytes, UINT bufferSize,
                      void* pBuffer, UINT* pRequiredSize);
    HRESULT Answer(HRESULT hr);

    std::atomic<ULONG> lReferences{1};
    std::atomic<uint32_t> ui32Refusals{0};
    Microsoft::WRL::ComPtr<ID3D11Device> pDevice;
    Microsoft::WRL::ComPtr<ID3D11DeviceContext> pContext;
    uint32_t ui32Width = 0;
    uint32_t ui32Height = 0;
    bool bFrameHeld = false;
    bool bAccessLost = false;
    TFrameOut heldFrame;
};

}  // namespace testdup
