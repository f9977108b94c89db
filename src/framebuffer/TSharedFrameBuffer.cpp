#include "framebuffer/TSharedFrameBuffer.h"

#include "ipc/HostObjectNames.h"
#include "log/Log.h"

#include <cstring>
#include <limits>

namespace {

constexpr const char kRealloc[] = "TZYRFullscreenCapturer::TestAndReallocSharedBuffers";
constexpr const char kReallocInternal[] = "TZYRFullscreenCapturer::TestAndReallocSharedBuffersInternal";

// The order in which every holder of all four overlay mutexes takes (and releases) them.
constexpr int kLockOrder[] = {kAccessMutexHUD, kAccessMutexWebCam, kAccessMutexRadialMenu,
                              kAccessMutexWebCamBackground};

// The capacity test compares the products in 32-bit signed arithmetic; a product that does not fit
// 32 bits, or a negative size, is refused as too large.
bool FitsCapacity(int32_t maxWidth, int32_t maxHeight, int32_t width, int32_t height)
{
    if (width < 0 || height < 0) {
        return false;
    }
    const int64_t capacity = static_cast<int64_t>(maxWidth) * maxHeight;
    const int64_t need = static_cast<int64_t>(width) * height;
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
    if (need > kMax || capacity > kMax || capacity < kMin) {
        return false;
    }
    return capacity >= need;
}

// The host's capacity, read once; a refusal names it, so a host can tell its own bad value.
bool RefusesCapacity(const TFrameBufferHeader& header, int32_t width, int32_t height)
{
    const int32_t maxWidth = header.iMaxWidth;
    const int32_t maxHeight = header.iMaxHeight;
    if (FitsCapacity(maxWidth, maxHeight, width, height)) {
        return false;
    }
    LogWarning("%s the capacity %d x %d does not hold %d x %d", kReallocInternal, static_cast<int>(maxWidth),
               static_cast<int>(maxHeight), static_cast<int>(width), static_cast<int>(height));
    return true;
}

void ClearSlotFlags(uint8_t* flags)
{
    std::memset(flags, 0, kFrameSlotCount);
}

}  // namespace

bool TSharedFrameBuffer::OpenSection(const wchar_t* name)
{
    hFrameBufferFileMapping.Reset(::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, name));
    return hFrameBufferFileMapping.IsValid();
}

bool TSharedFrameBuffer::MapHeader()
{
    pFrameBufferHeader = TMappedView(
        ::MapViewOfFile(hFrameBufferFileMapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, kFrameBufferHeaderSize),
        kFrameBufferHeaderSize);
    return static_cast<bool>(pFrameBufferHeader);
}

void TSharedFrameBuffer::Close()
{
    pFrameBufferHeader.Reset();
    hFrameBufferFileMapping.Reset();
}

TReallocOutcome TSharedFrameBuffer::TestAndReallocSharedBuffers(int32_t width, int32_t height,
                                                                const TAccessMutexes& mutexes)
{
    const TFrameBufferHeader* pHeader = Header();
    LogInfo("%s old dim (%d, %d), new dim (%d, %d)", kRealloc, pHeader ? pHeader->iImageWidth : 0,
            pHeader ? pHeader->iImageHeight : 0, width, height);
    bool bAllLocked = true;
    for (int key : kLockOrder) {
        const auto it = mutexes.find(key);
        if (it == mutexes.end() || it->second == nullptr || !it->second->Lock(INFINITE)) {
            bAllLocked = false;
            break;
        }
    }
    TReallocOutcome outcome = TReallocOutcome::NotLocked;
    if (bAllLocked) {
        outcome = TestAndReallocSharedBuffersInternal(width, height);
    }
    // Every mutex is released, also those never taken: a refused release logs its error line.
    // (An abandoned mutex failed its lock but was granted, so releasing it is right.)
    for (int key : kLockOrder) {
        const auto it = mutexes.find(key);
        if (it != mutexes.end() && it->second != nullptr && it->second->Get() != nullptr) {
            it->second->Unlock();
        }
    }
    LogInfo("%s exit", kRealloc);
    return Header() == nullptr ? TReallocOutcome::NoView : outcome;
}

