#include "cursor/TDrawMouseCursor.h"

#include "cursor/CursorGeometry.h"
#include "ipc/TZYRMutexLock.h"
#include "ipc/WideText.h"
#include "log/Log.h"

#include <cstring>
#include <utility>

namespace {
constexpr const char kName[] = "TDrawMouseCursor::DrawCursor";
constexpr const char kCheckName[] = "TDrawMouseCursor::CheckMouseCursorSyncObjects";
// The drawing step's lines carry the name of the function object that does it inside DrawCursor.
constexpr const char kDrawStepName[] = "TDrawMouseCursor::DrawCursor::<lambda_1>::operator ()";
constexpr DWORD kCursorMutexTimeoutMs = 200;

// The cursor handle as the cache's key: widened to 64 bits with sign extension, so a 32-bit and a
// 64-bit process agree on the value the host publishes.
uint64_t CursorKey(HCURSOR hCursor)
{
    return static_cast<uint64_t>(static_cast<int64_t>(reinterpret_cast<intptr_t>(hCursor)));
}
}  // namespace

// The frame DrawCursor was given, with its placement parameters.
struct TDrawMouseCursor::TFrame {
    uint8_t* pImage;
    int32_t iWidth;
    int32_t iHeight;
    uint32_t ui32Stride;
    int32_t iOffsetX;
    int32_t iOffsetY;
    bool bMirror;
    double dScaleX;
    double dScaleY;
};

// What the host published, read under the cursor mutex; all zero and no bitmaps when the mutex
// was not obtained or nothing was published.
struct TDrawMouseCursor::TPublishedCursor {
    uint64_t ui64Key = 0;
    int32_t iX = 0;
    int32_t iY = 0;
    int32_t iHotspotX = 0;
    int32_t iHotspotY = 0;
    std::unique_ptr<TZYRWindowsBitmap> pColour;
    std::unique_ptr<TZYRWindowsBitmap> pMask;
};

TDrawMouseCursor::TDrawMouseCursor(const TFrameBufferView& frameBuffer)
    : pFrameBufferHeader(frameBuffer.Header()), FrameBufferView(frameBuffer), ScratchBitmap(1, 1, 32, 0, nullptr)
{
    LogInfo("%s", "TDrawMouseCursor::TDrawMouseCursor");
    LogInfo("%s exit", "TDrawMouseCursor::TDrawMouseCursor");
}

TDrawMouseCursor::~TDrawMouseCursor()
{
    LogInfo("%s", "TDrawMouseCursor::~TDrawMouseCursor");
    LogInfo("%s exit", "TDrawMouseCursor::~TDrawMouseCursor");
    // The members go in reverse order: the scratch, the cache with its icons, the event, the mutex.
}

bool TDrawMouseCursor::CheckMouseCursorSyncObjects()
{
    LogVerbose("%s", kCheckName);
    if (pFrameBufferHeader != nullptr && !pMouseCursorMutex) {
        const std::wstring name = ToWide(ReadHeaderWideString(*pFrameBufferHeader, ZYR_WIDE_FIELD(wszCursorMutexName)));
        pMouseCursorMutex = std::make_shared<TZYRMutex>(name.c_str());
    }
    if (pFrameBufferHeader != nullptr && !pMouseCursorEvent) {
        const std::wstring name = ToWide(ReadHeaderWideString(*pFrameBufferHeader, ZYR_WIDE_FIELD(wszCursorEventName)));
        pMouseCursorEvent = std::make_unique<TZYREvent>(EVENT_MODIFY_STATE, name.c_str());
    }
    if (pMouseCursorMutex && pMouseCursorMutex->Get() != nullptr && pMouseCursorEvent &&
        pMouseCursorEvent->Get() != nullptr) {
        LogVerbose("%s exit with %d", kCheckName, 1);
        return true;
    }
    LogError("%s mutex and event error", kCheckName);
    LogVerbose("%s exit with %d", kCheckName, 0);
    return false;
}

