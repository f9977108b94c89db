// TZYRWindowsBitmap on Wine's GDI: the row order of the DIB it makes, and packed DIBs read from
// memory another process wrote, refused when what their header claims runs past the block.
#include "ProcessLogServer.h"
#include "capturers/TZYRWindowsBitmap.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstddef>
#include <cstring>
#include <vector>

namespace {

// A packed DIB: header, `colors` palette entries, then `pixelBytes` bytes of patterned rows.
std::vector<uint8_t> PackedDib(int32_t width, int32_t height, uint16_t bits, uint32_t colors, uint32_t imageSize,
                               size_t pixelBytes)
{
    const BITMAPINFOHEADER header{sizeof(header), width, height, 1, bits, BI_RGB, imageSize, 0, 0, colors, 0};
    std::vector<uint8_t> block(sizeof(header) + 4 * size_t{colors} + pixelBytes);
    for (size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    std::memcpy(block.data(), &header, sizeof(header));
    return block;
}

TEST(WindowsBitmap, PositiveHeightIsBottomUpNegativeHeightTopDown)
{
    for (const int32_t height : {48, -48}) {
        SCOPED_TRACE(height);
        TZYRWindowsBitmap bitmap(64, height, 32, 0, nullptr);
        ASSERT_NE(bitmap.Bits(), nullptr);
        EXPECT_EQ(bitmap.Height(), 48);
        ASSERT_EQ(bitmap.ImageSize(), 64u * 4 * 48);
        std::memset(bitmap.Bits(), 0, bitmap.ImageSize());
        std::memset(bitmap.Bits(), 0xFF, 64 * 4);  // the first row in memory
        ::GdiFlush();
        EXPECT_EQ(::GetPixel(bitmap.DC(), 5, height > 0 ? 47 : 0), RGB(255, 255, 255));
        EXPECT_EQ(::GetPixel(bitmap.DC(), 5, height > 0 ? 0 : 47), RGB(0, 0, 0));
    }
}

TEST(WindowsBitmap, FromMemoryCopiesThePixelsBehindHeaderAndPaletteWithinTheBlock)
{
    struct Case {
        const char* name;
        std::vector<uint8_t> block;
        size_t available;  // bytes of the block handed over
        size_t pixelsAt;
        uint32_t copied;  // 0: refused
    };
    std::vector<uint8_t> hugePalette = PackedDib(8, 8, 8, 0, 0, 0);
    const uint32_t hugeColors = 0x40000000;
    std::memcpy(hugePalette.data() + offsetof(BITMAPINFOHEADER, biClrUsed), &hugeColors, sizeof(hugeColors));
    const Case cases[] = {
        {"32-bit", PackedDib(32, 32, 32, 0, 4096, 4096), 40 + 4096, 40, 4096},
        {"1-bit mask behind two palette entries", PackedDib(32, 64, 1, 2, 256, 256), 48 + 256, 48, 256},
        {"image size above the bitmap's: only its bytes", PackedDib(4, 4, 32, 0, 1024, 1024), 40 + 1024, 40, 64},
        {"shorter than a header", PackedDib(32, 32, 32, 0, 4096, 4096), 39, 0, 0},
        {"image size beyond the block", PackedDib(32, 32, 32, 0, 4096, 4000), 40 + 4000, 0, 0},
        {"dimensions beyond the block", PackedDib(1000, 1000, 32, 0, 16, 16), 40 + 16, 0, 0},
        {"palette beyond the block", hugePalette, 40, 0, 0},
        {"image size of 4 GiB - 1", PackedDib(32, 32, 32, 0, 0xFFFFFFFF, 16), 40 + 16, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t mark = LogMark();
        const auto bitmap = TZYRWindowsBitmap::CreateBitmapFromMemory(c.block.data(), c.available);
        if (c.copied == 0) {
            EXPECT_EQ(bitmap, nullptr);
            const std::vector<TLoggedLine> lines = LinesSince(mark);
            ASSERT_FALSE(lines.empty());
            EXPECT_EQ(lines.back().ui32Type, 2u);
            EXPECT_EQ(lines.back().strText.rfind("TZYRWindowsBitmap::CreateBitmapFromMemory ", 0), 0u);
            continue;
        }
        ASSERT_NE(bitmap, nullptr);
        ASSERT_EQ(bitmap->ImageSize(), c.copied);
        EXPECT_EQ(std::memcmp(bitmap->Bits(), c.block.data() + c.pixelsAt, c.copied), 0);
    }
}

}  // namespace
