#include "capturers/CaptureGeometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace capgeo {

int64_t RectWidth(const THooksRect& rect)
{
    return int64_t{rect.right} - int64_t{rect.left};
}

int64_t RectHeight(const THooksRect& rect)
{
    return int64_t{rect.bottom} - int64_t{rect.top};
}

bool IsAllZero(const THooksRect& rect)
{
    return rect.left == 0 && rect.top == 0 && rect.right == 0 && rect.bottom == 0;
}

bool IsEmpty(const THooksRect& rect)
{
    return RectWidth(rect) <= 0 || RectHeight(rect) <= 0;
}

int32_t SaturateToInt32(int64_t value)
{
    const int64_t lowest = std::numeric_limits<int32_t>::min();
    const int64_t highest = std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(std::clamp(value, lowest, highest));
}

int32_t TruncateToInt32(double value)
{
    if (!(value > -2147483648.0 && value < 2147483648.0)) {
        return value > 0 ? std::numeric_limits<int32_t>::max() : std::numeric_limits<int32_t>::min();
    }
    return static_cast<int32_t>(std::trunc(value));
}

THooksRect WholeDisplayRect(int32_t cx, int32_t cy)
{
    return THooksRect{0, 0, std::max(cx, 0), std::max(cy, 0)};
}

namespace {

// trunc(size * scale) kept inside [0, limit]: the product is at most `limit` in exact arithmetic,
// and the clamp keeps a rounding error of the double from ever leaving the final image.
int32_t ScaledSize(int64_t size, double scale, int32_t limit)
{
    const double scaled = static_cast<double>(size) * scale;
    if (!(scaled > 0.0)) {
        return 0;
    }
    if (scaled >= static_cast<double>(limit)) {
        return limit;
    }
    return static_cast<int32_t>(scaled);  // truncation toward zero
}

}  // namespace

THooksRect DestinationRect(int32_t iFinalWidth, int32_t iFinalHeight, const THooksRect& source,
                           bool bKeepProportion)
{
    const int32_t finalW = std::max(iFinalWidth, 0);
    const int32_t finalH = std::max(iFinalHeight, 0);
    const int64_t srcW = RectWidth(source);
    const int64_t srcH = RectHeight(source);
    if (!bKeepProportion || finalW == 0 || finalH == 0 || srcW <= 0 || srcH <= 0) {
        return THooksRect{0, 0, finalW, finalH};
    }
    const double scaleX = static_cast<double>(finalW) / static_cast<double>(srcW);
    const double scaleY = static_cast<double>(finalH) / static_cast<double>(srcH);
    const double scale = scaleY > scaleX ? scaleX : scaleY;
    const int32_t dstW = ScaledSize(srcW, scale, finalW);
    const int32_t dstH = ScaledSize(srcH, scale, finalH);
    // Both sizes lie in [0, final], so neither the halves nor the sums can overflow.
    const int32_t left = (finalW - dstW) / 2;
    const int32_t top = (finalH - dstH) / 2;
    return THooksRect{left, top, left + dstW, top + dstH};
}

TSurfaceRead PlanSurfaceRead(uint32_t ui32Pitch, uint32_t ui32SurfaceRows, int32_t x0, int32_t y0,
                             uint32_t ui32FrameRowBytes, uint32_t ui32FrameRows)
{
    const int64_t startByte = int64_t{x0} * 4;
    if (x0 < 0 || y0 < 0 || startByte >= int64_t{ui32Pitch} || int64_t{y0} >= int64_t{ui32SurfaceRows}) {
        return {};
    }
    TSurfaceRead read;
    read.ui32CopyBytes = std::min(ui32FrameRowBytes, static_cast<uint32_t>(ui32Pitch - startByte));
    read.ui32Rows = std::min(ui32FrameRows, ui32SurfaceRows - static_cast<uint32_t>(y0));
    if (read.ui32CopyBytes == 0 || read.ui32Rows == 0) {
        return {};
    }
    return read;
}

std::array<THooksRect, 4> UncoveredBands(int32_t iWidth, int32_t iHeight, const THooksRect& covered)
{
    const int32_t w = std::max(iWidth, 0);
    const int32_t h = std::max(iHeight, 0);
    const int32_t left = std::clamp(covered.left, 0, w);
    const int32_t right = std::clamp(covered.right, left, w);
    const int32_t top = std::clamp(covered.top, 0, h);
    const int32_t bottom = std::clamp(covered.bottom, top, h);
    if (left == right || top == bottom) {
        return {THooksRect{0, 0, w, h}, THooksRect{}, THooksRect{}, THooksRect{}};
    }
    const auto band = [](int32_t l, int32_t t, int32_t r, int32_t b) {
        return l < r && t < b ? THooksRect{l, t, r, b} : THooksRect{};
    };
    return {band(0, 0, w, top), band(0, bottom, w, h), band(0, top, left, bottom), band(right, top, w, bottom)};
}

}  // namespace capgeo
