// Draws the mouse pointer into finished frame images in system memory.
//
// The pointer's picture comes from the host, which publishes the current cursor in the frame
// buffer's cursor block (handle, position, hot spot, colour and mask DIBs) under a named mutex and
// is asked for it through a named event. A published cursor becomes an icon once and is cached by
// its handle; later frames look the live cursor handle up and draw the cached icon at the live
// pointer position, with no lock and no shared-memory read. Drawing goes through a scratch bitmap:
// the frame's pixels under the cursor are copied into it, the platform draws the icon over them,
// and the result is copied back.
//
// Thread: the capture thread only. The cursor mutex is held only while the block is read, at most
// 200 ms is waited for it, and a frame that does not get it draws no cursor.
#pragma once

#include "capturers/TZYRWindowsBitmap.h"
#include "cursor/TCursorCacheEntry.h"
#include "framebuffer/FrameBufferView.h"
#include "ipc/TZYREvent.h"
#include "ipc/TZYRMutex.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

class TDrawMouseCursor {
public:
    // The view of the mapped frame buffer (header and areas); it must stay mapped while the drawer
    // lives. The cursor's objects are opened by the first DrawCursor.
    explicit TDrawMouseCursor(const TFrameBufferView& frameBuffer);
    ~TDrawMouseCursor();
    TDrawMouseCursor(const TDrawMouseCursor&) = delete;
    TDrawMouseCursor& operator=(const TDrawMouseCursor&) = delete;

    // Opens the cursor mutex and event named in the header, each once; true when both are open.
    bool CheckMouseCursorSyncObjects();

    // Draws the cursor into an image of iWidth x iHeight pixels whose rows are ui32Stride bytes
    // apart (all of it addressable at pImage). bDontMirrorFrames: the rows lie top-down (else
    // bottom-up). Display pixels are scaled by (dScaleX, dScaleY), then offset by (iOffsetX,
    // iOffsetY).
    void DrawCursor(uint8_t* pImage, int32_t iWidth, int32_t iHeight, uint32_t ui32Stride, int32_t iOffsetX,
                    int32_t iOffsetY, bool bDontMirrorFrames, double dScaleX, double dScaleY);

    // `pImage` holds a copy of `pSource`, the image the last DrawCursor drew into (same size, stride
    // and row order): puts back into it the pixels that cursor covered, so the copy is the picture
    // without a cursor again. Nothing happens when the last DrawCursor drew nothing or drew into
    // another image.
    void RestoreCovered(const uint8_t* pSource, uint8_t* pImage, int32_t iWidth, int32_t iHeight, uint32_t ui32Stride,
                        bool bDontMirrorFrames);

    size_t CachedCursors() const { return mapCursorCache.size(); }

private:
    struct TFrame;
    struct TPublishedCursor;

    void DrawFromHost(const TFrame& frame);
    TPublishedCursor ReadPublishedCursor();
    std::unique_ptr<TZYRWindowsBitmap> ReadBitmap(const TAreaView& area, const char* pWhich);
    void DrawIcon(const TFrame& frame, HICON hIcon, int32_t iWidth, int32_t iHeight, int32_t iPointerX,
                  int32_t iPointerY, int32_t iHotspotX, int32_t iHotspotY);
    void PrepareScratch(int32_t iScaledWidth, int32_t iScaledHeight);
    void RememberCovered(const TFrame& frame, int32_t iX, int32_t iRow, int32_t iWidth, int32_t iHeight);

    TFrameBufferHeader* pFrameBufferHeader;
    TFrameBufferView FrameBufferView;
    std::shared_ptr<TZYRMutex> pMouseCursorMutex;
    std::unique_ptr<TZYREvent> pMouseCursorEvent;
    std::map<uint64_t, TCursorCacheEntry> mapCursorCache;
    TZYRWindowsBitmap ScratchBitmap;
    // What the last DrawCursor covered: the image, where, and the pixels it had there (laid out as
    // the scratch: bottom-up rows of iWidth x 4 bytes). pImage null: nothing covered.
    struct TCovered {
        const uint8_t* pImage = nullptr;
        int32_t iImageWidth = 0, iImageHeight = 0;
        uint32_t ui32ImageStride = 0;
        bool bMirror = false;
        int32_t iX = 0, iRow = 0, iWidth = 0, iHeight = 0;
        int32_t iScratchWidth = 0, iScratchHeight = 0;
        std::vector<uint8_t> vecPixels;  // grows to the largest scratch, never shrinks
    } covered;
};
