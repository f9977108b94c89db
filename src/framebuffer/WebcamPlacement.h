// Where the webcam stands in the source frame and in the frame image, and which part of the
// webcam picture is used: a pure function of a settings snapshot and the webcam format.
#pragma once

#include "framebuffer/LayoutMath.h"

#include <cstdint>

namespace zyrlayout {

struct TWebcamPlacement {
    // False: the layout switches the webcam off (WebCamVisibilityState = 1, the two flag bytes
    // after it = 0); width, height and ui64Stride are then 0.
    bool bVisible;
    int32_t x;  // in source frame pixels
    int32_t y;
    uint32_t width;  // at most INT32_MAX
    uint32_t height;
    THooksRect sourceRect;  // part of the webcam picture that is used
    // align64 of the used picture width in bytes. It may exceed INT32_MAX for a huge webcam
    // format; the layout refuses such a stride.
    uint64_t ui64Stride;
    int32_t scaledRect[4];  // x, y, width, height in the frame image
    THooksRect gameFrame;
};

// Places the webcam for format webcamWidth x webcamHeight. Degenerate input (a zero format or
// source size, fractions whose products do not fit, a placement wholly outside the source frame,
// values that do not fit a 32-bit field) gives a hidden webcam at (0, 0) with an empty source
// rectangle instead of a division by zero or an out-of-range conversion.
TWebcamPlacement PlaceWebcam(const TLayoutSettings& settings, uint32_t webcamWidth, uint32_t webcamHeight);

}  // namespace zyrlayout
