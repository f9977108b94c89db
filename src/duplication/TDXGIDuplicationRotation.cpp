// The rotation pass of a rotated output: the platform's shader compiler is looked for once, two
// small shaders are compiled from the text below, and every frame that changed anything draws the
// native-oriented image through the quad of the output's rotation into a desktop-oriented render
// target, which is then copied into the staging image the owner reads.
//
// Only engines of rotated outputs run anything here. Per frame: one draw and one full copy, no
// allocation, two trace lines.
#include "duplication/TDXGIDuplication.h"

#include "duplication/D3D11Helpers.h"

#include "duplication/DuplicationGeometry.h"
#include "duplication/DuplicationSeams.h"
#include "log/Log.h"

#include <cstring>
#include <cwchar>
#include <string>

namespace {

using d3dhelp::Hex;

constexpr const char kFindName[] = "TDXGIDuplication::FindD3DCompiler";
constexpr const char kInitName[] = "TDXGIDuplication::InitRotation";
constexpr const char kRotateName[] = "TDXGIDuplication::RotateDesktopImage";

// Searched from the newest library down; the first with a D3DCompile entry is kept.
constexpr int kNewestCompiler = 47;
constexpr int kOldestCompiler = 33;

// Position and texture coordinate passed through.
constexpr char kRotationVertexShader[] =
    "struct VertexInputType{\tfloat4 position : POSITION;\tfloat2 tex : TEXCOORD0;};"
    "struct PixelInputType{\tfloat4 position : SV_POSITION;\tfloat2 tex : TEXCOORD0;};"
    "PixelInputType main(VertexInputType input){\tPixelInputType output;\toutput.position = input.position;"
    "\toutput.tex = input.tex;\treturn output;}";
// The sampled colour unchanged.
constexpr char kRotationPixelShader[] =
    "Texture2D shaderTexture;SamplerState SampleType;"
    "struct PixelInputType{\tfloat4 position : SV_POSITION;\tfloat2 tex : TEXCOORD0;};"
    "float4 main(PixelInputType input) : SV_TARGET{\tfloat4 textureColor;"
    "\ttextureColor = shaderTexture.Sample(SampleType, input.tex);\treturn textureColor;}";
static_assert(sizeof(kRotationVertexShader) - 1 == 296);
static_assert(sizeof(kRotationPixelShader) - 1 == 276);

// A blob the compiler handed out, released when the holder goes.
using TBlob = TComPtr<ID3DBlob>;

HRESULT CreateQuad(ID3D11Device* pDevice, const float* pVertices, ID3D11Buffer** ppBuffer)
{
    D3D11_BUFFER_DESC desc = {};
    desc.ByteWidth = dupgeo::kQuadBytes;
    desc.Usage = D3D11_USAGE_DEFAULT;
    desc.BindFlags = D3D11_BIND_VERTEX_BUFFER;
    D3D11_SUBRESOURCE_DATA data = {};
    data.pSysMem = pVertices;
    return pDevice->CreateBuffer(&desc, &data, ppBuffer);
}

}  // namespace

bool TDXGIDuplication::FindD3DCompiler()
{
    int iResult = 0;
    TScopedLog scope(kFindName, &iResult);
    for (int n = kNewestCompiler; n >= kOldestCompiler; --n) {
        wchar_t wszName[32];
        std::swprintf(wszName, std::size(wszName), L"d3dcompiler_%d.dll", n);
        hD3DCompilerModule.reset(CallLoadCompilerLibrary(wszName));
        if (!hD3DCompilerModule) {
            continue;
        }
        pfnD3DCompile = reinterpret_cast<pD3DCompile>(
            reinterpret_cast<void*>(::GetProcAddress(hD3DCompilerModule.get(), "D3DCompile")));
        if (pfnD3DCompile != nullptr) {
            iResult = 1;
            return true;
        }
        hD3DCompilerModule.reset();  // a library of that name without the entry: look further
    }
    return false;
}

