#include "D3DTestSupport.h"
#include "TextureReadback.h"

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
    std::vector<uint32_t> pixels = fakedup::ReadTexturePixels(pDevice, pTexture);
    EXPECT_FALSE(pixels.empty()) << "the texture could not be read back";
    return pixels;
}

}  // namespace testdup_test
