#include "TextureReadback.h"

#include <wrl/client.h>

#include <cstring>

namespace fakedup {

std::vector<uint32_t> ReadTexturePixels(ID3D11Device* pDevice, ID3D11Texture2D* pTexture)
{
    D3D11_TEXTURE2D_DESC desc = {};
    pTexture->GetDesc(&desc);
    desc.Usage = D3D11_USAGE_STAGING;
    desc.BindFlags = 0;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    desc.MiscFlags = 0;
    Microsoft::WRL::ComPtr<ID3D11Texture2D> pStaging;
    if (pDevice->CreateTexture2D(&desc, nullptr, pStaging.GetAddressOf()) != S_OK) {
        return {};
    }
    Microsoft::WRL::ComPtr<ID3D11DeviceContext> pContext;
    pDevice->GetImmediateContext(pContext.GetAddressOf());
    pContext->CopyResource(pStaging.Get(), pTexture);
    D3D11_MAPPED_SUBRESOURCE mapped = {};
    if (pContext->Map(pStaging.Get(), 0, D3D11_MAP_READ, 0, &mapped) != S_OK) {
        return {};
    }
    std::vector<uint32_t> pixels(size_t{desc.Width} * desc.Height);
    for (uint32_t y = 0; y < desc.Height; ++y) {
        std::memcpy(&pixels[size_t{y} * desc.Width], static_cast<const uint8_t*>(mapped.pData) + size_t{y} * mapped.RowPitch,
                    size_t{desc.Width} * 4);
    }
    pContext->Unmap(pStaging.Get(), 0);
    return pixels;
}

}  // namespace fakedup
