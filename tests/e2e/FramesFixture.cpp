#include "FramesFixture.h"

TRefHostOptions GdiOptions()
{
    TRefHostOptions options;
    options.ui32CaptureMethod = 1;
    return options;
}

TRefHostOptions DuplicationOptions()
{
    TRefHostOptions options;
    options.ui32CaptureMethod = 0;
    return options;
}

::testing::AssertionResult IsExact(const TFramePicture& picture, int left, int top, uint32_t generation)
{
    std::string first;
    const size_t mismatches = scenetest::CountExactMismatches(
        picture.ui32Width, picture.ui32Height, left, top, generation,
        [&](uint32_t x, uint32_t y) { return picture.vecPixels[size_t{y} * picture.ui32Width + x]; }, &first);
    if (mismatches == 0) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << mismatches << " pixels differ:" << first;
}

::testing::AssertionResult IsSmoothScaled(const TFramePicture& picture, uint32_t barRows)
{
    const uint32_t rows = picture.ui32Height - 2 * barRows;
    std::string first;
    const size_t mismatches = scenetest::CountMismatches(
        picture.ui32Width, rows, scene::Pattern::Smooth, 0, kScreenW, kScreenH, scene::kSmoothScaledTolerance,
        [&](uint32_t x, uint32_t y) { return picture.vecPixels[size_t{barRows + y} * picture.ui32Width + x]; }, &first);
    if (mismatches != 0) {
        return ::testing::AssertionFailure() << mismatches << " pixels differ:" << first;
    }
    for (uint32_t bar = 0; bar < barRows; ++bar) {
        for (const uint32_t y : {bar, picture.ui32Height - 1 - bar}) {
            for (const uint32_t x : {0u, picture.ui32Width / 2, picture.ui32Width - 1}) {
                if ((picture.vecPixels[size_t{y} * picture.ui32Width + x] & scene::kPatternColourMask) != 0) {
                    return ::testing::AssertionFailure() << "bar pixel (" << x << ", " << y << ") is not black";
                }
            }
        }
    }
    return ::testing::AssertionSuccess();
}

std::unique_ptr<scenetest::SceneRun> Frames::pScene;
uint32_t Frames::ui32Generation = 0;

void Frames::SetUpWithScene(scene::Pattern pattern)
{
    EndToEnd::SetUpTestSuite();
    pScene = scenetest::StartSuiteScene(pattern);
    ui32Generation = 0;  // each suite's scene starts with its first picture
}

void Frames::TearDownTestSuite()
{
    scenetest::QuitSuiteScene(pScene);
    EndToEnd::TearDownTestSuite();
}

void Frames::SetUp()
{
    EndToEnd::SetUp();
    ASSERT_NE(pScene, nullptr);
}

TFrameClient& Frames::StartFrames(const TRefHostOptions& options)
{
    pClient.reset();
    pHost = std::make_unique<TRefHost>();
    EXPECT_TRUE(Start(options));
    EXPECT_TRUE(pHost->WaitStartedCorrectly(kWaitMs));
    pClient = std::make_unique<TFrameClient>(*pHost);
    EXPECT_TRUE(pClient->IsUsable());
    return *pClient;
}

TFrameResult Frames::Frame(uint32_t slot, bool bRequest)
{
    if (bRequest) {
        pClient->Request(slot);
    }
    const TFrameResult waited = pClient->WaitReady(slot, kWaitMs, pHost->CapturerProcess());
    return waited == TFrameResult::Ok ? pClient->Read(slot, &picture, &ui32Timestamp) : waited;
}

TCapturerRun Frames::Stop()
{
    pHost->SignalUninstall();
    return Finish();
}
