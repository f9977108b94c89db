// The shared frame buffer: the layout (where the image areas go, the refusal of layouts that do
// not fit 32 bits, the game frame, HUD, radial menu and webcam placement, the webcam format choice,
// the log lines), the header's webcam predicates and bounded wide strings (every field offset is
// pinned by static_asserts beside the struct), and the bounds-checked area accessor against hostile
// header fields. Headers live in vectors of exactly their size.
#include "framebuffer/FrameBufferView.h"
#include "framebuffer/TFrameBufferHeader.h"
#include "log/LogNativeSink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using Rect = std::array<int32_t, 4>;
using Table = std::vector<std::pair<uint32_t, uint32_t>>;
const std::string kLayout = "TFrameBufferHeader::CalculateImagesOffsets";
const std::string kFormat = "TFrameBufferHeader::UpdateWebcamFormat";

using Bytes = std::vector<uint8_t>;

TFrameBufferHeader& H(Bytes& bytes) { return *reinterpret_cast<TFrameBufferHeader*>(bytes.data()); }

struct Header {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(sizeof(TFrameBufferHeader));
    TFrameBufferHeader& h() { return *reinterpret_cast<TFrameBufferHeader*>(bytes.data()); }
    TFrameBufferHeader* operator->() { return &h(); }
};

// Source sw x sh, image iw x ih; a webcam of format w x ht at fractions (l, t, fw, fh) if given.
Header Make(int32_t sw, int32_t sh, int32_t iw, int32_t ih, bool stretch = false, uint32_t w = 0, uint32_t ht = 0,
            double l = 0, double t = 0, double fw = 0, double fh = 0)
{
    Header x;
    x->iSourceWidth = sw, x->iSourceHeight = sh, x->iImageWidth = iw, x->iImageHeight = ih, x->bStretch = stretch;
    x->webcamWidth = w, x->webcamHeight = ht, x->dWebCamLeft = l, x->dWebCamTop = t;
    x->dWebCamWidth = fw, x->dWebCamHeight = fh;
    return x;
}

Rect R(const THooksRect& r) { return {r.left, r.top, r.right, r.bottom}; }

TEST(ImageLayout, WorkedOffsets)
{
    Header a = Make(1920, 1080, 1920, 1080);
    uint32_t total = 7;
    ASSERT_EQ(a->CalculateImagesOffsets(total), TLayoutResult::Ok);
    const uint32_t slots[6] = {198656, 8493056, 16787456, 25081856, 33376256, 41670656};
    EXPECT_TRUE(std::equal(slots, slots + 6, a->ui32FrameImageOffsets));
    // Stride, HUD (no picture), radial menu, cursor bitmaps, total; the zero webcam format hides the webcam.
    EXPECT_EQ((std::vector<uint32_t>{a->ui32FrameImageStride, a->HUDImage.ui32Offset, a->RadialMenuImage.ui32Offset,
                                     a->RadialMenuImage.ui32Stride, a->ui32CursorColorBitmapOffset,
                                     a->ui32CursorMaskBitmapOffset, a->ui32TotalSize, total, a->WebCamVisibilityState}),
              (std::vector<uint32_t>{7680, 49965056, 49965056, 1856, 50800256, 51324544, 51848832, 51848832, 1}));
    for (const auto& [width, stride] : Table{{1366, 5504}, {0, 0}, {1, 64}, {16, 64}, {17, 128}}) {
        Header c = Make(1920, 1080, int32_t(width), 10);
        ASSERT_EQ(c->CalculateImagesOffsets(), TLayoutResult::Ok);
        EXPECT_EQ(c->ui32FrameImageStride, stride) << "width " << width;
    }
}

TEST(ImageLayout, TotalSizeOfRandomValidSettings)
{
    std::mt19937 random(20240611);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
    auto align = [](uint64_t n) { return (n + 63) / 64 * 64; };
    for (int i = 0; i < 1000; ++i) {
        Header x = Make(pick(0, 4000), pick(0, 2200), pick(0, 4096), pick(0, 2200), false, 64 * pick(0, 30),
                        36 * pick(0, 30), pick(-10, 120) / 100.0, pick(-10, 120) / 100.0, pick(0, 130) / 100.0,
                        pick(0, 130) / 100.0);
        x->HUDImage.width = pick(0, 1000), x->HUDImage.height = pick(0, 1000);
        x->UseChromaKeying = pick(0, 1), x->bUseWebCamBackground = pick(0, 1), x->bUseCustomShaderData = pick(0, 1);
        ASSERT_EQ(x->CalculateImagesOffsets(), TLayoutResult::Ok);
        const uint64_t webcam = uint64_t(x->WebCamSourceRect.bottom) * x->WebCamImage.ui32Stride;
        const bool background = x->UseChromaKeying && x->bUseWebCamBackground && x->WebCamVisibilityState == 0;
        ASSERT_EQ(x->ui32TotalSize, 198656 + 6 * uint64_t(x->iImageHeight) * align(uint64_t(x->iImageWidth) * 4) +
                                        x->HUDImage.height * align(x->HUDImage.width * 4) + 835200 +
                                        webcam * (background ? 2 : 1) + (x->bUseCustomShaderData ? 4194304 : 0) +
                                        1048576)
            << "iteration " << i;
    }
}

