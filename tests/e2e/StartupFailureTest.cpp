// Each start-up failure of the capturer, produced by leaving out the object it needs, with its
// exit code, its exact lines and the state of the started-correctly event.
#include "EndToEndSupport.h"

#include <regex>

namespace {

constexpr uint32_t kError = 2;

TEST_F(EndToEnd, MissingHostIdEndsWithMinusOneAndExactLines)
{
    const std::wstring noArguments;
    const TCapturerRun run = RunToExit(TRefHostOptions{}, &noArguments);
    ASSERT_TRUE(run.bExited);
    EXPECT_EQ(run.iExitCode, -1);
    EXPECT_FALSE(run.bStartedCorrectly);
    const std::vector<std::string> expected = {
        "WinMain",
        "WinMain",
        "TZYRFullscreenCapturer::TZYRFullscreenCapturer",
        "TZYRFullscreenCapturer::TZYRFullscreenCapturer exit",
        "TZYRFullscreenCapturer::Run",
        "TZYRFullscreenCapturer::ParseCommandLine",
        "TZYRFullscreenCapturer::ParseCommandLine exit",
        "TZYRFullscreenCapturer::Run exit with -1",
        "WinMain exit with -1",
        "TZYRFullscreenCapturer::~TZYRFullscreenCapturer",
        "TZYRFullscreenCapturer::~TZYRFullscreenCapturer exit",
    };
    ASSERT_EQ(run.Texts(), expected);
    EXPECT_EQ(run.records[0].fields.ui32Type, 6u) << "thread marker";
    EXPECT_EQ(run.records[1].fields.ui32Type, 0u);
    EXPECT_EQ(run.records[7].fields.ui32Type, kError);
    for (const auto& record : run.records) {
        EXPECT_EQ(record.fields.ui32ModuleId, 5u) << "module id from the server's directory";
        EXPECT_EQ(record.fields.ui32ThreadId, run.records[0].fields.ui32ThreadId) << "all on the main thread";
    }
}

TEST_F(EndToEnd, HostIdThatCannotBeOpenedEndsWithMinusThree)
{
    // "-1" is the 64-bit value -1, whose low 32 bits name no process.
    const std::wstring minusOne = L"-1";
    const TCapturerRun run = RunToExit(TRefHostOptions{}, &minusOne);
    ASSERT_TRUE(run.bExited);
    EXPECT_EQ(run.iExitCode, -3);
    EXPECT_FALSE(run.bStartedCorrectly);
    const std::regex line(R"(TZYRFullscreenCapturer::Run OpenProcess error [1-9][0-9]* exit with -3)");
    bool found = false;
    for (const auto& record : run.records) {
        if (std::regex_match(record.strText, line)) {
            found = true;
            EXPECT_EQ(record.fields.ui32Type, kError);
        }
    }
    EXPECT_TRUE(found);
    EXPECT_EQ(run.Find("TZYRFullscreenCapturer::Run wsUninstallAllHooksEventName 'VQUninstallAllHooksEvent67777777773'"), -1)
        << "nothing after the host process is opened";
}

struct FailureCase {
    const char* name;
    THostObject omitted;
    int exitCode;
    std::vector<std::string> lastLines;  // the run's lines just before "WinMain exit with <code>"
    bool startedCorrectly;
};

class StartupFailure : public EndToEnd, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(StartupFailure, EndsWithItsCodeAndLines)
{
    const FailureCase& c = GetParam();
    TRefHostOptions options;
    options.Omit(c.omitted);
    const TCapturerRun run = RunToExit(options);
    ASSERT_TRUE(run.bExited);
    EXPECT_EQ(run.iExitCode, c.exitCode);
    EXPECT_EQ(run.bStartedCorrectly, c.startedCorrectly) << "set only from the started-correctly step on";

