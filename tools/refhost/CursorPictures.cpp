#include "CursorPictures.h"

#include <algorithm>

namespace refcursor {
namespace {

constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kMaskRowBytes = 4;  // 32 one-bit pixels, already a multiple of 4 bytes

bool InPicture(int32_t x, int32_t y)
{
    return x >= 0 && x < kCursorSize && y >= 0 && y < kCursorSize;
}

bool InSquare(int32_t x, int32_t y, int32_t begin, int32_t end)
{
    return x >= begin && x < end && y >= begin && y < end;
}

bool InColourHole(int32_t x, int32_t y)
{
    return InSquare(x, y, 12, 20);
}

// The monochrome cursor's two bits at a picture pixel.
struct TMonoBits {
    bool bAnd;
    bool bXor;
};

TMonoBits MonoBitsAt(int32_t x, int32_t y)
{
    if (x < 2 || x >= kCursorSize - 2 || y < 2 || y >= kCursorSize - 2) {
        return {false, false};  // black ring
    }
    if (InSquare(x, y, 8, 16)) {
        return {true, false};  // transparent
    }
    if (InSquare(x, y, 16, 24)) {
        return {true, true};  // inverts the background
    }
    return {false, true};  // white
}

void Put16(std::vector<uint8_t>& bytes, uint16_t value)
{
    bytes.push_back(static_cast<uint8_t>(value));
    bytes.push_back(static_cast<uint8_t>(value >> 8));
}

void Put32(std::vector<uint8_t>& bytes, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8) {
        bytes.push_back(static_cast<uint8_t>(value >> shift));
    }
}

// BITMAPINFOHEADER: size, width, height, planes, bit count, compression, image size, two
// resolutions (0), colours used, colours important (0).
std::vector<uint8_t> InfoHeader(int32_t width, int32_t height, uint16_t bitCount, uint32_t imageSize,
                                uint32_t coloursUsed)
{
    std::vector<uint8_t> bytes;
    Put32(bytes, kDibHeaderSize);
    Put32(bytes, static_cast<uint32_t>(width));
    Put32(bytes, static_cast<uint32_t>(height));
    Put16(bytes, 1);
    Put16(bytes, bitCount);
    Put32(bytes, kBiRgb);
    Put32(bytes, imageSize);
    Put32(bytes, 0);
    Put32(bytes, 0);
    Put32(bytes, coloursUsed);
    Put32(bytes, 0);
    return bytes;
}

// A 1-bit DIB of 32 columns and `rows` picture rows, palette black then white, stored bottom-up;
// bitAt(x, pictureRow) gives each bit, the leftmost pixel in a byte's highest bit.
template <class TBitAt>
std::vector<uint8_t> MaskDib(int32_t rows, TBitAt bitAt)
{
    std::vector<uint8_t> bytes = InfoHeader(kCursorSize, rows, 1, kMaskRowBytes * static_cast<uint32_t>(rows), 2);
    Put32(bytes, 0x00000000);
    Put32(bytes, 0x00FFFFFF);
    for (int32_t stored = 0; stored < rows; ++stored) {
        const int32_t pictureRow = rows - 1 - stored;
        for (int32_t byteIndex = 0; byteIndex < static_cast<int32_t>(kMaskRowBytes); ++byteIndex) {
            uint8_t value = 0;
            for (int32_t bit = 0; bit < 8; ++bit) {
                value = static_cast<uint8_t>(value | (bitAt(byteIndex * 8 + bit, pictureRow) ? 0x80u >> bit : 0u));
            }
            bytes.push_back(value);
        }
    }
    return bytes;
}

uint32_t ColourPixel(int32_t x, int32_t y)
{
    if (InColourHole(x, y)) {
        return 0;
    }
    const uint32_t blue = 0x20u + 4u * static_cast<uint32_t>(x);
    const uint32_t green = 0x10u + 4u * static_cast<uint32_t>(y);
    return 0xFF000000u | 0x00E00000u | green << 8 | blue;
}

}  // namespace

std::vector<uint8_t> ColourDib()
{
    const uint32_t imageSize = static_cast<uint32_t>(kCursorSize * kCursorSize * 4);
    std::vector<uint8_t> bytes = InfoHeader(kCursorSize, kCursorSize, 32, imageSize, 0);
    for (int32_t stored = 0; stored < kCursorSize; ++stored) {
        for (int32_t x = 0; x < kCursorSize; ++x) {
            Put32(bytes, ColourPixel(x, kCursorSize - 1 - stored));
        }
    }
    return bytes;
}

std::vector<uint8_t> ColourMaskDib()
{
    return MaskDib(kCursorSize, [](int32_t x, int32_t y) { return InColourHole(x, y); });
}

std::vector<uint8_t> MonochromeMaskDib()
{
    return MaskDib(2 * kCursorSize, [](int32_t x, int32_t row) {
        const bool bAndHalf = row < kCursorSize;
        const TMonoBits bits = MonoBitsAt(x, bAndHalf ? row : row - kCursorSize);
        return bAndHalf ? bits.bAnd : bits.bXor;
    });
}

std::vector<uint8_t> ColourBitmapOf(TCursorPicture picture)
{
    return picture == TCursorPicture::Colour ? ColourDib() : std::vector<uint8_t>{};
}

std::vector<uint8_t> MaskBitmapOf(TCursorPicture picture)
{
    switch (picture) {
    case TCursorPicture::Colour:
        return ColourMaskDib();
    case TCursorPicture::Monochrome:
        return MonochromeMaskDib();
    case TCursorPicture::None:
        break;
    }
    return {};
}

// Drawing a cursor combines per pixel: destination AND mask, then XOR colour; a 32-bit colour
// bitmap with alpha blends instead. The pictures are made so that both give the same pixel.
uint32_t ExpectedPixel(TCursorPicture picture, int32_t x, int32_t y, uint32_t background)
{
    if (!InPicture(x, y)) {
        return background;
    }
    switch (picture) {
    case TCursorPicture::Colour:
        return InColourHole(x, y) ? background : ColourPixel(x, y);
    case TCursorPicture::Monochrome: {
        const TMonoBits bits = MonoBitsAt(x, y);
        if (bits.bAnd) {
            return bits.bXor ? background ^ kRgbMask : background;
        }
        return bits.bXor ? 0xFFFFFFFFu : 0xFF000000u;
    }
    case TCursorPicture::None:
        break;
    }
    return background;
}

const char* CursorPictureName(TCursorPicture picture)
{
    switch (picture) {
    case TCursorPicture::Colour:
        return "colour";
    case TCursorPicture::Monochrome:
        return "mono";
    case TCursorPicture::None:
        return "none";
    }
    return "unknown";
}

bool ParseCursorPicture(std::wstring_view text, TCursorPicture* pPicture)
{
    for (TCursorPicture picture : {TCursorPicture::Colour, TCursorPicture::Monochrome, TCursorPicture::None}) {
        const std::string_view name = CursorPictureName(picture);
        if (text.size() == name.size() && std::equal(name.begin(), name.end(), text.begin(),
                                                     [](char a, wchar_t b) { return static_cast<wchar_t>(a) == b; })) {
            *pPicture = picture;
            return true;
        }
    }
    return false;
}

}  // namespace refcursor
