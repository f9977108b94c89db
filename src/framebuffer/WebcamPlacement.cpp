#include "framebuffer/WebcamPlacement.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zyrlayout {

namespace {

constexpr int64_t kI32Max = std::numeric_limits<int32_t>::max();

// The placement while it is computed: 64-bit, so that sums and differences cannot wrap.
struct TDraft {
    int64_t x;
    int64_t y;
    int64_t w;
    int64_t h;
    THooksRect source;
};

TWebcamPlacement Degenerate(const THooksRect& gameFrame)
{
    TWebcamPlacement p{};
    p.bVisible = false;
    p.gameFrame = gameFrame;
    return p;
}

// The divisors of the placement (format and source sizes) must be non-zero, and the format must
// fit the signed source rectangle.
bool UsableInputs(const TLayoutSettings& s, uint32_t webcamWidth, uint32_t webcamHeight)
{
    return s.iSourceWidth > 0 && s.iSourceHeight > 0 && webcamWidth != 0 && webcamHeight != 0 &&
           webcamWidth <= kI32Max && webcamHeight <= kI32Max;
}

// Position and size from the fractions; when their ratio is off, the height follows the webcam's
// aspect ratio, and a webcam nearer the bottom keeps its bottom edge.
bool PlaceFromFractions(const TLayoutSettings& s, double aspect, TDraft& d)
{
    const auto x = TruncToU32(s.iSourceWidth * s.dWebCamLeft);
    const auto y = TruncToU32(s.iSourceHeight * s.dWebCamTop);
    const auto w = TruncToU32(s.iSourceWidth * s.dWebCamWidth);
    const auto h = TruncToU32(s.iSourceHeight * s.dWebCamHeight);
    if (!x || !y || !w || !h) {
        return false;
    }
    d.x = *x;
    d.y = *y;
    d.w = *w;
    d.h = *h;
    if (!AspectDiffers(*w, *h, aspect)) {
        return true;
    }
    const auto corrected = TruncToU32(*w / aspect);
    if (!corrected) {
        return false;
    }
    d.h = *corrected;
    if (std::fabs(s.dWebCamTop) > std::fabs(1.0 - s.dWebCamTop - s.dWebCamHeight)) {
        const auto bottom = TruncToU32((s.dWebCamTop + s.dWebCamHeight) * s.iSourceHeight);
        if (!bottom) {
            return false;
        }
        d.y = int64_t{*bottom} - d.h;  // may be negative: the webcam then sticks out at the top
    }
    return true;
}

// Cuts a webcam that sticks out at the right or the bottom, and drops the same share of the
// picture. A webcam that starts at or beyond the edge is cut to nothing (w or h = 0).
// Requires d.w and d.h non-zero.
bool ClipToSource(const TLayoutSettings& s, uint32_t webcamWidth, uint32_t webcamHeight, TDraft& d)
{
    const int64_t sourceWidth = s.iSourceWidth;
    const int64_t sourceHeight = s.iSourceHeight;
    const bool cutRight = d.x + d.w > sourceWidth;
    const bool cutBottom = d.y + d.h > sourceHeight;
    const double rx = static_cast<double>(webcamWidth) / static_cast<double>(d.w);
    const double ry = static_cast<double>(webcamHeight) / static_cast<double>(d.h);
    if (cutRight) {
        d.w = std::max<int64_t>(sourceWidth - d.x, 0);
        const auto kept = TruncToI32(static_cast<double>(d.w) * rx);
        if (!kept) {
            return false;
        }
        d.source.right = static_cast<int32_t>(std::min<int64_t>(webcamWidth, int64_t{*kept} + d.source.left));
    }
    if (cutBottom) {
        d.h = std::max<int64_t>(sourceHeight - d.y, 0);
        const auto kept = TruncToI32(static_cast<double>(d.h) * ry);
        if (!kept) {
            return false;
        }
        d.source.bottom = static_cast<int32_t>(std::min<int64_t>(webcamHeight, int64_t{*kept} + d.source.top));
    }
    return true;
}

// ScaledWebCamRect: the placement in frame image pixels; one horizontal factor serves both axes.
bool ScaleIntoFrame(const TLayoutSettings& s, const TDraft& d, const THooksRect& g, int32_t (&out)[4])
{
    const int64_t gameWidth = int64_t{g.right} - g.left;
    int64_t values[4] = {d.x + g.left, d.y + g.top, d.w, d.h};
    if (static_cast<double>(gameWidth) != static_cast<double>(s.iSourceWidth)) {
        const double scale = static_cast<double>(gameWidth) / s.iSourceWidth;
        const auto x = TruncToI32(static_cast<double>(d.x) * scale);
        const auto y = TruncToI32(static_cast<double>(d.y) * scale);
        const auto w = TruncToI32(static_cast<double>(d.w) * scale);
        const auto h = TruncToI32(static_cast<double>(d.h) * scale);
        if (!x || !y || !w || !h) {
            return false;
        }
        values[0] = int64_t{*x} + g.left;
        values[1] = int64_t{*y} + g.top;
        values[2] = *w;
        values[3] = *h;
    }
    for (int i = 0; i < 4; ++i) {
        const auto narrowed = NarrowToI32(values[i]);
        if (!narrowed) {
            return false;
        }
        out[i] = *narrowed;
    }
    return true;
}

}  // namespace

TWebcamPlacement PlaceWebcam(const TLayoutSettings& s, uint32_t webcamWidth, uint32_t webcamHeight)
{
    const THooksRect g = GameFrameRect(GameFrameInputsOf(s));
    if (!UsableInputs(s, webcamWidth, webcamHeight)) {
        return Degenerate(g);
    }
    const double aspect = static_cast<double>(webcamWidth) / static_cast<double>(webcamHeight);
    TDraft d{};
    d.source = THooksRect{0, 0, static_cast<int32_t>(webcamWidth), static_cast<int32_t>(webcamHeight)};
    if (!PlaceFromFractions(s, aspect, d)) {
        return Degenerate(g);
    }
    if (d.w != 0 && d.h != 0 && !ClipToSource(s, webcamWidth, webcamHeight, d)) {
        return Degenerate(g);
    }
    TWebcamPlacement p{};
    p.bVisible = d.w != 0 && d.h != 0 && d.source.right - d.source.left > 0 && d.source.bottom - d.source.top > 0;
    if (!p.bVisible) {
        d.w = 0;
        d.h = 0;
    }
    const auto x = NarrowToI32(d.x);
    const auto y = NarrowToI32(d.y);
    if (!x || !y || d.w > kI32Max || d.h > kI32Max || !ScaleIntoFrame(s, d, g, p.scaledRect)) {
        return Degenerate(g);
    }
    p.x = *x;
    p.y = *y;
    p.width = static_cast<uint32_t>(d.w);
    p.height = static_cast<uint32_t>(d.h);
    p.sourceRect = d.source;
    p.ui64Stride = p.bVisible ? Align64(static_cast<uint64_t>(d.source.right - d.source.left) * 4) : 0;
    p.gameFrame = g;
    return p;
}

}  // namespace zyrlayout
