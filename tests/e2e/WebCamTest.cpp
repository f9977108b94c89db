// The webcam composited end to end: the capturer's test variant (method 0) under the reference
// host, whose producer writes the webcam picture into its area under the webcam mutex. Frames are
// compared with a CPU reference of the half-opacity blend over ZYRScene's pattern; a producer
// holding its mutex must not delay a frame; an access loss in the middle rebuilds the overlays.
#include "FramesFixture.h"
#include "ScenePattern.h"
#include "TScreenOutputDuplication.h"
#include "TWebCamProducer.h"
#include "WebCamPictures.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <sstream>

namespace {

// 480 x 270 at (0.5, 0.25) of a 1920 x 1080 frame: drawn 1:1 into this rectangle.
constexpr RECT kWebCamRect{960, 270, 1440, 540};

// Every pixel of the frame's top half: the webcam at half opacity over the scene inside kWebCamRect
// (each colour channel within ±2 of the rounded mean), the scene elsewhere (±1).
::testing::AssertionResult ShowsWebCam(const TFramePicture& picture, uint32_t webcamGeneration,
                                       uint32_t sceneGeneration)
{
    size_t differing = 0;
    std::ostringstream first;
    for (uint32_t y = 0; y < 540; ++y) {
        for (uint32_t x = 0; x < picture.ui32Width; ++x) {
            const uint32_t scenePixel = scene::PatternPixel(scene::Pattern::Coords, x, y, sceneGeneration);
            const bool inside = LONG(x) >= kWebCamRect.left && LONG(x) < kWebCamRect.right && LONG(y) >= kWebCamRect.top;
            const uint32_t cam = inside ? refwebcam::WebCamPixel(x - kWebCamRect.left, y - kWebCamRect.top, webcamGeneration) : 0;
            const uint32_t got = picture.vecPixels[size_t{y} * picture.ui32Width + x];
            for (int shift = 0; shift < 24; shift += 8) {
                const int below = int(scenePixel >> shift & 0xFF);
                const int want = inside ? int(std::lround((int(cam >> shift & 0xFF) + below) / 2.0)) : below;
                const int diff = int(got >> shift & 0xFF) - want;
                if (std::abs(diff) > (inside ? 2 : 1)) {
                    if (differing++ == 0) {
                        first << " (" << x << ", " << y << ") " << std::hex << got << (inside ? " in" : " outside")
                              << " the webcam";
                    }
                    break;
                }
            }
        }
    }
    if (differing == 0) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << differing << " pixels differ, first" << first.str();
}

class WebCam : public Frames {
protected:
    void SetUp() override
    {
        Frames::SetUp();
        wsCapturer = TestDupCapturerPath();
    }
    void TearDown() override { pProducer.reset(); }

    std::unique_ptr<TWebCamProducer> pProducer;
};

TEST_F(WebCam, CompositedAtHalfOpacityNeverWaitingForAHeldPictureAndRebuiltAfterAnAccessLoss)
{
    TRefHostOptions options = DuplicationOptions();
    options.bDontMirrorFrames = true;
    options.bWebCam = true;
    StartFrames(options);
    pProducer = std::make_unique<TWebCamProducer>(*pHost, 0.0);
    ASSERT_TRUE(pProducer->Start());
    uint32_t slot = 0;
    ASSERT_EQ(Frame(slot++ % 6), TFrameResult::Ok);  // the layout exists from the first frame on
    ASSERT_TRUE(pProducer->WaitGeneration(1, kWaitMs));
    // The picture written now goes up with the next frame.
    ASSERT_EQ(Frame(slot++ % 6), TFrameResult::Ok);
    ASSERT_EQ(Frame(slot++ % 6), TFrameResult::Ok);
    EXPECT_TRUE(ShowsWebCam(picture, 1, ui32Generation));

    // The producer holds its mutex while it writes generation 2: frames come as before, with
    // generation 1 in them, until it lets go.
    ASSERT_TRUE(pProducer->Hold(true, kWaitMs));
    for (int frame = 0; frame < 3; ++frame) {
        const uint64_t requested = NowMs();
        ASSERT_EQ(Frame(slot++ % 6), TFrameResult::Ok);
        EXPECT_LT(NowMs() - requested, 2000u) << "a held webcam picture must not delay the frame";
        EXPECT_TRUE(ShowsWebCam(picture, 1, ui32Generation)) << "frame " << frame << " while held";
    }
    ASSERT_TRUE(pProducer->Hold(false, kWaitMs));
    ASSERT_EQ(pProducer->Generation(), 2u);
    ASSERT_EQ(Frame(slot++ % 6), TFrameResult::Ok);
    ASSERT_EQ(Frame(slot++ % 6), TFrameResult::Ok);
    EXPECT_TRUE(ShowsWebCam(picture, 2, ui32Generation));

    // Access lost: the next frame makes a new engine, whose surface set gets the overlays again.
    TKernelHandle hLose(::OpenEventW(EVENT_MODIFY_STATE, FALSE,
                                     testdup::AccessLostEventName(pHost->CapturerProcessId()).c_str()));
    ASSERT_TRUE(hLose);
    ASSERT_TRUE(::SetEvent(hLose.Get()));
    for (int frame = 0; frame < 3; ++frame) {
        ASSERT_EQ(Frame(slot++ % 6), TFrameResult::Ok);
    }
    EXPECT_TRUE(ShowsWebCam(picture, 2, ui32Generation));

    const TCapturerRun run = Stop();
    EXPECT_EQ(run.iExitCode, 0);
    EXPECT_GE(run.Find("TDXGIFullscreenCapturer::GetScreenImageInternal a new pDXGIDuplication has been created."), 0)
        << ::testing::PrintToString(run.Texts());
    EXPECT_EQ(run.Count("TDXGIDuplication::CreateOverlay a blend state has been created."), 2u)
        << "the webcam overlay is made once per engine";
}

}  // namespace
