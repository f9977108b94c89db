#include "framebuffer/TFrameBufferHeader.h"

#include "ExactBuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

static_assert(std::endian::native == std::endian::little, "the header is little-endian");

template <typename T>
std::vector<uint8_t> LeBytes(T value)
{
    std::vector<uint8_t> bytes(sizeof value);
    std::memcpy(bytes.data(), &value, sizeof value);
    return bytes;
}

// A zeroed heap block of exactly the header's size, viewed as the header (as a mapped view is).
struct HeaderBuffer {
    explicit HeaderBuffer(uint8_t fill = 0) : bytes(sizeof(TFrameBufferHeader), fill) {}
    TFrameBufferHeader& header() { return *reinterpret_cast<TFrameBufferHeader*>(bytes.data()); }
    size_t NonZeroBytes() const
    {
        return static_cast<size_t>(std::count_if(bytes.data(), bytes.data() + bytes.size(),
                                                 [](uint8_t b) { return b != 0; }));
    }
    ExactBuffer bytes;
};

TEST(FrameBufferHeader, SizeAndFirstImageArea)
{
    EXPECT_EQ(sizeof(TFrameBufferHeader), 198632u);
    EXPECT_EQ(kFrameBufferHeaderSize, 198632u);
    EXPECT_EQ(kFirstImageAreaOffset, 198656u);
    EXPECT_EQ(kFirstImageAreaOffset % 64, 0u);
    EXPECT_LT(kFirstImageAreaOffset - kFrameBufferHeaderSize, 64u);
    EXPECT_EQ(sizeof(TOverlayImageInfo), 36u);
    EXPECT_EQ(sizeof(TWebCamFormatEntry), 1672u);
    EXPECT_EQ(sizeof(THooksRect), 16u);
}

struct FieldCase {
    const char* name;
    size_t offset;
    std::function<void(TFrameBufferHeader&)> write;
    std::vector<uint8_t> expected;
};

