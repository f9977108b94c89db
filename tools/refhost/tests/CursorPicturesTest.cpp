// The reference host's cursor pictures, read back from their bytes: header fields, bottom-up row
// order, palette and mask bits, and the pixel a drawing leaves, checked against a mask-and-XOR
// drawing done here from the DIB bytes alone. Platform-free: built natively and under Wine.
#include "CursorPictures.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using refcursor::TCursorPicture;

uint32_t U32At(const std::vector<uint8_t>& bytes, size_t offset)
{
    return static_cast<uint32_t>(bytes.at(offset)) | static_cast<uint32_t>(bytes.at(offset + 1)) << 8 |
           static_cast<uint32_t>(bytes.at(offset + 2)) << 16 | static_cast<uint32_t>(bytes.at(offset + 3)) << 24;
}

uint16_t U16At(const std::vector<uint8_t>& bytes, size_t offset)
{
    return static_cast<uint16_t>(bytes.at(offset) | bytes.at(offset + 1) << 8);
}

// Pixel (x, y), y counted from the picture's top, of the 32 x 32 colour DIB (bottom-up rows).
uint32_t ColourAt(const std::vector<uint8_t>& dib, int x, int y)
{
    return U32At(dib, 40 + (static_cast<size_t>(31 - y) * 32 + static_cast<size_t>(x)) * 4);
}

// Bit (x, row) of a 1-bit DIB of `rows` rows, 32 wide, two palette entries, bottom-up.
bool MaskBitAt(const std::vector<uint8_t>& dib, int rows, int x, int row)
{
    const size_t storedRow = static_cast<size_t>(rows - 1 - row);
    const uint8_t byte = dib.at(40 + 8 + storedRow * 4 + static_cast<size_t>(x / 8));
    return (byte >> (7 - x % 8)) & 1;
}

struct DibCase {
    const char* name;
    std::vector<uint8_t> dib;
    uint32_t width;
    uint32_t height;
    uint16_t bitCount;
    uint32_t imageSize;
    uint32_t coloursUsed;
};

TEST(CursorPictures, HeaderFieldsOfEachDib)
{
    const DibCase cases[] = {
        {"colour", refcursor::ColourDib(), 32, 32, 32, 4096, 0},
        {"colour mask", refcursor::ColourMaskDib(), 32, 32, 1, 128, 2},
        {"monochrome mask", refcursor::MonochromeMaskDib(), 32, 64, 1, 256, 2},
    };
    for (const DibCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(c.dib.size(), 40u + 4u * c.coloursUsed + c.imageSize);
        EXPECT_EQ(U32At(c.dib, 0), 40u) << "biSize";
        EXPECT_EQ(U32At(c.dib, 4), c.width) << "biWidth";
        EXPECT_EQ(U32At(c.dib, 8), c.height) << "biHeight: positive, bottom-up";
        EXPECT_EQ(U16At(c.dib, 12), 1u) << "biPlanes";
        EXPECT_EQ(U16At(c.dib, 14), c.bitCount) << "biBitCount";
        EXPECT_EQ(U32At(c.dib, 16), 0u) << "biCompression BI_RGB";
        EXPECT_EQ(U32At(c.dib, 20), c.imageSize) << "biSizeImage";
        EXPECT_EQ(U32At(c.dib, 24), 0u) << "biXPelsPerMeter";
        EXPECT_EQ(U32At(c.dib, 28), 0u) << "biYPelsPerMeter";
        EXPECT_EQ(U32At(c.dib, 32), c.coloursUsed) << "biClrUsed";
        EXPECT_EQ(U32At(c.dib, 36), 0u) << "biClrImportant";
        if (c.coloursUsed == 2) {
            EXPECT_EQ(U32At(c.dib, 40), 0x00000000u) << "palette 0 black";
            EXPECT_EQ(U32At(c.dib, 44), 0x00FFFFFFu) << "palette 1 white";
        }
    }
}

TEST(CursorPictures, ColourRowsAreStoredBottomUp)
{
    const std::vector<uint8_t> dib = refcursor::ColourDib();
    // The first stored row is the picture's last (y = 31), the last stored row its first.
    EXPECT_EQ(U32At(dib, 40), 0xFFE08C20u) << "stored row 0, x 0: picture (0, 31)";
    EXPECT_EQ(U32At(dib, 40 + 31 * 128), 0xFFE01020u) << "stored row 31, x 0: picture (0, 0)";
    EXPECT_EQ(U32At(dib, 40 + 31 * 128 + 31 * 4), 0xFFE0109Cu) << "picture (31, 0)";
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            SCOPED_TRACE(testing::Message() << "(" << x << ", " << y << ")");
            const bool bHole = x >= 12 && x < 20 && y >= 12 && y < 20;
            const uint32_t expected = bHole ? 0u : 0xFFE00000u | (0x10u + 4u * y) << 8 | (0x20u + 4u * x);
            ASSERT_EQ(ColourAt(dib, x, y), expected);
            const uint32_t red = expected >> 16 & 0xFF, green = expected >> 8 & 0xFF, blue = expected & 0xFF;
            ASSERT_TRUE(bHole || red != green || green != blue) << "never grey";
        }
    }
}

