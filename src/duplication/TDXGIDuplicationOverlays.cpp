// Overlays of a surface set: their creation (texture, shaders, input layout, view, constants,
// blend state) and the per-frame upload of their pixels.
#include "duplication/TDXGIDuplication.h"

#include "duplication/D3D11Helpers.h"

#include "log/Log.h"

#include <algorithm>
#include <cstring>

namespace {

using d3dhelp::Hex;

constexpr int32_t kOverlayVertexShaderResourceId = 129;  // IDR_SHADER_Vertex11

// colour = overlay x alpha + below x (1 - alpha); the result's alpha is the overlay's.
D3D11_BLEND_DESC OverlayBlendDesc()
{
    D3D11_BLEND_DESC desc = {};
    desc.AlphaToCoverageEnable = FALSE;
    desc.IndependentBlendEnable = FALSE;
    D3D11_RENDER_TARGET_BLEND_DESC& target = desc.RenderTarget[0];
    target.BlendEnable = TRUE;
    target.SrcBlend = D3D11_BLEND_SRC_ALPHA;
    target.DestBlend = D3D11_BLEND_INV_SRC_ALPHA;
    target.BlendOp = D3D11_BLEND_OP_ADD;
    target.SrcBlendAlpha = D3D11_BLEND_ONE;
    target.DestBlendAlpha = D3D11_BLEND_ZERO;
    target.BlendOpAlpha = D3D11_BLEND_OP_ADD;
    target.RenderTargetWriteMask = D3D11_COLOR_WRITE_ENABLE_ALL;
    return desc;
}

}  // namespace

void TDXGIDuplication::CreateOverlay(uint32_t surfaceId, uint32_t overlayId, uint32_t width, uint32_t height,
                                     int32_t /*reserved*/, int32_t pixelShaderResourceId, RECT rcDestination,
                                     const void* pCustomShaderData, uint32_t ui32CustomShaderDataSize,
                                     bool bUseBlending)
{
    constexpr const char kName[] = "TDXGIDuplication::CreateOverlay";
    LogInfo("%s %d %d %dx%d", kName, static_cast<int>(surfaceId), static_cast<int>(overlayId), static_cast<int>(width),
            static_cast<int>(height));
    const auto it = mapTempSurfaces.find(surfaceId);
    if (it != mapTempSurfaces.end()) {
        it->second.mapOverlays.erase(overlayId);
        TOverlay overlay;
        overlay.rcDestination = rcDestination;
        overlay.descTexture = d3dhelp::BgraTextureDesc(width, height, D3D11_USAGE_DYNAMIC, D3D11_BIND_SHADER_RESOURCE,
                                                     D3D11_CPU_ACCESS_WRITE);
        if (BuildOverlay(overlay, pixelShaderResourceId, pCustomShaderData, ui32CustomShaderDataSize, bUseBlending)) {
            it->second.mapOverlays.emplace(overlayId, std::move(overlay));
        }
    }
    LogInfo("%s exit", kName);
}

// CreateOverlay's steps in their order; the first failure logs its line and ends the build.
bool TDXGIDuplication::BuildOverlay(TOverlay& overlay, int32_t pixelShaderResourceId, const void* pCustomShaderData,
                                    uint32_t ui32CustomShaderDataSize, bool bUseBlending)
{
    constexpr const char kName[] = "TDXGIDuplication::CreateOverlay";
    HRESULT hr = pDevice->CreateTexture2D(&overlay.descTexture, nullptr, overlay.pTexture.GetAddressOf());
    if (hr != S_OK) {
        LogError("%s CreateTexture2D error %x", kName, Hex(hr));
        return false;
    }
    LogInfo("%s texture has been created", kName);
    if (!CreatePixelShader(pixelShaderResourceId, pDevice.Get(), overlay.pPixelShader.GetAddressOf())) {
        LogError("%s CreatePixelShader IDR_SHADER_Texture11BGR error", kName);
        return false;
    }
    LogInfo("%s Pixel shader simple texture bgr has been created.", kName);
    if (!CreateVertexShader(kOverlayVertexShaderResourceId, pDevice.Get(), overlay.pVertexShader.GetAddressOf(),
                            &overlay.pVertexShaderBytecode, &overlay.ui32VertexShaderBytecodeSize)) {
        LogError("%s CreateVertexShader %d error", kName, kOverlayVertexShaderResourceId);
        return false;
    }
    LogInfo("%s vertex shader %d has been created", kName, kOverlayVertexShaderResourceId);
    hr = CreateQuadInputLayout(pDevice.Get(), overlay.pVertexShaderBytecode, overlay.ui32VertexShaderBytecodeSize,
                               overlay.pInputLayout.GetAddressOf());
    if (hr != S_OK) {
        LogError("%s Unable to create an input layout for the texture %d.", kName, static_cast<int>(hr));
        return false;
    }
    LogInfo("%s An input layout for the texture has been created.", kName);
    hr = pDevice->CreateShaderResourceView(overlay.pTexture.Get(), nullptr, overlay.pTextureView.GetAddressOf());
    if (hr != S_OK) {
        LogError("%s Unable to create a shader resource view from the resolve buffer %x.", kName, Hex(hr));
        return false;
    }
    LogInfo("%s a shader resource view has been created.", kName);
    return CreateOverlayConstants(overlay, pCustomShaderData, ui32CustomShaderDataSize) &&
           (!bUseBlending || CreateOverlayBlendState(overlay));
}