void TDrawMouseCursor::DrawCursor(uint8_t* pImage, int32_t iWidth, int32_t iHeight, uint32_t ui32Stride,
                                  int32_t iOffsetX, int32_t iOffsetY, bool bDontMirrorFrames, double dScaleX,
                                  double dScaleY)
{
    LogVerbose("%s w %d, h %d, p %d, s %f-%f, ox %d, oy %d", kName, static_cast<int>(iWidth),
               static_cast<int>(iHeight), static_cast<int>(ui32Stride), dScaleX, dScaleY, static_cast<int>(iOffsetX),
               static_cast<int>(iOffsetY));
    covered.pImage = nullptr;
    if (pImage == nullptr || !CheckMouseCursorSyncObjects()) {
        return;
    }
    CURSORINFO info = {};
    info.cbSize = sizeof(info);
    if (!::GetCursorInfo(&info)) {
        LogError("%s GetCursorInfo error %d", kName, static_cast<int>(::GetLastError()));
        info = CURSORINFO{};
    }
    if ((info.flags & CURSOR_SHOWING) == 0) {
        LogVerbose("%s the cursor is invisible", kName);
        LogVerbose("%s exit", kName);
        return;
    }
    LogVerbose("%s the cursor is visible and handle %p", kName, static_cast<void*>(info.hCursor));
    if (info.hCursor == nullptr) {
        LogVerbose("%s hCursor is null", kName);
        LogVerbose("%s exit", kName);
        return;
    }
    const TFrame frame{pImage, iWidth, iHeight, ui32Stride, iOffsetX, iOffsetY, bDontMirrorFrames, dScaleX, dScaleY};
    const uint64_t ui64Key = CursorKey(info.hCursor);
    LogVerbose("%s checking the mouse cursor %I64x in cache", kName, static_cast<unsigned long long>(ui64Key));
    const auto it = mapCursorCache.find(ui64Key);
    if (it != mapCursorCache.end()) {
        LogVerbose("%s the mouse cursor %I64x found in cache", kName, static_cast<unsigned long long>(it->first));
        const TCursorCacheEntry& entry = it->second;
        DrawIcon(frame, entry.hIcon.Get(), entry.iWidth, entry.iHeight, info.ptScreenPos.x, info.ptScreenPos.y,
                 entry.iHotspotX, entry.iHotspotY);
        return;
    }
    DrawFromHost(frame);
}

// A cursor not seen before: the host is asked for it, whatever the block holds now becomes an
// icon, is drawn at the published position and cached under the published handle.
void TDrawMouseCursor::DrawFromHost(const TFrame& frame)
{
    pMouseCursorEvent->SetEvent();
    TPublishedCursor cursor = ReadPublishedCursor();
    const cursorgeo::TCursorSize size =
        cursorgeo::CursorSizeOf(cursor.pColour != nullptr, cursor.pColour ? cursor.pColour->Width() : 0,
                                cursor.pColour ? cursor.pColour->Height() : 0, cursor.pMask != nullptr,
                                cursor.pMask ? cursor.pMask->Width() : 0, cursor.pMask ? cursor.pMask->Height() : 0);
    // The icon holds copies of both bitmaps: ours are deleted once it is made.
    TGdiBitmap hMask = cursor.pMask ? cursor.pMask->DetachBitmap() : TGdiBitmap{};
    TGdiBitmap hColour = cursor.pColour ? cursor.pColour->DetachBitmap() : TGdiBitmap{};
    ICONINFO iconInfo = {};
    iconInfo.fIcon = FALSE;
    iconInfo.xHotspot = static_cast<DWORD>(cursor.iHotspotX);
    iconInfo.yHotspot = static_cast<DWORD>(cursor.iHotspotY);
    iconInfo.hbmMask = hMask.Get();
    iconInfo.hbmColor = hColour.Get();
    TIcon hIcon(::CreateIconIndirect(&iconInfo));
    if (hIcon) {
        LogVerbose("%s cursor created", kName);
    } else {
        LogError("%s CreateIconIndirect error %d", kName, static_cast<int>(::GetLastError()));
    }
    hMask.Reset();
    hColour.Reset();
    if (hIcon) {
        DrawIcon(frame, hIcon.Get(), size.iWidth, size.iHeight, cursor.iX, cursor.iY, cursor.iHotspotX,
                 cursor.iHotspotY);
        LogVerbose("%s the mouse cursor %I64x inserted in the cache", kName,
                   static_cast<unsigned long long>(cursor.ui64Key));
        // A key already cached keeps its entry; the new icon is then destroyed with the argument.
        mapCursorCache.try_emplace(cursor.ui64Key, TCursorCacheEntry{std::move(hIcon), cursor.iHotspotX,
                                                                     cursor.iHotspotY, size.iWidth, size.iHeight});
    }
    LogVerbose("%s exit", kName);
}

