// The capture thread's arithmetic (region checks, frame size, warm-up, time stamps, scale and
// cursor offset), the capturer's destination rectangle, and the cursor drawer's arithmetic: sizes,
// placement in scaled frames of both row orders, and the rectangle copy with its clipping, checked
// pixel by pixel on images held in vectors of exactly their size.
#include "app/CapturePlan.h"
#include "capturers/CaptureGeometry.h"
#include "cursor/CursorGeometry.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace {

using capplan::TRegionCheck;
using namespace cursorgeo;
using Rect = std::array<int32_t, 4>;
constexpr int32_t kMax = INT32_MAX;
constexpr int32_t kMin = INT32_MIN;

Rect R(const THooksRect& r) { return {r.left, r.top, r.right, r.bottom}; }

TEST(CapturePlan, RegionChecksRunInOrderAndTheFirstFailureDecides)
{
    const std::pair<Rect, TRegionCheck> cases[] = {
        {{0, 0, 1920, 1080}, TRegionCheck::Ok},           {{1919, 1079, 1920, 1080}, TRegionCheck::Ok},
        {{1920, 0, 1920, 1080}, TRegionCheck::InvalidLeft}, {{-5, -5, 100, 100}, TRegionCheck::InvalidLeft},
        {{0, 2000, 3000, 100}, TRegionCheck::InvalidTop},   {{0, 0, 1921, 1081}, TRegionCheck::InvalidRight},
        {{500, 500, 400, 1081}, TRegionCheck::InvalidBottom}, {{1000, 100, 100, 700}, TRegionCheck::Empty},
        {{100, 700, 1000, 700}, TRegionCheck::Empty},
    };
    for (const auto& [r, expected] : cases) {
        EXPECT_EQ(capplan::CheckCaptureRegion(THooksRect{r[0], r[1], r[2], r[3]}, 1920, 1080), expected)
            << ::testing::PrintToString(r);
    }
    EXPECT_EQ(capplan::CheckCaptureRegion(THooksRect{0, 0, 1, 1}, 0, 0), TRegionCheck::InvalidLeft);
    const std::pair<TRegionCheck, const char*> texts[] = {
        {TRegionCheck::Ok, "valid region"}, {TRegionCheck::InvalidLeft, "invalid region left position"},
        {TRegionCheck::InvalidTop, "invalid region top position"}, {TRegionCheck::InvalidRight, "invalid region right position"},
        {TRegionCheck::InvalidBottom, "invalid region bottom position"},
        {TRegionCheck::Empty, "invalid region, right <= left or bottom <= top"}};
    for (const auto& [check, text] : texts) {
        EXPECT_STREQ(capplan::RegionCheckText(check), text);
    }
}

TEST(CapturePlan, DerivedSizesTruncateToEightRequestedSizesStay)
{
    // Requested width, height; region; capture width, height -> image width, height.
    const std::array<int32_t, 10> cases[] = {
        {-1, -1, 0, 0, 0, 0, 1366, 768, 1360, 768},          {-1, -1, 0, 0, 0, 0, 1927, 1087, 1920, 1080},
        {-1, -1, 0, 0, 0, 0, 7, 7, 0, 0},                    {-1, -1, 100, 100, 1000, 700, 1920, 1080, 896, 600},
        {-1, 12345, 0, 0, 0, 0, 1280, 720, 1280, 720},       {1283, 719, 100, 100, 1000, 700, 1920, 1080, 1283, 719},
        {0, 0, 0, 0, 0, 0, 1920, 1080, 0, 0},                {-2, 17, 0, 0, 0, 0, 1920, 1080, -2, 17},
        {-1, -1, 1000, 100, 991, 700, 1920, 1080, -8, 600},  {-1, -1, 0, 0, 0, 0, -7, 9, 0, 8},  // toward zero
    };
    for (const auto& c : cases) {
        const capplan::TImageSize size = capplan::SafeImageSize(c[0], c[1], THooksRect{c[2], c[3], c[4], c[5]}, c[6], c[7]);
        EXPECT_EQ((std::pair<int32_t, int32_t>(size.iWidth, size.iHeight)), std::make_pair(c[8], c[9]))
            << ::testing::PrintToString(c);
    }
}

