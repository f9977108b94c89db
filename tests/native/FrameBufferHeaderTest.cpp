// The shared header as bytes (every field offset is pinned by static_asserts beside the struct):
// the arrays whose element order a compile-time offset cannot show, the webcam predicates, the
// bounded wide strings, and the bounds-checked area accessor against hostile header fields.
#include "framebuffer/FrameBufferView.h"
#include "framebuffer/TFrameBufferHeader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

TFrameBufferHeader& H(Bytes& bytes)
{
    return *reinterpret_cast<TFrameBufferHeader*>(bytes.data());
}

uint32_t U32At(const Bytes& bytes, size_t at)
{
    uint32_t value = 0;
    std::memcpy(&value, bytes.data() + at, 4);
    return value;
}

TEST(FrameBufferHeader, ArrayElementsLieWhereTheHostLooks)
{
    Bytes bytes(sizeof(TFrameBufferHeader));
    ASSERT_EQ(bytes.size(), 198632u);
    H(bytes).WebCamFormats[0].ui32Height = 11;
    H(bytes).WebCamFormats[0].ui32Width = 12;
    H(bytes).WebCamFormats[99].ui32Height = 991;
    H(bytes).WebCamFormats[99].ui32Width = 992;
    H(bytes).bFrameReady[5] = 1;
    H(bytes).bFrameRequested[0] = 1;
    H(bytes).ui32FrameImageOffsets[5] = 0x01020304;
    EXPECT_EQ(U32At(bytes, 28040), 11u);  // height before width, entries 1,672 bytes apart
    EXPECT_EQ(U32At(bytes, 28044), 12u);
    EXPECT_EQ(U32At(bytes, 28040 + 99 * 1672), 991u);
    EXPECT_EQ(U32At(bytes, 28044 + 99 * 1672), 992u);
    EXPECT_EQ(bytes[45], 1);
    EXPECT_EQ(bytes[46], 1);
    EXPECT_EQ(U32At(bytes, 27212 + 20), 0x01020304u);
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 0), static_cast<ptrdiff_t>(bytes.size() - 12));
}

TEST(FrameBufferHeader, WebcamPredicates)
{
    for (int32_t source = -1; source <= 9; ++source) {
        for (uint32_t method : {0u, 1u, 2u}) {
            Bytes bytes(sizeof(TFrameBufferHeader), 0xA5);
            H(bytes).iFrameSource = source;
            H(bytes).ui32CaptureMethod = method;
            EXPECT_EQ(H(bytes).IsWebCamCompositingSupported(), (source >= 0 && source <= 4) || (source == 8 && method == 0))
                << source << ", " << method;
        }
    }
    // Display mode, capture enabled, visibility state -> visible.
    const int visible[][4] = {{0, 1, 0, 1}, {1, 1, 0, 1}, {2, 1, 0, 0}, {3, 1, 0, 1}, {-1, 1, 0, 1},
                              {0, 0, 0, 0}, {0, 0xFF, 0, 1}, {0, 1, 1, 0}, {1, 1, 0x80, 0}};
    for (const auto& c : visible) {
        Bytes bytes(sizeof(TFrameBufferHeader), 0x5A);
        H(bytes).WebCamDisplayMode = c[0];
        H(bytes).bCaptureEnabled = static_cast<uint8_t>(c[1]);
        H(bytes).WebCamVisibilityState = static_cast<uint8_t>(c[2]);
        EXPECT_EQ(H(bytes).IsWebCamVisible(), c[3] != 0) << c[0] << ", " << c[1] << ", " << c[2];
    }
    // Display mode, chroma keying, the image's parameter -> shader parameter.
    const float shader[][4] = {{1, 1, .25f, 1}, {0, 1, .25f, 12.5f}, {2, 0x7F, .25f, 12.5f}, {0, 0, -2, -2}};
    for (const auto& c : shader) {
        Bytes bytes(sizeof(TFrameBufferHeader));
        H(bytes).WebCamDisplayMode = static_cast<int32_t>(c[0]);
        H(bytes).UseChromaKeying = static_cast<uint8_t>(c[1]);
        H(bytes).WebCamImage.fShaderParam = c[2];
        H(bytes).WebCamBackgroundImage.fShaderParam = 99;  // never used
        EXPECT_EQ(H(bytes).GetWebCamShaderParam(), c[3]) << c[0] << ", " << c[1];
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
    EXPECT_EQ(ReadHeaderWideString(H(bytes), size_t{1} << 30), u"");
    for (size_t offset : {sizeof(TFrameBufferHeader) - 519, size_t{1} << 40}) {
        WriteHeaderWideString(H(bytes), offset, u"text");
    }
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 0x41), static_cast<ptrdiff_t>(bytes.size()));

    WriteHeaderWideString(H(bytes), monitor, u"\\\\.\\DISPLAY1");
    EXPECT_EQ(ReadHeaderWideString(H(bytes), monitor), u"\\\\.\\DISPLAY1");
    EXPECT_EQ(U32At(bytes, monitor + 24), 0u) << "terminated and the rest of the field cleared";
    EXPECT_EQ(U32At(bytes, monitor + 516), 0u);
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

// A mapping of exactly the layout's total size with 64 x 32 frames and a visible 1280 x 720 webcam
// with its background.
struct Mapping {
    Bytes bytes;
    explicit Mapping(int64_t cut = 0) : bytes(sizeof(TFrameBufferHeader))
    {
        TFrameBufferHeader& h = H(bytes);
        h.iSourceWidth = 1920, h.iSourceHeight = 1080, h.iImageWidth = 64, h.iImageHeight = 32;
        h.webcamWidth = 1280, h.webcamHeight = 720, h.dWebCamLeft = h.dWebCamTop = 0.1;
        h.dWebCamWidth = h.dWebCamHeight = 0.25;
        h.UseChromaKeying = h.bUseWebCamBackground = 1;
        EXPECT_EQ(h.CalculateImagesOffsets(), TLayoutResult::Ok);
        bytes.resize(static_cast<size_t>(h.ui32TotalSize - cut));
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