// Each field is written through the structure into a zeroed header; its bytes must appear at the
// documented offset and nowhere else.
TEST(FrameBufferHeader, FieldsLandAtTheirOffsets)
{
    const FieldCase cases[] = {
        {"iSourceWidth", 0, [](auto& h) { h.iSourceWidth = 0x01020304; }, LeBytes<int32_t>(0x01020304)},
        {"iRequestedWidth", 8, [](auto& h) { h.iRequestedWidth = -1; }, LeBytes<int32_t>(-1)},
        {"iRequestedHeight", 12, [](auto& h) { h.iRequestedHeight = 0x0A0B0C0D; }, LeBytes<int32_t>(0x0A0B0C0D)},
        {"iImageWidth", 20, [](auto& h) { h.iImageWidth = 1920; }, LeBytes<int32_t>(1920)},
        {"iImageHeight", 24, [](auto& h) { h.iImageHeight = 1080; }, LeBytes<int32_t>(1080)},
        {"bStretch", 28, [](auto& h) { h.bStretch = 0x5A; }, {0x5A}},
        {"iMaxWidth", 32, [](auto& h) { h.iMaxWidth = 0x11223344; }, LeBytes<int32_t>(0x11223344)},
        {"iMaxHeight", 36, [](auto& h) { h.iMaxHeight = 0x55667788; }, LeBytes<int32_t>(0x55667788)},
        {"bFrameReady[0]", 40, [](auto& h) { h.bFrameReady[0] = 1; }, {1}},
        {"bFrameReady[5]", 45, [](auto& h) { h.bFrameReady[5] = 1; }, {1}},
        {"bFrameRequested[0]", 46, [](auto& h) { h.bFrameRequested[0] = 1; }, {1}},
        {"bFrameRequested[5]", 51, [](auto& h) { h.bFrameRequested[5] = 1; }, {1}},
        {"ui64SharedTextureHandles[0]", 56, [](auto& h) { h.ui64SharedTextureHandles[0] = 0x0102030405060708ull; },
         LeBytes<uint64_t>(0x0102030405060708ull)},
        {"ui64SharedTextureHandles[5]", 96, [](auto& h) { h.ui64SharedTextureHandles[5] = 0x1122334455667788ull; },
         LeBytes<uint64_t>(0x1122334455667788ull)},
        {"bCaptureEnabled", 624, [](auto& h) { h.bCaptureEnabled = 1; }, {1}},
        {"ui32FrameTimestamps[0]", 656, [](auto& h) { h.ui32FrameTimestamps[0] = 0xDEADBEEF; }, LeBytes<uint32_t>(0xDEADBEEF)},
        {"ui32FrameTimestamps[5]", 676, [](auto& h) { h.ui32FrameTimestamps[5] = 0xCAFEF00D; }, LeBytes<uint32_t>(0xCAFEF00D)},
        {"bDontMirrorFrames", 680, [](auto& h) { h.bDontMirrorFrames = 1; }, {1}},
        {"iFrameSource", 684, [](auto& h) { h.iFrameSource = 8; }, LeBytes<int32_t>(8)},
        {"wszCaptureFrameInstanceMutexName[0]", 26688, [](auto& h) { h.wszCaptureFrameInstanceMutexName[0] = u'\u20AC'; },
         {0xAC, 0x20}},
        {"ui32TotalSize", 27208, [](auto& h) { h.ui32TotalSize = 0x12345678; }, LeBytes<uint32_t>(0x12345678)},
        {"ui32FrameImageOffsets[0]", 27212, [](auto& h) { h.ui32FrameImageOffsets[0] = 198656; }, LeBytes<uint32_t>(198656)},
        {"ui32FrameImageOffsets[5]", 27232, [](auto& h) { h.ui32FrameImageOffsets[5] = 0x0BADCAFE; }, LeBytes<uint32_t>(0x0BADCAFE)},
        {"ui32FrameImageStride", 27236, [](auto& h) { h.ui32FrameImageStride = 7680; }, LeBytes<uint32_t>(7680)},
        {"HUDImage.x", 27240, [](auto& h) { h.HUDImage.x = -5; }, LeBytes<int32_t>(-5)},
        {"HUDImage.height", 27252, [](auto& h) { h.HUDImage.height = 77; }, LeBytes<uint32_t>(77)},
        {"WebCamBackgroundImage.fShaderParam", 27304, [](auto& h) { h.WebCamBackgroundImage.fShaderParam = 0.75f; },
         LeBytes<float>(0.75f)},
        {"WebCamImage.ui32Offset", 27328, [](auto& h) { h.WebCamImage.ui32Offset = 0xA1B2C3D4; }, LeBytes<uint32_t>(0xA1B2C3D4)},
        {"WebCamImage.bFlag", 27344, [](auto& h) { h.WebCamImage.bFlag = 1; }, {1}},
        {"RadialMenuImage.ui32InUse", 27372, [](auto& h) { h.RadialMenuImage.ui32InUse = 1; }, LeBytes<uint32_t>(1)},
        {"iHUDPosition", 27384, [](auto& h) { h.iHUDPosition = 0x0708090A; }, LeBytes<int32_t>(0x0708090A)},
        {"iHUDMargin", 27388, [](auto& h) { h.iHUDMargin = 16; }, LeBytes<int32_t>(16)},
        {"bSuppressOverlayCommand", 27393, [](auto& h) { h.bSuppressOverlayCommand = 1; }, {1}},
        {"bOverlayStatus", 27394, [](auto& h) { h.bOverlayStatus = 0x33; }, {0x33}},
        {"ui32OverlayCommand", 27400, [](auto& h) { h.ui32OverlayCommand = 0x01000002; }, LeBytes<uint32_t>(0x01000002)},
        {"ui32OverlayCommandStatus", 27404, [](auto& h) { h.ui32OverlayCommandStatus = 9; }, LeBytes<uint32_t>(9)},
        {"ScaledWebCamRect[3]", 27420, [](auto& h) { h.ScaledWebCamRect[3] = 240; }, LeBytes<int32_t>(240)},
        {"WebCamSourceRect.bottom", 27436, [](auto& h) { h.WebCamSourceRect.bottom = 480; }, LeBytes<int32_t>(480)},
        {"webcamWidth", 27440, [](auto& h) { h.webcamWidth = 1280; }, LeBytes<uint32_t>(1280)},
        {"webcamHeight", 27444, [](auto& h) { h.webcamHeight = 720; }, LeBytes<uint32_t>(720)},
        {"dWebCamLeft", 27448, [](auto& h) { h.dWebCamLeft = 0.125; }, LeBytes<double>(0.125)},
        {"dWebCamHeight", 27472, [](auto& h) { h.dWebCamHeight = 0.3; }, LeBytes<double>(0.3)},
        {"WebCamVisibilityState", 27481, [](auto& h) { h.WebCamVisibilityState = 1; }, {1}},
        {"flag after WebCamVisibilityState", 27482, [](auto& h) { h.bWebCamHiddenFlagA = 1; }, {1}},
        {"second flag after WebCamVisibilityState", 27483, [](auto& h) { h.bWebCamHiddenFlagB = 1; }, {1}},
        {"WebCamDisplayMode", 27484, [](auto& h) { h.WebCamDisplayMode = 0x01020302; }, LeBytes<int32_t>(0x01020302)},
        {"bDrawMouseCursor", 27496, [](auto& h) { h.bDrawMouseCursor = 1; }, {1}},
        {"iSingleFrameState", 27500, [](auto& h) { h.iSingleFrameState = 2; }, LeBytes<int32_t>(2)},
        {"bLayoutValid", 27504, [](auto& h) { h.bLayoutValid = 1; }, {1}},
        {"bCaptureInvalidated", 27505, [](auto& h) { h.bCaptureInvalidated = 1; }, {1}},
        {"WebCamFormats[0] leading value", 28032, [](auto& h) { h.WebCamFormats[0].ui32Leading = 0x99; }, LeBytes<uint32_t>(0x99)},
        {"ui32WebCamFormatCount", 195232, [](auto& h) { h.ui32WebCamFormatCount = 100; }, LeBytes<uint32_t>(100)},
        {"bAutoSelectWebCamFormat", 195236, [](auto& h) { h.bAutoSelectWebCamFormat = 1; }, {1}},
        {"SelectedWebCamFormat first byte", 195237, [](auto& h) { h.SelectedWebCamFormat[0] = 0x42; }, {0x42}},
        {"SelectedWebCamFormat last byte", 196904, [](auto& h) { h.SelectedWebCamFormat[1667] = 0x43; }, {0x43}},
        {"UseChromaKeying", 196928, [](auto& h) { h.UseChromaKeying = 1; }, {1}},
        {"bUseWebCamBackground", 196929, [](auto& h) { h.bUseWebCamBackground = 1; }, {1}},
        {"bUseCustomShaderData", 196930, [](auto& h) { h.bUseCustomShaderData = 1; }, {1}},
        {"ui32CustomShaderDataOffset", 196932, [](auto& h) { h.ui32CustomShaderDataOffset = 0x00400000; }, LeBytes<uint32_t>(0x00400000)},
        {"ui32CustomShaderDataSize", 196936, [](auto& h) { h.ui32CustomShaderDataSize = 4194304; }, LeBytes<uint32_t>(4194304)},
        {"ui32CaptureMethod", 197004, [](auto& h) { h.ui32CaptureMethod = 1; }, LeBytes<uint32_t>(1)},
        {"CaptureRegion.left", 197008, [](auto& h) { h.CaptureRegion.left = -1920; }, LeBytes<int32_t>(-1920)},
        {"CaptureRegion.bottom", 197020, [](auto& h) { h.CaptureRegion.bottom = 1080; }, LeBytes<int32_t>(1080)},
        {"wszMonitorName[0]", 197024, [](auto& h) { h.wszMonitorName[0] = u'\\'; }, {0x5C, 0x00}},
        {"wszMonitorName[259]", 197542, [](auto& h) { h.wszMonitorName[259] = u'Z'; }, {0x5A, 0x00}},
        {"wszCursorEventName[0]", 197546, [](auto& h) { h.wszCursorEventName[0] = u'E'; }, {0x45, 0x00}},
        {"wszCursorMutexName[0]", 198066, [](auto& h) { h.wszCursorMutexName[0] = u'M'; }, {0x4D, 0x00}},
        {"wszCursorMutexName[259]", 198584, [](auto& h) { h.wszCursorMutexName[259] = u'\uABCD'; }, {0xCD, 0xAB}},
        {"ui64CursorHandle", 198592, [](auto& h) { h.ui64CursorHandle = 0x8877665544332211ull; },
         LeBytes<uint64_t>(0x8877665544332211ull)},
        {"iCursorX", 198600, [](auto& h) { h.iCursorX = -3; }, LeBytes<int32_t>(-3)},
        {"iCursorY", 198604, [](auto& h) { h.iCursorY = 1079; }, LeBytes<int32_t>(1079)},
        {"ui32CursorFlags", 198608, [](auto& h) { h.ui32CursorFlags = 0x80000001u; }, LeBytes<uint32_t>(0x80000001u)},
        {"bCursorColorBitmap", 198612, [](auto& h) { h.bCursorColorBitmap = 1; }, {1}},
        {"bCursorMaskBitmap", 198613, [](auto& h) { h.bCursorMaskBitmap = 1; }, {1}},
        {"ui32CursorColorBitmapOffset", 198616, [](auto& h) { h.ui32CursorColorBitmapOffset = 0x01010101; }, LeBytes<uint32_t>(0x01010101)},
        {"ui32CursorMaskBitmapOffset", 198620, [](auto& h) { h.ui32CursorMaskBitmapOffset = 0x02020202; }, LeBytes<uint32_t>(0x02020202)},
        {"iCursorHotspotX", 198624, [](auto& h) { h.iCursorHotspotX = 7; }, LeBytes<int32_t>(7)},
        {"iCursorHotspotY (last field, ends at the header's end)", 198628, [](auto& h) { h.iCursorHotspotY = -7; },
         LeBytes<int32_t>(-7)},
    };
    for (const FieldCase& c : cases) {
        SCOPED_TRACE(c.name);
        HeaderBuffer buffer;
        c.write(buffer.header());
        ASSERT_LE(c.offset + c.expected.size(), buffer.bytes.size());
        const std::vector<uint8_t> actual(buffer.bytes.data() + c.offset,
                                          buffer.bytes.data() + c.offset + c.expected.size());
        EXPECT_EQ(actual, c.expected);
        const size_t expectedNonZero = static_cast<size_t>(
            std::count_if(c.expected.begin(), c.expected.end(), [](uint8_t b) { return b != 0; }));
        EXPECT_EQ(buffer.NonZeroBytes(), expectedNonZero) << "bytes written outside the field";
    }
}