    const int exitLine = run.Find("WinMain exit with " + std::to_string(c.exitCode));
    ASSERT_GE(exitLine, static_cast<int>(c.lastLines.size())) << ::testing::PrintToString(run.Texts());
    for (size_t i = 0; i < c.lastLines.size(); ++i) {
        const auto& record = run.records[exitLine - c.lastLines.size() + i];
        EXPECT_EQ(record.strText, c.lastLines[i]);
    }
    const auto& codeLine = run.records[exitLine - 1];
    EXPECT_EQ(codeLine.fields.ui32Type, kError) << codeLine.strText;
    EXPECT_EQ(run.Find("CaptureScreenThread"), -1) << "no capture thread on a failed start";
}

const std::string kRun = "TZYRFullscreenCapturer::Run ";

INSTANTIATE_TEST_SUITE_P(
    EachMissingObject, StartupFailure,
    ::testing::Values(
        FailureCase{"FrameBuffer", THostObject::FrameBuffer, -4, {kRun + "OpenFileMapping error 2 exit with -4"}, false},
        FailureCase{"UninstallEvent", THostObject::UninstallEvent, -6,
                    {kRun + "wsUninstallAllHooksEventName 'VQUninstallAllHooksEvent67777777773'",
                     "TZYREvent::TZYREvent OpenEvent error 2", kRun + "OpenEvent error 2 exit with -6"},
                    false},
        FailureCase{"InstanceMutex", THostObject::InstanceMutex, -7,
                    {kRun + "strTLMCaptureFrameInstanceMutexName is 'ZYRRefHostCaptureFrameInstance67777777773'",
                     "TZYRFullscreenCapturer::IsCaptureFrameInstanceAlive the capture frame instance doesn't exist anymore",
                     kRun + "CaptureFrame instance doesn't exist exit with -7"},
                    false},
        FailureCase{"StartedEvent", THostObject::StartedCorrectlyEvent, -8,
                    {kRun + "fullscreen_capture_exe_was_started_correctly_event_name "
                            "'VQZYRDllExistsInProcessEvent6777777777340000000000'",
                     "TZYREvent::TZYREvent OpenEvent error 2", kRun + "OpenEvent error 2 exit with -8"},
                    false},
        FailureCase{"FirstFrameEvent", THostObject::FirstFrameEvent, -9,
                    {"TZYREvent::TZYREvent OpenEvent error 2",
                     kRun + "unable to open a pTheFirstFrameCapturedEvent event error 2 exit with -9"},
                    true},
        FailureCase{"HUDMutex", THostObject::HUDMutex, -10,
                    {kRun + "pTheFirstFrameCapturedEvent event has been opened", kRun + "unable to open a HUD mutex"},
                    true},
        FailureCase{"WebCamMutex", THostObject::WebCamMutex, -11,
                    {kRun + "HUD mutex has been opened", kRun + "unable to open a WebCam mutex"}, true},
        FailureCase{"RadialMenuMutex", THostObject::RadialMenuMutex, -12,
                    {kRun + "WebCam mutex has been opened", kRun + "unable to open a RadialMenu mutex"}, true},
        FailureCase{"WebCamBackgroundMutex", THostObject::WebCamBackgroundMutex, -13,
                    {kRun + "RadialMenu mutex has been opened", kRun + "unable to open a WebCamBackground mutex"},
                    true}),
    [](const ::testing::TestParamInfo<FailureCase>& paramInfo) { return std::string(paramInfo.param.name); });

TEST_F(EndToEnd, HeaderThatCannotBeMappedEndsWithMinusFive)
{
    TRefHostOptions options;
    options.ui64SectionSize = 4096;  // smaller than the header
    options.bUndersizedSection = true;
    const TCapturerRun run = RunToExit(options);
    ASSERT_TRUE(run.bExited);
    EXPECT_EQ(run.iExitCode, -5);
    EXPECT_FALSE(run.bStartedCorrectly);
    const std::regex line(R"(TZYRFullscreenCapturer::Run MapViewOfFile error [1-9][0-9]* exit with -5)");
    const int at = run.Find("WinMain exit with -5");
    ASSERT_GE(at, 1);
    EXPECT_TRUE(std::regex_match(run.records[at - 1].strText, line)) << run.records[at - 1].strText;
}

TEST_F(EndToEnd, WithAllFourAccessMutexesMissingOnlyTheHUDMutexIsTried)
{
    TRefHostOptions options;
    options.Omit(THostObject::HUDMutex);
    options.Omit(THostObject::WebCamMutex);
    options.Omit(THostObject::RadialMenuMutex);
    options.Omit(THostObject::WebCamBackgroundMutex);
    SetLogLevel(2);
    const TCapturerRun run = RunToExit(options);
    ASSERT_TRUE(run.bExited);
    EXPECT_EQ(run.iExitCode, -10);
    // Level 2 shows every mutex open: the instance check and the HUD mutex, nothing more.
    EXPECT_EQ(run.Count("TZYRMutex::TZYRMutex"), 2u);
    EXPECT_EQ(run.Count("TZYRMutex::TZYRMutex mutex name 'VQHooksHUDAccessMutex67777777773'"), 1u);
    EXPECT_EQ(run.Count("TZYRMutex::TZYRMutex mutex name 'VQHooksWebCamAccessMutex67777777773'"), 0u);
}

}  // namespace
