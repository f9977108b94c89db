#include "TFrameClient.h"

#include "TRefHost.h"

#include <atomic>
#include <cstddef>
#include <cstring>

namespace {

constexpr size_t kReadyOffset = offsetof(TFrameBufferHeader, bFrameReady);
constexpr size_t kRequestedOffset = offsetof(TFrameBufferHeader, bFrameRequested);
constexpr size_t kTimestampsOffset = offsetof(TFrameBufferHeader, ui32FrameTimestamps);
constexpr size_t kSourceWidthOffset = offsetof(TFrameBufferHeader, iSourceWidth);
constexpr size_t kSourceHeightOffset = offsetof(TFrameBufferHeader, iSourceHeight);
constexpr size_t kImageWidthOffset = offsetof(TFrameBufferHeader, iImageWidth);
constexpr size_t kImageHeightOffset = offsetof(TFrameBufferHeader, iImageHeight);
constexpr size_t kSingleFrameStateOffset = offsetof(TFrameBufferHeader, iSingleFrameState);
constexpr size_t kDontMirrorOffset = offsetof(TFrameBufferHeader, bDontMirrorFrames);
constexpr size_t kCaptureInvalidatedOffset = offsetof(TFrameBufferHeader, bCaptureInvalidated);
// The 32-bit fields accessed atomically are naturally aligned in the packed header.
static_assert(kSourceWidthOffset % 4 == 0 && kSourceHeightOffset % 4 == 0 && kTimestampsOffset % 4 == 0 && kImageWidthOffset % 4 == 0 && kImageHeightOffset % 4 == 0 &&
              kSingleFrameStateOffset % 4 == 0);

template <class T>
std::atomic_ref<T> Shared(uint8_t* pHeaderBytes, size_t offset)
{
    return std::atomic_ref<T>(*reinterpret_cast<T*>(pHeaderBytes + offset));
}

uint8_t* UsableHeader(const TFrameBufferView& view)
{
    uint8_t* const pBytes = reinterpret_cast<uint8_t*>(view.Header());
    return pBytes != nullptr && reinterpret_cast<uintptr_t>(pBytes) % 8 == 0 ? pBytes : nullptr;
}

}  // namespace

const char* FrameResultName(TFrameResult result)
{
    switch (result) {
    case TFrameResult::Ok:
        return "ok";
    case TFrameResult::NotReady:
        return "not-ready";
    case TFrameResult::TimedOut:
        return "timed-out";
    case TFrameResult::CapturerEnded:
        return "capturer-ended";
    case TFrameResult::SizeRefused:
        return "size-refused";
    case TFrameResult::BadLayout:
        return "bad-layout";
    case TFrameResult::Busy:
        return "busy";
    case TFrameResult::SinkFailed:
        return "sink-failed";
    case TFrameResult::Unusable:
        return "unusable";
    }
    return "unknown";
}

bool WaitPollInterval(HANDLE hCapturerProcess)
{
    if (hCapturerProcess == nullptr) {
        ::Sleep(1);
        return false;
    }
    return ::WaitForSingleObject(hCapturerProcess, 1) == WAIT_OBJECT_0;
}

TFrameClient::TFrameClient(const TRefHost& host) : TFrameClient(host.SectionBytes(), host.SectionSize()) {}

TFrameClient::TFrameClient(uint8_t* pView, uint64_t ui64ViewSize)
    : view(pView, ui64ViewSize), pHeaderBytes(UsableHeader(view))
{
}

bool TFrameClient::Request(uint32_t slot)
{
    if (!IsUsable() || slot >= kFrameSlotCount) {
        return false;
    }
    Shared<uint8_t>(pHeaderBytes, kReadyOffset + slot).store(0, std::memory_order_relaxed);
    Shared<uint8_t>(pHeaderBytes, kRequestedOffset + slot).store(1, std::memory_order_release);
    return true;
}

