// Where things stand in the frame: the game frame rectangle, the HUD and radial menu positions,
// the webcam's placement, clipping and hiding, its background, its target rectangle, and the log
// lines of a whole layout.
#include "framebuffer/TFrameBufferHeader.h"

#include "LayoutTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

using namespace layouttest;

namespace {

void ExpectRect(const THooksRect& actual, int32_t left, int32_t top, int32_t right, int32_t bottom)
{
    EXPECT_EQ(actual.left, left);
    EXPECT_EQ(actual.top, top);
    EXPECT_EQ(actual.right, right);
    EXPECT_EQ(actual.bottom, bottom);
}

TEST(GameFrameRect, BarsStretchAndDegenerateSizes)
{
    struct Case {
        const char* name;
        int32_t sw, sh, iw, ih;
        bool stretch;
        THooksRect expected;
    };
    const Case cases[] = {
        {"same aspect, no bars", 2560, 1440, 1920, 1080, false, {0, 0, 1920, 1080}},
        {"16:10 into 16:9, bars left and right", 1920, 1200, 1920, 1080, false, {96, 0, 1824, 1080}},
        {"16:9 into 16:10, bars above and below", 1920, 1080, 1920, 1200, false, {0, 60, 1920, 1140}},
        {"square into odd width", 1000, 1000, 1921, 1080, false, {420, 0, 1500, 1080}},
        {"stretch ignores the aspect", 1920, 1200, 1920, 1080, true, {0, 0, 1920, 1080}},
        {"stretch with a zero source", 0, 0, 640, 480, true, {0, 0, 640, 480}},
        {"zero source width is an empty game frame", 0, 1080, 1920, 1080, false, {0, 0, 0, 0}},
        {"zero source height is an empty game frame", 1920, 0, 1920, 1080, false, {0, 0, 0, 0}},
        {"negative source", -1920, 1080, 1920, 1080, false, {0, 0, 0, 0}},
        {"empty image", 1920, 1080, 0, 0, false, {0, 0, 0, 0}},
        {"maximal sizes", 1, 2147483647, 2147483647, 1, false, {1073741823, 0, 1073741823, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LayoutHeader header;
        SetFrame(header.h(), c.sw, c.sh, c.iw, c.ih, c.stretch);
        ExpectRect(header.h().CalculateGameFrameRect(), c.expected.left, c.expected.top, c.expected.right,
                   c.expected.bottom);
    }
}

TEST(HUDPosition, AnchorsMarginsAndClamping)
{
    struct Case {
        const char* name;
        int32_t position;
        int32_t margin;
        uint32_t width;
        int32_t x, y;
    };
    // Source 1920 x 1080, HUD 200 x 100 unless the case says otherwise.
    const Case cases[] = {
        {"0 top left", 0, 10, 200, 10, 10},
        {"1 top centre", 1, 10, 200, 860, 10},
        {"2 top right", 2, 10, 200, 1710, 10},
        {"3 middle left", 3, 10, 200, 10, 490},
        {"4 fixed", 4, 10, 200, 20, 20},
        {"4 ignores the margin", 4, 77, 200, 20, 20},
        {"5 middle right", 5, 10, 200, 1710, 490},
        {"6 bottom left", 6, 10, 200, 10, 970},
        {"7 bottom centre", 7, 10, 200, 860, 970},
        {"8 bottom right", 8, 10, 200, 1710, 970},
        {"-1 out of range", -1, 10, 200, 20, 20},
        {"9 out of range", 9, 10, 200, 20, 20},
        {"INT32_MIN out of range", std::numeric_limits<int32_t>::min(), 10, 200, 20, 20},
        {"HUD wider than the source at 1", 1, 10, 2000, 0, 10},
        {"HUD wider than the source at 8", 8, 10, 2000, 0, 970},
        {"negative margin", 0, -5, 200, 0, 0},
        {"huge negative margin saturates", 2, std::numeric_limits<int32_t>::min(), 200, 2147483647, 0},
        {"HUD width 0xFFFFFFFF", 1, 0, 0xFFFFFFFF, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LayoutHeader header;
        TFrameBufferHeader& h = header.h();
        SetFrame(h, 1920, 1080, 1920, 1080);
        h.iHUDPosition = c.position;
        h.iHUDMargin = c.margin;
        h.HUDImage.width = c.width;
        h.HUDImage.height = 100;
        h.CalculateHUDPosition();
        EXPECT_EQ(h.HUDImage.x, c.x);
        EXPECT_EQ(h.HUDImage.y, c.y);
    }
}

TEST(RadialMenuPosition, CentredOrZeroOnShortAxes)
{
    struct Case {
        int32_t sw, sh, x, y;
    };
    const Case cases[] = {{1920, 1080, 735, 315}, {450, 450, 0, 0}, {449, 1080, 0, 315}, {1920, 300, 735, 0},
                          {0, 0, 0, 0},       {-5, -5, 0, 0},   {451, 452, 0, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.sw << " x " << c.sh);
        LayoutHeader header;
        SetFrame(header.h(), c.sw, c.sh, 64, 64);
        ASSERT_EQ(header.h().CalculateImagesOffsets(), TLayoutResult::Ok);
        EXPECT_EQ(header.h().RadialMenuImage.x, c.x);
        EXPECT_EQ(header.h().RadialMenuImage.y, c.y);
    }
}

struct WebcamResult {
    int32_t x, y;
    uint32_t w, h;
    THooksRect source;
    uint32_t stride;
    int32_t scaled[4];
};

void ExpectWebcam(const TFrameBufferHeader& h, const WebcamResult& e)
{
    EXPECT_EQ(h.WebCamVisibilityState, 0);
    EXPECT_EQ(h.WebCamImage.x, e.x);
    EXPECT_EQ(h.WebCamImage.y, e.y);
    EXPECT_EQ(h.WebCamImage.width, e.w);
    EXPECT_EQ(h.WebCamImage.height, e.h);
    ExpectRect(h.WebCamSourceRect, e.source.left, e.source.top, e.source.right, e.source.bottom);
    EXPECT_EQ(h.WebCamImage.ui32Stride, e.stride);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(h.ScaledWebCamRect[i], e.scaled[i]) << "ScaledWebCamRect[" << i << "]";
    }
}

TEST(WebcamPlacement, PlacementClippingAspectAndScaling)
{
    struct Case {
        const char* name;
        int32_t sw, sh, iw, ih;
        uint32_t fw, fh;
        double left, top, width, height;
        WebcamResult expected;
    };
    const Case cases[] = {
        {"inside the frame", 1920, 1080, 1920, 1080, 1280, 720, 0.1, 0.1, 0.25, 0.25,
         {192, 108, 480, 270, {0, 0, 1280, 720}, 5120, {192, 108, 480, 270}}},
        {"cut at the right edge, source cut in proportion", 1920, 1080, 1920, 1080, 1280, 720, 0.9, 0.1, 0.25, 0.25,
         {1728, 108, 192, 270, {0, 0, 512, 720}, 2048, {1728, 108, 192, 270}}},
        {"cut at the bottom edge", 1920, 1080, 1920, 1080, 1280, 720, 0.1, 0.9, 0.25, 0.25,
         {192, 972, 480, 108, {0, 0, 1280, 288}, 5120, {192, 972, 480, 108}}},
        {"4:3 format: the height follows the aspect", 1920, 1080, 1920, 1080, 640, 480, 0.1, 0.1, 0.25, 0.25,
         {192, 108, 480, 360, {0, 0, 640, 480}, 2560, {192, 108, 480, 360}}},
        {"4:3 format near the bottom keeps its bottom edge", 1920, 1080, 1920, 1080, 640, 480, 0.1, 0.7, 0.25, 0.25,
         {192, 666, 480, 360, {0, 0, 640, 480}, 2560, {192, 666, 480, 360}}},
        {"scaled into a game frame with bars", 1920, 1200, 1920, 1080, 1280, 720, 0.1, 0.1, 0.25, 0.25,
         {192, 120, 480, 270, {0, 0, 1280, 720}, 5120, {268, 108, 432, 243}}},
        {"scaled into a smaller image", 1920, 1080, 1280, 720, 1280, 720, 0.1, 0.1, 0.25, 0.25,
         {192, 108, 480, 270, {0, 0, 1280, 720}, 5120, {128, 72, 320, 180}}},
        {"zero height fraction takes the height from the aspect", 1920, 1080, 1920, 1080, 1280, 720, 0.0, 0.0, 0.25, 0.0,
         {0, 0, 480, 270, {0, 0, 1280, 720}, 5120, {0, 0, 480, 270}}},
        {"odd webcam width rounds the stride", 1920, 1080, 1920, 1080, 1366, 768, 0.0, 0.0, 0.5, 0.5,
         {0, 0, 960, 540, {0, 0, 1366, 768}, 5504, {0, 0, 960, 540}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LayoutHeader header;
        SetFrame(header.h(), c.sw, c.sh, c.iw, c.ih);
        SetWebcam(header.h(), c.fw, c.fh, c.left, c.top, c.width, c.height);
        ASSERT_EQ(header.h().CalculateImagesOffsets(), TLayoutResult::Ok);
        ExpectWebcam(header.h(), c.expected);
        const TFrameBufferHeader& h = header.h();
        EXPECT_EQ(h.ui32CursorColorBitmapOffset - h.WebCamImage.ui32Offset,
                  uint32_t(h.WebCamSourceRect.bottom - h.WebCamSourceRect.top) * h.WebCamImage.ui32Stride);
    }
}

// Placements that come out empty, or whose inputs would divide by zero or not fit: the layout
// switches the webcam off in the header instead of failing.
TEST(WebcamPlacement, EmptyOrDegeneratePlacementHidesTheWebcam)
{
    struct Case {
        const char* name;
        int32_t sw, sh;
        uint32_t fw, fh;
        double left, top, width, height;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {"width fraction 0", 1920, 1080, 1280, 720, 0.1, 0.1, 0.0, 0.25},
        {"both fractions 0", 1920, 1080, 1280, 720, 0.1, 0.1, 0.0, 0.0},
        {"webcamHeight 0", 1920, 1080, 1280, 0, 0.1, 0.1, 0.25, 0.25},
        {"webcamWidth 0", 1920, 1080, 0, 720, 0.1, 0.1, 0.25, 0.25},
        {"source width 0", 0, 1080, 1280, 720, 0.1, 0.1, 0.25, 0.25},
        {"source height 0", 1920, 0, 1280, 720, 0.1, 0.1, 0.25, 0.25},
        {"negative source", -1920, -1080, 1280, 720, 0.1, 0.1, 0.25, 0.25},
        {"left edge beyond the frame", 1920, 1080, 1280, 720, 1.5, 0.1, 0.25, 0.25},
        {"top edge beyond the frame", 1920, 1080, 1280, 720, 0.1, 1.0, 0.25, 0.25},
        {"negative left", 1920, 1080, 1280, 720, -0.1, 0.1, 0.25, 0.25},
        {"NaN width", 1920, 1080, 1280, 720, 0.1, 0.1, nan, 0.25},
        {"infinite left", 1920, 1080, 1280, 720, std::numeric_limits<double>::infinity(), 0.1, 0.25, 0.25},
        {"huge width fraction", 1920, 1080, 1280, 720, 0.0, 0.0, 1e300, 0.25},
        {"format beyond INT32_MAX", 1920, 1080, 0x80000000u, 720, 0.1, 0.1, 0.25, 0.25},
        {"tiny aspect makes the height huge", 1920, 1080, 1, 0xFFFFFFF, 0.1, 0.1, 0.25, 0.25},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LayoutHeader header;
        TFrameBufferHeader& h = header.h();
        SetFrame(h, c.sw, c.sh, 1280, 720);
        SetWebcam(h, c.fw, c.fh, c.left, c.top, c.width, c.height);
        h.bWebCamHiddenFlagA = 0x11;
        h.bWebCamHiddenFlagB = 0x22;
        h.WebCamImage.ui32Stride = 0x1000;  // left by an earlier layout
        h.UseChromaKeying = 1;
        h.bUseWebCamBackground = 1;
        h.WebCamBackgroundImage.ui32Offset = 0xABCDEF;
        ASSERT_EQ(h.CalculateImagesOffsets(), TLayoutResult::Ok);
        EXPECT_EQ(h.WebCamVisibilityState, 1);
        EXPECT_EQ(h.bWebCamHiddenFlagA, 0);
        EXPECT_EQ(h.bWebCamHiddenFlagB, 0);
        EXPECT_EQ(h.WebCamImage.width, 0u);
        EXPECT_EQ(h.WebCamImage.height, 0u);
        EXPECT_EQ(h.WebCamImage.ui32Stride, 0u);
        EXPECT_EQ(h.WebCamBackgroundImage.ui32Offset, 0xABCDEFu) << "no background for a hidden webcam";
        EXPECT_EQ(h.ui32CursorColorBitmapOffset, h.WebCamImage.ui32Offset) << "the webcam area is empty";
    }
}

TEST(WebcamPlacement, WidthZeroKeepsThePositionAndSourceRect)
{
    LayoutHeader header;
    TFrameBufferHeader& h = header.h();
    SetFrame(h, 1920, 1080, 1920, 1080);
    SetWebcam(h, 1280, 720, 0.1, 0.2, 0.0, 0.25);
    ASSERT_EQ(h.CalculateImagesOffsets(), TLayoutResult::Ok);
    EXPECT_EQ(h.WebCamVisibilityState, 1);
    EXPECT_EQ(h.WebCamImage.x, 192);
    EXPECT_EQ(h.WebCamImage.y, 216);
    ExpectRect(h.WebCamSourceRect, 0, 0, 1280, 720);
    EXPECT_EQ(h.ScaledWebCamRect[0], 192);
    EXPECT_EQ(h.ScaledWebCamRect[1], 216);
    EXPECT_EQ(h.ScaledWebCamRect[2], 0);
    EXPECT_EQ(h.ScaledWebCamRect[3], 0);
}

// A webcam hidden before the layout: no placement, no format selection, and the area keeps the
// size the last layout computed.
TEST(WebcamPlacement, HiddenWebcamKeepsItsLastSourceRectAndStride)
{
    LayoutHeader header;
    TFrameBufferHeader& h = header.h();
    SetFrame(h, 1920, 1080, 1920, 1080);
    SetWebcam(h, 1280, 720, 0.1, 0.1, 0.25, 0.25);
    h.WebCamVisibilityState = 2;
    h.bAutoSelectWebCamFormat = 1;
    h.ui32WebCamFormatCount = 1;
    SetFormat(h, 0, 640, 360, 0x33);
    h.WebCamSourceRect = THooksRect{0, 0, 640, 360};
    h.WebCamImage.ui32Stride = 2560;
    h.WebCamImage.x = 11;
    h.WebCamImage.y = 12;
    h.WebCamImage.width = 13;
    h.WebCamImage.height = 14;
    for (int i = 0; i < 4; ++i) {
        h.ScaledWebCamRect[i] = 99;
    }
    h.UseChromaKeying = 1;
    h.bUseWebCamBackground = 1;
    ClearNativeLogLines();
    ASSERT_EQ(h.CalculateImagesOffsets(), TLayoutResult::Ok);
    EXPECT_EQ(h.WebCamVisibilityState, 2);
    EXPECT_EQ(h.webcamWidth, 1280u) << "no format selection for a hidden webcam";
    ExpectRect(h.WebCamSourceRect, 0, 0, 640, 360);
    EXPECT_EQ(h.WebCamImage.ui32Stride, 2560u);
    EXPECT_EQ(h.WebCamImage.x, 11);
    EXPECT_EQ(h.WebCamImage.y, 12);
    EXPECT_EQ(h.WebCamImage.width, 0u);
    EXPECT_EQ(h.WebCamImage.height, 0u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(h.ScaledWebCamRect[i], 0);
    }
    EXPECT_EQ(h.ui32CursorColorBitmapOffset - h.WebCamImage.ui32Offset, 360u * 2560u) << "area still reserved";
    for (const auto& line : LoggedLines()) {
        EXPECT_EQ(line.second.find("UpdateWebcamFormat"), std::string::npos) << line.second;
    }
}

TEST(WebcamPlacement, BackgroundOnlyWithChromaKeying)
{
    struct Case {
        const char* name;
        uint8_t chroma;
        uint8_t background;
        bool laidOut;
    };
    const Case cases[] = {{"chroma keying and background", 1, 1, true},
                          {"background without chroma keying is ignored", 0, 1, false},
                          {"chroma keying without background", 1, 0, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LayoutHeader header;
        TFrameBufferHeader& h = header.h();
        SetFrame(h, 1920, 1080, 1920, 1080);
        SetWebcam(h, 1280, 720, 0.1, 0.1, 0.25, 0.25);
        h.UseChromaKeying = c.chroma;
        h.bUseWebCamBackground = c.background;
        h.WebCamImage.ui32InUse = 7;
        h.WebCamImage.fShaderParam = 0.5f;
        h.WebCamBackgroundImage.x = -77;
        h.WebCamBackgroundImage.ui32Offset = 0x5555;
        ASSERT_EQ(h.CalculateImagesOffsets(), TLayoutResult::Ok);
        const uint32_t webcamArea = 720 * 5120;
        const TOverlayImageInfo& bg = h.WebCamBackgroundImage;
        EXPECT_EQ(bg.bFlag, 1);
        EXPECT_EQ(h.WebCamImage.bFlag, 0);
        if (c.laidOut) {
            EXPECT_EQ(bg.ui32Offset, h.WebCamImage.ui32Offset + webcamArea);
            EXPECT_EQ(bg.x, 192);
            EXPECT_EQ(bg.y, 108);
            EXPECT_EQ(bg.width, 480u);
            EXPECT_EQ(bg.height, 270u);
            EXPECT_EQ(bg.ui32Stride, 5120u);
            EXPECT_EQ(bg.ui32InUse, 7u) << "a copy of all of the webcam descriptor";
            EXPECT_EQ(bg.fShaderParam, 0.5f);
            EXPECT_EQ(h.ui32CursorColorBitmapOffset, bg.ui32Offset + webcamArea);
        } else {
            EXPECT_EQ(bg.ui32Offset, 0x5555u);
            EXPECT_EQ(bg.x, -77);
            EXPECT_EQ(h.ui32CursorColorBitmapOffset, h.WebCamImage.ui32Offset + webcamArea);
        }
    }
}

TEST(WebcamTargetRect, FillModeAndPlacementMode)
{
    struct Case {
        const char* name;
        int32_t sw, sh, iw, ih;
        bool stretch;
        int32_t mode;
        int32_t x, y;
        uint32_t w, h;
        THooksRect expected;
    };
    const Case cases[] = {
        {"mode 1, 4:3 webcam in 16:9 frame", 1920, 1080, 1920, 1080, false, 1, 0, 0, 480, 360, {240, 0, 1680, 1080}},
        {"mode 1, wide webcam", 1920, 1080, 1920, 1080, false, 1, 0, 0, 640, 200, {0, 240, 1920, 840}},
        {"mode 1 inside bars", 1920, 1200, 1920, 1080, false, 1, 5, 5, 480, 270, {96, 54, 1824, 1026}},
        {"mode 1 without a webcam", 1920, 1080, 1920, 1080, false, 1, 0, 0, 0, 0, {0, 0, 0, 0}},
        {"mode 0 through bars", 1920, 1200, 1920, 1080, false, 0, 192, 120, 480, 270, {268, 108, 700, 351}},
        {"mode 0 scales each axis", 1000, 500, 1920, 1080, true, 0, 100, 100, 200, 100, {192, 216, 576, 432}},
        {"mode 2 like mode 0", 1000, 500, 1920, 1080, true, 2, 100, 100, 200, 100, {192, 216, 576, 432}},
        {"mode 0 with a zero source", 0, 0, 1920, 1080, false, 0, 100, 100, 200, 100, {0, 0, 0, 0}},
        {"mode 0 with a width taken as signed", 1, 1, 1920, 1080, true, 0, 0, 0, 0xFFFFFFFF, 1, {0, 0, -1920, 1080}},
        {"mode 0 with a width that scales beyond INT32_MAX", 1, 1, 1920, 1080, true, 0, 0, 0, 0x7FFFFFFF, 1, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LayoutHeader header;
        TFrameBufferHeader& h = header.h();
        SetFrame(h, c.sw, c.sh, c.iw, c.ih, c.stretch);
        h.WebCamImage.x = c.x;
        h.WebCamImage.y = c.y;
        h.WebCamImage.width = c.w;
        h.WebCamImage.height = c.h;
        const std::vector<uint8_t> before = header.Snapshot();
        ExpectRect(h.CalculateWebCamTargetRect(c.mode), c.expected.left, c.expected.top, c.expected.right,
                   c.expected.bottom);
        EXPECT_TRUE(header.Snapshot() == before) << "a pure function";
    }
}

TEST(ImageLayoutLog, LinesOfALayoutWithAVisibleWebcam)
{
    LayoutHeader header;
    TFrameBufferHeader& h = header.h();
    SetFrame(h, 1920, 1200, 1920, 1080);
    SetWebcam(h, 1280, 720, 0.1, 0.1, 0.25, 0.25);
    h.UseChromaKeying = 1;
    ClearNativeLogLines();
    ASSERT_EQ(h.CalculateImagesOffsets(), TLayoutResult::Ok);
    const std::string n = "TFrameBufferHeader::CalculateImagesOffsets";
    const std::string values = "webcamWidth: 1280, webcamHeight: 720, left: 0.100000, top: 0.100000, width: 0.250000, "
                               "height: 0.250000";
    const std::vector<std::pair<int, std::string>> expected = {
        {1, n + " 1 " + values},
        {1, n + " WebCamVisibilityState enabled: 1"},
        {1, n + " 2 " + values},
        {0, n + " Calculated scaled webcam rect 268 x 108, width 432, height 243"},
        {0, n + " DST game frame rect 96, 0, 1824, 1080"},
        {0, n + " Calculated webcam buffer size 480x270"},
        {0, n + " Calculated webcam src buffer 0x0, size 1280x720"},
        {0, n + " UseChromaKeying 1"},
    };
    EXPECT_EQ(LoggedLines(), expected);
}

TEST(ImageLayoutLog, LinesOfALayoutWithAHiddenWebcam)
{
    LayoutHeader header;
    TFrameBufferHeader& h = header.h();
    SetFrame(h, 1920, 1080, 1920, 1080);
    SetWebcam(h, 640, 480, 0.5, 0.5, 0.125, 0.125);
    h.WebCamVisibilityState = 1;
    h.WebCamSourceRect = THooksRect{2, 3, 12, 23};
    ClearNativeLogLines();
    ASSERT_EQ(h.CalculateImagesOffsets(), TLayoutResult::Ok);
    const std::string n = "TFrameBufferHeader::CalculateImagesOffsets";
    const std::vector<std::pair<int, std::string>> expected = {
        {1, n + " 1 webcamWidth: 640, webcamHeight: 480, left: 0.500000, top: 0.500000, width: 0.125000, "
                "height: 0.125000"},
        {1, n + " WebCamVisibilityState enabled: 0"},
        {0, n + " Calculated webcam buffer size 0x0"},
        {0, n + " Calculated webcam src buffer 2x3, size 10x20"},
        {0, n + " UseChromaKeying 0"},
    };
    EXPECT_EQ(LoggedLines(), expected);
}

}  // namespace
