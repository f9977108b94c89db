#include "ChangedTiles.h"

#include <algorithm>
#include <cstring>

namespace testdup {

namespace {

uint32_t TilesAcross(uint32_t pixels)
{
    return pixels / kTileSize + (pixels % kTileSize != 0 ? 1u : 0u);
}

// Whether `pixels` 32-bit pixels differ. The whole row is folded into one word without an early
// exit, so the compiler can vectorise it: a Windows build's memcmp is the C runtime's, which under
// Wine made comparing two equal 1080p grabs cost several milliseconds.
bool RowDiffers(const uint8_t* pA, const uint8_t* pB, uint32_t pixels)
{
    uint32_t difference = 0;
    for (uint32_t i = 0; i < pixels; ++i) {
        uint32_t a;
        uint32_t b;
        std::memcpy(&a, pA + i * 4u, 4);
        std::memcpy(&b, pB + i * 4u, 4);
        difference |= a ^ b;
    }
    return difference != 0;
}

// Whether the area (left, top) of width x height pixels differs; stops at the first differing row.
bool AreaDiffers(const TPixelView& previous, const TPixelView& current, uint32_t left, uint32_t top, uint32_t width,
                 uint32_t height)
{
    const size_t offset = static_cast<size_t>(left) * 4u;
    for (uint32_t y = top; y < top + height; ++y) {
        if (RowDiffers(previous.pBits + y * previous.stride + offset, current.pBits + y * current.stride + offset,
                       width)) {
            return true;
        }
    }
    return false;
}

THooksRect WholeImage(const TPixelView& image)
{
    return {0, 0, static_cast<int32_t>(image.ui32Width), static_cast<int32_t>(image.ui32Height)};
}

}  // namespace

uint32_t MaxChangedRects(uint32_t width, uint32_t height)
{
    return TilesAcross(height) * ((TilesAcross(width) + 1u) / 2u);
}

uint32_t FindChangedRects(const TPixelView& previous, const TPixelView& current, THooksRect* pRects,
                          uint32_t capacity)
{
    if (capacity == 0) {
        return 0;
    }
    if (previous.ui32Width != current.ui32Width || previous.ui32Height != current.ui32Height) {
        pRects[0] = WholeImage(current);
        return 1;
    }
    const uint32_t width = current.ui32Width;
    const uint32_t tilesAcross = TilesAcross(width);
    uint32_t count = 0;
    for (uint32_t top = 0; top < current.ui32Height; top += kTileSize) {
        const uint32_t bottom = top + std::min(kTileSize, current.ui32Height - top);
        uint32_t runStart = 0;
        bool bInRun = false;
        // One step past the last tile closes a run that reaches the right edge.
        for (uint32_t tile = 0; tile <= tilesAcross; ++tile) {
            const uint32_t left = std::min(tile * kTileSize, width);
            const uint32_t right = std::min(left + kTileSize, width);
            const bool bChanged =
                tile < tilesAcross && AreaDiffers(previous, current, left, top, right - left, bottom - top);
            if (bChanged && !bInRun) {
                runStart = left;
                bInRun = true;
            } else if (!bChanged && bInRun) {
                if (count == capacity) {
                    pRects[0] = WholeImage(current);
                    return 1;
                }
                pRects[count++] = {static_cast<int32_t>(runStart), static_cast<int32_t>(top),
                                   static_cast<int32_t>(left), static_cast<int32_t>(bottom)};
                bInRun = false;
            }
        }
    }
    return count;
}

}  // namespace testdup