TEST(CapturePlan, OverlayProgramIsStartedOnlyFromAWholeModulePath)
{
    const std::u16string path = u"C:\\Program Files\\ZYR\\ZYRFullscreenCapturer.exe";
    const auto length = static_cast<uint32_t>(path.size());
    EXPECT_EQ(capplan::OverlayProgramPath(path, length, 260), u"C:\\Program Files\\ZYR\\fullscreenoverlay.exe");
    // The platform cut a longer path to the buffer (and said so by filling it): no bare or cut name.
    const std::u16string longPath = u"C:\\" + std::u16string(300, u'a') + u"\\ZYRFullscreenCapturer.exe";
    EXPECT_EQ(capplan::OverlayProgramPath(longPath, 260, 260), u"");
    EXPECT_EQ(capplan::OverlayProgramPath(path, 0, 260), u"") << "the path could not be read";
    EXPECT_EQ(capplan::OverlayProgramPath(path, length + 1, 260), u"") << "a length beyond the text";
}

TEST(CapturePlan, WarmUpCountsDownTwoSecondsAcrossTheTickWrap)
{
    const uint32_t cases[][3] = {{1000, 1000, 2000},          {1000, 2999, 1},
                                 {1000, 3000, 0},             {0xFFFFFF00u, 0x10u, 1728},
                                 {0xFFFFFF00u, 0xFFFFFF00u + 2000u, 0}, {0xFFFFFFFFu, 0u, 1999},
                                 {5000, 4999, 0}};  // a clock seen running backwards: long over
    for (const auto& c : cases) {
        EXPECT_EQ(capplan::WarmUpLeftMs(c[0], c[1]), c[2]) << c[0] << " -> " << c[1];
    }
}

TEST(CapturePlan, TimestampIsExactWhereANaiveProductOverflows)
{
    // 2^32 + 5 ms keeps the low 32 bits; past 1.8 x 10^16 a naive counter x 1,000 overflows.
    const uint64_t cases[][2] = {{3579544, 3579545},       {42949673010000ull, 10000000}, {18446744073709552ull, 10000000},
                                 {1ull << 60, 3579545}, {UINT64_MAX, 1000000000}};
    for (const auto& c : cases) {
        EXPECT_EQ(capplan::CounterToMilliseconds(c[0], c[1]),
                  static_cast<uint32_t>(static_cast<unsigned __int128>(c[0]) * 1000u / c[1]))
            << c[0] << " / " << c[1];
    }
    EXPECT_EQ(capplan::CounterToMilliseconds(12345, 0), 0u);
}

TEST(CapturePlan, CursorOffsetTruncatesEachProductTowardZero)
{
    // Source, destination, display origin -> offset. 2/3 in the third row: -1280 x 2/3 = -853.3
    // -> -853, 100 x 2/3 -> 66, -1024 x 2/3 -> -682, 50 x 2/3 -> 33. In the fourth 0.5 + 0.5 is 0 + 0.
    const std::array<int32_t, 12> cases[] = {
        {0, 0, 1920, 1080, 0, 0, 1920, 1080, -1920, 0, 1920, 0},
        {100, 50, 1100, 650, 0, 0, 1000, 600, 1920, 0, -2020, -50},
        {100, 50, 1060, 590, 64, 0, 704, 360, -1280, -1024, 851, 649},
        {1, 1, 3, 3, 10, 20, 11, 21, 1, 1, 10, 20},
        {0, 0, 1, 1, kMax - 1, 0, kMax, 1, kMin, 0, kMax, 0},
        {0, 0, 1, 1, kMin, kMin, kMin + 2, kMin + 2, kMax, kMax, kMin, kMin},
    };
    for (const auto& c : cases) {
        const THooksRect source{c[0], c[1], c[2], c[3]};
        const THooksRect destination{c[4], c[5], c[6], c[7]};
        const capplan::TOffset offset =
            capplan::CursorOffset(source, destination, capplan::ScaleOf(source, destination), c[8], c[9]);
        EXPECT_EQ((std::pair<int32_t, int32_t>(offset.iX, offset.iY)), std::make_pair(c[10], c[11]))
            << ::testing::PrintToString(c);
    }
    EXPECT_EQ(capplan::ScaleOf(THooksRect{5, 0, 5, 1080}, THooksRect{0, 0, 1280, 720}).dScaleX, 0.0);
}

