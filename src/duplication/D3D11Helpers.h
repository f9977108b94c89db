// Small helpers the engine's files share: how an HRESULT is logged, the description of a
// single-level B8G8R8A8 texture and the quads' sampler.
#pragma once

#include <d3d11.h>

#include <cfloat>
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

// Linear filtering with wrap addressing, the sampler of every textured quad (surface sets and the
// rotation pass): the draw samples texel centres, so wrapping only mixes in
// the opposite edge where a sample falls within half a texel of the border.
inline D3D11_SAMPLER_DESC LinearWrapSampler()
{
    D3D11_SAMPLER_DESC desc = {};
    desc.Filter = D3D11_FILTER_MIN_MAG_MIP_LINEAR;
    desc.AddressU = D3D11_TEXTURE_ADDRESS_WRAP;
    desc.AddressV = D3D11_TEXTURE_ADDRESS_WRAP;
    desc.AddressW = D3D11_TEXTURE_ADDRESS_WRAP;
    desc.MipLODBias = 0.0f;
    desc.MaxAnisotropy = 1;
    desc.ComparisonFunc = D3D11_COMPARISON_ALWAYS;
    desc.MinLOD = 0.0f;
    desc.MaxLOD = FLT_MAX;
    return desc;
}

}  // namespace d3dhelp
