#include "TScreenOutputDuplication.h"

#include "log/Log.h"

#include <d3dcommon.h>

#include <utility>

namespace testdup {

using Microsoft::WRL::ComPtr;

namespace {

// With more changed areas than this (or more than half the desktop changed) the whole upload
// texture is copied at once instead of area by area: each area costs a copy call of its own.
constexpr uint32_t kMostAreaCopies = 16;

// Duplicated desktops are opaque; a screen grab leaves the top byte 0.
void CopyOpaque(uint32_t* pDestination, const uint32_t* pSource, uint32_t pixels)
{
    for (uint32_t i = 0; i < pixels; ++i) {
        pDestination[i] = pSource[i] | 0xFF000000u;
    }
}

bool OutputRect(IDXGIOutput1* pOutput, RECT* pRect)
{
    if (pOutput == nullptr) {
        return scene::PrimaryMonitorRect(pRect);
    }
    DXGI_OUTPUT_DESC desc = {};
    if (pOutput->GetDesc(&desc) != S_OK) {
        return false;
    }
    *pRect = desc.DesktopCoordinates;
    return true;
}

int64_t Ticks()
{
    LARGE_INTEGER now = {};
    ::QueryPerformanceCounter(&now);
    return now.QuadPart;
}

TPixelView View(const scene::Dib32& grab)
{
    return {reinterpret_cast<const uint8_t*>(grab.Bits()), static_cast<uint32_t>(grab.Width()),
            static_cast<uint32_t>(grab.Height()), static_cast<size_t>(grab.Width()) * 4u};
}

}  // namespace

DWORD NumberFromEnvironment(const wchar_t* pszName, DWORD dwMaximum)
{
    wchar_t wszValue[8] = {};
    const DWORD dwLength = ::GetEnvironmentVariableW(pszName, wszValue, 8);
    if (dwLength == 0 || dwLength > 5) {
        return 0;
    }
    DWORD dwValue = 0;
    for (DWORD i = 0; i < dwLength; ++i) {
        if (wszValue[i] < L'0' || wszValue[i] > L'9') {
            return 0;
        }
        dwValue = dwValue * 10 + static_cast<DWORD>(wszValue[i] - L'0');
    }
    return dwValue <= dwMaximum ? dwValue : 0;
}

std::wstring StallingEventName(uint32_t ui32ProcessId)
{
    return L"ZYRTestDupStalling" + std::to_wstring(ui32ProcessId);
}

std::wstring AccessLostEventName(uint32_t ui32ProcessId)
{
    return L"ZYRTestDupAccessLost" + std::to_wstring(ui32ProcessId);
}

HRESULT TScreenOutputDuplication::DuplicateOutputHook(IDXGIOutput1* pOutput, IUnknown* pDevice,
                                                      IDXGIOutputDuplication** ppDuplication)
{
    if (ppDuplication == nullptr || pDevice == nullptr) {
        return E_INVALIDARG;
    }
    *ppDuplication = nullptr;
    ComPtr<ID3D11Device> pD3DDevice;
    if (pDevice->QueryInterface(IID_PPV_ARGS(pD3DDevice.GetAddressOf())) != S_OK) {
        return E_INVALIDARG;
    }
    RECT rcOutput = {};
    if (!OutputRect(pOutput, &rcOutput)) {
        return DXGI_ERROR_NOT_FOUND;
    }
    ComPtr<TScreenOutputDuplication> pDuplication;
    const HRESULT hr = Create(std::move(pD3DDevice), rcOutput, pDuplication.GetAddressOf());
    *ppDuplication = pDuplication.Detach();
    return hr;
}

HRESULT TScreenOutputDuplication::Create(ComPtr<ID3D11Device> pDevice, const RECT& rcDesktop,
                                         TScreenOutputDuplication** ppDuplication)
{
    *ppDuplication = nullptr;
    if (rcDesktop.right <= rcDesktop.left || rcDesktop.bottom <= rcDesktop.top) {
        return E_INVALIDARG;
    }
    // The first reference is taken through GetAddressOf: MinGW's ComPtr::Attach adds one of its own.
    ComPtr<TScreenOutputDuplication> pDuplication;
    *pDuplication.GetAddressOf() = new TScreenOutputDuplication(std::move(pDevice), rcDesktop);
    const HRESULT hr = pDuplication->CreateResources();
    if (hr != S_OK) {
        return hr;
    }
    *ppDuplication = pDuplication.Detach();
    return S_OK;
}

TScreenOutputDuplication::TScreenOutputDuplication(ComPtr<ID3D11Device> pDeviceArg, const RECT& rcDesktopArg)
    : TRuleOutputDuplication(std::move(pDeviceArg), static_cast<uint32_t>(rcDesktopArg.right - rcDesktopArg.left),
                             static_cast<uint32_t>(rcDesktopArg.bottom - rcDesktopArg.top)),
      rcDesktop(rcDesktopArg)
{
    LARGE_INTEGER frequency = {};
    ::QueryPerformanceFrequency(&frequency);
    dTicksPerMs = static_cast<double>(frequency.QuadPart) / 1000.0;
}

double TScreenOutputDuplication::MsSince(int64_t startTicks) const
{
    return static_cast<double>(Ticks() - startTicks) / dTicksPerMs;
}

HRESULT TScreenOutputDuplication::CreateResources()
{
    const auto width = static_cast<int>(DesktopWidth());
    const auto height = static_cast<int>(DesktopHeight());
    screenDc = scene::OpenDisplayDc();
    if (!screenDc || !grabs[0].Create(width, height) || !grabs[1].Create(width, height)) {
        return HRESULT_FROM_WIN32(::GetLastError());
    }
    hAccessLost.Reset(::CreateEventW(nullptr, FALSE, FALSE, AccessLostEventName(::GetCurrentProcessId()).c_str()));
    if (dwStallMs != 0) {
        hStalling.Reset(::CreateEventW(nullptr, TRUE, FALSE, StallingEventName(::GetCurrentProcessId()).c_str()));
    }
    const uint32_t most = MaxChangedRects(DesktopWidth(), DesktopHeight());
    vecChanged.resize(most);
    vecDirty.resize(most);

    const HRESULT hr = CreateDesktopTextures(&pFrameTexture, &pUploadTexture);
    if (hr == S_OK) {
        // Only a name for graphics debuggers; its failure changes nothing.
        pFrameTexture->SetPrivateData(WKPDID_D3DDebugObjectName, sizeof(kScreenDuplicationMarker) - 1,
                                      kScreenDuplicationMarker);
    }
    return hr;
}

TScreenOutputDuplication::~TScreenOutputDuplication()
{
    const double dGrabs = counters.ui32Grabs != 0 ? counters.ui32Grabs : 1.0;
    const double dFrames = counters.ui32Frames != 0 ? counters.ui32Frames : 1.0;
    LogInfo("TScreenOutputDuplication %u grabs, %u frames (%u copied whole); per grab %.3f ms BitBlt, "
            "%.3f ms compare; per frame %.3f ms upload",
            counters.ui32Grabs, counters.ui32Frames, counters.ui32WholeCopies, counters.dGrabMs / dGrabs,
            counters.dCompareMs / dGrabs, counters.dUploadMs / dFrames);
}


HRESULT TScreenOutputDuplication::ProduceFrame(UINT timeoutMs, TFrameOut* pFrame)
{
    if (dwStallMs != 0) {
        if (hStalling) {
            ::SetEvent(hStalling.Get());
        }
        ::Sleep(dwStallMs);
    }
    if (hAccessLost && ::WaitForSingleObject(hAccessLost.Get(), 0) == WAIT_OBJECT_0) {
        return DXGI_ERROR_ACCESS_LOST;
    }
    const ULONGLONG startMs = ::GetTickCount64();
    for (;;) {
        const uint32_t next = 1u - ui32Latest;
        if (!Grab(grabs[next])) {
            return DXGI_ERROR_ACCESS_LOST;
        }
        const int64_t compareStart = Ticks();
        const uint32_t count = FindChanges(next);
        counters.dCompareMs += MsSince(compareStart);
        if (count != 0) {
            const int64_t uploadStart = Ticks();
            const HRESULT hr = Upload(grabs[next], count);
            counters.dUploadMs += MsSince(uploadStart);
            if (hr != S_OK) {
                return hr;
            }
            ui32Latest = next;
            bHaveFrame = true;
            ++counters.ui32Frames;
            pFrame->pTexture = pFrameTexture.Get();
            pFrame->ui32MetadataSize = count * static_cast<uint32_t>(sizeof(RECT));
            pFrame->pDirties = vecDirty.data();
            pFrame->ui32DirtyCount = count;
            return S_OK;
        }
        if (timeoutMs != INFINITE && ::GetTickCount64() - startMs >= timeoutMs) {
            return DXGI_ERROR_WAIT_TIMEOUT;
        }
    }
}

bool TScreenOutputDuplication::Grab(scene::Dib32& target)
{
    const int64_t start = Ticks();
    ++counters.ui32Grabs;
    const BOOL bCopied = ::BitBlt(target.Dc(), 0, 0, target.Width(), target.Height(), screenDc.Get(),
                                  rcDesktop.left, rcDesktop.top, SRCCOPY);
    // The DIB's bits are read right after: the blit must have reached them.
    ::GdiFlush();
    counters.dGrabMs += MsSince(start);
    return bCopied != FALSE;
}

uint32_t TScreenOutputDuplication::FindChanges(uint32_t next)
{
    uint32_t count = 1;
    if (!bHaveFrame) {
        vecChanged[0] = {0, 0, static_cast<int32_t>(DesktopWidth()), static_cast<int32_t>(DesktopHeight())};
    } else {
        count = FindChangedRects(View(grabs[ui32Latest]), View(grabs[next]), vecChanged.data(),
                                 static_cast<uint32_t>(vecChanged.size()));
    }
    for (uint32_t i = 0; i < count; ++i) {
        vecDirty[i] = {vecChanged[i].left, vecChanged[i].top, vecChanged[i].right, vecChanged[i].bottom};
    }
    return count;
}

// The upload texture keeps its pixels between maps, so it always mirrors the desktop and only the
// changed areas are written and copied (costs: TRuleOutputDuplication::CreateDesktopTextures).
HRESULT TScreenOutputDuplication::Upload(const scene::Dib32& grab, uint32_t count)
{
    D3D11_MAPPED_SUBRESOURCE mapped = {};
    const HRESULT hr = Context()->Map(pUploadTexture.Get(), 0, D3D11_MAP_WRITE, 0, &mapped);
    if (hr != S_OK) {
        return hr;
    }
    auto* pMapped = static_cast<uint8_t*>(mapped.pData);
    uint64_t changedPixels = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const RECT& rc = vecDirty[i];
        const auto pixels = static_cast<uint32_t>(rc.right - rc.left);
        for (LONG y = rc.top; y < rc.bottom; ++y) {
            auto* pRow = reinterpret_cast<uint32_t*>(pMapped + static_cast<size_t>(y) * mapped.RowPitch);
            CopyOpaque(pRow + rc.left, grab.Bits() + static_cast<size_t>(y) * DesktopWidth() + rc.left, pixels);
        }
        changedPixels += static_cast<uint64_t>(pixels) * static_cast<uint64_t>(rc.bottom - rc.top);
    }
    Context()->Unmap(pUploadTexture.Get(), 0);
    const uint64_t allPixels = static_cast<uint64_t>(DesktopWidth()) * DesktopHeight();
    if (count > kMostAreaCopies || changedPixels * 2 > allPixels) {
        ++counters.ui32WholeCopies;
        Context()->CopyResource(pFrameTexture.Get(), pUploadTexture.Get());
    } else {
        CopyAreas(count);
    }
    return S_OK;
}

void TScreenOutputDuplication::CopyAreas(uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i) {
        const RECT& rc = vecDirty[i];
        const D3D11_BOX box = {static_cast<UINT>(rc.left), static_cast<UINT>(rc.top), 0, static_cast<UINT>(rc.right),
                               static_cast<UINT>(rc.bottom), 1};
        Context()->CopySubresourceRegion(pFrameTexture.Get(), 0, static_cast<UINT>(rc.left),
                                         static_cast<UINT>(rc.top), 0, pUploadTexture.Get(), 0, &box);
    }
}

}  // namespace testdup
