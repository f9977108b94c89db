// The frame handshake of the capture loop: the warm-up, slots served strictly in order, single
// frames, the first-frame event, time stamps, and the ready flag that follows the whole image.
#include "LoopHarness.h"

#include "app/CapturePlan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace looptest;

uint32_t PixelAt(const TAreaView& area, uint32_t x, uint32_t y)
{
    uint32_t pixel = 0;
    std::memcpy(&pixel, area.pData + static_cast<size_t>(y) * area.ui32Stride + x * 4u, 4);
    return pixel;
}

TEST(CaptureLoopFrames, WarmUpCapturesButPublishesNothingForTwoSeconds)
{
    LoopHarness h;
    ASSERT_TRUE(h.Made());
    // The warm-up runs across the wrap of the 32-bit tick count.
    h.env.SetTick(0xFFFFFF00u);
    h.Header().bCaptureEnabled = 1;
    ASSERT_NO_FATAL_FAILURE(h.Start());
    ASSERT_TRUE(h.WaitLooping());

    h.Request(0);
    ASSERT_TRUE(WaitUntil([&] { return h.probe->Captures() >= 3; }));
    EXPECT_EQ(0, h.Ready(0));
    EXPECT_EQ(1, h.Requested(0));
    EXPECT_EQ(0u, h.Timestamp(0));
    EXPECT_FALSE(h.FirstFrameEventSet());

    h.env.AdvanceClock(capplan::kWarmUpMs - 1);
    const uint32_t seen = h.probe->Captures();
    // Two more captures: at least one whole pass saw the new time.
    ASSERT_TRUE(WaitUntil([&] { return h.probe->Captures() >= seen + 2; }));
    EXPECT_EQ(0, h.Ready(0));
    EXPECT_EQ(1, h.Requested(0));
    EXPECT_FALSE(h.FirstFrameEventSet());

    h.env.AdvanceClock(1);
    ASSERT_TRUE(WaitUntil([&] { return h.Ready(0) != 0; }));
    const uint32_t published = h.probe->Captures();
    EXPECT_EQ(0, h.Requested(0));
    EXPECT_NE(0u, h.Timestamp(0));
    EXPECT_TRUE(h.SlotHoldsFrame(0, published));
    EXPECT_TRUE(h.FirstFrameEventSet());
    // Each capture inside the warm-up was followed by the 100 ms pause.
    EXPECT_GE(h.env.nLongSleeps.load(), published - 1);

    // Slot 1 is next, and served at once: one capture, no second warm-up.
    ASSERT_TRUE(h.Serve(1));
    EXPECT_EQ(published + 1, h.probe->Captures());
    EXPECT_TRUE(h.SlotHoldsFrame(1, published + 1));
    h.Stop();

    const std::vector<TLoggedLine> lines = h.Lines();
    EXPECT_GE(CountLines(lines, 0, LoopLine("skipping frame 2000 ms left")), 1u);
    EXPECT_GE(CountLines(lines, 0, LoopLine("skipping frame 1 ms left")), 1u);
    EXPECT_EQ(0u, CountLines(lines, 0, LoopLine("skipping frame 0 ms left")));
}

TEST(CaptureLoopFrames, SlotsAreServedStrictlyInOrderWithRisingTimestamps)
{
    LoopHarness h;
    ASSERT_TRUE(h.Made());
    h.Header().bCaptureEnabled = 1;
    h.Header().bDontMirrorFrames = 1;
    ASSERT_NO_FATAL_FAILURE(h.Start());
    ASSERT_TRUE(h.WaitLooping());
    ASSERT_TRUE(h.PassWarmUp(0));
    const uint32_t first = h.probe->Captures();

    // Slot 1 is current: a request for slot 3 waits, however long.
    h.Request(3);
    const uint32_t polls = h.env.nPollSleeps.load();
    ASSERT_TRUE(WaitUntil([&] { return h.env.nPollSleeps.load() >= polls + 20; }));
    EXPECT_EQ(0, h.Ready(3));
    EXPECT_EQ(1, h.Requested(3));
    EXPECT_EQ(first, h.probe->Captures());

    ASSERT_TRUE(h.Serve(1));
    EXPECT_EQ(1, h.Requested(3));
    ASSERT_TRUE(h.Serve(2));
    // Slot 3 was asked for long ago: it follows slot 2 without a new request.
    ASSERT_TRUE(WaitUntil([&] { return h.Ready(3) != 0; }));
    h.ClearReady(3);
    EXPECT_TRUE(h.SlotHoldsFrame(1, first + 1));
    EXPECT_TRUE(h.SlotHoldsFrame(2, first + 2));
    EXPECT_TRUE(h.SlotHoldsFrame(3, first + 3));

    // Round again, each stamp within the counter's time around its request and never falling.
    uint32_t lastStamp = h.Timestamp(3);
    uint32_t frame = first + 3;
    for (const size_t slot : {4u, 5u, 0u, 1u, 2u, 3u, 4u}) {
        SCOPED_TRACE("slot " + std::to_string(slot));
        const uint32_t before = CounterMilliseconds();
        ASSERT_TRUE(h.Serve(slot));
        const uint32_t after = CounterMilliseconds();
        ++frame;
        EXPECT_EQ(frame, h.probe->Captures());
        EXPECT_TRUE(h.SlotHoldsFrame(slot, frame));
        const uint32_t stamp = h.Timestamp(slot);
        EXPECT_LE(stamp - before, after - before) << "stamp " << stamp << " outside [" << before << ", " << after
                                                  << "]";
        EXPECT_LT(stamp - lastStamp, 0x80000000u) << "stamp " << stamp << " before " << lastStamp;
        lastStamp = stamp;
    }
    h.Stop();
    for (const FrameCall& call : h.probe->Frames()) {
        EXPECT_TRUE(call.bDontMirrorFrames) << "frame " << call.ui32Frame;
    }
}

