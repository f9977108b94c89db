// Reading a B8G8R8A8 texture back to the CPU, for the suites that check what the GPU drew.
#pragma once

#include <d3d11.h>

#include <cstdint>
#include <vector>

namespace fakedup {

// Every pixel of `pTexture` (a texture of `pDevice`) as 0xAARRGGBB words, row after row, copied
// through a staging texture; empty when the staging texture cannot be made or mapped.
std::vector<uint32_t> ReadTexturePixels(ID3D11Device* pDevice, ID3D11Texture2D* pTexture);

}  // namespace fakedup
