// The cursor drawer's arithmetic: sizes, placement in scaled frames of both row orders, and the
// rectangle copy with its clipping, checked pixel by pixel on exact-sized images (AddressSanitizer
// reports any byte touched outside them).
#include "ExactBuffer.h"

#include "cursor/CursorGeometry.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>

namespace {

using cursorgeo::CopyImageRect;
using cursorgeo::TCursorPlacement;
using cursorgeo::TCursorSize;

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

// A 32-bit image whose rows are `stride` bytes apart, exactly `height` x stride bytes.
class Image {
public:
    Image(int32_t width, int32_t height, uint32_t stride, bool bottomUp)
        : width_(width), height_(height), stride_(stride), bottomUp_(bottomUp),
          bytes_(static_cast<size_t>(height) * stride, 0xEE)
    {
    }

    // Picture row r (from the top) lies at memory row height - 1 - r in a bottom-up image.
    uint32_t& At(int32_t x, int32_t y)
    {
        const int32_t memoryRow = bottomUp_ ? height_ - 1 - y : y;
        return *reinterpret_cast<uint32_t*>(bytes_.data() + static_cast<size_t>(memoryRow) * stride_ + x * 4);
    }
    // Every pixel: tag in the top byte, row and column below it.
    void FillCoded(uint32_t tag)
    {
        for (int32_t y = 0; y < height_; ++y) {
            for (int32_t x = 0; x < width_; ++x) {
                At(x, y) = Coded(tag, x, y);
            }
        }
    }
    static uint32_t Coded(uint32_t tag, int32_t x, int32_t y)
    {
        return tag << 24 | static_cast<uint32_t>(y) << 12 | static_cast<uint32_t>(x);
    }
    uint8_t* data() { return bytes_.data(); }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    uint32_t stride() const { return stride_; }

private:
    int32_t width_;
    int32_t height_;
    uint32_t stride_;
    bool bottomUp_;
    ExactBuffer bytes_;
};

void Copy(Image& from, Image& to, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w, int32_t h, bool flip)
{
    CopyImageRect(from.data(), from.width(), from.height(), from.stride(), to.data(), to.width(), to.height(),
                  to.stride(), sx, sy, dx, dy, w, h, flip);
}

TEST(CursorGeometry, CursorSizeComesFromTheColourBitmapElseHalfTheMask)
{
    EXPECT_EQ((TCursorSize{48, 40}), cursorgeo::CursorSizeOf(true, 48, 40, true, 32, 64));
    EXPECT_EQ((TCursorSize{32, 32}), cursorgeo::CursorSizeOf(false, 0, 0, true, 32, 64));
    EXPECT_EQ((TCursorSize{31, 31}), cursorgeo::CursorSizeOf(false, 0, 0, true, 31, 63));
    EXPECT_EQ((TCursorSize{0, 0}), cursorgeo::CursorSizeOf(false, 48, 40, false, 32, 64));
}

TEST(CursorGeometry, ScaledSizesAreTruncatedAndSaturated)
{
    EXPECT_EQ((TCursorSize{16, 16}), cursorgeo::ScaledCursorSize(32, 32, 0.5, 0.5));
    EXPECT_EQ((TCursorSize{24, 23}), cursorgeo::ScaledCursorSize(32, 31, 0.75, 0.75));  // 23.25
    EXPECT_EQ((TCursorSize{32, 64}), cursorgeo::ScaledCursorSize(32, 32, 1.0, 2.0));
    // Sizes are unsigned numbers: -1 is 4,294,967,295 and saturates instead of overflowing.
    EXPECT_EQ((TCursorSize{kMax, 0}), cursorgeo::ScaledCursorSize(-1, 0, 1.0, 1.0));
    EXPECT_EQ(kMin, cursorgeo::ScaledCursorSize(32, 32, std::numeric_limits<double>::quiet_NaN(), 1.0).iWidth);
}

TEST(CursorGeometry, PlacementScalesAroundTheHotSpotThenOffsets)
{
    // 0.5 at (100, 80), hot spot (0, 0): drawn at (50, 40).
    EXPECT_EQ((TCursorPlacement{50, 40, 40}), cursorgeo::PlaceCursor(100, 80, 0, 0, 0.5, 0.5, 0, 0, false, 1080, 16));
    // Hot spot first, then the scale, each product truncated toward zero, then the offset.
    EXPECT_EQ((TCursorPlacement{7 + 10, 3 - 20, 3 - 20}),
              cursorgeo::PlaceCursor(25, 10, 10, 5, 0.5, 0.75, 10, -20, false, 100, 10));
    EXPECT_EQ((TCursorPlacement{-1, -2, -2}), cursorgeo::PlaceCursor(1, 0, 4, 3, 0.5, 0.75, 0, 0, false, 100, 10));
    // A top-down frame of 1080 rows with the cursor 32 rows high at 100: row 947 bottom-up.
    EXPECT_EQ((TCursorPlacement{0, 100, 947}), cursorgeo::PlaceCursor(0, 100, 0, 0, 1.0, 1.0, 0, 0, true, 1080, 32));
    // Extreme inputs saturate.
    EXPECT_EQ((TCursorPlacement{kMax, kMin, kMin}),
              cursorgeo::PlaceCursor(kMax, kMin, kMin, kMax, 1.0, 1.0, kMax, kMin, false, 0, 0));
}

TEST(CursorGeometry, CopyWithoutFlipKeepsPictureRowsBetweenBottomUpImages)
{
    Image frame(64, 48, 64 * 4 + 8, true);  // a stride with padding
    Image scratch(8, 6, 8 * 4, true);
    frame.FillCoded(1);
    Copy(frame, scratch, 10, 20, 0, 0, 8, 6, false);
    for (int32_t y = 0; y < 6; ++y) {
        for (int32_t x = 0; x < 8; ++x) {
            ASSERT_EQ(Image::Coded(1, 10 + x, 20 + y), scratch.At(x, y)) << x << "," << y;
        }
    }
    scratch.FillCoded(2);
    Copy(scratch, frame, 0, 0, 10, 20, 8, 6, false);
    for (int32_t y = 19; y <= 26; ++y) {
        for (int32_t x = 9; x <= 18; ++x) {
            const bool inside = x >= 10 && x < 18 && y >= 20 && y < 26;
            ASSERT_EQ(inside ? Image::Coded(2, x - 10, y - 20) : Image::Coded(1, x, y), frame.At(x, y))
                << x << "," << y;
        }
    }
}

TEST(CursorGeometry, MirroredRowsPutTheCursorOneRowBelowItsPositionInTopDownFrames)
{
    // A top-down frame, handled as bottom-up at the mirrored row, with flipped copies.
    constexpr int32_t kHeight = 40;
    constexpr int32_t kTop = 10;  // ny
    constexpr int32_t kRows = 4;  // sh
    Image frame(16, kHeight, 16 * 4, false);
    Image scratch(5, kRows, 5 * 4, true);
    frame.FillCoded(1);
    const TCursorPlacement place = cursorgeo::PlaceCursor(3, kTop, 0, 0, 1.0, 1.0, 0, 0, true, kHeight, kRows);
    ASSERT_EQ(25, place.iRow);
    Copy(frame, scratch, 3, place.iRow, 0, 0, 5, kRows, true);
    for (int32_t r = 0; r < kRows; ++r) {
        ASSERT_EQ(Image::Coded(1, 3, kTop + 1 + r), scratch.At(0, r)) << "scratch row " << r << " is upright";
    }
    scratch.FillCoded(2);
    Copy(scratch, frame, 0, 0, 3, place.iRow, 5, kRows, true);
    for (int32_t y = kTop - 1; y <= kTop + kRows + 1; ++y) {
        const bool inside = y >= kTop + 1 && y <= kTop + kRows;
        ASSERT_EQ(inside ? Image::Coded(2, 1, y - kTop - 1) : Image::Coded(1, 4, y), frame.At(4, y)) << "row " << y;
    }
}

TEST(CursorGeometry, ClippingAtTheLeftAndTopKeepsTheCursorsFirstColumnsAtTheEdge)
{
    // nx = -5: both copies lose 5 columns and the cursor's columns 0..26 land on frame columns 0..26.
    Image frame(64, 48, 64 * 4, true);
    Image scratch(32, 32, 32 * 4, true);
    frame.FillCoded(1);
    std::memset(scratch.data(), 0xFF, 32 * 32 * 4);
    Copy(frame, scratch, -5, 8, 0, 0, 32, 32, false);
    EXPECT_EQ(Image::Coded(1, 26, 8), scratch.At(26, 0));
    EXPECT_EQ(0xFFFFFFFFu, scratch.At(27, 0)) << "the scratch beyond the clipped width keeps its fill";
    scratch.FillCoded(2);
    Copy(scratch, frame, 0, 0, -5, 8, 32, 32, false);
    for (int32_t x = 0; x < 30; ++x) {
        ASSERT_EQ(x < 27 ? Image::Coded(2, x, 0) : Image::Coded(1, x, 8), frame.At(x, 8)) << "column " << x;
    }
    // ny = -3 likewise: rows 0..28 of the cursor on frame rows 0..28.
    frame.FillCoded(1);
    Copy(scratch, frame, 0, 0, 4, -3, 32, 32, false);
    EXPECT_EQ(Image::Coded(2, 0, 0), frame.At(4, 0));
    EXPECT_EQ(Image::Coded(2, 0, 28), frame.At(4, 28));
    EXPECT_EQ(Image::Coded(1, 4, 29), frame.At(4, 29));
}

TEST(CursorGeometry, ClippingAtTheRightAndBottomAndOutsideTouchesNothingElse)
{
    struct Case {
        const char* name;
        int32_t x, y, w, h;
        int32_t expectCopiedColumns, expectCopiedRows;
    };
    const Case cases[] = {
        {"inside", 2, 2, 4, 3, 4, 3},
        {"over the right and bottom edges", 14, 10, 8, 8, 2, 2},
        {"left of the image", -8, 0, 8, 4, 0, 0},
        {"right of the image", 16, 0, 8, 4, 0, 0},
        {"below the image", 0, 12, 8, 4, 0, 0},
        {"zero width", 0, 0, 0, 4, 0, 0},
        {"negative height", 0, 0, 4, -4, 0, 0},
        {"huge size", 1, 1, kMax, kMax, 15, 11},
        {"most negative start", kMin, kMin, kMax, kMax, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Image from(16, 12, 16 * 4, true);
        Image to(16, 12, 16 * 4, true);
        from.FillCoded(1);
        to.FillCoded(2);
        Copy(from, to, c.x, c.y, c.x, c.y, c.w, c.h, false);
        int copied = 0;
        for (int32_t y = 0; y < 12; ++y) {
            for (int32_t x = 0; x < 16; ++x) {
                copied += to.At(x, y) == Image::Coded(1, x, y) ? 1 : 0;
            }
        }
        EXPECT_EQ(c.expectCopiedColumns * c.expectCopiedRows, copied);
    }
}

TEST(CursorGeometry, ImagesAreNeverAddressedPastTheirRowsOrStrides)
{
    // A stride shorter than the width claims: only stride / 4 pixels of each row are used.
    Image narrow(3, 4, 3 * 4, true);
    Image wide(8, 4, 8 * 4, true);
    wide.FillCoded(1);
    CopyImageRect(wide.data(), 8, 4, 32, narrow.data(), 8, 4, 12, 0, 0, 0, 0, 8, 4, false);
    EXPECT_EQ(Image::Coded(1, 2, 3), narrow.At(2, 3));
    // Null images and negative image sizes copy nothing.
    CopyImageRect(nullptr, 8, 4, 32, narrow.data(), 3, 4, 12, 0, 0, 0, 0, 3, 4, false);
    CopyImageRect(wide.data(), -8, 4, 32, narrow.data(), 3, 4, 12, 0, 0, 0, 0, 3, 4, true);
    CopyImageRect(wide.data(), 8, 4, 32, narrow.data(), 3, -4, 12, 0, 0, 0, 0, 3, 4, true);
    EXPECT_EQ(Image::Coded(1, 2, 3), narrow.At(2, 3));
}

}  // namespace
