#include "app/TCaptureScreenLoop.h"

#include "capturers/CaptureGeometry.h"
#include "ipc/THandle.h"
#include "ipc/WideText.h"
#include "log/Log.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {
constexpr const char kName[] = "TZYRFullscreenCapturer::CaptureScreenThread";
constexpr int32_t kFrameSourceDesktop = 8;
constexpr int kWebCamMutexKey = 2;
constexpr int kWebCamBackgroundMutexKey = 1;
constexpr uint32_t kRequestPollMs = 1;
constexpr uint32_t kIdleMs = 100;
constexpr uint32_t kOverlayStartCommand = 1;

std::shared_ptr<TZYRMutex> FindMutex(const TSharedFrameBuffer::TAccessMutexes& mutexes, int key)
{
    const auto it = mutexes.find(key);
    return it == mutexes.end() ? nullptr : it->second;
}
}  // namespace

TCaptureScreenLoop::TCaptureScreenLoop(const TCaptureLoopResources& resources, TCaptureLoopEnvironment& environment)
    : res(resources), env(environment)
{
    LARGE_INTEGER frequency{};
    ::QueryPerformanceFrequency(&frequency);
    ui64CounterFrequency = static_cast<uint64_t>(frequency.QuadPart);
}

TCaptureScreenLoop::~TCaptureScreenLoop() = default;

void TCaptureScreenLoop::Run()
{
    LogInfo("%s", kName);
    if (StartUp()) {
        while (!res.pTerminate->load()) {
            TFrameBufferHeader* pHeader = res.pFrameBuffer->Header();
            if (pHeader->bDrawMouseCursor != 0 && !pDrawMouseCursor) {
                pDrawMouseCursor = std::make_unique<TDrawMouseCursor>(res.pFrameBuffer->View());
            }
            const bool bCaptureEnabled = pHeader->bCaptureEnabled != 0;
            if (!bCaptureEnabled && pHeader->iSingleFrameState != 1) {
                IdlePass(*pHeader);
            } else {
                CapturePass(*pHeader);
            }
        }
    }
    ExitSteps();
}

bool TCaptureScreenLoop::StartUp()
{
    TFrameBufferHeader* pHeader = res.pFrameBuffer->Header();
    if (pHeader == nullptr) {
        LogError("%s no view of the frame buffer", kName);
        return false;
    }
    if (!CreateAndInitializeCapturer(*pHeader)) {
        return false;
    }
    const TReallocOutcome outcome = FixRegionAndLayout(*pHeader);
    // The re-map may have replaced or removed the view: the header is read anew.
    pHeader = res.pFrameBuffer->Header();
    if (outcome == TReallocOutcome::NoView || pHeader == nullptr) {
        LogError("%s the frame buffer is not mapped after the re-map, no frames can be captured", kName);
        return false;
    }
    if (outcome != TReallocOutcome::LaidOut) {
        // The host sees the refusal as an image size of 0 x 0 (or the old layout when a mutex
        // could not be taken); writing frames into it would corrupt what it reads.
        LogError("%s the frame buffer has no layout for %d x %d frames, no frames will be captured", kName,
                 static_cast<int>(imageSize.iWidth), static_cast<int>(imageSize.iHeight));
        return false;
    }
    ConfigureCapturer(*pHeader);
    return true;
}