TEST(FrameBufferHeader, WebCamFormatEntriesAre1672BytesApartWithHeightBeforeWidth)
{
    HeaderBuffer buffer;
    for (uint32_t k = 0; k < kWebCamFormatCapacity; ++k) {
        SCOPED_TRACE(testing::Message() << "entry " << k);
        // Every byte of both values is non-zero, so a stray byte would show in the count below.
        const uint32_t expectedHeight = 0x01010101u * (k + 1);
        const uint32_t expectedWidth = 0x01010101u * (k + 101);
        buffer.header().WebCamFormats[k].ui32Height = expectedHeight;
        buffer.header().WebCamFormats[k].ui32Width = expectedWidth;
        const size_t heightAt = 28040 + 1672 * static_cast<size_t>(k);
        uint32_t height = 0;
        uint32_t width = 0;
        std::memcpy(&height, buffer.bytes.data() + heightAt, 4);
        std::memcpy(&width, buffer.bytes.data() + heightAt + 4, 4);
        EXPECT_EQ(height, expectedHeight);
        EXPECT_EQ(width, expectedWidth);
        EXPECT_EQ(buffer.NonZeroBytes(), 8u);
        buffer.header().WebCamFormats[k].ui32Height = 0;
        buffer.header().WebCamFormats[k].ui32Width = 0;
    }
    // The last entry ends where the format count begins.
    EXPECT_EQ(offsetof(TFrameBufferHeader, WebCamFormats) + kWebCamFormatCapacity * 1672,
              offsetof(TFrameBufferHeader, ui32WebCamFormatCount));
}