TEST(CaptureGeometry, DestinationRectKeepsProportionOrStretches)
{
    // Final width, height; source; keep proportion -> destination. Degenerate inputs never divide by
    // zero nor leave the final image.
    const std::pair<std::array<int32_t, 7>, Rect> cases[] = {
        {{1280, 720, 0, 0, 1920, 1200, 1}, {64, 0, 1216, 720}},    {{1280, 720, 0, 0, 2560, 1080, 1}, {0, 90, 1280, 630}},
        {{1366, 768, 0, 0, 1920, 1080, 1}, {0, 0, 1365, 768}},     {{1920, 1080, 0, 0, 1280, 1024, 1}, {285, 0, 1635, 1080}},
        {{800, 600, -1920, -200, 0, 1000, 1}, {0, 50, 800, 550}},  {{7, 4, 0, 0, 2, 2, 1}, {1, 0, 5, 4}},
        {{1280, 720, 0, 0, 1920, 1200, 0}, {0, 0, 1280, 720}},     {{1280, 720, 0, 0, 0, 0, 1}, {0, 0, 1280, 720}},
        {{1280, 720, 100, 100, 10, 10, 1}, {0, 0, 1280, 720}},     {{-5, -7, 0, 0, 1920, 1080, 0}, {0, 0, 0, 0}},
        {{0, 720, 0, 0, 1920, 1080, 1}, {0, 0, 0, 720}},           {{1920, 1080, kMin, 0, kMax, 1080, 1}, {0, 540, 1920, 540}},
        {{kMax, 1080, 0, 0, 1920, 1080, 1}, {1073740863, 0, 1073742783, 1080}},
        {{kMax, kMax, kMin, kMin, kMax, kMax, 1}, {0, 0, kMax, kMax}},
    };
    for (const auto& [c, expected] : cases) {
        EXPECT_EQ(R(capgeo::DestinationRect(c[0], c[1], THooksRect{c[2], c[3], c[4], c[5]}, c[6] != 0)), expected)
            << ::testing::PrintToString(c);
    }
    EXPECT_EQ(R(capgeo::WholeDisplayRect(-3, -4)), (Rect{0, 0, 0, 0}));
}

TEST(CaptureGeometry, UncoveredBandsTileTheImageAroundTheCoveredRectangle)
{
    using Bands = std::array<Rect, 4>;
    const auto bands = [](int32_t w, int32_t h, THooksRect covered) {
        const std::array<THooksRect, 4> b = capgeo::UncoveredBands(w, h, covered);
        return Bands{R(b[0]), R(b[1]), R(b[2]), R(b[3])};
    };
    const Rect none{};
    // Bars above and below a stretched picture; the area right of and below a clipped 1:1 copy.
    EXPECT_EQ(bands(1280, 800, {0, 40, 1280, 760}), (Bands{Rect{0, 0, 1280, 40}, Rect{0, 760, 1280, 800}, none, none}));
    EXPECT_EQ(bands(2000, 1200, {0, 0, 1920, 1080}),
              (Bands{none, Rect{0, 1080, 2000, 1200}, none, Rect{1920, 0, 2000, 1080}}));
    EXPECT_EQ(bands(100, 50, {10, 5, 90, 45}),
              (Bands{Rect{0, 0, 100, 5}, Rect{0, 45, 100, 50}, Rect{0, 5, 10, 45}, Rect{90, 5, 100, 45}}));
    EXPECT_EQ(bands(100, 50, {0, 0, 100, 50}), (Bands{none, none, none, none}));
    // Clipped to the image; nothing covered leaves the whole image.
    EXPECT_EQ(bands(100, 50, {-10, -10, 200, 30}), (Bands{none, Rect{0, 30, 100, 50}, none, none}));
    EXPECT_EQ(bands(100, 50, {200, 0, 300, 50}), (Bands{Rect{0, 0, 100, 50}, none, none, none}));
    EXPECT_EQ(bands(-5, 50, {0, 0, 10, 10}), (Bands{Rect{0, 0, 0, 50}, none, none, none}));
}