TDrawMouseCursor::TPublishedCursor TDrawMouseCursor::ReadPublishedCursor()
{
    TPublishedCursor cursor;
    const TZYRMutexLock lock(true, kCursorMutexTimeoutMs, pMouseCursorMutex);
    if (!lock.bLocked) {
        LogVerbose("%s the cursor block was not readable within %d ms", kName, static_cast<int>(kCursorMutexTimeoutMs));
        return cursor;
    }
    const TFrameBufferHeader& header = *pFrameBufferHeader;
    const uint64_t ui64Handle = header.ui64CursorHandle;
    if (ui64Handle == 0) {
        return cursor;
    }
    cursor.ui64Key = ui64Handle;
    cursor.iX = header.iCursorX;
    cursor.iY = header.iCursorY;
    cursor.iHotspotX = header.iCursorHotspotX;
    cursor.iHotspotY = header.iCursorHotspotY;
    LogVerbose("%s handle %I64d at %dx%d f %d", kName, static_cast<long long>(ui64Handle), static_cast<int>(cursor.iX),
               static_cast<int>(cursor.iY), static_cast<int>(header.ui32CursorFlags));
    if (header.bCursorColorBitmap != 0) {
        cursor.pColour = ReadBitmap(FrameBufferView.CursorColorBitmap(), "colour");
    }
    if (header.bCursorMaskBitmap != 0) {
        cursor.pMask = ReadBitmap(FrameBufferView.CursorMaskBitmap(), "mask");
    }
    return cursor;
}

std::unique_ptr<TZYRWindowsBitmap> TDrawMouseCursor::ReadBitmap(const TAreaView& area, const char* pWhich)
{
    if (!area.IsValid()) {
        LogError("%s the cursor %s bitmap area lies outside the frame buffer", kName, pWhich);
        return nullptr;
    }
    return TZYRWindowsBitmap::CreateBitmapFromMemory(area.pData, static_cast<size_t>(area.ui64Size));
}

void TDrawMouseCursor::DrawIcon(const TFrame& frame, HICON hIcon, int32_t iWidth, int32_t iHeight, int32_t iPointerX,
                                int32_t iPointerY, int32_t iHotspotX, int32_t iHotspotY)
{
    LogVerbose("%s the cursor w %d, h %d at (%d, %d)", kDrawStepName, static_cast<int>(iWidth),
               static_cast<int>(iHeight), static_cast<int>(iPointerX), static_cast<int>(iPointerY));
    const cursorgeo::TCursorSize scaled =
        cursorgeo::ScaledCursorSize(iWidth, iHeight, frame.dScaleX, frame.dScaleY);
    LogVerbose("%s the cursor scaled w %d, h %d", kDrawStepName, static_cast<int>(scaled.iWidth),
               static_cast<int>(scaled.iHeight));
    if (scaled.iWidth <= 0 || scaled.iHeight <= 0) {
        return;  // no pixel to draw
    }
    PrepareScratch(scaled.iWidth, scaled.iHeight);
    LogVerbose("%s hwnd is null", kDrawStepName);
    const cursorgeo::TCursorPlacement place =
        cursorgeo::PlaceCursor(iPointerX, iPointerY, iHotspotX, iHotspotY, frame.dScaleX, frame.dScaleY,
                               frame.iOffsetX, frame.iOffsetY, frame.bMirror, frame.iHeight, scaled.iHeight);
    LogVerbose("%s the cursor new posx %d, posy %d, hotspot (%d, %d)", kDrawStepName, static_cast<int>(place.iX),
               static_cast<int>(place.iY), static_cast<int>(iHotspotX), static_cast<int>(iHotspotY));
    if (frame.bMirror) {
        LogVerbose("%s the cursor mirrored posy %d", kDrawStepName, static_cast<int>(place.iRow));
    }
    const int32_t iScratchWidth = ScratchBitmap.Width();
    const int32_t iScratchHeight = ScratchBitmap.Height();
    const uint32_t ui32ScratchStride = static_cast<uint32_t>(iScratchWidth) * 4;
    cursorgeo::CopyImageRect(frame.pImage, frame.iWidth, frame.iHeight, frame.ui32Stride, ScratchBitmap.Bits(),
                             iScratchWidth, iScratchHeight, ui32ScratchStride, place.iX, place.iRow, 0, 0,
                             scaled.iWidth, scaled.iHeight, frame.bMirror);
    RememberCovered(frame, place.iX, place.iRow, scaled.iWidth, scaled.iHeight);
    if (!::DrawIconEx(ScratchBitmap.DC(), 0, 0, hIcon, scaled.iWidth, scaled.iHeight, 0, nullptr, DI_NORMAL)) {
        LogError("%s DrawIconEx error %d", kDrawStepName, static_cast<int>(::GetLastError()));
    }
    ::GdiFlush();  // the scratch's pixels are read directly next
    cursorgeo::CopyImageRect(ScratchBitmap.Bits(), iScratchWidth, iScratchHeight, ui32ScratchStride, frame.pImage,
                             frame.iWidth, frame.iHeight, frame.ui32Stride, 0, 0, place.iX, place.iRow,
                             scaled.iWidth, scaled.iHeight, frame.bMirror);
}

