// The cursor drawer against the real platform: the live pointer over the scene, icons made by
// CreateIconIndirect from the DIBs a host publishes, DrawIconEx into the scratch, real pixels of
// frames in both row orders, the host's named mutex and event, and the lines the drawer logs.
#include "CursorTestSupport.h"
#include "ProcessLogServer.h"
#include "SceneTestSupport.h"

#include "cursor/TDrawMouseCursor.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

namespace {

using cursortest::CursorHost;
using cursortest::Frame;
using cursortest::PointAt;
using cursortest::ShowsCursorAt;
using refcursor::TCursorPicture;

constexpr char kDraw[] = "TDrawMouseCursor::DrawCursor ";

size_t CountStartingWith(const std::vector<std::string>& texts, const std::string& prefix)
{
    size_t n = 0;
    for (const std::string& text : texts) {
        n += text.rfind(prefix, 0) == 0 ? 1 : 0;
    }
    return n;
}

size_t CountContaining(const std::vector<std::string>& texts, const std::string& part)
{
    size_t n = 0;
    for (const std::string& text : texts) {
        n += text.rfind(kDraw, 0) == 0 && text.find(part) != std::string::npos ? 1 : 0;
    }
    return n;
}

class DrawMouseCursor : public ::testing::Test {
protected:
    static void SetUpTestSuite() { pScene = scenetest::StartSuiteScene(scene::Pattern::Coords); }
    static void TearDownTestSuite() { scenetest::QuitSuiteScene(pScene); }
    void SetUp() override
    {
        ASSERT_NE(pScene, nullptr);
        mark = LogMark();
    }

    // One frame at 1:1 without offset, as the capture loop draws it.
    static void Draw(TDrawMouseCursor& drawer, Frame& frame, double scale = 1.0)
    {
        drawer.DrawCursor(frame.Data(), frame.Width(), frame.Height(), frame.Stride(), 0, 0, frame.TopDown(), scale,
                          scale);
    }
    std::vector<std::string> Texts() const { return TextsSince(mark); }
    // The pointer at `at`, and the host publishing the live cursor there with `picture`: the
    // drawer's first frame then draws and caches it. Returns the live handle (0 after a failure).
    static uint64_t PublishLive(const CursorHost& host, POINT at, POINT hotspot, TCursorPicture picture)
    {
        const uint64_t handle = PointAt(at);
        if (handle != 0) {
            host.Publish(handle, at, hotspot, picture);
        }
        return handle;
    }