bool TCaptureScreenLoop::CreateAndInitializeCapturer(TFrameBufferHeader& header)
{
    if (res.nCaptureMethod != 0 && res.nCaptureMethod != 1) {
        LogError("%s unknown capture method %u", kName, static_cast<unsigned>(res.nCaptureMethod));
        return false;
    }
    pFullscreenCapturer = env.CreateCapturer(res.nCaptureMethod);
    const THooksRect region = header.CaptureRegion;
    if (!capgeo::IsAllZero(region)) {
        LogInfo("%s capture rect (%d, %d) - (%d, %d)", kName, static_cast<int>(region.left),
                static_cast<int>(region.top), static_cast<int>(region.right), static_cast<int>(region.bottom));
        captureRegion = region;
    }
    wsMonitorName = ToWide(ReadHeaderWideString(header, ZYR_WIDE_FIELD(wszMonitorName)));
    if (capgeo::IsAllZero(captureRegion)) {
        wsMonitorName = env.GetMonitorForActiveApplication();
        WriteHeaderWideString(header, ZYR_WIDE_FIELD(wszMonitorName), ToU16(wsMonitorName));
    }
    if (!pFullscreenCapturer || !pFullscreenCapturer->Initialize(wsMonitorName)) {
        LogInfo("%s unable to initialize pFullscreenCapturer", kName);
        return false;
    }
    const SIZE size = pFullscreenCapturer->GetMonitorDimensions();
    iCaptureWidth = static_cast<int32_t>(size.cx);
    iCaptureHeight = static_cast<int32_t>(size.cy);
    LogInfo("%s capture image size %d x %d", kName, static_cast<int>(iCaptureWidth), static_cast<int>(iCaptureHeight));
    return true;
}

TReallocOutcome TCaptureScreenLoop::FixRegionAndLayout(TFrameBufferHeader& header)
{
    header.iFrameSource = kFrameSourceDesktop;
    if (!capgeo::IsAllZero(captureRegion)) {
        const capplan::TRegionCheck check = capplan::CheckCaptureRegion(captureRegion, iCaptureWidth, iCaptureHeight);
        if (check != capplan::TRegionCheck::Ok) {
            // The whole screen is captured instead.
            LogError("%s %s", kName, capplan::RegionCheckText(check));
            captureRegion = THooksRect{0, 0, 0, 0};
        }
    }
    imageSize = capplan::SafeImageSize(header.iRequestedWidth, header.iRequestedHeight, captureRegion, iCaptureWidth,
                                       iCaptureHeight);
    LogInfo("%s safe image size %d x %d", kName, static_cast<int>(imageSize.iWidth),
            static_cast<int>(imageSize.iHeight));
    header.iSourceWidth = iCaptureWidth;
    header.iSourceHeight = iCaptureHeight;
    // The re-map may unmap `header`: it is not touched again here.
    return res.pFrameBuffer->TestAndReallocSharedBuffers(imageSize.iWidth, imageSize.iHeight, *res.pAccessMutexes);
}

void TCaptureScreenLoop::ConfigureCapturer(TFrameBufferHeader& header)
{
    const bool bKeepProportion = header.bStretch == 0;
    const bool bDrawOverlays = header.IsWebCamCompositingSupported() && header.WebCamVisibilityState == 0;
    pFullscreenCapturer->SetCaptureParameters(imageSize.iWidth, imageSize.iHeight, captureRegion, bKeepProportion,
                                              bDrawOverlays);
    pFullscreenCapturer->SetFrameBufferSection(res.pFrameBuffer->Section());
    LogInfo("%s pFrameBufferHeader->bDontMirrorFrames %d", kName, static_cast<int>(header.bDontMirrorFrames));
    if (capgeo::IsAllZero(captureRegion)) {
        LogInfo("Region is empty -> start overlay");
        header.bOverlayStatus = 0;
        pOverlayCommands = env.CreateOverlayCommandsClient();
        env.StartFullscreenOverlay();
    }
    sourceRect = pFullscreenCapturer->SourceRect();
    destRect = pFullscreenCapturer->DestinationRect();
    scale = capplan::ScaleOf(sourceRect, destRect);
    const TDisplayInfo& display = pFullscreenCapturer->CurrentDisplayInfo();
    cursorOffset = capplan::CursorOffset(sourceRect, destRect, scale, display.iX, display.iY);
    nSlot = 0;
    ui32WarmUpStart = 0;
    bOverlayCommandSent = false;
}

