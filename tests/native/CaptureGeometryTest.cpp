#include "capturers/CaptureGeometry.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace {

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

struct DestCase {
    const char* name;
    int32_t width;
    int32_t height;
    THooksRect source;
    bool keep;
    THooksRect expected;
};

// THooksRect is byte-packed: its fields are copied out before gtest binds references to them.
struct Box {
    int32_t left, top, right, bottom;
};

Box ToBox(const THooksRect& r)
{
    return Box{r.left, r.top, r.right, r.bottom};
}

void ExpectRect(const THooksRect& expectedRect, const THooksRect& actualRect)
{
    const Box expected = ToBox(expectedRect);
    const Box actual = ToBox(actualRect);
    EXPECT_EQ(expected.left, actual.left);
    EXPECT_EQ(expected.top, actual.top);
    EXPECT_EQ(expected.right, actual.right);
    EXPECT_EQ(expected.bottom, actual.bottom);
}

const DestCase kDestCases[] = {
    {"16:10 into 16:9, bars left and right", 1280, 720, {0, 0, 1920, 1200}, true, {64, 0, 1216, 720}},
    {"21:9 into 16:9, bars top and bottom", 1280, 720, {0, 0, 2560, 1080}, true, {0, 90, 1280, 630}},
    {"1366 x 768: width truncated, last column outside", 1366, 768, {0, 0, 1920, 1080}, true,
     {0, 0, 1365, 768}},
    {"scaled up from 5:4", 1920, 1080, {0, 0, 1280, 1024}, true, {285, 0, 1635, 1080}},
    {"same size, offset source", 1920, 1080, {100, 50, 2020, 1130}, true, {0, 0, 1920, 1080}},
    {"source with negative origin", 800, 600, {-1920, -200, 0, 1000}, true, {0, 50, 800, 550}},
    {"odd sizes: halves truncated", 1001, 501, {0, 0, 3, 2}, true, {125, 0, 876, 501}},
    {"odd bar split", 7, 4, {0, 0, 2, 2}, true, {1, 0, 5, 4}},
    {"1 x 1 final image", 1, 1, {0, 0, 1920, 1080}, true, {0, 0, 1, 0}},
    {"tall source into wide image", 1920, 1080, {0, 0, 1080, 1920}, true, {656, 0, 1263, 1080}},
    {"16:10 stretched", 1280, 720, {0, 0, 1920, 1200}, false, {0, 0, 1280, 720}},
    {"21:9 stretched", 1280, 720, {0, 0, 2560, 1080}, false, {0, 0, 1280, 720}},
    {"1366 stretched", 1366, 768, {0, 0, 1920, 1080}, false, {0, 0, 1366, 768}},
    {"5:4 stretched", 1920, 1080, {0, 0, 1280, 1024}, false, {0, 0, 1920, 1080}},
    // Degenerate inputs: never a division by zero, never outside the final image.
    {"all-zero source keeps the whole image", 1280, 720, {0, 0, 0, 0}, true, {0, 0, 1280, 720}},
    {"zero-width source", 1280, 720, {5, 5, 5, 100}, true, {0, 0, 1280, 720}},
    {"zero-height source", 1280, 720, {5, 5, 100, 5}, true, {0, 0, 1280, 720}},
    {"inverted source", 1280, 720, {100, 100, 10, 10}, true, {0, 0, 1280, 720}},
    {"zero final size", 0, 0, {0, 0, 1920, 1080}, true, {0, 0, 0, 0}},
    {"zero final size stretched", 0, 0, {0, 0, 1920, 1080}, false, {0, 0, 0, 0}},
    {"zero final width", 0, 720, {0, 0, 1920, 1080}, true, {0, 0, 0, 720}},
    {"negative final size", -1, -1, {0, 0, 1920, 1080}, true, {0, 0, 0, 0}},
    {"negative final size stretched", -5, -7, {0, 0, 1920, 1080}, false, {0, 0, 0, 0}},
    {"negative final width only", -640, 480, {0, 0, 1920, 1080}, false, {0, 0, 0, 480}},
    // The header's maxima: sizes and coordinates at the ends of int32.
    {"widest source of int32", 1920, 1080, {kMin, 0, kMax, 1080}, true, {0, 540, 1920, 540}},
    {"largest final image, square source", kMax, kMax, {0, 0, 1, 1}, true, {0, 0, kMax, kMax}},
    {"largest final width, 16:9 source", kMax, 1080, {0, 0, 1920, 1080}, true,
     {1073740863, 0, 1073742783, 1080}},
    {"largest final image stretched", kMax, kMax, {kMin, kMin, kMax, kMax}, false, {0, 0, kMax, kMax}},
    {"largest image, widest source", kMax, kMax, {kMin, kMin, kMax, kMax}, true, {0, 0, kMax, kMax}},
};

