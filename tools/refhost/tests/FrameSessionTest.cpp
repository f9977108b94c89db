// A whole frame session of the tool, in-process: ZYRRefHost.exe --idle stands in for the
// capturer's process (a pid, a CPU time, something to stop), and the fake capturer on a thread
// sets started-correctly and serves the frames in the session's section.
#include "FrameSinks.h"
#include "FrameTestSupport.h"
#include "RefHostFrames.h"
#include "RefHostSession.h"
#include "RefHostTestSupport.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

namespace {

using namespace refhost_test;

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

// Stopped with end-host and without an uninstall event, so the host's destructor ends the
// stand-in at once.
TRefHostCommand FrameCommand(uint32_t ui32Frames)
{
    TRefHostCommand command;
    command.wsCapturerPath = WindowsPath(ZYR_REFHOST_EXE);
    command.bArgsOverride = true;
    command.wsArgs = L"--idle 600000";
    command.stopMethod = TStopMethod::EndHost;
    command.options.Omit(THostObject::UninstallEvent);
    command.ui32TimeoutMs = kFrameWaitMs;
    command.ui32Frames = ui32Frames;
    return command;
}

TFakeCapturerOptions StartingFake()
{
    TFakeCapturerOptions options;
    options.bSetStartedCorrectly = true;
    return options;
}

const std::regex kStatsLine(R"(stats frames=5 fps=\d+\.\d first_frame_ms=\d+ latency_median_ms=\d+\.\d\d )"
                            R"(latency_p95_ms=\d+\.\d\d latency_max_ms=\d+\.\d\d capturer_cpu_ms=\d+)");

TEST(RefHostFrameSession, FramesGoToPngFilesAndOneStatsLine)
{
    TTemporaryDirectory directory;
    TRefHostCommand command = FrameCommand(5);
    command.bPipeline = true;
    command.wsPngDirectory = directory.Path();
    TRefHost host;
    TFakeCapturer fake(StartingFake());
    fake.Start();
    std::ostringstream out;
    std::ostringstream err;
    const TRefHostSessionResult result = RunRefHostSession(command, host, out, err);
    fake.Stop();
    EXPECT_EQ(result.iExitCode, 0) << err.str() << fake.Error();
    EXPECT_TRUE(result.bHostMustEnd);
    const std::vector<std::string> lines = Lines(out.str());
    ASSERT_EQ(lines.size(), 5u) << out.str();
    EXPECT_EQ(lines[0], "capturer-pid " + std::to_string(host.CapturerProcessId()));
    EXPECT_EQ(lines[1].rfind("started-correctly yes after ", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2], "frame-size 64x48");
    EXPECT_TRUE(std::regex_match(lines[3], kStatsLine)) << lines[3];
    EXPECT_EQ(lines[4], "stop end-host");
    EXPECT_EQ(err.str(), "");
    for (uint32_t frame = 0; frame < 5; ++frame) {
        SCOPED_TRACE(frame);
        const std::vector<uint8_t> png = ReadWholeFile(directory.File(PngFileName(frame)));
        std::vector<uint8_t> expected = EncodePng(PatternPicture(64, 48, frame));
        EXPECT_EQ(png, expected) << "the frame's picture, as PNG";
    }
    EXPECT_TRUE(ReadWholeFile(directory.File(PngFileName(5))).empty()) << "no sixth file";
}

// With --cursor-picture the host publishes the cursor block for the whole session; the stats line
// then counts the cursor events it received (the fake asks once, before it starts correctly).
TEST(RefHostFrameSession, CursorPublisherCountsItsEventsOnTheStatsLine)
{
    TRefHostCommand command = FrameCommand(2);
    command.bPublishCursor = true;
    command.cursorOptions = TCursorPublisherOptions{refcursor::TCursorPicture::Colour, 3, 4};
    TRefHost host;
    TFakeCapturerOptions fakeOptions = StartingFake();
    fakeOptions.bAskForCursorOnce = true;
    TFakeCapturer fake(fakeOptions);
    fake.Start();
    std::ostringstream out;
    std::ostringstream err;
    const TRefHostSessionResult result = RunRefHostSession(command, host, out, err);
    fake.Stop();
    EXPECT_EQ(result.iExitCode, 0) << err.str() << fake.Error();
    const std::vector<std::string> lines = Lines(out.str());
    ASSERT_EQ(lines.size(), 5u) << out.str();
    const std::regex stats(R"(stats frames=2 fps=\d+\.\d first_frame_ms=\d+ latency_median_ms=\d+\.\d\d )"
                           R"(latency_p95_ms=\d+\.\d\d latency_max_ms=\d+\.\d\d capturer_cpu_ms=\d+ cursor_events=1)");
    EXPECT_TRUE(std::regex_match(lines[3], stats)) << lines[3];
    EXPECT_EQ(host.Header()->iCursorHotspotX, 3);
    EXPECT_EQ(host.Header()->iCursorHotspotY, 4);
    EXPECT_EQ(host.Header()->bCursorColorBitmap, 1u);
}

TEST(RefHostFrameSession, WithoutCursorPublisherTheStatsLineHasNoCursorField)
{
    TRefHostCommand command = FrameCommand(2);
    TRefHost host;
    TFakeCapturer fake(StartingFake());
    fake.Start();
    std::ostringstream out;
    std::ostringstream err;
    RunRefHostSession(command, host, out, err);
    fake.Stop();
    EXPECT_EQ(out.str().find("cursor_events"), std::string::npos) << out.str();
    EXPECT_EQ(host.Header()->bCursorColorBitmap, 0u) << "nothing published";
}

TEST(RefHostFrameSession, Y4mStreamGoesToTheWriterAndTheLinesStayOutOfIt)
{
    TRefHostCommand command = FrameCommand(3);
    command.streamFormat = TStreamFormat::Y4m;
    TRefHost host;
    TFakeCapturer fake(StartingFake());
    fake.Start();
    std::ostringstream out;
    std::ostringstream err;
    std::vector<uint8_t> stream;
    const TRefHostSessionResult result = RunRefHostSession(command, host, out, err, [&stream](const uint8_t* p, size_t n) {
        stream.insert(stream.end(), p, p + n);
        return true;
    });
    fake.Stop();
    EXPECT_EQ(result.iExitCode, 0) << err.str() << fake.Error();
    const std::string header = "YUV4MPEG2 W64 H48 F30:1 Ip A1:1 C420jpeg\n";
    std::vector<uint8_t> expected(header.begin(), header.end());
    for (uint32_t frame = 0; frame < 3; ++frame) {
        AppendY4mFrame(PatternPicture(64, 48, frame), &expected);
    }
    EXPECT_EQ(stream.size(), header.size() + 3 * (6 + 64 * 48 * 3 / 2));
    EXPECT_TRUE(stream == expected) << "the three frames' planes";
    EXPECT_EQ(out.str().find("YUV4MPEG2"), std::string::npos);
}

TEST(RefHostFrameSession, RefusedSizeIsOneLineAndItsOwnExitCode)
{
    TRefHostCommand command = FrameCommand(3);
    TRefHost host;
    TFakeCapturerOptions fakeOptions = StartingFake();
    fakeOptions.bRefuseSize = true;
    TFakeCapturer fake(fakeOptions);
    fake.Start();
    std::ostringstream out;
    std::ostringstream err;
    const TRefHostSessionResult result = RunRefHostSession(command, host, out, err);
    fake.Stop();
    EXPECT_EQ(result.iExitCode, kExitSizeRefused) << err.str();
    const std::vector<std::string> lines = Lines(out.str());
    ASSERT_EQ(lines.size(), 4u) << out.str();
    EXPECT_EQ(lines[2], "frame-size refused: the capturer set the image size to 0 x 0 (requested -1x-1, capacity 1920x1080)");
    EXPECT_EQ(lines[3], "stop end-host");
}

TEST(RefHostFrameSession, AStreamWithoutAWriterIsTheToolsOwnFailure)
{
    TRefHostCommand command = FrameCommand(1);
    command.streamFormat = TStreamFormat::Raw;
    TRefHost host;
    TFakeCapturer fake(StartingFake());
    fake.Start();
    std::ostringstream out;
    std::ostringstream err;
    const TRefHostSessionResult result = RunRefHostSession(command, host, out, err);
    fake.Stop();
    EXPECT_EQ(result.iExitCode, 1);
    EXPECT_NE(err.str().find("no writer"), std::string::npos) << err.str();
}

}  // namespace
