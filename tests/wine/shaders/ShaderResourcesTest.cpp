// The capturer's compiled shaders. The exe must carry exactly what its HLSL sources compile to now
// (a stale or hand-edited blob fails here), as shader model 4.0 containers under integer IDs, and
// a Direct3D 11 device must accept and run them: the frame quad of the duplication engine draws a
// texture 1:1 with every channel, alpha included, passed through (or red and blue exchanged).
#include "ShaderCompiler.h"
#include "ipc/THandle.h"
#include "resources/ShaderResources.h"

#include <windows.h>
#include <d3d11.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Microsoft::WRL::ComPtr;

struct TShaderCase {
    int id;
    const char* name;
    const wchar_t* source;
    const char* entry;
    const char* profile;
};

constexpr TShaderCase kShaders[] = {
#define ZYR_SHADER(id, name, source, entry, profile) {id, #name, L"" source, entry, profile},
#include "resources/shaders/Shaders.def"
#undef ZYR_SHADER
};

bool IsVertexShader(const TShaderCase& shader) { return std::strncmp(shader.profile, "vs_", 3) == 0; }

TModule LoadCapturerAsData()
{
    return TModule(::LoadLibraryExW(ZYR_CAPTURER_EXE, nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
}

// The bytes of the "SHADER" resource `id` of `module`; empty when there is none.
std::vector<uint8_t> ShaderResource(HMODULE module, int id)
{
    HRSRC hInfo = ::FindResourceW(module, MAKEINTRESOURCEW(id), kShaderResourceType);
    HGLOBAL hData = hInfo != nullptr ? ::LoadResource(module, hInfo) : nullptr;
    const auto* pBytes = static_cast<const uint8_t*>(hData != nullptr ? ::LockResource(hData) : nullptr);
    return pBytes != nullptr ? std::vector<uint8_t>(pBytes, pBytes + ::SizeofResource(module, hInfo))
                             : std::vector<uint8_t>();
}

BOOL CALLBACK CollectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param)
{
    // A name given as text (an ID the resource compiler did not know) is collected as -1.
    reinterpret_cast<std::vector<int>*>(param)->push_back(
        IS_INTRESOURCE(name) ? static_cast<int>(reinterpret_cast<ULONG_PTR>(name)) : -1);
    return TRUE;
}

// "" for equal byte strings, else where they part: gtest's dump of two whole blobs says little.
std::string Difference(const std::vector<uint8_t>& actual, const std::vector<uint8_t>& expected)
{
    if (actual == expected) {
        return "";
    }
    const auto parted = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
    return std::to_string(actual.size()) + " bytes against " + std::to_string(expected.size()) +
           ", first difference at byte " + std::to_string(parted.first - actual.begin());
}

uint32_t ReadU32(const std::vector<uint8_t>& bytes, size_t offset)
{
    uint32_t value = 0;
    if (offset + sizeof(value) <= bytes.size()) {
        std::memcpy(&value, bytes.data() + offset, sizeof(value));
    }
    return value;
}

// The version token of a DXBC container's shader chunk (SHDR for model 4, SHEX for model 5):
// bits 16-31 the program type (0 pixel, 1 vertex), 4-7 the major and 0-3 the minor model.
// 0 when the container is malformed or has no shader chunk.
uint32_t ShaderVersionToken(const std::vector<uint8_t>& container)
{
    if (container.size() < 32 || std::memcmp(container.data(), "DXBC", 4) != 0 ||
        ReadU32(container, 24) != container.size()) {
        return 0;
    }
    const uint32_t chunks = ReadU32(container, 28);
    for (uint32_t i = 0; i < chunks && 32 + 4 * static_cast<size_t>(i) < container.size(); ++i) {
        const size_t chunk = ReadU32(container, 32 + 4 * i);
        if (chunk + 12 <= container.size() && (std::memcmp(container.data() + chunk, "SHDR", 4) == 0 ||
                                               std::memcmp(container.data() + chunk, "SHEX", 4) == 0)) {
            return ReadU32(container, chunk + 8);
        }
    }
    return 0;
}

TEST(ShaderResources, ExeCarriesExactlyWhatItsSourcesCompileTo)
{
    const TShaderCompiler compiler;
    ASSERT_TRUE(compiler.IsLoaded()) << "d3dcompiler_47.dll: error " << compiler.LoadError();
    const TModule capturer = LoadCapturerAsData();
    ASSERT_TRUE(capturer) << "LoadLibraryExW of the capturer: error " << ::GetLastError();

    std::vector<int> listed;
    for (const TShaderCase& shader : kShaders) {
        SCOPED_TRACE(shader.name);
        listed.push_back(shader.id);
        std::vector<uint8_t> first;
        std::vector<uint8_t> second;
        std::string messages;
        const std::wstring path = std::wstring(ZYR_SHADER_SOURCE_DIR) + L"/" + shader.source;
        ASSERT_TRUE(compiler.CompileFile(path, shader.entry, shader.profile, &first, &messages)) << messages;
        ASSERT_TRUE(compiler.CompileFile(path, shader.entry, shader.profile, &second, &messages)) << messages;
        EXPECT_EQ(Difference(second, first), "") << "two compilations of one source differ";
        EXPECT_EQ(Difference(ShaderResource(capturer.Get(), shader.id), first), "")
            << "the exe carries other bytes than its source compiles to";

        const uint32_t expectedToken = (IsVertexShader(shader) ? 1u << 16 : 0u) | 0x40u;
        EXPECT_EQ(ShaderVersionToken(first), expectedToken) << "not a shader model 4.0 container";
    }
    std::vector<int> carried;
    ::EnumResourceNamesW(capturer.Get(), kShaderResourceType, CollectName, reinterpret_cast<LONG_PTR>(&carried));
    std::sort(carried.begin(), carried.end());
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(carried, listed) << "the exe's SHADER resources are not exactly the listed IDs";
}

// The vertex layout of every quad the engine draws: POSITION x, y, z and TEXCOORD u, v (20 bytes).
const D3D11_INPUT_ELEMENT_DESC kQuadLayout[] = {
    {"POSITION", 0, DXGI_FORMAT_R32G32B32_FLOAT, 0, 0, D3D11_INPUT_PER_VERTEX_DATA, 0},
    {"TEXCOORD", 0, DXGI_FORMAT_R32G32_FLOAT, 0, D3D11_APPEND_ALIGNED_ELEMENT, D3D11_INPUT_PER_VERTEX_DATA, 0},
};

// The full-surface quad: two triangles, the texture's top-left corner at the viewport's top-left.
constexpr float kQuad[6][5] = {
    {-1, 1, 0, 0, 0}, {1, -1, 0, 1, 1}, {-1, -1, 0, 0, 1}, {-1, 1, 0, 0, 0}, {1, 1, 0, 1, 0}, {1, -1, 0, 1, 1},
};

struct TDevice {
    ComPtr<ID3D11Device> pDevice;
    ComPtr<ID3D11DeviceContext> pContext;
};

// A hardware device (llvmpipe under Wine) of exactly `level`; null members when refused.
TDevice CreateDevice(D3D_FEATURE_LEVEL level, HRESULT* pResult)
{
    TDevice device;
    *pResult = ::D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, &level, 1, D3D11_SDK_VERSION,
                                   device.pDevice.GetAddressOf(), nullptr, device.pContext.GetAddressOf());
    return device;
}

