// Where the image areas go: slot offsets and strides, the total size, contiguity, refusal of
// layouts that do not fit 32 bits, and the bytes a layout must leave alone.
#include "framebuffer/TFrameBufferHeader.h"

#include "LayoutTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace layouttest;

namespace {

constexpr uint64_t kAreaEnd = 4294967295ull;  // 4 GiB - 1

uint64_t Align64(uint64_t n)
{
    return (n + 63) / 64 * 64;
}

TEST(ImageLayout, SlotOffsetsFor1920x1080)
{
    LayoutHeader header;
    SetFrame(header.h(), 1920, 1080, 1920, 1080);
    ASSERT_EQ(header.h().CalculateImagesOffsets(), TLayoutResult::Ok);
    const TFrameBufferHeader& h = header.h();
    EXPECT_EQ(h.ui32FrameImageStride, 7680u);
    const uint32_t expected[6] = {198656, 8493056, 16787456, 25081856, 33376256, 41670656};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(h.ui32FrameImageOffsets[i], expected[i]) << "slot " << i;
    }
    // No HUD picture: the HUD area is empty and the radial menu follows the six frames directly.
    EXPECT_EQ(h.HUDImage.ui32Offset, 49965056u);
    EXPECT_EQ(h.RadialMenuImage.ui32Offset, 49965056u);
    EXPECT_EQ(h.RadialMenuImage.width, 450u);
    EXPECT_EQ(h.RadialMenuImage.height, 450u);
    EXPECT_EQ(h.RadialMenuImage.ui32Stride, 1856u);
    EXPECT_EQ(h.RadialMenuImage.x, 735);
    EXPECT_EQ(h.RadialMenuImage.y, 315);
    // The zero webcam format hides the webcam; its area is empty.
    EXPECT_EQ(h.WebCamVisibilityState, 1);
    EXPECT_EQ(h.WebCamImage.ui32Offset, 49965056u + 835200u);
    EXPECT_EQ(h.ui32CursorColorBitmapOffset, 50800256u);
    EXPECT_EQ(h.ui32CursorMaskBitmapOffset, 50800256u + 524288u);
    EXPECT_EQ(h.ui32TotalSize, 50800256u + 1048576u);
}

TEST(ImageLayout, FrameStrideIsRowBytesRoundedUpTo64)
{
    struct Case {
        int32_t width;
        uint32_t stride;
    };
    const Case cases[] = {{1366, 5504}, {1920, 7680}, {0, 0}, {1, 64}, {16, 64}, {17, 128}, {1365, 5504}, {1368, 5504}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "width " << c.width);
        LayoutHeader header;
        SetFrame(header.h(), 1920, 1080, c.width, 10);
        ASSERT_EQ(header.h().CalculateImagesOffsets(), TLayoutResult::Ok);
        EXPECT_EQ(header.h().ui32FrameImageStride, c.stride);
        EXPECT_EQ(header.h().ui32FrameImageOffsets[1] - header.h().ui32FrameImageOffsets[0], 10 * c.stride);
    }
}

TEST(ImageLayout, HUDAreaAndOptionalAreas)
{
    LayoutHeader header;
    TFrameBufferHeader& h = header.h();
    SetFrame(h, 1920, 1080, 1280, 720);
    h.HUDImage.width = 301;  // 1,204 bytes per row -> 1,216
    h.HUDImage.height = 50;
    h.bUseCustomShaderData = 1;
    ASSERT_EQ(h.CalculateImagesOffsets(), TLayoutResult::Ok);
    const uint32_t afterFrames = 198656 + 6 * 720 * 5120;
    EXPECT_EQ(h.HUDImage.ui32Stride, 1216u);
    EXPECT_EQ(h.HUDImage.ui32Offset, afterFrames);
    EXPECT_EQ(h.HUDImage.width, 301u) << "the HUD size belongs to its producer";
    EXPECT_EQ(h.HUDImage.height, 50u);
    EXPECT_EQ(h.RadialMenuImage.ui32Offset, afterFrames + 50 * 1216);
    const uint32_t afterRadial = afterFrames + 50 * 1216 + 835200;
    EXPECT_EQ(h.ui32CustomShaderDataOffset, afterRadial);
    EXPECT_EQ(h.ui32CustomShaderDataSize, 4194304u);
    EXPECT_EQ(h.ui32CursorColorBitmapOffset, afterRadial + 4194304);
    EXPECT_EQ(h.ui32TotalSize, afterRadial + 4194304 + 1048576);
    EXPECT_EQ(h.HUDImage.bFlag, 0);
    EXPECT_EQ(h.RadialMenuImage.bFlag, 0);
    EXPECT_EQ(h.WebCamImage.bFlag, 0);
    EXPECT_EQ(h.WebCamBackgroundImage.bFlag, 1);
}

