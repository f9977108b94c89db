// The fixture of the frame suites: the capturer exe (GDI) under the reference host's frame client,
// over ZYRScene's pattern shown for the whole suite.
#pragma once

#include "EndToEndSupport.h"
#include "SceneTestSupport.h"
#include "TFrameClient.h"

#include <cstdint>
#include <memory>
#include <string>

constexpr int kScreenW = 1920;
constexpr int kScreenH = 1080;
inline const std::string kThread = "TZYRFullscreenCapturer::CaptureScreenThread";

TRefHostOptions GdiOptions();
// Method 0, for the test variant (TestDupCapturerPath).
TRefHostOptions DuplicationOptions();

// Every picture pixel (x, y) is the coords pattern at (left + x, top + y).
::testing::AssertionResult IsExact(const TFramePicture& picture, int left, int top, uint32_t generation);

// The picture is the whole screen's smooth pattern scaled between `barRows` black rows above and
// below (within the pattern's scaling tolerance).
::testing::AssertionResult IsSmoothScaled(const TFramePicture& picture, uint32_t barRows);

class Frames : public EndToEnd {
protected:
    static void SetUpTestSuite() { SetUpWithScene(scene::Pattern::Coords); }
    static void SetUpWithScene(scene::Pattern pattern);
    static void TearDownTestSuite();
    void SetUp() override;

    // Starts the capturer, waits for started-correctly and attaches a frame client.
    TFrameClient& StartFrames(const TRefHostOptions& options);
    // Requests `slot` (unless it already is), waits for it and reads it into `picture` and
    // `ui32Timestamp`.
    TFrameResult Frame(uint32_t slot, bool bRequest = true);
    TCapturerRun Stop();

    std::unique_ptr<TFrameClient> pClient;
    TFramePicture picture;
    uint32_t ui32Timestamp = 0;
    static std::unique_ptr<scenetest::SceneRun> pScene;
    // How often this suite's scene was moved to its next picture.
    static uint32_t ui32Generation;
};
