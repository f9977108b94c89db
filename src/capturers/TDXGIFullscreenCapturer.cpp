#include "capturers/TDXGIFullscreenCapturer.h"

#include "capturers/CaptureGeometry.h"
#include "log/Log.h"

#include <cstring>

namespace {

constexpr const char kGetScreenImageName[] = "TDXGIFullscreenCapturer::GetScreenImageInternal";
constexpr const char kCreateName[] = "TDXGIFullscreenCapturer::CreateDXGIDuplication";

class TSystemFrameWaitClock final : public TFrameWaitClock {
public:
    uint32_t TickCount() override { return ::GetTickCount(); }
    void YieldSlice() override { ::Sleep(0); }
};

TSystemFrameWaitClock g_systemClock;  // stateless: shared by every capturer

}  // namespace

TDXGIFullscreenCapturer::TDXGIFullscreenCapturer(HINSTANCE hInstanceOfModule)
    : TDXGIFullscreenCapturer(hInstanceOfModule, g_systemClock)
{
}

TDXGIFullscreenCapturer::TDXGIFullscreenCapturer(HINSTANCE hInstanceOfModule, TFrameWaitClock& clock)
    : TBaseFullscreenCapturer(hInstanceOfModule), rClock(clock)
{
    LogInfo("%s", "TDXGIFullscreenCapturer::TDXGIFullscreenCapturer");
    LogInfo("%s exit", "TDXGIFullscreenCapturer::TDXGIFullscreenCapturer");
}

TDXGIFullscreenCapturer::~TDXGIFullscreenCapturer()
{
    LogInfo("%s", "TDXGIFullscreenCapturer::~TDXGIFullscreenCapturer");
    // The engine goes before the base: it is the only thing here that holds platform resources.
    pDXGIDuplication.reset();
    LogInfo("%s exit", "TDXGIFullscreenCapturer::~TDXGIFullscreenCapturer");
}

SIZE TDXGIFullscreenCapturer::GetMonitorDimensions()
{
    return SelectedDisplaySize();
}

SIZE TDXGIFullscreenCapturer::GetCurrentMonitorDimensions()
{
    return CurrentSizeOfSelectedDisplay("TDXGIFullscreenCapturer::GetCurrentMonitorDimensions");
}

std::vector<TDisplayInfo> TDXGIFullscreenCapturer::GetDisplays()
{
    constexpr const char kName[] = "TDXGIFullscreenCapturer::GetDisplays";
    LogInfo("%s", kName);
    std::vector<TDisplayInfo> displays;
    for (const TDisplayAdapterInfo& adapter : TDXGIDuplication::EnumerateDisplayAdapters()) {
        for (const TDisplayOutputInfo& output : adapter.vecOutputs) {
            CheckAndAddMonitor(output.hMonitor, displays);
            LogInfoW(L"%S output name is '%s'", kName, output.wsDeviceName.c_str());
        }
    }
    LogInfo("%s exit with %d", kName, static_cast<int>(displays.size()));
    return displays;
}

bool TDXGIFullscreenCapturer::Initialize(std::wstring wsName)
{
    constexpr const char kName[] = "TDXGIFullscreenCapturer::Initialize";
    LogInfo("%s", kName);
    TBaseFullscreenCapturer::Initialize(wsName);
    const bool bResult = CreateDXGIDuplication();
    if (!bResult) {
        LogError("%s CreateDXGIDuplication error", kName);
    }
    LogInfo("%s exit with %d", kName, bResult ? 1 : 0);
    return bResult;
}