// Each case would overflow a 32-bit size, stride, product or offset: the layout is refused with its
// warning line and not one byte of the header changes.
TEST(ImageLayout, RefusesLayoutsThatDoNotFit32BitsNamingTheArea)
{
    struct TCase {
        const char* name;
        const char* area;  // the first area that does not fit, as the warning names it
        void (*setup)(TFrameBufferHeader&);
    };
    const TCase cases[] = {
        {"frame stride beyond INT32_MAX", "frame image", [](TFrameBufferHeader& h) { h.iImageWidth = 600000000; }},
        {"six slots beyond 4 GiB", "frame image", [](TFrameBufferHeader& h) { h.iImageWidth = h.iImageHeight = 20000; }},
        {"negative image height", "frame image size (negative)", [](TFrameBufferHeader& h) { h.iImageHeight = -1080; }},
        {"HUD width 0xFFFFFFFF", "HUD stride", [](TFrameBufferHeader& h) { h.HUDImage.width = 0xFFFFFFFF; }},
        {"HUD area beyond 4 GiB", "HUD", [](TFrameBufferHeader& h) { h.HUDImage.width = 1024, h.HUDImage.height = ~0u; }},
        {"webcam area beyond 4 GiB", "webcam", [](TFrameBufferHeader& h) { h.webcamWidth = h.webcamHeight = 60000; }},
        {"webcam and background beyond 4 GiB", "webcam background",  // 2,304,000,000 bytes, twice
         [](TFrameBufferHeader& h) { h.webcamWidth = 32000, h.webcamHeight = 18000, h.bUseWebCamBackground = 1; }},
        {"hidden webcam with a huge leftover area", "webcam",
         [](TFrameBufferHeader& h) {
             h.WebCamVisibilityState = 1;
             h.WebCamSourceRect = THooksRect{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX};
             h.WebCamImage.ui32Stride = 0xFFFFFFC0;
         }},
        {"cursor bitmaps pass 4 GiB", "cursor mask bitmap",
         [](TFrameBufferHeader& h) { h.HUDImage.width = 16, h.HUDImage.height = 67076326; }},
    };
    for (const TCase& c : cases) {
        Header x = Make(1920, 1080, 64, 64, false, 0, 0, .1, .1, .25, .444);
        x->UseChromaKeying = 1;
        c.setup(x.h());
        const std::vector<uint8_t> before = x.bytes;
        const std::string image = std::to_string(x->iImageWidth) + "x" + std::to_string(x->iImageHeight);
        ClearNativeLogLines();
        EXPECT_EQ(x->CalculateImagesOffsets(), TLayoutResult::Overflow) << c.name;
        EXPECT_TRUE(x.bytes == before) << c.name << ": a refused layout wrote into the header";
        // The webcam's areas add a line with every host value they come from.
        const bool bWebcam = std::string(c.area).rfind("webcam", 0) == 0;
        const auto& lines = NativeLogLines();
        ASSERT_GE(lines.size(), bWebcam ? 2u : 1u);
        const auto& refusal = lines[lines.size() - (bWebcam ? 2 : 1)];
        EXPECT_EQ(refusal.ui32Type, 1u);
        const std::string expected =
            kLayout + " image " + image + ": the layout does not fit in 32-bit offsets at the " + c.area + " area (";
        EXPECT_EQ(refusal.strText.substr(0, expected.size()), expected) << c.name;
        if (bWebcam) {
            const std::string webcam = kLayout + " the webcam was " + std::to_string(x->webcamWidth) + " x " +
                                       std::to_string(x->webcamHeight) + " at left ";
            EXPECT_EQ(lines.back().strText.substr(0, webcam.size()), webcam) << c.name;
            EXPECT_EQ(lines.back().ui32Type, 1u);
        }
    }
    // The largest total a layout can give: 198,656 + 64 x 67,076,325 + 835,200 + 1,048,576 = 2^32 - 64.
    Header largest;
    largest->HUDImage.width = 16, largest->HUDImage.height = 67076325;
    ASSERT_EQ(largest->CalculateImagesOffsets(), TLayoutResult::Ok);
    EXPECT_EQ(largest->ui32TotalSize, 4294967232u);
    // A limit (the section's size) one byte short refuses the same layout before a byte is written,
    // and still says what it needs; at the limit it is written.
    Header limited;
    limited->HUDImage.width = 16, limited->HUDImage.height = 67076325;
    const std::vector<uint8_t> before = limited.bytes;
    uint32_t ui32Needed = 0;
    EXPECT_EQ(limited->CalculateImagesOffsets(ui32Needed, 4294967231u), TLayoutResult::BeyondLimit);
    EXPECT_EQ(ui32Needed, 4294967232u);
    EXPECT_TRUE(limited.bytes == before) << "a layout beyond the limit wrote into the header";
    EXPECT_EQ(limited->CalculateImagesOffsets(ui32Needed, 4294967232u), TLayoutResult::Ok);
    EXPECT_EQ(limited->ui32TotalSize, 4294967232u);
}

