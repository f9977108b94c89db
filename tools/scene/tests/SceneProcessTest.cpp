// ZYRScene.exe on Wine's screen: every pixel read back with plain GDI matches the pattern, for
// each generation; the scene ends on quit and with its parent; its exit codes; ZYRSceneCtl.
#include "SceneApp.h"
#include "SceneTestSupport.h"

#include <gtest/gtest.h>

namespace {

using scene::Pattern;
using scenetest::ChildProcess;
using scenetest::CountMismatches;
using scenetest::GrabOnSecondThread;
using scenetest::kWaitMs;
using scenetest::SceneRun;
using scenetest::ScreenFrame;

int Width(const RECT& rect)
{
    return rect.right - rect.left;
}

int Height(const RECT& rect)
{
    return rect.bottom - rect.top;
}

std::wstring PrivateName(const wchar_t* what)
{
    return L"zyr-scene-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + what;
}

// Reads the screen at dstW x dstH and checks every pixel against `generation` within `tolerance`,
// and that the neighbouring generation would have failed the same check everywhere it differs.
void ExpectScreenShows(Pattern pattern, uint32_t generation, int dstW, int dstH, uint32_t tolerance)
{
    SCOPED_TRACE(testing::Message() << scene::PatternName(pattern) << " generation " << generation << " at " << dstW
                                    << "x" << dstH);
    const RECT monitor = scenetest::PrimaryMonitor();
    const ScreenFrame frame = GrabOnSecondThread(monitor, dstW, dstH);
    ASSERT_EQ(frame.result, scene::GrabResult::Ok)
        << scene::GrabResultName(frame.result) << ", error " << frame.dwError;
    std::string first;
    EXPECT_EQ(CountMismatches(frame, pattern, generation, Width(monitor), Height(monitor), tolerance, &first), 0u)
        << "first mismatches:" << first;
    const size_t staleMatches = frame.pixels.size() -
        CountMismatches(frame, pattern, generation + 1, Width(monitor), Height(monitor), tolerance, &first);
    EXPECT_EQ(staleMatches, 0u) << "pixels that the next generation would also explain";
}

TEST(SceneScreen, CoordsEveryPixelExactInEachGeneration)
{
    const RECT monitor = scenetest::PrimaryMonitor();
    SceneRun run;
    ASSERT_TRUE(run.Start(Pattern::Coords));
    ASSERT_TRUE(run.WaitReady());
    for (uint32_t generation = 0; generation < 3; ++generation) {
        if (generation > 0) {
            ASSERT_TRUE(run.Next()) << "generation " << generation;
        }
        ExpectScreenShows(Pattern::Coords, generation, Width(monitor), Height(monitor), 0);
    }
    EXPECT_EQ(run.Quit(), scene::kSceneExitOk);
}

// 1:1 exact, and HALFTONE-scaled frames within the smooth pattern's tolerance.
TEST(SceneScreen, SmoothExactAndScaled)
{
    const RECT monitor = scenetest::PrimaryMonitor();
    SceneRun run;
    ASSERT_TRUE(run.Start(Pattern::Smooth));
    ASSERT_TRUE(run.WaitReady());
    for (uint32_t generation = 0; generation < 2; ++generation) {
        if (generation > 0) {
            ASSERT_TRUE(run.Next()) << "generation " << generation;
        }
        ExpectScreenShows(Pattern::Smooth, generation, Width(monitor), Height(monitor), 0);
        ExpectScreenShows(Pattern::Smooth, generation, Width(monitor) * 2 / 3, Height(monitor) * 2 / 3,
                          scene::kSmoothScaledTolerance);
        ExpectScreenShows(Pattern::Smooth, generation, Width(monitor) / 4, Height(monitor) / 4,
                          scene::kSmoothScaledTolerance);
    }
    EXPECT_EQ(run.Quit(), scene::kSceneExitOk);
}

TEST(SceneProcess, EndsWhenItsParentEnds)
{
    const std::wstring parentEvent = PrivateName(L"parent");
    TKernelHandle hParentEvent(::CreateEventW(nullptr, FALSE, FALSE, parentEvent.c_str()));
    ASSERT_TRUE(hParentEvent);
    ChildProcess parent;
    ASSERT_TRUE(parent.Start(scenetest::SceneCtlExePath(), L"wait " + parentEvent + L" " + std::to_wstring(kWaitMs)));
    SceneRun run;
    ASSERT_TRUE(run.Start(Pattern::Smooth, L"--parent " + std::to_wstring(parent.Id())));
    ASSERT_TRUE(run.WaitReady());
    int exitCode = 1;
    EXPECT_FALSE(run.Process().WaitExit(0, &exitCode)) << "the scene ended while its parent runs";

    ::SetEvent(hParentEvent.Get());
    ASSERT_TRUE(parent.WaitExit(kWaitMs, &exitCode));
    EXPECT_EQ(exitCode, 0);
    exitCode = 1;
    ASSERT_TRUE(run.Process().WaitExit(kWaitMs, &exitCode)) << "the scene outlived its parent";
    EXPECT_EQ(exitCode, scene::kSceneExitOk);
}

TEST(SceneProcess, QuitSetBeforeStartEndsAtOnce)
{
    const std::wstring quitName = PrivateName(L"early-quit");
    TKernelHandle hQuit(::CreateEventW(nullptr, TRUE, TRUE, quitName.c_str()));
    ASSERT_TRUE(hQuit);
    ChildProcess scene;
    ASSERT_TRUE(scene.Start(scenetest::SceneExePath(), L"--quit-event " + quitName));
    int exitCode = 1;
    ASSERT_TRUE(scene.WaitExit(kWaitMs, &exitCode));
    EXPECT_EQ(exitCode, scene::kSceneExitOk);
}

TEST(SceneProcess, ExitCodes)
{
    // A process that has ended but whose object is kept (its id cannot be reused meanwhile).
    ChildProcess ended;
    ASSERT_TRUE(ended.Start(scenetest::SceneCtlExePath(), L"set " + PrivateName(L"ended")));
    int exitCode = 1;
    ASSERT_TRUE(ended.WaitExit(kWaitMs, &exitCode));
    ASSERT_EQ(exitCode, 0);

    struct Case {
        const char* name;
        bool bScene;  // ZYRScene.exe, else ZYRSceneCtl.exe
        std::wstring arguments;
        int expected;
    };
    const Case cases[] = {
        {"scene: unknown option", true, L"--colour red", scene::kSceneExitBadArguments},
        {"scene: unknown pattern", true, L"--pattern noise", scene::kSceneExitBadArguments},
        {"scene: option without value", true, L"--quit-event", scene::kSceneExitBadArguments},
        {"scene: parent already ended", true, L"--parent " + std::to_wstring(ended.Id()), scene::kSceneExitNoParent},
        {"ctl: no verb", false, L"", 2},
        {"ctl: wait without timeout", false, L"wait " + PrivateName(L"ctl"), 2},
        {"ctl: unknown verb", false, L"reset " + PrivateName(L"ctl"), 2},
        {"ctl: wait times out", false, L"wait " + PrivateName(L"ctl") + L" 50", 1},
        {"ctl: set", false, L"set " + PrivateName(L"ctl"), 0},
        {"ctl: wait finds it set", false, L"wait " + PrivateName(L"ctl") + L" 100", 0},
    };
    // The set event must outlive the ctl process that set it, for the next case to find it.
    TKernelHandle hCtlEvent(::CreateEventW(nullptr, FALSE, FALSE, PrivateName(L"ctl").c_str()));
    ASSERT_TRUE(hCtlEvent);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ChildProcess child;
        ASSERT_TRUE(child.Start(c.bScene ? scenetest::SceneExePath() : scenetest::SceneCtlExePath(), c.arguments));
        exitCode = 12345;
        ASSERT_TRUE(child.WaitExit(kWaitMs, &exitCode));
        EXPECT_EQ(exitCode, c.expected);
    }
}

}  // namespace
