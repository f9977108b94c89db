// The cursor drawer's arithmetic: sizes, placement in scaled frames of both row orders, and the
// rectangle copy with its clipping, checked pixel by pixel on images held in vectors of exactly
// their size (AddressSanitizer reports any byte touched outside them).
#include "cursor/CursorGeometry.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace {

using namespace cursorgeo;
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

// A 32-bit image of `height` rows `stride` bytes apart; picture row y lies at memory row
// height - 1 - y when bottom-up. Coded pixels hold a tag, the row and the column.
struct Image {
    int32_t width, height;
    uint32_t stride;
    bool bottomUp;
    std::vector<uint8_t> bytes = std::vector<uint8_t>(size_t(height) * stride, 0xEE);

    uint32_t& At(int32_t x, int32_t y)
    {
        const int32_t row = bottomUp ? height - 1 - y : y;
        return *reinterpret_cast<uint32_t*>(bytes.data() + size_t(row) * stride + size_t(x) * 4);
    }
    static uint32_t Coded(uint32_t tag, int32_t x, int32_t y) { return tag << 24 | uint32_t(y) << 12 | uint32_t(x); }
    void Fill(uint32_t tag)
    {
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                At(x, y) = Coded(tag, x, y);
            }
        }
    }
};

void Copy(Image& from, Image& to, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w, int32_t h, bool flip)
{
    CopyImageRect(from.bytes.data(), from.width, from.height, from.stride, to.bytes.data(), to.width, to.height,
                  to.stride, sx, sy, dx, dy, w, h, flip);
}

TEST(CursorGeometry, SizesAndPlacement)
{
    EXPECT_EQ(CursorSizeOf(true, 48, 40, true, 32, 64), (TCursorSize{48, 40}));
    EXPECT_EQ(CursorSizeOf(false, 0, 0, true, 31, 63), (TCursorSize{31, 31}));  // half the mask
    EXPECT_EQ(CursorSizeOf(false, 48, 40, false, 32, 64), (TCursorSize{0, 0}));
    EXPECT_EQ(ScaledCursorSize(32, 32, 0.5, 0.5), (TCursorSize{16, 16}));
    EXPECT_EQ(ScaledCursorSize(32, 31, 0.75, 0.75), (TCursorSize{24, 23}));  // 23.25
    EXPECT_EQ(ScaledCursorSize(-1, 0, 1.0, 1.0), (TCursorSize{kMax, 0}));    // -1 is 2^32 - 1, saturated
    // 0.5 at (100, 80): drawn at (50, 40).
    EXPECT_EQ(PlaceCursor(100, 80, 0, 0, 0.5, 0.5, 0, 0, false, 1080, 16), (TCursorPlacement{50, 40, 40}));
    // Hot spot first, then the scale, each product truncated toward zero, then the offset.
    EXPECT_EQ(PlaceCursor(25, 10, 10, 5, 0.5, 0.75, 10, -20, false, 100, 10), (TCursorPlacement{17, -17, -17}));
    EXPECT_EQ(PlaceCursor(1, 0, 4, 3, 0.5, 0.75, 0, 0, false, 100, 10), (TCursorPlacement{-1, -2, -2}));
    // A top-down frame of 1,080 rows, the cursor 32 rows high at 100: row 947 counted bottom-up.
    EXPECT_EQ(PlaceCursor(0, 100, 0, 0, 1.0, 1.0, 0, 0, true, 1080, 32), (TCursorPlacement{0, 100, 947}));
    EXPECT_EQ(PlaceCursor(kMax, kMin, kMin, kMax, 1.0, 1.0, kMax, kMin, false, 0, 0),
              (TCursorPlacement{kMax, kMin, kMin}));
}

TEST(CursorGeometry, CopyKeepsPictureRowsBetweenBottomUpImages)
{
    Image frame{64, 48, 64 * 4 + 8, true};  // a stride with padding
    Image scratch{8, 6, 8 * 4, true};
    frame.Fill(1);
    Copy(frame, scratch, 10, 20, 0, 0, 8, 6, false);
    EXPECT_EQ(scratch.At(0, 0), Image::Coded(1, 10, 20));
    EXPECT_EQ(scratch.At(7, 5), Image::Coded(1, 17, 25));
    scratch.Fill(2);
    Copy(scratch, frame, 0, 0, 10, 20, 8, 6, false);
    EXPECT_EQ(frame.At(10, 20), Image::Coded(2, 0, 0));
    EXPECT_EQ(frame.At(17, 25), Image::Coded(2, 7, 5));
    EXPECT_EQ(frame.At(9, 20), Image::Coded(1, 9, 20));
    EXPECT_EQ(frame.At(18, 25), Image::Coded(1, 18, 25));
    EXPECT_EQ(frame.At(10, 19), Image::Coded(1, 10, 19));
    EXPECT_EQ(frame.At(17, 26), Image::Coded(1, 17, 26));
}