TEST(ImageLayout, HUDAndRadialMenuPositions)
{
    // Source 1920 x 1080, HUD 200 x 100 unless the row says otherwise: position, margin, width -> x, y.
    const std::array<int64_t, 5> cases[] = {
        {0, 10, 200, 10, 10},    {1, 10, 200, 860, 10},  {2, 10, 200, 1710, 10},        {3, 10, 200, 10, 490},
        {4, 77, 200, 20, 20},    {5, 10, 200, 1710, 490}, {6, 10, 200, 10, 970},        {7, 10, 200, 860, 970},
        {8, 10, 200, 1710, 970}, {9, 10, 200, 20, 20},    {1, 10, 2000, 0, 10},         {0, -5, 200, 0, 0},
        {2, INT32_MIN, 200, INT32_MAX, 0},                {1, 0, 0xFFFFFFFF, 0, 0},
    };
    for (const auto& c : cases) {
        Header x = Make(1920, 1080, 1920, 1080);
        x->iHUDPosition = int32_t(c[0]), x->iHUDMargin = int32_t(c[1]);
        x->HUDImage.width = uint32_t(c[2]), x->HUDImage.height = 100;
        x->CalculateHUDPosition();
        EXPECT_EQ((std::array<int64_t, 2>{x->HUDImage.x, x->HUDImage.y}), (std::array<int64_t, 2>{c[3], c[4]}))
            << ::testing::PrintToString(c);
    }
    // The radial menu is centred, at 0 on an axis shorter than 450 pixels.
    for (const auto& c : {Rect{1920, 1080, 735, 315}, Rect{450, 450, 0, 0}, Rect{449, 1080, 0, 315}, Rect{451, 452, 0, 1}}) {
        Header x = Make(c[0], c[1], 64, 64);
        ASSERT_EQ(x->CalculateImagesOffsets(), TLayoutResult::Ok);
        EXPECT_EQ((std::pair<int32_t, int32_t>(x->RadialMenuImage.x, x->RadialMenuImage.y)), std::make_pair(c[2], c[3]));
    }
}

TEST(ImageLayout, WebcamPlacementClipsAndCutsTheSourceInProportion)
{
    const struct {
        const char* name;
        int32_t sh, iw, ih;  // source width 1920
        uint32_t fw, fh;
        double left, top, width, height;
        Rect image, source, scaled;  // image: x, y, width, height
        uint32_t stride;
    } cases[] = {
        {"inside", 1080, 1920, 1080, 1280, 720, .1, .1, .25, .25, {192, 108, 480, 270}, {0, 0, 1280, 720},
         {192, 108, 480, 270}, 5120},
        {"cut at the right edge", 1080, 1920, 1080, 1280, 720, .9, .1, .25, .25, {1728, 108, 192, 270},
         {0, 0, 512, 720}, {1728, 108, 192, 270}, 2048},
        {"cut at the bottom edge", 1080, 1920, 1080, 1280, 720, .1, .9, .25, .25, {192, 972, 480, 108},
         {0, 0, 1280, 288}, {192, 972, 480, 108}, 5120},
        {"4:3 format near the bottom", 1080, 1920, 1080, 640, 480, .1, .7, .25, .25, {192, 666, 480, 360},
         {0, 0, 640, 480}, {192, 666, 480, 360}, 2560},
        {"scaled into a game frame with bars", 1200, 1920, 1080, 1280, 720, .1, .1, .25, .25, {192, 120, 480, 270},
         {0, 0, 1280, 720}, {268, 108, 432, 243}, 5120},
        {"height from the aspect, smaller image", 1080, 1280, 720, 1280, 720, 0, 0, .25, 0, {0, 0, 480, 270},
         {0, 0, 1280, 720}, {0, 0, 320, 180}, 5120},
        {"odd webcam width", 1080, 1920, 1080, 1366, 768, 0, 0, .5, .5, {0, 0, 960, 540}, {0, 0, 1366, 768},
         {0, 0, 960, 540}, 5504},
    };
    for (const auto& c : cases) {
        Header x = Make(1920, c.sh, c.iw, c.ih, false, c.fw, c.fh, c.left, c.top, c.width, c.height);
        ASSERT_EQ(x->CalculateImagesOffsets(), TLayoutResult::Ok);
        const TOverlayImageInfo& w = x->WebCamImage;
        EXPECT_EQ(x->WebCamVisibilityState, 0) << c.name;
        EXPECT_EQ((Rect{w.x, w.y, int32_t(w.width), int32_t(w.height)}), c.image) << c.name;
        EXPECT_EQ(R(x->WebCamSourceRect), c.source) << c.name;
        EXPECT_TRUE(std::equal(c.scaled.begin(), c.scaled.end(), x->ScaledWebCamRect)) << c.name;
        EXPECT_EQ(w.ui32Stride, c.stride) << c.name;
        EXPECT_EQ(x->ui32CursorColorBitmapOffset - w.ui32Offset, uint32_t(c.source[3]) * c.stride) << c.name;
    }
}