TEST(ShaderResources, DevicesOfLevels10And11CreateEveryShaderAndTheQuadLayout)
{
    const TModule capturer = LoadCapturerAsData();
    ASSERT_TRUE(capturer) << "LoadLibraryExW of the capturer: error " << ::GetLastError();
    struct TLevelCase {
        const char* name;
        D3D_FEATURE_LEVEL level;
    };
    const TLevelCase levels[] = {
        {"11_0", D3D_FEATURE_LEVEL_11_0}, {"10_1", D3D_FEATURE_LEVEL_10_1}, {"10_0", D3D_FEATURE_LEVEL_10_0}};
    for (const TLevelCase& level : levels) {
        SCOPED_TRACE(level.name);
        HRESULT hr = E_FAIL;
        const TDevice device = CreateDevice(level.level, &hr);
        ASSERT_EQ(hr, S_OK);
        for (const TShaderCase& shader : kShaders) {
            SCOPED_TRACE(shader.name);
            const std::vector<uint8_t> bytes = ShaderResource(capturer.Get(), shader.id);
            ASSERT_FALSE(bytes.empty());
            if (IsVertexShader(shader)) {
                ComPtr<ID3D11VertexShader> pShader;
                ComPtr<ID3D11InputLayout> pLayout;
                EXPECT_EQ(device.pDevice->CreateVertexShader(bytes.data(), bytes.size(), nullptr, &pShader), S_OK);
                EXPECT_EQ(device.pDevice->CreateInputLayout(kQuadLayout, 2, bytes.data(), bytes.size(), &pLayout),
                          S_OK);
            } else {
                ComPtr<ID3D11PixelShader> pShader;
                EXPECT_EQ(device.pDevice->CreatePixelShader(bytes.data(), bytes.size(), nullptr, &pShader), S_OK);
            }
        }
    }
}

