// What the sinks write: PNG files decoded again with stb_image, the raw stream's bytes, and the
// Y4M stream's header, planes and colour values.
#include "FrameSinks.h"
#include "FrameTestSupport.h"

#include <gtest/gtest.h>

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#include <stb_image.h>

#include <string>

namespace {

using namespace refhost_test;

TDeliveredFrame Delivered(const TFramePicture& picture, uint32_t index = 0)
{
    return TDeliveredFrame{index, 0, 0, TFrameTiming{}, picture};
}

TFramePicture Uniform(uint32_t width, uint32_t height, uint32_t bgra)
{
    TFramePicture picture;
    picture.ui32Width = width;
    picture.ui32Height = height;
    picture.vecPixels.assign(size_t{width} * height, bgra);
    return picture;
}

// Decodes a PNG and compares it with the picture's red, green and blue.
::testing::AssertionResult PngShows(const std::vector<uint8_t>& png, const TFramePicture& picture)
{
    int width = 0;
    int height = 0;
    int channels = 0;
    stbi_uc* const pDecoded = stbi_load_from_memory(png.data(), static_cast<int>(png.size()), &width, &height, &channels, 0);
    if (pDecoded == nullptr) {
        return ::testing::AssertionFailure() << "not a PNG stb_image can read (" << png.size() << " bytes)";
    }
    const std::vector<uint8_t> decoded(pDecoded, pDecoded + size_t(width) * size_t(height) * size_t(channels));
    stbi_image_free(pDecoded);
    if (width != int(picture.ui32Width) || height != int(picture.ui32Height) || channels != 3) {
        return ::testing::AssertionFailure() << width << "x" << height << " with " << channels << " channels";
    }
    for (size_t i = 0; i < picture.vecPixels.size(); ++i) {
        const uint32_t bgra = picture.vecPixels[i];
        const uint8_t rgb[3] = {uint8_t(bgra >> 16), uint8_t(bgra >> 8), uint8_t(bgra)};
        if (decoded[3 * i] != rgb[0] || decoded[3 * i + 1] != rgb[1] || decoded[3 * i + 2] != rgb[2]) {
            return ::testing::AssertionFailure() << "pixel " << i << " differs";
        }
    }
    return ::testing::AssertionSuccess();
}

TEST(FrameSinks, BgraBecomesRgbInThatOrder)
{
    TFramePicture picture = Uniform(2, 1, BgraPixel(1, 2, 3, 4));
    picture.vecPixels[1] = BgraPixel(0xB0, 0x60, 0x10, 0xFF);
    EXPECT_EQ(BgraToRgb(picture), (std::vector<uint8_t>{3, 2, 1, 0x10, 0x60, 0xB0}));
}

TEST(FrameSinks, PngRoundTripKeepsEveryPixel)
{
    struct Case {
        const char* name;
        uint32_t width;
        uint32_t height;
    };
    for (const Case& c : {Case{"one pixel", 1, 1}, Case{"odd", 3, 2}, Case{"odd rows", 37, 23}, Case{"even", 64, 48}}) {
        SCOPED_TRACE(c.name);
        const TFramePicture picture = PatternPicture(c.width, c.height, 5);
        const std::vector<uint8_t> png = EncodePng(picture);
        ASSERT_GE(png.size(), 8u);
        EXPECT_EQ(std::vector<uint8_t>(png.begin(), png.begin() + 8),
                  (std::vector<uint8_t>{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}));
        EXPECT_TRUE(PngShows(png, picture));
    }
    TFramePicture inconsistent = Uniform(4, 4, 0);
    inconsistent.vecPixels.pop_back();
    EXPECT_TRUE(EncodePng(inconsistent).empty());
    EXPECT_TRUE(EncodePng(TFramePicture{}).empty());
}

TEST(FrameSinks, PngDirectoryGetsOneFilePerFrameIndex)
{
    TTemporaryDirectory directory;
    TPngDirectorySink sink(directory.Path());
    const TFramePicture first = PatternPicture(16, 9, 0);
    const TFramePicture second = PatternPicture(16, 9, 1);
    std::string error;
    ASSERT_TRUE(sink.Consume(Delivered(first, 0), &error)) << error;
    ASSERT_TRUE(sink.Consume(Delivered(second, 12), &error)) << error;
    EXPECT_EQ(PngFileName(12), "frame_0012.png");
    EXPECT_EQ(PngFileName(12345), "frame_12345.png");
    EXPECT_TRUE(PngShows(ReadWholeFile(directory.File("frame_0000.png")), first));
    EXPECT_TRUE(PngShows(ReadWholeFile(directory.File("frame_0012.png")), second));

    TPngDirectorySink missing(directory.Path() + L"\\no\\such\\directory");
    EXPECT_FALSE(missing.Consume(Delivered(first, 3), &error));
    EXPECT_NE(error.find("frame_0003.png"), std::string::npos) << error;
}

TEST(FrameSinks, RawStreamIsTheCapturersBytesTopDown)
{
    std::vector<uint8_t> stream;
    TRawStreamSink sink([&stream](const uint8_t* pData, size_t size) {
        stream.insert(stream.end(), pData, pData + size);
        return true;
    });
    TFramePicture picture = Uniform(2, 2, BgraPixel(1, 2, 3, 4));
    picture.vecPixels[2] = BgraPixel(0xAA, 0xBB, 0xCC, 0xDD);  // first pixel of the second row
    std::string error;
    ASSERT_TRUE(sink.Consume(Delivered(picture), &error));
    ASSERT_TRUE(sink.Consume(Delivered(Uniform(1, 1, BgraPixel(9, 8, 7, 6))), &error));
    EXPECT_EQ(stream, (std::vector<uint8_t>{1, 2, 3, 4, 1, 2, 3, 4, 0xAA, 0xBB, 0xCC, 0xDD, 1, 2, 3, 4, 9, 8, 7, 6}));

    TRawStreamSink broken([](const uint8_t*, size_t) { return false; });
    EXPECT_FALSE(broken.Consume(Delivered(picture), &error));
    EXPECT_NE(error.find("16 bytes"), std::string::npos) << error;
}

TEST(FrameSinks, Y4mHeaderCarriesSizeAndRate)
{
    struct Case {
        double fps;
        const char* expected;
    };
    const Case cases[] = {
        {0, "YUV4MPEG2 W64 H48 F30:1 Ip A1:1 C420jpeg\n"},
        {60, "YUV4MPEG2 W64 H48 F60:1 Ip A1:1 C420jpeg\n"},
        {29.97, "YUV4MPEG2 W64 H48 F2997:100 Ip A1:1 C420jpeg\n"},
        {59.94, "YUV4MPEG2 W64 H48 F2997:50 Ip A1:1 C420jpeg\n"},
        {0.5, "YUV4MPEG2 W64 H48 F1:2 Ip A1:1 C420jpeg\n"},
        {0.0001, "YUV4MPEG2 W64 H48 F30:1 Ip A1:1 C420jpeg\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fps);
        EXPECT_EQ(Y4mHeader(64, 48, c.fps), c.expected);
    }
}

TEST(FrameSinks, Y4mColoursAreBt601LimitedRange)
{
    struct Case {
        const char* name;
        uint8_t red, green, blue;
        uint8_t y, u, v;
    };
    const Case cases[] = {
        {"white", 255, 255, 255, 235, 128, 128}, {"black", 0, 0, 0, 16, 128, 128},
        {"red", 255, 0, 0, 82, 90, 240},         {"green", 0, 255, 0, 144, 54, 34},
        {"blue", 0, 0, 255, 41, 240, 110},       {"grey", 128, 128, 128, 126, 128, 128},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes;
        AppendY4mFrame(Uniform(2, 2, BgraPixel(c.blue, c.green, c.red, 0)), &bytes);
        EXPECT_EQ(bytes, (std::vector<uint8_t>{'F', 'R', 'A', 'M', 'E', '\n', c.y, c.y, c.y, c.y, c.u, c.v}));
    }
}

TEST(FrameSinks, Y4mChromaAveragesBlocksAndTheOddEdgeAlone)
{
    // 3 x 3: white, except a blue right column and a black bottom-left pixel.
    const uint32_t white = BgraPixel(255, 255, 255, 0);
    const uint32_t blue = BgraPixel(255, 0, 0, 0);
    TFramePicture picture = Uniform(3, 3, white);
    for (uint32_t y = 0; y < 3; ++y) {
        picture.vecPixels[y * 3 + 2] = blue;
    }
    picture.vecPixels[6] = BgraPixel(0, 0, 0, 0);
    std::vector<uint8_t> bytes;
    AppendY4mFrame(picture, &bytes);
    const std::vector<uint8_t> expected = {
        'F', 'R', 'A', 'M', 'E', '\n',
        235, 235, 41, 235, 235, 41, 16, 235, 41,  // luma, row by row
        128, 240, ChromaUOf(128, 128, 128), 240,  // U: white block, blue column, black+white, blue corner
        128, 110, ChromaVOf(128, 128, 128), 110,  // V, the same blocks
    };
    EXPECT_EQ(bytes, expected);
}

TEST(FrameSinks, Y4mStreamWritesTheHeaderOnceAndKeepsTheSize)
{
    std::vector<uint8_t> stream;
    TY4mStreamSink sink(
        [&stream](const uint8_t* pData, size_t size) {
            stream.insert(stream.end(), pData, pData + size);
            return true;
        },
        25);
    std::string error;
    ASSERT_TRUE(sink.Consume(Delivered(Uniform(4, 2, 0)), &error));
    ASSERT_TRUE(sink.Consume(Delivered(Uniform(4, 2, 0)), &error));
    const std::string header = "YUV4MPEG2 W4 H2 F25:1 Ip A1:1 C420jpeg\n";
    const size_t frameBytes = 6 + 8 + 2 + 2;
    ASSERT_EQ(stream.size(), header.size() + 2 * frameBytes);
    EXPECT_EQ(std::string(stream.begin(), stream.begin() + header.size()), header);
    EXPECT_EQ(std::string(stream.begin() + header.size() + frameBytes, stream.begin() + header.size() + frameBytes + 6),
              "FRAME\n");
    EXPECT_FALSE(sink.Consume(Delivered(Uniform(2, 4, 0), 2), &error)) << "a stream cannot change size";
    EXPECT_NE(error.find("frame 2"), std::string::npos) << error;
}

class TCountingSink : public IFrameSink {
public:
    explicit TCountingSink(bool bAccepts) : bAccept(bAccepts) {}
    bool Consume(const TDeliveredFrame&, std::string* pError) override
    {
        ++calls;
        if (!bAccept) {
            *pError = "refused";
        }
        return bAccept;
    }
    bool bAccept;
    int calls = 0;
};

TEST(FrameSinks, SinkListStopsAtTheFirstRefusal)
{
    TSinkList empty;
    std::string error;
    const TFramePicture picture = Uniform(1, 1, 0);
    EXPECT_TRUE(empty.Consume(Delivered(picture), &error));

    TSinkList list;
    auto accepting = std::make_unique<TCountingSink>(true);
    auto refusing = std::make_unique<TCountingSink>(false);
    auto last = std::make_unique<TCountingSink>(true);
    TCountingSink* pAccepting = accepting.get();
    TCountingSink* pLast = last.get();
    list.Add(std::move(accepting));
    list.Add(std::move(refusing));
    list.Add(std::move(last));
    EXPECT_FALSE(list.Consume(Delivered(picture), &error));
    EXPECT_EQ(error, "refused");
    EXPECT_EQ(pAccepting->calls, 1);
    EXPECT_EQ(pLast->calls, 0);
}

}  // namespace
