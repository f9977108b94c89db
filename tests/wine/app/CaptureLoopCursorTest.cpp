// The cursor step of the capture loop: no drawer until the host asks for the cursor; then the
// cursor goes into every published slot without a shared texture, at the place the capture region
// and the row order give.
#include "CursorTestSupport.h"
#include "LoopHarness.h"
#include "SceneTestSupport.h"

#include <gtest/gtest.h>

namespace {

using namespace looptest;
using refcursor::TCursorPicture;

// Region (96, 48) - (896, 648): 800 x 600 frames at scale 1, so the pointer at (300, 200) puts the
// cursor's top-left picture pixel at (204, 152).
constexpr THooksRect kRegion{96, 48, 896, 648};
constexpr POINT kPointer{300, 200};
constexpr int32_t kCursorLeft = 204;
constexpr int32_t kCursorTop = 152;

// The slot holds the fake capturer's frame with `size` x `size` of the colour cursor at
// (kCursorLeft, top) over it.
::testing::AssertionResult SlotShows(const LoopHarness& h, size_t slot, bool bTopDown, int32_t size, int32_t top)
{
    const TAreaView area = h.View().FrameSlot(slot);
    if (!area.IsValid()) {
        return ::testing::AssertionFailure() << "slot " << slot << " is no valid area";
    }
    const cursortest::Image image{area.pData, int32_t(area.ui32Width), int32_t(area.ui32Rows), area.ui32Stride, bTopDown};
    const uint32_t frame = *reinterpret_cast<const uint32_t*>(area.pData) >> 24;
    const auto background = [&](int32_t x, int32_t y) {
        return PatternPixel(frame, x, bTopDown ? y : image.iHeight - 1 - y);
    };
    return cursortest::ShowsCursorAt(image, background, TCursorPicture::Colour, kCursorLeft, top, size, size);
}

class CaptureLoopCursor : public ::testing::Test {
protected:
    static void SetUpTestSuite() { pScene = scenetest::StartSuiteScene(scene::Pattern::Coords); }
    static void TearDownTestSuite() { scenetest::QuitSuiteScene(pScene); }
    void SetUp() override { ASSERT_NE(pScene, nullptr); }

    static std::unique_ptr<scenetest::SceneRun> pScene;
};

std::unique_ptr<scenetest::SceneRun> CaptureLoopCursor::pScene;

TEST_F(CaptureLoopCursor, CursorGoesIntoSlotsWithoutSharedTextureAtTheRegionsPlaceOnceAsked)
{
    for (const bool bTopDown : {false, true}) {
        SCOPED_TRACE(bTopDown ? "top-down" : "bottom-up");
        LoopHarness h;
        cursortest::CursorHost host(reinterpret_cast<uint8_t*>(&h.Header()), kSectionSize);
        const uint64_t handle = cursortest::PointAt(kPointer);
        ASSERT_NE(0u, handle);
        h.Header().bCaptureEnabled = 1;
        h.Header().bDontMirrorFrames = bTopDown ? 1 : 0;
        h.Header().CaptureRegion = kRegion;
        h.Header().ui64SharedTextureHandles[2] = 0x42;  // slot 2 is the host's texture (none opens here)
        ASSERT_TRUE(h.Start());
        // The layout has placed the cursor areas: the host publishes its cursor.
        host.Publish(handle, kPointer, POINT{0, 0}, TCursorPicture::Colour);
        ASSERT_TRUE(h.PassWarmUp(0));
        EXPECT_FALSE(host.TakeEvent()) << "no drawer before the host asks";

        // The flag is seen by a pass of its own before the next request comes.
        const uint32_t polls = h.env.nPollSleeps;
        h.Set<uint8_t>(HDR(bDrawMouseCursor), 1);
        ASSERT_TRUE(WaitUntil([&] { return h.env.nPollSleeps >= polls + 2; }));
        for (const size_t slot : {1u, 2u, 3u}) {
            ASSERT_TRUE(h.Serve(slot));
        }
        h.Stop();
        const int32_t top = bTopDown ? kCursorTop + 1 : kCursorTop;
        EXPECT_TRUE(SlotShows(h, 0, bTopDown, 0, top));
        EXPECT_TRUE(SlotShows(h, 1, bTopDown, refcursor::kCursorSize, top));
        EXPECT_TRUE(SlotShows(h, 2, bTopDown, 0, top)) << "a slot with a shared texture gets no cursor";
        EXPECT_TRUE(SlotShows(h, 3, bTopDown, refcursor::kCursorSize, top));
        EXPECT_TRUE(host.TakeEvent()) << "the first frame with the cursor asks the host";
        EXPECT_FALSE(host.TakeEvent()) << "later frames draw from the cache";
    }
}

}  // namespace