TReallocOutcome TSharedFrameBuffer::TestAndReallocSharedBuffersInternal(int32_t width, int32_t height)
{
    LogInfo("%s", kReallocInternal);
    TReallocOutcome outcome = TReallocOutcome::LaidOut;
    TFrameBufferHeader* pHeader = Header();
    if (pHeader == nullptr) {
        LogError("%s no view of the frame buffer", kReallocInternal);
        outcome = TReallocOutcome::NoView;
    } else if (RefusesCapacity(*pHeader, width, height)) {
        LogWarning("The frame dimensions are too large.");
        RefuseLayout(*pHeader);
        outcome = TReallocOutcome::Refused;
    } else if (NeedsNewLayout(*pHeader, width, height)) {
        pHeader->bLayoutValid = 0;
        pHeader->iImageWidth = width;
        pHeader->iImageHeight = height;
        // The total as the layout computed it, not as read back from memory the host can write;
        // a layout the section cannot hold is refused before it is written.
        uint32_t ui32Size = 0;
        const uint64_t ui64SectionSize = QuerySectionSize();
        const TLayoutResult result = pHeader->CalculateImagesOffsets(ui32Size, ui64SectionSize);
        if (result == TLayoutResult::Overflow) {
            LogWarning("%s the layout of %d x %d does not fit 32-bit offsets", kReallocInternal, width, height);
            LogWarning("The frame dimensions are too large.");
            RefuseLayout(*pHeader);
            outcome = TReallocOutcome::Refused;
        } else if (result == TLayoutResult::BeyondLimit) {
            LogWarning("%s the section holds %llu bytes, the layout needs %u", kReallocInternal,
                       static_cast<unsigned long long>(ui64SectionSize), ui32Size);
            LogWarning("The frame dimensions are too large.");
            RefuseLayout(*pHeader);
            outcome = TReallocOutcome::Refused;
        } else {
            Remap(ui32Size);
        }
    }
    LogInfo("%s exit", kReallocInternal);
    return outcome;
}

// A new size, or the same size while the view does not cover the layout yet (a host that filled in
// the image size itself leaves the view at the header's size).
bool TSharedFrameBuffer::NeedsNewLayout(const TFrameBufferHeader& header, int32_t width, int32_t height) const
{
    if (width != header.iImageWidth || height != header.iImageHeight) {
        return true;
    }
    const uint32_t ui32Total = header.ui32TotalSize;
    return ui32Total < kFirstImageAreaOffset || ui32Total > pFrameBufferHeader.Size();
}

void TSharedFrameBuffer::RefuseLayout(TFrameBufferHeader& header)
{
    header.bLayoutValid = 0;
    header.iImageWidth = 0;
    header.iImageHeight = 0;
    ClearSlotFlags(header.bFrameReady);
    ClearSlotFlags(header.bFrameRequested);
}

void TSharedFrameBuffer::Remap(uint32_t ui32Size)
{
    pFrameBufferHeader.Reset();
    LogInfo("%s trying to map %lu bytes", kReallocInternal, static_cast<unsigned long>(ui32Size));
    pFrameBufferHeader =
        TMappedView(::MapViewOfFile(hFrameBufferFileMapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, ui32Size), ui32Size);
    if (!pFrameBufferHeader) {
        LogError("%s Unable to map file mapping object error %d.", kReallocInternal, static_cast<int>(::GetLastError()));
        return;
    }
    // Requests survive the re-map; frames laid out for the old size do not.
    ClearSlotFlags(Header()->bFrameReady);
    // Every slot must now be reachable through the checked accessor; one that is not stays
    // unusable for the capture thread, which takes its pointers the same way.
    const TFrameBufferView view = View();
    for (size_t slot = 0; slot < kFrameSlotCount; ++slot) {
        if (Header()->iImageHeight > 0 && !view.FrameSlot(slot).IsValid()) {
            LogError("%s frame slot %d lies outside the mapped %lu bytes", kReallocInternal, static_cast<int>(slot),
                     static_cast<unsigned long>(ui32Size));
        }
    }
}

// The section's size, asked of the section itself: nothing is mapped, so a host section of any
// capacity (1.8 GB in a 32-bit process) is measured. 0 (every layout refused) when it cannot be
// asked, after an error line.
uint64_t TSharedFrameBuffer::QuerySectionSize() const
{
    struct TSectionBasicInformation {
        void* pBaseAddress;
        ULONG ulAttributes;
        LARGE_INTEGER size;
    };
    using TNtQuerySection = LONG(NTAPI*)(HANDLE, int, void*, SIZE_T, SIZE_T*);
    constexpr int kSectionBasicInformation = 0;
    static const auto pfnQuery = reinterpret_cast<TNtQuerySection>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySection")));
    TSectionBasicInformation info{};
    const LONG status = pfnQuery != nullptr ? pfnQuery(hFrameBufferFileMapping.Get(), kSectionBasicInformation, &info,
                                                       sizeof info, nullptr)
                                            : -1;
    if (status < 0) {
        LogError("%s the size of the frame buffer section is unknown (status %x)", kReallocInternal,
                 static_cast<unsigned>(status));
        return 0;
    }
    return static_cast<uint64_t>(info.size.QuadPart);
}
