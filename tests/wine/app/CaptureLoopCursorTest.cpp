// The cursor step of the capture loop: the drawer is made when the host asks for the cursor, draws
// into every published slot that has no shared texture, at the place the capture region and the
// row order give, and never into a slot backed by a shared texture.
#include "CursorTestSupport.h"
#include "LoopHarness.h"
#include "SceneTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

namespace {

using namespace looptest;
using refcursor::TCursorPicture;

// Region (96, 48) - (896, 648): 800 x 600 frames at scale 1, so the pointer at (300, 200) puts the
// cursor's top-left picture pixel at (204, 152).
constexpr THooksRect kRegion{96, 48, 896, 648};
constexpr POINT kPointer{300, 200};
constexpr int32_t kCursorLeft = 204;
constexpr int32_t kCursorTop = 152;

// Every pixel of the slot: the fake capturer's frame, with the colour cursor over it in the square
// whose top-left picture pixel is (kCursorLeft, top) when bCursor is set. Picture rows lie
// bottom-up in memory unless bTopDown.
::testing::AssertionResult SlotShows(const LoopHarness& h, size_t slot, bool bTopDown, bool bCursor, int32_t top)
{
    const TAreaView area = h.View().FrameSlot(slot);
    const uint32_t frame = h.FrameInSlot(slot);
    size_t mismatches = 0;
    std::ostringstream first;
    for (uint32_t row = 0; row < area.ui32Rows; ++row) {
        const int32_t y = bTopDown ? static_cast<int32_t>(row) : static_cast<int32_t>(area.ui32Rows - 1 - row);
        for (uint32_t x = 0; x < area.ui32Width; ++x) {
            uint32_t pixel = 0;
            std::memcpy(&pixel, area.pData + static_cast<size_t>(row) * area.ui32Stride + x * 4u, 4);
            const int32_t cx = static_cast<int32_t>(x) - kCursorLeft;
            const int32_t cy = y - top;
            const bool inside = bCursor && cx >= 0 && cx < refcursor::kCursorSize && cy >= 0 && cy < refcursor::kCursorSize;
            const uint32_t background = PatternPixel(frame, x, row);
            const uint32_t expected = inside ? refcursor::ExpectedPixel(TCursorPicture::Colour, cx, cy, background)
                                             : background;
            const uint32_t mask = inside ? refcursor::kRgbMask : 0xFFFFFFFFu;
            if (((pixel ^ expected) & mask) != 0 && mismatches++ < 3) {
                first << " (" << x << ", " << y << ") 0x" << std::hex << pixel << " not 0x" << expected << std::dec;
            }
        }
    }
    if (mismatches == 0) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "slot " << slot << ": " << mismatches << " pixels differ:" << first.str();
}

class CaptureLoopCursor : public ::testing::Test {
protected:
    static void SetUpTestSuite() { pScene = scenetest::StartSuiteScene(scene::Pattern::Coords); }
    static void TearDownTestSuite() { scenetest::QuitSuiteScene(pScene); }
    void SetUp() override { ASSERT_NE(pScene, nullptr); }

    static std::unique_ptr<scenetest::SceneRun> pScene;
};

std::unique_ptr<scenetest::SceneRun> CaptureLoopCursor::pScene;

TEST_F(CaptureLoopCursor, CursorGoesIntoSlotsWithoutSharedTextureAtTheRegionsPlaceInBothRowOrders)
{
    for (const bool bTopDown : {false, true}) {
        SCOPED_TRACE(bTopDown ? "top-down" : "bottom-up");
        LoopHarness h;
        ASSERT_TRUE(h.Made());
        cursortest::CursorHost cursorHost(reinterpret_cast<uint8_t*>(&h.Header()), kSectionSize);
        const uint64_t handle = cursortest::PointAt(kPointer);
        ASSERT_NE(0u, handle);
        h.Header().bCaptureEnabled = 1;
        h.Header().bDrawMouseCursor = 1;
        h.Header().bDontMirrorFrames = bTopDown ? 1 : 0;
        h.Header().CaptureRegion = kRegion;
        h.Header().ui64SharedTextureHandles[2] = 0x42;  // slot 2 is the host's texture (none opens here)
        ASSERT_NO_FATAL_FAILURE(h.Start());
        ASSERT_TRUE(h.WaitLooping());
        // The layout has placed the cursor areas: the host publishes its cursor.
        cursorHost.Publish(handle, kPointer, POINT{0, 0}, TCursorPicture::Colour);
        ASSERT_TRUE(h.PassWarmUp(0));
        ASSERT_TRUE(h.Serve(1));
        ASSERT_TRUE(h.Serve(2));
        h.Stop();

        const int32_t top = bTopDown ? kCursorTop + 1 : kCursorTop;
        EXPECT_TRUE(SlotShows(h, 0, bTopDown, true, top));
        EXPECT_TRUE(SlotShows(h, 1, bTopDown, true, top));
        EXPECT_TRUE(SlotShows(h, 2, bTopDown, false, top)) << "a slot with a shared texture gets no cursor";
        EXPECT_TRUE(cursorHost.TakeEvent()) << "the first frame asks the host";
        EXPECT_FALSE(cursorHost.TakeEvent()) << "later frames draw from the cache";
        const std::string summary = LoopLine("2 frames with the cursor step, ");
        size_t summaries = 0;
        for (const TLoggedLine& line : h.Lines()) {
            summaries += line.strText.rfind(summary, 0) == 0 ? 1 : 0;
        }
        EXPECT_EQ(1u, summaries);
    }
}

TEST_F(CaptureLoopCursor, NoDrawerUntilTheHostAsksForTheCursor)
{
    LoopHarness h;
    ASSERT_TRUE(h.Made());
    cursortest::CursorHost cursorHost(reinterpret_cast<uint8_t*>(&h.Header()), kSectionSize);
    const uint64_t handle = cursortest::PointAt(kPointer);
    ASSERT_NE(0u, handle);
    h.Header().bCaptureEnabled = 1;
    h.Header().CaptureRegion = kRegion;
    ASSERT_NO_FATAL_FAILURE(h.Start());
    ASSERT_TRUE(h.WaitLooping());
    cursorHost.Publish(handle, kPointer, POINT{0, 0}, TCursorPicture::Colour);
    ASSERT_TRUE(h.PassWarmUp(0));
    EXPECT_TRUE(SlotShows(h, 0, false, false, kCursorTop));
    EXPECT_FALSE(cursorHost.TakeEvent());

    // Asked for once, the cursor stays for the rest of the run. The flag is seen by a pass of its
    // own before the request comes, so it counts for that frame.
    const uint32_t polls = h.env.nPollSleeps.load();
    h.Header().bDrawMouseCursor = 1;
    ASSERT_TRUE(WaitUntil([&] { return h.env.nPollSleeps.load() >= polls + 2; }));
    ASSERT_TRUE(h.Serve(1));
    h.Header().bDrawMouseCursor = 0;
    ASSERT_TRUE(h.Serve(2));
    h.Stop();
    EXPECT_TRUE(SlotShows(h, 1, false, true, kCursorTop));
    EXPECT_TRUE(SlotShows(h, 2, false, true, kCursorTop));
}

}  // namespace