TEST(CaptureLoopFrames, SingleFrameWithCaptureDisabledKeepsTheSlot)
{
    LoopHarness h;
    ASSERT_TRUE(h.Made());
    ASSERT_NO_FATAL_FAILURE(h.Start());
    ASSERT_TRUE(h.WaitLooping());

    h.SetSingleFrameState(1);
    ASSERT_TRUE(h.PassWarmUp(0));
    uint32_t frame = h.probe->Captures();
    EXPECT_EQ(0, h.SingleFrameState());
    EXPECT_TRUE(h.SlotHoldsFrame(0, frame));
    EXPECT_FALSE(h.FirstFrameEventSet());

    // Exactly one frame: the loop is idle again afterwards.
    const uint32_t queries = h.probe->CurrentSizeQueries();
    ASSERT_TRUE(WaitUntil([&] { return h.probe->CurrentSizeQueries() >= queries + 3; }));
    EXPECT_EQ(frame, h.probe->Captures());

    // The slot did not move: a single frame into slot 1 waits, one into slot 0 is served.
    h.SetSingleFrameState(1);
    h.Request(1);
    const uint32_t polls = h.env.nPollSleeps.load();
    ASSERT_TRUE(WaitUntil([&] { return h.env.nPollSleeps.load() >= polls + 20; }));
    EXPECT_EQ(0, h.Ready(1));
    EXPECT_EQ(1, h.SingleFrameState());
    EXPECT_EQ(frame, h.probe->Captures());
    ASSERT_TRUE(h.Serve(0));
    ++frame;
    EXPECT_EQ(frame, h.probe->Captures());
    EXPECT_TRUE(h.SlotHoldsFrame(0, frame));
    EXPECT_EQ(0, h.SingleFrameState());
    EXPECT_EQ(0, h.Ready(1));
    EXPECT_EQ(1, h.Requested(1));
    EXPECT_FALSE(h.FirstFrameEventSet());

    // Capture enabled: slot 0 is still current; its frame sets the first-frame event, and the
    // pending request of slot 1 follows.
    h.SetCaptureEnabled(true);
    ASSERT_TRUE(h.Serve(0));
    EXPECT_TRUE(h.FirstFrameEventSet());
    ASSERT_TRUE(WaitUntil([&] { return h.Ready(1) != 0; }));
    EXPECT_TRUE(h.SlotHoldsFrame(0, frame + 1));
    EXPECT_TRUE(h.SlotHoldsFrame(1, frame + 2));
}

TEST(CaptureLoopFrames, ReadyIsSetOnlyAfterTheWholeImage)
{
    LoopHarness h;
    ASSERT_TRUE(h.Made());
    h.Header().bCaptureEnabled = 1;
    ASSERT_NO_FATAL_FAILURE(h.Start());
    ASSERT_TRUE(h.WaitLooping());
    ASSERT_TRUE(h.PassWarmUp(0));

    // The capturer stops half way through slot 1.
    const uint32_t frame = h.probe->Captures() + 1;
    h.probe->ArmGate();
    h.Request(1);
    ASSERT_TRUE(h.probe->WaitGateEntered());
    const TAreaView area = h.View().FrameSlot(1);
    ASSERT_TRUE(area.IsValid());
    EXPECT_EQ(0, h.Requested(1));  // the request is taken before the capture
    EXPECT_EQ(0, h.Ready(1));
    EXPECT_EQ(0u, h.Timestamp(1));
    EXPECT_EQ(PatternPixel(frame, 5, 0), PixelAt(area, 5, 0));
    EXPECT_EQ(0u, PixelAt(area, 5, area.ui32Rows - 1));
    h.probe->ReleaseGate();
    ASSERT_TRUE(WaitUntil([&] { return h.Ready(1) != 0; }));
    EXPECT_TRUE(h.SlotHoldsFrame(1, frame));
    EXPECT_NE(0u, h.Timestamp(1));

    // A single frame: state 2 while it is being made, 0 once published, and the slot stays.
    h.probe->ArmGate();
    h.SetSingleFrameState(1);
    h.Request(2);
    ASSERT_TRUE(h.probe->WaitGateEntered());
    EXPECT_EQ(2, h.SingleFrameState());
    EXPECT_EQ(0, h.Ready(2));
    h.probe->ReleaseGate();
    ASSERT_TRUE(WaitUntil([&] { return h.Ready(2) != 0; }));
    EXPECT_EQ(0, h.SingleFrameState());
    EXPECT_TRUE(h.SlotHoldsFrame(2, frame + 1));
    h.ClearReady(2);
    ASSERT_TRUE(h.Serve(2));
    EXPECT_TRUE(h.SlotHoldsFrame(2, frame + 2));
}

}  // namespace