TEST(ImageLayout, CustomShaderDataFieldsUntouchedWhenNotRequested)
{
    LayoutHeader header;
    header.h().ui32CustomShaderDataOffset = 0xAAAA5555;
    header.h().ui32CustomShaderDataSize = 0x12345678;
    SetFrame(header.h(), 640, 480, 640, 480);
    ASSERT_EQ(header.h().CalculateImagesOffsets(), TLayoutResult::Ok);
    EXPECT_EQ(header.h().ui32CustomShaderDataOffset, 0xAAAA5555u);
    EXPECT_EQ(header.h().ui32CustomShaderDataSize, 0x12345678u);
}

// A hidden webcam keeps the area the header describes; a stride that no layout of ours would
// write (not a multiple of 64) gets its area rounded up so that the areas after it stay aligned.
TEST(ImageLayout, HiddenWebcamLeftoverAreaKeepsLaterAreasAligned)
{
    struct Case {
        uint32_t stride;
        int32_t rows;
        uint32_t reserved;
    };
    const Case cases[] = {{2560, 360, 921600}, {100, 3, 320}, {64, 0, 0}, {0, 100, 0}, {1, 1, 64}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "stride " << c.stride << ", rows " << c.rows);
        LayoutHeader header;
        TFrameBufferHeader& h = header.h();
        SetFrame(h, 1920, 1080, 1920, 1080);
        h.WebCamVisibilityState = 1;
        h.WebCamSourceRect = THooksRect{0, 5, 10, 5 + c.rows};
        h.WebCamImage.ui32Stride = c.stride;
        ASSERT_EQ(h.CalculateImagesOffsets(), TLayoutResult::Ok);
        EXPECT_EQ(h.WebCamImage.ui32Stride, c.stride);
        EXPECT_EQ(h.ui32CursorColorBitmapOffset - h.WebCamImage.ui32Offset, c.reserved);
        EXPECT_EQ(h.ui32CursorColorBitmapOffset % 64, 0u);
    }
}

struct Area {
    const char* name;
    uint64_t offset;
    uint64_t size;
};

// The areas in their documented order, as the header describes them after a layout.
std::vector<Area> AreasOf(const TFrameBufferHeader& h, bool background)
{
    std::vector<Area> areas;
    const uint64_t slot = uint64_t(h.iImageHeight) * h.ui32FrameImageStride;
    for (size_t i = 0; i < 6; ++i) {
        areas.push_back({"frame slot", h.ui32FrameImageOffsets[i], slot});
    }
    areas.push_back({"HUD", h.HUDImage.ui32Offset, uint64_t(h.HUDImage.height) * h.HUDImage.ui32Stride});
    areas.push_back({"radial menu", h.RadialMenuImage.ui32Offset, 835200});
    const uint64_t webcamRows = uint64_t(int64_t(h.WebCamSourceRect.bottom) - h.WebCamSourceRect.top);
    areas.push_back({"webcam", h.WebCamImage.ui32Offset, webcamRows * h.WebCamImage.ui32Stride});
    if (background) {
        areas.push_back({"webcam background", h.WebCamBackgroundImage.ui32Offset,
                         webcamRows * h.WebCamBackgroundImage.ui32Stride});
    }
    if (h.bUseCustomShaderData != 0) {
        areas.push_back({"custom shader data", h.ui32CustomShaderDataOffset, h.ui32CustomShaderDataSize});
    }
    areas.push_back({"cursor colour", h.ui32CursorColorBitmapOffset, 524288});
    areas.push_back({"cursor mask", h.ui32CursorMaskBitmapOffset, 524288});
    return areas;
}

