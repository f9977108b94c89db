// What the capture loop does around each published frame besides the pixels: the webcam and
// webcam background handed to the capturer under their access mutexes, the host's shared texture
// handles, and a first-frame event whose open failed.
#include "LoopHarness.h"

#include "ipc/HostObjectNames.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace looptest;

constexpr uint32_t kWebCamPixel = 0xCAFE0001u;
constexpr uint32_t kBackgroundPixel = 0xBAC60002u;

// A DXGI run (the webcam is composited) with a 640 x 480 webcam in the lower right quarter.
void SetUpWebCam(LoopHarness& h, bool bChromaKeying)
{
    TFrameBufferHeader& header = h.Header();
    header.ui32CaptureMethod = 0;
    header.bCaptureEnabled = 1;
    header.webcamWidth = 640;
    header.webcamHeight = 480;
    header.dWebCamLeft = 0.7;
    header.dWebCamTop = 0.7;
    header.dWebCamWidth = 0.25;
    header.dWebCamHeight = 0.25;
    header.WebCamImage.fShaderParam = 0.75f;
    header.UseChromaKeying = bChromaKeying ? 1 : 0;
    header.bUseWebCamBackground = bChromaKeying ? 1 : 0;
    const size_t inUse = offsetof(TOverlayImageInfo, ui32InUse);
    h.probe->pWebCamInUse = h.Field<uint32_t>(offsetof(TFrameBufferHeader, WebCamImage) + inUse);
    h.probe->pBackgroundInUse = h.Field<uint32_t>(offsetof(TFrameBufferHeader, WebCamBackgroundImage) + inUse);
}

void PutFirstPixel(const TAreaView& area, uint32_t pixel)
{
    ASSERT_TRUE(area.IsValid());
    std::memcpy(area.pData, &pixel, 4);
}

std::vector<WebCamCall> CallsSince(const LoopHarness& h, size_t first)
{
    const std::vector<WebCamCall> calls = h.probe->WebCamCalls();
    return std::vector<WebCamCall>(calls.begin() + static_cast<std::ptrdiff_t>(std::min(first, calls.size())),
                                   calls.end());
}

// One image handed over: what it was, read in place from the area, with the area marked in use.
void ExpectImageCall(const WebCamCall& call, bool bBackground, uint32_t pixel, const Rect& source, uint32_t stride,
                     const Rect& target)
{
    EXPECT_EQ(bBackground, call.bBackground);
    EXPECT_EQ(pixel, call.ui32FirstPixel);
    EXPECT_EQ(source.right - source.left, call.iWidth);
    EXPECT_EQ(source.bottom - source.top, call.iHeight);
    EXPECT_EQ(stride, call.ui32Stride);
    EXPECT_EQ(target, call.target);
    EXPECT_EQ(1u, call.ui32InUseSeen);
}

struct WebCamCase {
    const char* name;
    bool bChromaKeying;
    float fShaderParam;
    size_t nCalls;  // per frame: the webcam, and the background with chroma keying
};

TEST(CaptureLoopExtras, WebCamImagesAreHandedToTheCapturerWithEachFrame)
{
    const WebCamCase cases[] = {
        {"plain webcam", false, 0.75f, 1},
        {"chroma keying with a background", true, 12.5f, 2},
    };
    for (const WebCamCase& c : cases) {
        SCOPED_TRACE(c.name);
        LoopHarness h;
        ASSERT_TRUE(h.Made());
        SetUpWebCam(h, c.bChromaKeying);
        ASSERT_NO_FATAL_FAILURE(h.Start(0));
        ASSERT_TRUE(h.WaitLooping());
        const TFrameBufferHeader& header = h.Header();
        ASSERT_EQ(0, header.WebCamVisibilityState);
        const Rect source = ToRect(header.WebCamSourceRect);
        const int32_t width = source.right - source.left;
        const int32_t height = source.bottom - source.top;
        ASSERT_GT(width, 0);
        ASSERT_GT(height, 0);
        ASSERT_NO_FATAL_FAILURE(PutFirstPixel(h.View().WebCamArea(), kWebCamPixel));
        if (c.bChromaKeying) {
            ASSERT_NO_FATAL_FAILURE(PutFirstPixel(h.View().WebCamBackgroundArea(), kBackgroundPixel));
        }
        ASSERT_EQ(1u, h.probe->ParameterCalls().size());
        EXPECT_TRUE(h.probe->ParameterCalls()[0].bDrawOverlays);

        // Frames captured inside the warm-up get no webcam; the published one does.
        ASSERT_TRUE(h.PassWarmUp(0));
        const std::vector<WebCamCall> calls = h.probe->WebCamCalls();
        ASSERT_EQ(c.nCalls, calls.size());
        const Rect target = ToRect(header.CalculateWebCamTargetRect(header.WebCamDisplayMode));
        ExpectImageCall(calls[0], false, kWebCamPixel, source, header.WebCamImage.ui32Stride, target);
        EXPECT_EQ((std::vector<float>{c.fShaderParam, static_cast<float>(width), static_cast<float>(height), 0.0f}),
                  calls[0].shaderData);
        EXPECT_EQ(0u, header.WebCamImage.ui32InUse);
        if (c.bChromaKeying) {
            ExpectImageCall(calls[1], true, kBackgroundPixel, source, header.WebCamBackgroundImage.ui32Stride, target);
            EXPECT_EQ(0u, header.WebCamBackgroundImage.ui32InUse);
        }
    }
}