// The device checks a layout against the shader's inputs, so the S_OK above means that the two
// elements match what IDR_SHADER_Vertex11 reads.
TEST(ShaderResources, DeviceRefusesALayoutTheVertexShaderDoesNotRead)
{
    const TModule capturer = LoadCapturerAsData();
    ASSERT_TRUE(capturer);
    HRESULT hr = E_FAIL;
    const TDevice device = CreateDevice(D3D_FEATURE_LEVEL_11_0, &hr);
    ASSERT_EQ(hr, S_OK);
    const std::vector<uint8_t> bytes = ShaderResource(capturer.Get(), IDR_SHADER_Vertex11);
    D3D11_INPUT_ELEMENT_DESC elements[2] = {kQuadLayout[0], kQuadLayout[1]};
    elements[0].SemanticName = "COLOR";
    ComPtr<ID3D11InputLayout> pLayout;
    EXPECT_EQ(device.pDevice->CreateInputLayout(elements, 2, bytes.data(), bytes.size(), &pLayout), E_INVALIDARG);
}

// 2 x 2 texels, little-endian 0xAARRGGBB (bytes blue, green, red, alpha), every channel distinct,
// alpha included: top-left, top-right, bottom-left, bottom-right.
constexpr std::array<uint32_t, 4> kTexels = {0x00302010u, 0x55605040u, 0xAA908070u, 0xFFC0B0A0u};

std::string Hex(const std::array<uint32_t, 4>& pixels)
{
    char text[64];
    std::snprintf(text, sizeof(text), "%08X %08X %08X %08X", pixels[0], pixels[1], pixels[2], pixels[3]);
    return text;
}

uint32_t ExchangeRedAndBlue(uint32_t pixel)
{
    return (pixel & 0xFF00FF00u) | ((pixel & 0xFFu) << 16) | ((pixel >> 16) & 0xFFu);
}

D3D11_TEXTURE2D_DESC TextureDesc(D3D11_USAGE usage, UINT bindFlags, UINT cpuAccess)
{
    D3D11_TEXTURE2D_DESC desc{};
    desc.Width = 2;
    desc.Height = 2;
    desc.MipLevels = 1;
    desc.ArraySize = 1;
    desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    desc.SampleDesc.Count = 1;
    desc.Usage = usage;
    desc.BindFlags = bindFlags;
    desc.CPUAccessFlags = cpuAccess;
    return desc;
}

