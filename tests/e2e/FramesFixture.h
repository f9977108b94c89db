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

// Picture pixel (x, y) must be the pattern at (left + x, top + y); returns mismatches and the first.
size_t ExactMismatches(const TFramePicture& picture, int left, int top, uint32_t generation, std::string* pFirst);

class Frames : public EndToEnd {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;

    // Starts the capturer, waits for started-correctly and attaches a frame client.
    TFrameClient& StartFrames(const TRefHostOptions& options);
    // Requests `slot`, waits for it and reads it.
    TFrameResult Frame(uint32_t slot, TFramePicture* pPicture, uint32_t* pTimestamp);
    TCapturerRun Stop();

    std::unique_ptr<TFrameClient> pClient;
    static std::unique_ptr<scenetest::SceneRun> pScene;
    // How often this suite's scene was moved to its next picture.
    static uint32_t ui32Generation;
};