TEST(CursorGeometry, TopDownFrameGetsTheCursorOnRows101To132)
{
    // Handled as bottom-up at the mirrored row, with flipped copies both ways.
    Image frame{4, 1080, 4 * 4, false};
    Image scratch{4, 32, 4 * 4, true};
    frame.Fill(1);
    const TCursorPlacement place = PlaceCursor(0, 100, 0, 0, 1.0, 1.0, 0, 0, true, 1080, 32);
    Copy(frame, scratch, 0, place.iRow, 0, 0, 4, 32, true);
    EXPECT_EQ(scratch.At(2, 0), Image::Coded(1, 2, 101)) << "the scratch is upright";
    EXPECT_EQ(scratch.At(2, 31), Image::Coded(1, 2, 132));
    scratch.Fill(2);
    Copy(scratch, frame, 0, 0, 0, place.iRow, 4, 32, true);
    for (int32_t y = 95; y <= 140; ++y) {
        ASSERT_EQ(frame.At(3, y), y >= 101 && y <= 132 ? Image::Coded(2, 3, y - 101) : Image::Coded(1, 3, y))
            << "row " << y;
    }
}

TEST(CursorGeometry, ClippingOneSideNeverMovesTheOtherAndNothingOutsideIsTouched)
{
    // nx = -5: both copies lose 5 columns; the cursor's columns 0..26 land on frame columns 0..26.
    Image frame{64, 48, 64 * 4, true};
    Image scratch{32, 32, 32 * 4, true};
    frame.Fill(1);
    std::memset(scratch.bytes.data(), 0xFF, scratch.bytes.size());
    Copy(frame, scratch, -5, 8, 0, 0, 32, 32, false);
    EXPECT_EQ(scratch.At(26, 0), Image::Coded(1, 26, 8));
    EXPECT_EQ(scratch.At(27, 0), 0xFFFFFFFFu) << "the scratch beyond the clipped width keeps its fill";
    scratch.Fill(2);
    Copy(scratch, frame, 0, 0, -5, 8, 32, 32, false);
    for (int32_t x = 0; x < 30; ++x) {
        ASSERT_EQ(frame.At(x, 8), x < 27 ? Image::Coded(2, x, 0) : Image::Coded(1, x, 8)) << "column " << x;
    }
    // ny = -3 likewise: rows 0..28 of the cursor on frame rows 0..28.
    frame.Fill(1);
    Copy(scratch, frame, 0, 0, 4, -3, 32, 32, false);
    EXPECT_EQ(frame.At(4, 0), Image::Coded(2, 0, 0));
    EXPECT_EQ(frame.At(4, 28), Image::Coded(2, 0, 28));
    EXPECT_EQ(frame.At(4, 29), Image::Coded(1, 4, 29));

    // Right and bottom edges, outside, empty and huge rectangles: the count of copied pixels.
    const int32_t cases[][6] = {{2, 2, 4, 3, 4, 3},   {14, 10, 8, 8, 2, 2}, {-8, 0, 8, 4, 0, 0},
                                {16, 0, 8, 4, 0, 0},  {0, 12, 8, 4, 0, 0},  {0, 0, 4, -4, 0, 0},
                                {1, 1, kMax, kMax, 15, 11}, {kMin, kMin, kMax, kMax, 0, 0}};
    for (const auto& c : cases) {
        Image from{16, 12, 16 * 4, true};
        Image to{16, 12, 16 * 4, true};
        from.Fill(1);
        to.Fill(2);
        Copy(from, to, c[0], c[1], c[0], c[1], c[2], c[3], false);
        int copied = 0;
        for (int32_t y = 0; y < 12; ++y) {
            for (int32_t x = 0; x < 16; ++x) {
                copied += to.At(x, y) == Image::Coded(1, x, y) ? 1 : 0;
            }
        }
        EXPECT_EQ(copied, c[4] * c[5]) << c[0] << "," << c[1] << " " << c[2] << "x" << c[3];
    }
    // A stride shorter than the width claims: only stride / 4 pixels of each row are used. Null
    // images and negative image sizes copy nothing.
    Image narrow{3, 4, 3 * 4, true};
    Image wide{8, 4, 8 * 4, true};
    wide.Fill(1);
    CopyImageRect(wide.bytes.data(), 8, 4, 32, narrow.bytes.data(), 8, 4, 12, 0, 0, 0, 0, 8, 4, false);
    EXPECT_EQ(narrow.At(2, 3), Image::Coded(1, 2, 3));
    CopyImageRect(nullptr, 8, 4, 32, narrow.bytes.data(), 3, 4, 12, 0, 0, 0, 0, 3, 4, false);
    CopyImageRect(wide.bytes.data(), -8, 4, 32, narrow.bytes.data(), 3, 4, 12, 0, 0, 0, 0, 3, 4, true);
    CopyImageRect(wide.bytes.data(), 8, 4, 32, narrow.bytes.data(), 3, -4, 12, 0, 0, 0, 0, 3, 4, true);
    EXPECT_EQ(narrow.At(2, 3), Image::Coded(1, 2, 3));
}

}  // namespace
