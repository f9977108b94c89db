#include "framebuffer/LayoutMath.h"

#include <cmath>
#include <limits>

namespace zyrlayout {

namespace {

constexpr int64_t kI32Max = std::numeric_limits<int32_t>::max();
constexpr THooksRect kEmptyRect{0, 0, 0, 0};
// The thresholds are single-precision constants compared in double precision.
constexpr double kAspectTolerance = static_cast<double>(0.01f);

int32_t ClampToNonNegativeI32(int64_t value)
{
    if (value < 0) {
        return 0;
    }
    return value > kI32Max ? static_cast<int32_t>(kI32Max) : static_cast<int32_t>(value);
}

// Narrows four 64-bit values into a rectangle, or the empty rectangle when one does not fit.
THooksRect RectOf(int64_t left, int64_t top, int64_t right, int64_t bottom)
{
    const auto l = NarrowToI32(left);
    const auto t = NarrowToI32(top);
    const auto r = NarrowToI32(right);
    const auto b = NarrowToI32(bottom);
    if (!l || !t || !r || !b) {
        return kEmptyRect;
    }
    return THooksRect{*l, *t, *r, *b};
}

// Mode 1: the largest rectangle of the webcam's aspect ratio centred in the game frame.
THooksRect FillGameFrame(const THooksRect& g, int32_t webcamWidth, int32_t webcamHeight)
{
    if (webcamWidth == 0 || webcamHeight == 0) {
        return kEmptyRect;
    }
    const int64_t gameWidth = int64_t{g.right} - g.left;
    const int64_t gameHeight = int64_t{g.bottom} - g.top;
    const double sx = static_cast<double>(gameWidth) / webcamWidth;
    const double sy = static_cast<double>(gameHeight) / webcamHeight;
    if (sy > sx) {
        const auto scaledHeight = TruncToI32(webcamHeight * sx);
        if (!scaledHeight) {
            return kEmptyRect;
        }
        const int64_t d = ((int64_t{g.bottom} - *scaledHeight) - g.top) / 2;
        return RectOf(g.left, g.top + d, g.right, g.bottom - d);
    }
    const auto scaledWidth = TruncToI32(webcamWidth * sy);
    if (!scaledWidth) {
        return kEmptyRect;
    }
    const int64_t d = ((int64_t{g.right} - *scaledWidth) - g.left) / 2;
    return RectOf(g.left + d, g.top, g.right - d, g.bottom);
}

// Other modes: the webcam's placement in source pixels scaled into the game frame, per axis.
THooksRect ScaleIntoGameFrame(const THooksRect& g, const TWebCamTargetInputs& in)
{
    if (in.frame.iSourceWidth <= 0 || in.frame.iSourceHeight <= 0) {
        return kEmptyRect;
    }
    const double sx = static_cast<double>(int64_t{g.right} - g.left) / in.frame.iSourceWidth;
    const double sy = static_cast<double>(int64_t{g.bottom} - g.top) / in.frame.iSourceHeight;
    const auto left = TruncToI32(in.x * sx + g.left);
    const auto top = TruncToI32(in.y * sy + g.top);
    const auto width = TruncToI32(in.width * sx);
    const auto height = TruncToI32(in.height * sy);
    if (!left || !top || !width || !height) {
        return kEmptyRect;
    }
    return RectOf(*left, *top, int64_t{*left} + *width, int64_t{*top} + *height);
}

}  // namespace

std::optional<int32_t> TruncToI32(double value)
{
    // Written so that NaN fails both comparisons.
    if (!(value > -2147483649.0 && value < 2147483648.0)) {
        return std::nullopt;
    }
    return static_cast<int32_t>(value);
}

std::optional<uint32_t> TruncToU32(double value)
{
    if (!(value > -1.0 && value < 4294967296.0)) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

std::optional<int32_t> NarrowToI32(int64_t value)
{
    if (value < std::numeric_limits<int32_t>::min() || value > kI32Max) {
        return std::nullopt;
    }
    return static_cast<int32_t>(value);
}

bool AspectDiffers(uint32_t a, uint32_t b, double aspect)
{
    if (b == 0) {
        return a != 0;
    }
    return std::fabs(static_cast<double>(a) / static_cast<double>(b) - aspect) > kAspectTolerance;
}

TLayoutSettings ReadLayoutSettings(const TFrameBufferHeader& header)
{
    TLayoutSettings s{};
    s.iSourceWidth = header.iSourceWidth;
    s.iSourceHeight = header.iSourceHeight;
    s.iImageWidth = header.iImageWidth;
    s.iImageHeight = header.iImageHeight;
    s.bStretch = header.bStretch != 0;
    s.ui32HUDWidth = header.HUDImage.width;
    s.ui32HUDHeight = header.HUDImage.height;
    s.iHUDPosition = header.iHUDPosition;
    s.iHUDMargin = header.iHUDMargin;
    s.webcamWidth = header.webcamWidth;
    s.webcamHeight = header.webcamHeight;
    s.dWebCamLeft = header.dWebCamLeft;
    s.dWebCamTop = header.dWebCamTop;
    s.dWebCamWidth = header.dWebCamWidth;
    s.dWebCamHeight = header.dWebCamHeight;
    s.bWebCamEnabled = header.WebCamVisibilityState == 0;
    s.bAutoSelectWebCamFormat = header.bAutoSelectWebCamFormat != 0;
    s.ui8UseChromaKeying = header.UseChromaKeying;
    s.bUseWebCamBackground = header.bUseWebCamBackground != 0;
    s.bUseCustomShaderData = header.bUseCustomShaderData != 0;
    s.previousWebCamSourceRect = header.WebCamSourceRect;
    s.previousWebCamImage = header.WebCamImage;
    return s;
}

TGameFrameInputs GameFrameInputsOf(const TLayoutSettings& s)
{
    return TGameFrameInputs{s.iSourceWidth, s.iSourceHeight, s.iImageWidth, s.iImageHeight, s.bStretch};
}

THooksRect GameFrameRect(const TGameFrameInputs& in)
{
    const THooksRect full{0, 0, in.iImageWidth, in.iImageHeight};
    if (in.bStretch) {
        return full;
    }
    // A zero source size would divide by zero: the game frame is then empty.
    if (in.iSourceWidth <= 0 || in.iSourceHeight <= 0 || in.iImageWidth < 0 || in.iImageHeight < 0) {
        return kEmptyRect;
    }
    const double sx = static_cast<double>(in.iImageWidth) / in.iSourceWidth;
    const double sy = static_cast<double>(in.iImageHeight) / in.iSourceHeight;
    if (sx > sy) {  // bars left and right
        const auto w = TruncToI32(in.iSourceWidth * sy);
        if (!w) {
            return kEmptyRect;
        }
        const int64_t left = (int64_t{in.iImageWidth} - *w) / 2;
        return RectOf(left, 0, left + *w, in.iImageHeight);
    }
    if (sx < sy) {  // bars above and below
        const auto h = TruncToI32(in.iSourceHeight * sx);
        if (!h) {
            return kEmptyRect;
        }
        const int64_t top = (int64_t{in.iImageHeight} - *h) / 2;
        return RectOf(0, top, in.iImageWidth, top + *h);
    }
    return full;
}

TPoint HUDPosition(int32_t sourceWidth, int32_t sourceHeight, int32_t position, int32_t margin,
                   uint32_t hudWidth, uint32_t hudHeight)
{
    const int64_t m = margin;
    const int64_t centreX = (int64_t{sourceWidth} - hudWidth) / 2;
    const int64_t centreY = (int64_t{sourceHeight} - hudHeight) / 2;
    const int64_t right = int64_t{sourceWidth} - m - hudWidth;
    const int64_t bottom = int64_t{sourceHeight} - m - hudHeight;
    int64_t x = 20;
    int64_t y = 20;
    switch (position) {
    case 0: x = m; y = m; break;
    case 1: x = centreX; y = m; break;
    case 2: x = right; y = m; break;
    case 3: x = m; y = centreY; break;
    case 5: x = right; y = centreY; break;
    case 6: x = m; y = bottom; break;
    case 7: x = centreX; y = bottom; break;
    case 8: x = right; y = bottom; break;
    default: break;  // 4 and every value outside 0..8
    }
    return TPoint{ClampToNonNegativeI32(x), ClampToNonNegativeI32(y)};
}

TPoint RadialMenuPosition(int32_t sourceWidth, int32_t sourceHeight)
{
    constexpr int32_t kSide = static_cast<int32_t>(kRadialMenuSide);
    const int32_t x = sourceWidth < kSide ? 0 : (sourceWidth - kSide) / 2;
    const int32_t y = sourceHeight < kSide ? 0 : (sourceHeight - kSide) / 2;
    return TPoint{x, y};
}

THooksRect WebCamTargetRect(const TWebCamTargetInputs& in, int32_t mode)
{
    const THooksRect g = GameFrameRect(in.frame);
    return mode == 1 ? FillGameFrame(g, in.width, in.height) : ScaleIntoGameFrame(g, in);
}

}  // namespace zyrlayout