bool TDXGIFullscreenCapturer::CreateDXGIDuplication()
{
    LogInfo("%s", kCreateName);
    bool bResult = false;
    bool bFound = false;
    const TDisplayInfo* pDisplay = nullptr;
    for (const TDisplayInfo& display : vecDisplays) {
        if (wsDisplayName == display.wszDeviceName) {
            pDisplay = &display;
            break;
        }
    }
    if (pDisplay != nullptr) {
        // Every call appends again; only the first element is ever read.
        vecSelectedDisplays.push_back(*pDisplay);
        LogInfo("%s will use display '%S'", kCreateName, pDisplay->wszDeviceName);
        // Only the first output of that name is tried: a failing engine ends the search.
        const std::vector<TDisplayAdapterInfo> adapters = TDXGIDuplication::EnumerateDisplayAdapters();
        for (auto adapter = adapters.begin(); adapter != adapters.end() && !bFound; ++adapter) {
            for (const TDisplayOutputInfo& output : adapter->vecOutputs) {
                if (output.wsDeviceName == pDisplay->wszDeviceName) {
                    bFound = true;
                    bResult = CreateEngine(*adapter, output);
                    break;
                }
            }
        }
    }
    LogInfo("%s exit with %d", kCreateName, bResult ? 1 : 0);
    return bResult;
}

bool TDXGIFullscreenCapturer::CreateEngine(const TDisplayAdapterInfo& adapter, const TDisplayOutputInfo& output)
{
    LogInfo("%s found the required dxgi adapter and output", kCreateName);
    pDXGIDuplication = std::make_unique<TDXGIDuplication>(adapter.pAdapter, output.pOutput, hInstance,
                                                          kVertexShaderResourceId, kPixelShaderResourceId);
    if (!pDXGIDuplication->IsInitialized()) {
        pDXGIDuplication.reset();
        LogError("%s unable to use pDXGIDuplication", kCreateName);
        return false;
    }
    LogInfo("%s can use pDXGIDuplication", kCreateName);
    return true;
}

void TDXGIFullscreenCapturer::SetCaptureParameters(int32_t iWidth, int32_t iHeight, THooksRect source,
                                                   bool bKeepProportionOfSource, bool bDrawOverlays)
{
    constexpr const char kName[] = "TDXGIFullscreenCapturer::SetCaptureParameters";
    LogInfo("%s", kName);
    TBaseFullscreenCapturer::SetCaptureParameters(iWidth, iHeight, source, bKeepProportionOfSource, bDrawOverlays);
    const THooksRect& src = vqhrSourceRectBeforeResizing;
    const THooksRect& dst = vqhrDestRectAfterResizing;
    if (!bDrawOverlays && capgeo::RectWidth(src) == capgeo::RectWidth(dst) &&
        capgeo::RectHeight(src) == capgeo::RectHeight(dst)) {
        iTempSurfaceId = -1;
        LogInfo("%s will use staging surface", kName);
    } else {
        iTempSurfaceId = 0;
        LogInfo("%s will use scaled surface", kName);
    }
    LogInfo("%s exit", kName);
}

void TDXGIFullscreenCapturer::GetScreenImageInternal(const TAreaView& destination, bool bDontMirrorFrames,
                                                     ID3D11Texture2D* pTexture)
{
    if (!EnsureEngine()) {
        return;
    }
    const TAcquired acquired = AcquireFrame();
    if (acquired == TAcquired::None) {
        return;
    }
    // Only a held frame is released: the platform refuses a release without one (an error line and
    // drError on every frame that reused the previous image).
    const TDuplicationResult released = acquired == TAcquired::NewFrame ? pDXGIDuplication->ReleaseFrame() : drOk;
    if (released == drAccessLost) {
        OnAccessLost();
        return;
    }
    const THooksRect& src = vqhrSourceRectBeforeResizing;
    const THooksRect& dst = vqhrDestRectAfterResizing;
    // The rectangles were checked non-empty by GetScreenImage, and the source to lie on the display
    // by the capture loop.
    pDXGIDuplication->TransferToSurface(SurfaceId(), static_cast<uint32_t>(src.left), static_cast<uint32_t>(src.top),
                                        static_cast<uint32_t>(dst.left), static_cast<uint32_t>(dst.top),
                                        static_cast<uint32_t>(dst.right - dst.left),
                                        static_cast<uint32_t>(dst.bottom - dst.top));
    if (pTexture != nullptr) {
        // The frame size is the one the capturer was configured with: the slot's own area plays no
        // part in a GPU delivery.
        pDXGIDuplication->CopySubresource(SurfaceId(), ReadOriginX(), ReadOriginY(), pTexture,
                                          static_cast<uint32_t>(iFinalWidth), static_cast<uint32_t>(iFinalHeight));
    } else {
        CopyToDestination(destination, bDontMirrorFrames);
    }
    iLastFrameResult = released;
}

