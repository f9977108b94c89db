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