TEST(CaptureGeometryTest, DestinationRectTable)
{
    for (const DestCase& c : kDestCases) {
        SCOPED_TRACE(c.name);
        const THooksRect actualRect = capgeo::DestinationRect(c.width, c.height, c.source, c.keep);
        ExpectRect(c.expected, actualRect);
        const Box actual = ToBox(actualRect);
        // Whatever the input, the destination stays inside the final image.
        EXPECT_GE(actual.left, 0);
        EXPECT_GE(actual.top, 0);
        EXPECT_LE(actual.left, actual.right);
        EXPECT_LE(actual.top, actual.bottom);
        EXPECT_LE(actual.right, c.width < 0 ? 0 : c.width);
        EXPECT_LE(actual.bottom, c.height < 0 ? 0 : c.height);
    }
}

// Every kept-proportion destination of a sweep of sizes stays inside the image and touches at least
// one pair of its edges (the smaller scale fills one dimension up to truncation).
TEST(CaptureGeometryTest, KeepProportionSweepFillsOneDimension)
{
    const int32_t sizes[] = {1, 2, 3, 7, 64, 480, 719, 720, 1079, 1080, 1366, 1920, 2560, 3840, 7680};
    for (int32_t w : sizes) {
        for (int32_t h : sizes) {
            for (int32_t sw : sizes) {
                const int32_t sh = sw / 2 + 1;
                const Box d = ToBox(capgeo::DestinationRect(w, h, THooksRect{0, 0, sw, sh}, true));
                SCOPED_TRACE(testing::Message() << w << "x" << h << " from " << sw << "x" << sh);
                ASSERT_GE(d.left, 0);
                ASSERT_GE(d.top, 0);
                ASSERT_LE(d.right, w);
                ASSERT_LE(d.bottom, h);
                const bool fillsWidth = d.right - d.left >= w - 1;
                const bool fillsHeight = d.bottom - d.top >= h - 1;
                ASSERT_TRUE(fillsWidth || fillsHeight);
                // Centred: the two bars differ by at most one pixel.
                ASSERT_LE((w - d.right) - d.left, 1);
                ASSERT_GE((w - d.right) - d.left, 0);
                ASSERT_LE((h - d.bottom) - d.top, 1);
                ASSERT_GE((h - d.bottom) - d.top, 0);
            }
        }
    }
}

struct WholeCase {
    const char* name;
    int32_t cx;
    int32_t cy;
    THooksRect expected;
};

TEST(CaptureGeometryTest, WholeDisplayRect)
{
    const WholeCase cases[] = {
        {"2560 x 1440 display", 2560, 1440, {0, 0, 2560, 1440}},
        {"no chosen display", 0, 0, {0, 0, 0, 0}},
        {"negative size counts as none", -3, -4, {0, 0, 0, 0}},
        {"int32 maxima", kMax, kMax, {0, 0, kMax, kMax}},
    };
    for (const WholeCase& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectRect(c.expected, capgeo::WholeDisplayRect(c.cx, c.cy));
    }
}

// The all-zero source of a capturer without a display stays all zero, and with keep proportion the
// destination is the whole final image rather than a division by zero.
TEST(CaptureGeometryTest, WholeScreenOfNoDisplayReachesNoDivision)
{
    const THooksRect source = capgeo::WholeDisplayRect(0, 0);
    EXPECT_TRUE(capgeo::IsAllZero(source));
    ExpectRect(THooksRect{0, 0, 1280, 720}, capgeo::DestinationRect(1280, 720, source, true));
}

TEST(CaptureGeometryTest, RectPredicatesAndSizes)
{
    EXPECT_TRUE(capgeo::IsAllZero(THooksRect{0, 0, 0, 0}));
    EXPECT_FALSE(capgeo::IsAllZero(THooksRect{0, 0, 0, 1}));
    EXPECT_FALSE(capgeo::IsAllZero(THooksRect{1, 0, 0, 0}));
    EXPECT_TRUE(capgeo::IsEmpty(THooksRect{0, 0, 0, 0}));
    EXPECT_TRUE(capgeo::IsEmpty(THooksRect{0, 0, 10, 0}));
    EXPECT_TRUE(capgeo::IsEmpty(THooksRect{10, 0, 0, 10}));
    EXPECT_FALSE(capgeo::IsEmpty(THooksRect{-1, -1, 0, 0}));
    EXPECT_FALSE(capgeo::IsEmpty(THooksRect{kMin, kMin, kMax, kMax}));
    EXPECT_EQ(int64_t{kMax} - int64_t{kMin}, capgeo::RectWidth(THooksRect{kMin, 0, kMax, 0}));
    EXPECT_EQ(int64_t{kMin} - int64_t{kMax}, capgeo::RectHeight(THooksRect{0, kMax, 0, kMin}));
    EXPECT_EQ(kMax, capgeo::SaturateToInt32(int64_t{kMax} + 5));
    EXPECT_EQ(kMin, capgeo::SaturateToInt32(int64_t{kMin} - 5));
    EXPECT_EQ(-17, capgeo::SaturateToInt32(-17));
}

}  // namespace