TEST(CursorPictures, ColourMaskIsSetExactlyInTheHole)
{
    const std::vector<uint8_t> dib = refcursor::ColourMaskDib();
    int setBits = 0;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            const bool bHole = x >= 12 && x < 20 && y >= 12 && y < 20;
            EXPECT_EQ(MaskBitAt(dib, 32, x, y), bHole) << "(" << x << ", " << y << ")";
            setBits += MaskBitAt(dib, 32, x, y) ? 1 : 0;
        }
    }
    EXPECT_EQ(setBits, 64);
    // Picture row 12 is stored row 19: bytes 1 and 2 carry columns 12..19 (0x0F, 0xF0).
    EXPECT_EQ(dib.at(48 + 19 * 4 + 1), 0x0Fu);
    EXPECT_EQ(dib.at(48 + 19 * 4 + 2), 0xF0u);
    EXPECT_EQ(dib.at(48 + 20 * 4 + 1), 0x00u) << "stored row 20 is picture row 11, above the hole";
}

struct MonoCase {
    const char* name;
    int x;
    int y;
    bool bAnd;
    bool bXor;
};

TEST(CursorPictures, MonochromeMaskHasAndAboveXor)
{
    const std::vector<uint8_t> dib = refcursor::MonochromeMaskDib();
    const MonoCase cases[] = {
        {"ring top-left", 0, 0, false, false},
        {"ring inner edge", 1, 15, false, false},
        {"ring right", 30, 10, false, false},
        {"ring bottom", 10, 31, false, false},
        {"first interior", 2, 2, false, true},
        {"interior right", 29, 29, false, true},
        {"white left of transparent", 7, 8, false, true},
        {"transparent first", 8, 8, true, false},
        {"transparent last", 15, 15, true, false},
        {"transparent column, invert row", 12, 16, false, true},
        {"inverting first", 16, 16, true, true},
        {"inverting last", 23, 23, true, true},
        {"white right of inverting", 24, 20, false, true},
    };
    for (const MonoCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(MaskBitAt(dib, 64, c.x, c.y), c.bAnd) << "AND, picture row " << c.y;
        EXPECT_EQ(MaskBitAt(dib, 64, c.x, c.y + 32), c.bXor) << "XOR, picture row " << c.y + 32;
    }
    // Bottom-up: the first stored row is the XOR half's last row (all ring: zero), the last stored
    // row the AND half's first (ring: zero); stored row 47 is AND picture row 16, whose inverting
    // block sets columns 16..23.
    EXPECT_EQ(U32At(dib, 48), 0u);
    EXPECT_EQ(dib.at(48 + 47 * 4 + 2), 0xFFu);
    EXPECT_EQ(dib.at(48 + 47 * 4 + 1), 0x00u);
}

// What mask-and-XOR drawing of the published DIBs gives, from their bytes alone.
uint32_t DrawnFromBytes(TCursorPicture picture, int x, int y, uint32_t background)
{
    if (picture == TCursorPicture::None) {
        return background & refcursor::kRgbMask;
    }
    if (picture == TCursorPicture::Colour) {
        const bool bAnd = MaskBitAt(refcursor::ColourMaskDib(), 32, x, y);
        return ((bAnd ? background : 0u) ^ ColourAt(refcursor::ColourDib(), x, y)) & refcursor::kRgbMask;
    }
    const std::vector<uint8_t> mono = refcursor::MonochromeMaskDib();
    const uint32_t andBits = MaskBitAt(mono, 64, x, y) ? 0x00FFFFFFu : 0u;
    const uint32_t xorBits = MaskBitAt(mono, 64, x, y + 32) ? 0x00FFFFFFu : 0u;
    return ((background & andBits) ^ xorBits) & refcursor::kRgbMask;
}

