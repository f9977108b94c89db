// ZYRRefHost.exe's argument parser: every option into its field, and what is refused.
#include "RefHostCommandLine.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

const std::wstring kExe = L"C:\\x\\ZYRFullscreenCapturer.exe";

struct GoodCase {
    const char* name;
    std::vector<std::wstring> args;
    std::function<void(const TRefHostCommand&)> check;
};

std::vector<GoodCase> GoodCases()
{
    return {
        {"defaults", {L"--capturer", kExe},
         [](const TRefHostCommand& c) {
             EXPECT_EQ(c.wsCapturerPath, kExe);
             EXPECT_EQ(c.options.ui32Omit, 0u);
             EXPECT_EQ(c.stopMethod, TStopMethod::UninstallEvent);
             EXPECT_EQ(c.ui32RunMs, 1000u);
             EXPECT_EQ(c.ui32TimeoutMs, 20000u);
             EXPECT_FALSE(c.bArgsOverride);
             EXPECT_FALSE(c.bIdle);
             EXPECT_EQ(c.options.iRequestedWidth, -1);
             EXPECT_EQ(c.options.ui32CaptureMethod, 1u);
         }},
        {"omit twice", {L"--capturer", kExe, L"--omit", L"hud-mutex", L"--omit", L"frame-buffer"},
         [](const TRefHostCommand& c) {
             EXPECT_TRUE(c.options.IsOmitted(THostObject::HUDMutex));
             EXPECT_TRUE(c.options.IsOmitted(THostObject::FrameBuffer));
             EXPECT_EQ(c.options.ui32Omit, (1u << 5) | 1u);
         }},
        {"header settings",
         {L"--capturer", kExe, L"--method", L"0", L"--region", L"-10,-20,300,400", L"--monitor", L"\\\\.\\DISPLAY1",
          L"--size", L"1280x720", L"--max", L"2560x1440", L"--stretch", L"--no-mirror", L"--instance-mutex", L"Mx",
          L"--uninstall-presignalled"},
         [](const TRefHostCommand& c) {
             EXPECT_EQ(c.options.ui32CaptureMethod, 0u);
             EXPECT_EQ(c.options.captureRegion.left, -10);
             EXPECT_EQ(c.options.captureRegion.top, -20);
             EXPECT_EQ(c.options.captureRegion.right, 300);
             EXPECT_EQ(c.options.captureRegion.bottom, 400);
             EXPECT_EQ(c.options.wsMonitorName, L"\\\\.\\DISPLAY1");
             EXPECT_EQ(c.options.iRequestedWidth, 1280);
             EXPECT_EQ(c.options.iRequestedHeight, 720);
             EXPECT_EQ(c.options.iMaxWidth, 2560);
             EXPECT_EQ(c.options.iMaxHeight, 1440);
             EXPECT_TRUE(c.options.bStretch);
             EXPECT_TRUE(c.options.bDontMirrorFrames);
             EXPECT_EQ(c.options.wsInstanceMutexName, L"Mx");
             EXPECT_TRUE(c.options.bUninstallPreSignalled);
         }},
        {"zero size", {L"--capturer", kExe, L"--size", L"0x0"},
         [](const TRefHostCommand& c) {
             EXPECT_EQ(c.options.iRequestedWidth, 0);
             EXPECT_EQ(c.options.iRequestedHeight, 0);
         }},
        {"stop and times", {L"--capturer", kExe, L"--stop", L"end-host", L"--run-ms", L"0", L"--timeout-ms", L"500"},
         [](const TRefHostCommand& c) {
             EXPECT_EQ(c.stopMethod, TStopMethod::EndHost);
             EXPECT_EQ(c.ui32RunMs, 0u);
             EXPECT_EQ(c.ui32TimeoutMs, 500u);
         }},
        {"stop instance mutex", {L"--stop", L"instance-mutex", L"--capturer", kExe},
         [](const TRefHostCommand& c) { EXPECT_EQ(c.stopMethod, TStopMethod::CloseInstanceMutex); }},
        {"empty args", {L"--capturer", kExe, L"--args", L""},
         [](const TRefHostCommand& c) {
             EXPECT_TRUE(c.bArgsOverride);
             EXPECT_TRUE(c.wsArgs.empty());
         }},
        {"args that look like options", {L"--capturer", kExe, L"--args", L"--stop 12"},
         [](const TRefHostCommand& c) {
             EXPECT_EQ(c.wsArgs, L"--stop 12");
             EXPECT_EQ(c.stopMethod, TStopMethod::UninstallEvent);
         }},
        {"idle without capturer", {L"--idle", L"600000"},
         [](const TRefHostCommand& c) {
             EXPECT_TRUE(c.bIdle);
             EXPECT_EQ(c.ui32IdleMs, 600000u);
         }},
        {"no frames by default", {L"--capturer", kExe},
         [](const TRefHostCommand& c) {
             EXPECT_EQ(c.ui32Frames, 0u);
             EXPECT_EQ(c.dFramesPerSecond, 0);
             EXPECT_FALSE(c.bPipeline);
             EXPECT_FALSE(c.bSingleFrame);
             EXPECT_TRUE(c.wsPngDirectory.empty());
             EXPECT_EQ(c.streamFormat, TStreamFormat::None);
             EXPECT_TRUE(c.options.bCaptureEnabled);
             EXPECT_FALSE(c.options.bDrawMouseCursor);
             EXPECT_FALSE(c.options.bSuppressOverlayCommand);
         }},
        {"frames", {L"--capturer", kExe, L"--frames", L"120", L"--fps", L"29.97", L"--pipeline", L"--png-dir", L"C:\\out", L"--y4m"},
         [](const TRefHostCommand& c) {
             EXPECT_EQ(c.ui32Frames, 120u);
             EXPECT_DOUBLE_EQ(c.dFramesPerSecond, 29.97);
             EXPECT_TRUE(c.bPipeline);
             EXPECT_EQ(c.wsPngDirectory, L"C:\\out");
             EXPECT_EQ(c.streamFormat, TStreamFormat::Y4m);
             EXPECT_TRUE(c.options.bCaptureEnabled);
         }},
        {"raw stream at a whole rate", {L"--capturer", kExe, L"--frames", L"1", L"--raw", L"--fps", L"60"},
         [](const TRefHostCommand& c) {
             EXPECT_EQ(c.streamFormat, TStreamFormat::Raw);
             EXPECT_DOUBLE_EQ(c.dFramesPerSecond, 60);
         }},
        {"single frame disables capture", {L"--capture-enabled", L"1", L"--capturer", kExe, L"--single-frame"},
         [](const TRefHostCommand& c) {
             EXPECT_TRUE(c.bSingleFrame);
             EXPECT_EQ(c.ui32Frames, 1u);
             EXPECT_FALSE(c.options.bCaptureEnabled);
         }},
        {"single frames, several", {L"--capturer", kExe, L"--single-frame", L"--frames", L"3"},
         [](const TRefHostCommand& c) { EXPECT_EQ(c.ui32Frames, 3u); }},
        {"capture disabled, cursor, no overlay command",
         {L"--capturer", kExe, L"--capture-enabled", L"0", L"--cursor", L"--suppress-overlay-command"},
         [](const TRefHostCommand& c) {
             EXPECT_FALSE(c.options.bCaptureEnabled);
             EXPECT_TRUE(c.options.bDrawMouseCursor);
             EXPECT_TRUE(c.options.bSuppressOverlayCommand);
         }},
        {"size from the capture", {L"--capturer", kExe, L"--size", L"640x360", L"--size", L"-1"},
         [](const TRefHostCommand& c) {
             EXPECT_EQ(c.options.iRequestedWidth, -1);
             EXPECT_EQ(c.options.iRequestedHeight, -1);
         }},
        {"sizes with a comma", {L"--capturer", kExe, L"--size", L"640,360", L"--max", L"1280,720"},
         [](const TRefHostCommand& c) {
             EXPECT_EQ(c.options.iRequestedWidth, 640);
             EXPECT_EQ(c.options.iRequestedHeight, 360);
             EXPECT_EQ(c.options.iMaxWidth, 1280);
             EXPECT_EQ(c.options.iMaxHeight, 720);
         }},
        {"no cursor block by default", {L"--capturer", kExe, L"--cursor"},
         [](const TRefHostCommand& c) {
             EXPECT_FALSE(c.bPublishCursor);
             EXPECT_EQ(c.cursorOptions.picture, refcursor::TCursorPicture::Colour);
             EXPECT_EQ(c.cursorOptions.iHotspotX, 0);
             EXPECT_EQ(c.cursorOptions.iHotspotY, 0);
         }},
        {"cursor picture implies --cursor", {L"--capturer", kExe, L"--cursor-picture", L"mono"},
         [](const TRefHostCommand& c) {
             EXPECT_TRUE(c.bPublishCursor);
             EXPECT_TRUE(c.options.bDrawMouseCursor);
             EXPECT_EQ(c.cursorOptions.picture, refcursor::TCursorPicture::Monochrome);
         }},
        {"cursor picture none with a hot spot",
         {L"--cursor-hotspot", L"-3,31", L"--capturer", kExe, L"--cursor-picture", L"none"},
         [](const TRefHostCommand& c) {
             EXPECT_TRUE(c.bPublishCursor);
             EXPECT_EQ(c.cursorOptions.picture, refcursor::TCursorPicture::None);
             EXPECT_EQ(c.cursorOptions.iHotspotX, -3);
             EXPECT_EQ(c.cursorOptions.iHotspotY, 31);
         }},
        {"cursor picture colour", {L"--capturer", kExe, L"--cursor-picture", L"colour", L"--cursor-hotspot", L"4,5"},
         [](const TRefHostCommand& c) {
             EXPECT_EQ(c.cursorOptions.picture, refcursor::TCursorPicture::Colour);
             EXPECT_EQ(c.cursorOptions.iHotspotX, 4);
             EXPECT_EQ(c.cursorOptions.iHotspotY, 5);
         }},
        {"cursor objects left out", {L"--capturer", kExe, L"--omit", L"cursor-event", L"--omit", L"cursor-mutex"},
         [](const TRefHostCommand& c) {
             EXPECT_TRUE(c.options.IsOmitted(THostObject::CursorEvent));
             EXPECT_TRUE(c.options.IsOmitted(THostObject::CursorMutex));
             EXPECT_FALSE(c.options.IsOmitted(THostObject::FrameBuffer));
         }},
        {"events to wait for and to signal", {L"--capturer", kExe, L"--wait-event", L"ready", L"--signal-event", L"quit"},
         [](const TRefHostCommand& c) {
             EXPECT_EQ(c.wsWaitEvent, L"ready");
             EXPECT_EQ(c.wsSignalEvent, L"quit");
         }},
    };
}

