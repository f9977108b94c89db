// Where two grabs of the screen differ, as the dirty rectangles of a duplicated frame: the image is
// cut into tiles of kTileSize pixels (the last column and row of tiles clipped to the image), and
// each row band of tiles gives one rectangle per run of neighbouring tiles that changed. No
// windows.h: the native build checks this under the sanitizers.
#pragma once

#include "framebuffer/TFrameBufferHeader.h"

#include <cstddef>
#include <cstdint>

namespace testdup {

constexpr uint32_t kTileSize = 64;

// A 32-bit image in memory: ui32Height rows of ui32Width pixels, `stride` bytes apart, top row
// first. Bytes between a row's last pixel and the next row are not part of the image.
struct TPixelView {
    const uint8_t* pBits = nullptr;
    uint32_t ui32Width = 0;
    uint32_t ui32Height = 0;
    size_t stride = 0;
};

// The most rectangles FindChangedRects can give for a width x height image: every other tile of
// every band changed.
uint32_t MaxChangedRects(uint32_t width, uint32_t height);

// Writes the changed areas of `current` against `previous` (same size) into pRects, band by band
// from the top, left to right within a band, and answers how many. 0: nothing changed. When the
// images differ in size, or more than `capacity` rectangles would be needed, the answer is one
// rectangle covering the whole of `current` (0 with a capacity of 0). Allocates nothing.
uint32_t FindChangedRects(const TPixelView& previous, const TPixelView& current, THooksRect* pRects,
                          uint32_t capacity);

}  // namespace testdup