bool TDXGIDuplication::CreateOverlayConstants(TOverlay& overlay, const void* pData, uint32_t ui32Size)
{
    constexpr const char kName[] = "TDXGIDuplication::CreateOverlay";
    if (ui32Size == 0) {
        return true;
    }
    LogInfo("%s ui32CustomShaderDataSize %d", kName, static_cast<int>(ui32Size));
    D3D11_BUFFER_DESC desc = {};
    desc.ByteWidth = ui32Size;
    desc.Usage = D3D11_USAGE_DEFAULT;
    desc.BindFlags = D3D11_BIND_CONSTANT_BUFFER;
    const D3D11_SUBRESOURCE_DATA data = {pData, ui32Size, 0};
    const HRESULT hr = pDevice->CreateBuffer(&desc, &data, overlay.pConstantBuffer.GetAddressOf());
    if (hr != S_OK) {
        LogError("%s Unable to create a custom shader buffer %x.", kName, Hex(hr));
        return false;
    }
    LogInfo("%s a custom shader buffer has been created.", kName);
    return true;
}

bool TDXGIDuplication::CreateOverlayBlendState(TOverlay& overlay)
{
    constexpr const char kName[] = "TDXGIDuplication::CreateOverlay";
    const D3D11_BLEND_DESC desc = OverlayBlendDesc();
    const HRESULT hr = pDevice->CreateBlendState(&desc, overlay.pBlendState.GetAddressOf());
    if (hr != S_OK) {
        LogError("%s Unable to create a blend state %d.", kName, static_cast<int>(hr));
        return false;
    }
    LogInfo("%s a blend state has been created.", kName);
    return true;
}

void TDXGIDuplication::UpdateOverlayData(uint32_t surfaceId, uint32_t overlayId, const uint8_t* pPixels,
                                         int32_t width, int32_t height, int32_t stride)
{
    constexpr const char kName[] = "TDXGIDuplication::UpdateOverlayData";
    LogVerbose("%s", kName);
    const auto set = mapTempSurfaces.find(surfaceId);
    if (set == mapTempSurfaces.end()) {
        LogError("%s %d surface doesn't exist", kName, static_cast<int>(surfaceId));
        return;
    }
    const auto found = set->second.mapOverlays.find(overlayId);
    if (found == set->second.mapOverlays.end()) {
        LogError("%s %d overlay doesn't exist", kName, static_cast<int>(overlayId));
        return;
    }
    TOverlay& overlay = found->second;
    const auto iOverlayWidth = static_cast<int32_t>(overlay.descTexture.Width);
    const auto iOverlayHeight = static_cast<int32_t>(overlay.descTexture.Height);
    if (width != iOverlayWidth || height != iOverlayHeight) {
        LogError("%s invalid overlay dimensions %dx%d, but input %dx%d", kName, iOverlayWidth, iOverlayHeight,
                 width, height);
        return;
    }
    D3D11_MAPPED_SUBRESOURCE mapped = {};
    const HRESULT hr = pContext->Map(overlay.pTexture.Get(), 0, D3D11_MAP_WRITE_DISCARD, 0, &mapped);
    if (hr != S_OK) {
        LogError("%s Map pTexture error %x", kName, Hex(hr));
        return;
    }
    // Each row copies what both the mapping's row and the source row hold.
    const size_t rowBytes = static_cast<size_t>(std::max(0, std::min(static_cast<int32_t>(mapped.RowPitch), stride)));
    auto* pTarget = static_cast<uint8_t*>(mapped.pData);
    for (int32_t row = 0; row < height; ++row) {
        std::memcpy(pTarget + static_cast<size_t>(row) * mapped.RowPitch,
                    pPixels + static_cast<ptrdiff_t>(row) * stride, rowBytes);
    }
    pContext->Unmap(overlay.pTexture.Get(), 0);
    LogVerbose("%s exit", kName);
}