// Placements that come out empty or would divide by zero: the webcam is switched off, not failed.
TEST(ImageLayout, DegenerateWebcamPlacementHidesTheWebcam)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::pair<const char*, Header> cases[] = {
        {"width fraction 0", Make(1920, 1080, 1280, 720, false, 1280, 720, .1, .1, 0, .25)},
        {"webcamHeight 0", Make(1920, 1080, 1280, 720, false, 1280, 0, .1, .1, .25, .25)},
        {"left beyond the frame", Make(1920, 1080, 1280, 720, false, 1280, 720, 1.5, .1, .25, .25)},
        {"top at the bottom edge", Make(1920, 1080, 1280, 720, false, 1280, 720, .1, 1, .25, .25)},
        {"NaN width", Make(1920, 1080, 1280, 720, false, 1280, 720, .1, .1, nan, .25)},
        {"huge width", Make(1920, 1080, 1280, 720, false, 1280, 720, 0, 0, 1e300, .25)},
        {"format beyond INT32_MAX", Make(1920, 1080, 1280, 720, false, 0x80000000u, 720, .1, .1, .25, .25)},
    };
    for (auto [name, x] : cases) {
        x->WebCamImage.ui32Stride = 0x1000;  // left by an earlier layout
        x->UseChromaKeying = x->bUseWebCamBackground = 1;
        ASSERT_EQ(x->CalculateImagesOffsets(), TLayoutResult::Ok) << name;
        EXPECT_EQ(x->WebCamVisibilityState, 1) << name;
        EXPECT_EQ(x->WebCamImage.width | x->WebCamImage.height | x->WebCamImage.ui32Stride, 0u) << name;
        EXPECT_EQ(x->ui32CursorColorBitmapOffset, x->WebCamImage.ui32Offset) << name << ": no area, no background";
    }
}

TEST(ImageLayout, HiddenWebcamKeepsItsLastAreaAndBackgroundNeedsChromaKeying)
{
    Header x = Make(1920, 1080, 1920, 1080, false, 1280, 720, .1, .1, .25, .25);
    x->WebCamVisibilityState = 2, x->bAutoSelectWebCamFormat = 1, x->ui32WebCamFormatCount = 1;
    x->WebCamFormats[0].ui32Width = 640, x->WebCamFormats[0].ui32Height = 360;
    x->WebCamSourceRect = THooksRect{0, 0, 640, 360}, x->WebCamImage.ui32Stride = 2560;
    ASSERT_EQ(x->CalculateImagesOffsets(), TLayoutResult::Ok);
    EXPECT_EQ(x->webcamWidth, 1280u) << "no format selection for a hidden webcam";
    EXPECT_EQ(R(x->WebCamSourceRect), (Rect{0, 0, 640, 360}));
    EXPECT_EQ(x->ui32CursorColorBitmapOffset - x->WebCamImage.ui32Offset, 360u * 2560u) << "area still reserved";
    for (const bool chroma : {false, true}) {
        Header y = Make(1920, 1080, 1920, 1080, false, 1280, 720, .1, .1, .25, .25);
        y->UseChromaKeying = chroma, y->bUseWebCamBackground = 1;
        y->WebCamImage.fShaderParam = 0.5f, y->WebCamBackgroundImage.ui32Offset = 0x5555;
        ASSERT_EQ(y->CalculateImagesOffsets(), TLayoutResult::Ok);
        const uint32_t area = 720 * 5120;
        EXPECT_EQ(y->WebCamBackgroundImage.ui32Offset, chroma ? y->WebCamImage.ui32Offset + area : 0x5555u);
        EXPECT_EQ(y->WebCamBackgroundImage.fShaderParam, chroma ? 0.5f : 0.0f) << "a copy of the webcam's descriptor";
        EXPECT_EQ(y->ui32CursorColorBitmapOffset, y->WebCamImage.ui32Offset + area * (chroma ? 2 : 1));
    }
}

