// A Direct3D 11 device on the default adapter and reading a texture back, for the suites of the
// duplication stand-ins (Wine's d3d11 runs on llvmpipe here).
#pragma once

#include <windows.h>

#include <d3d11.h>
#include <wrl/client.h>

#include <cstdint>
#include <vector>

namespace testdup_test {

// Null (with a test failure) when no device can be made.
Microsoft::WRL::ComPtr<ID3D11Device> MakeDevice();

// The pixels of a B8G8R8A8 texture as 0xAARRGGBB words, row after row, copied through a staging
// texture; empty (with a test failure) when that fails.
std::vector<uint32_t> ReadTexture(ID3D11Device* pDevice, ID3D11Texture2D* pTexture);

}  // namespace testdup_test