TFrameResult TFrameClient::RequestSingleFrame(uint32_t* pSlot)
{
    if (!IsUsable()) {
        return TFrameResult::Unusable;
    }
    // A state other than 0 is a single frame under way (perhaps another host's); writing 1 over
    // the capturer's 2 would make it advance the slot after publishing.
    if (iSingleFrameSlot >= 0 || Shared<int32_t>(pHeaderBytes, kSingleFrameStateOffset).load(std::memory_order_acquire) != 0) {
        return TFrameResult::Busy;
    }
    const uint32_t slot = ui32CurrentSlot;
    Shared<uint8_t>(pHeaderBytes, kReadyOffset + slot).store(0, std::memory_order_relaxed);
    Shared<int32_t>(pHeaderBytes, kSingleFrameStateOffset).store(1, std::memory_order_release);
    Shared<uint8_t>(pHeaderBytes, kRequestedOffset + slot).store(1, std::memory_order_release);
    iSingleFrameSlot = static_cast<int>(slot);
    *pSlot = slot;
    return TFrameResult::Ok;
}

TSlotState TFrameClient::Poll(uint32_t slot) const
{
    if (!IsUsable() || slot >= kFrameSlotCount) {
        return TSlotState::Pending;
    }
    if (Shared<uint8_t>(pHeaderBytes, kReadyOffset + slot).load(std::memory_order_acquire) != 0) {
        const bool bSingleFrameOpen =
            IsSingleFrameSlot(slot) && Shared<int32_t>(pHeaderBytes, kSingleFrameStateOffset).load(std::memory_order_acquire) != 0;
        return bSingleFrameOpen ? TSlotState::Pending : TSlotState::Ready;
    }
    if (Shared<uint8_t>(pHeaderBytes, kRequestedOffset + slot).load(std::memory_order_acquire) != 0) {
        return TSlotState::Pending;
    }
    // Taken but not yet published (the capturer is writing it), or cleared by a refusal.
    const int32_t width = Shared<int32_t>(pHeaderBytes, kImageWidthOffset).load(std::memory_order_relaxed);
    const int32_t height = Shared<int32_t>(pHeaderBytes, kImageHeightOffset).load(std::memory_order_relaxed);
    return width == 0 && height == 0 ? TSlotState::SizeRefused : TSlotState::Pending;
}

bool TFrameClient::FrameUnderWay() const
{
    if (!IsUsable()) {
        return false;
    }
    for (uint32_t slot = 0; slot < kFrameSlotCount; ++slot) {
        if (Shared<uint8_t>(pHeaderBytes, kReadyOffset + slot).load(std::memory_order_acquire) == 0 &&
            Shared<uint8_t>(pHeaderBytes, kRequestedOffset + slot).load(std::memory_order_acquire) == 0) {
            return Shared<int32_t>(pHeaderBytes, kImageWidthOffset).load(std::memory_order_relaxed) != 0 ||
                   Shared<int32_t>(pHeaderBytes, kImageHeightOffset).load(std::memory_order_relaxed) != 0;
        }
    }
    return false;
}

bool TFrameClient::LooksRefused() const
{
    if (!IsUsable()) {
        return false;
    }
    const int32_t width = Shared<int32_t>(pHeaderBytes, kImageWidthOffset).load(std::memory_order_relaxed);
    const int32_t height = Shared<int32_t>(pHeaderBytes, kImageHeightOffset).load(std::memory_order_relaxed);
    const int32_t sourceWidth = Shared<int32_t>(pHeaderBytes, kSourceWidthOffset).load(std::memory_order_relaxed);
    const int32_t sourceHeight = Shared<int32_t>(pHeaderBytes, kSourceHeightOffset).load(std::memory_order_relaxed);
    return width == 0 && height == 0 && sourceWidth != 0 && sourceHeight != 0;
}