TEST(ImageLayout, GameFrameAndWebcamTargetRects)
{
    // Source, image, stretch, mode (-1: the game frame), webcam x, y, width, height -> rectangle.
    const std::pair<std::array<int64_t, 10>, Rect> cases[] = {
        {{2560, 1440, 1920, 1080, 0, -1}, {0, 0, 1920, 1080}},   {{1920, 1200, 1920, 1080, 0, -1}, {96, 0, 1824, 1080}},
        {{1920, 1080, 1920, 1200, 0, -1}, {0, 60, 1920, 1140}},  {{1000, 1000, 1921, 1080, 0, -1}, {420, 0, 1500, 1080}},
        {{1920, 1200, 1920, 1080, 1, -1}, {0, 0, 1920, 1080}},   {{0, 0, 640, 480, 1, -1}, {0, 0, 640, 480}},
        {{0, 1080, 1920, 1080, 0, -1}, {0, 0, 0, 0}},            {{-1920, 1080, 1920, 1080, 0, -1}, {0, 0, 0, 0}},
        {{1, INT32_MAX, INT32_MAX, 1, 0, -1}, {1073741823, 0, 1073741823, 1}},
        {{1920, 1080, 1920, 1080, 0, 1, 0, 0, 480, 360}, {240, 0, 1680, 1080}},
        {{1920, 1080, 1920, 1080, 0, 1, 0, 0, 640, 200}, {0, 240, 1920, 840}},
        {{1920, 1200, 1920, 1080, 0, 1, 5, 5, 480, 270}, {96, 54, 1824, 1026}},
        {{1920, 1080, 1920, 1080, 0, 1, 0, 0, 0, 0}, {0, 0, 0, 0}},
        {{1920, 1200, 1920, 1080, 0, 0, 192, 120, 480, 270}, {268, 108, 700, 351}},
        {{1000, 500, 1920, 1080, 1, 2, 100, 100, 200, 100}, {192, 216, 576, 432}},
        {{0, 0, 1920, 1080, 0, 0, 100, 100, 200, 100}, {0, 0, 0, 0}},
        {{1, 1, 1920, 1080, 1, 0, 0, 0, 0x7FFFFFFF, 1}, {0, 0, 0, 0}},
    };
    for (const auto& [c, expected] : cases) {
        Header x = Make(int32_t(c[0]), int32_t(c[1]), int32_t(c[2]), int32_t(c[3]), c[4] != 0);
        x->WebCamImage.x = int32_t(c[6]), x->WebCamImage.y = int32_t(c[7]);
        x->WebCamImage.width = uint32_t(c[8]), x->WebCamImage.height = uint32_t(c[9]);
        const THooksRect r = c[5] < 0 ? x->CalculateGameFrameRect() : x->CalculateWebCamTargetRect(int32_t(c[5]));
        EXPECT_EQ(R(r), expected) << ::testing::PrintToString(c);
    }
}

// Source 1920 x 1080, webcam at (0, 0, fraction, fraction) of format w x h, the given table; every
// byte of entry k other than its size is 0x10 + k, so a copied record shows where it came from. A
// full table of 100 entries is announced with a count far past its end.
Header Formats(uint32_t w, uint32_t h, double fraction, const Table& table)
{
    Header x = Make(1920, 1080, 1920, 1080, false, w, h, 0, 0, fraction, fraction);
    x->ui32WebCamFormatCount = table.size() < 100 ? uint32_t(table.size()) : 0xFFFFFFFF;
    for (uint32_t k = 0; k < table.size(); ++k) {
        std::fill_n(x.bytes.data() + offsetof(TFrameBufferHeader, WebCamFormats) + k * sizeof(TWebCamFormatEntry),
                    sizeof(TWebCamFormatEntry), uint8_t(0x10 + k));
        x->WebCamFormats[k].ui32Width = table[k].first, x->WebCamFormats[k].ui32Height = table[k].second;
    }
    return x;
}

TEST(WebcamFormat, SelectsByPassAndTableOrder)
{
    const Table ladder = {{640, 480}, {640, 360}, {1280, 720}, {1920, 1080}};
    const std::tuple<const char*, uint32_t, uint32_t, double, Table, uint32_t> cases[] = {
        {"pass 1: smallest large enough of the right shape", 1280, 720, .25, ladder, 1},
        {"pass 2: nothing large enough, the last of the right shape", 1280, 720, 1.2, ladder, 3},
        {"4:3 UI format", 640, 480, .25, {{640, 360}, {640, 480}, {1280, 720}, {1280, 960}}, 1},
        {"pass 1 takes the earlier of equal entries", 1280, 720, .25, {{1280, 720}, {1280, 720}}, 0},
        {"pass 2 takes the later of equal entries", 1280, 720, 1.2, {{1280, 720}, {1280, 720}}, 1},
        {"pass 3: smallest diff, first met from the last", 1280, 720, .25,
         {{1000, 1000}, {800, 1000}, {1200, 1000}, {1200, 1000}}, 3},
        {"pass 3: smallest diff in the middle", 1280, 720, .25, {{1200, 1000}, {1000, 1000}, {1300, 1000}}, 2},
        {"only the 100 entries that exist are read", 1280, 720, .25,
         [] { Table t(100, {1, 1}); t[99] = {1920, 1080}; return t; }(), 99},
    };
    for (const auto& [name, w, h, fraction, table, chosen] : cases) {
        Header x = Formats(w, h, fraction, table);
        x->UpdateWebcamFormat();
        EXPECT_EQ(std::make_pair(x->webcamWidth, x->webcamHeight), table[chosen]) << name;
        const uint8_t* entry = x.bytes.data() + offsetof(TFrameBufferHeader, WebCamFormats) + chosen * 1672;
        EXPECT_TRUE(std::equal(entry + 4, entry + 1672, x.bytes.data() + offsetof(TFrameBufferHeader, SelectedWebCamFormat)))
            << name << ": the record of another entry was copied";
    }
    // Nothing to choose from, or nothing to choose for: not one byte changes.
    const std::pair<std::array<double, 3>, Table> unchanged[] = {
        {{1280, 720, .25}, {}},        {{1280, 0, .25}, {{640, 360}}},  {{1280, 720, 0}, {{640, 360}}},
        {{1280, 720, 1e10}, {{640, 360}}}, {{1280, 720, .25}, {{1920, 0}}}, {{1280, 720, .25}, {{100000, 1}}}};
    for (const auto& [in, table] : unchanged) {
        Header x = Formats(uint32_t(in[0]), uint32_t(in[1]), in[2], table);
        const std::vector<uint8_t> before = x.bytes;
        x->UpdateWebcamFormat();
        EXPECT_TRUE(x.bytes == before) << ::testing::PrintToString(in) << ", " << table.size() << " entries";
    }
}

