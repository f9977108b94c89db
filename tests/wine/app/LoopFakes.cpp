#include "LoopFakes.h"

#include <algorithm>
#include <cstring>

namespace looptest {

uint32_t PatternPixel(uint32_t frame, uint32_t x, uint32_t y)
{
    return ((frame & 0xFFu) << 24) | ((y & 0xFFFu) << 12) | (x & 0xFFFu);
}

Rect ToRect(const THooksRect& rect)
{
    return Rect{rect.left, rect.top, rect.right, rect.bottom};
}

void PrintTo(const Rect& rect, std::ostream* os)
{
    *os << "(" << rect.left << ", " << rect.top << ") - (" << rect.right << ", " << rect.bottom << ")";
}

CapturerProbe::CapturerProbe()
    : hGateEntered(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      hGateRelease(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
}

void CapturerProbe::SetCurrentSize(int32_t width, int32_t height)
{
    // The loop may read between the two stores; it then reports one more change, which no test
    // counts on.
    iCurrentHeight.store(height);
    iCurrentWidth.store(width);
}

void CapturerProbe::ArmGate()
{
    ::ResetEvent(hGateEntered.Get());
    ::ResetEvent(hGateRelease.Get());
    bGateArmed.store(true);
}

bool CapturerProbe::WaitGateEntered()
{
    return ::WaitForSingleObject(hGateEntered.Get(), kWaitMs) == WAIT_OBJECT_0;
}

void CapturerProbe::ReleaseGate()
{
    ::SetEvent(hGateRelease.Get());
}

std::vector<std::wstring> CapturerProbe::InitializeNames() const
{
    std::lock_guard<std::mutex> guard(lock);
    return initializeNames;
}

std::vector<ParametersCall> CapturerProbe::ParameterCalls() const
{
    std::lock_guard<std::mutex> guard(lock);
    return parameterCalls;
}

std::vector<FrameCall> CapturerProbe::Frames() const
{
    std::lock_guard<std::mutex> guard(lock);
    return frames;
}

std::vector<WebCamCall> CapturerProbe::WebCamCalls() const
{
    std::lock_guard<std::mutex> guard(lock);
    return webCamCalls;
}

std::vector<uint64_t> CapturerProbe::SharedHandles() const
{
    std::lock_guard<std::mutex> guard(lock);
    return sharedHandles;
}

namespace {
uint32_t LoadInUse(const std::atomic<const uint32_t*>& pField)
{
    const uint32_t* p = pField.load();
    return p == nullptr ? 0xFFFFFFFFu : std::atomic_ref<const uint32_t>(*p).load();
}

uint32_t FirstPixel(const uint8_t* pImage)
{
    uint32_t pixel = 0;
    if (pImage != nullptr) {
        std::memcpy(&pixel, pImage, 4);
    }
    return pixel;
}
}  // namespace

FakeLoopCapturer::FakeLoopCapturer(std::shared_ptr<CapturerProbe> probe)
    : TBaseFullscreenCapturer(::GetModuleHandleW(nullptr)), pProbe(std::move(probe))
{
}

FakeLoopCapturer::~FakeLoopCapturer()
{
    pProbe->bDestroyed.store(true);
}

// Like both capture methods: the base resolves the name, the display with that name is selected.
bool FakeLoopCapturer::Initialize(std::wstring wsName)
{
    {
        std::lock_guard<std::mutex> guard(pProbe->lock);
        pProbe->initializeNames.push_back(wsName);
    }
    TBaseFullscreenCapturer::Initialize(wsName);
    if (pProbe->bFailInitialize) {
        return false;
    }
    for (const TDisplayInfo& display : vecDisplays) {
        if (wsDisplayName == display.wszDeviceName) {
            vecSelectedDisplays.push_back(display);
            return true;
        }
    }
    return false;
}

SIZE FakeLoopCapturer::GetMonitorDimensions()
{
    if (vecSelectedDisplays.empty()) {
        return SIZE{0, 0};
    }
    return SIZE{vecSelectedDisplays.front().iWidth, vecSelectedDisplays.front().iHeight};
}

SIZE FakeLoopCapturer::GetCurrentMonitorDimensions()
{
    pProbe->nCurrentSizeQueries.fetch_add(1);
    const int32_t width = pProbe->iCurrentWidth.load();
    const int32_t height = pProbe->iCurrentHeight.load();
    if (width < 0 || height < 0) {
        return GetMonitorDimensions();
    }
    return SIZE{width, height};
}

std::vector<TDisplayInfo> FakeLoopCapturer::GetDisplays()
{
    return pProbe->displays;
}

void FakeLoopCapturer::SetCaptureParameters(int32_t iWidth, int32_t iHeight, THooksRect source,
                                            bool bKeepProportionOfSource, bool bDrawOverlays)
{
    TBaseFullscreenCapturer::SetCaptureParameters(iWidth, iHeight, source, bKeepProportionOfSource, bDrawOverlays);
    std::lock_guard<std::mutex> guard(pProbe->lock);
    pProbe->parameterCalls.push_back(ParametersCall{iWidth, iHeight, ToRect(source), bKeepProportionOfSource,
                                                    bDrawOverlays, ToRect(SourceRect()), ToRect(DestinationRect())});
}

void FakeLoopCapturer::GetScreenImageInternal(const TAreaView& destination, bool bDontMirrorFrames,
                                              ID3D11Texture2D* /*pTexture*/)
{
    const uint32_t frame = pProbe->nStarted.fetch_add(1) + 1;
    {
        std::lock_guard<std::mutex> guard(pProbe->lock);
        pProbe->frames.push_back(FrameCall{frame, destination.pData, destination.ui32Width, destination.ui32Rows,
                                           destination.ui32Stride, bDontMirrorFrames, ToRect(SourceRect())});
    }
    const uint32_t half = destination.ui32Rows / 2;
    WriteRows(destination, frame, 0, half);
    if (pProbe->bGateArmed.exchange(false)) {
        ::SetEvent(pProbe->hGateEntered.Get());
        ::WaitForSingleObject(pProbe->hGateRelease.Get(), kWaitMs);
    }
    WriteRows(destination, frame, half, destination.ui32Rows);
    pProbe->nCompleted.store(frame);
}

void FakeLoopCapturer::UpdateWebCam(const uint8_t* pImage, int32_t iWidth, int32_t iHeight, uint32_t ui32Stride,
                                    THooksRect destination, const void* pShaderData, uint32_t ui32ShaderDataSize)
{
    WebCamCall call{false, FirstPixel(pImage), iWidth, iHeight, ui32Stride, ToRect(destination), {},
                    LoadInUse(pProbe->pWebCamInUse)};
    if (pShaderData != nullptr) {
        const float* pFloats = static_cast<const float*>(pShaderData);
        call.shaderData.assign(pFloats, pFloats + ui32ShaderDataSize / sizeof(float));
    }
    std::lock_guard<std::mutex> guard(pProbe->lock);
    pProbe->webCamCalls.push_back(std::move(call));
}

void FakeLoopCapturer::UpdateWebCamBackground(const uint8_t* pImage, int32_t iWidth, int32_t iHeight,
                                              uint32_t ui32Stride, THooksRect destination)
{
    WebCamCall call{true, FirstPixel(pImage), iWidth, iHeight, ui32Stride, ToRect(destination), {},
                    LoadInUse(pProbe->pBackgroundInUse)};
    std::lock_guard<std::mutex> guard(pProbe->lock);
    pProbe->webCamCalls.push_back(std::move(call));
}

void FakeLoopCapturer::OpenSharedHandle(HANDLE hShared, ID3D11Texture2D** ppTexture)
{
    {
        std::lock_guard<std::mutex> guard(pProbe->lock);
        pProbe->sharedHandles.push_back(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(hShared)));
    }
    TBaseFullscreenCapturer::OpenSharedHandle(hShared, ppTexture);
}

void FakeLoopCapturer::WriteRows(const TAreaView& destination, uint32_t frame, uint32_t firstRow,
                                 uint32_t endRow) const
{
    if (!destination.IsValid()) {
        return;
    }
    const uint32_t width = std::min(destination.ui32Width, destination.ui32Stride / 4);
    std::vector<uint32_t> row(width);
    for (uint32_t y = firstRow; y < endRow; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            row[x] = PatternPixel(frame, x, y);
        }
        std::memcpy(destination.pData + static_cast<size_t>(y) * destination.ui32Stride, row.data(), width * 4u);
    }
}

