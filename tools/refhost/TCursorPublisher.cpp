#include "TCursorPublisher.h"

#include "framebuffer/FrameBufferView.h"

#include <chrono>
#include <cstddef>
#include <cstring>
#include <vector>

namespace {

// A pass waits this long for a signal before it looks at the offsets again.
constexpr DWORD kPassMs = 10;
// One try for the cursor mutex; a try that fails is repeated on the next pass.
constexpr DWORD kLockTryMs = 1000;

// The header's offsets are written by the capturer: loaded whole, once, through an atomic view
// (both fields are 4-byte aligned in the mapping).
uint32_t LoadU32(uint8_t* pSection, size_t offset)
{
    return std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t*>(pSection + offset)).load();
}

// The handle as the capturer keys its cache: the pointer widened with sign extension.
uint64_t HandleKey(HCURSOR hCursor)
{
    return static_cast<uint64_t>(static_cast<int64_t>(reinterpret_cast<intptr_t>(hCursor)));
}

bool Fits(const TAreaView& area, const std::vector<uint8_t>& dib)
{
    return area.IsValid() && dib.size() <= area.ui64Size;
}

}  // namespace

TCursorPublisher::TCursorPublisher(TRefHost& host, TCursorPublisherOptions publisherOptions)
    : rHost(host), options(publisherOptions)
{
}

TCursorPublisher::~TCursorPublisher()
{
    Stop();
}

bool TCursorPublisher::Start()
{
    if (thread.joinable() || rHost.SectionBytes() == nullptr) {
        return false;
    }
    hStopEvent.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!hStopEvent) {
        return false;
    }
    thread = std::thread([this] { Run(); });
    return true;
}

void TCursorPublisher::Stop()
{
    if (!thread.joinable()) {
        return;
    }
    ::SetEvent(hStopEvent.Get());
    thread.join();
}

bool TCursorPublisher::WaitPublished(uint32_t atLeast, DWORD timeoutMs) const
{
    std::unique_lock<std::mutex> lock(mutexCounts);
    return conditionCounts.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [&] { return ui32Publications >= atLeast; });
}

void TCursorPublisher::CountPublication()
{
    {
        std::lock_guard<std::mutex> lock(mutexCounts);
        ++ui32Publications;
    }
    conditionCounts.notify_all();
}

// A publication is due after each signal and each change of the offsets; one that did not get
// the mutex stays due. The offsets start as "none" (0, 0), so a layout written before Start is a
// change too.
void TCursorPublisher::Run()
{
    TOffsets published;
    bool bDue = false;
    for (;;) {
        const TWake wake = WaitForWork();
        if (wake == TWake::Stop) {
            return;
        }
        if (wake == TWake::CursorEvent) {
            ++ui32Events;
        }
        const TOffsets now = ReadOffsets();
        bDue = bDue || wake != TWake::Timeout || !(now == published);
        if (!bDue) {
            continue;
        }
        const TAttempt attempt = PublishOnce();
        if (attempt == TAttempt::Stopped) {
            return;
        }
        if (attempt != TAttempt::NotLocked) {
            bDue = false;
            published = now;
        }
    }
}

TCursorPublisher::TWake TCursorPublisher::WaitForWork() const
{
    HANDLE handles[2] = {hStopEvent.Get(), rHost.CursorEvent()};
    const DWORD count = handles[1] != nullptr ? 2 : 1;
    switch (::WaitForMultipleObjects(count, handles, FALSE, kPassMs)) {
    case WAIT_OBJECT_0:
        return TWake::Stop;
    case WAIT_OBJECT_0 + 1:
        return TWake::CursorEvent;
    case WAIT_TIMEOUT:
        return TWake::Timeout;
    default:
        // A failed wait would spin; the stop event is asked alone so that Stop still ends it.
        return ::WaitForSingleObject(hStopEvent.Get(), kPassMs) == WAIT_OBJECT_0 ? TWake::Stop : TWake::Timeout;
    }
}

TCursorPublisher::TOffsets TCursorPublisher::ReadOffsets() const
{
    uint8_t* pSection = rHost.SectionBytes();
    TOffsets offsets;
    offsets.ui32Colour = LoadU32(pSection, offsetof(TFrameBufferHeader, ui32CursorColorBitmapOffset));
    offsets.ui32Mask = LoadU32(pSection, offsetof(TFrameBufferHeader, ui32CursorMaskBitmapOffset));
    return offsets;
}

TCursorPublisher::TAttempt TCursorPublisher::PublishOnce()
{
    CURSORINFO info{};
    info.cbSize = sizeof info;
    if (!::GetCursorInfo(&info)) {
        info = CURSORINFO{};  // published as no cursor
        info.cbSize = sizeof info;
    }
    HANDLE hMutex = rHost.CursorMutex();
    DWORD dwWait = WAIT_OBJECT_0;
    if (hMutex != nullptr) {
        HANDLE handles[2] = {hStopEvent.Get(), hMutex};
        const DWORD dwResult = ::WaitForMultipleObjects(2, handles, FALSE, kLockTryMs);
        if (dwResult == WAIT_OBJECT_0) {
            return TAttempt::Stopped;
        }
        dwWait = dwResult == WAIT_OBJECT_0 + 1 ? WAIT_OBJECT_0
                 : dwResult == WAIT_ABANDONED_0 + 1 ? WAIT_ABANDONED
                                                     : WAIT_TIMEOUT;
    }
    // The live picture and the mutex's release are both tied to this scope.
    const TMutexOwnership ownership(hMutex, dwWait);
    if (hMutex != nullptr && !ownership.IsOwned()) {
        return TAttempt::NotLocked;
    }
    if (!WriteBlock(info)) {
        return TAttempt::Refused;
    }
    CountPublication();
    return TAttempt::Published;
}

// Under the cursor mutex. Both areas are checked before anything is written, so a refused attempt
// leaves the block as it was.
bool TCursorPublisher::WriteBlock(const CURSORINFO& info)
{
    const refcursor::TCursorPicture picture = options.picture;
    const TFrameBufferView view(rHost.SectionBytes(), rHost.SectionSize());
    TFrameBufferHeader* pHeader = view.Header();
    const TAreaView colourArea = view.CursorColorBitmap();
    const TAreaView maskArea = view.CursorMaskBitmap();
    const std::vector<uint8_t> colourDib = refcursor::ColourBitmapOf(picture);
    const std::vector<uint8_t> maskDib = refcursor::MaskBitmapOf(picture);
    if (pHeader == nullptr || !Fits(colourArea, colourDib) || !Fits(maskArea, maskDib)) {
        return false;
    }
    if (!colourDib.empty()) {
        std::memcpy(colourArea.pData, colourDib.data(), colourDib.size());
    }
    if (!maskDib.empty()) {
        std::memcpy(maskArea.pData, maskDib.data(), maskDib.size());
    }
    const bool bNone = picture == refcursor::TCursorPicture::None;
    pHeader->ui64CursorHandle = bNone ? 0 : HandleKey(info.hCursor);
    pHeader->iCursorX = info.ptScreenPos.x;
    pHeader->iCursorY = info.ptScreenPos.y;
    pHeader->ui32CursorFlags = info.flags;
    pHeader->bCursorColorBitmap = colourDib.empty() ? 0 : 1;
    pHeader->bCursorMaskBitmap = maskDib.empty() ? 0 : 1;
    pHeader->iCursorHotspotX = options.iHotspotX;
    pHeader->iCursorHotspotY = options.iHotspotY;
    return true;
}
