// Surface sets: a region of the desktop image copied into a texture, drawn scaled into a viewport
// of a render target with the set's overlays over it, and copied into a staging texture for the
// CPU; and the mapping of that texture (or of the desktop image itself, surface ID -1).
#include "duplication/TDXGIDuplication.h"

#include "duplication/D3D11Helpers.h"

#include "duplication/DuplicationGeometry.h"
#include "log/Log.h"


namespace {

using d3dhelp::Hex;

constexpr const char kCreateName[] = "TDXGIDuplication::CreateTemporarySurface";


D3D11_VIEWPORT Viewport(float x, float y, float width, float height)
{
    return D3D11_VIEWPORT{x, y, width, height, 0.0f, 1.0f};
}

}  // namespace

bool TDXGIDuplication::CreateTemporarySurface(uint32_t id, uint32_t srcW, uint32_t srcH, uint32_t dstW, uint32_t dstH)
{
    LogInfo("%s %d, %dx%d, %dx%d", kCreateName, static_cast<int>(id), static_cast<int>(srcW), static_cast<int>(srcH),
            static_cast<int>(dstW), static_cast<int>(dstH));
    bool bResult = true;
    if (id == kDesktopSurfaceId) {
        LogInfo("%s will use pStagingDesktopImage as a final image", kCreateName);
    } else {
        LogInfo("%s creating surfaces...", kCreateName);
        mapTempSurfaces.erase(id);  // the old set and its overlays go first, also when the new one fails
        TTempSurface set;
        bResult = BuildSurfaceSet(set, srcW, srcH, dstW, dstH);
        if (bResult) {
            mapTempSurfaces.emplace(id, std::move(set));
        }
    }
    LogInfo("%s exit with %d", kCreateName, bResult ? 1 : 0);
    return bResult;
}

bool TDXGIDuplication::BuildSurfaceSet(TTempSurface& set, uint32_t srcW, uint32_t srcH, uint32_t dstW, uint32_t dstH)
{
    set.descStagingSurface = d3dhelp::BgraTextureDesc(dstW, dstH, D3D11_USAGE_STAGING, 0, D3D11_CPU_ACCESS_READ);
    set.descRenderTargetSurface = d3dhelp::BgraTextureDesc(dstW, dstH, D3D11_USAGE_DEFAULT, D3D11_BIND_RENDER_TARGET, 0);
    set.descTextureSurface = d3dhelp::BgraTextureDesc(srcW, srcH, D3D11_USAGE_DEFAULT, D3D11_BIND_SHADER_RESOURCE, 0);
    return CreateSurfaceTextures(set) && CreateSurfaceViews(set);
}

bool TDXGIDuplication::CreateSurfaceTextures(TTempSurface& set)
{
    HRESULT hr = pDevice->CreateTexture2D(&set.descStagingSurface, nullptr, set.pStagingSurface.ReleaseAndGetAddressOf());
    if (hr != S_OK) {
        LogError("%s CreateTexture2D staging surface error %x", kCreateName, Hex(hr));
        return false;
    }
    LogInfo("%s temp staging surface has been created", kCreateName);
    hr = pDevice->CreateTexture2D(&set.descRenderTargetSurface, nullptr,
                                  set.pRenderTargetSurface.ReleaseAndGetAddressOf());
    if (hr != S_OK) {
        LogError("%s CreateTexture2D render target surface error %x", kCreateName, Hex(hr));
        return false;
    }
    LogInfo("%s temp render target surface has been created", kCreateName);
    hr = pDevice->CreateTexture2D(&set.descTextureSurface, nullptr, set.pTextureSurface.ReleaseAndGetAddressOf());
    if (hr != S_OK) {
        LogError("%s CreateTexture2D texture surface error %x", kCreateName, Hex(hr));
        return false;
    }
    LogInfo("%s temp texture surface has been created", kCreateName);
    return true;
}