// The engine's sampler for the frame quad: linear filtering, wrap addressing.
D3D11_SAMPLER_DESC FrameSamplerDesc()
{
    D3D11_SAMPLER_DESC desc{};
    desc.Filter = D3D11_FILTER_MIN_MAG_MIP_LINEAR;
    desc.AddressU = D3D11_TEXTURE_ADDRESS_WRAP;
    desc.AddressV = D3D11_TEXTURE_ADDRESS_WRAP;
    desc.AddressW = D3D11_TEXTURE_ADDRESS_WRAP;
    desc.MaxAnisotropy = 1;
    desc.ComparisonFunc = D3D11_COMPARISON_ALWAYS;
    desc.MaxLOD = D3D11_FLOAT32_MAX;
    return desc;
}

// What the pipeline needs to draw kTexels through the quad onto a 2 x 2 render target.
struct TOneToOneDraw {
    ComPtr<ID3D11ShaderResourceView> pSourceView;
    ComPtr<ID3D11SamplerState> pSampler;
    ComPtr<ID3D11Texture2D> pTarget;
    ComPtr<ID3D11RenderTargetView> pTargetView;
    ComPtr<ID3D11Buffer> pQuad;
    ComPtr<ID3D11VertexShader> pVertexShader;
    ComPtr<ID3D11InputLayout> pLayout;
    ComPtr<ID3D11PixelShader> pPixelShader;
};

bool CreateTextures(ID3D11Device* pDevice, TOneToOneDraw* pDraw)
{
    const D3D11_TEXTURE2D_DESC sourceDesc = TextureDesc(D3D11_USAGE_DEFAULT, D3D11_BIND_SHADER_RESOURCE, 0);
    const D3D11_SUBRESOURCE_DATA texels{kTexels.data(), 2 * sizeof(uint32_t), 0};
    ComPtr<ID3D11Texture2D> pSource;
    const D3D11_TEXTURE2D_DESC targetDesc = TextureDesc(D3D11_USAGE_DEFAULT, D3D11_BIND_RENDER_TARGET, 0);
    const D3D11_SAMPLER_DESC samplerDesc = FrameSamplerDesc();
    return pDevice->CreateTexture2D(&sourceDesc, &texels, &pSource) == S_OK &&
           pDevice->CreateShaderResourceView(pSource.Get(), nullptr, &pDraw->pSourceView) == S_OK &&
           pDevice->CreateSamplerState(&samplerDesc, &pDraw->pSampler) == S_OK &&
           pDevice->CreateTexture2D(&targetDesc, nullptr, &pDraw->pTarget) == S_OK &&
           pDevice->CreateRenderTargetView(pDraw->pTarget.Get(), nullptr, &pDraw->pTargetView) == S_OK;
}

bool CreatePipeline(ID3D11Device* pDevice, const std::vector<uint8_t>& vertexShader,
                    const std::vector<uint8_t>& pixelShader, TOneToOneDraw* pDraw)
{
    const D3D11_BUFFER_DESC quadDesc{sizeof(kQuad), D3D11_USAGE_DEFAULT, D3D11_BIND_VERTEX_BUFFER, 0, 0, 0};
    const D3D11_SUBRESOURCE_DATA quad{kQuad, 0, 0};
    return pDevice->CreateBuffer(&quadDesc, &quad, &pDraw->pQuad) == S_OK &&
           pDevice->CreateVertexShader(vertexShader.data(), vertexShader.size(), nullptr, &pDraw->pVertexShader) ==
               S_OK &&
           pDevice->CreateInputLayout(kQuadLayout, 2, vertexShader.data(), vertexShader.size(), &pDraw->pLayout) ==
               S_OK &&
           pDevice->CreatePixelShader(pixelShader.data(), pixelShader.size(), nullptr, &pDraw->pPixelShader) == S_OK;
}