    static std::unique_ptr<scenetest::SceneRun> pScene;
    size_t mark = 0;
};

std::unique_ptr<scenetest::SceneRun> DrawMouseCursor::pScene;

TEST_F(DrawMouseCursor, ColourCursorIsDrawnFromTheHostOnceThenFromTheCacheInBothRowOrders)
{
    CursorHost host;
    const POINT at{100, 80};
    ASSERT_NE(0u, PublishLive(host, at, POINT{0, 0}, TCursorPicture::Colour));
    TDrawMouseCursor drawer(host.View());

    Frame bottomUp(320, 240, false);
    Draw(drawer, bottomUp);
    EXPECT_TRUE(ShowsCursorAt(bottomUp, TCursorPicture::Colour, 100, 80));
    EXPECT_TRUE(host.TakeEvent()) << "a cursor not cached asks the host";
    EXPECT_EQ(1u, drawer.CachedCursors());

    // Top-down rows: the cursor covers image rows y + 1 .. y + 32.
    Frame topDown(320, 240, true);
    Draw(drawer, topDown);
    EXPECT_TRUE(ShowsCursorAt(topDown, TCursorPicture::Colour, 100, 81));
    EXPECT_FALSE(host.TakeEvent()) << "a cached cursor asks nothing";
    EXPECT_EQ(1u, drawer.CachedCursors());

    const std::vector<std::string> texts = Texts();
    EXPECT_EQ(1u, CountStartingWith(texts, std::string(kDraw) + "cursor created"));
    EXPECT_EQ(1u, CountContaining(texts, " inserted in the cache"));
    EXPECT_EQ(1u, CountContaining(texts, " found in cache"));
}

TEST_F(DrawMouseCursor, CacheHitReadsNoBlockTakesNoLockAndFollowsTheLivePointer)
{
    CursorHost host;
    const uint64_t handle = PublishLive(host, POINT{40, 30}, POINT{2, 3}, TCursorPicture::Colour);
    ASSERT_NE(0u, handle);
    TDrawMouseCursor drawer(host.View());
    Frame frame(320, 240, false);
    Draw(drawer, frame);
    ASSERT_TRUE(ShowsCursorAt(frame, TCursorPicture::Colour, 38, 27));
    ASSERT_TRUE(host.TakeEvent());

    // The host now holds its mutex and the block says something else: a hit needs neither.
    host.Publish(handle, POINT{0, 0}, POINT{0, 0}, TCursorPicture::Monochrome);
    ASSERT_NE(0u, PointAt(POINT{200, 150}));
    host.HoldMutex();
    frame.FillBackground();
    Draw(drawer, frame);
    host.ReleaseMutex();
    EXPECT_TRUE(ShowsCursorAt(frame, TCursorPicture::Colour, 198, 147)) << "cached picture, live position, cached hot spot";
    EXPECT_FALSE(host.TakeEvent());
    EXPECT_EQ(0u, CountStartingWith(Texts(), "TZYRMutex::Unlock ReleaseMutex error"));
}

TEST_F(DrawMouseCursor, HostHoldingTheMutexCostsThatFrameItsCursorAndNothingElse)
{
    CursorHost host;
    ASSERT_NE(0u, PublishLive(host, POINT{60, 50}, POINT{0, 0}, TCursorPicture::Colour));
    TDrawMouseCursor drawer(host.View());
    Frame frame(320, 240, false);

    host.HoldMutex();
    Draw(drawer, frame);
    host.ReleaseMutex();
    EXPECT_TRUE(ShowsCursorAt(frame, TCursorPicture::Colour, 0, 0, 0)) << "the frame keeps its own pixels";
    EXPECT_TRUE(host.TakeEvent());
    EXPECT_EQ(0u, drawer.CachedCursors());
    std::vector<std::string> texts = Texts();
    EXPECT_EQ(1u, CountStartingWith(texts, std::string(kDraw) + "CreateIconIndirect error "));
    EXPECT_EQ(1u, CountStartingWith(texts, "TZYRMutex::Unlock ReleaseMutex error "))
        << "the lock that timed out is still released, and fails once";

    Draw(drawer, frame);
    EXPECT_TRUE(ShowsCursorAt(frame, TCursorPicture::Colour, 60, 50)) << "the next frame tries again";
    EXPECT_TRUE(host.TakeEvent());
    EXPECT_EQ(1u, drawer.CachedCursors());
}

TEST_F(DrawMouseCursor, NothingPublishedBuildsNothing)
{
    CursorHost host;
    ASSERT_NE(0u, PointAt(POINT{60, 50}));
    host.Publish(0, POINT{60, 50}, POINT{0, 0}, TCursorPicture::None);
    TDrawMouseCursor drawer(host.View());
    Frame frame(320, 240, true);
    Draw(drawer, frame);
    Draw(drawer, frame);
    EXPECT_TRUE(ShowsCursorAt(frame, TCursorPicture::Colour, 0, 0, 0));
    EXPECT_EQ(0u, drawer.CachedCursors());
    EXPECT_TRUE(host.TakeEvent());
    EXPECT_EQ(2u, CountStartingWith(Texts(), std::string(kDraw) + "CreateIconIndirect error "));
}

TEST_F(DrawMouseCursor, MonochromeCursorIsHalfItsMaskHigh)
{
    CursorHost host;
    ASSERT_NE(0u, PublishLive(host, POINT{150, 100}, POINT{0, 0}, TCursorPicture::Monochrome));
    TDrawMouseCursor drawer(host.View());
    for (const bool topDown : {false, true}) {
        SCOPED_TRACE(topDown ? "top-down" : "bottom-up");
        Frame frame(320, 240, topDown);
        Draw(drawer, frame);
        EXPECT_TRUE(ShowsCursorAt(frame, TCursorPicture::Monochrome, 150, topDown ? 101 : 100));
    }
}

TEST_F(DrawMouseCursor, ScaledCursorsHaveTruncatedSizesAtScaledPlaces)
{
    CursorHost host;
    ASSERT_NE(0u, PublishLive(host, POINT{100, 80}, POINT{0, 0}, TCursorPicture::Colour));
    TDrawMouseCursor drawer(host.View());
    struct Case {
        double scale;
        bool topDown;
        RECT expected;
    };
    const Case cases[] = {
        {0.5, false, {50, 40, 66, 56}},
        {0.75, false, {75, 60, 99, 84}},
        {0.5, true, {50, 41, 66, 57}},
        {1.0, false, {100, 80, 132, 112}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.scale << (c.topDown ? " top-down" : " bottom-up"));
        Frame frame(320, 240, c.topDown);
        Draw(drawer, frame, c.scale);
        const RECT changed = cursortest::ChangedArea(frame);
        EXPECT_EQ(c.expected.left, changed.left);
        EXPECT_EQ(c.expected.top, changed.top);
        EXPECT_EQ(c.expected.right, changed.right);
        EXPECT_EQ(c.expected.bottom, changed.bottom);
    }
}

TEST_F(DrawMouseCursor, CursorPartlyLeftOfOrAboveTheFrameShowsItsFirstColumnsAndRowsAtTheEdge)
{
    CursorHost host;
    // Hot spot (10, 0): the cursor starts 5 columns left of the frame.
    ASSERT_NE(0u, PublishLive(host, POINT{5, 40}, POINT{10, 0}, TCursorPicture::Colour));
    TDrawMouseCursor drawer(host.View());
    Frame frame(320, 240, false);
    Draw(drawer, frame);
    EXPECT_TRUE(ShowsCursorAt(frame, TCursorPicture::Colour, 0, 40, 27));

    // Above the top edge by 4 rows: the cursor's rows 0 .. 27 on frame rows 0 .. 27.
    ASSERT_NE(0u, PointAt(POINT{90, 0}));
    frame.FillBackground();
    drawer.DrawCursor(frame.Data(), frame.Width(), frame.Height(), frame.Stride(), 0, -4, false, 1.0, 1.0);
    for (int32_t y = 0; y < 28; ++y) {
        for (int32_t x = 0; x < 32; ++x) {
            ASSERT_EQ(refcursor::ExpectedPixel(TCursorPicture::Colour, x, y, cursortest::Background(80 + x, y)) &
                          refcursor::kRgbMask,
                      frame.At(80 + x, y) & refcursor::kRgbMask)
                << x << "," << y;
        }
    }
    EXPECT_EQ(cursortest::Background(80, 28) & refcursor::kRgbMask, frame.At(80, 28) & refcursor::kRgbMask);
}

TEST_F(DrawMouseCursor, UntrustedBlocksAreRefusedWithAnErrorLine)
{
    CursorHost host;
    ASSERT_NE(0u, PublishLive(host, POINT{60, 50}, POINT{0, 0}, TCursorPicture::Colour));
    // The colour area lies past the end of the frame buffer; the mask DIB claims 4096 x 4096
    // pixels (2 MiB at 1 bit), more than its 512 KiB area holds.
    host.Header().ui32CursorColorBitmapOffset = 0xFFFFFF00u;
    const uint32_t bigSide = 4096;
    std::memcpy(host.Bytes() + host.Header().ui32CursorMaskBitmapOffset + 4, &bigSide, 4);
    std::memcpy(host.Bytes() + host.Header().ui32CursorMaskBitmapOffset + 8, &bigSide, 4);
    TDrawMouseCursor drawer(host.View());
    Frame frame(320, 240, false);
    Draw(drawer, frame);
    EXPECT_TRUE(ShowsCursorAt(frame, TCursorPicture::Colour, 0, 0, 0));
    EXPECT_EQ(0u, drawer.CachedCursors());
    const std::vector<std::string> texts = Texts();
    EXPECT_EQ(1u, CountStartingWith(texts, std::string(kDraw) + "the cursor colour bitmap area lies outside"));
    EXPECT_EQ(1u, CountStartingWith(texts, "TZYRWindowsBitmap::CreateBitmapFromMemory the bitmap (4096x4096"));
}

TEST_F(DrawMouseCursor, MissingCursorObjectsAreReportedOnEveryFrame)
{
    CursorHost host;
    WriteHeaderWideString(host.Header(), ZYR_WIDE_FIELD(wszCursorEventName), u"ZYRCursorTestNoSuchEvent");
    ASSERT_NE(0u, PointAt(POINT{60, 50}));
    TDrawMouseCursor drawer(host.View());
    Frame frame(320, 240, false);
    Draw(drawer, frame);
    Draw(drawer, frame);
    EXPECT_TRUE(ShowsCursorAt(frame, TCursorPicture::Colour, 0, 0, 0));
    const std::vector<std::string> texts = Texts();
    EXPECT_EQ(2u, CountStartingWith(texts, "TDrawMouseCursor::CheckMouseCursorSyncObjects mutex and event error"));
    EXPECT_EQ(1u, CountStartingWith(texts, "TZYREvent::TZYREvent OpenEvent error 2")) << "opened once only";
}

TEST_F(DrawMouseCursor, PublishedCursorOtherThanTheLiveOneIsDrawnWhereItWasPublished)
{
    CursorHost host;
    const uint64_t live = PointAt(POINT{60, 50});
    ASSERT_NE(0u, live);
    host.Publish(live + 0x10000, POINT{200, 100}, POINT{0, 0}, TCursorPicture::Colour);
    TDrawMouseCursor drawer(host.View());
    Frame frame(320, 240, false);
    Draw(drawer, frame);
    EXPECT_TRUE(ShowsCursorAt(frame, TCursorPicture::Colour, 200, 100));
    EXPECT_TRUE(host.TakeEvent());
    frame.FillBackground();
    Draw(drawer, frame);
    EXPECT_TRUE(host.TakeEvent()) << "the live handle is still not cached";
    EXPECT_EQ(1u, drawer.CachedCursors()) << "the published handle is not inserted twice";
}

}  // namespace
