// The mouse cursor end to end: the capturer exe draws the cursor that the reference host publishes
// (the live cursor's handle and position with a synthetic picture) into frames over the scene,
// whose window class gives the screen a real cursor. Pixels are compared with the pattern and the
// picture; the host counts the cursor events and holds its cursor mutex to show what a cached
// cursor needs.
#include "CursorTestSupport.h"
#include "FramesFixture.h"
#include "TCursorPublisher.h"

#include "ScenePattern.h"

#include <algorithm>
#include <sstream>
#include <thread>

namespace {

using refcursor::TCursorPicture;

// The frame holds the cursor's 1:1 pixels over the scene in the `columns` x `rows` whose top-left
// picture pixel is at (left, top) (a cursor clipped at the left or top shows from its first
// column and row), and the scene everywhere else.
::testing::AssertionResult ShowsCursor(const TFramePicture& picture, TCursorPicture cursor, int32_t left, int32_t top,
                                       int32_t columns, int32_t rows, uint32_t generation)
{
    size_t mismatches = 0;
    std::ostringstream first;
    for (uint32_t y = 0; y < picture.ui32Height; ++y) {
        for (uint32_t x = 0; x < picture.ui32Width; ++x) {
            const uint32_t scenePixel = scene::PatternPixel(scene::Pattern::Coords, x, y, generation);
            const int32_t cx = static_cast<int32_t>(x) - left;
            const int32_t cy = static_cast<int32_t>(y) - top;
            const bool inside = cx >= 0 && cx < columns && cy >= 0 && cy < rows;
            const uint32_t expected = inside ? refcursor::ExpectedPixel(cursor, cx, cy, scenePixel) : scenePixel;
            const uint32_t pixel = picture.vecPixels[size_t{y} * picture.ui32Width + x];
            if (((pixel ^ expected) & refcursor::kRgbMask) != 0 && mismatches++ < 3) {
                first << " (" << x << ", " << y << ") 0x" << std::hex << pixel << " not 0x" << expected << std::dec
                      << (inside ? " in the cursor;" : ";");
            }
        }
    }
    if (mismatches == 0) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << mismatches << " pixels differ:" << first.str();
}

class Cursor : public Frames {
protected:
    // Puts the pointer at `at`, starts the capturer with the cursor asked for, and the host's
    // publisher with `cursor` and `hotspot`; waits until the block is published over the layout.
    void StartWithCursor(TRefHostOptions options, POINT at, TCursorPicture cursor, POINT hotspot = {0, 0})
    {
        ASSERT_NE(0u, cursortest::PointAt(at));
        options.bDrawMouseCursor = true;
        StartFrames(options);
        pPublisher = std::make_unique<TCursorPublisher>(*pHost, TCursorPublisherOptions{cursor, hotspot.x, hotspot.y});
        ASSERT_TRUE(pPublisher->Start());
        ASSERT_TRUE(pPublisher->WaitPublished(1, kWaitMs));
    }
    TCapturerRun StopWithCursor()
    {
        TCapturerRun run = Stop();
        pPublisher.reset();
        return run;
    }
    void TearDown() override { pPublisher.reset(); }