TEST(FrameBufferHeader, SlotFlagsAreSixSeparateBytes)
{
    for (size_t slot = 0; slot < kFrameSlotCount; ++slot) {
        SCOPED_TRACE(testing::Message() << "slot " << slot);
        HeaderBuffer buffer;
        TFrameBufferHeader& header = buffer.header();
        for (size_t i = 0; i < kFrameSlotCount; ++i) {
            header.bFrameReady[i] = 1;
            header.bFrameRequested[i] = 1;
        }
        header.bFrameRequested[slot] = 0;
        header.bFrameReady[(slot + 1) % kFrameSlotCount] = 0;
        for (size_t i = 0; i < kFrameSlotCount; ++i) {
            EXPECT_EQ(buffer.bytes.data()[46 + i], i == slot ? 0 : 1) << "request byte " << i;
            EXPECT_EQ(buffer.bytes.data()[40 + i], i == (slot + 1) % kFrameSlotCount ? 0 : 1) << "ready byte " << i;
        }
        EXPECT_EQ(buffer.NonZeroBytes(), 10u);
    }
}

TEST(FrameBufferHeader, AllZeroHeaderMeaning)
{
    HeaderBuffer buffer;
    const TFrameBufferHeader& header = buffer.header();
    EXPECT_EQ(header.CaptureRegion.left | header.CaptureRegion.top | header.CaptureRegion.right |
                  header.CaptureRegion.bottom,
              0);
    EXPECT_EQ(header.ui32CaptureMethod, 0u);  // DXGI
    EXPECT_NE(header.iRequestedWidth, -1);    // a 0 x 0 request, not "derive from the screen"
    EXPECT_TRUE(header.IsWebCamCompositingSupported());
    EXPECT_FALSE(header.IsWebCamVisible());
    EXPECT_EQ(header.GetWebCamShaderParam(), 0.0f);
}