// Random valid settings: the total must equal the documented formula, and the areas must follow
// each other without gaps from the first image area to the total, each on a 64-byte boundary.
TEST(ImageLayout, TotalSizeFormulaAndContiguityForRandomSettings)
{
    std::mt19937 random(20240611);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
    const uint32_t formats[][2] = {{640, 480}, {1280, 720}, {1920, 1080}, {320, 240}, {1, 1}, {0, 0}};
    for (int iteration = 0; iteration < 3000; ++iteration) {
        SCOPED_TRACE(testing::Message() << "iteration " << iteration);
        LayoutHeader header;
        TFrameBufferHeader& h = header.h();
        SetFrame(h, pick(0, 4000), pick(0, 2200), pick(0, 4096), pick(0, 2200), pick(0, 1) == 1);
        h.HUDImage.width = pick(0, 1000);
        h.HUDImage.height = pick(0, 1000);
        const auto& format = formats[pick(0, 5)];
        SetWebcam(h, format[0], format[1], pick(-10, 120) / 100.0, pick(-10, 120) / 100.0, pick(0, 130) / 100.0,
                  pick(0, 130) / 100.0);
        h.WebCamVisibilityState = pick(0, 3) == 0 ? 1 : 0;
        h.WebCamSourceRect = THooksRect{0, 0, pick(0, 100), pick(0, 100)};  // left by an earlier layout
        h.WebCamImage.ui32Stride = 64 * pick(0, 8);
        h.UseChromaKeying = pick(0, 1);
        h.bUseWebCamBackground = pick(0, 1);
        h.bUseCustomShaderData = pick(0, 1);
        ASSERT_EQ(h.CalculateImagesOffsets(), TLayoutResult::Ok);

        const uint64_t stride = Align64(uint64_t(h.iImageWidth) * 4);
        const uint64_t rows = uint64_t(int64_t(h.WebCamSourceRect.bottom) - h.WebCamSourceRect.top);
        const bool background = h.UseChromaKeying != 0 && h.bUseWebCamBackground != 0 && h.WebCamVisibilityState == 0 &&
                                rows > 0 && h.WebCamImage.ui32Stride != 0;
        const uint64_t expected = 198656 + 6 * uint64_t(h.iImageHeight) * stride +
                                  uint64_t(h.HUDImage.height) * Align64(uint64_t(h.HUDImage.width) * 4) + 835200 +
                                  rows * h.WebCamImage.ui32Stride * (background ? 2 : 1) +
                                  (h.bUseCustomShaderData != 0 ? 4194304 : 0) + 1048576;
        ASSERT_EQ(h.ui32TotalSize, expected);
        uint64_t end = kFirstImageAreaOffset;
        for (const Area& area : AreasOf(h, background)) {
            SCOPED_TRACE(area.name);
            ASSERT_EQ(area.offset, end);
            ASSERT_EQ(area.offset % 64, 0u);
            end = area.offset + area.size;
        }
        ASSERT_EQ(end, h.ui32TotalSize);
    }
}

struct OverflowCase {
    const char* name;
    void (*setup)(TFrameBufferHeader&);
};

