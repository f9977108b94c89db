#include "TFakeOutputDuplication.h"

#include <utility>

namespace fakedup {

using Microsoft::WRL::ComPtr;

HRESULT TFakeOutputDuplication::Create(ComPtr<ID3D11Device> pDevice, uint32_t width, uint32_t height,
                                       std::shared_ptr<TFakeScript> pScript, TFakeOutputDuplication** ppFake)
{
    *ppFake = nullptr;
    // Ownership of the new object's first reference is taken through GetAddressOf: MinGW's
    // ComPtr::Attach adds a reference of its own (Microsoft's does not), which would leak the object.
    ComPtr<TFakeOutputDuplication> pFake;
    *pFake.GetAddressOf() = new TFakeOutputDuplication(std::move(pDevice), width, height, std::move(pScript));
    const HRESULT hr = pFake->CreateTextures();
    if (hr != S_OK) {
        return hr;
    }
    *ppFake = pFake.Detach();
    return S_OK;
}

TFakeOutputDuplication::TFakeOutputDuplication(ComPtr<ID3D11Device> pDeviceArg, uint32_t width, uint32_t height,
                                               std::shared_ptr<TFakeScript> pScriptArg)
    : TRuleOutputDuplication(std::move(pDeviceArg), width, height), pScript(std::move(pScriptArg))
{
}

HRESULT TFakeOutputDuplication::CreateTextures()
{
    return CreateDesktopTextures(&pFrameTexture, &pUploadTexture);
}

TFakeStats TFakeOutputDuplication::Stats() const
{
    std::lock_guard<std::mutex> lock(pScript->mutex);
    return stats;
}

ULONG TFakeOutputDuplication::OutstandingTextureReferences() const
{
    pFrameTexture->AddRef();
    return pFrameTexture->Release() - 1;
}

HRESULT TFakeOutputDuplication::ProduceFrame(UINT, TFrameOut* pFrame)
{
    TStep step;
    {
        std::lock_guard<std::mutex> lock(pScript->mutex);
        if (pScript->steps.empty()) {
            return DXGI_ERROR_WAIT_TIMEOUT;
        }
        step = std::move(pScript->steps.front());
        pScript->steps.pop_front();
    }
    if (step.hrAcquire != S_OK) {
        return step.hrAcquire;
    }
    currentFrame = std::move(step.frame);
    const HRESULT hr = Upload(currentFrame.pixel);
    if (hr != S_OK) {
        return hr;
    }
    const auto ui32Moves = static_cast<uint32_t>(currentFrame.moves.size());
    const auto ui32Dirties = static_cast<uint32_t>(currentFrame.dirties.size());
    pFrame->pTexture = pFrameTexture.Get();
    const uint32_t ui32RectBytes = ui32Moves * static_cast<uint32_t>(sizeof(DXGI_OUTDUPL_MOVE_RECT)) +
                                   ui32Dirties * static_cast<uint32_t>(sizeof(RECT));
    pFrame->ui32MetadataSize = currentFrame.metadataSize.value_or(ui32RectBytes);
    pFrame->pMoves = currentFrame.moves.data();
    pFrame->ui32MoveCount = ui32Moves;
    pFrame->pDirties = currentFrame.dirties.data();
    pFrame->ui32DirtyCount = ui32Dirties;
    pFrame->hrMoveRects = currentFrame.hrMoveRects;
    pFrame->hrDirtyRects = currentFrame.hrDirtyRects;
    pFrame->hrRelease = currentFrame.hrRelease;
    return S_OK;
}

HRESULT TFakeOutputDuplication::Upload(const TPixelFn& pixel)
{
    if (!pixel) {
        return S_OK;
    }
    D3D11_MAPPED_SUBRESOURCE mapped = {};
    const HRESULT hr = Context()->Map(pUploadTexture.Get(), 0, D3D11_MAP_WRITE, 0, &mapped);
    if (hr != S_OK) {
        return hr;
    }
    auto* pRow = static_cast<uint8_t*>(mapped.pData);
    for (uint32_t y = 0; y < DesktopHeight(); ++y, pRow += mapped.RowPitch) {
        auto* pPixels = reinterpret_cast<uint32_t*>(pRow);
        for (uint32_t x = 0; x < DesktopWidth(); ++x) {
            pPixels[x] = pixel(static_cast<int>(x), static_cast<int>(y));
        }
    }
    Context()->Unmap(pUploadTexture.Get(), 0);
    Context()->CopyResource(pFrameTexture.Get(), pUploadTexture.Get());
    return S_OK;
}

void TFakeOutputDuplication::OnAcquireCall(UINT timeoutMs)
{
    std::lock_guard<std::mutex> lock(pScript->mutex);
    ++stats.ui32Acquires;
    stats.vecAcquireTimeouts.push_back(timeoutMs);
}

void TFakeOutputDuplication::OnReleaseCall()
{
    std::lock_guard<std::mutex> lock(pScript->mutex);
    ++stats.ui32Releases;
}

void TFakeOutputDuplication::OnRefusal(const char* text)
{
    std::lock_guard<std::mutex> lock(pScript->mutex);
    stats.vecRefusals.emplace_back(text);
}

}  // namespace fakedup
