// The frame client and the frame pump against the fake capturer, in the section a TRefHost made:
// slot order, row order, the pipelined pump, single frames, a refused size, and layouts that reach
// outside the section.
#include "FrameTestSupport.h"
#include "RefHostTestSupport.h"
#include "TFrameClient.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

using namespace refhost_test;

std::unique_ptr<TRefHost> MakeHost(const TRefHostOptions& options = TRefHostOptions{})
{
    auto host = std::make_unique<TRefHost>();
    std::wstring error;
    EXPECT_TRUE(host->CreateObjects(options, &error)) << Narrow(error);
    return host;
}

TPumpOptions Pump(TPumpMode mode, uint32_t ui32Frames, uint32_t ui32TimeoutMs = kFrameWaitMs)
{
    TPumpOptions options;
    options.mode = mode;
    options.ui32Frames = ui32Frames;
    options.ui32TimeoutMs = ui32TimeoutMs;
    return options;
}

// Frame i of a run whose first frame was the fake's frame `first`, in slot `firstSlot`: index,
// pattern, time stamp and slot.
void ExpectFramesInOrder(const std::vector<TCollectedFrame>& frames, uint32_t width, uint32_t height, uint32_t first = 0,
                         uint32_t firstSlot = 0)
{
    for (uint32_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        EXPECT_EQ(frames[i].ui32Index, i);
        EXPECT_EQ(frames[i].ui32Slot, (firstSlot + i) % kFrameSlotCount);
        EXPECT_EQ(frames[i].ui32Timestamp, TFakeCapturer::TimestampOf(first + i));
        EXPECT_TRUE(SamePicture(frames[i].picture, PatternPicture(width, height, first + i)));
    }
}

std::vector<uint32_t> SlotSequence(uint32_t first, uint32_t count)
{
    std::vector<uint32_t> slots;
    for (uint32_t i = 0; i < count; ++i) {
        slots.push_back((first + i) % kFrameSlotCount);
    }
    return slots;
}

TEST(FrameClient, SequentialFramesComeInSlotOrderWithPixelsAndTimestamps)
{
    auto host = MakeHost();
    TFakeCapturer fake(TFakeCapturerOptions{});
    fake.Start();
    TFrameClient client(*host);
    ASSERT_TRUE(client.IsUsable());
    TCollectingSink sink;
    const TPumpResult result = RunFramePump(client, Pump(TPumpMode::Sequential, 14), sink);
    fake.Stop();
    ASSERT_EQ(result.result, TFrameResult::Ok) << FrameResultName(result.result) << " " << fake.Error();
    ASSERT_EQ(sink.vecFrames.size(), 14u);
    EXPECT_EQ(result.Delivered(), 14u);
    ExpectFramesInOrder(sink.vecFrames, 64, 48);
    EXPECT_EQ(fake.SlotsServed(), SlotSequence(0, 14));
    EXPECT_EQ(fake.ReadyFlagsNotCleared(), 0u) << "the host cleared each ready flag before requesting";
    EXPECT_EQ(fake.MostRequestsSeen(), 1u) << "one request at a time";
    EXPECT_EQ(client.CurrentSlot(), 14u % kFrameSlotCount);
    EXPECT_EQ(client.Width(), 64u);
    EXPECT_EQ(client.Height(), 48u);
}

TEST(FrameClient, BothRowOrdersGiveTheSameTopDownPicture)
{
    struct Case {
        const char* name;
        bool bDontMirrorFrames;
    };
    // An odd size: rows are 148 bytes of 192-byte strides.
    constexpr uint32_t kWidth = 37;
    constexpr uint32_t kHeight = 23;
    std::vector<std::vector<TCollectedFrame>> runs;
    for (const Case& c : {Case{"bottom-up", false}, Case{"top-down", true}}) {
        SCOPED_TRACE(c.name);
        TRefHostOptions options;
        options.bDontMirrorFrames = c.bDontMirrorFrames;
        auto host = MakeHost(options);
        TFakeCapturerOptions fakeOptions;
        fakeOptions.iImageWidth = kWidth;
        fakeOptions.iImageHeight = kHeight;
        TFakeCapturer fake(fakeOptions);
        fake.Start();
        TFrameClient client(*host);
        TCollectingSink sink;
        const TPumpResult result = RunFramePump(client, Pump(TPumpMode::Sequential, 2), sink);
        fake.Stop();
        ASSERT_EQ(result.result, TFrameResult::Ok) << FrameResultName(result.result) << " " << fake.Error();
        ExpectFramesInOrder(sink.vecFrames, kWidth, kHeight);
        // The slot really holds the rows in the asked order: its first row in memory is the
        // picture's top row top-down, its bottom row bottom-up.
        const TFrameBufferView view(host->SectionBytes(), host->SectionSize());
        const TAreaView area = view.FrameSlot(0);
        ASSERT_TRUE(area.Holds(kWidth, kHeight));
        uint32_t firstPixel = 0;
        std::memcpy(&firstPixel, area.pData, 4);
        EXPECT_EQ(firstPixel, TFakeCapturer::PatternPixel(0, c.bDontMirrorFrames ? 0 : kHeight - 1, 0));
        runs.push_back(sink.vecFrames);
    }
    ASSERT_EQ(runs.size(), 2u);
    for (size_t i = 0; i < runs[0].size() && i < runs[1].size(); ++i) {
        EXPECT_TRUE(SamePicture(runs[0][i].picture, runs[1][i].picture)) << "frame " << i;
    }
}