void TCaptureScreenLoop::IdlePass(TFrameBufferHeader& header)
{
    // Only the whole-screen capture follows the user's application from monitor to monitor.
    const std::wstring wsActiveMonitor = capgeo::IsAllZero(captureRegion) ? env.GetMonitorForActiveApplication() : L"";
    if (!wsActiveMonitor.empty() && wsActiveMonitor != wsMonitorName) {
        // The name in use stays: the report repeats while the change lasts.
        LogInfoW(L"%S monitor has been changed from %s to %s", kName, wsMonitorName.c_str(), wsActiveMonitor.c_str());
        header.bCaptureInvalidated = 1;
    } else {
        const SIZE size = pFullscreenCapturer->GetCurrentMonitorDimensions();
        if (size.cx != iCaptureWidth || size.cy != iCaptureHeight) {
            LogInfo("%s screen resolution has been changed to %dx%d", kName, static_cast<int>(size.cx),
                    static_cast<int>(size.cy));
            header.bCaptureInvalidated = 1;
        }
    }
    env.Sleep(kIdleMs);
}

void TCaptureScreenLoop::CapturePass(TFrameBufferHeader& header)
{
    if (header.bFrameRequested[nSlot] == 0) {
        env.Sleep(kRequestPollMs);
        return;
    }
    OpenSharedTexture(header);
    ID3D11Texture2D* const pTexture = SlotTexture();
    if (!bWarmUpStarted) {
        ui32WarmUpStart = env.TickCount();
        bWarmUpStarted = true;
    }
    const uint32_t ui32WarmUpLeft = capplan::WarmUpLeftMs(ui32WarmUpStart, env.TickCount());
    if (ui32WarmUpLeft > 0) {
        // Captured but not published: the request stays, the host sees nothing yet.
        LogInfo("%s skipping frame %d ms left", kName, static_cast<int>(ui32WarmUpLeft));
        CaptureSlot(header, pTexture);
        env.Sleep(kIdleMs);
        return;
    }
    if (!bOverlayCommandSent && header.bSuppressOverlayCommand == 0 && pOverlayCommands) {
        pOverlayCommands->SendCommand(kOverlayStartCommand);
        env.Sleep(kIdleMs);
        bOverlayCommandSent = true;
    }
    LARGE_INTEGER start{};
    ::QueryPerformanceCounter(&start);
    if (header.bCaptureEnabled != 0) {
        SetFirstFrameEvent();
    }
    const bool bSingleFrame = header.iSingleFrameState == 1;
    if (bSingleFrame) {
        header.iSingleFrameState = 2;
    }
    header.bFrameRequested[nSlot] = 0;
    UpdateWebCam(header);
    const TAreaView slot = CaptureSlot(header, pTexture);
    DrawCursor(header, slot);
    PublishSlot(header, bSingleFrame);
    LARGE_INTEGER end{};
    ::QueryPerformanceCounter(&end);
    frameCost.Add(static_cast<uint64_t>(end.QuadPart - start.QuadPart));
    env.Sleep(kRequestPollMs);
}

void TCaptureScreenLoop::OpenSharedTexture(TFrameBufferHeader& header)
{
    const uint64_t ui64Handle = header.ui64SharedTextureHandles[nSlot];
    if (ui64Handle == 0 || mapSharedTextures.count(nSlot) != 0) {
        return;
    }
    // Shared handles are 32-bit values whatever the process's pointer size.
    const HANDLE hShared = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(static_cast<uint32_t>(ui64Handle)));
    Microsoft::WRL::ComPtr<ID3D11Texture2D> pTexture;
    pFullscreenCapturer->OpenSharedHandle(hShared, pTexture.ReleaseAndGetAddressOf());
    // Made once per slot, also without a texture: the slot then goes through shared memory.
    mapSharedTextures.emplace(nSlot, std::move(pTexture));
}

ID3D11Texture2D* TCaptureScreenLoop::SlotTexture() const
{
    const auto it = mapSharedTextures.find(nSlot);
    return it == mapSharedTextures.end() ? nullptr : it->second.Get();
}