TEST(WebcamFormat, LayoutSelectsThePlacesTheWebcamAndLogsEachStep)
{
    Header x = Formats(1280, 720, .25, {{640, 480}, {640, 360}, {1280, 720}});
    x->bAutoSelectWebCamFormat = 1;
    ClearNativeLogLines();
    ASSERT_EQ(x->CalculateImagesOffsets(), TLayoutResult::Ok);
    EXPECT_EQ(R(x->WebCamSourceRect), (Rect{0, 0, 640, 360}));
    EXPECT_EQ(x->WebCamImage.ui32Stride, 2560u);
    const std::string place = "left: 0.000000, top: 0.000000, width: 0.250000, height: 0.250000";
    const std::vector<std::string> expected = {
        "1 " + kLayout + " 1 webcamWidth: 1280, webcamHeight: 720, " + place,
        "1 " + kLayout + " WebCamVisibilityState enabled: 1",
        "0 " + kFormat,
        "1 " + kFormat + " webcamWidth: 1280, webcamHeight: 720, " + place,
        "0 " + kFormat + " Selecting format for recording video 1920x1080",
        "0 " + kFormat + " Webcam format from UI 1280x720",
        "0 " + kFormat + " Webcam size desired 480x270",
        "1 " + kFormat + " Check formats (higher with aspect ratio)",
        "1 " + kFormat + " Format 640x480, diff 0.444444",
        "1 " + kFormat + " Format 640x360, diff 0.000000",
        "0 " + kFormat + " Selected format 640x360",
        "1 " + kFormat + " webcamWidth: 640, webcamHeight: 360, " + place,
        "0 " + kFormat + " Exit",
        "1 " + kLayout + " 2 webcamWidth: 640, webcamHeight: 360, " + place,
        "0 " + kLayout + " Calculated scaled webcam rect 0 x 0, width 480, height 270",
        "0 " + kLayout + " DST game frame rect 0, 0, 1920, 1080",
        "0 " + kLayout + " Calculated webcam buffer size 480x270",
        "0 " + kLayout + " Calculated webcam src buffer 0x0, size 640x360",
        "0 " + kLayout + " UseChromaKeying 0",
    };
    std::vector<std::string> lines;
    for (const TNativeLogLine& line : NativeLogLines()) {
        lines.push_back(std::to_string(line.ui8Level) + " " + line.strText);
    }
    EXPECT_EQ(lines, expected);
}

TEST(FrameBufferHeader, WebcamPredicates)
{
    Header x;
    std::fill(x.bytes.begin(), x.bytes.end(), 0xA5);
    for (int32_t source = -1; source <= 9; ++source) {
        for (uint32_t method : {0u, 1u, 2u}) {
            x->iFrameSource = source, x->ui32CaptureMethod = method;
            EXPECT_EQ(x->IsWebCamCompositingSupported(), (source >= 0 && source <= 4) || (source == 8 && method == 0))
                << source << ", " << method;
        }
    }
    // Display mode, capture enabled, visibility state -> visible.
    const int visible[][4] = {{0, 1, 0, 1}, {1, 1, 0, 1}, {2, 1, 0, 0}, {3, 1, 0, 1}, {-1, 1, 0, 1},
                              {0, 0, 0, 0}, {0, 0xFF, 0, 1}, {0, 1, 1, 0}, {1, 1, 0x80, 0}};
    for (const auto& c : visible) {
        x->WebCamDisplayMode = c[0], x->bCaptureEnabled = uint8_t(c[1]), x->WebCamVisibilityState = uint8_t(c[2]);
        EXPECT_EQ(x->IsWebCamVisible(), c[3] != 0) << c[0] << ", " << c[1] << ", " << c[2];
    }
    // Display mode, chroma keying, the webcam image's parameter -> shader parameter (the
    // background's parameter is never used).
    const float shader[][4] = {{1, 1, .25f, 1}, {0, 1, .25f, 12.5f}, {2, 0x7F, .25f, 12.5f}, {0, 0, -2, -2}};
    for (const auto& c : shader) {
        x->WebCamDisplayMode = int32_t(c[0]), x->UseChromaKeying = uint8_t(c[1]);
        x->WebCamImage.fShaderParam = c[2], x->WebCamBackgroundImage.fShaderParam = 99;
        EXPECT_EQ(x->GetWebCamShaderParam(), c[3]) << c[0] << ", " << c[1];
    }
}