// Each case would overflow some 32-bit size, stride, product or offset of the layout: the layout is
// refused and not one byte of the header changes.
TEST(ImageLayout, RefusesLayoutsThatDoNotFit32Bits)
{
    const OverflowCase cases[] = {
        {"frame stride beyond INT32_MAX", [](TFrameBufferHeader& h) { SetFrame(h, 1920, 1080, 600000000, 1); }},
        {"INT32_MAX image width", [](TFrameBufferHeader& h) { SetFrame(h, 1920, 1080, 2147483647, 2147483647); }},
        {"six slots beyond 4 GiB", [](TFrameBufferHeader& h) { SetFrame(h, 1920, 1080, 20000, 20000); }},
        {"one slot beyond INT32_MAX", [](TFrameBufferHeader& h) { SetFrame(h, 1920, 1080, 1, 40000000); }},
        {"negative image width", [](TFrameBufferHeader& h) { SetFrame(h, 1920, 1080, -1920, 1080); }},
        {"negative image height", [](TFrameBufferHeader& h) { SetFrame(h, 1920, 1080, 1920, -1080); }},
        {"HUD stride beyond 32 bits",
         [](TFrameBufferHeader& h) {
             SetFrame(h, 1920, 1080, 64, 64);
             h.HUDImage.width = 0x40000000;
             h.HUDImage.height = 1;
         }},
        {"HUD width 0xFFFFFFFF", [](TFrameBufferHeader& h) { h.HUDImage.width = 0xFFFFFFFF; }},
        {"HUD area beyond 4 GiB",
         [](TFrameBufferHeader& h) {
             h.HUDImage.width = 1024;
             h.HUDImage.height = 0xFFFFFFFF;
         }},
        {"webcam stride beyond INT32_MAX",
         [](TFrameBufferHeader& h) {
             SetFrame(h, 1920, 1080, 64, 64);
             SetWebcam(h, 600000000, 337500000, 0.1, 0.1, 0.25, 0.25);
         }},
        {"webcam area beyond 4 GiB",
         [](TFrameBufferHeader& h) {
             SetFrame(h, 1920, 1080, 64, 64);
             SetWebcam(h, 60000, 60000, 0.1, 0.1, 0.25, 0.444);
         }},
        {"webcam area and its background beyond 4 GiB",
         [](TFrameBufferHeader& h) {
             SetFrame(h, 1920, 1080, 1920, 1080);
             SetWebcam(h, 32000, 18000, 0.1, 0.1, 0.25, 0.25);  // 2,304,000,000 bytes, twice
             h.UseChromaKeying = 1;
             h.bUseWebCamBackground = 1;
         }},
        {"hidden webcam with a negative leftover row count",
         [](TFrameBufferHeader& h) {
             h.WebCamVisibilityState = 1;
             h.WebCamSourceRect = THooksRect{0, 100, 10, 0};
             h.WebCamImage.ui32Stride = 64;
         }},
        {"hidden webcam with a huge leftover area",
         [](TFrameBufferHeader& h) {
             h.WebCamVisibilityState = 1;
             h.WebCamSourceRect = THooksRect{-2147483647 - 1, -2147483647 - 1, 2147483647, 2147483647};
             h.WebCamImage.ui32Stride = 0xFFFFFFC0;
         }},
        {"custom shader data passes 4 GiB",
         [](TFrameBufferHeader& h) {
             h.HUDImage.width = 16;
             h.HUDImage.height = 67076325 - 65535;  // 4 GiB - 4 MiB without the shader data
             h.bUseCustomShaderData = 1;
         }},
        {"cursor bitmaps pass 4 GiB by 64 bytes",
         [](TFrameBufferHeader& h) {
             h.HUDImage.width = 16;
             h.HUDImage.height = 67076326;
         }},
    };
    for (const OverflowCase& c : cases) {
        SCOPED_TRACE(c.name);
        LayoutHeader header(0x5A);
        SetFrame(header.h(), 1920, 1080, 0, 0);
        SetWebcam(header.h(), 0, 0, 0, 0, 0, 0);
        header.h().WebCamVisibilityState = 0;
        header.h().bUseCustomShaderData = 0;
        header.h().UseChromaKeying = 0;
        header.h().ui32WebCamFormatCount = 0;
        header.h().HUDImage.width = 0;
        header.h().HUDImage.height = 0;
        c.setup(header.h());
        const std::vector<uint8_t> before = header.Snapshot();
        ClearNativeLogLines();
        EXPECT_EQ(header.h().CalculateImagesOffsets(), TLayoutResult::Overflow);
        EXPECT_TRUE(header.Snapshot() == before) << "a refused layout wrote into the header";
        const auto lines = LoggedLines();
        ASSERT_FALSE(lines.empty());
        EXPECT_NE(lines.back().second.find("TFrameBufferHeader::CalculateImagesOffsets"), std::string::npos);
    }
}