TAreaView TCaptureScreenLoop::CaptureSlot(TFrameBufferHeader& header, ID3D11Texture2D* pTexture)
{
    TFrameSlotFields fields;
    const TAreaView slot = res.pFrameBuffer->View().FrameSlot(nSlot, &fields);
    ReportUnusableSlot(slot, fields, pTexture);
    pFullscreenCapturer->GetScreenImage(slot, header.bDontMirrorFrames != 0, pTexture);
    return slot;
}

// The capturer only says that its destination is unusable, on every frame; the values the host
// wrote are named here, once until they change or a usable slot comes.
void TCaptureScreenLoop::ReportUnusableSlot(const TAreaView& slot, const TFrameSlotFields& fields,
                                            ID3D11Texture2D* pTexture)
{
    if (slot.IsValid() || pTexture != nullptr) {
        lastUnusableSlot.reset();
        return;
    }
    if (lastUnusableSlot == fields) {
        return;
    }
    lastUnusableSlot = fields;
    LogError("%s frame slot %d is not usable: offset %u, %d x %d pixels, stride %u, %llu bytes mapped", kName,
             static_cast<int>(nSlot), static_cast<unsigned>(fields.ui32Offset), static_cast<int>(fields.iWidth),
             static_cast<int>(fields.iHeight), static_cast<unsigned>(fields.ui32Stride),
             static_cast<unsigned long long>(res.pFrameBuffer->View().Size()));
}

// Slots the host backs with a shared texture get no cursor here, also when the texture could not
// be opened.
void TCaptureScreenLoop::DrawCursor(const TFrameBufferHeader& header, const TAreaView& slot)
{
    if (!pDrawMouseCursor || mapSharedTextures.count(nSlot) != 0 || !slot.IsValid()) {
        return;
    }
    LARGE_INTEGER start{};
    ::QueryPerformanceCounter(&start);
    // A frame the capturer repeated from the image before carries that image's cursor: taken out
    // first, so the frame has one cursor, at the pointer's position now.
    if (const uint8_t* pRepeated = pFullscreenCapturer->RepeatedFrameSource()) {
        pDrawMouseCursor->RestoreCovered(pRepeated, slot.pData, static_cast<int32_t>(slot.ui32Width),
                                         static_cast<int32_t>(slot.ui32Rows), slot.ui32Stride,
                                         header.bDontMirrorFrames != 0);
    }
    pDrawMouseCursor->DrawCursor(slot.pData, static_cast<int32_t>(slot.ui32Width), static_cast<int32_t>(slot.ui32Rows),
                                 slot.ui32Stride, cursorOffset.iX, cursorOffset.iY, header.bDontMirrorFrames != 0,
                                 scale.dScaleX, scale.dScaleY);
    LARGE_INTEGER end{};
    ::QueryPerformanceCounter(&end);
    cursorCost.Add(static_cast<uint64_t>(end.QuadPart - start.QuadPart));
}

void TCaptureScreenLoop::SetFirstFrameEvent()
{
    // Set for every frame: the host may reset it between frames. Failures are logged by SetEvent.
    if (res.pTheFirstFrameCapturedEvent == nullptr) {
        LogError("%s hEvent is null", "TZYREvent::SetEvent");
        return;
    }
    res.pTheFirstFrameCapturedEvent->SetEvent();
}

