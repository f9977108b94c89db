// Construction and destruction of the engine, the enumeration of adapters and outputs, and the
// probe TryToCreate. Frames are in TDXGIDuplicationFrames.cpp, surface sets in
// TDXGIDuplicationSurfaces.cpp, shader loading in TDXGIDuplicationShaders.cpp, the rotation pass in
// TDXGIDuplicationRotation.cpp, the copy into a host's texture in TDXGIDuplicationSharedTexture.cpp.
#include "duplication/TDXGIDuplication.h"

#include "duplication/D3D11Helpers.h"

#include "duplication/DuplicationSeams.h"
#include "duplication/DuplicationGeometry.h"
#include "log/Log.h"

#include <cstdint>

namespace {

using d3dhelp::Hex;

constexpr const char kConstructorName[] = "TDXGIDuplication::TDXGIDuplication";
constexpr const char kEnumerateName[] = "TDXGIDuplication::EnumerateDisplayAdapters";

// In this order: the first level the adapter supports is taken.
constexpr D3D_FEATURE_LEVEL kFeatureLevels[] = {D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_10_1,
                                                D3D_FEATURE_LEVEL_10_0, D3D_FEATURE_LEVEL_9_1};
static_assert(D3D11_SDK_VERSION == 7);

// Creation flags 0: no debug layer and no BGRA-support flag. Shared by the engine and the probe,
// which must create the device with exactly the same arguments.
HRESULT CreateDeviceOn(IDXGIAdapter1* pAdapter, TComPtr<ID3D11Device>& pDevice, D3D_FEATURE_LEVEL* pLevel,
                       TComPtr<ID3D11DeviceContext>& pContext)
{
    return ::D3D11CreateDevice(pAdapter, D3D_DRIVER_TYPE_UNKNOWN, nullptr, 0, kFeatureLevels,
                               static_cast<UINT>(std::size(kFeatureLevels)), D3D11_SDK_VERSION,
                               pDevice.ReleaseAndGetAddressOf(), pLevel, pContext.ReleaseAndGetAddressOf());
}

THooksRect ToHooksRect(const RECT& rect)
{
    return THooksRect{rect.left, rect.top, rect.right, rect.bottom};
}

// The outputs of `pAdapter` that support IDXGIOutput1, in index order. `wsAdapter` only names the
// adapter in the log.
std::vector<TDisplayOutputInfo> EnumerateOutputs(IDXGIAdapter1* pAdapter, const std::wstring& wsAdapter)
{
    std::vector<TDisplayOutputInfo> vecOutputs;
    TComPtr<IDXGIOutput> pOutput;
    // Any answer but S_OK ends the walk: DXGI_ERROR_NOT_FOUND is the normal end, and another
    // failure leaves no output to look at.
    for (UINT uiIndex = 0; pAdapter->EnumOutputs(uiIndex, pOutput.ReleaseAndGetAddressOf()) == S_OK; ++uiIndex) {
        DXGI_OUTPUT_DESC desc = {};
        TDisplayOutputInfo info;
        if (CallGetOutputDesc(pOutput.Get(), &desc) == S_OK) {
            info.wsDeviceName = desc.DeviceName;
        } else {
            desc = {};  // monitor, rectangle and rotation stay zero
        }
        if (pOutput.As(&info.pOutput) != S_OK) {
            continue;  // no IDXGIOutput1: not an output this engine can duplicate
        }
        LogInfoW(L"%S output '%s' monitor %x", kEnumerateName, wsAdapter.c_str(),
                 static_cast<unsigned>(reinterpret_cast<uintptr_t>(desc.Monitor)));
        info.hMonitor = desc.Monitor;
        info.rcDesktopCoordinates = desc.DesktopCoordinates;
        info.eRotation = desc.Rotation;
        vecOutputs.push_back(std::move(info));
    }
    return vecOutputs;
}

}  // namespace

