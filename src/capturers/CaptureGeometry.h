// Rectangle math of the capturers: the source rectangle on the display and where it lands inside
// the final (resized) image. Platform-free; the capturers convert to platform rectangles at their
// edge.
//
// Every input may come from the shared header (sizes, regions) and may say anything: nothing here
// overflows (differences of coordinates are taken in 64 bits), divides by zero, or returns a
// destination outside (0, 0) - (max(W, 0), max(H, 0)).
#pragma once

#include "framebuffer/TFrameBufferHeader.h"

#include <array>
#include <cstdint>

namespace capgeo {

// right - left and bottom - top, exact for any coordinates.
int64_t RectWidth(const THooksRect& rect);
int64_t RectHeight(const THooksRect& rect);
// All four coordinates are 0: the capturers' "not set" / "whole display" value.
bool IsAllZero(const THooksRect& rect);
// No pixel inside: width or height is 0 or negative.
bool IsEmpty(const THooksRect& rect);
// The value clamped into the int32 range, for log lines that print 64-bit differences.
int32_t SaturateToInt32(int64_t value);
// The value truncated toward zero and clamped into the int32 range; NaN gives INT32_MIN.
int32_t TruncateToInt32(double value);

// (0, 0) - (cx, cy), a negative size taken as 0; a display of no size gives the all-zero rectangle.
THooksRect WholeDisplayRect(int32_t cx, int32_t cy);

// Where a source of `source`'s size lands in a final image of W x H.
// - Without bKeepProportion: the whole final image, (0, 0) - (W, H).
// - With it: the source scaled by min(W / srcW, H / srcH) in double precision, each size truncated
//   toward zero, centred with integer halves truncated toward zero (bars left/right or top/bottom).
// Degenerate inputs: a negative W or H counts as 0, so a final image of no size yields an empty
// rectangle at the origin (all zero when both are 0 or less). With bKeepProportion, a source of no
// width or height (including the all-zero source) yields the whole final image; no division by
// zero is made.
THooksRect DestinationRect(int32_t iFinalWidth, int32_t iFinalHeight, const THooksRect& source,
                           bool bKeepProportion);

// Rows read out of a mapped surface (rows `ui32Pitch` bytes apart, `ui32SurfaceRows` of them) from
// the pixel (x0, y0) on, into a frame of `ui32FrameRows` rows of `ui32FrameRowBytes` bytes.
struct TSurfaceRead {
    uint32_t ui32CopyBytes = 0;  // per row; 0: nothing to copy
    uint32_t ui32Rows = 0;
};
// Neither the surface's rows nor its last row are ever passed: ui32CopyBytes <= pitch - x0 * 4 and
// ui32Rows <= surface rows - y0, and never more than the frame holds. A start outside the surface
// (negative, or at or beyond its pitch or rows) reads nothing.
TSurfaceRead PlanSurfaceRead(uint32_t ui32Pitch, uint32_t ui32SurfaceRows, int32_t x0, int32_t y0,
                             uint32_t ui32FrameRowBytes, uint32_t ui32FrameRows);

// The parts of a W x H image outside `covered` (clipped to the image): the full-width bands above
// and below it, then the bands left and right of it between those; empty rectangles where there is
// nothing. An empty or outside `covered` leaves the whole image as the first band.
std::array<THooksRect, 4> UncoveredBands(int32_t iWidth, int32_t iHeight, const THooksRect& covered);

}  // namespace capgeo
