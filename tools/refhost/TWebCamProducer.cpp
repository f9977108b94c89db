#include "TWebCamProducer.h"

#include "WebCamPictures.h"

#include "framebuffer/FrameBufferView.h"
#include "ipc/THandle.h"

#include <chrono>
#include <cstring>

namespace {

constexpr uint32_t kWebCamMutexKey = 2;
constexpr uint32_t kBackgroundMutexKey = 1;
constexpr DWORD kMutexWaitMs = 1000;
constexpr auto kPass = std::chrono::milliseconds(5);

using TPixelFunction = uint32_t (*)(uint32_t x, uint32_t y, uint32_t generation);

uint32_t Background(uint32_t x, uint32_t y, uint32_t /*generation*/)
{
    return refwebcam::BackgroundPixel(x, y);
}

// Fills `area` row by row; false when it is not laid out.
bool Fill(const TAreaView& area, TPixelFunction pixel, uint32_t generation)
{
    if (!area.IsValid() || area.ui32Width == 0 || area.ui32Rows == 0) {
        return false;
    }
    for (uint32_t y = 0; y < area.ui32Rows; ++y) {
        auto* pRow = area.pData + uint64_t{y} * area.ui32Stride;
        for (uint32_t x = 0; x < area.ui32Width; ++x) {
            const uint32_t value = pixel(x, y, generation);
            std::memcpy(pRow + uint64_t{x} * 4, &value, 4);
        }
    }
    return true;
}

}  // namespace

TWebCamProducer::TWebCamProducer(TRefHost& host, double dFramesPerSecondArg)
    : rHost(host), dFramesPerSecond(dFramesPerSecondArg)
{
}

TWebCamProducer::~TWebCamProducer()
{
    Stop();
}

bool TWebCamProducer::Start()
{
    if (thread.joinable() || rHost.SectionBytes() == nullptr) {
        return false;
    }
    bStop = false;
    thread = std::thread([this] { Run(); });
    return true;
}

void TWebCamProducer::Stop()
{
    if (!thread.joinable()) {
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(mutexState);
        bStop = true;
    }
    conditionState.notify_all();
    thread.join();
}

bool TWebCamProducer::Hold(bool bHold, DWORD timeoutMs)
{
    std::unique_lock<std::mutex> lock(mutexState);
    bWantHold = bHold;
    conditionState.notify_all();
    return conditionState.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return bHeld == bHold; });
}

uint32_t TWebCamProducer::Generation() const
{
    const std::lock_guard<std::mutex> lock(mutexState);
    return ui32Generation;
}

bool TWebCamProducer::WaitGeneration(uint32_t atLeast, DWORD timeoutMs) const
{
    std::unique_lock<std::mutex> lock(mutexState);
    return conditionState.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                   [&] { return ui32Generation >= atLeast; });
}

void TWebCamProducer::Publish(uint32_t generation)
{
    {
        const std::lock_guard<std::mutex> lock(mutexState);
        ui32Generation = generation;
    }
    conditionState.notify_all();
}

// The Win32 mutex is owned by a thread, so taking, keeping and releasing it for Hold happens here.
void TWebCamProducer::Run()
{
    const HANDLE hWebCamMutex = rHost.AccessMutex(kWebCamMutexKey);
    const auto interval = dFramesPerSecond > 0 ? std::chrono::duration<double>(1.0 / dFramesPerSecond)
                                               : std::chrono::duration<double>(0);
    auto due = std::chrono::steady_clock::now();
    uint32_t next = 1;
    bool bMutexHeld = false;
    uint32_t ui32HeldGeneration = 0;
    std::unique_lock<std::mutex> lock(mutexState);
    while (!bStop) {
        const bool bHoldWanted = bWantHold;
        lock.unlock();
        if (bHoldWanted && !bMutexHeld && ::WaitForSingleObject(hWebCamMutex, kMutexWaitMs) == WAIT_OBJECT_0) {
            bMutexHeld = true;
            ui32HeldGeneration = WritePictures(next, true) ? next++ : 0;
        } else if (!bHoldWanted && bMutexHeld) {
            ::ReleaseMutex(hWebCamMutex);
            bMutexHeld = false;
            if (ui32HeldGeneration != 0) {
                Publish(ui32HeldGeneration);
            }
        } else if (!bMutexHeld && (next == 1 || interval.count() > 0) && std::chrono::steady_clock::now() >= due) {
            if (WritePictures(next, false)) {
                Publish(next++);
                due = std::chrono::steady_clock::now() +
                      std::chrono::duration_cast<std::chrono::steady_clock::duration>(interval);
            }
        }
        lock.lock();
        bHeld = bMutexHeld;
        conditionState.notify_all();
        conditionState.wait_for(lock, kPass, [&] { return bStop || bWantHold != bMutexHeld; });
    }
    if (bMutexHeld) {
        ::ReleaseMutex(hWebCamMutex);
        bHeld = false;
    }
}

bool TWebCamProducer::WritePictures(uint32_t generation, bool bWebCamMutexOwned)
{
    const TFrameBufferView view(rHost.SectionBytes(), rHost.SectionSize());
    const TFrameBufferHeader* pHeader = view.Header();
    if (pHeader == nullptr) {
        return false;
    }
    if (pHeader->UseChromaKeying != 0) {
        const HANDLE hBackground = rHost.AccessMutex(kBackgroundMutexKey);
        const TMutexOwnership owned(hBackground, ::WaitForSingleObject(hBackground, kMutexWaitMs));
        if (!owned.IsOwned() || !Fill(view.WebCamBackgroundArea(), Background, generation)) {
            return false;
        }
    }
    if (bWebCamMutexOwned) {
        return Fill(view.WebCamArea(), refwebcam::WebCamPixel, generation);
    }
    const HANDLE hWebCam = rHost.AccessMutex(kWebCamMutexKey);
    const TMutexOwnership owned(hWebCam, ::WaitForSingleObject(hWebCam, kMutexWaitMs));
    return owned.IsOwned() && Fill(view.WebCamArea(), refwebcam::WebCamPixel, generation);
}