TEST(CursorPictures, ExpectedPixelMatchesAMaskDrawingOfTheBytes)
{
    for (TCursorPicture picture : {TCursorPicture::Colour, TCursorPicture::Monochrome, TCursorPicture::None}) {
        for (uint32_t background : {0x00000000u, 0xFF123456u, 0x00FFFFFFu}) {
            SCOPED_TRACE(testing::Message() << refcursor::CursorPictureName(picture) << " over " << std::hex
                                            << background);
            int opaque = 0;
            for (int y = 0; y < 32; ++y) {
                for (int x = 0; x < 32; ++x) {
                    ASSERT_EQ(refcursor::ExpectedPixel(picture, x, y, background) & refcursor::kRgbMask,
                              DrawnFromBytes(picture, x, y, background))
                        << "(" << x << ", " << y << ")";
                    opaque += refcursor::IsOpaque(picture, x, y) ? 1 : 0;
                }
            }
            EXPECT_EQ(opaque, picture == TCursorPicture::Colour ? 960 : (picture == TCursorPicture::Monochrome ? 896 : 0));
        }
    }
}

struct PixelCase {
    const char* name;
    TCursorPicture picture;
    int x;
    int y;
    uint32_t expected;  // under kRgbMask, over the background 0x00123456
    bool bOpaque;
};

TEST(CursorPictures, ExpectedPixelOfEachKind)
{
    constexpr uint32_t kBackground = 0x00123456;
    const PixelCase cases[] = {
        {"colour corner", TCursorPicture::Colour, 0, 0, 0xE01020, true},
        {"colour far corner", TCursorPicture::Colour, 31, 31, 0xE08C9C, true},
        {"colour before the hole", TCursorPicture::Colour, 11, 12, 0xE0404C, true},
        {"colour hole", TCursorPicture::Colour, 12, 12, kBackground, false},
        {"colour hole end", TCursorPicture::Colour, 19, 19, kBackground, false},
        {"colour after the hole", TCursorPicture::Colour, 20, 19, 0xE05C70, true},
        {"colour outside left", TCursorPicture::Colour, -1, 0, kBackground, false},
        {"colour outside below", TCursorPicture::Colour, 0, 32, kBackground, false},
        {"mono black ring", TCursorPicture::Monochrome, 1, 1, 0x000000, true},
        {"mono white", TCursorPicture::Monochrome, 2, 2, 0xFFFFFF, true},
        {"mono transparent", TCursorPicture::Monochrome, 8, 15, kBackground, false},
        {"mono inverting", TCursorPicture::Monochrome, 16, 23, 0xEDCBA9, false},
        {"mono outside", TCursorPicture::Monochrome, 32, 0, kBackground, false},
        {"none", TCursorPicture::None, 5, 5, kBackground, false},
    };
    for (const PixelCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(refcursor::ExpectedPixel(c.picture, c.x, c.y, kBackground) & refcursor::kRgbMask, c.expected);
        EXPECT_EQ(refcursor::IsOpaque(c.picture, c.x, c.y), c.bOpaque);
    }
}

TEST(CursorPictures, PublishedBitmapsOfEachPicture)
{
    EXPECT_EQ(refcursor::ColourBitmapOf(TCursorPicture::Colour), refcursor::ColourDib());
    EXPECT_EQ(refcursor::MaskBitmapOf(TCursorPicture::Colour), refcursor::ColourMaskDib());
    EXPECT_TRUE(refcursor::ColourBitmapOf(TCursorPicture::Monochrome).empty());
    EXPECT_EQ(refcursor::MaskBitmapOf(TCursorPicture::Monochrome), refcursor::MonochromeMaskDib());
    EXPECT_TRUE(refcursor::ColourBitmapOf(TCursorPicture::None).empty());
    EXPECT_TRUE(refcursor::MaskBitmapOf(TCursorPicture::None).empty());
}

TEST(CursorPictures, NamesRoundTripAndOthersAreRejected)
{
    for (TCursorPicture picture : {TCursorPicture::Colour, TCursorPicture::Monochrome, TCursorPicture::None}) {
        const std::string name = refcursor::CursorPictureName(picture);
        TCursorPicture parsed = picture == TCursorPicture::None ? TCursorPicture::Colour : TCursorPicture::None;
        EXPECT_TRUE(refcursor::ParseCursorPicture(std::wstring(name.begin(), name.end()), &parsed)) << name;
        EXPECT_EQ(parsed, picture) << name;
    }
    for (const wchar_t* text : {L"", L"color", L"Colour", L"monochrome", L"none ", L"colou"}) {
        TCursorPicture parsed = TCursorPicture::Monochrome;
        EXPECT_FALSE(refcursor::ParseCursorPicture(text, &parsed));
        EXPECT_EQ(parsed, TCursorPicture::Monochrome);
    }
}

}  // namespace