TFrameResult TFrameClient::WaitReady(uint32_t slot, uint32_t ui32TimeoutMs, HANDLE hCapturerProcess) const
{
    if (!IsUsable() || slot >= kFrameSlotCount) {
        return TFrameResult::Unusable;
    }
    const ULONGLONG ullStart = ::GetTickCount64();
    for (;;) {
        const TSlotState state = Poll(slot);
        if (state == TSlotState::Ready) {
            return TFrameResult::Ok;
        }
        if (state == TSlotState::SizeRefused) {
            return TFrameResult::SizeRefused;
        }
        // A capture thread that refused the size ends at once and marks the capture invalidated.
        if (LooksRefused() && Shared<uint8_t>(pHeaderBytes, kCaptureInvalidatedOffset).load(std::memory_order_acquire)) {
            return TFrameResult::SizeRefused;
        }
        if (::GetTickCount64() - ullStart >= ui32TimeoutMs) {
            return LooksRefused() ? TFrameResult::SizeRefused : TFrameResult::TimedOut;
        }
        // A capturer may publish and end at once: one more look after its end.
        if (WaitPollInterval(hCapturerProcess)) {
            return Poll(slot) == TSlotState::Ready ? TFrameResult::Ok : TFrameResult::CapturerEnded;
        }
    }
}

// The image size is read once; every slot must hold it, row by row, inside the view.
TFrameResult TFrameClient::FixLayout()
{
    const int32_t width = Shared<int32_t>(pHeaderBytes, kImageWidthOffset).load(std::memory_order_relaxed);
    const int32_t height = Shared<int32_t>(pHeaderBytes, kImageHeightOffset).load(std::memory_order_relaxed);
    if (width == 0 && height == 0) {
        return TFrameResult::SizeRefused;
    }
    if (width <= 0 || height <= 0) {
        return TFrameResult::BadLayout;
    }
    for (uint32_t slot = 0; slot < kFrameSlotCount; ++slot) {
        const TAreaView area = view.FrameSlot(slot);
        if (!area.Holds(static_cast<uint32_t>(width), static_cast<uint32_t>(height)) ||
            area.ui32Width != static_cast<uint32_t>(width) || area.ui32Rows != static_cast<uint32_t>(height)) {
            return TFrameResult::BadLayout;
        }
    }
    ui32Width = static_cast<uint32_t>(width);
    ui32Height = static_cast<uint32_t>(height);
    return TFrameResult::Ok;
}

TFrameResult TFrameClient::Read(uint32_t slot, TFramePicture* pPicture, uint32_t* pTimestamp)
{
    // The pixel buffer is kept from frame to frame: a frame of the same size neither reallocates
    // nor zero-fills it before the copy overwrites every pixel.
    pPicture->ui32Width = 0;
    pPicture->ui32Height = 0;
    if (!IsUsable() || slot >= kFrameSlotCount) {
        return TFrameResult::Unusable;
    }
    if (Shared<uint8_t>(pHeaderBytes, kReadyOffset + slot).load(std::memory_order_acquire) == 0) {
        return TFrameResult::NotReady;
    }
    if (ui32Width == 0) {
        const TFrameResult layout = FixLayout();
        if (layout != TFrameResult::Ok) {
            return layout;
        }
    }
    // The area as the view checks it now: the same size as fixed, or nothing is read.
    const TAreaView area = view.FrameSlot(slot);
    if (!area.Holds(ui32Width, ui32Height) || area.ui32Width != ui32Width || area.ui32Rows != ui32Height) {
        return TFrameResult::BadLayout;
    }
    const bool bTopDown = Shared<uint8_t>(pHeaderBytes, kDontMirrorOffset).load(std::memory_order_relaxed) != 0;
    pPicture->ui32Width = ui32Width;
    pPicture->ui32Height = ui32Height;
    pPicture->vecPixels.resize(size_t{ui32Width} * ui32Height);
    for (uint32_t row = 0; row < ui32Height; ++row) {
        const uint32_t sourceRow = bTopDown ? row : ui32Height - 1 - row;
        std::memcpy(&pPicture->vecPixels[size_t{row} * ui32Width], area.pData + size_t{sourceRow} * area.ui32Stride,
                    size_t{ui32Width} * 4);
    }
    *pTimestamp = Shared<uint32_t>(pHeaderBytes, kTimestampsOffset + 4 * size_t{slot}).load(std::memory_order_relaxed);
    if (IsSingleFrameSlot(slot)) {
        iSingleFrameSlot = -1;
    } else {
        ui32CurrentSlot = (slot + 1) % kFrameSlotCount;
    }
    return TFrameResult::Ok;
}
