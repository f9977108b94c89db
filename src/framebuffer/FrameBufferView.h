// Bounds-checked access to the areas of a mapped frame buffer. The offsets and sizes in the header
// are written by other processes and may say anything; every user of an area (frame slots, webcam,
// webcam background, cursor bitmaps) takes its pointer from here, and gets "no area" unless the
// whole area lies inside the current view and behind the header.
//
// Platform-free: the view is a base pointer and a size, backed by a mapped view in the capturer and
// by a heap block in tests. The object does not own the memory; it is valid as long as the mapping
// it describes, and must be rebuilt after every re-mapping.
#pragma once

#include "framebuffer/TFrameBufferHeader.h"

#include <cstddef>
#include <cstdint>

// A checked area of the view. pData is null when there is no area; all other fields are then 0.
// Otherwise, for image areas, rows r in [0, ui32Rows) of ui32Width pixels (4 bytes each) start at
// pData + r * ui32Stride, ui32Width * 4 <= ui32Stride, and all ui64Size = ui32Rows * ui32Stride
// bytes lie inside the view. Raw blocks (the cursor bitmaps) are one row of ui32Stride =
// ui64Size bytes with ui32Width = 0.
struct TAreaView {
    uint8_t* pData = nullptr;
    uint32_t ui32Width = 0;
    uint32_t ui32Stride = 0;
    uint32_t ui32Rows = 0;
    uint64_t ui64Size = 0;
    // Where pData lies from the start of the view (views of the frame buffer start at the
    // section's first byte, so this is also the offset in the section).
    uint64_t ui64Offset = 0;

    bool IsValid() const { return pData != nullptr; }
    // True when a picture of `width` x `rows` pixels fits the area row by row.
    bool Holds(uint32_t width, uint32_t rows) const
    {
        return pData != nullptr && uint64_t{width} * 4 <= ui32Stride && rows <= ui32Rows;
    }
};

// The header fields a frame slot is made of, as FrameSlot read them.
struct TFrameSlotFields {
    uint32_t ui32Offset = 0;
    uint32_t ui32Stride = 0;
    int32_t iWidth = 0;
    int32_t iHeight = 0;
    bool operator==(const TFrameSlotFields&) const = default;
};

class TFrameBufferView {
public:
    // pBase may be null (no view); ui64ViewSize is the number of bytes mapped at pBase.
    TFrameBufferView(uint8_t* pBase, uint64_t ui64ViewSize);

    // The header, or null when the view is smaller than the header.
    TFrameBufferHeader* Header() const;
    uint64_t Size() const { return ui64ViewSize; }

    // [offset, offset + size) of the view, or null unless size > 0, offset >= kFirstImageAreaOffset
    // and offset + size <= Size() (computed without overflow).
    uint8_t* Area(uint64_t offset, uint64_t size) const;

    // Each reads the header fields it needs once. Frame slot `slot` (0..5): iImageHeight rows of
    // iImageWidth pixels, ui32FrameImageStride apart, at ui32FrameImageOffsets[slot]. pFields, when
    // given, receives the values the area was checked from (zero without a header or slot).
    TAreaView FrameSlot(size_t slot, TFrameSlotFields* pFields = nullptr) const;
    // The webcam picture: the size of WebCamSourceRect, rows WebCamImage.ui32Stride apart.
    TAreaView WebCamArea() const;
    // The webcam background: the size of WebCamSourceRect, its own stride and offset.
    TAreaView WebCamBackgroundArea() const;
    // The 512 KiB cursor bitmap blocks (packed DIBs written by the cursor producer).
    TAreaView CursorColorBitmap() const;
    TAreaView CursorMaskBitmap() const;

private:
    TAreaView ImageArea(uint32_t offset, int64_t width, uint32_t stride, int64_t rows) const;
    TAreaView Block(uint32_t offset, uint32_t size) const;

    uint8_t* pBase;
    uint64_t ui64ViewSize;
};
