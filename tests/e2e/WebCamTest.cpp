// The webcam composited end to end: the capturer's test variant (method 0) under the reference
// host, whose producer writes the webcam (and background) pictures into their areas under their
// mutexes. Frames are compared with CPU references of the half-opacity blend over ZYRScene's
// pattern and of the soft edge over the background; a producer holding its mutex must not delay a
// frame; an access loss in the middle rebuilds the overlays.
#include "FramesFixture.h"
#include "ScenePattern.h"
#include "TScreenOutputDuplication.h"
#include "TWebCamProducer.h"
#include "WebCamPictures.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <sstream>

namespace {

// 480 x 270 at (0.5, 0.25) of a 1920 x 1080 frame: drawn 1:1 into this rectangle.
constexpr RECT kWebCamRect{960, 270, 1440, 540};

// What a pixel of the webcam rectangle must show: from its webcam coordinates and the scene below.
using TInside = std::function<uint32_t(uint32_t cx, uint32_t cy, uint32_t scenePixel)>;

uint32_t Mix(uint32_t over, uint32_t below, double alpha)
{
    uint32_t mixed = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const double value = (over >> shift & 0xFF) * alpha + (below >> shift & 0xFF) * (1.0 - alpha);
        mixed |= static_cast<uint32_t>(std::lround(value)) << shift;
    }
    return mixed;
}

// Half opacity over the scene.
TInside HalfOpacity(uint32_t generation)
{
    return [generation](uint32_t cx, uint32_t cy, uint32_t scenePixel) {
        return Mix(refwebcam::WebCamPixel(cx, cy, generation), scenePixel, 0.5);
    };
}

// Chroma keying: the soft-edge rule (the smaller of a texel's alpha and the mean of its 7 x 7
// neighbourhood) over the background picture, which replaces the scene.
uint32_t SoftEdge(uint32_t cx, uint32_t cy, uint32_t /*scenePixel*/)
{
    const auto alphaAt = [](int x, int y) {
        const uint32_t wx = static_cast<uint32_t>((x + 480) % 480);
        const uint32_t wy = static_cast<uint32_t>((y + 270) % 270);
        return (refwebcam::WebCamPixel(wx, wy, 1) >> 24) / 255.0;
    };
    double sum = 0;
    for (int j = -3; j <= 3; ++j) {
        for (int i = -3; i <= 3; ++i) {
            sum += alphaAt(int(cx) + i, int(cy) + j);
        }
    }
    const double alpha = std::min(alphaAt(int(cx), int(cy)), sum / 49.0);
    return Mix(refwebcam::WebCamPixel(cx, cy, 1), refwebcam::BackgroundPixel(cx, cy), alpha);
}

// Every pixel of the frame's top half: `inside` within kWebCamRect (each colour channel within ±2),
// the scene elsewhere (±1).
::testing::AssertionResult ShowsWebCam(const TFramePicture& picture, const TInside& inside, uint32_t sceneGeneration)
{
    size_t differing = 0;
    std::ostringstream first;
    for (uint32_t y = 0; y < 540; ++y) {
        for (uint32_t x = 0; x < picture.ui32Width; ++x) {
            const uint32_t scenePixel = scene::PatternPixel(scene::Pattern::Coords, x, y, sceneGeneration);
            const bool bInside = LONG(x) >= kWebCamRect.left && LONG(x) < kWebCamRect.right && LONG(y) >= kWebCamRect.top;
            const uint32_t want = bInside ? inside(x - kWebCamRect.left, y - kWebCamRect.top, scenePixel) : scenePixel;
            const uint32_t got = picture.vecPixels[size_t{y} * picture.ui32Width + x];
            for (int shift = 0; shift < 24; shift += 8) {
                const int diff = int(got >> shift & 0xFF) - int(want >> shift & 0xFF);
                if (std::abs(diff) > (bInside ? 2 : 1)) {
                    if (differing++ == 0) {
                        first << " (" << x << ", " << y << ") " << std::hex << got << " not " << want;
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
    EXPECT_TRUE(ShowsWebCam(picture, HalfOpacity(1), ui32Generation));

    // The producer holds its mutex while it writes generation 2: frames come as before, with
    // generation 1 in them, until it lets go.
    ASSERT_TRUE(pProducer->Hold(true, kWaitMs));
    for (int frame = 0; frame < 3; ++frame) {
        const uint64_t requested = NowMs();
        ASSERT_EQ(Frame(slot++ % 6), TFrameResult::Ok);
        EXPECT_LT(NowMs() - requested, 2000u) << "a held webcam picture must not delay the frame";
        EXPECT_TRUE(ShowsWebCam(picture, HalfOpacity(1), ui32Generation)) << "frame " << frame << " while held";
    }
    ASSERT_TRUE(pProducer->Hold(false, kWaitMs));
    ASSERT_EQ(pProducer->Generation(), 2u);
    ASSERT_EQ(Frame(slot++ % 6), TFrameResult::Ok);
    ASSERT_EQ(Frame(slot++ % 6), TFrameResult::Ok);
    EXPECT_TRUE(ShowsWebCam(picture, HalfOpacity(2), ui32Generation));

    // Access lost: the next frame makes a new engine, whose surface set gets the overlays again.
    TKernelHandle hLose(::OpenEventW(EVENT_MODIFY_STATE, FALSE,
                                     testdup::AccessLostEventName(pHost->CapturerProcessId()).c_str()));
    ASSERT_TRUE(hLose);
    ASSERT_TRUE(::SetEvent(hLose.Get()));
    for (int frame = 0; frame < 3; ++frame) {
        ASSERT_EQ(Frame(slot++ % 6), TFrameResult::Ok);
    }
    EXPECT_TRUE(ShowsWebCam(picture, HalfOpacity(2), ui32Generation));

    const TCapturerRun run = Stop();
    EXPECT_EQ(run.iExitCode, 0);
    EXPECT_GE(run.Find("TDXGIFullscreenCapturer::GetScreenImageInternal a new pDXGIDuplication has been created."), 0)
        << ::testing::PrintToString(run.Texts());
    EXPECT_EQ(run.Count("TDXGIDuplication::CreateOverlay a blend state has been created."), 2u)
        << "the webcam overlay is made once per engine";
}

TEST_F(WebCam, ChromaKeyingDrawsTheSoftEdgedWebCamOverTheBackgroundPicture)
{
    TRefHostOptions options = DuplicationOptions();
    options.bWebCam = true;
    options.bChromaKeying = true;
    StartFrames(options);
    pProducer = std::make_unique<TWebCamProducer>(*pHost, 0.0);
    ASSERT_TRUE(pProducer->Start());
    ASSERT_EQ(Frame(0), TFrameResult::Ok);
    ASSERT_TRUE(pProducer->WaitGeneration(1, kWaitMs));
    ASSERT_EQ(Frame(1), TFrameResult::Ok);
    ASSERT_EQ(Frame(2), TFrameResult::Ok);
    EXPECT_TRUE(ShowsWebCam(picture, SoftEdge, ui32Generation));
    const TCapturerRun run = Stop();
    EXPECT_EQ(run.iExitCode, 0);
}

}  // namespace
