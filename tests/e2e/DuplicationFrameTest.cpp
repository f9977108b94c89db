// Capture method 0 end to end: the capturer's test variant, whose DuplicateOutput is answered by a
// duplication over real screen grabs, under the reference host's frame client. The whole process
// runs as with real desktop duplication (handshake, warm-up, slots, engine, staging read or GPU
// scaling); pixels are compared with the pattern ZYRScene paints.
#include "FramesFixture.h"
#include "TScreenOutputDuplication.h"

#include "ScenePattern.h"

#include <windows.h>

namespace {

using scene::Pattern;

const std::string kCreate = "TDXGIFullscreenCapturer::CreateDXGIDuplication ";
const std::string kParameters = "TDXGIFullscreenCapturer::SetCaptureParameters ";

class DuplicationFrames : public Frames {
protected:
    void SetUp() override
    {
        Frames::SetUp();
        wsCapturer = TestDupCapturerPath();
    }
};

TEST_F(DuplicationFrames, OneToOneFramesReadTheStagingImageExactlyAndFollowTheScreen)
{
    struct Case {
        const char* name;
        THooksRect region;  // empty: the whole screen
        bool bTopDown;
        int left, top;
        uint32_t width, height;
    };
    const Case cases[] = {
        {"whole screen, bottom-up", {0, 0, 0, 0}, false, 0, 0, 1920, 1080},
        {"whole screen, top-down", {0, 0, 0, 0}, true, 0, 0, 1920, 1080},
        {"region, bottom-up", {104, 50, 1000, 650}, false, 104, 50, 896, 600},
        {"region, top-down", {8, 400, 1288, 1080}, true, 8, 400, 1280, 680},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TRefHostOptions options = DuplicationOptions();
        options.bDontMirrorFrames = c.bTopDown;
        options.captureRegion = c.region;
        StartFrames(options);
        ASSERT_EQ(Frame(0), TFrameResult::Ok);
        ASSERT_EQ(picture.ui32Width, c.width);
        ASSERT_EQ(picture.ui32Height, c.height);
        EXPECT_TRUE(IsExact(picture, c.left, c.top, ui32Generation));

        // A new picture on the screen reaches the frames through the dirty rectangles; frames in
        // between reuse the previous image.
        ASSERT_TRUE(pScene->Next());
        ++ui32Generation;
        for (uint32_t slot = 1; slot < 4; ++slot) {
            SCOPED_TRACE("slot " + std::to_string(slot));
            ASSERT_EQ(Frame(slot), TFrameResult::Ok);
            EXPECT_TRUE(IsExact(picture, c.left, c.top, ui32Generation));
        }
        const TCapturerRun run = Stop();
        EXPECT_EQ(run.iExitCode, 0);
        EXPECT_GE(run.Find(kCreate + "can use pDXGIDuplication"), 0) << ::testing::PrintToString(run.Texts());
        EXPECT_GE(run.Find(kParameters + "will use staging surface"), 0);
        EXPECT_LT(run.Find(kParameters + "will use scaled surface"), 0);
        for (const auto& record : run.records) {
            EXPECT_FALSE(record.fields.ui32Type == 2u && record.strText.rfind("TDXGI", 0) == 0) << record.strText;
        }
    }
}

// Scaled on the GPU over the smooth pattern, whose neighbours differ by at most one step.
class ScaledDuplicationFrames : public DuplicationFrames {
protected:
    static void SetUpTestSuite() { SetUpWithScene(Pattern::Smooth); }
};

TEST_F(ScaledDuplicationFrames, RequestedSizesAreDrawnWithBarsOrStretched)
{
    struct Case {
        int32_t width, height;
        bool bStretch, bTopDown;
        uint32_t barRows;  // rows of bars above and below the picture
    };
    // 1280 x 800 keeping proportion: a 1280 x 720 picture between 40-row bars; 1002 x 566 is used
    // as given, stretched over the whole image.
    for (const Case& c : {Case{1280, 800, false, false, 40}, Case{1002, 566, true, true, 0}}) {
        SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height);
        TRefHostOptions options = DuplicationOptions();
        options.iRequestedWidth = c.width;
        options.iRequestedHeight = c.height;
        options.bStretch = c.bStretch;
        options.bDontMirrorFrames = c.bTopDown;
        StartFrames(options);
        ASSERT_EQ(Frame(0), TFrameResult::Ok);
        ASSERT_EQ(picture.ui32Width, static_cast<uint32_t>(c.width));
        ASSERT_EQ(picture.ui32Height, static_cast<uint32_t>(c.height));
        EXPECT_TRUE(IsSmoothScaled(picture, c.barRows));
        const TCapturerRun run = Stop();
        EXPECT_EQ(run.iExitCode, 0);
        EXPECT_GE(run.Find(kParameters + "will use scaled surface"), 0) << ::testing::PrintToString(run.Texts());
        EXPECT_GE(run.Find(kThread + " safe image size " + std::to_string(c.width) + " x " + std::to_string(c.height)), 0);
    }
}

}  // namespace