bool TDXGIFullscreenCapturer::EnsureEngine()
{
    if (pDXGIDuplication) {
        return true;
    }
    LogVerbose("%s pDXGIDuplication is null", kGetScreenImageName);
    if (iLastFrameResult != drAccessLost || ui32RecreateAttempts >= kMaxRecreateAttempts) {
        return false;
    }
    LogInfo("%s %d try to recreate pDXGIDuplication.", kGetScreenImageName, static_cast<int>(ui32RecreateAttempts));
    if (!CreateDXGIDuplication()) {
        LogError("%s failed to create pDXGIDuplication.", kGetScreenImageName);
        ++ui32RecreateAttempts;
        return false;
    }
    LogInfo("%s a new pDXGIDuplication has been created.", kGetScreenImageName);
    return true;
}

bool TDXGIFullscreenCapturer::EnsureTempSurface()
{
    if (iTempSurfaceId == -1 || pDXGIDuplication->HasTempSurface(SurfaceId())) {
        return true;
    }
    const THooksRect& src = vqhrSourceRectBeforeResizing;
    if (!pDXGIDuplication->CreateTemporarySurface(SurfaceId(), static_cast<uint32_t>(src.right - src.left),
                                                  static_cast<uint32_t>(src.bottom - src.top),
                                                  static_cast<uint32_t>(iFinalWidth),
                                                  static_cast<uint32_t>(iFinalHeight))) {
        LogError("%s CreateTemporarySurface error", kGetScreenImageName);
    }
    if (!pDXGIDuplication->HasTempSurface(SurfaceId())) {
        LogError("%s temp surface doesn't exist", kGetScreenImageName);
        return false;
    }
    return true;
}

// Polls for a new frame for up to kFrameWaitMs; after that the engine's desktop image still holds
// the previous frame, which is used again.
TDXGIFullscreenCapturer::TAcquired TDXGIFullscreenCapturer::AcquireFrame()
{
    const uint32_t ui32Start = rClock.TickCount();
    for (;;) {
        if (!EnsureTempSurface()) {
            return TAcquired::None;
        }
        const TDuplicationResult result = pDXGIDuplication->GetFrame();
        switch (result) {
        case drOk:
            return TAcquired::NewFrame;
        case drAccessLost:
            OnAccessLost();
            return TAcquired::None;
        case drTimeout:
            if (rClock.TickCount() - ui32Start > kFrameWaitMs) {
                LogVerbose("%s Too long wait time %d -> use previous image", kGetScreenImageName,
                           static_cast<int>(rClock.TickCount() - ui32Start));
                return TAcquired::PreviousImage;
            }
            rClock.YieldSlice();
            break;
        default:
            iLastFrameResult = result;
            return TAcquired::None;
        }
    }
}

void TDXGIFullscreenCapturer::OnAccessLost()
{
    LogInfo("%s Device is lost, trying to recreate a duplication API object...", kGetScreenImageName);
    pDXGIDuplication.reset();
    ui32RecreateAttempts = 0;
    iLastFrameResult = drAccessLost;
}

void TDXGIFullscreenCapturer::CopyToDestination(const TAreaView& destination, bool bDontMirrorFrames)
{
    const uint32_t id = SurfaceId();
    if (!pDXGIDuplication->MapSurface(id)) {
        return;
    }
    const int32_t x0 = static_cast<int32_t>(ReadOriginX());
    const int32_t y0 = static_cast<int32_t>(ReadOriginY());
    const uint32_t ui32Pitch = pDXGIDuplication->DataStride(id);
    const uint8_t* const pSurface = pDXGIDuplication->DataPointer(id);
    const capgeo::TSurfaceRead read = capgeo::PlanSurfaceRead(ui32Pitch, pDXGIDuplication->Height(id), x0, y0,
                                                              destination.ui32Width * 4, destination.ui32Rows);
    if (pSurface != nullptr) {
        const uint8_t* pRow = pSurface + uint64_t{ui32Pitch} * static_cast<uint32_t>(y0) +
                              uint64_t{static_cast<uint32_t>(x0)} * 4;
        for (uint32_t k = 0; k < read.ui32Rows; ++k, pRow += ui32Pitch) {
            const uint32_t target = bDontMirrorFrames ? k : read.ui32Rows - 1 - k;
            std::memcpy(destination.pData + uint64_t{target} * destination.ui32Stride, pRow, read.ui32CopyBytes);
        }
    }
    pDXGIDuplication->UnmapSurface(id);
}