// The producer's webcam pictures, each under its own mutex taken without waiting: a busy producer
// costs this frame's update, never a wait. An abandoned mutex is released unused (its producer died
// while writing).
void TCaptureScreenLoop::UpdateWebCam(TFrameBufferHeader& header)
{
    if (!header.IsWebCamCompositingSupported() || !header.IsWebCamVisible()) {
        return;
    }
    const std::shared_ptr<TZYRMutex> pMutex = FindMutex(*res.pAccessMutexes, kWebCamMutexKey);
    if (pMutex == nullptr) {
        return;
    }
    {
        const TMutexOwnership ownership(pMutex->Get(), ::WaitForSingleObject(pMutex->Get(), 0));
        if (ownership.IsOwned() && ownership.WasFree()) {
            const TAreaView area = res.pFrameBuffer->View().WebCamArea();
            header.WebCamImage.ui32InUse = 1;
            const float shaderData[4] = {header.GetWebCamShaderParam(), static_cast<float>(area.ui32Width),
                                         static_cast<float>(area.ui32Rows), 0.0f};
            LogVerbose("%s webcam shader data %f-%f-%f", kName, shaderData[0], shaderData[1], shaderData[2]);
            const THooksRect target = header.CalculateWebCamTargetRect(header.WebCamDisplayMode);
            if (area.IsValid()) {
                pFullscreenCapturer->UpdateWebCam(area.pData, static_cast<int32_t>(area.ui32Width),
                                                  static_cast<int32_t>(area.ui32Rows), area.ui32Stride, target,
                                                  shaderData, sizeof(shaderData));
            }
            header.WebCamImage.ui32InUse = 0;
        }
    }
    UpdateWebCamBackground(header);
}

void TCaptureScreenLoop::UpdateWebCamBackground(TFrameBufferHeader& header)
{
    if (!header.IsWebCamVisible() || header.UseChromaKeying == 0 || header.bUseWebCamBackground == 0) {
        return;
    }
    const std::shared_ptr<TZYRMutex> pMutex = FindMutex(*res.pAccessMutexes, kWebCamBackgroundMutexKey);
    if (pMutex == nullptr) {
        return;
    }
    const TMutexOwnership ownership(pMutex->Get(), ::WaitForSingleObject(pMutex->Get(), 0));
    if (!ownership.IsOwned() || !ownership.WasFree()) {
        return;
    }
    const TAreaView area = res.pFrameBuffer->View().WebCamBackgroundArea();
    header.WebCamBackgroundImage.ui32InUse = 1;
    const THooksRect target = header.CalculateWebCamTargetRect(header.WebCamDisplayMode);
    if (area.IsValid()) {
        pFullscreenCapturer->UpdateWebCamBackground(area.pData, static_cast<int32_t>(area.ui32Width),
                                                    static_cast<int32_t>(area.ui32Rows), area.ui32Stride, target);
    }
    header.WebCamBackgroundImage.ui32InUse = 0;
}

void TCaptureScreenLoop::PublishSlot(TFrameBufferHeader& header, bool bSingleFrame)
{
    LARGE_INTEGER counter{};
    ::QueryPerformanceCounter(&counter);
    header.ui32FrameTimestamps[nSlot] =
        capplan::CounterToMilliseconds(static_cast<uint64_t>(counter.QuadPart), ui64CounterFrequency);
    // The pixels and the time stamp are complete before the host can see the slot ready.
    std::atomic_thread_fence(std::memory_order_release);
    header.bFrameReady[nSlot] = 1;
    if (bSingleFrame) {
        header.iSingleFrameState = 0;
    } else {
        nSlot = (nSlot + 1) % kFrameSlotCount;
    }
}

void TCaptureScreenLoop::ExitSteps()
{
    env.TerminateFullscreenOverlay();
    if (TFrameBufferHeader* pHeader = res.pFrameBuffer->Header()) {
        pHeader->bCaptureInvalidated = 1;
    }
    if (frameCost.Count() > 0) {
        LogInfo("%s %llu frames published, %.3f ms per frame from taking the request to the ready flag", kName,
                static_cast<unsigned long long>(frameCost.Count()), frameCost.AverageMs(ui64CounterFrequency));
    }
    if (cursorCost.Count() > 0) {
        LogInfo("%s %llu frames with the cursor step, %.3f ms per frame in it", kName,
                static_cast<unsigned long long>(cursorCost.Count()), cursorCost.AverageMs(ui64CounterFrequency));
    }
    LogInfo("%s exit", kName);
    pOverlayCommands.reset();
    mapSharedTextures.clear();
    pFullscreenCapturer.reset();
    pDrawMouseCursor.reset();
}
