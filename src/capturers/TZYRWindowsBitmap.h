// A memory device context with a DIB section selected into it: the GDI capturer's frame image in
// system memory, and the cursor drawer's scratch image and the cursor bitmaps the host publishes.
//
// The header inside the information block always holds a positive height once the DIB exists,
// whatever orientation was asked for; rows are DWORD-aligned (a 32-bit row is width x 4 bytes).
// An object whose DIB could not be made (not even the 1 x 1 fall-back) has no pixels and reports
// width and height 0.
//
// Thread: an object is used by one thread at a time.
#pragma once

#include "capturers/TGdiHandles.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>

class TZYRWindowsBitmap {
public:
    // A positive height asks for bottom-up rows, a negative one for top-down rows. Below 16 bits
    // per pixel, ui32Colors palette entries (4 bytes each) are read from pPalette.
    TZYRWindowsBitmap(int32_t iWidth, int32_t iHeight, int32_t iBitsPerPixel, uint32_t ui32Colors,
                      const void* pPalette);
    ~TZYRWindowsBitmap();
    TZYRWindowsBitmap(const TZYRWindowsBitmap&) = delete;
    TZYRWindowsBitmap& operator=(const TZYRWindowsBitmap&) = delete;

    // Replaces the DIB section (same arguments as the constructor). When the DIB cannot be made, a
    // 1 x 1 32-bit DIB is made instead; false when even that failed (no pixels then). Needs a DC.
    bool Create(int32_t iWidth, int32_t iHeight, int32_t iBitsPerPixel, uint32_t ui32Colors, const void* pPalette);

    // A new bitmap from a packed DIB of at most `available` bytes at p: a 40-byte information
    // header, the palette (colours-used entries of 4 bytes), then the pixel rows. Null, after an
    // error line, when the header, the palette, the header's image size or the rows its width,
    // height and bit count stand for do not fit `available`. At most min(header's image size, the
    // new bitmap's own size) bytes are copied.
    static std::unique_ptr<TZYRWindowsBitmap> CreateBitmapFromMemory(const uint8_t* p, size_t available);

    // A 32-bit DIB whose pixels are the bytes of a file mapping section from `ui32Offset` on
    // (|iHeight| rows of iWidth x 4 bytes; a negative height gives top-down rows), so GDI draws
    // straight into the section. Null when the DIB cannot be made there (no fall-back DIB). The
    // caller guarantees that the rows lie inside the section.
    static std::unique_ptr<TZYRWindowsBitmap> CreateOnSection(int32_t iWidth, int32_t iHeight, HANDLE hSection,
                                                              uint32_t ui32Offset);

    // Deselects the DIB from the DC and hands it over; the object is left without pixels.
    TGdiBitmap DetachBitmap();

    int32_t Width() const;
    int32_t Height() const;
    int32_t BitsPerPixel() const;
    // Bytes of pixel memory (the header's image size); 0 without a DIB.
    uint32_t ImageSize() const;
    uint8_t* Bits() const { return pBits; }
    HDC DC() const { return hDC.Get(); }

private:
    TZYRWindowsBitmap();
    bool CreateDib(int32_t iWidth, int32_t iHeight, int32_t iBitsPerPixel, uint32_t ui32Colors, const void* pPalette,
                   HANDLE hSection = nullptr, uint32_t ui32Offset = 0);
    void ReleaseDib();
    BITMAPINFOHEADER* Header() const;

    // Declaration order is release order in reverse: the selection is undone, then the DIB is
    // deleted, then the DC.
    TDeviceContext hDC;
    TGdiBitmap hBitmap;
    TSelectedObject hOldBitmap;
    std::unique_ptr<uint8_t[]> pBitmapInfo;
    uint32_t ui32BitmapInfoSize = 0;
    uint8_t* pBits = nullptr;
};