namespace {

// The test variant presents the screen as an output rotated by 90 or 270 degrees (a 1080 x 1920
// portrait desktop whose frames arrive in the screen's own orientation); the host's frames are the
// screen turned upright, every pixel exact. Only the duplication's description is rotated: GDI
// still reports Wine's monitor as 1920 x 1080, so the capture region is the 1080 x 1080 square that
// lies on both.
TEST_F(DuplicationFrames, ARotatedOutputIsCapturedUprightThroughTheRotationPass)
{
    struct Case {
        const wchar_t* rotation;
        // Where frame pixel (x, y) comes from on the 1920 x 1080 screen.
        int (*screenX)(int x, int y);
        int (*screenY)(int x, int y);
    };
    const Case cases[] = {
        {L"2", [](int, int y) { return y; }, [](int x, int) { return kScreenH - 1 - x; }},
        {L"4", [](int, int y) { return kScreenW - 1 - y; }, [](int x, int) { return x; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rotation[0] == L'2' ? "90 degrees" : "270 degrees");
        ASSERT_TRUE(::SetEnvironmentVariableW(testdup::kRotationVariable, c.rotation));
        TRefHostOptions options = DuplicationOptions();
        options.captureRegion = THooksRect{0, 0, kScreenH, kScreenH};
        options.bDontMirrorFrames = true;
        StartFrames(options);
        ::SetEnvironmentVariableW(testdup::kRotationVariable, nullptr);
        ASSERT_EQ(Frame(0), TFrameResult::Ok);
        ASSERT_EQ(picture.ui32Width, uint32_t(kScreenH));
        ASSERT_EQ(picture.ui32Height, uint32_t(kScreenH));
        size_t mismatches = 0;
        for (int y = 0; y < kScreenH; ++y) {
            for (int x = 0; x < kScreenH; ++x) {
                const uint32_t expected = scene::PatternPixel(scene::Pattern::Coords, c.screenX(x, y), c.screenY(x, y),
                                                              ui32Generation);
                const uint32_t actual = picture.vecPixels[size_t(y) * kScreenH + x] & scene::kPatternColourMask;
                if (actual != expected && mismatches++ == 0) {
                    ADD_FAILURE() << "first mismatch at (" << x << ", " << y << ")";
                }
            }
        }
        EXPECT_EQ(mismatches, 0u);
        const TCapturerRun run = Stop();
        EXPECT_EQ(run.iExitCode, 0);
        EXPECT_GE(run.Find("TDXGIDuplication::InitRotation exit with 1"), 0) << ::testing::PrintToString(run.Texts());
        for (const auto& record : run.records) {
            EXPECT_FALSE(record.fields.ui32Type == 2u && record.strText.rfind("TDXGI", 0) == 0) << record.strText;
        }
    }
}

}  // namespace