TEST(FrameClient, PipelinedPumpKeepsAllSixRequestedAndReadsEveryFrameOnceInOrder)
{
    auto host = MakeHost();
    TFakeCapturerOptions fakeOptions;
    fakeOptions.bWaitForAllSixRequests = true;
    TFakeCapturer fake(fakeOptions);
    fake.Start();
    TFrameClient client(*host);
    TCollectingSink sink;
    const TPumpResult result = RunFramePump(client, Pump(TPumpMode::Pipelined, 20), sink);
    fake.Stop();
    ASSERT_EQ(result.result, TFrameResult::Ok) << FrameResultName(result.result) << " " << fake.Error();
    ASSERT_EQ(sink.vecFrames.size(), 20u);
    ExpectFramesInOrder(sink.vecFrames, 64, 48);
    EXPECT_EQ(fake.MostRequestsSeen(), 6u);
    EXPECT_EQ(fake.FramesPublished(), 20u) << "nothing requested beyond the 20 frames";
    EXPECT_EQ(fake.SlotsServed(), SlotSequence(0, 20));
    EXPECT_EQ(fake.ReadyFlagsNotCleared(), 0u);
    for (size_t i = 1; i < result.vecTimings.size(); ++i) {
        EXPECT_LE(result.vecTimings[i].dLatencyMs, result.vecTimings[i].dReadyMs - result.vecTimings[i - 1].dReadyMs + 1e-9)
            << "frame " << i << ": the wait behind earlier frames is not counted";
    }
}

TEST(FrameClient, SingleFramesWithCaptureDisabledStayInTheCurrentSlot)
{
    TRefHostOptions options;
    options.bCaptureEnabled = false;
    auto host = MakeHost(options);
    TFakeCapturer fake(TFakeCapturerOptions{});
    fake.Start();
    ASSERT_TRUE(fake.WaitLaidOut(kFrameWaitMs)) << fake.Error();
    TFrameClient client(*host);
    for (uint32_t frame = 0; frame < 2; ++frame) {
        SCOPED_TRACE("single frame " + std::to_string(frame));
        uint32_t slot = 99;
        ASSERT_EQ(client.RequestSingleFrame(&slot), TFrameResult::Ok);
        EXPECT_EQ(slot, 0u);
        uint32_t other = 0;
        EXPECT_EQ(client.RequestSingleFrame(&other), TFrameResult::Busy) << "one single frame at a time";
        ASSERT_EQ(client.WaitReady(slot, kFrameWaitMs, nullptr), TFrameResult::Ok) << fake.Error();
        EXPECT_EQ(host->Header()->iSingleFrameState, 0);
        TFramePicture picture;
        uint32_t ui32Timestamp = 0;
        ASSERT_EQ(client.Read(slot, &picture, &ui32Timestamp), TFrameResult::Ok);
        EXPECT_TRUE(SamePicture(picture, PatternPicture(64, 48, frame)));
        EXPECT_EQ(ui32Timestamp, TFakeCapturer::TimestampOf(frame));
        EXPECT_EQ(client.CurrentSlot(), 0u);
    }
    // The pump's single-frame mode: three more, all into slot 0.
    TCollectingSink sink;
    const TPumpResult result = RunFramePump(client, Pump(TPumpMode::SingleFrame, 3), sink);
    ASSERT_EQ(result.result, TFrameResult::Ok) << FrameResultName(result.result);
    ASSERT_EQ(sink.vecFrames.size(), 3u);
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(sink.vecFrames[i].ui32Slot, 0u);
        EXPECT_TRUE(SamePicture(sink.vecFrames[i].picture, PatternPicture(64, 48, 2 + i)));
    }
    // Capture enabled: continuous frames go on from the slot that did not move.
    host->Header()->bCaptureEnabled = 1;
    TCollectingSink continuous;
    ASSERT_EQ(RunFramePump(client, Pump(TPumpMode::Sequential, 2), continuous).result, TFrameResult::Ok);
    fake.Stop();
    ASSERT_EQ(continuous.vecFrames.size(), 2u);
    ExpectFramesInOrder(continuous.vecFrames, 64, 48, 5, 0);
    EXPECT_EQ(fake.SlotsServed(), (std::vector<uint32_t>{0, 0, 0, 0, 0, 0, 1}));
}