TEST(RefHostCommandLine, AcceptsEachOptionIntoItsField)
{
    for (const GoodCase& c : GoodCases()) {
        SCOPED_TRACE(c.name);
        TRefHostCommand command;
        std::wstring error;
        ASSERT_EQ(ParseRefHostArguments(c.args, &command, &error), TRefHostParseResult::Run) << Narrow(error);
        c.check(command);
    }
}

struct BadCase {
    const char* name;
    std::vector<std::wstring> args;
    std::wstring wsErrorPart;
};

TEST(RefHostCommandLine, RefusesWithAReason)
{
    const std::vector<BadCase> cases = {
        {"nothing", {}, L"--capturer is required"},
        {"no capturer", {L"--stretch"}, L"--capturer is required"},
        {"empty capturer", {L"--capturer", L""}, L"--capturer"},
        {"unknown option", {L"--capturer", kExe, L"--frobnicate"}, L"unknown option '--frobnicate'"},
        {"bare word", {L"--capturer", kExe, L"1234"}, L"unknown option '1234'"},
        {"missing value", {L"--capturer", kExe, L"--method"}, L"--method needs a value"},
        {"missing args value", {L"--capturer", kExe, L"--args"}, L"--args needs a value"},
        {"method 2", {L"--capturer", kExe, L"--method", L"2"}, L"'2' for --method"},
        {"method word", {L"--capturer", kExe, L"--method", L"gdi"}, L"--method"},
        {"unknown object", {L"--capturer", kExe, L"--omit", L"hud"}, L"'hud' for --omit"},
        {"region of three", {L"--capturer", kExe, L"--region", L"1,2,3"}, L"--region"},
        {"region of five", {L"--capturer", kExe, L"--region", L"1,2,3,4,5"}, L"--region"},
        {"region overflow", {L"--capturer", kExe, L"--region", L"0,0,2147483648,1"}, L"--region"},
        {"size without x", {L"--capturer", kExe, L"--size", L"1280"}, L"--size"},
        {"negative size", {L"--capturer", kExe, L"--size", L"-1x720"}, L"--size"},
        {"size with space", {L"--capturer", kExe, L"--max", L"1280x 720"}, L"--max"},
        {"unknown stop", {L"--capturer", kExe, L"--stop", L"kill"}, L"'kill' for --stop"},
        {"negative run", {L"--capturer", kExe, L"--run-ms", L"-5"}, L"--run-ms"},
        {"infinite timeout", {L"--capturer", kExe, L"--timeout-ms", L"4294967295"}, L"--timeout-ms"},
        {"huge idle", {L"--idle", L"99999999999999999999"}, L"--idle"},
        {"empty wait event", {L"--capturer", kExe, L"--wait-event", L""}, L"--wait-event"},
        {"empty instance mutex", {L"--capturer", kExe, L"--instance-mutex", L""}, L"--instance-mutex"},
        {"zero frames", {L"--capturer", kExe, L"--frames", L"0"}, L"'0' for --frames"},
        {"unknown cursor picture", {L"--capturer", kExe, L"--cursor-picture", L"color"}, L"'color' for --cursor-picture"},
        {"cursor picture missing", {L"--capturer", kExe, L"--cursor-picture"}, L"--cursor-picture needs a value"},
        {"hot spot of one", {L"--capturer", kExe, L"--cursor-picture", L"mono", L"--cursor-hotspot", L"3"}, L"--cursor-hotspot"},
        {"hot spot word", {L"--capturer", kExe, L"--cursor-picture", L"mono", L"--cursor-hotspot", L"a,b"}, L"--cursor-hotspot"},
        {"hot spot without picture", {L"--capturer", kExe, L"--cursor-hotspot", L"1,1"}, L"--cursor-hotspot needs --cursor-picture"},
        {"frames word", {L"--capturer", kExe, L"--frames", L"many"}, L"--frames"},
        {"negative rate", {L"--capturer", kExe, L"--frames", L"2", L"--fps", L"-1"}, L"--fps"},
        {"rate above 1000", {L"--capturer", kExe, L"--frames", L"2", L"--fps", L"1000.5"}, L"--fps"},
        {"rate with four decimals", {L"--capturer", kExe, L"--frames", L"2", L"--fps", L"29.9700"}, L"--fps"},
        {"rate without digits after the point", {L"--capturer", kExe, L"--frames", L"2", L"--fps", L"30."}, L"--fps"},
        {"rate without digits before the point", {L"--capturer", kExe, L"--frames", L"2", L"--fps", L".5"}, L"--fps"},
        {"rate word", {L"--capturer", kExe, L"--frames", L"2", L"--fps", L"fast"}, L"--fps"},
        {"raw and y4m", {L"--capturer", kExe, L"--frames", L"2", L"--raw", L"--y4m"}, L"--raw and --y4m"},
        {"y4m and raw", {L"--capturer", kExe, L"--frames", L"2", L"--y4m", L"--raw"}, L"--raw and --y4m"},
        {"single frame pipelined", {L"--capturer", kExe, L"--single-frame", L"--pipeline"}, L"exclude each other"},
        {"pipeline without frames", {L"--capturer", kExe, L"--pipeline"}, L"need --frames"},
        {"png without frames", {L"--capturer", kExe, L"--png-dir", L"x"}, L"need --frames"},
        {"rate without frames", {L"--capturer", kExe, L"--fps", L"30"}, L"need --frames"},
        {"stream without frames", {L"--capturer", kExe, L"--y4m"}, L"need --frames"},
        {"empty png directory", {L"--capturer", kExe, L"--frames", L"2", L"--png-dir", L""}, L"--png-dir"},
        {"capture enabled 2", {L"--capturer", kExe, L"--capture-enabled", L"2"}, L"'2' for --capture-enabled"},
        {"size -2", {L"--capturer", kExe, L"--size", L"-2"}, L"--size"},
        {"max -1", {L"--capturer", kExe, L"--max", L"-1"}, L"--max"},
    };
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.name);
        TRefHostCommand command;
        std::wstring error;
        EXPECT_EQ(ParseRefHostArguments(c.args, &command, &error), TRefHostParseResult::Bad);
        EXPECT_NE(error.find(c.wsErrorPart), std::wstring::npos) << Narrow(error);
    }
}

TEST(RefHostCommandLine, HelpWinsWhereverItStands)
{
    for (const std::vector<std::wstring>& args :
         {std::vector<std::wstring>{L"--help"}, std::vector<std::wstring>{L"--capturer", kExe, L"-h"},
          std::vector<std::wstring>{L"--help", L"--frobnicate"}}) {
        TRefHostCommand command;
        std::wstring error;
        EXPECT_EQ(ParseRefHostArguments(args, &command, &error), TRefHostParseResult::Help);
    }
    EXPECT_NE(std::string(RefHostUsage()).find("--capturer"), std::string::npos);
}

TEST(RefHostCommandLine, StopMethodTextsAreTheOptionValues)
{
    EXPECT_STREQ(StopMethodText(TStopMethod::UninstallEvent), "uninstall");
    EXPECT_STREQ(StopMethodText(TStopMethod::CloseInstanceMutex), "instance-mutex");
    EXPECT_STREQ(StopMethodText(TStopMethod::EndHost), "end-host");
}

}  // namespace
