// The bounds-checked area accessor: areas inside and outside the view, sums that would wrap, views
// smaller than the header, and header fields that say anything.
#include "framebuffer/FrameBufferView.h"

#include "ExactBuffer.h"
#include "LayoutTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

using namespace layouttest;

namespace {

constexpr uint64_t kU64Max = std::numeric_limits<uint64_t>::max();

// A whole mapping in a heap block of exactly `size` bytes, with a header laid out for 64 x 32
// frames and a visible 1280 x 720 webcam with its background.
struct Mapping {
    explicit Mapping(uint64_t size) : bytes(static_cast<size_t>(size)) {}
    TFrameBufferHeader& h() { return *reinterpret_cast<TFrameBufferHeader*>(bytes.data()); }
    TFrameBufferView View() { return TFrameBufferView(bytes.data(), bytes.size()); }
    ExactBuffer bytes;
};

uint32_t LaidOutTotal()
{
    LayoutHeader header;
    TFrameBufferHeader& h = header.h();
    SetFrame(h, 1920, 1080, 64, 32);
    SetWebcam(h, 1280, 720, 0.1, 0.1, 0.25, 0.25);
    h.UseChromaKeying = 1;
    h.bUseWebCamBackground = 1;
    EXPECT_EQ(h.CalculateImagesOffsets(), TLayoutResult::Ok);
    return h.ui32TotalSize;
}

void LayOut(Mapping& m)
{
    SetFrame(m.h(), 1920, 1080, 64, 32);
    SetWebcam(m.h(), 1280, 720, 0.1, 0.1, 0.25, 0.25);
    m.h().UseChromaKeying = 1;
    m.h().bUseWebCamBackground = 1;
    ASSERT_EQ(m.h().CalculateImagesOffsets(), TLayoutResult::Ok);
}

// Touches the first and the last byte of every row the area promises (AddressSanitizer checks).
void Touch(const TAreaView& area)
{
    ASSERT_TRUE(area.IsValid());
    for (uint32_t row = 0; row < area.ui32Rows; ++row) {
        uint8_t* const p = area.pData + uint64_t{row} * area.ui32Stride;
        p[0] = 0xA5;
        if (area.ui32Width != 0) {
            p[uint64_t{area.ui32Width} * 4 - 1] = 0x5A;
        }
    }
    area.pData[area.ui64Size - 1] = 0x3C;
}

TEST(FrameBufferView, HeaderNeedsAWholeHeader)
{
    ExactBuffer small(sizeof(TFrameBufferHeader) - 1);
    EXPECT_EQ(TFrameBufferView(small.data(), small.size()).Header(), nullptr);
    EXPECT_EQ(TFrameBufferView(small.data(), small.size()).FrameSlot(0).pData, nullptr);
    EXPECT_EQ(TFrameBufferView(small.data(), small.size()).CursorColorBitmap().pData, nullptr);
    ExactBuffer exact(sizeof(TFrameBufferHeader));
    EXPECT_EQ(TFrameBufferView(exact.data(), exact.size()).Header(),
              reinterpret_cast<TFrameBufferHeader*>(exact.data()));
    EXPECT_EQ(TFrameBufferView(nullptr, 1u << 30).Header(), nullptr);
    EXPECT_EQ(TFrameBufferView(nullptr, 1u << 30).Area(kFirstImageAreaOffset, 1), nullptr);
    EXPECT_EQ(TFrameBufferView(nullptr, 1u << 30).Size(), 0u);
}

TEST(FrameBufferView, AreaBounds)
{
    const uint64_t size = kFirstImageAreaOffset + 1000;
    ExactBuffer block(static_cast<size_t>(size));
    const TFrameBufferView view(block.data(), size);
    struct Case {
        const char* name;
        uint64_t offset;
        uint64_t size;
        bool inside;
    };
    const Case cases[] = {
        {"first byte of the image areas", kFirstImageAreaOffset, 1, true},
        {"everything behind the header", kFirstImageAreaOffset, 1000, true},
        {"last byte", size - 1, 1, true},
        {"one byte past the end", size - 1, 2, false},
        {"starts at the end", size, 1, false},
        {"inside the header", 0, 16, false},
        {"in the gap after the header", kFirstImageAreaOffset - 1, 1, false},
        {"empty", kFirstImageAreaOffset, 0, false},
        {"offset plus size wraps", kU64Max - 10, 100, false},
        {"size wraps back into the view", kFirstImageAreaOffset, kU64Max - kFirstImageAreaOffset + 2, false},
        {"huge size", kFirstImageAreaOffset, kU64Max, false},
        {"huge offset", kU64Max, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint8_t* const p = view.Area(c.offset, c.size);
        if (c.inside) {
            ASSERT_EQ(p, block.data() + c.offset);
            p[0] = 1;
            p[c.size - 1] = 1;
        } else {
            EXPECT_EQ(p, nullptr);
        }
    }
}

TEST(FrameBufferView, AreasOfALaidOutMapping)
{
    Mapping m(LaidOutTotal());
    LayOut(m);
    ASSERT_EQ(m.bytes.size(), m.h().ui32TotalSize);
    const TFrameBufferView view = m.View();
    for (size_t slot = 0; slot < kFrameSlotCount; ++slot) {
        SCOPED_TRACE(testing::Message() << "slot " << slot);
        const TAreaView area = view.FrameSlot(slot);
        ASSERT_EQ(area.pData, m.bytes.data() + m.h().ui32FrameImageOffsets[slot]);
        EXPECT_EQ(area.ui64Offset, m.h().ui32FrameImageOffsets[slot]) << "the offset a DIB on the section uses";
        EXPECT_EQ(area.ui32Width, 64u);
        EXPECT_EQ(area.ui32Rows, 32u);
        EXPECT_EQ(area.ui32Stride, 256u);
        EXPECT_EQ(area.ui64Size, 32u * 256u);
        EXPECT_TRUE(area.Holds(64, 32));
        EXPECT_FALSE(area.Holds(65, 32));
        EXPECT_FALSE(area.Holds(64, 33));
        Touch(area);
    }
    EXPECT_FALSE(view.FrameSlot(kFrameSlotCount).IsValid());
    const TAreaView webcam = view.WebCamArea();
    ASSERT_EQ(webcam.pData, m.bytes.data() + m.h().WebCamImage.ui32Offset);
    EXPECT_EQ(webcam.ui32Width, 1280u);
    EXPECT_EQ(webcam.ui32Rows, 720u);
    EXPECT_EQ(webcam.ui32Stride, 5120u);
    Touch(webcam);
    const TAreaView background = view.WebCamBackgroundArea();
    ASSERT_EQ(background.pData, m.bytes.data() + m.h().WebCamBackgroundImage.ui32Offset);
    EXPECT_EQ(background.ui64Size, 720u * 5120u);
    Touch(background);
    const TAreaView colour = view.CursorColorBitmap();
    const TAreaView mask = view.CursorMaskBitmap();
    ASSERT_EQ(colour.pData, m.bytes.data() + m.h().ui32CursorColorBitmapOffset);
    ASSERT_EQ(mask.pData, m.bytes.data() + m.h().ui32CursorMaskBitmapOffset);
    EXPECT_EQ(mask.ui64Size, 524288u);
    EXPECT_EQ(mask.ui32Rows, 1u);
    EXPECT_EQ(mask.ui32Width, 0u);
    Touch(colour);
    Touch(mask);
}

// A view that ends one byte early loses exactly the last area.
TEST(FrameBufferView, ShortViewLosesTheAreasItCuts)
{
    const uint32_t total = LaidOutTotal();
    Mapping m(total - 1);
    LayOut(m);
    const TFrameBufferView view = m.View();
    EXPECT_FALSE(view.CursorMaskBitmap().IsValid());
    EXPECT_TRUE(view.CursorColorBitmap().IsValid());
    EXPECT_TRUE(view.FrameSlot(5).IsValid());
    // Cut into the last frame slot.
    const uint64_t slotEnd = uint64_t{m.h().ui32FrameImageOffsets[5]} + 32 * 256;
    const TFrameBufferView cut(m.bytes.data(), slotEnd - 1);
    EXPECT_FALSE(cut.FrameSlot(5).IsValid());
    EXPECT_TRUE(cut.FrameSlot(4).IsValid());
    EXPECT_FALSE(cut.WebCamArea().IsValid());
}

TEST(FrameBufferView, HeaderFieldsThatSayAnything)
{
    struct Case {
        const char* name;
        void (*corrupt)(TFrameBufferHeader&);
        TAreaView (TFrameBufferView::*area)() const;
    };
    const Case cases[] = {
        {"webcam offset at the end", [](TFrameBufferHeader& h) { h.WebCamImage.ui32Offset = 0xFFFFFFFF; },
         &TFrameBufferView::WebCamArea},
        {"webcam stride below its row", [](TFrameBufferHeader& h) { h.WebCamImage.ui32Stride = 5116; },
         &TFrameBufferView::WebCamArea},
        {"webcam rows negative", [](TFrameBufferHeader& h) { h.WebCamSourceRect.bottom = -1; },
         &TFrameBufferView::WebCamArea},
        {"webcam width negative", [](TFrameBufferHeader& h) { h.WebCamSourceRect.left = 1281; },
         &TFrameBufferView::WebCamArea},
        {"webcam rectangle spanning 2^32",
         [](TFrameBufferHeader& h) {
             h.WebCamSourceRect = THooksRect{-2147483647 - 1, -2147483647 - 1, 0, 2147483647};
         },
         &TFrameBufferView::WebCamArea},
        {"background stride 0xFFFFFFFF",
         [](TFrameBufferHeader& h) { h.WebCamBackgroundImage.ui32Stride = 0xFFFFFFFF; },
         &TFrameBufferView::WebCamBackgroundArea},
        {"cursor colour offset inside the header",
         [](TFrameBufferHeader& h) { h.ui32CursorColorBitmapOffset = 100; }, &TFrameBufferView::CursorColorBitmap},
        {"cursor mask offset near 4 GiB",
         [](TFrameBufferHeader& h) { h.ui32CursorMaskBitmapOffset = 0xFFFFFFC0; }, &TFrameBufferView::CursorMaskBitmap},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Mapping m(LaidOutTotal());
        LayOut(m);
        const TFrameBufferView view = m.View();
        ASSERT_TRUE((view.*c.area)().IsValid());
        c.corrupt(m.h());
        const TAreaView area = (view.*c.area)();
        EXPECT_EQ(area.pData, nullptr);
        EXPECT_EQ(area.ui64Size, 0u);
        EXPECT_EQ(area.ui32Rows, 0u);
    }
}

TEST(FrameBufferView, FrameSlotFieldsThatSayAnything)
{
    struct Case {
        const char* name;
        void (*corrupt)(TFrameBufferHeader&);
    };
    const Case cases[] = {
        {"offset beyond the view", [](TFrameBufferHeader& h) { h.ui32FrameImageOffsets[0] = 0xFFFFFF00; }},
        {"offset inside the header", [](TFrameBufferHeader& h) { h.ui32FrameImageOffsets[0] = 64; }},
        {"stride below the row", [](TFrameBufferHeader& h) { h.ui32FrameImageStride = 252; }},
        {"negative height", [](TFrameBufferHeader& h) { h.iImageHeight = -32; }},
        {"negative width", [](TFrameBufferHeader& h) { h.iImageWidth = -1; }},
        {"huge height", [](TFrameBufferHeader& h) { h.iImageHeight = 2147483647; }},
        {"huge stride", [](TFrameBufferHeader& h) { h.ui32FrameImageStride = 0xFFFFFFC0; }},
        {"zero height", [](TFrameBufferHeader& h) { h.iImageHeight = 0; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Mapping m(LaidOutTotal());
        LayOut(m);
        c.corrupt(m.h());
        EXPECT_FALSE(m.View().FrameSlot(0).IsValid());
    }
}

TEST(FrameBufferView, HiddenWebcamHasNoArea)
{
    Mapping m(LaidOutTotal());
    LayOut(m);
    SetWebcam(m.h(), 1280, 720, 0.1, 0.1, 0.0, 0.25);
    ASSERT_EQ(m.h().CalculateImagesOffsets(), TLayoutResult::Ok);
    EXPECT_EQ(m.h().WebCamVisibilityState, 1);
    EXPECT_FALSE(m.View().WebCamArea().IsValid());
}

}  // namespace