// The largest total a layout can produce is 4 GiB - 64 (every area is a multiple of 64 bytes).
TEST(ImageLayout, AcceptsTheLargestTotalBelow4GiB)
{
    LayoutHeader header;
    TFrameBufferHeader& h = header.h();
    SetFrame(h, 1920, 1080, 0, 0);
    h.HUDImage.width = 16;         // 64 bytes per row
    h.HUDImage.height = 67076325;  // 198,656 + 64 * 67,076,325 + 835,200 + 1,048,576 = 2^32 - 64
    ASSERT_EQ(h.CalculateImagesOffsets(), TLayoutResult::Ok);
    EXPECT_EQ(h.ui32TotalSize, 4294967232u);
    EXPECT_LE(uint64_t{h.ui32TotalSize}, kAreaEnd);
    EXPECT_EQ(h.ui32CursorMaskBitmapOffset, 4294967232u - 524288u);
}

TEST(ImageLayout, HandsOutTheTotalItWrote)
{
    LayoutHeader header;
    SetFrame(header.h(), 1920, 1080, 1920, 1080);
    uint32_t total = 7;
    ASSERT_EQ(header.h().CalculateImagesOffsets(total), TLayoutResult::Ok);
    EXPECT_EQ(total, 51848832u);
    EXPECT_EQ(header.h().ui32TotalSize, 51848832u);
    header.h().iImageWidth = -1;
    total = 7;
    EXPECT_EQ(header.h().CalculateImagesOffsets(total), TLayoutResult::Overflow);
    EXPECT_EQ(total, 7u);
    EXPECT_EQ(header.h().ui32TotalSize, 51848832u);
}

TEST(ImageLayout, ResultNames)
{
    EXPECT_STREQ(LayoutResultName(TLayoutResult::Ok), "Ok");
    EXPECT_STREQ(LayoutResultName(TLayoutResult::Overflow), "Overflow");
}

// Fill the header with a pattern, lay out, and compare every byte outside the fields a layout may
// write: reserved ranges, settings and the fields of other processes must survive.
TEST(ImageLayout, LeavesEveryOtherByteUntouched)
{
    struct Case {
        const char* name;
        uint8_t visibility;
        bool autoSelect;
    };
    const Case cases[] = {{"visible webcam, format selection, background", 0, true},
                          {"hidden webcam", 1, false},
                          {"visible webcam, no selection", 0, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LayoutHeader header;
        for (size_t i = 0; i < header.bytes.size(); ++i) {
            header.bytes.data()[i] = static_cast<uint8_t>(i * 131 + 7);
        }
        TFrameBufferHeader& h = header.h();
        SetFrame(h, 1920, 1080, 1280, 720);
        h.HUDImage.width = 100;
        h.HUDImage.height = 40;
        SetWebcam(h, 1280, 720, 0.7, 0.7, 0.25, 0.25);
        h.WebCamVisibilityState = c.visibility;
        h.bAutoSelectWebCamFormat = c.autoSelect ? 1 : 0;
        h.ui32WebCamFormatCount = 2;
        SetFormat(h, 0, 640, 360, 0x11);
        SetFormat(h, 1, 1280, 720, 0x22);
        h.UseChromaKeying = 1;
        h.bUseWebCamBackground = 1;
        h.bUseCustomShaderData = 1;
        h.WebCamSourceRect = THooksRect{0, 0, 16, 16};
        h.WebCamImage.ui32Stride = 64;
        const std::vector<uint8_t> before = header.Snapshot();
        ASSERT_EQ(h.CalculateImagesOffsets(), TLayoutResult::Ok);
        const std::vector<uint8_t> after = header.Snapshot();
        const std::vector<bool> writable = LayoutWritableBytes();
        size_t changed = 0;
        for (size_t i = 0; i < before.size(); ++i) {
            if (!writable[i]) {
                ASSERT_EQ(after[i], before[i]) << "byte " << i << " changed";
            } else if (after[i] != before[i]) {
                ++changed;
            }
        }
        EXPECT_GT(changed, 100u) << "the layout wrote its fields";
    }
}

}  // namespace