// The desktop image is read from the source's top-left pixel; a surface set holds just the frame.
uint32_t TDXGIFullscreenCapturer::ReadOriginX() const
{
    return iTempSurfaceId == -1 ? static_cast<uint32_t>(vqhrSourceRectBeforeResizing.left) : 0;
}

uint32_t TDXGIFullscreenCapturer::ReadOriginY() const
{
    return iTempSurfaceId == -1 ? static_cast<uint32_t>(vqhrSourceRectBeforeResizing.top) : 0;
}

void TDXGIFullscreenCapturer::OpenSharedHandle(HANDLE hShared, ID3D11Texture2D** ppTexture)
{
    constexpr const char kName[] = "TDXGIFullscreenCapturer::OpenSharedHandle";
    LogInfo("%s", kName);
    if (pDXGIDuplication) {
        pDXGIDuplication->OpenSharedHandle(hShared, ppTexture);
    }
    LogInfo("%s exit", kName);
}

// An overlay is made once per engine and surface set; afterwards each call only uploads the
// pixels. A new engine (after a loss) or a new surface set has none, and the next call makes it.
void TDXGIFullscreenCapturer::ForwardOverlay(const char* pszName, const TOverlayRequest& request)
{
    LogVerbose("%s", pszName);
    if (pDXGIDuplication) {
        const uint32_t id = SurfaceId();
        if (!pDXGIDuplication->DoesOverlayExist(id, request.ui32OverlayId)) {
            const RECT rcDestination{request.destination.left, request.destination.top, request.destination.right,
                                     request.destination.bottom};
            pDXGIDuplication->CreateOverlay(id, request.ui32OverlayId, static_cast<uint32_t>(request.iWidth),
                                            static_cast<uint32_t>(request.iHeight), 0, request.iPixelShaderResourceId,
                                            rcDestination, request.pShaderData, request.ui32ShaderDataSize,
                                            request.bUseBlending);
        }
        if (pDXGIDuplication->DoesOverlayExist(id, request.ui32OverlayId)) {
            pDXGIDuplication->UpdateOverlayData(id, request.ui32OverlayId, request.pImage, request.iWidth,
                                                request.iHeight, static_cast<int32_t>(request.ui32Stride));
        }
    }
    LogVerbose("%s exit", pszName);
}

void TDXGIFullscreenCapturer::UpdateWebCam(const uint8_t* pImage, int32_t iWidth, int32_t iHeight,
                                           uint32_t ui32Stride, THooksRect destination, const void* pShaderData,
                                           uint32_t ui32ShaderDataSize)
{
    ForwardOverlay("TDXGIFullscreenCapturer::UpdateWebCam",
                   TOverlayRequest{kWebCamOverlayId, kWebCamPixelShaderResourceId, pImage, iWidth, iHeight, ui32Stride,
                                   destination, pShaderData, ui32ShaderDataSize, true});
}

void TDXGIFullscreenCapturer::UpdateWebCamBackground(const uint8_t* pImage, int32_t iWidth, int32_t iHeight,
                                                     uint32_t ui32Stride, THooksRect destination)
{
    ForwardOverlay("TDXGIFullscreenCapturer::UpdateWebCamBackground",
                   TOverlayRequest{kWebCamBackgroundOverlayId, kPixelShaderResourceId, pImage, iWidth, iHeight,
                                   ui32Stride, destination, nullptr, 0, false});
}
