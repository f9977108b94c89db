// Delivery into a host's GPU texture: the host's shared handle opened on the engine's device, and
// the finished frame copied into it on the GPU instead of being mapped for the CPU.
//
// The engine takes no keyed mutex and issues no flush: the copy is queued on the immediate context
// with the frame's other commands. Neither the destination's size nor its format is checked (the
// formats only go to the trace).
#include "duplication/TDXGIDuplication.h"

#include "duplication/D3D11Helpers.h"

#include "log/Log.h"

namespace {

using d3dhelp::Hex;

constexpr const char kOpenName[] = "TDXGIDuplication::OpenSharedHandle";
constexpr const char kCopyName[] = "TDXGIDuplication::CopySubresource";

}  // namespace

void TDXGIDuplication::OpenSharedHandle(HANDLE hShared, ID3D11Texture2D** ppTexture)
{
    LogVerbose("%s input shared handle %p", kOpenName, static_cast<void*>(hShared));
    if (ppTexture == nullptr) {
        return;
    }
    *ppTexture = nullptr;
    if (!pDevice) {
        LogError("%s pDevice is null", kOpenName);
        return;
    }
    TComPtr<ID3D11Resource> pResource;
    HRESULT hr = pDevice->OpenSharedResource(hShared, IID_PPV_ARGS(pResource.GetAddressOf()));
    if (hr != S_OK) {
        LogError("%s OpenSharedResource error %x", kOpenName, Hex(hr));
        return;
    }
    LogVerbose("%s opened OK", kOpenName);
    hr = pResource->QueryInterface(IID_PPV_ARGS(ppTexture));
    if (hr != S_OK) {
        *ppTexture = nullptr;
        LogError("%s QueryInterface error %x", kOpenName, Hex(hr));
        return;
    }
    D3D11_TEXTURE2D_DESC desc = {};
    (*ppTexture)->GetDesc(&desc);
    LogVerbose("%s QueryInterface OK, format is %d", kOpenName, static_cast<int>(desc.Format));
}

void TDXGIDuplication::CopySubresource(uint32_t id, uint32_t x, uint32_t y, ID3D11Texture2D* pDestination,
                                       uint32_t width, uint32_t height)
{
    LogVerbose("%s", kCopyName);
    ID3D11Texture2D* pSource = pStagingDesktopImage.Get();
    if (id != kDesktopSurfaceId) {
        const TTempSurface* pSet = FindSurface(id, kCopyName);
        pSource = pSet != nullptr ? pSet->pStagingSurface.Get() : nullptr;
    }
    if (pSource == nullptr) {
        LogVerbose("%s exit pSrcSurface is null", kCopyName);
        return;
    }
    if (pDestination == nullptr) {
        LogVerbose("%s exit pDstSurface is null", kCopyName);
        return;
    }
    D3D11_TEXTURE2D_DESC desc = {};
    pDestination->GetDesc(&desc);
    LogVerbose("%s dst format is %d", kCopyName, static_cast<int>(desc.Format));
    pSource->GetDesc(&desc);
    LogVerbose("%s src format is %d", kCopyName, static_cast<int>(desc.Format));
    const D3D11_BOX box{x, y, 0, x + width, y + height, 1};
    pContext->CopySubresourceRegion(pDestination, 0, 0, 0, 0, pSource, 0, &box);
    LogVerbose("%s exit", kCopyName);
}