bool TDXGIDuplication::InitRotation()
{
    int iResult = 0;
    TScopedLog scope(kInitName, &iResult);
    if (pfnD3DCompile == nullptr) {
        LogError("%s D3DCompile is null", kInitName);
        return false;
    }
    if (!CompileRotationShader(kRotationVertexShader, sizeof(kRotationVertexShader) - 1, "vs_5_0", "vertex",
                               vecRotationVertexShaderBytecode)) {
        return false;
    }
    HRESULT hr = pDevice->CreateVertexShader(vecRotationVertexShaderBytecode.data(),
                                             vecRotationVertexShaderBytecode.size(), nullptr,
                                             pRotationVertexShader.ReleaseAndGetAddressOf());
    if (hr != S_OK) {
        LogError("%s %s CreateVertexShader error %x.", kInitName, kInitName, Hex(hr));
        return false;
    }
    if (!CompileRotationShader(kRotationPixelShader, sizeof(kRotationPixelShader) - 1, "ps_5_0", "pixel",
                               vecRotationPixelShaderBytecode)) {
        return false;
    }
    hr = pDevice->CreatePixelShader(vecRotationPixelShaderBytecode.data(), vecRotationPixelShaderBytecode.size(),
                                    nullptr, pRotationPixelShader.ReleaseAndGetAddressOf());
    if (hr != S_OK) {
        LogError("%s %s CreatePixelShader error %x.", kInitName, kInitName, Hex(hr));
        return false;
    }
    hr = CreateQuadInputLayout(pDevice.Get(), vecRotationVertexShaderBytecode.data(),
                               static_cast<uint32_t>(vecRotationVertexShaderBytecode.size()),
                               pRotationInputLayout.ReleaseAndGetAddressOf());
    if (hr != S_OK) {
        LogError("%s CreateInputLayout %x", kInitName, Hex(hr));
        return false;
    }
    if (!CreateRotationQuads()) {
        return false;
    }
    const D3D11_SAMPLER_DESC sampler = d3dhelp::LinearWrapSampler();
    hr = pDevice->CreateSamplerState(&sampler, pRotationSampler.ReleaseAndGetAddressOf());
    if (hr != S_OK) {
        LogError("%s Unable to create a sampler state %x", kInitName, Hex(hr));
        return false;
    }
    hr = pDevice->CreateShaderResourceView(pBeforeRotateStagingDesktopImage.Get(), nullptr,
                                           pRotationShaderResourceView.ReleaseAndGetAddressOf());
    if (hr != S_OK) {
        LogError("%s Unable to create a shader resource view from the resolve buffer %x", kInitName, Hex(hr));
        return false;
    }
    iResult = 1;
    return true;
}

bool TDXGIDuplication::CompileRotationShader(const char* pszSource, size_t nLength, const char* pszTarget,
                                             const char* pszWhat, std::vector<uint8_t>& bytecode)
{
    TBlob pCode;
    TBlob pErrors;
    const HRESULT hr = pfnD3DCompile(pszSource, nLength, nullptr, nullptr, nullptr, "main", pszTarget,
                                     D3DCOMPILE_OPTIMIZATION_LEVEL3, 0, pCode.GetAddressOf(), pErrors.GetAddressOf());
    if (FAILED(hr) || !pCode) {
        LogError("%s D3DCompile simple %s shader error %x", kInitName, pszWhat, Hex(hr));
        if (pErrors) {
            // The compiler's text need not end in a zero.
            std::string strText(static_cast<const char*>(pErrors->GetBufferPointer()), pErrors->GetBufferSize());
            strText = strText.c_str();
            LogError("%s D3DCompile simple %s shader error text '%s'", kInitName, pszWhat, strText.c_str());
        }
        return false;
    }
    const auto* pBytes = static_cast<const uint8_t*>(pCode->GetBufferPointer());
    bytecode.assign(pBytes, pBytes + pCode->GetBufferSize());
    return true;
}