    std::unique_ptr<TCursorPublisher> pPublisher;
};

TEST_F(Cursor, ColourCursorIsExactAtThePointerInBothRowOrdersAndCachedAfterOneEvent)
{
    for (const bool bTopDown : {false, true}) {
        SCOPED_TRACE(bTopDown ? "top-down" : "bottom-up");
        TRefHostOptions options = GdiOptions();
        options.bDontMirrorFrames = bTopDown;
        StartWithCursor(options, POINT{300, 200}, TCursorPicture::Colour);
        // Bottom-up frames show the cursor from its row; top-down frames one row lower.
        const int32_t top = bTopDown ? 201 : 200;
        ASSERT_EQ(Frame(0), TFrameResult::Ok);
        EXPECT_TRUE(ShowsCursor(picture, TCursorPicture::Colour, 300, top, 32, 32, ui32Generation));

        // While the host holds its cursor mutex, the cached cursor is still drawn, without an event.
        TKernelHandle hHeld(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        TKernelHandle hRelease(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        std::thread holder([&] {
            const bool bHeld = ::WaitForSingleObject(pHost->CursorMutex(), kWaitMs) == WAIT_OBJECT_0;
            ::SetEvent(hHeld.Get());
            ::WaitForSingleObject(hRelease.Get(), kWaitMs);
            if (bHeld) {
                ::ReleaseMutex(pHost->CursorMutex());
            }
        });
        ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(hHeld.Get(), kWaitMs));
        for (uint32_t slot = 1; slot < 3; ++slot) {
            ASSERT_EQ(Frame(slot), TFrameResult::Ok);
            EXPECT_TRUE(ShowsCursor(picture, TCursorPicture::Colour, 300, top, 32, 32, ui32Generation)) << slot;
        }
        ::SetEvent(hRelease.Get());
        holder.join();
        EXPECT_EQ(1u, pPublisher->EventsReceived()) << "one event for the first frame, none once cached";
        const TCapturerRun run = StopWithCursor();
        // The server logs at level 0 here: the drawer's life is in plain lines, and the display
        // line is a narrow one.
        EXPECT_EQ(run.Count("TDrawMouseCursor::TDrawMouseCursor exit"), 1u);
        EXPECT_EQ(run.Count("TDrawMouseCursor::~TDrawMouseCursor exit"), 1u);
        const int display = run.Find("TGDIFullscreenCapturer::Initialize will use display '\\\\.\\DISPLAY1'");
        ASSERT_GE(display, 0);
        EXPECT_EQ(run.records[size_t(display)].fields.ui32Type, 0u);
    }
}

TEST_F(Cursor, MonochromeAndClippedCursorsShowTheirPixels)
{
    struct Case {
        const char* name;
        TCursorPicture cursor;
        POINT pointer, hotspot;
        int32_t left, top, columns, rows;
    };
    const Case cases[] = {
        // A monochrome cursor is half its mask's height.
        {"monochrome", TCursorPicture::Monochrome, {500, 300}, {0, 0}, 500, 300, 32, 32},
        // Hot spot (10, 6) at (5, 3): the cursor starts 5 columns left of and 3 rows above the frame.
        {"clipped", TCursorPicture::Colour, {5, 3}, {10, 6}, 0, 0, 27, 29},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartWithCursor(GdiOptions(), c.pointer, c.cursor, c.hotspot);
        ASSERT_EQ(Frame(0), TFrameResult::Ok);
        EXPECT_TRUE(ShowsCursor(picture, c.cursor, c.left, c.top, c.columns, c.rows, ui32Generation));
        StopWithCursor();
    }
}

TEST_F(Cursor, ScaledFramesHaveTheCursorAtItsTruncatedScaledSize)
{
    struct Case {
        int32_t width, height;
        bool bTopDown;
        RECT expected;
    };
    // Pointer (200, 160): at 0.5 a 16 x 16 cursor at (100, 80); at 0.75 a 24 x 24 one at (150, 120),
    // one row lower in top-down frames.
    for (const Case& c : {Case{960, 540, false, {100, 80, 116, 96}}, Case{1440, 810, true, {150, 121, 174, 145}}}) {
        SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height);
        TRefHostOptions options = GdiOptions();
        options.iRequestedWidth = c.width;
        options.iRequestedHeight = c.height;
        options.bDontMirrorFrames = c.bTopDown;
        StartWithCursor(options, POINT{200, 160}, TCursorPicture::Colour);
        ASSERT_EQ(Frame(0), TFrameResult::Ok);
        ASSERT_EQ(static_cast<uint32_t>(c.width), picture.ui32Width);
        // The box of the colour cursor's red (0xE0; the scene's red stays at or below 0xC0 here).
        RECT found{250, 250, 0, 0};
        for (LONG y = 0; y < 250; ++y) {
            for (LONG x = 0; x < 250; ++x) {
                if ((picture.vecPixels[size_t(y) * picture.ui32Width + size_t(x)] >> 16 & 0xFF) >= 0xD8) {
                    found = RECT{std::min(found.left, x), std::min(found.top, y), std::max(found.right, x + 1),
                                 std::max(found.bottom, y + 1)};
                }
            }
        }
        EXPECT_EQ(c.expected.left, found.left);
        EXPECT_EQ(c.expected.top, found.top);
        EXPECT_EQ(c.expected.right, found.right);
        EXPECT_EQ(c.expected.bottom, found.bottom);
        StopWithCursor();
    }
}

// Method 0 through the test variant draws the same cursor into its frames as GDI does.
TEST_F(Cursor, MethodZeroFramesShowTheCursorAsGdiFramesDo)
{
    wsCapturer = TestDupCapturerPath();
    for (const bool bTopDown : {false, true}) {
        SCOPED_TRACE(bTopDown ? "top-down" : "bottom-up");
        TRefHostOptions options = DuplicationOptions();
        options.bDontMirrorFrames = bTopDown;
        StartWithCursor(options, POINT{300, 200}, TCursorPicture::Colour);
        const int32_t top = bTopDown ? 201 : 200;
        for (uint32_t slot = 0; slot < 2; ++slot) {
            ASSERT_EQ(Frame(slot), TFrameResult::Ok);
            EXPECT_TRUE(ShowsCursor(picture, TCursorPicture::Colour, 300, top, 32, 32, ui32Generation)) << slot;
        }
        const TCapturerRun run = StopWithCursor();
        EXPECT_GE(run.Find("TDXGIFullscreenCapturer::CreateDXGIDuplication can use pDXGIDuplication"), 0);
    }
}

// A host that names a shared texture for slots 1 and 4: Wine opens none, so the capturer asks once
// per slot, logs why, and delivers those slots through shared memory without the cursor; the other
// slots are as before. The run ends cleanly with the engine and the duplication released.
TEST_F(Cursor, MethodZeroSlotsWithAnUnopenableHostTextureGetTheirFramesInMemoryWithoutTheCursor)
{
    wsCapturer = TestDupCapturerPath();
    TRefHostOptions options = DuplicationOptions();
    options.bDontMirrorFrames = true;
    options.ui64SharedTextureHandles[1] = kStandInSharedTexture + 1;
    options.ui64SharedTextureHandles[4] = kStandInSharedTexture + 4;
    StartWithCursor(options, POINT{300, 200}, TCursorPicture::Colour);
    for (uint32_t frame = 0; frame < 12; ++frame) {
        const uint32_t slot = frame % 6;
        SCOPED_TRACE("slot " + std::to_string(slot));
        ASSERT_EQ(Frame(slot), TFrameResult::Ok);
        const int32_t columns = slot == 1 || slot == 4 ? 0 : 32;
        EXPECT_TRUE(ShowsCursor(picture, TCursorPicture::Colour, 300, 201, columns, 32, ui32Generation));
    }
    const TCapturerRun run = StopWithCursor();
    EXPECT_EQ(run.iExitCode, 0);
    EXPECT_EQ(run.Count("TDXGIFullscreenCapturer::OpenSharedHandle"), 2u);
    EXPECT_EQ(run.Count("TDXGIDuplication::OpenSharedHandle OpenSharedResource error 80004001"), 2u);
    EXPECT_EQ(run.Count("TDXGIDuplication::~TDXGIDuplication exit"), 1u);
    // The test duplication reports its counters when its last reference goes.
    const std::vector<std::string> texts = run.Texts();
    EXPECT_TRUE(std::any_of(texts.begin(), texts.end(),
                            [](const std::string& text) { return text.rfind("TScreenOutputDuplication ", 0) == 0; }))
        << "the duplication was never released";
}

}  // namespace
