#include "cursor/CursorGeometry.h"

#include "capturers/CaptureGeometry.h"

#include <algorithm>
#include <cstring>

namespace cursorgeo {

TCursorSize CursorSizeOf(bool bColour, int32_t iColourWidth, int32_t iColourHeight, bool bMask, int32_t iMaskWidth,
                         int32_t iMaskHeight)
{
    if (bColour) {
        return {iColourWidth, iColourHeight};
    }
    if (bMask) {
        return {iMaskWidth, iMaskHeight / 2};
    }
    return {};
}

TCursorSize ScaledCursorSize(int32_t iWidth, int32_t iHeight, double dScaleX, double dScaleY)
{
    const double dWidth = static_cast<double>(static_cast<uint32_t>(iWidth));
    const double dHeight = static_cast<double>(static_cast<uint32_t>(iHeight));
    return {capgeo::TruncateToInt32(dWidth * dScaleX), capgeo::TruncateToInt32(dHeight * dScaleY)};
}

TCursorPlacement PlaceCursor(int32_t iPointerX, int32_t iPointerY, int32_t iHotspotX, int32_t iHotspotY,
                             double dScaleX, double dScaleY, int32_t iOffsetX, int32_t iOffsetY, bool bMirror,
                             int32_t iFrameHeight, int32_t iScaledHeight)
{
    const double dX = static_cast<double>(int64_t{iPointerX} - iHotspotX) * dScaleX;
    const double dY = static_cast<double>(int64_t{iPointerY} - iHotspotY) * dScaleY;
    TCursorPlacement placement;
    placement.iX = capgeo::SaturateToInt32(int64_t{capgeo::TruncateToInt32(dX)} + iOffsetX);
    placement.iY = capgeo::SaturateToInt32(int64_t{capgeo::TruncateToInt32(dY)} + iOffsetY);
    placement.iRow = bMirror ? capgeo::SaturateToInt32(int64_t{iFrameHeight} - placement.iY - iScaledHeight - 1)
                             : placement.iY;
    return placement;
}

namespace {

// One image as the copy sees it: its usable width never exceeds what a row of `stride` holds.
struct TImage {
    int64_t iWidth;
    int64_t iHeight;
    int64_t iStride;
};

TImage Usable(int32_t iWidth, int32_t iHeight, uint32_t ui32Stride)
{
    return {std::min<int64_t>(std::max(iWidth, 0), ui32Stride / 4), std::max(iHeight, 0), ui32Stride};
}

// Moves a start coordinate below 0 up to 0, shortening the extent by as much; false when nothing
// is left.
bool ClipStart(int64_t& start, int64_t& extent)
{
    if (start < 0) {
        extent += start;
        start = 0;
    }
    return extent > 0;
}

// Clips the rectangle at (x, y) against an image; false when nothing of it lies inside.
bool ClipTo(const TImage& image, int64_t& x, int64_t& y, int64_t& width, int64_t& height)
{
    if (!ClipStart(x, width) || !ClipStart(y, height) || x >= image.iWidth || y >= image.iHeight) {
        return false;
    }
    width = std::min(width, image.iWidth - x);
    height = std::min(height, image.iHeight - y);
    return width > 0 && height > 0;
}

}  // namespace

void CopyImageRect(const uint8_t* pSource, int32_t iSourceWidth, int32_t iSourceHeight, uint32_t ui32SourceStride,
                   uint8_t* pDestination, int32_t iDestinationWidth, int32_t iDestinationHeight,
                   uint32_t ui32DestinationStride, int32_t iSourceX, int32_t iSourceY, int32_t iDestinationX,
                   int32_t iDestinationY, int32_t iWidth, int32_t iHeight, bool bFlip)
{
    if (pSource == nullptr || pDestination == nullptr) {
        return;
    }
    const TImage source = Usable(iSourceWidth, iSourceHeight, ui32SourceStride);
    const TImage destination = Usable(iDestinationWidth, iDestinationHeight, ui32DestinationStride);
    int64_t width = iWidth;
    int64_t height = iHeight;
    int64_t sx = iSourceX;
    int64_t sy = iSourceY;
    int64_t dx = iDestinationX;
    int64_t dy = iDestinationY;
    if (width <= 0 || height <= 0 || !ClipTo(source, sx, sy, width, height) ||
        !ClipTo(destination, dx, dy, width, height)) {
        return;
    }
    // Row offsets rather than moving pointers: no pointer is ever formed outside an image.
    const int64_t sourceFirst = (source.iHeight - sy - 1) * source.iStride + sx * 4;
    int64_t destinationFirst = (destination.iHeight - dy - 1) * destination.iStride + dx * 4;
    int64_t destinationStep = -destination.iStride;
    if (bFlip) {
        destinationFirst -= (height - 1) * destination.iStride;
        destinationStep = destination.iStride;
    }
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    for (int64_t row = 0; row < height; ++row) {
        std::memcpy(pDestination + destinationFirst + row * destinationStep,
                    pSource + sourceFirst - row * source.iStride, rowBytes);
    }
}

}  // namespace cursorgeo