TDXGIDuplication::TDXGIDuplication(TComPtr<IDXGIAdapter1> pAdapterArg, TComPtr<IDXGIOutput1> pOutputArg,
                                   HINSTANCE hInstanceArg, int32_t iVertexShaderResourceIdArg,
                                   int32_t iPixelShaderResourceIdArg)
    : pOutput(pOutputArg),
      pAdapter(pAdapterArg),
      hInstance(hInstanceArg),
      iVertexShaderResourceId(iVertexShaderResourceIdArg),
      iPixelShaderResourceId(iPixelShaderResourceIdArg)
{
    LogInfo("%s", kConstructorName);
    // Each step ends construction when it fails; what it made so far is released by the destructor.
    bool bReady = DescribeOutput() && CreateDevice() && CreateDesktopTextures();
    if (bReady && dupgeo::IsRotated(static_cast<uint32_t>(eRotation))) {
        PrepareRotation();  // its failures only log: frames still arrive, unrotated images do not
    }
    bInitialized = bReady && StartDuplication() && CreateFrameShaders();
    LogInfo("%s exit", kConstructorName);
}

TDXGIDuplication::~TDXGIDuplication()
{
    LogInfo("%s", "TDXGIDuplication::~TDXGIDuplication");
    hD3DCompilerModule.reset();
    LogInfo("%s exit", "TDXGIDuplication::~TDXGIDuplication");
    // The members go in reverse declaration order: the shaders, the duplication, the textures,
    // the device, and mapTempSurfaces (every surface set and its overlays) almost last.
}

bool TDXGIDuplication::DescribeOutput()
{
    DXGI_OUTPUT_DESC desc = {};
    const HRESULT hr = CallGetOutputDesc(pOutput.Get(), &desc);
    if (hr != S_OK) {
        LogError("%s  Output GetDesc error %x", kConstructorName, Hex(hr));
        return false;
    }
    eRotation = desc.Rotation;
    rcDesktopCoordinates = desc.DesktopCoordinates;
    return true;
}

bool TDXGIDuplication::CreateDevice()
{
    const HRESULT hr = CreateDeviceOn(pAdapter.Get(), pDevice, &d3dFeatureLevel, pContext);
    if (hr != S_OK) {
        LogError("%s D3D11CreateDevice error %x", kConstructorName, Hex(hr));
        return false;
    }
    return true;
}

// A rotated output also gets the native-oriented image that frames update and the render target
// the rotation pass draws into; pMoveSurf has the native size, because moves happen in the image
// that frames update.
bool TDXGIDuplication::CreateDesktopTextures()
{
    const THooksRect desktopRect = ToHooksRect(rcDesktopCoordinates);
    const dupgeo::TImageSize desktop = dupgeo::DesktopSize(desktopRect);
    const dupgeo::TImageSize native = dupgeo::NativeSize(static_cast<uint32_t>(eRotation), desktopRect);
    if (dupgeo::IsRotated(static_cast<uint32_t>(eRotation)) &&
        !CreateRotationTextures(native, desktop)) {
        return false;
    }
    descDesktopImage = d3dhelp::BgraTextureDesc(desktop.ui32Width, desktop.ui32Height, D3D11_USAGE_STAGING, 0,
                                                D3D11_CPU_ACCESS_READ);
    HRESULT hr = pDevice->CreateTexture2D(&descDesktopImage, nullptr, pStagingDesktopImage.ReleaseAndGetAddressOf());
    if (hr != S_OK) {
        LogError("%s CreateTexture2D pStagingDesktopImage error %x", kConstructorName, Hex(hr));
        return false;
    }
    descMoveSurf = descDesktopImage;
    descMoveSurf.Width = native.ui32Width;
    descMoveSurf.Height = native.ui32Height;
    descMoveSurf.Usage = D3D11_USAGE_DEFAULT;
    descMoveSurf.BindFlags = D3D11_BIND_RENDER_TARGET;
    descMoveSurf.CPUAccessFlags = 0;
    descMoveSurf.MiscFlags = 0;
    hr = pDevice->CreateTexture2D(&descMoveSurf, nullptr, pMoveSurf.ReleaseAndGetAddressOf());
    if (hr != S_OK) {
        LogError("%s CreateTexture2D pMoveSurf error %x", kConstructorName, Hex(hr));
        return false;
    }
    return true;
}

