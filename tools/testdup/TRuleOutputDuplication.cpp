#include "TRuleOutputDuplication.h"

#include "duplication/D3D11Helpers.h"

#include <cstring>
#include <utility>

namespace testdup {

namespace {

// The texts of one rectangle kind's refusals (literals: a refusal allocates nothing).
struct TRectTexts {
    const char* pszWithoutFrame;
    const char* pszNullArgument;
    const char* pszShortBuffer;
};
constexpr TRectTexts kMoveTexts{"move rects without a frame", "move rects with a null argument",
                                "short move buffer"};
constexpr TRectTexts kDirtyTexts{"dirty rects without a frame", "dirty rects with a null argument",
                                 "short dirty buffer"};

}  // namespace

TRuleOutputDuplication::TRuleOutputDuplication(Microsoft::WRL::ComPtr<ID3D11Device> pDeviceArg, uint32_t width,
                                               uint32_t height)
    : pDevice(std::move(pDeviceArg)), ui32Width(width), ui32Height(height)
{
    pDevice->GetImmediateContext(pContext.ReleaseAndGetAddressOf());
}

TRuleOutputDuplication::~TRuleOutputDuplication() = default;

HRESULT TRuleOutputDuplication::CreateDesktopTextures(Microsoft::WRL::ComPtr<ID3D11Texture2D>* ppFrame,
                                                      Microsoft::WRL::ComPtr<ID3D11Texture2D>* ppUpload) const
{
    D3D11_TEXTURE2D_DESC desc = d3dhelp::BgraTextureDesc(ui32Width, ui32Height, D3D11_USAGE_DEFAULT, 0, 0);
    const HRESULT hr = pDevice->CreateTexture2D(&desc, nullptr, ppFrame->ReleaseAndGetAddressOf());
    if (hr != S_OK) {
        return hr;
    }
    // Measured under Wine 8 at 1920x1080 with a read-back after each frame, as the engine does: a
    // whole frame through this staging texture (Map WRITE, row copy, CopyResource) 1.2-4 ms; through
    // a dynamic texture mapped WRITE_DISCARD 4.7-7.6 ms, and its real work runs later on wined3d's
    // command thread, so that on a loaded machine Map stalled for about a second every few frames;
    // UpdateSubresource about 27 ms. A 256 x 192 area written and copied alone: 0.05-1.5 ms.
    desc.Usage = D3D11_USAGE_STAGING;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_WRITE;
    return pDevice->CreateTexture2D(&desc, nullptr, ppUpload->ReleaseAndGetAddressOf());
}

HRESULT TRuleOutputDuplication::QueryInterface(REFIID riid, void** ppvObject)
{
    if (ppvObject == nullptr) {
        return E_POINTER;
    }
    if (riid == __uuidof(IUnknown) || riid == __uuidof(IDXGIObject) ||
        riid == __uuidof(IDXGIOutputDuplication)) {
        *ppvObject = static_cast<IDXGIOutputDuplication*>(this);
        AddRef();
        return S_OK;
    }
    *ppvObject = nullptr;
    return E_NOINTERFACE;
}

ULONG TRuleOutputDuplication::AddRef()
{
    return ++lReferences;
}

ULONG TRuleOutputDuplication::Release()
{
    const ULONG lLeft = --lReferences;
    if (lLeft == 0) {
        delete this;
    }
    return lLeft;
}

HRESULT TRuleOutputDuplication::SetPrivateData(REFGUID, UINT, const void*)
{
    return E_NOTIMPL;
}

HRESULT TRuleOutputDuplication::SetPrivateDataInterface(REFGUID, const IUnknown*)
{
    return E_NOTIMPL;
}

HRESULT TRuleOutputDuplication::GetPrivateData(REFGUID, UINT*, void*)
{
    return E_NOTIMPL;
}

HRESULT TRuleOutputDuplication::GetParent(REFIID, void** ppParent)
{
    if (ppParent != nullptr) {
        *ppParent = nullptr;
    }
    return E_NOTIMPL;
}

void TRuleOutputDuplication::GetDesc(DXGI_OUTDUPL_DESC* pDesc)
{
    if (pDesc == nullptr) {
        return;
    }
    *pDesc = {};
    pDesc->ModeDesc.Width = ui32Width;
    pDesc->ModeDesc.Height = ui32Height;
    pDesc->ModeDesc.RefreshRate = {60, 1};
    pDesc->ModeDesc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    pDesc->Rotation = DXGI_MODE_ROTATION_IDENTITY;
    pDesc->DesktopImageInSystemMemory = FALSE;
}

HRESULT TRuleOutputDuplication::AcquireNextFrame(UINT timeoutMs, DXGI_OUTDUPL_FRAME_INFO* pFrameInfo,
                                                 IDXGIResource** ppDesktopResource)
{
    OnAcquireCall(timeoutMs);
    if (pFrameInfo != nullptr) {
        *pFrameInfo = {};
    }
    if (ppDesktopResource != nullptr) {
        *ppDesktopResource = nullptr;
    }
    if (bAccessLost) {
        return Refuse(DXGI_ERROR_ACCESS_LOST, "call after access lost");
    }
    if (pFrameInfo == nullptr || ppDesktopResource == nullptr) {
        return Refuse(E_INVALIDARG, "acquire with a null argument");
    }
    if (bFrameHeld) {
        return Refuse(DXGI_ERROR_INVALID_CALL, "acquire while held");
    }
    TFrameOut frame;
    const HRESULT hrProduced = ProduceFrame(timeoutMs, &frame);
    if (hrProduced != S_OK) {
        return Answer(hrProduced);
    }
    // The texture itself is the resource: Wine's and Windows' d3d11 textures answer
    // QueryInterface(IDXGIResource), and that interface answers ID3D11Texture2D with the same object.
    const HRESULT hrResource = frame.pTexture->QueryInterface(IID_PPV_ARGS(ppDesktopResource));
    if (hrResource != S_OK) {
        return hrResource;
    }
    LARGE_INTEGER now = {};
    ::QueryPerformanceCounter(&now);
    pFrameInfo->LastPresentTime = now;
    pFrameInfo->AccumulatedFrames = 1;
    pFrameInfo->TotalMetadataBufferSize = frame.ui32MetadataSize;
    heldFrame = frame;
    bFrameHeld = true;
    return S_OK;
}

HRESULT TRuleOutputDuplication::GetFrameMoveRects(UINT bufferSize, DXGI_OUTDUPL_MOVE_RECT* pBuffer,
                                                  UINT* pRequiredSize)
{
    const uint32_t ui32Bytes = heldFrame.ui32MoveCount * static_cast<uint32_t>(sizeof(DXGI_OUTDUPL_MOVE_RECT));
    return CopyRects(true, heldFrame.hrMoveRects, heldFrame.pMoves, ui32Bytes, bufferSize, pBuffer, pRequiredSize);
}

HRESULT TRuleOutputDuplication::GetFrameDirtyRects(UINT bufferSize, RECT* pBuffer, UINT* pRequiredSize)
{
    const uint32_t ui32Bytes = heldFrame.ui32DirtyCount * static_cast<uint32_t>(sizeof(RECT));
    return CopyRects(false, heldFrame.hrDirtyRects, heldFrame.pDirties, ui32Bytes, bufferSize, pBuffer,
                     pRequiredSize);
}

HRESULT TRuleOutputDuplication::CopyRects(bool bMoves, HRESULT hrScripted, const void* pRects,
                                          uint32_t ui32Bytes, UINT bufferSize, void* pBuffer, UINT* pRequiredSize)
{
    const TRectTexts& texts = bMoves ? kMoveTexts : kDirtyTexts;
    if (pRequiredSize != nullptr) {
        *pRequiredSize = 0;
    }
    if (bAccessLost) {
        return Refuse(DXGI_ERROR_ACCESS_LOST, "call after access lost");
    }
    if (!bFrameHeld) {
        return Refuse(DXGI_ERROR_INVALID_CALL, texts.pszWithoutFrame);
    }
    if (pRequiredSize == nullptr || (pBuffer == nullptr && bufferSize != 0)) {
        return Refuse(E_INVALIDARG, texts.pszNullArgument);
    }
    if (hrScripted != S_OK) {
        return Answer(hrScripted);
    }
    *pRequiredSize = ui32Bytes;
    if (bufferSize < ui32Bytes) {
        return Refuse(DXGI_ERROR_MORE_DATA, texts.pszShortBuffer);
    }
    if (ui32Bytes != 0) {
        std::memcpy(pBuffer, pRects, ui32Bytes);
    }
    return S_OK;
}

HRESULT TRuleOutputDuplication::GetFramePointerShape(UINT, void*, UINT*, DXGI_OUTDUPL_POINTER_SHAPE_INFO*)
{
    return E_NOTIMPL;
}

HRESULT TRuleOutputDuplication::MapDesktopSurface(DXGI_MAPPED_RECT*)
{
    return E_NOTIMPL;
}

HRESULT TRuleOutputDuplication::UnMapDesktopSurface()
{
    return E_NOTIMPL;
}

HRESULT TRuleOutputDuplication::ReleaseFrame()
{
    OnReleaseCall();
    if (bAccessLost) {
        return Refuse(DXGI_ERROR_ACCESS_LOST, "call after access lost");
    }
    if (!bFrameHeld) {
        return Refuse(DXGI_ERROR_INVALID_CALL, "release without a frame");
    }
    bFrameHeld = false;
    const HRESULT hrRelease = heldFrame.hrRelease;
    heldFrame = {};
    return Answer(hrRelease);
}

HRESULT TRuleOutputDuplication::Refuse(HRESULT hr, const char* text)
{
    ++ui32Refusals;
    OnRefusal(text);
    return hr;
}

HRESULT TRuleOutputDuplication::Answer(HRESULT hr)
{
    if (hr == DXGI_ERROR_ACCESS_LOST) {
        bAccessLost = true;
    }
    return hr;
}

}  // namespace testdup