TEST(FrameBufferHeader, WideStringsStayInsideTheirFields)
{
    const size_t monitor = ZYR_WIDE_FIELD(wszMonitorName);
    const size_t cursorEvent = ZYR_WIDE_FIELD(wszCursorEventName);
    const size_t cursorMutex = ZYR_WIDE_FIELD(wszCursorMutexName);
    Bytes bytes(sizeof(TFrameBufferHeader), 0x41);  // no terminator anywhere
    EXPECT_EQ(ReadHeaderWideString(H(bytes), monitor), std::u16string(260, u'\u4141'));
    EXPECT_EQ(ReadHeaderWideString(H(bytes), sizeof(TFrameBufferHeader) - 520), std::u16string(260, u'\u4141'));
    EXPECT_EQ(ReadHeaderWideString(H(bytes), sizeof(TFrameBufferHeader) - 519), u"");
    for (size_t offset : {sizeof(TFrameBufferHeader) - 519, size_t{1} << 40}) {
        WriteHeaderWideString(H(bytes), offset, u"text");
    }
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 0x41), static_cast<ptrdiff_t>(bytes.size()));

    WriteHeaderWideString(H(bytes), monitor, u"\\\\.\\DISPLAY1");
    EXPECT_EQ(ReadHeaderWideString(H(bytes), monitor), u"\\\\.\\DISPLAY1");
    EXPECT_EQ(bytes[monitor + 519], 0) << "the rest of the field cleared";
    // 400 units are cut to 259 and a terminator; the reserved bytes around the cursor names (two
    // before the event name, six after the mutex name) belong to other processes.
    WriteHeaderWideString(H(bytes), cursorEvent, std::u16string(400, u'e'));
    WriteHeaderWideString(H(bytes), cursorMutex, std::u16string(260, u'm'));
    EXPECT_EQ(ReadHeaderWideString(H(bytes), cursorEvent), std::u16string(259, u'e'));
    EXPECT_EQ(ReadHeaderWideString(H(bytes), cursorMutex), std::u16string(259, u'm'));
    EXPECT_EQ(bytes[cursorEvent - 1], 0x41);
    EXPECT_EQ(bytes[monitor + 520], 0x41);
    EXPECT_TRUE(std::all_of(&bytes[cursorMutex + 520], &bytes[cursorMutex + 526], [](uint8_t b) { return b == 0x41; }));
}

// A mapping of exactly the layout's total size (less `cut` bytes) with 64 x 32 frames and a visible
// 1280 x 720 webcam with its background.
struct Mapping {
    Bytes bytes;
    explicit Mapping(int64_t cut = 0) : bytes(Make(1920, 1080, 64, 32, false, 1280, 720, .1, .1, .25, .25).bytes)
    {
        h().UseChromaKeying = h().bUseWebCamBackground = 1;
        EXPECT_EQ(h().CalculateImagesOffsets(), TLayoutResult::Ok);
        bytes.resize(static_cast<size_t>(h().ui32TotalSize - cut));
        bytes.shrink_to_fit();  // no spare capacity past the view's end
    }
    TFrameBufferHeader& h() { return H(bytes); }
    TFrameBufferView View() { return TFrameBufferView(bytes.data(), bytes.size()); }
};