TEST(CaptureLoopExtras, BusyAccessMutexCostsOnlyThatImage)
{
    LoopHarness h;
    ASSERT_TRUE(h.Made());
    SetUpWebCam(h, true);
    ASSERT_NO_FATAL_FAILURE(h.Start(0));
    ASSERT_TRUE(h.WaitLooping());
    ASSERT_TRUE(h.PassWarmUp(0));
    size_t seen = h.probe->WebCamCalls().size();
    ASSERT_EQ(2u, seen);

    ASSERT_TRUE(h.HoldAccessMutex(kAccessMutexWebCam));
    ASSERT_TRUE(h.Serve(1));
    std::vector<WebCamCall> calls = CallsSince(h, seen);
    ASSERT_EQ(1u, calls.size());
    EXPECT_TRUE(calls[0].bBackground);
    h.ReleaseAccessMutex(kAccessMutexWebCam);
    seen += calls.size();

    ASSERT_TRUE(h.HoldAccessMutex(kAccessMutexWebCamBackground));
    ASSERT_TRUE(h.Serve(2));
    calls = CallsSince(h, seen);
    ASSERT_EQ(1u, calls.size());
    EXPECT_FALSE(calls[0].bBackground);
    h.ReleaseAccessMutex(kAccessMutexWebCamBackground);
    seen += calls.size();

    ASSERT_TRUE(h.Serve(3));
    EXPECT_EQ(2u, CallsSince(h, seen).size());
    // The busy mutexes cost no frame.
    EXPECT_TRUE(h.SlotHoldsFrame(1, h.probe->Captures() - 2));
    EXPECT_TRUE(h.SlotHoldsFrame(2, h.probe->Captures() - 1));
}

TEST(CaptureLoopExtras, SharedTextureHandlesAreOpenedOncePerSlotWithTheirLow32Bits)
{
    LoopHarness h;
    ASSERT_TRUE(h.Made());
    h.Header().bCaptureEnabled = 1;
    h.Header().ui64SharedTextureHandles[1] = 0x0000000100000000ull;  // low 32 bits zero
    h.Header().ui64SharedTextureHandles[2] = 0xFFFFFFFF12345678ull;
    ASSERT_NO_FATAL_FAILURE(h.Start());
    ASSERT_TRUE(h.WaitLooping());
    ASSERT_TRUE(h.PassWarmUp(0));
    ASSERT_TRUE(h.Serve(1));
    ASSERT_TRUE(h.Serve(2));
    EXPECT_EQ((std::vector<uint64_t>{0x0, 0x12345678}), h.probe->SharedHandles());
    // Without a texture the frames go through shared memory.
    const uint32_t frame = h.probe->Captures();
    EXPECT_TRUE(h.SlotHoldsFrame(1, frame - 1));
    EXPECT_TRUE(h.SlotHoldsFrame(2, frame));

    // The entry of a slot is made once per run, whatever the host writes later.
    h.SetSharedTextureHandle(2, 0x99);
    h.SetSharedTextureHandle(3, 0x42);
    for (const size_t slot : {3u, 4u, 5u, 0u, 1u, 2u}) {
        ASSERT_TRUE(h.Serve(slot)) << "slot " << slot;
    }
    EXPECT_EQ((std::vector<uint64_t>{0x0, 0x12345678, 0x42}), h.probe->SharedHandles());
}

TEST(CaptureLoopExtras, FirstFrameEventWithoutHandleIsReportedAndFramesGoOn)
{
    LoopHarness h;
    ASSERT_TRUE(h.Made());
    h.UseFirstFrameEventWithoutHandle();
    h.Header().bCaptureEnabled = 1;
    ASSERT_NO_FATAL_FAILURE(h.Start());
    ASSERT_TRUE(h.WaitLooping());
    ASSERT_TRUE(h.PassWarmUp(0));
    ASSERT_TRUE(h.Serve(1));
    h.Stop();

    EXPECT_EQ(2u, CountLines(h.Lines(), 2, "TZYREvent::SetEvent hEvent is null"));
    EXPECT_TRUE(h.SlotHoldsFrame(1, h.probe->Captures()));
}

}  // namespace
