// A frame as the host keeps it, and what the sinks turn it into: PNG files, a raw BGRA stream and
// a YUV4MPEG2 stream for an encoder. Platform-free.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A picture in top-down rows of ui32Width pixels, whatever the row order in the frame slot was.
// Each pixel holds the capturer's four bytes blue, green, red, alpha read as one little-endian
// value: blue in bits 0-7, green 8-15, red 16-23, alpha 24-31. vecPixels has width * height entries.
struct TFramePicture {
    uint32_t ui32Width = 0;
    uint32_t ui32Height = 0;
    std::vector<uint32_t> vecPixels;
};

// Red, green, blue bytes per pixel, rows top-down. Alpha is dropped: what the screen capturers put
// there is not a coverage value (GDI leaves it 0), and an RGBA file would show a transparent image.
std::vector<uint8_t> BgraToRgb(const TFramePicture& picture);

// The picture as a PNG file (8-bit RGB). Empty when the picture is empty or inconsistent.
std::vector<uint8_t> EncodePng(const TFramePicture& picture);

// The raw stream: per frame width * height * 4 bytes, blue, green, red, alpha, rows top-down
// (an encoder reads it as "bgra" at the frame size).
void AppendRawFrame(const TFramePicture& picture, std::vector<uint8_t>* pBytes);

// The YUV4MPEG2 stream: the header line once, then per frame "FRAME\n" and three planes.
// Chroma is 4:2:0 with centred siting (C420jpeg): each chroma sample is the average of a 2x2
// block, the last column or row alone when the size is odd, so planes are ceil(w/2) x ceil(h/2).
// Colours are BT.601 in the limited range (luma 16-235, chroma 16-240), as encoders assume for
// Y4M without colour tags, in 8-bit integer arithmetic:
//   Y = ((66 R + 129 G + 25 B + 128) >> 8) + 16
//   U = ((-38 R - 74 G + 112 B + 128) >> 8) + 128
//   V = ((112 R - 94 G - 18 B + 128) >> 8) + 128
// The frame rate is the given rate as a fraction of thousandths, reduced; 0 (no rate) writes 30:1.
std::string Y4mHeader(uint32_t ui32Width, uint32_t ui32Height, double dFramesPerSecond);
void AppendY4mFrame(const TFramePicture& picture, std::vector<uint8_t>* pBytes);

// One pixel's luma and chroma by the formulas above.
uint8_t LumaOf(uint32_t bgra);
uint8_t ChromaUOf(int red, int green, int blue);
uint8_t ChromaVOf(int red, int green, int blue);

// "frame_0042.png": the name of the PNG file of frame `index` (at least four digits).
std::string PngFileName(uint32_t index);