bool TDXGIDuplication::CreateSurfaceViews(TTempSurface& set)
{
    D3D11_RENDER_TARGET_VIEW_DESC rtv = {};
    rtv.Format = DXGI_FORMAT_UNKNOWN;
    rtv.ViewDimension = D3D11_RTV_DIMENSION_TEXTURE2D;
    rtv.Texture2D.MipSlice = 0;
    HRESULT hr = pDevice->CreateRenderTargetView(set.pRenderTargetSurface.Get(), &rtv,
                                                 set.pRenderTargetView.ReleaseAndGetAddressOf());
    if (hr != S_OK) {
        LogError("%s CreateRenderTargetView error %x", kCreateName, Hex(hr));
        return false;
    }
    LogInfo("%s CreateRenderTargetView OK", kCreateName);
    const D3D11_BUFFER_DESC quad = {dupgeo::kQuadBytes, D3D11_USAGE_DEFAULT, D3D11_BIND_VERTEX_BUFFER, 0, 0, 0};
    const D3D11_SUBRESOURCE_DATA quadData = {dupgeo::kFullSurfaceQuad.data(), 0, 0};
    hr = pDevice->CreateBuffer(&quad, &quadData, set.pQuadVertexBuffer.ReleaseAndGetAddressOf());
    if (hr != S_OK) {
        LogError("%s Unable to create a quad vertex buffer %d.", kCreateName, static_cast<int>(hr));
        return false;
    }
    LogInfo("%s The quad vertex buffer has been created.", kCreateName);
    const D3D11_SAMPLER_DESC sampler = d3dhelp::LinearWrapSampler();
    hr = pDevice->CreateSamplerState(&sampler, set.pSamplerState.ReleaseAndGetAddressOf());
    if (hr != S_OK) {
        LogError("%s Unable to create a sampler state %d.", kCreateName, static_cast<int>(hr));
        return false;
    }
    LogInfo("%s a sampler state has been created.", kCreateName);
    hr = pDevice->CreateShaderResourceView(set.pTextureSurface.Get(), nullptr, set.pTextureView.ReleaseAndGetAddressOf());
    if (hr != S_OK) {
        LogError("%s Unable to create a shader resource view from the resolve buffer %x.", kCreateName, Hex(hr));
        return false;
    }
    LogInfo("%s a shader resource view has been created.", kCreateName);
    return true;
}

void TDXGIDuplication::TransferToSurface(uint32_t id, uint32_t sx, uint32_t sy, uint32_t vx, uint32_t vy, uint32_t vw,
                                         uint32_t vh)
{
    if (id == kDesktopSurfaceId) {
        return;  // the caller reads pStagingDesktopImage itself
    }
    TTempSurface* pSet = FindSurface(id, "TDXGIDuplication::TransferToSurface");
    if (pSet == nullptr) {
        return;
    }
    // The set keeps the source size it was made with. The box is not clipped: the caller keeps it
    // inside the desktop image.
    const D3D11_BOX source = {sx, sy, 0, sx + pSet->descTextureSurface.Width, sy + pSet->descTextureSurface.Height, 1};
    pContext->CopySubresourceRegion(pSet->pTextureSurface.Get(), 0, 0, 0, 0, pStagingDesktopImage.Get(), 0, &source);
    // Transparent black: what lies outside the viewport stays (0, 0, 0, 0).
    const float clear[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    pContext->ClearRenderTargetView(pSet->pRenderTargetView.Get(), clear);
    DrawFrameQuad(*pSet, vx, vy, vw, vh);
    DrawOverlays(*pSet);
    pContext->CopyResource(pSet->pStagingSurface.Get(), pSet->pRenderTargetSurface.Get());
}

void TDXGIDuplication::DrawFrameQuad(TTempSurface& set, uint32_t vx, uint32_t vy, uint32_t vw, uint32_t vh)
{
    ID3D11RenderTargetView* pTarget = set.pRenderTargetView.Get();
    pContext->OMSetRenderTargets(1, &pTarget, nullptr);
    pContext->OMSetBlendState(nullptr, nullptr, 0xFFFFFFFFu);
    pContext->IASetInputLayout(pInputLayout.Get());
    ID3D11Buffer* pQuad = set.pQuadVertexBuffer.Get();
    const UINT uiStride = dupgeo::kVertexStride;
    const UINT uiOffset = 0;
    pContext->IASetVertexBuffers(0, 1, &pQuad, &uiStride, &uiOffset);
    pContext->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST);
    pContext->VSSetShader(pVertexShader.Get(), nullptr, 0);
    ID3D11SamplerState* pSampler = set.pSamplerState.Get();
    pContext->PSSetSamplers(0, 1, &pSampler);
    ID3D11ShaderResourceView* pView = set.pTextureView.Get();
    pContext->PSSetShaderResources(0, 1, &pView);
    pContext->PSSetShader(pPixelShader.Get(), nullptr, 0);
    const D3D11_VIEWPORT viewport = Viewport(static_cast<float>(vx), static_cast<float>(vy), static_cast<float>(vw),
                                             static_cast<float>(vh));
    pContext->RSSetViewports(1, &viewport);
    pContext->Draw(dupgeo::kQuadVertexCount, 0);
}

