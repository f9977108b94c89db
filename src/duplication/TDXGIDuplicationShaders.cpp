// The compiled shaders the engine loads from its module's "SHADER" resources, the input layout
// every quad uses, and the overlay lookup.
#include "duplication/TDXGIDuplication.h"

#include "log/Log.h"

namespace {

// Integer resource IDs use the low 16 bits.
const wchar_t* ResourceName(int32_t id)
{
    return MAKEINTRESOURCEW(static_cast<WORD>(id & 0xFFFF));
}

}  // namespace

const void* TDXGIDuplication::LoadResource(int32_t id, uint32_t* pSize)
{
    constexpr const char kName[] = "TDXGIDuplication::LoadResource";
    LogInfo("%s resource %d", kName, static_cast<int>(id));
    if (pSize != nullptr) {
        *pSize = 0;
    }
    const void* pBytes = nullptr;
    // Each failure keeps its own last error: the log call preserves it, and nothing runs between.
    const HRSRC hResource = ::FindResourceW(hInstance, ResourceName(id), L"SHADER");
    const DWORD dwSize = hResource != nullptr ? ::SizeofResource(hInstance, hResource) : 0;
    const HGLOBAL hLoaded = dwSize != 0 ? ::LoadResource(hInstance, hResource) : nullptr;
    if (hResource == nullptr) {
        LogError("%s Unable to find shader resource. error %d", kName, static_cast<int>(::GetLastError()));
    } else if (dwSize == 0) {
        LogError("%s Unable to get shader resource size. error %d", kName, static_cast<int>(::GetLastError()));
    } else if (hLoaded == nullptr) {
        LogError("%s Unable to load shader resource. error %d", kName, static_cast<int>(::GetLastError()));
    } else if ((pBytes = ::LockResource(hLoaded)) == nullptr) {
        LogError("%s Unable to lock shader resource. error %d", kName, static_cast<int>(::GetLastError()));
    } else if (pSize != nullptr) {
        *pSize = dwSize;
    }
    // Resource bytes belong to the module and stay valid as long as it is loaded: nothing to free.
    LogInfo("%s exit with %p", kName, pBytes);
    return pBytes;
}

bool TDXGIDuplication::CreatePixelShader(int32_t id, ID3D11Device* pDeviceArg, ID3D11PixelShader** ppShader)
{
    constexpr const char kName[] = "TDXGIDuplication::CreatePixelShader";
    LogInfo("%s shader %d", kName, static_cast<int>(id));
    bool bResult = false;
    uint32_t ui32Size = 0;
    if (const void* pBytes = LoadResource(id, &ui32Size)) {
        const HRESULT hr = pDeviceArg->CreatePixelShader(pBytes, ui32Size, nullptr, ppShader);
        bResult = hr == S_OK;
        if (bResult) {
            LogInfo("%s pixel shader has been created.", kName);
        } else {
            // A normal line: the caller logs the error line of its own step.
            LogInfo("%s Unable to create D3D11 pixel shader %d.", kName, static_cast<int>(hr));
        }
    }
    LogInfo("%s exit with %d", kName, bResult ? 1 : 0);
    return bResult;
}

bool TDXGIDuplication::CreateVertexShader(int32_t id, ID3D11Device* pDeviceArg, ID3D11VertexShader** ppShader,
                                          const void** ppBytecode, uint32_t* pBytecodeSize)
{
    constexpr const char kName[] = "TDXGIDuplication::CreateVertexShader";
    LogInfo("%s shader %d", kName, static_cast<int>(id));
    *ppBytecode = nullptr;
    *pBytecodeSize = 0;
    bool bResult = false;
    uint32_t ui32Size = 0;
    if (const void* pBytes = LoadResource(id, &ui32Size)) {
        const HRESULT hr = pDeviceArg->CreateVertexShader(pBytes, ui32Size, nullptr, ppShader);
        bResult = hr == S_OK;
        if (bResult) {
            LogInfo("%s vertex shader has been created.", kName);
            *ppBytecode = pBytes;
            *pBytecodeSize = ui32Size;
        } else {
            LogInfo("%s Unable to create D3D11 vertex shader %d.", kName, static_cast<int>(hr));
        }
    }
    LogInfo("%s exit with %d", kName, bResult ? 1 : 0);
    return bResult;
}

HRESULT TDXGIDuplication::CreateQuadInputLayout(ID3D11Device* pDeviceArg, const void* pBytecode, uint32_t ui32Size,
                                                ID3D11InputLayout** ppLayout)
{
    // 12 + 8 bytes: the 20-byte vertex of dupgeo::kFullSurfaceQuad.
    const D3D11_INPUT_ELEMENT_DESC elements[] = {
        {"POSITION", 0, DXGI_FORMAT_R32G32B32_FLOAT, 0, 0, D3D11_INPUT_PER_VERTEX_DATA, 0},
        {"TEXCOORD", 0, DXGI_FORMAT_R32G32_FLOAT, 0, D3D11_APPEND_ALIGNED_ELEMENT, D3D11_INPUT_PER_VERTEX_DATA, 0},
    };
    return pDeviceArg->CreateInputLayout(elements, static_cast<UINT>(std::size(elements)), pBytecode, ui32Size,
                                         ppLayout);
}

bool TDXGIDuplication::DoesOverlayExist(uint32_t surfaceId, uint32_t overlayId)
{
    constexpr const char kName[] = "TDXGIDuplication::DoesOverlayExist";
    LogVerbose("%s %d %d", kName, static_cast<int>(surfaceId), static_cast<int>(overlayId));
    const auto it = mapTempSurfaces.find(surfaceId);
    const bool bResult = it != mapTempSurfaces.end() && it->second.mapOverlays.count(overlayId) != 0;
    LogVerbose("%s exit with %d", kName, bResult ? 1 : 0);
    return bResult;
}
