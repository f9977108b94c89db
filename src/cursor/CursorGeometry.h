// Pixel arithmetic of the cursor drawer: the size of a published cursor, its size and place in a
// scaled frame, and the rectangle copy between the frame and the drawer's scratch image.
//
// Platform-free. Sizes, positions and scale factors may come from another process (the cursor
// block) or from degenerate capture rectangles: every result is clamped into int32, and the copy
// never touches a byte outside the two images it is given.
#pragma once

#include <cstdint>

namespace cursorgeo {

struct TCursorSize {
    int32_t iWidth = 0;
    int32_t iHeight = 0;
    bool operator==(const TCursorSize&) const = default;
};

// The cursor's size from the bitmaps that were made: the colour bitmap's size; else the mask's
// width and half its height (a monochrome mask holds the AND and XOR pictures one above the
// other); else 0 x 0.
TCursorSize CursorSizeOf(bool bColour, int32_t iColourWidth, int32_t iColourHeight, bool bMask, int32_t iMaskWidth,
                         int32_t iMaskHeight);

// w x sx and h x sy with w and h taken as unsigned numbers, each truncated toward zero.
TCursorSize ScaledCursorSize(int32_t iWidth, int32_t iHeight, double dScaleX, double dScaleY);

// Where the scaled cursor goes in the frame. (iX, iY) is its top-left corner in image
// coordinates: trunc((px - hotX) x sx) + ox and trunc((py - hotY) x sy) + oy. iRow is the row
// handed to CopyImageRect, which addresses rows bottom-up: iY for a bottom-up frame; for a
// top-down frame (bMirror) H - iY - sh - 1, so that the cursor covers image rows iY + 1 to
// iY + sh of that frame.
struct TCursorPlacement {
    int32_t iX = 0;
    int32_t iY = 0;
    int32_t iRow = 0;
    bool operator==(const TCursorPlacement&) const = default;
};
TCursorPlacement PlaceCursor(int32_t iPointerX, int32_t iPointerY, int32_t iHotspotX, int32_t iHotspotY,
                             double dScaleX, double dScaleY, int32_t iOffsetX, int32_t iOffsetY, bool bMirror,
                             int32_t iFrameHeight, int32_t iScaledHeight);

// Copies a rectangle of 32-bit pixels between two images whose rows are addressed bottom-up
// (picture row r lies at memory row height - 1 - r); strides in bytes. The rectangle is clipped
// first against the source, then against the destination; clipping one side never moves the
// start of the other (a rectangle that begins 5 columns left of the destination loses its
// last 5 columns, and its first columns land at column 0). With bFlip the rows are laid into the
// destination in reverse order. An image is never read or written beyond width x 4 bytes of its
// rows (nor beyond stride / 4 pixels when the stride is shorter) or beyond its height.
void CopyImageRect(const uint8_t* pSource, int32_t iSourceWidth, int32_t iSourceHeight, uint32_t ui32SourceStride,
                   uint8_t* pDestination, int32_t iDestinationWidth, int32_t iDestinationHeight,
                   uint32_t ui32DestinationStride, int32_t iSourceX, int32_t iSourceY, int32_t iDestinationX,
                   int32_t iDestinationY, int32_t iWidth, int32_t iHeight, bool bFlip);

}  // namespace cursorgeo
