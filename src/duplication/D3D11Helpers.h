// Small helpers the engine's files share: how an HRESULT is logged and the description of a
// single-level B8G8R8A8 texture.
#pragma once

#include <d3d11.h>

#include <cstdint>

namespace d3dhelp {

// HRESULTs are logged in hexadecimal as their 32 bits.
inline unsigned Hex(HRESULT hr)
{
    return static_cast<unsigned>(hr);
}

// width x height, one mip level, one array slice, B8G8R8A8_UNORM, one sample, no misc flags.
inline D3D11_TEXTURE2D_DESC BgraTextureDesc(uint32_t width, uint32_t height, D3D11_USAGE usage, UINT bindFlags,
                                            UINT cpuFlags)
{
    D3D11_TEXTURE2D_DESC desc = {};
    desc.Width = width;
    desc.Height = height;
    desc.MipLevels = 1;
    desc.ArraySize = 1;
    desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    desc.SampleDesc = {1, 0};
    desc.Usage = usage;
    desc.BindFlags = bindFlags;
    desc.CPUAccessFlags = cpuFlags;
    return desc;
}

}  // namespace d3dhelp
