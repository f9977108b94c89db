#include "FakeCapturer.h"

#include "FrameEncoding.h"
#include "framebuffer/FrameBufferView.h"
#include "ipc/HostObjectNames.h"
#include "ipc/WideText.h"

#include <cstddef>
#include <cstring>

namespace refhost_test {

namespace {

constexpr ULONGLONG kSectionWaitMs = 30000;
constexpr ULONGLONG kAllRequestsWaitMs = 10000;

template <class T>
std::atomic_ref<T> Field(TMappedView& view, size_t offset)
{
    return std::atomic_ref<T>(*reinterpret_cast<T*>(view.Bytes() + offset));
}

std::atomic_ref<uint8_t> Ready(TMappedView& view, uint32_t slot)
{
    return Field<uint8_t>(view, offsetof(TFrameBufferHeader, bFrameReady) + slot);
}

std::atomic_ref<uint8_t> Requested(TMappedView& view, uint32_t slot)
{
    return Field<uint8_t>(view, offsetof(TFrameBufferHeader, bFrameRequested) + slot);
}

std::atomic_ref<int32_t> SingleFrameState(TMappedView& view)
{
    return Field<int32_t>(view, offsetof(TFrameBufferHeader, iSingleFrameState));
}

uint32_t RequestsNow(TMappedView& view)
{
    uint32_t count = 0;
    for (uint32_t slot = 0; slot < kFrameSlotCount; ++slot) {
        count += Requested(view, slot).load(std::memory_order_acquire) != 0 ? 1 : 0;
    }
    return count;
}

}  // namespace

TFakeCapturer::TFakeCapturer(TFakeCapturerOptions fakeOptions) : options(std::move(fakeOptions)) {}

TFakeCapturer::~TFakeCapturer()
{
    Stop();
}

void TFakeCapturer::Start()
{
    thread = std::thread([this] { Run(); });
}

void TFakeCapturer::Stop()
{
    bStop = true;
    if (thread.joinable()) {
        thread.join();
    }
}

bool TFakeCapturer::WaitLaidOut(uint32_t ui32TimeoutMs) const
{
    const ULONGLONG ullStart = ::GetTickCount64();
    while (!bLaidOut.load()) {
        if (::GetTickCount64() - ullStart >= ui32TimeoutMs || !Error().empty()) {
            return false;
        }
        ::Sleep(1);
    }
    return true;
}

std::vector<uint32_t> TFakeCapturer::SlotsServed() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return vecSlots;
}

std::string TFakeCapturer::Error() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return strError;
}

void TFakeCapturer::Fail(const std::string& text)
{
    std::lock_guard<std::mutex> lock(mutex);
    strError = text;
}

uint32_t TFakeCapturer::PatternPixel(uint32_t x, uint32_t y, uint32_t frame)
{
    // Column, row and frame each in a channel of their own; the high bits of the coordinates in
    // alpha, so no two pixels of a picture up to 1024 x 1024 are equal.
    const uint32_t alpha = 0x80 | ((x >> 8) & 0x3) | ((y >> 8) & 0x3) << 2;
    return BgraPixel(static_cast<uint8_t>(x), static_cast<uint8_t>(y), static_cast<uint8_t>(frame * 37 + 11),
                     static_cast<uint8_t>(alpha));
}

void TFakeCapturer::Run()
{
    TKernelHandle hStartedEvent;
    if (options.bSetStartedCorrectly && !WaitForObject([&] {
            hStartedEvent.Reset(::OpenEventW(EVENT_MODIFY_STATE, FALSE, kStartedCorrectlyEventName));
            return hStartedEvent.IsValid();
        })) {
        return;
    }
    if (!WaitForObject([this] {
            hMapping.Reset(::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, kFrameBufferMappingName));
            return hMapping.IsValid();
        }) ||
        !MapSection()) {
        return;
    }
    LayOut();
    if (options.bAskForCursorOnce && !AskForCursor()) {
        return;
    }
    bLaidOut = true;
    if (hStartedEvent && !::SetEvent(hStartedEvent.Get())) {
        Fail("started-correctly event: error " + std::to_string(::GetLastError()));
        return;
    }
    Serve();
}

