// The pictures ZYRScene paints, as pure functions of the pixel position and the scene's generation,
// so that a test can compute what a captured frame must hold. No windows.h: this header is the
// whole of the zyr_scene_pattern target.
//
// Values are 32-bit BGRX words exactly as they sit in a 32-bit DIB: blue in the lowest byte, then
// green, then red; the top byte is 0 here, and a captured frame's top byte is undefined (compare
// with kPatternColourMask).
//
//   coords  B = x & 0xFF, G = y & 0xFF, R = (x >> 8) | ((y >> 8) << 3) | ((generation & 3) << 6)
//           Every pixel of a screen up to 2048 x 2048 has its own colour, and consecutive
//           generations differ in every pixel: for exact checks of 1:1 frames (a shifted, mirrored
//           or stale row cannot match by accident).
//   smooth  B = (x >> 3) & 0xFF, G = (y >> 3) & 0xFF, R = 40 * (generation % 6)
//           Neighbours differ by at most 1 in each channel, so a scaled frame stays within a small
//           tolerance of the pattern at the matching source position (ScaledPatternPixel).
#pragma once

#include <cstdint>
#include <string_view>

namespace scene {

enum class Pattern : uint8_t { Coords, Smooth };

// Channels that a capture reproduces; the top byte of a captured pixel is not compared.
constexpr uint32_t kPatternColourMask = 0x00FFFFFFu;

constexpr uint32_t Bgrx(uint32_t blue, uint32_t green, uint32_t red)
{
    return (blue & 0xFFu) | ((green & 0xFFu) << 8) | ((red & 0xFFu) << 16);
}

// The colour of screen pixel (x, y) of the primary monitor (origin at its top-left corner) while
// the scene shows `generation` (0 after start, +1 for each "next" signal).
constexpr uint32_t PatternPixel(Pattern pattern, uint32_t x, uint32_t y, uint32_t generation)
{
    if (pattern == Pattern::Coords) {
        return Bgrx(x, y, (x >> 8) | ((y >> 8) << 3) | ((generation & 3u) << 6));
    }
    return Bgrx(x >> 3, y >> 3, 40u * (generation % 6u));
}

// The pattern value that destination pixel (dx, dy) of a source-sized area (srcW x srcH) scaled to
// dstW x dstH should come close to: the pixel under the destination pixel's centre. For the smooth
// pattern a filtered scale (HALFTONE, bilinear) stays within kSmoothScaledTolerance of it.
// Sizes of 0 give the pattern at (0, 0).
constexpr uint32_t ScaledPatternPixel(Pattern pattern, uint32_t dx, uint32_t dy, uint32_t srcW, uint32_t srcH,
                                      uint32_t dstW, uint32_t dstH, uint32_t generation)
{
    const uint64_t x = dstW != 0 ? ((2ull * dx + 1) * srcW) / (2ull * dstW) : 0;
    const uint64_t y = dstH != 0 ? ((2ull * dy + 1) * srcH) / (2ull * dstH) : 0;
    return PatternPixel(pattern, static_cast<uint32_t>(x), static_cast<uint32_t>(y), generation);
}

// Per-channel bound for smooth frames scaled down by up to 4 in each direction. A filter that
// averages the source pixels under a destination pixel (Windows' HALFTONE) mixes values within 1
// of the centre pixel's, plus 1 for rounding. Wine 8's HALFTONE takes the pixel under the centre
// and matches ScaledPatternPixel exactly.
constexpr uint32_t kSmoothScaledTolerance = 2;

// The largest difference between two pixels over blue, green and red.
constexpr uint32_t MaxChannelDifference(uint32_t a, uint32_t b)
{
    uint32_t largest = 0;
    for (uint32_t shift = 0; shift < 24; shift += 8) {
        const uint32_t ca = (a >> shift) & 0xFFu;
        const uint32_t cb = (b >> shift) & 0xFFu;
        const uint32_t difference = ca > cb ? ca - cb : cb - ca;
        largest = difference > largest ? difference : largest;
    }
    return largest;
}

// "coords" / "smooth", as the --pattern option spells them.
constexpr const char* PatternName(Pattern pattern)
{
    return pattern == Pattern::Coords ? "coords" : "smooth";
}

// False (and *pPattern untouched) for any other text.
constexpr bool ParsePatternName(std::wstring_view text, Pattern* pPattern)
{
    if (text == L"coords") {
        *pPattern = Pattern::Coords;
        return true;
    }
    if (text == L"smooth") {
        *pPattern = Pattern::Smooth;
        return true;
    }
    return false;
}

}  // namespace scene
