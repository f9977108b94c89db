#include "D3DTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

namespace testdup_test {

using Microsoft::WRL::ComPtr;

ComPtr<ID3D11Device> MakeDevice()
{
    ComPtr<ID3D11Device> pDevice;
    const HRESULT hr = ::D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0,
                                           D3D11_SDK_VERSION, pDevice.GetAddressOf(), nullptr, nullptr);
    EXPECT_EQ(hr, S_OK) << "D3D11CreateDevice";
    return pDevice;
}

std::vector<uint32_t> ReadTexture(ID3D11Device* pDevice, ID3D11Texture2D* pTexture)
{
    D3D11_TEXTURE2D_DESC desc = {};
    pTexture->GetDesc(&desc);
    desc.Usage = D3D11_USAGE_STAGING;
    desc.BindFlags = 0;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    desc.MiscFlags = 0;
    ComPtr<ID3D11Texture2D> pStaging;
    HRESULT hr = pDevice->CreateTexture2D(&desc, nullptr, pStaging.GetAddressOf());
    if (hr != S_OK) {
        ADD_FAILURE() << "CreateTexture2D staging " << std::hex << hr;
        return {};
    }
    ComPtr<ID3D11DeviceContext> pContext;
    pDevice->GetImmediateContext(pContext.GetAddressOf());
    pContext->CopyResource(pStaging.Get(), pTexture);
    D3D11_MAPPED_SUBRESOURCE mapped = {};
    hr = pContext->Map(pStaging.Get(), 0, D3D11_MAP_READ, 0, &mapped);
    if (hr != S_OK) {
        ADD_FAILURE() << "Map staging " << std::hex << hr;
        return {};
    }
    std::vector<uint32_t> pixels(static_cast<size_t>(desc.Width) * desc.Height);
    for (uint32_t y = 0; y < desc.Height; ++y) {
        std::memcpy(&pixels[static_cast<size_t>(y) * desc.Width],
                    static_cast<const uint8_t*>(mapped.pData) + static_cast<size_t>(y) * mapped.RowPitch,
                    desc.Width * 4u);
    }
    pContext->Unmap(pStaging.Get(), 0);
    return pixels;
}

}  // namespace testdup_test