bool TDXGIDuplication::CreateRotationTextures(const dupgeo::TImageSize& native, const dupgeo::TImageSize& desktop)
{
    D3D11_TEXTURE2D_DESC desc =
        d3dhelp::BgraTextureDesc(native.ui32Width, native.ui32Height, D3D11_USAGE_DEFAULT, D3D11_BIND_SHADER_RESOURCE, 0);
    HRESULT hr = pDevice->CreateTexture2D(&desc, nullptr, pBeforeRotateStagingDesktopImage.ReleaseAndGetAddressOf());
    if (hr != S_OK) {
        LogError("%s CreateTexture2D pBeforeRotateStagingDesktopImage error %x", kConstructorName, Hex(hr));
        return false;
    }
    desc.Width = desktop.ui32Width;
    desc.Height = desktop.ui32Height;
    desc.BindFlags = D3D11_BIND_RENDER_TARGET;
    hr = pDevice->CreateTexture2D(&desc, nullptr, pRotatedDesktopImage.ReleaseAndGetAddressOf());
    if (hr != S_OK) {
        LogError("%s CreateTexture2D pBeforeRotateStagingDesktopImage error %x", kConstructorName, Hex(hr));
        return false;
    }
    D3D11_RENDER_TARGET_VIEW_DESC view = {};
    view.Format = DXGI_FORMAT_UNKNOWN;
    view.ViewDimension = D3D11_RTV_DIMENSION_TEXTURE2D;
    view.Texture2D.MipSlice = 0;
    hr = pDevice->CreateRenderTargetView(pRotatedDesktopImage.Get(), &view,
                                         pRotatedDesktopImageRTV.ReleaseAndGetAddressOf());
    if (hr != S_OK) {
        LogError("%s CreateRenderTargetView error %x", kConstructorName, Hex(hr));
        return false;
    }
    return true;
}

void TDXGIDuplication::PrepareRotation()
{
    if (!FindD3DCompiler()) {
        LogError("%s Unable to find the d3d compiler dll", kConstructorName);
        return;
    }
    LogInfo("%s Found D3DCompile", kConstructorName);
    if (!InitRotation()) {
        LogError("%s InitRotation error", kConstructorName);
    }
}

bool TDXGIDuplication::StartDuplication()
{
    const HRESULT hr = CallDuplicateOutput(pOutput.Get(), pDevice.Get(), pOutputDuplication.ReleaseAndGetAddressOf());
    if (hr != S_OK) {
        LogError("%s DuplicateOutput error %x", kConstructorName, Hex(hr));
        return false;
    }
    return true;
}

bool TDXGIDuplication::CreateFrameShaders()
{
    if (hInstance == nullptr) {
        LogInfo("%s do not load shaders because hInstance is null", kConstructorName);
        return true;
    }
    if (!CreatePixelShader(iPixelShaderResourceId, pDevice.Get(), pPixelShader.ReleaseAndGetAddressOf())) {
        LogError("%s CreatePixelShader IDR_SHADER_Texture11BGR error", kConstructorName);
        return false;
    }
    LogInfo("%s Pixel shader simple texture bgr has been created.", kConstructorName);
    if (!CreateVertexShader(iVertexShaderResourceId, pDevice.Get(), pVertexShader.ReleaseAndGetAddressOf(),
                            &pVertexShaderBytecode, &ui32VertexShaderBytecodeSize)) {
        LogError("%s CreateVertexShader %d error", kConstructorName, static_cast<int>(iVertexShaderResourceId));
        return false;
    }
    LogInfo("%s vertex shader %d has been created", kConstructorName, static_cast<int>(iVertexShaderResourceId));
    const HRESULT hr = CreateQuadInputLayout(pDevice.Get(), pVertexShaderBytecode, ui32VertexShaderBytecodeSize,
                                             pInputLayout.ReleaseAndGetAddressOf());
    if (hr != S_OK) {
        LogError("%s Unable to create an input layout for the texture %d.", kConstructorName, static_cast<int>(hr));
        return false;
    }
    LogInfo("%s An input layout for the texture has been created.", kConstructorName);
    return true;
}