// Polls `open` until it succeeds (up to 30 s, or until stopped). A host that is still creating
// its objects has filled the header once its events exist: it creates them after the section.
bool TFakeCapturer::WaitForObject(const std::function<bool()>& open)
{
    const ULONGLONG ullStart = ::GetTickCount64();
    while (!open()) {
        if (bStop.load() || ::GetTickCount64() - ullStart >= kSectionWaitMs) {
            Fail("the host's objects did not appear");
            return false;
        }
        ::Sleep(1);
    }
    return true;
}

bool TFakeCapturer::MapSection()
{
    view = TMappedView(::MapViewOfFile(hMapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, 0), 0);
    MEMORY_BASIC_INFORMATION info{};
    if (!view || ::VirtualQuery(view.Get(), &info, sizeof info) == 0) {
        Fail("the section cannot be mapped");
        return false;
    }
    ui64SectionSize = info.RegionSize;
    return true;
}

void TFakeCapturer::LayOut()
{
    TFrameBufferHeader& header = *view.As<TFrameBufferHeader>();
    header.iSourceWidth = 1920;
    header.iSourceHeight = 1080;
    if (options.bRefuseSize) {
        header.iImageWidth = 0;
        header.iImageHeight = 0;
        header.bLayoutValid = 0;
        for (uint32_t slot = 0; slot < kFrameSlotCount; ++slot) {
            Ready(view, slot).store(0);
            Requested(view, slot).store(0);
        }
        return;
    }
    header.iImageWidth = options.iImageWidth;
    header.iImageHeight = options.iImageHeight;
    uint32_t ui32Total = 0;
    if (header.CalculateImagesOffsets(ui32Total) != TLayoutResult::Ok || ui32Total > ui64SectionSize) {
        Fail("the layout does not fit the section");
    }
    for (uint32_t slot = 0; slot < kFrameSlotCount; ++slot) {
        Ready(view, slot).store(0);
    }
}

bool TFakeCapturer::WaitCursorFlag(uint8_t value)
{
    const ULONGLONG ullStart = ::GetTickCount64();
    while (Field<uint8_t>(view, offsetof(TFrameBufferHeader, bCursorColorBitmap)).load() != value) {
        if (bStop.load() || ::GetTickCount64() - ullStart >= kSectionWaitMs) {
            Fail("the host published no cursor");
            return false;
        }
        ::Sleep(1);
    }
    return true;
}

bool TFakeCapturer::AskForCursor()
{
    const TFrameBufferHeader& header = *view.As<TFrameBufferHeader>();
    const std::wstring eventName = ToWide(ReadHeaderWideString(header, ZYR_WIDE_FIELD(wszCursorEventName)));
    const std::wstring mutexName = ToWide(ReadHeaderWideString(header, ZYR_WIDE_FIELD(wszCursorMutexName)));
    const TKernelHandle hEvent(::OpenEventW(EVENT_MODIFY_STATE, FALSE, eventName.c_str()));
    const TKernelHandle hMutex(::OpenMutexW(SYNCHRONIZE, FALSE, mutexName.c_str()));
    if (!hEvent || !hMutex) {
        Fail("the cursor event or mutex cannot be opened");
        return false;
    }
    if (!WaitCursorFlag(1)) {
        return false;
    }
    {
        const TMutexOwnership lock(hMutex.Get(), ::WaitForSingleObject(hMutex.Get(), static_cast<DWORD>(kSectionWaitMs)));
        if (!lock.IsOwned()) {
            Fail("the cursor mutex was not granted");
            return false;
        }
        Field<uint8_t>(view, offsetof(TFrameBufferHeader, bCursorColorBitmap)).store(0);
    }
    ::SetEvent(hEvent.Get());
    return WaitCursorFlag(1);
}