TEST(FrameBufferHeader, IsWebCamCompositingSupported)
{
    struct Case {
        int32_t frameSource;
        uint32_t method;
        bool expected;
    };
    std::vector<Case> cases;
    for (int32_t source = -1; source <= 9; ++source) {
        for (uint32_t method : {0u, 1u, 2u}) {
            const bool expected = (source >= 0 && source <= 4) || (source == 8 && method == 0);
            cases.push_back({source, method, expected});
        }
    }
    cases.push_back({INT32_MIN, 0, false});
    cases.push_back({INT32_MAX, 0, false});
    cases.push_back({8, 0xFFFFFFFFu, false});
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "iFrameSource " << c.frameSource << ", method " << c.method);
        HeaderBuffer buffer(0xA5);
        buffer.header().iFrameSource = c.frameSource;
        buffer.header().ui32CaptureMethod = c.method;
        EXPECT_EQ(buffer.header().IsWebCamCompositingSupported(), c.expected);
    }
}

TEST(FrameBufferHeader, IsWebCamVisible)
{
    struct Case {
        const char* name;
        int32_t mode;
        uint8_t captureEnabled;
        uint8_t visibilityState;
        bool expected;
    };
    const Case cases[] = {
        {"placed, enabled, shown", 0, 1, 0, true},
        {"full frame, enabled, shown", 1, 1, 0, true},
        {"mode 2 hides", 2, 1, 0, false},
        {"unknown mode 3 counts as shown", 3, 1, 0, true},
        {"negative mode counts as shown", -1, 1, 0, true},
        {"capture disabled", 0, 0, 0, false},
        {"any non-zero enable byte", 0, 0xFF, 0, true},
        {"hidden", 0, 1, 1, false},
        {"hidden by any non-zero state", 1, 1, 0x80, false},
        {"everything off", 2, 0, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HeaderBuffer buffer(0x5A);
        buffer.header().WebCamDisplayMode = c.mode;
        buffer.header().bCaptureEnabled = c.captureEnabled;
        buffer.header().WebCamVisibilityState = c.visibilityState;
        EXPECT_EQ(buffer.header().IsWebCamVisible(), c.expected);
    }
}

TEST(FrameBufferHeader, GetWebCamShaderParam)
{
    struct Case {
        const char* name;
        int32_t mode;
        uint8_t chromaKeying;
        float imageParam;
        float expected;
    };
    const Case cases[] = {
        {"full frame is opaque", 1, 0, 0.25f, 1.0f},
        {"full frame wins over chroma keying", 1, 1, 0.25f, 1.0f},
        {"chroma keying softens edges", 0, 1, 0.25f, 12.5f},
        {"chroma keying with any non-zero byte", 2, 0x7F, 0.25f, 12.5f},
        {"otherwise the image's parameter", 0, 0, 0.25f, 0.25f},
        {"image parameter above one", 2, 0, 3.5f, 3.5f},
        {"negative image parameter", 0, 0, -2.0f, -2.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HeaderBuffer buffer;
        buffer.header().WebCamDisplayMode = c.mode;
        buffer.header().UseChromaKeying = c.chromaKeying;
        buffer.header().WebCamImage.fShaderParam = c.imageParam;
        buffer.header().WebCamBackgroundImage.fShaderParam = 99.0f;  // must not be used
        EXPECT_EQ(buffer.header().GetWebCamShaderParam(), c.expected);
    }
    HeaderBuffer nanHeader;
    nanHeader.header().WebCamImage.fShaderParam = std::nanf("");
    EXPECT_TRUE(std::isnan(nanHeader.header().GetWebCamShaderParam()));
}

// Writes units straight into the bytes of a wide field.
void PutUnits(HeaderBuffer& buffer, size_t offset, const std::u16string& units)
{
    std::memcpy(buffer.bytes.data() + offset, units.data(), units.size() * sizeof(char16_t));
}

TEST(HeaderWideString, Read)
{
    struct Case {
        const char* name;
        size_t offset;
        std::u16string stored;  // units written at offset (no terminator added)
        std::u16string expected;
    };
    const std::u16string full(260, u'A');
    const std::u16string fullOther(260, u'\u00C9');
    const Case cases[] = {
        {"terminated", ZYR_WIDE_FIELD(wszCaptureFrameInstanceMutexName), std::u16string(u"Mutex\0junk", 10), u"Mutex"},
        {"empty", ZYR_WIDE_FIELD(wszMonitorName), std::u16string(1, u'\0'), u""},
        {"no terminator gives all 260 units", ZYR_WIDE_FIELD(wszMonitorName), full, full},
        {"last field without terminator", ZYR_WIDE_FIELD(wszCursorMutexName), fullOther, fullOther},
        {"surrogate pair kept as two units", ZYR_WIDE_FIELD(wszCursorEventName), std::u16string(u"\U0001F600x\0", 4),
         u"\U0001F600x"},
        {"offset past the last whole field", sizeof(TFrameBufferHeader) - 519, u"", u""},
        {"offset far past the header", 1u << 30, u"", u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HeaderBuffer buffer(0x41);  // neighbours hold non-zero units: a missing bound would show
        if (!c.stored.empty() && c.offset < buffer.bytes.size()) {
            PutUnits(buffer, c.offset, c.stored);
        }
        EXPECT_EQ(ReadHeaderWideString(buffer.header(), c.offset), c.expected);
    }
}

TEST(HeaderWideString, ReadAcceptsTheLastWholeFieldOfTheHeader)
{
    HeaderBuffer buffer(0x42);
    const std::u16string text = ReadHeaderWideString(buffer.header(), sizeof(TFrameBufferHeader) - 520);
    EXPECT_EQ(text, std::u16string(260, u'\u4242'));
}

TEST(HeaderWideString, WriteTruncatesTerminatesAndLeavesNeighboursAlone)
{
    struct Case {
        const char* name;
        size_t offset;
        std::u16string text;
        std::u16string expectedStored;
    };
    const Case cases[] = {
        {"short", ZYR_WIDE_FIELD(wszMonitorName), u"\\\\.\\DISPLAY1", u"\\\\.\\DISPLAY1"},
        {"empty", ZYR_WIDE_FIELD(wszCursorEventName), u"", u""},
        {"259 units fit", ZYR_WIDE_FIELD(wszCursorMutexName), std::u16string(259, u'x'), std::u16string(259, u'x')},
        {"260 units lose one", ZYR_WIDE_FIELD(wszCursorMutexName), std::u16string(260, u'y'), std::u16string(259, u'y')},
        {"1000 units", ZYR_WIDE_FIELD(wszCaptureFrameInstanceMutexName), std::u16string(1000, u'z'),
         std::u16string(259, u'z')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HeaderBuffer buffer(0xA5);
        const std::vector<uint8_t> before = buffer.bytes.ToVector();
        WriteHeaderWideString(buffer.header(), c.offset, c.text);
        const std::vector<uint8_t> after = buffer.bytes.ToVector();
        const size_t fieldEnd = c.offset + 520;
        EXPECT_TRUE(std::equal(before.begin(), before.begin() + static_cast<ptrdiff_t>(c.offset), after.begin()))
            << "bytes before the field changed";
        EXPECT_TRUE(std::equal(before.begin() + static_cast<ptrdiff_t>(fieldEnd), before.end(),
                               after.begin() + static_cast<ptrdiff_t>(fieldEnd)))
            << "bytes after the field changed";
        std::u16string field(260, u'\0');
        std::memcpy(field.data(), after.data() + c.offset, 520);
        std::u16string expectedField = c.expectedStored;
        expectedField.resize(260, u'\0');
        EXPECT_EQ(field, expectedField);
        EXPECT_EQ(ReadHeaderWideString(buffer.header(), c.offset), c.expectedStored);
    }
}

TEST(HeaderWideString, WriteOutsideTheHeaderWritesNothing)
{
    for (size_t offset : {sizeof(TFrameBufferHeader) - 519, sizeof(TFrameBufferHeader), size_t{1} << 40}) {
        SCOPED_TRACE(testing::Message() << "offset " << offset);
        HeaderBuffer buffer(0x3C);
        WriteHeaderWideString(buffer.header(), offset, u"text");
        EXPECT_EQ(buffer.NonZeroBytes(), buffer.bytes.size());
        EXPECT_EQ(std::count(buffer.bytes.data(), buffer.bytes.data() + buffer.bytes.size(), 0x3C),
                  static_cast<ptrdiff_t>(buffer.bytes.size()));
    }
}

TEST(HeaderWideString, ReservedBytesBesideTheCursorNamesSurviveAWrite)
{
    // The two reserved bytes before wszCursorEventName and the six after wszCursorMutexName belong
    // to other processes.
    HeaderBuffer buffer;
    std::memset(buffer.bytes.data() + 197544, 0xEE, 2);
    std::memset(buffer.bytes.data() + 198586, 0xDD, 6);
    WriteHeaderWideString(buffer.header(), ZYR_WIDE_FIELD(wszCursorEventName), std::u16string(400, u'e'));
    WriteHeaderWideString(buffer.header(), ZYR_WIDE_FIELD(wszCursorMutexName), std::u16string(400, u'm'));
    EXPECT_EQ(buffer.bytes.data()[197544], 0xEE);
    EXPECT_EQ(buffer.bytes.data()[197545], 0xEE);
    for (size_t i = 198586; i < 198592; ++i) {
        EXPECT_EQ(buffer.bytes.data()[i], 0xDD) << "byte " << i;
    }
    EXPECT_EQ(ReadHeaderWideString(buffer.header(), ZYR_WIDE_FIELD(wszCursorEventName)), std::u16string(259, u'e'));
    EXPECT_EQ(ReadHeaderWideString(buffer.header(), ZYR_WIDE_FIELD(wszCursorMutexName)), std::u16string(259, u'm'));
}

}  // namespace