FakeEnvironment::FakeEnvironment(std::shared_ptr<CapturerProbe> probe)
    : pProbe(std::move(probe)), hLooping(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
}

std::unique_ptr<TBaseFullscreenCapturer> FakeEnvironment::CreateCapturer(uint32_t /*nCaptureMethod*/)
{
    nCreateCapturer.fetch_add(1);
    if (bNoCapturer) {
        return nullptr;
    }
    return std::make_unique<FakeLoopCapturer>(pProbe);
}

std::wstring FakeEnvironment::GetMonitorForActiveApplication()
{
    nActiveMonitorQueries.fetch_add(1);
    std::lock_guard<std::mutex> guard(lock);
    return wsActiveMonitor;
}

void FakeEnvironment::SetActiveMonitor(const std::wstring& name)
{
    std::lock_guard<std::mutex> guard(lock);
    wsActiveMonitor = name;
}

bool FakeEnvironment::StartFullscreenOverlay()
{
    nStartOverlay.fetch_add(1);
    return true;
}

void FakeEnvironment::TerminateFullscreenOverlay()
{
    nTerminateOverlay.fetch_add(1);
}

std::unique_ptr<TFullscreenOverlayCommandsClient> FakeEnvironment::CreateOverlayCommandsClient()
{
    nCommandsClients.fetch_add(1);
    if (!bRealCommandsClient) {
        return nullptr;
    }
    return std::make_unique<TFullscreenOverlayCommandsClient>();
}

void FakeEnvironment::Sleep(uint32_t ms)
{
    if (ms == 1) {
        nPollSleeps.fetch_add(1);
    } else if (ms == 100) {
        nLongSleeps.fetch_add(1);
    } else {
        nOtherSleeps.fetch_add(1);
    }
    ::SetEvent(hLooping.Get());
    ::Sleep(std::max<uint32_t>(1, ms / 10));
}

}  // namespace looptest
