// The two synthetic cursors the reference host publishes, as packed DIBs (a 40-byte bitmap
// information header, the palette, the rows), and the frame pixel a 1:1 drawing of each leaves
// over a known background, so that a test can check every pixel of a drawn cursor.
//
// Platform-free: the headers are written byte by byte, little-endian, without windows.h.
//
// Pictures (x a column, y a row counted from the picture's top, both 0..31):
//   Colour: 32-bit with alpha. Opaque everywhere (alpha 0xFF, blue 0x20 + 4x, green 0x10 + 4y,
//     red 0xE0: never grey, and a flipped or shifted picture changes the colours) except a
//     transparent 8 x 8 hole at x, y in [12, 20) (alpha 0 and colour 0). Its AND mask is 1 exactly
//     in the hole, so drawing with the mask and drawing with the alpha agree.
//   Monochrome: a 32 x 64 AND/XOR mask, the AND half above the XOR half. An outer ring 2 pixels
//     wide is black (AND 0, XOR 0), the interior white (AND 0, XOR 1), except a transparent block
//     (AND 1, XOR 0) at x, y in [8, 16) and an inverting block (AND 1, XOR 1) at x, y in [16, 24).
//   None: nothing is published (handle 0, no bitmaps); every pixel keeps the background.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace refcursor {

enum class TCursorPicture { Colour, Monochrome, None };

constexpr int32_t kCursorSize = 32;

// Pixels are compared in these bits only: the alpha byte GDI leaves in a frame is not part of
// what a drawing promises.
constexpr uint32_t kRgbMask = 0x00FFFFFF;

// Size of the bitmap information header that starts every packed DIB here.
constexpr uint32_t kDibHeaderSize = 40;

// 32 x 32, 32 bits, bottom-up (height +32), BI_RGB, image size 4096, no palette.
std::vector<uint8_t> ColourDib();
// 32 x 32, 1 bit, bottom-up, two palette entries (black, white; colours used 2), rows of 4 bytes:
// the colour cursor's AND mask.
std::vector<uint8_t> ColourMaskDib();
// 32 x 64, 1 bit, bottom-up, two palette entries, rows of 4 bytes: the monochrome cursor's AND
// half (picture rows 0..31) above its XOR half (picture rows 32..63).
std::vector<uint8_t> MonochromeMaskDib();

// The packed DIB published as the colour bitmap / mask bitmap of `picture` (empty: none).
std::vector<uint8_t> ColourBitmapOf(TCursorPicture picture);
std::vector<uint8_t> MaskBitmapOf(TCursorPicture picture);

// The frame pixel, 0xAARRGGBB as a 32-bit BGRA frame holds it read little-endian, at cursor pixel
// (x, y) after a 1:1 drawing over `background`; compare under kRgbMask. Outside the picture and
// for None: the background.
uint32_t ExpectedPixel(TCursorPicture picture, int32_t x, int32_t y, uint32_t background);

// "colour", "mono", "none" (the tool's --cursor-picture values) and back.
const char* CursorPictureName(TCursorPicture picture);
bool ParseCursorPicture(std::wstring_view text, TCursorPicture* pPicture);

}  // namespace refcursor
