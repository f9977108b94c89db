// Webcam format selection: the three passes, the table's order, skipped selections, the bound of
// the table, and the selection inside a layout.
#include "framebuffer/TFrameBufferHeader.h"

#include "LayoutTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace layouttest;

namespace {

const std::string kName = "TFrameBufferHeader::UpdateWebcamFormat";

struct Format {
    uint32_t width;
    uint32_t height;
};

// Source 1920 x 1080, UI format `ui`, webcam placed at fractions (0, 0, fraction, fraction), the
// given table with entry k's other bytes set to 0x10 + k.
void Prepare(LayoutHeader& header, Format ui, double fraction, const std::vector<Format>& table)
{
    TFrameBufferHeader& h = header.h();
    SetFrame(h, 1920, 1080, 1920, 1080);
    SetWebcam(h, ui.width, ui.height, 0.0, 0.0, fraction, fraction);
    h.ui32WebCamFormatCount = static_cast<uint32_t>(table.size());
    for (uint32_t k = 0; k < table.size(); ++k) {
        SetFormat(h, k, table[k].width, table[k].height, static_cast<uint8_t>(0x10 + k));
    }
}

TEST(WebcamFormat, SelectsByPassAndTableOrder)
{
    struct Case {
        const char* name;
        Format ui;
        double fraction;
        std::vector<Format> table;
        uint32_t chosen;
    };
    const std::vector<Format> ladder = {{640, 480}, {640, 360}, {1280, 720}, {1920, 1080}};
    const Case cases[] = {
        {"pass 1: smallest large enough of the right shape", {1280, 720}, 0.25, ladder, 1},
        {"pass 2: nothing large enough, the last of the right shape", {1280, 720}, 1.2, ladder, 3},
        {"4:3 UI format: the desired height follows it", {640, 480}, 0.25,
         {{640, 360}, {640, 480}, {1280, 720}, {1280, 960}}, 1},
        {"pass 1 takes the earlier of two equal entries", {1280, 720}, 0.25, {{1280, 720}, {1280, 720}}, 0},
        {"pass 2 takes the later of two equal entries", {1280, 720}, 1.2, {{1280, 720}, {1280, 720}}, 1},
        {"pass 3: smallest diff, first met from the last among equals", {1280, 720}, 0.25,
         {{1000, 1000}, {800, 1000}, {1200, 1000}, {1200, 1000}}, 3},
        {"pass 3: smallest diff in the middle", {1280, 720}, 0.25,
         {{1200, 1000}, {1000, 1000}, {1300, 1000}, {900, 1000}}, 2},
        {"zero heights never qualify", {1280, 720}, 0.25, {{1280, 0}, {1000, 1000}}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LayoutHeader header;
        Prepare(header, c.ui, c.fraction, c.table);
        header.h().UpdateWebcamFormat();
        EXPECT_EQ(header.h().webcamWidth, c.table[c.chosen].width);
        EXPECT_EQ(header.h().webcamHeight, c.table[c.chosen].height);
        EXPECT_TRUE(SelectedRecord(header) == FormatRecord(header, c.chosen)) << "record of another entry";
        EXPECT_EQ(header.h().dWebCamWidth, c.fraction) << "the placement stays as the host wrote it";
    }
}

// Selections that find nothing, or must not run: not one byte of the header changes.
TEST(WebcamFormat, ChangesNothingWithoutAUsableTableOrSize)
{
    struct Case {
        const char* name;
        Format ui;
        double fraction;
        std::vector<Format> table;
    };
    const Case cases[] = {
        {"empty table", {1280, 720}, 0.25, {}},
        {"webcamHeight 0", {1280, 0}, 0.25, {{640, 360}}},
        {"webcamWidth 0", {0, 720}, 0.25, {{640, 360}}},
        {"zero desired size", {1280, 720}, 0.0, {{640, 360}}},
        {"desired size beyond 32 bits", {1280, 720}, 1e10, {{640, 360}}},
        {"only zero heights", {1280, 720}, 0.25, {{0, 0}, {1920, 0}}},
        {"no diff below 100", {1280, 720}, 0.25, {{100000, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LayoutHeader header;
        Prepare(header, c.ui, c.fraction, c.table);
        const std::vector<uint8_t> before = header.Snapshot();
        ClearNativeLogLines();
        header.h().UpdateWebcamFormat();
        EXPECT_TRUE(header.Snapshot() == before);
        const auto lines = LoggedLines();
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ(lines.front().second, kName);
        EXPECT_EQ(lines.back().second, kName + " Exit");
    }
}

TEST(WebcamFormat, ReadsOnlyTheEntriesThatExist)
{
    LayoutHeader header;  // exactly the header's size: reading entry 100 would leave the block
    Prepare(header, {1280, 720}, 0.25, {});
    for (uint32_t k = 0; k < kWebCamFormatCapacity; ++k) {
        SetFormat(header.h(), k, 100, 100, 0x40);
    }
    SetFormat(header.h(), 99, 1920, 1080, 0x41);
    for (const uint32_t count : {100u, 101u, 1000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(testing::Message() << "count " << count);
        header.h().ui32WebCamFormatCount = count;
        header.h().webcamWidth = 1280;
        header.h().webcamHeight = 720;
        ClearNativeLogLines();
        header.h().UpdateWebcamFormat();
        EXPECT_EQ(header.h().webcamWidth, 1920u);
        EXPECT_TRUE(SelectedRecord(header) == FormatRecord(header, 99));
        EXPECT_EQ(header.h().ui32WebCamFormatCount, count) << "the count is the host's";
    }
}

TEST(WebcamFormat, LogLinesOfAPass1Selection)
{
    LayoutHeader header;
    Prepare(header, {1280, 720}, 0.25, {{640, 480}, {640, 360}, {1280, 720}, {1920, 1080}});
    ClearNativeLogLines();
    header.h().UpdateWebcamFormat();
    const std::string place = "left: 0.000000, top: 0.000000, width: 0.250000, height: 0.250000";
    const std::vector<std::pair<int, std::string>> expected = {
        {0, kName},
        {1, kName + " webcamWidth: 1280, webcamHeight: 720, " + place},
        {0, kName + " Selecting format for recording video 1920x1080"},
        {0, kName + " Webcam format from UI 1280x720"},
        {0, kName + " Webcam size desired 480x270"},
        {1, kName + " Check formats (higher with aspect ratio)"},
        {1, kName + " Format 640x480, diff 0.444444"},
        {1, kName + " Format 640x360, diff 0.000000"},
        {0, kName + " Selected format 640x360"},
        {1, kName + " webcamWidth: 640, webcamHeight: 360, " + place},
        {0, kName + " Exit"},
    };
    EXPECT_EQ(LoggedLines(), expected);
}

TEST(WebcamFormat, LogLinesOfPasses2And3)
{
    LayoutHeader header;
    Prepare(header, {1280, 720}, 0.25, {{1000, 1000}, {1500, 1000}});
    ClearNativeLogLines();
    header.h().UpdateWebcamFormat();
    const std::vector<std::pair<int, std::string>> expected = {
        {1, kName + " Check formats (higher with aspect ratio)"},
        {1, kName + " Format 1000x1000, diff 0.777778"},
        {1, kName + " Format 1500x1000, diff 0.277778"},
        {1, kName + " Check formats (biggest with aspect ratio)"},
        {1, kName + " Format 1500x1000, diff 0.277778"},
        {1, kName + " Format 1000x1000, diff 0.777778"},
        {1, kName + " Check formats"},
        {1, kName + " Format 1500x1000, diff 0.277778"},
        {1, kName + " Format 1000x1000, diff 0.777778"},
        {0, kName + " Selected format 1500x1000"},
    };
    const auto lines = LoggedLines();
    ASSERT_EQ(lines.size(), 5 + expected.size() + 2);
    using Lines = std::vector<std::pair<int, std::string>>;
    EXPECT_EQ(Lines(lines.begin() + 5, lines.end() - 2), expected);
}

// Inside a layout the selection runs before the webcam is placed, and the placement uses the
// selected format.
TEST(WebcamFormat, LayoutPlacesTheWebcamWithTheSelectedFormat)
{
    LayoutHeader header;
    Prepare(header, {1280, 720}, 0.25, {{640, 480}, {640, 360}, {1280, 720}});
    header.h().bAutoSelectWebCamFormat = 1;
    ClearNativeLogLines();
    ASSERT_EQ(header.h().CalculateImagesOffsets(), TLayoutResult::Ok);
    const TFrameBufferHeader& h = header.h();
    EXPECT_EQ(h.webcamWidth, 640u);
    EXPECT_EQ(h.webcamHeight, 360u);
    EXPECT_EQ(h.WebCamSourceRect.right, 640);
    EXPECT_EQ(h.WebCamSourceRect.bottom, 360);
    EXPECT_EQ(h.WebCamImage.ui32Stride, 2560u);
    EXPECT_TRUE(SelectedRecord(header) == FormatRecord(header, 1));
    std::vector<std::string> texts;
    for (const auto& line : LoggedLines()) {
        texts.push_back(line.second);
    }
    const std::string layout = "TFrameBufferHeader::CalculateImagesOffsets";
    ASSERT_GE(texts.size(), 5u);
    EXPECT_EQ(texts[1], layout + " WebCamVisibilityState enabled: 1");
    EXPECT_EQ(texts[2], kName);
    size_t second = 0;
    while (second < texts.size() && texts[second].rfind(layout + " 2 ", 0) != 0) {
        ++second;
    }
    ASSERT_LT(second, texts.size());
    EXPECT_EQ(texts[second - 1], kName + " Exit");
    EXPECT_EQ(texts[second], layout + " 2 webcamWidth: 640, webcamHeight: 360, left: 0.000000, top: 0.000000, "
                                      "width: 0.250000, height: 0.250000");
}

TEST(WebcamFormat, RefusedLayoutDoesNotApplyTheSelection)
{
    LayoutHeader header;
    Prepare(header, {1280, 720}, 0.25, {{640, 360}});
    header.h().bAutoSelectWebCamFormat = 1;
    header.h().iImageWidth = 2000000000;
    const std::vector<uint8_t> before = header.Snapshot();
    EXPECT_EQ(header.h().CalculateImagesOffsets(), TLayoutResult::Overflow);
    EXPECT_TRUE(header.Snapshot() == before);
    EXPECT_EQ(header.h().webcamWidth, 1280u);
}

}  // namespace