TEST(CaptureGeometry, SurfaceReadStaysInsideSurfaceAndFrame)
{
    // pitch, surface rows, x0, y0, frame row bytes, frame rows -> copy bytes, rows.
    const std::pair<std::array<int64_t, 6>, std::pair<uint32_t, uint32_t>> cases[] = {
        {{7680, 1080, 0, 0, 7680, 1080}, {7680, 1080}},      // whole desktop 1:1
        {{7680, 1080, 100, 100, 3584, 600}, {3584, 600}},    // region (100, 100) 896 x 600
        {{7680, 1080, 1900, 1000, 3584, 600}, {80, 80}},     // cut at the right and bottom edges
        {{5120, 720, 0, 0, 5200, 720}, {5120, 720}},         // stride above the pitch: the pitch
        {{5120, 720, 0, 0, 4000, 720}, {4000, 720}},         // stride below the pitch: the stride
        {{5120, 720, 0, 0, 5120, 800}, {5120, 720}},         // frame taller than the surface
        {{5120, 720, 1280, 0, 5120, 720}, {0, 0}},           // x0 at the pitch
        {{5120, 720, 0, 720, 5120, 720}, {0, 0}},            // y0 at the last row
        {{5120, 720, -1, 0, 5120, 720}, {0, 0}},             // negative start
        {{0, 0, 0, 0, 5120, 720}, {0, 0}},                   // not mapped
        {{5120, 720, 0, 0, 0, 720}, {0, 0}},                 // no frame
    };
    for (const auto& [c, expected] : cases) {
        const capgeo::TSurfaceRead read = capgeo::PlanSurfaceRead(
            static_cast<uint32_t>(c[0]), static_cast<uint32_t>(c[1]), static_cast<int32_t>(c[2]),
            static_cast<int32_t>(c[3]), static_cast<uint32_t>(c[4]), static_cast<uint32_t>(c[5]));
        EXPECT_EQ(std::make_pair(read.ui32CopyBytes, read.ui32Rows), expected) << ::testing::PrintToString(c);
    }
}

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
    // Without a flip, picture rows keep their order between the bottom-up images.
    Image frame{64, 48, 64 * 4 + 8, true};  // a stride with padding
    Image scratch{32, 32, 32 * 4, true};
    frame.Fill(1);
    std::memset(scratch.bytes.data(), 0xFF, scratch.bytes.size());
    Copy(frame, scratch, -5, 8, 0, 0, 32, 32, false);
    EXPECT_EQ(scratch.At(26, 0), Image::Coded(1, 26, 8));
    EXPECT_EQ(scratch.At(0, 31), Image::Coded(1, 0, 39));
    EXPECT_EQ(scratch.At(27, 0), 0xFFFFFFFFu) << "the scratch beyond the clipped width keeps its fill";
    scratch.Fill(2);
    Copy(scratch, frame, 0, 0, -5, 8, 32, 32, false);
    for (int32_t x = 0; x < 30; ++x) {
        ASSERT_EQ(frame.At(x, 8), x < 27 ? Image::Coded(2, x, 0) : Image::Coded(1, x, 8)) << "column " << x;
    }
    // ny = -3 likewise: rows 0..28 of the cursor on frame rows 0..28.
    frame.Fill(1);
    Copy(scratch, frame, 0, 0, 4, -3, 32, 32, false);
    EXPECT_EQ((std::vector<uint32_t>{frame.At(4, 0), frame.At(4, 28), frame.At(4, 29)}),
              (std::vector<uint32_t>{Image::Coded(2, 0, 0), Image::Coded(2, 0, 28), Image::Coded(1, 4, 29)}));

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