// The scratch holds the frame's pixels under the cursor now: kept, for RestoreCovered.
void TDrawMouseCursor::RememberCovered(const TFrame& frame, int32_t iX, int32_t iRow, int32_t iWidth, int32_t iHeight)
{
    const size_t nBytes = ScratchBitmap.ImageSize();
    if (covered.vecPixels.size() < nBytes) {
        covered.vecPixels.resize(nBytes);  // only when the cursor grows: no allocation per frame
    }
    std::memcpy(covered.vecPixels.data(), ScratchBitmap.Bits(), nBytes);
    covered.pImage = frame.pImage;
    covered.iImageWidth = frame.iWidth;
    covered.iImageHeight = frame.iHeight;
    covered.ui32ImageStride = frame.ui32Stride;
    covered.bMirror = frame.bMirror;
    covered.iX = iX;
    covered.iRow = iRow;
    covered.iWidth = iWidth;
    covered.iHeight = iHeight;
    covered.iScratchWidth = ScratchBitmap.Width();
    covered.iScratchHeight = ScratchBitmap.Height();
}

void TDrawMouseCursor::RestoreCovered(const uint8_t* pSource, uint8_t* pImage, int32_t iWidth, int32_t iHeight,
                                      uint32_t ui32Stride, bool bDontMirrorFrames)
{
    if (covered.pImage == nullptr || covered.pImage != pSource || pImage == nullptr || covered.iImageWidth != iWidth ||
        covered.iImageHeight != iHeight || covered.ui32ImageStride != ui32Stride || covered.bMirror != bDontMirrorFrames) {
        return;
    }
    cursorgeo::CopyImageRect(covered.vecPixels.data(), covered.iScratchWidth, covered.iScratchHeight,
                             static_cast<uint32_t>(covered.iScratchWidth) * 4, pImage, iWidth, iHeight, ui32Stride, 0, 0,
                             covered.iX, covered.iRow, covered.iWidth, covered.iHeight, covered.bMirror);
}

// The scratch is remade, white, when the scaled size changes; otherwise it keeps its pixels.
void TDrawMouseCursor::PrepareScratch(int32_t iScaledWidth, int32_t iScaledHeight)
{
    if (ScratchBitmap.Bits() != nullptr && ScratchBitmap.Width() == iScaledWidth &&
        ScratchBitmap.Height() == iScaledHeight && ScratchBitmap.BitsPerPixel() == 32) {
        return;
    }
    ScratchBitmap.Create(iScaledWidth, iScaledHeight, 32, 0, nullptr);
    if (ScratchBitmap.Bits() != nullptr) {
        // Its own size: a size the platform refused left a 1 x 1 scratch.
        std::memset(ScratchBitmap.Bits(), 0xFF, ScratchBitmap.ImageSize());
    }
}