TEST(FrameClient, ContinuousRequestsAreNotServedWhileCaptureIsDisabled)
{
    TRefHostOptions options;
    options.bCaptureEnabled = false;
    auto host = MakeHost(options);
    TFakeCapturer fake(TFakeCapturerOptions{});
    fake.Start();
    ASSERT_TRUE(fake.WaitLaidOut(kFrameWaitMs)) << fake.Error();
    TFrameClient client(*host);
    ASSERT_TRUE(client.Request(0));
    EXPECT_EQ(client.WaitReady(0, 300, nullptr), TFrameResult::TimedOut);
    fake.Stop();
    EXPECT_EQ(fake.FramesPublished(), 0u);
    EXPECT_EQ(host->Header()->bFrameRequested[0], 1) << "the request is still pending";
}

TEST(FrameClient, RefusedSizeEndsTheWaitWithoutReading)
{
    struct Case {
        const char* name;
        bool bRequestBeforeRefusal;  // the refusal clears the request
        bool bServeAfterRefusal;     // slots published without pixels
        uint32_t ui32TimeoutMs;
    };
    const Case cases[] = {
        {"request cleared by the refusal", true, false, kFrameWaitMs},
        {"frames of size 0 x 0 published", false, true, kFrameWaitMs},
        {"nothing published after the refusal", false, false, 500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto host = MakeHost();
        TFakeCapturerOptions fakeOptions;
        fakeOptions.bRefuseSize = true;
        fakeOptions.bServeAfterRefusal = c.bServeAfterRefusal;
        TFakeCapturer fake(fakeOptions);
        TFrameClient client(*host);
        if (c.bRequestBeforeRefusal) {
            ASSERT_TRUE(client.Request(0));
        }
        fake.Start();
        ASSERT_TRUE(fake.WaitLaidOut(kFrameWaitMs)) << fake.Error();
        const ULONGLONG ullStart = ::GetTickCount64();
        TCollectingSink sink;
        // The pump would request slot 0 again: the request the refusal cleared is waited for as it is.
        const TFrameResult result = c.bRequestBeforeRefusal
                                        ? client.WaitReady(0, c.ui32TimeoutMs, nullptr)
                                        : RunFramePump(client, Pump(TPumpMode::Sequential, 3, c.ui32TimeoutMs), sink).result;
        EXPECT_EQ(result, TFrameResult::SizeRefused) << FrameResultName(result);
        EXPECT_LT(::GetTickCount64() - ullStart, ULONGLONG{kFrameWaitMs} / 2) << "not a time-out of the whole wait";
        EXPECT_TRUE(sink.vecFrames.empty());
        EXPECT_EQ(client.Width(), 0u);
    }
}

struct LayoutCase {
    const char* name;
    void (*corrupt)(TFrameBufferHeader&, uint64_t ui64SectionSize);
};

const LayoutCase kLayoutCases[] = {
    {"slot offset past the end",
     [](TFrameBufferHeader& h, uint64_t size) { h.ui32FrameImageOffsets[3] = static_cast<uint32_t>(size - 64); }},
    {"slot offset at 4 GiB - 1", [](TFrameBufferHeader& h, uint64_t) { h.ui32FrameImageOffsets[5] = 0xFFFFFFFFu; }},
    {"slot offset inside the header", [](TFrameBufferHeader& h, uint64_t) { h.ui32FrameImageOffsets[0] = 1024; }},
    {"stride shorter than a row", [](TFrameBufferHeader& h, uint64_t) { h.ui32FrameImageStride = 64 * 4 - 4; }},
    {"rows one byte past the end",
     [](TFrameBufferHeader& h, uint64_t size) {
         h.ui32FrameImageOffsets[2] = static_cast<uint32_t>(size - uint64_t{h.ui32FrameImageStride} * 48 + 1);
     }},
    {"negative height", [](TFrameBufferHeader& h, uint64_t) { h.iImageHeight = -48; }},
    {"huge width", [](TFrameBufferHeader& h, uint64_t) { h.iImageWidth = 0x7FFFFFFF; }},
    {"huge stride", [](TFrameBufferHeader& h, uint64_t) { h.ui32FrameImageStride = 0x80000000u; }},
};

TEST(FrameClient, LayoutsReachingOutsideTheSectionAreRefused)
{
    for (const LayoutCase& c : kLayoutCases) {
        SCOPED_TRACE(c.name);
        auto host = MakeHost();
        TFakeCapturerOptions fakeOptions;
        fakeOptions.corruptLayout = c.corrupt;
        TFakeCapturer fake(fakeOptions);
        fake.Start();
        TFrameClient client(*host);
        TCollectingSink sink;
        const TPumpResult result = RunFramePump(client, Pump(TPumpMode::Sequential, 2), sink);
        fake.Stop();
        EXPECT_EQ(result.result, TFrameResult::BadLayout) << FrameResultName(result.result) << " " << fake.Error();
        EXPECT_TRUE(sink.vecFrames.empty());
    }
}

TEST(FrameClient, ALayoutChangedAfterTheFirstFrameIsRefused)
{
    auto host = MakeHost();
    TFakeCapturerOptions fakeOptions;
    // Slot 1, which frame 1 goes into, moves past the end of the section.
    fakeOptions.corruptLayout = [](TFrameBufferHeader& h, uint64_t size) {
        h.ui32FrameImageOffsets[1] = static_cast<uint32_t>(size - 64);
    };
    fakeOptions.ui32CorruptBeforeFrame = 1;
    TFakeCapturer fake(fakeOptions);
    fake.Start();
    TFrameClient client(*host);
    TCollectingSink sink;
    const TPumpResult result = RunFramePump(client, Pump(TPumpMode::Sequential, 6), sink);
    fake.Stop();
    EXPECT_EQ(result.result, TFrameResult::BadLayout) << FrameResultName(result.result);
    ASSERT_EQ(sink.vecFrames.size(), 1u);
    EXPECT_TRUE(SamePicture(sink.vecFrames[0].picture, PatternPicture(64, 48, 0)));
}

TEST(FrameClient, ViewsWithoutAUsableHeaderAreRefused)
{
    std::vector<uint64_t> block(kFrameBufferHeaderSize / 8 + 2, 0);
    uint8_t* const pAligned = reinterpret_cast<uint8_t*>(block.data());
    struct Case {
        const char* name;
        uint8_t* pView;
        uint64_t ui64Size;
        bool bUsable;
    };
    const Case cases[] = {
        {"no view", nullptr, 0, false},
        {"smaller than the header", pAligned, kFrameBufferHeaderSize - 1, false},
        {"misaligned", pAligned + 1, kFrameBufferHeaderSize, false},
        {"aligned header", pAligned, kFrameBufferHeaderSize, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TFrameClient client(c.pView, c.ui64Size);
        EXPECT_EQ(client.IsUsable(), c.bUsable);
        EXPECT_EQ(client.Request(0), c.bUsable);
        EXPECT_FALSE(client.Request(6)) << "slot 6 does not exist";
        TFramePicture picture;
        uint32_t ui32Timestamp = 0;
        EXPECT_EQ(client.Read(6, &picture, &ui32Timestamp), TFrameResult::Unusable);
        TCollectingSink sink;
        const TPumpResult result = RunFramePump(client, Pump(TPumpMode::Sequential, 1, 10), sink);
        EXPECT_EQ(result.result, c.bUsable ? TFrameResult::TimedOut : TFrameResult::Unusable);
    }
    // A ready slot in a header-only view has no area to read: the layout is refused.
    TFrameClient client(pAligned, kFrameBufferHeaderSize);
    TFrameBufferHeader* const pHeader = reinterpret_cast<TFrameBufferHeader*>(pAligned);
    pHeader->iImageWidth = 8;
    pHeader->iImageHeight = 8;
    pHeader->bFrameReady[0] = 1;
    TFramePicture picture;
    uint32_t ui32Timestamp = 0;
    EXPECT_EQ(client.Read(0, &picture, &ui32Timestamp), TFrameResult::BadLayout);
    EXPECT_TRUE(picture.vecPixels.empty());
}

}  // namespace