void TFakeCapturer::Serve()
{
    if (options.bRefuseSize && !options.bServeAfterRefusal) {
        return;
    }
    const ULONGLONG ullStart = ::GetTickCount64();
    while (options.bWaitForAllSixRequests && RequestsNow(view) < kFrameSlotCount) {
        if (bStop.load() || ::GetTickCount64() - ullStart >= kAllRequestsWaitMs) {
            Fail("the six slots were not requested together");
            return;
        }
        ::Sleep(1);
    }
    uint32_t slot = 0;
    uint64_t ui64WarmUpStart = 0;
    while (!bStop.load()) {
        if (!ServeOne(&slot, &ui64WarmUpStart)) {
            ::Sleep(1);
        }
    }
}

// One pass of the capture loop; false when there was nothing to do.
bool TFakeCapturer::ServeOne(uint32_t* pSlot, uint64_t* pWarmUpStart)
{
    TFrameBufferHeader& header = *view.As<TFrameBufferHeader>();
    const uint32_t slot = *pSlot;
    const bool bCaptureEnabled = Field<uint8_t>(view, offsetof(TFrameBufferHeader, bCaptureEnabled)).load() != 0;
    if ((!bCaptureEnabled && SingleFrameState(view).load() != 1) || Requested(view, slot).load(std::memory_order_acquire) == 0) {
        return false;
    }
    ui32MostRequests = std::max(ui32MostRequests.load(), RequestsNow(view));
    if (*pWarmUpStart == 0) {
        *pWarmUpStart = ::GetTickCount64();
    }
    if (::GetTickCount64() - *pWarmUpStart < options.ui32WarmUpMs) {
        return false;
    }
    int32_t expected = 1;
    SingleFrameState(view).compare_exchange_strong(expected, 2);
    if (Ready(view, slot).load() != 0) {
        ++ui32ReadyNotCleared;
    }
    Requested(view, slot).store(0);
    const uint32_t frame = ui32Published.load();
    if (options.corruptLayout && frame == options.ui32CorruptBeforeFrame) {
        options.corruptLayout(header, ui64SectionSize);
    }
    WritePattern(slot, frame);
    Field<uint32_t>(view, offsetof(TFrameBufferHeader, ui32FrameTimestamps) + 4 * size_t{slot}).store(TimestampOf(frame));
    Ready(view, slot).store(1, std::memory_order_release);
    {
        std::lock_guard<std::mutex> lock(mutex);
        vecSlots.push_back(slot);
    }
    ++ui32Published;
    expected = 2;
    if (!SingleFrameState(view).compare_exchange_strong(expected, 0)) {
        *pSlot = (slot + 1) % kFrameSlotCount;
    }
    return true;
}

// Through the fake's own checked view: a corrupted layout gets no pixels, as a capturer's checked
// write would not either.
void TFakeCapturer::WritePattern(uint32_t slot, uint32_t frame)
{
    const TFrameBufferView frames(view.Bytes(), ui64SectionSize);
    const TAreaView area = frames.FrameSlot(slot);
    if (!area.IsValid()) {
        return;
    }
    const bool bTopDown = view.As<TFrameBufferHeader>()->bDontMirrorFrames != 0;
    for (uint32_t y = 0; y < area.ui32Rows; ++y) {
        const uint32_t memoryRow = bTopDown ? y : area.ui32Rows - 1 - y;
        uint8_t* const pRow = area.pData + size_t{memoryRow} * area.ui32Stride;
        for (uint32_t x = 0; x < area.ui32Width; ++x) {
            const uint32_t pixel = PatternPixel(x, y, frame);
            std::memcpy(pRow + 4 * size_t{x}, &pixel, 4);
        }
    }
}

}  // namespace refhost_test