void Draw(ID3D11DeviceContext* pContext, const TOneToOneDraw& draw)
{
    const UINT stride = sizeof(kQuad[0]);
    const UINT offset = 0;
    const D3D11_VIEWPORT viewport{0, 0, 2, 2, 0, 1};
    pContext->OMSetRenderTargets(1, draw.pTargetView.GetAddressOf(), nullptr);
    pContext->IASetInputLayout(draw.pLayout.Get());
    pContext->IASetVertexBuffers(0, 1, draw.pQuad.GetAddressOf(), &stride, &offset);
    pContext->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST);
    pContext->VSSetShader(draw.pVertexShader.Get(), nullptr, 0);
    pContext->PSSetSamplers(0, 1, draw.pSampler.GetAddressOf());
    pContext->PSSetShaderResources(0, 1, draw.pSourceView.GetAddressOf());
    pContext->PSSetShader(draw.pPixelShader.Get(), nullptr, 0);
    pContext->RSSetViewports(1, &viewport);
    pContext->Draw(6, 0);
}

// The render target's four pixels through a staging copy; false when it cannot be read.
bool ReadBack(const TDevice& device, ID3D11Texture2D* pTarget, std::array<uint32_t, 4>* pPixels)
{
    const D3D11_TEXTURE2D_DESC desc = TextureDesc(D3D11_USAGE_STAGING, 0, D3D11_CPU_ACCESS_READ);
    ComPtr<ID3D11Texture2D> pStaging;
    D3D11_MAPPED_SUBRESOURCE mapped{};
    if (device.pDevice->CreateTexture2D(&desc, nullptr, &pStaging) != S_OK) {
        return false;
    }
    device.pContext->CopyResource(pStaging.Get(), pTarget);
    if (device.pContext->Map(pStaging.Get(), 0, D3D11_MAP_READ, 0, &mapped) != S_OK) {
        return false;
    }
    for (size_t row = 0; row < 2; ++row) {
        std::memcpy(pPixels->data() + 2 * row, static_cast<const uint8_t*>(mapped.pData) + row * mapped.RowPitch,
                    2 * sizeof(uint32_t));
    }
    device.pContext->Unmap(pStaging.Get(), 0);
    return true;
}

// Texel centres fall on pixel centres, so even the linear sampler returns each texel exactly: the
// image must come out with every byte as the shader computes it.
TEST(ShaderResources, PixelShadersDrawATextureOneToOneWithEveryChannel)
{
    const TModule capturer = LoadCapturerAsData();
    ASSERT_TRUE(capturer);
    HRESULT hr = E_FAIL;
    const TDevice device = CreateDevice(D3D_FEATURE_LEVEL_11_0, &hr);
    ASSERT_EQ(hr, S_OK);
    struct TDrawCase {
        const char* name;
        int pixelShaderId;
        bool exchangesRedAndBlue;
    };
    const TDrawCase cases[] = {{"Texture11BGR passes all four channels", IDR_SHADER_Texture11BGR, false},
                               {"Texture11RGB exchanges red and blue", IDR_SHADER_Texture11RGB, true}};
    for (const TDrawCase& drawCase : cases) {
        SCOPED_TRACE(drawCase.name);
        TOneToOneDraw draw;
        ASSERT_TRUE(CreateTextures(device.pDevice.Get(), &draw));
        ASSERT_TRUE(CreatePipeline(device.pDevice.Get(), ShaderResource(capturer.Get(), IDR_SHADER_Vertex11),
                                   ShaderResource(capturer.Get(), drawCase.pixelShaderId), &draw));
        Draw(device.pContext.Get(), draw);
        std::array<uint32_t, 4> pixels{};
        ASSERT_TRUE(ReadBack(device, draw.pTarget.Get(), &pixels));
        std::array<uint32_t, 4> expected = kTexels;
        if (drawCase.exchangesRedAndBlue) {
            std::transform(expected.begin(), expected.end(), expected.begin(), ExchangeRedAndBlue);
        }
        EXPECT_EQ(Hex(pixels), Hex(expected)) << "AARRGGBB: top-left, top-right, bottom-left, bottom-right";
    }
}

}  // namespace
