// The pointer over the scene: ZYRSceneCtl pointer and ZYRScene --pointer put it there, and the
// scene's class cursor is then the cursor GetCursorInfo reports to any process (the capturer's
// cursor drawer and the host's cursor publisher rely on it).
#include "SceneApp.h"
#include "SceneTestSupport.h"

#include <gtest/gtest.h>

namespace {

using scene::Pattern;
using scenetest::ChildProcess;
using scenetest::kWaitMs;
using scenetest::SceneRun;

// Waits (bounded) until GetCursorInfo shows a cursor at (x, y): the scene's thread takes the
// move from its queue, and only then is its class cursor the current one.
bool WaitCursorAt(int x, int y, CURSORINFO* pInfo)
{
    const ULONGLONG ullStart = ::GetTickCount64();
    for (;;) {
        *pInfo = CURSORINFO{};
        pInfo->cbSize = sizeof *pInfo;
        const bool bRead = ::GetCursorInfo(pInfo) != FALSE;
        if (bRead && pInfo->hCursor != nullptr && pInfo->ptScreenPos.x == x && pInfo->ptScreenPos.y == y) {
            return true;
        }
        if (::GetTickCount64() - ullStart >= kWaitMs) {
            return false;
        }
        ::Sleep(5);
    }
}

void ExpectSceneCursorAt(int x, int y)
{
    CURSORINFO info{};
    ASSERT_TRUE(WaitCursorAt(x, y, &info)) << "GetCursorInfo: handle " << info.hCursor << " at ("
                                           << info.ptScreenPos.x << ", " << info.ptScreenPos.y << ")";
    EXPECT_EQ(info.flags & CURSOR_SHOWING, static_cast<DWORD>(CURSOR_SHOWING));
    // Only the value can be checked here: under Wine 8 each process loads its own copy of a
    // system cursor (this process's IDC_ARROW is another handle), and a cursor handle of another
    // process cannot be read (GetIconInfo fails with ERROR_INVALID_CURSOR_HANDLE).
}

int RunCtl(const std::wstring& arguments)
{
    ChildProcess ctl;
    int exitCode = 12345;
    EXPECT_TRUE(ctl.Start(scenetest::SceneCtlExePath(), arguments));
    EXPECT_TRUE(ctl.WaitExit(kWaitMs, &exitCode));
    return exitCode;
}

TEST(ScenePointer, CtlPointerPutsThePointerOnTheSceneAndItsCursorShows)
{
    SceneRun run;
    ASSERT_TRUE(run.Start(Pattern::Coords));
    ASSERT_TRUE(run.WaitReady());
    for (const POINT point : {POINT{100, 80}, POINT{1500, 900}, POINT{100, 80}}) {
        SCOPED_TRACE(testing::Message() << "(" << point.x << ", " << point.y << ")");
        ASSERT_EQ(RunCtl(L"pointer " + std::to_wstring(point.x) + L" " + std::to_wstring(point.y)), 0);
        ExpectSceneCursorAt(point.x, point.y);
    }
    EXPECT_EQ(run.Quit(), scene::kSceneExitOk);
}

TEST(ScenePointer, PointerOptionMovesThePointerOnceTheSceneIsShown)
{
    ASSERT_EQ(RunCtl(L"pointer 7 9"), 0);
    SceneRun run;
    ASSERT_TRUE(run.Start(Pattern::Smooth, L"--pointer 640,360"));
    ASSERT_TRUE(run.WaitReady());
    ExpectSceneCursorAt(640, 360);
    EXPECT_EQ(run.Quit(), scene::kSceneExitOk);
}

TEST(ScenePointer, CtlPointerRefusesBadArguments)
{
    struct Case {
        const char* name;
        std::wstring arguments;
        int expected;
    };
    const Case cases[] = {
        {"no coordinates", L"pointer", 2},
        {"one coordinate", L"pointer 10", 2},
        {"three coordinates", L"pointer 1 2 3", 2},
        {"word", L"pointer x 2", 2},
        {"beyond int", L"pointer 2147483648 0", 2},
        {"comma form", L"pointer 1,2", 2},
        {"negative is a coordinate", L"pointer -1 0", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RunCtl(c.arguments), c.expected);
    }
}

}  // namespace