TEST(FrameBufferView, AreaBounds)
{
    const uint64_t size = kFirstImageAreaOffset + 1000;
    Bytes block(size);
    const TFrameBufferView view(block.data(), size);
    const uint64_t max = std::numeric_limits<uint64_t>::max();
    const uint64_t cases[][3] = {
        {kFirstImageAreaOffset, 1000, 1}, {size - 1, 1, 1},  {size - 1, 2, 0},   {size, 1, 0},
        {0, 16, 0},                       {kFirstImageAreaOffset - 1, 1, 0},    {kFirstImageAreaOffset, 0, 0},
        {max - 10, 100, 0},               {kFirstImageAreaOffset, max - kFirstImageAreaOffset + 2, 0},
        {max, 1, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(view.Area(c[0], c[1]), c[2] ? block.data() + c[0] : nullptr) << c[0] << " + " << c[1];
    }
    Bytes small(sizeof(TFrameBufferHeader) - 1);
    EXPECT_EQ(TFrameBufferView(small.data(), small.size()).Header(), nullptr);
    EXPECT_FALSE(TFrameBufferView(small.data(), small.size()).CursorColorBitmap().IsValid());
    EXPECT_EQ(TFrameBufferView(nullptr, 1u << 30).Area(kFirstImageAreaOffset, 1), nullptr);
}

TEST(FrameBufferView, AreasOfALaidOutMappingAndOfAShortView)
{
    Mapping m;
    const TFrameBufferView view = m.View();
    for (size_t slot = 0; slot < kFrameSlotCount; ++slot) {
        const TAreaView area = view.FrameSlot(slot);
        ASSERT_EQ(area.pData, m.bytes.data() + m.h().ui32FrameImageOffsets[slot]) << slot;
        EXPECT_EQ(area.ui64Offset, m.h().ui32FrameImageOffsets[slot]);
        EXPECT_TRUE(area.ui32Width == 64 && area.ui32Rows == 32 && area.ui32Stride == 256 && area.ui64Size == 8192);
        EXPECT_TRUE(area.Holds(64, 32) && !area.Holds(65, 32) && !area.Holds(64, 33));
    }
    EXPECT_FALSE(view.FrameSlot(kFrameSlotCount).IsValid());
    EXPECT_EQ(view.WebCamArea().pData, m.bytes.data() + m.h().WebCamImage.ui32Offset);
    EXPECT_EQ(view.WebCamArea().ui64Size, 720u * 5120u);
    EXPECT_EQ(view.WebCamBackgroundArea().pData, m.bytes.data() + m.h().WebCamBackgroundImage.ui32Offset);
    EXPECT_EQ(view.CursorColorBitmap().pData, m.bytes.data() + m.h().ui32CursorColorBitmapOffset);
    EXPECT_EQ(view.CursorMaskBitmap().ui64Size, 524288u);
    EXPECT_EQ(view.CursorMaskBitmap().pData + 524288, m.bytes.data() + m.bytes.size());
    // One byte short loses exactly the last area.
    Mapping shortOne(1);
    EXPECT_FALSE(shortOne.View().CursorMaskBitmap().IsValid());
    EXPECT_TRUE(shortOne.View().CursorColorBitmap().IsValid());
    const uint64_t slotEnd = uint64_t{m.h().ui32FrameImageOffsets[5]} + 32 * 256;
    const TFrameBufferView cut(m.bytes.data(), slotEnd - 1);
    EXPECT_FALSE(cut.FrameSlot(5).IsValid());
    EXPECT_TRUE(cut.FrameSlot(4).IsValid());
    EXPECT_FALSE(cut.WebCamArea().IsValid());
}

TEST(FrameBufferView, HostileHeaderFieldsGiveNoArea)
{
    // Each corruption, and the area it must cost: 0 a frame slot, 1 the webcam, 2 its background,
    // 3 the cursor colour bitmap, 4 the cursor mask bitmap.
    const std::pair<void (*)(TFrameBufferHeader&), int> cases[] = {
        {[](TFrameBufferHeader& h) { h.ui32FrameImageOffsets[0] = 0xFFFFFF00; }, 0},
        {[](TFrameBufferHeader& h) { h.ui32FrameImageOffsets[0] = 64; }, 0},
        {[](TFrameBufferHeader& h) { h.ui32FrameImageStride = 252; }, 0},
        {[](TFrameBufferHeader& h) { h.iImageHeight = -32; }, 0},
        {[](TFrameBufferHeader& h) { h.iImageHeight = INT32_MAX; }, 0},
        {[](TFrameBufferHeader& h) { h.ui32FrameImageStride = 0xFFFFFFC0; }, 0},
        {[](TFrameBufferHeader& h) { h.WebCamImage.ui32Offset = 0xFFFFFFFF; }, 1},
        {[](TFrameBufferHeader& h) { h.WebCamImage.ui32Stride = 5116; }, 1},
        {[](TFrameBufferHeader& h) { h.WebCamSourceRect.bottom = -1; }, 1},
        {[](TFrameBufferHeader& h) { h.WebCamSourceRect = THooksRect{INT32_MIN, INT32_MIN, 0, INT32_MAX}; }, 1},
        {[](TFrameBufferHeader& h) { h.WebCamBackgroundImage.ui32Stride = 0xFFFFFFFF; }, 2},
        {[](TFrameBufferHeader& h) { h.ui32CursorColorBitmapOffset = 100; }, 3},
        {[](TFrameBufferHeader& h) { h.ui32CursorMaskBitmapOffset = 0xFFFFFFC0; }, 4},
    };
    auto area = [](const TFrameBufferView& v, int which) {
        const TAreaView areas[] = {v.FrameSlot(0), v.WebCamArea(), v.WebCamBackgroundArea(), v.CursorColorBitmap(),
                                   v.CursorMaskBitmap()};
        return areas[which];
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        Mapping m;
        ASSERT_TRUE(area(m.View(), cases[i].second).IsValid()) << "case " << i;
        cases[i].first(m.h());
        const TAreaView a = area(m.View(), cases[i].second);
        EXPECT_TRUE(a.pData == nullptr && a.ui64Size == 0 && a.ui32Rows == 0) << "case " << i;
    }
}

}  // namespace
