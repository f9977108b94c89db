// Decisions of the capture thread that are plain arithmetic on what the host wrote: whether a
// capture region fits the display, the size of the frame images, the warm-up countdown, the frame
// time stamp, and where the cursor lands in a scaled frame. Platform-free.
#pragma once

#include "framebuffer/TFrameBufferHeader.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace capplan {

// The region checks in their fixed order; the first that fails decides.
enum class TRegionCheck {
    Ok,
    InvalidLeft,    // left < 0 or left >= display width
    InvalidTop,     // top < 0 or top >= display height
    InvalidRight,   // right > display width
    InvalidBottom,  // bottom > display height
    Empty,          // passed the four checks but right <= left or bottom <= top
};
TRegionCheck CheckCaptureRegion(const THooksRect& region, int32_t iCaptureWidth, int32_t iCaptureHeight);
// The error line's text after the function name: "invalid region left position", ...
const char* RegionCheckText(TRegionCheck check);

struct TImageSize {
    int32_t iWidth;
    int32_t iHeight;
};
// With iRequestedWidth = -1: the region's size (the display's for an all-zero region), each value
// truncated toward zero to a multiple of 8. Otherwise the requested size exactly as given. The
// region must have passed CheckCaptureRegion (or be all zero).
TImageSize SafeImageSize(int32_t iRequestedWidth, int32_t iRequestedHeight, const THooksRect& region,
                         int32_t iCaptureWidth, int32_t iCaptureHeight);

// Frames requested within the first kWarmUpMs after the first request are captured but not
// published. Milliseconds of warm-up left at tick `now` for a warm-up that started at `start`
// (32-bit tick counts, wrap-around safe); 0 when it is over.
constexpr uint32_t kWarmUpMs = 2000;
uint32_t WarmUpLeftMs(uint32_t ui32Start, uint32_t ui32Now);

// The overlay program's full path beside this module, from what GetModuleFileNameW gave: the path
// and its length in a buffer of `ui32Capacity` units. Empty when nothing was read or the path did
// not fit (the platform then truncates it): the program is not started, as a bare or cut name
// would be looked for along the search path.
std::u16string OverlayProgramPath(std::u16string_view modulePath, uint32_t ui32Length, uint32_t ui32Capacity);

// Milliseconds of a performance-counter value c at frequency f, low 32 bits: the 100 ns count
// q * 10^7 + (r * 10^7) / f with q = c / f, r = c % f, divided by 10^4. 0 when f is 0.
uint32_t CounterToMilliseconds(uint64_t ui64Counter, uint64_t ui64Frequency);

// Scale factors dst/src per axis (0 for an empty source axis).
struct TScale {
    double dScaleX;
    double dScaleY;
};
TScale ScaleOf(const THooksRect& source, const THooksRect& destination);

// Offset that maps a cursor position in virtual-screen coordinates into the frame image:
// dst.left - trunc(mx * scaleX) - trunc(src.left * scaleX) (and the same for y), where (mx, my)
// is the top-left corner of the captured display.
struct TOffset {
    int32_t iX;
    int32_t iY;
};
TOffset CursorOffset(const THooksRect& source, const THooksRect& destination, TScale scale, int32_t iDisplayX,
                     int32_t iDisplayY);

}  // namespace capplan
