// The pictures the reference host feeds as webcam and chroma-key background: deterministic
// functions of the pixel position and the picture's generation, so a test can compute what a
// composited frame must show. 32-bit pixels as the frame buffer holds them: B, G, R, A in memory.
#pragma once

#include <cstdint>

namespace refwebcam {

// Webcam pixel (x, y) of generation g: B = x & 255, G = y & 255, R = 0x40 + 0x40 x (g & 3), and
// alpha 255 except in the 16 x 16 block at (32, 32), which is fully transparent.
uint32_t WebCamPixel(uint32_t x, uint32_t y, uint32_t generation);

// Background pixel (x, y): a solid dark green with alpha 255 except every eighth column (black).
uint32_t BackgroundPixel(uint32_t x, uint32_t y);

}  // namespace refwebcam
