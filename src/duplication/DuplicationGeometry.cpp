#include "duplication/DuplicationGeometry.h"

#include <algorithm>
#include <limits>

namespace dupgeo {

namespace {

int32_t Saturate(int64_t value)
{
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

uint32_t Extent(int32_t low, int32_t high)
{
    // At most 2^32 - 1 for int32 coordinates, so the difference always fits.
    return static_cast<uint32_t>(std::max<int64_t>(int64_t{high} - int64_t{low}, 0));
}

}  // namespace

THooksRect MoveSourceRect(const TMoveRect& move)
{
    const int64_t width = int64_t{move.destination.right} - int64_t{move.destination.left};
    const int64_t height = int64_t{move.destination.bottom} - int64_t{move.destination.top};
    return THooksRect{move.iSourceX, move.iSourceY, Saturate(move.iSourceX + width), Saturate(move.iSourceY + height)};
}

uint32_t MoveRectCount(uint32_t bytes)
{
    return bytes / kMoveRectBytes;
}

uint32_t DirtyRectCount(uint32_t bytes)
{
    return bytes / kDirtyRectBytes;
}

uint32_t BytesBehind(uint32_t total, uint32_t used)
{
    return used < total ? total - used : 0;
}

size_t GrownMetaDataSize(size_t currentBytes, uint32_t totalMetadataBytes)
{
    return std::max<size_t>(currentBytes, totalMetadataBytes);
}

bool IsRotated(uint32_t rotation)
{
    return rotation != kRotationUnspecified && rotation != kRotationIdentity;
}

TImageSize DesktopSize(const THooksRect& desktop)
{
    return TImageSize{Extent(desktop.left, desktop.right), Extent(desktop.top, desktop.bottom)};
}

TImageSize NativeSize(uint32_t rotation, const THooksRect& desktop)
{
    const TImageSize size = DesktopSize(desktop);
    if (rotation == kRotation90 || rotation == kRotation270) {
        return TImageSize{size.ui32Height, size.ui32Width};
    }
    return size;
}

}  // namespace dupgeo