bool TDXGIDuplication::CreateRotationQuads()
{
    struct TQuad {
        int iDegrees;
        const float* pVertices;
        TComPtr<ID3D11Buffer>& pBuffer;
    };
    const TQuad quads[] = {
        {0, dupgeo::kFullSurfaceQuad.data(), pQuadVertexBuffer0},
        {90, dupgeo::kRotationQuad90.data(), pQuadVertexBuffer90},
        {180, dupgeo::kRotationQuad180.data(), pQuadVertexBuffer180},
        {270, dupgeo::kRotationQuad270.data(), pQuadVertexBuffer270},
    };
    for (const TQuad& quad : quads) {
        const HRESULT hr = CreateQuad(pDevice.Get(), quad.pVertices, quad.pBuffer.ReleaseAndGetAddressOf());
        if (hr != S_OK) {
            LogError("%s Unable to create a quad vertex buffer %d %x", kInitName, quad.iDegrees, Hex(hr));
            return false;
        }
    }
    return true;
}

ID3D11Buffer* TDXGIDuplication::GetRotationVertexBuffer()
{
    switch (static_cast<uint32_t>(eRotation)) {
    case dupgeo::kRotation90:
        return pQuadVertexBuffer90.Get();
    case dupgeo::kRotation180:
        return pQuadVertexBuffer180.Get();
    case dupgeo::kRotation270:
        return pQuadVertexBuffer270.Get();
    default:
        LogError("%s Invalid rotation mode", "TDXGIDuplication::GetRotationVertexBuffer");
        return pQuadVertexBuffer0.Get();
    }
}

void TDXGIDuplication::RotateDesktopImage()
{
    LogVerbose("%s", kRotateName);
    if (!pRotationVertexShader) {
        LogError("%s pRotationVertexShader is null", kRotateName);
        return;
    }
    if (!pRotationPixelShader) {
        LogError("%s pRotationPixelShader is null", kRotateName);
        return;
    }
    if (!pRotationInputLayout) {
        LogError("%s pRotationInputLayout is null", kRotateName);
        return;
    }
    constexpr float kClear[4] = {0.0f, 1.0f, 0.0f, 0.0f};
    pContext->ClearRenderTargetView(pRotatedDesktopImageRTV.Get(), kClear);
    ID3D11RenderTargetView* const pTarget = pRotatedDesktopImageRTV.Get();
    pContext->OMSetRenderTargets(1, &pTarget, nullptr);
    pContext->OMSetBlendState(nullptr, nullptr, 0xFFFFFFFFu);
    pContext->IASetInputLayout(pRotationInputLayout.Get());
    ID3D11Buffer* const pQuad = GetRotationVertexBuffer();
    const UINT uiStride = dupgeo::kVertexStride;
    const UINT uiOffset = 0;
    pContext->IASetVertexBuffers(0, 1, &pQuad, &uiStride, &uiOffset);
    pContext->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST);
    pContext->VSSetShader(pRotationVertexShader.Get(), nullptr, 0);
    ID3D11SamplerState* const pSampler = pRotationSampler.Get();
    pContext->PSSetSamplers(0, 1, &pSampler);
    ID3D11ShaderResourceView* const pView = pRotationShaderResourceView.Get();
    pContext->PSSetShaderResources(0, 1, &pView);
    pContext->PSSetShader(pRotationPixelShader.Get(), nullptr, 0);
    D3D11_VIEWPORT viewport = {};
    viewport.Width = static_cast<float>(descDesktopImage.Width);
    viewport.Height = static_cast<float>(descDesktopImage.Height);
    viewport.MaxDepth = 1.0f;
    pContext->RSSetViewports(1, &viewport);
    pContext->Draw(dupgeo::kQuadVertexCount, 0);
    // The image must not stay bound as a shader input while the next frame copies into it.
    ID3D11ShaderResourceView* const pNoView = nullptr;
    pContext->PSSetShaderResources(0, 1, &pNoView);
    pContext->CopyResource(pStagingDesktopImage.Get(), pRotatedDesktopImage.Get());
    LogVerbose("%s exit", kRotateName);
}