std::vector<TDisplayAdapterInfo> TDXGIDuplication::EnumerateDisplayAdapters()
{
    LogInfo("%s", kEnumerateName);
    std::vector<TDisplayAdapterInfo> vecAdapters;
    TComPtr<IDXGIFactory1> pFactory;
    const HRESULT hr = ::CreateDXGIFactory1(IID_PPV_ARGS(pFactory.ReleaseAndGetAddressOf()));
    if (hr != S_OK) {
        LogError("%s CreateDXGIFactory error %x", kEnumerateName, Hex(hr));
        return vecAdapters;
    }
    TComPtr<IDXGIAdapter1> pAdapter;
    // As with outputs, any answer but S_OK (normally DXGI_ERROR_NOT_FOUND) ends the walk.
    for (UINT uiIndex = 0; pFactory->EnumAdapters1(uiIndex, pAdapter.ReleaseAndGetAddressOf()) == S_OK; ++uiIndex) {
        TDisplayAdapterInfo info;
        DXGI_ADAPTER_DESC desc = {};
        if (pAdapter->GetDesc(&desc) == S_OK) {
            info.wsDescription = desc.Description;
            LogInfoW(L"%S adapter '%s'", kEnumerateName, info.wsDescription.c_str());
        }
        info.pAdapter = pAdapter;
        info.vecOutputs = EnumerateOutputs(pAdapter.Get(), info.wsDescription);
        LogInfo("%s no more outputs", kEnumerateName);
        if (!info.vecOutputs.empty()) {
            vecAdapters.push_back(std::move(info));
        }
    }
    LogInfo("%s no more adapters", kEnumerateName);
    LogInfo("%s exit with %d", kEnumerateName, static_cast<int>(vecAdapters.size()));
    return vecAdapters;
}

bool TDXGIDuplication::TryToCreate()
{
    constexpr const char kName[] = "TDXGIDuplication::TryToCreate";
    int iResult = 0;
    // Declared first, so its exit line comes after every object below is released.
    TScopedLog scope(kName, &iResult);
    const std::vector<TDisplayAdapterInfo> vecDisplayAdapters = EnumerateDisplayAdapters();
    if (vecDisplayAdapters.empty()) {
        LogError("%s vecDisplayAdapters size 0", kName);
        return false;
    }
    const TDisplayAdapterInfo& adapter = vecDisplayAdapters.front();
    if (adapter.vecOutputs.empty()) {
        LogError("%s vecOutputs size 0", kName);
        return false;
    }
    TComPtr<ID3D11Device> pDevice;
    TComPtr<ID3D11DeviceContext> pContext;
    D3D_FEATURE_LEVEL level = D3D_FEATURE_LEVEL_11_0;
    HRESULT hr = CreateDeviceOn(adapter.pAdapter.Get(), pDevice, &level, pContext);
    if (hr != S_OK) {
        LogError("%s D3D11CreateDevice error %x", kName, Hex(hr));
        return false;
    }
    TComPtr<IDXGIOutputDuplication> pDuplication;
    hr = CallDuplicateOutput(adapter.vecOutputs.front().pOutput.Get(), pDevice.Get(),
                             pDuplication.ReleaseAndGetAddressOf());
    if (hr != S_OK) {
        LogError("%s DuplicateOutput error %x", kName, Hex(hr));
        return false;
    }
    iResult = 1;
    return true;
}