// In ascending overlay ID, so a lower ID lies underneath. Input layout, quad, topology, sampler
// and render target stay from the frame quad.
void TDXGIDuplication::DrawOverlays(TTempSurface& set)
{
    for (const auto& [ui32OverlayId, overlay] : set.mapOverlays) {
        pContext->VSSetShader(overlay.pVertexShader.Get(), nullptr, 0);
        ID3D11ShaderResourceView* pView = overlay.pTextureView.Get();
        pContext->PSSetShaderResources(0, 1, &pView);
        pContext->PSSetShader(overlay.pPixelShader.Get(), nullptr, 0);
        // Slot 0 gets the overlay's buffer, or none: no constants of an earlier overlay stay bound.
        ID3D11Buffer* pConstants = overlay.pConstantBuffer.Get();
        pContext->PSSetConstantBuffers(0, 1, &pConstants);
        pContext->OMSetBlendState(overlay.pBlendState.Get(), nullptr, 0xFFFFFFFFu);
        const RECT& rc = overlay.rcDestination;
        const D3D11_VIEWPORT viewport =
            Viewport(static_cast<float>(rc.left), static_cast<float>(rc.top), static_cast<float>(rc.right - rc.left),
                     static_cast<float>(rc.bottom - rc.top));
        pContext->RSSetViewports(1, &viewport);
        pContext->Draw(dupgeo::kQuadVertexCount, 0);
    }
}

bool TDXGIDuplication::MapSurface(uint32_t id)
{
    constexpr const char kName[] = "TDXGIDuplication::MapSurface";
    if (id == kDesktopSurfaceId) {
        mappedStagingDesktopImage = {};
        const HRESULT hr = pContext->Map(pStagingDesktopImage.Get(), 0, D3D11_MAP_READ, 0, &mappedStagingDesktopImage);
        if (hr != S_OK) {
            LogError("%s Map pStagingDesktopImage error %x", kName, Hex(hr));
            return false;
        }
        return true;
    }
    TTempSurface* pSet = FindSurface(id, kName);
    if (pSet == nullptr) {
        return false;
    }
    pSet->mapped = {};
    const HRESULT hr = pContext->Map(pSet->pStagingSurface.Get(), 0, D3D11_MAP_READ, 0, &pSet->mapped);
    if (hr != S_OK) {
        LogError("%s Map mapTempSurfaces error %x", kName, Hex(hr));
        return false;
    }
    return true;
}

void TDXGIDuplication::UnmapSurface(uint32_t id)
{
    if (id == kDesktopSurfaceId) {
        if (mappedStagingDesktopImage.pData != nullptr) {
            pContext->Unmap(pStagingDesktopImage.Get(), 0);
        }
        mappedStagingDesktopImage = {};
        return;
    }
    if (TTempSurface* pSet = FindSurface(id, "TDXGIDuplication::UnmapSurface")) {
        if (pSet->mapped.pData != nullptr) {
            pContext->Unmap(pSet->pStagingSurface.Get(), 0);
        }
        pSet->mapped = {};
    }
}

const uint8_t* TDXGIDuplication::DataPointer(uint32_t id)
{
    if (id == kDesktopSurfaceId) {
        return static_cast<const uint8_t*>(mappedStagingDesktopImage.pData);
    }
    const TTempSurface* pSet = FindSurface(id, "TDXGIDuplication::DataPointer");
    return pSet != nullptr ? static_cast<const uint8_t*>(pSet->mapped.pData) : nullptr;
}

uint32_t TDXGIDuplication::DataStride(uint32_t id)
{
    if (id == kDesktopSurfaceId) {
        return mappedStagingDesktopImage.RowPitch;
    }
    const TTempSurface* pSet = FindSurface(id, "TDXGIDuplication::DataStride");
    return pSet != nullptr ? pSet->mapped.RowPitch : 0;
}

uint32_t TDXGIDuplication::Height(uint32_t id)
{
    if (id == kDesktopSurfaceId) {
        return dupgeo::DesktopSize(THooksRect{rcDesktopCoordinates.left, rcDesktopCoordinates.top,
                                              rcDesktopCoordinates.right, rcDesktopCoordinates.bottom})
            .ui32Height;
    }
    const TTempSurface* pSet = FindSurface(id, "TDXGIDuplication::Height");
    return pSet != nullptr ? pSet->descStagingSurface.Height : 0;
}

TTempSurface* TDXGIDuplication::FindSurface(uint32_t id, const char* qualifiedName)
{
    const auto it = mapTempSurfaces.find(id);
    if (it == mapTempSurfaces.end()) {
        LogError("%s invalid surface ID %d", qualifiedName, static_cast<int>(id));
        return nullptr;
    }
    return &it->second;
}
