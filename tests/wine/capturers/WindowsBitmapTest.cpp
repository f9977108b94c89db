// TZYRWindowsBitmap on Wine's real GDI: the DIB it makes (size, orientation, palette) and the packed
// DIBs it reads from memory another process wrote, including blocks that lie about their sizes.
#include "ProcessLogServer.h"
#include "capturers/TZYRWindowsBitmap.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// A packed DIB: header, `colors` palette entries, then `pixelBytes` bytes of rows.
std::vector<uint8_t> PackedDib(int32_t width, int32_t height, uint16_t bits, uint32_t colors, uint32_t imageSize,
                               size_t pixelBytes)
{
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(header);
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = bits;
    header.biCompression = BI_RGB;
    header.biSizeImage = imageSize;
    header.biClrUsed = colors;
    std::vector<uint8_t> block(sizeof(header) + 4 * size_t{colors} + pixelBytes);
    std::memcpy(block.data(), &header, sizeof(header));
    for (size_t i = sizeof(header); i < block.size(); ++i) {
        block[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    return block;
}

// The colour GDI reads back at (x, y) of the bitmap's DC, as 0x00BBGGRR.
COLORREF PixelAt(const TZYRWindowsBitmap& bitmap, int x, int y)
{
    return ::GetPixel(bitmap.DC(), x, y);
}

TEST(WindowsBitmap, MakesA32BitDibOfTheAskedSizeWithAPositiveHeightForBothOrientations)
{
    struct Case {
        const char* name;
        int32_t height;
    };
    for (const Case& c : {Case{"bottom-up", 48}, Case{"top-down", -48}}) {
        SCOPED_TRACE(c.name);
        TZYRWindowsBitmap bitmap(64, c.height, 32, 0, nullptr);
        ASSERT_NE(bitmap.Bits(), nullptr);
        EXPECT_EQ(bitmap.Width(), 64);
        EXPECT_EQ(bitmap.Height(), 48);
        EXPECT_EQ(bitmap.BitsPerPixel(), 32);
        EXPECT_EQ(bitmap.ImageSize(), 64u * 4 * 48);
        // Row order: the first row in memory is the bottom row for bottom-up, the top row else.
        std::memset(bitmap.Bits(), 0, bitmap.ImageSize());
        std::memset(bitmap.Bits(), 0xFF, 64 * 4);
        ::GdiFlush();
        EXPECT_EQ(PixelAt(bitmap, 5, c.height > 0 ? 47 : 0), RGB(255, 255, 255));
        EXPECT_EQ(PixelAt(bitmap, 5, c.height > 0 ? 0 : 47), RGB(0, 0, 0));
    }
}

TEST(WindowsBitmap, RowsAreDwordAlignedAndCreateReplacesTheDib)
{
    TZYRWindowsBitmap bitmap(10, 3, 24, 0, nullptr);
    ASSERT_NE(bitmap.Bits(), nullptr);
    EXPECT_EQ(bitmap.ImageSize(), 32u * 3);  // 10 x 3 bytes rounded up to 32
    ASSERT_TRUE(bitmap.Create(7, 5, 32, 0, nullptr));
    EXPECT_EQ(bitmap.Width(), 7);
    EXPECT_EQ(bitmap.Height(), 5);
    EXPECT_EQ(bitmap.ImageSize(), 7u * 4 * 5);
    // The new DIB is the one selected into the DC: a GDI fill lands in its pixels.
    RECT all{0, 0, 7, 5};
    ::FillRect(bitmap.DC(), &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    ::GdiFlush();
    EXPECT_EQ(bitmap.Bits()[0], 0xFF);
    EXPECT_EQ(bitmap.Bits()[7 * 4 * 5 - 2], 0xFF);
}

TEST(WindowsBitmap, AnImpossibleSizeFallsBackToOnePixel)
{
    TZYRWindowsBitmap huge(0x7FFFFFFF, 0x7FFFFFFF, 32, 0, nullptr);
    ASSERT_NE(huge.Bits(), nullptr);
    EXPECT_EQ(huge.Width(), 1);
    EXPECT_EQ(huge.Height(), 1);
    TZYRWindowsBitmap negativeWidth(-5, 10, 32, 0, nullptr);
    EXPECT_EQ(negativeWidth.Width(), 1);
}

TEST(WindowsBitmap, PaletteEntriesComeFromBehindTheHeader)
{
    const uint8_t palette[8] = {0x00, 0x00, 0x00, 0, 0x30, 0x20, 0x10, 0};  // black, then RGB(0x10,0x20,0x30)
    TZYRWindowsBitmap bitmap(8, 1, 1, 2, palette);
    ASSERT_NE(bitmap.Bits(), nullptr);
    bitmap.Bits()[0] = 0x80;  // the first pixel uses entry 1
    ::GdiFlush();
    EXPECT_EQ(PixelAt(bitmap, 0, 0), RGB(0x10, 0x20, 0x30));
    EXPECT_EQ(PixelAt(bitmap, 1, 0), RGB(0, 0, 0));
}

TEST(WindowsBitmap, FromMemoryCopiesTheImageThatFollowsHeaderAndPalette)
{
    const std::vector<uint8_t> block = PackedDib(32, 32, 32, 0, 4096, 4096);
    const auto bitmap = TZYRWindowsBitmap::CreateBitmapFromMemory(block.data(), block.size());
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->Width(), 32);
    EXPECT_EQ(bitmap->Height(), 32);
    ASSERT_EQ(bitmap->ImageSize(), 4096u);
    EXPECT_EQ(std::memcmp(bitmap->Bits(), block.data() + 40, 4096), 0);

    // A 1-bit mask with two palette entries: the pixels start after them.
    const std::vector<uint8_t> mask = PackedDib(32, 64, 1, 2, 256, 256);
    const auto maskBitmap = TZYRWindowsBitmap::CreateBitmapFromMemory(mask.data(), mask.size());
    ASSERT_NE(maskBitmap, nullptr);
    ASSERT_EQ(maskBitmap->ImageSize(), 256u);
    EXPECT_EQ(std::memcmp(maskBitmap->Bits(), mask.data() + 48, 256), 0);
}

TEST(WindowsBitmap, FromMemoryNeverReadsOutsideItsBlock)
{
    const size_t mark = LogMark();
    struct Case {
        const char* name;
        std::vector<uint8_t> block;
        size_t available;
    };
    const std::vector<uint8_t> fine = PackedDib(32, 32, 32, 0, 4096, 4096);
    // A header alone that claims a palette of 2^30 entries behind it.
    std::vector<uint8_t> hugePalette = PackedDib(8, 8, 8, 0, 0, 0);
    const uint32_t hugeColors = 0x40000000;
    std::memcpy(hugePalette.data() + offsetof(BITMAPINFOHEADER, biClrUsed), &hugeColors, sizeof(hugeColors));
    const Case cases[] = {
        {"shorter than a header", fine, 39},
        {"image size beyond the block", PackedDib(32, 32, 32, 0, 4096, 4000), 40 + 4000},
        {"palette beyond the block", hugePalette, 40},
        {"image size of 4 GiB - 1", PackedDib(32, 32, 32, 0, 0xFFFFFFFF, 16), 56},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> block(c.block.begin(), c.block.begin() + std::min(c.available, c.block.size()));
        EXPECT_EQ(TZYRWindowsBitmap::CreateBitmapFromMemory(block.data(), block.size()), nullptr);
    }
    size_t refusals = 0;
    for (const std::string& text : TextsSince(mark)) {
        refusals += text.rfind("TZYRWindowsBitmap::CreateBitmapFromMemory ", 0) == 0 &&
                    (text.find("does not fit") != std::string::npos || text.find("no room") != std::string::npos);
    }
    EXPECT_EQ(refusals, std::size(cases));
}

TEST(WindowsBitmap, FromMemoryCopiesNoMoreThanTheNewBitmapHolds)
{
    // The header claims more pixel bytes than a 4 x 4 bitmap has: only 64 are copied.
    const std::vector<uint8_t> block = PackedDib(4, 4, 32, 0, 1024, 1024);
    const auto bitmap = TZYRWindowsBitmap::CreateBitmapFromMemory(block.data(), block.size());
    ASSERT_NE(bitmap, nullptr);
    ASSERT_EQ(bitmap->ImageSize(), 64u);
    EXPECT_EQ(std::memcmp(bitmap->Bits(), block.data() + 40, 64), 0);
}

}  // namespace
