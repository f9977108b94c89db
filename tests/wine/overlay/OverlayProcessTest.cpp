// Starting and terminating the overlay process, the stand-in overlay program as a process, and the
// monitor of the foreground window. fullscreenoverlay.exe sits beside this test program, as it
// sits beside the capturer.
#include "OverlayServer.h"
#include "OverlayTestSupport.h"
#include "ProcessLogServer.h"

#include "app/TZYRFullscreenCapturer.h"
#include "ipc/TFullscreenOverlayCommands.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

const std::string kStart = "TZYRFullscreenCapturer::StartFullscreenOverlay";
const std::string kTerminate = "TZYRFullscreenCapturer::TerminateFullscreenOverlay";
const std::string kMonitor = "TZYRFullscreenCapturer::GetMonitorForActiveApplication";
constexpr DWORD kProcessBoundMs = 30000;

std::wstring OverlayPath()
{
    return TestProgramDirectory() + L"fullscreenoverlay.exe";
}

// Moves the overlay program aside for one scope, so that starting it fails as on a machine
// without it; puts it back when the scope ends.
class OverlayMovedAside {
public:
    OverlayMovedAside() : aside(OverlayPath() + L".aside")
    {
        bMoved = ::MoveFileExW(OverlayPath().c_str(), aside.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
    }
    ~OverlayMovedAside()
    {
        if (bMoved) {
            ::MoveFileExW(aside.c_str(), OverlayPath().c_str(), MOVEFILE_REPLACE_EXISTING);
        }
    }
    bool IsMoved() const { return bMoved; }

private:
    std::wstring aside;
    bool bMoved = false;
};

// The process handle that StartFullscreenOverlay logged, duplicated so that the test keeps its own
// handle after TerminateFullscreenOverlay closes the capturer's.
TKernelHandle DuplicateLoggedHandle(const std::vector<std::string>& texts)
{
    const std::string prefix = kStart + " overlay process has been started handle ";
    for (const std::string& text : texts) {
        if (StartsWith(text, prefix)) {
            const HANDLE hLogged =
                reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::strtoull(text.c_str() + prefix.size(), nullptr, 16)));
            HANDLE hCopy = nullptr;
            ::DuplicateHandle(::GetCurrentProcess(), hLogged, ::GetCurrentProcess(), &hCopy, 0, FALSE,
                              DUPLICATE_SAME_ACCESS);
            return TKernelHandle(hCopy);
        }
    }
    return TKernelHandle();
}

class OverlayProcess : public ::testing::Test {
protected:
    void CreateHost()
    {
        std::wstring error;
        ASSERT_TRUE(host.CreateObjects(FrameBufferOnlyOptions(), &error));
    }
    TRefHost host;
    std::unique_ptr<TZYRFullscreenCapturer> capturer = std::make_unique<TZYRFullscreenCapturer>(::GetModuleHandleW(nullptr));
};

TEST_F(OverlayProcess, MissingOverlayProgramFailsToStartAndTerminateOnlyLogs)
{
    OverlayMovedAside moved;
    ASSERT_TRUE(moved.IsMoved());
    size_t mark = LogMark();
    EXPECT_FALSE(capturer->StartFullscreenOverlay());
    const std::vector<std::string> expected = {kStart, kStart + " ShellExecuteEx error 2", kStart + " exit with 0"};
    EXPECT_EQ(TextsSince(mark), expected);
    mark = LogMark();
    capturer->TerminateFullscreenOverlay();
    EXPECT_EQ(TextsSince(mark), (std::vector<std::string>{kTerminate, kTerminate + " exit"}));
}

TEST_F(OverlayProcess, RunningOverlayServesTheChannelAndIsTerminated)
{
    CreateHost();
    auto client = std::make_unique<TFullscreenOverlayCommandsClient>();
    size_t mark = LogMark();
    ASSERT_TRUE(capturer->StartFullscreenOverlay());
    std::vector<std::string> texts = TextsSince(mark);
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0], kStart);
    EXPECT_EQ(texts[2], kStart + " exit with 1");
    TKernelHandle hOverlay = DuplicateLoggedHandle(texts);
    ASSERT_TRUE(hOverlay) << texts[1];

    // The overlay marks itself up only after it opened this process by the id it was given.
    ASSERT_TRUE(WaitUntil([&] { return host.Header()->bOverlayStatus == overlay::kOverlayRunning; }, kProcessBoundMs));
    // The client's own wait is 200 ms; another process's answer is awaited here with a generous
    // bound, so a loaded machine cannot make the test fail.
    client->SendCommand(overlay::kCommandStart);
    EXPECT_TRUE(WaitUntil([&] { return host.Header()->ui32OverlayCommandStatus == overlay::kStatusDone; },
                          kProcessBoundMs));

    mark = LogMark();
    capturer->TerminateFullscreenOverlay();
    const std::vector<std::string> expected = {kTerminate, kTerminate + " overlay process has been terminated",
                                               kTerminate + " exit"};
    EXPECT_EQ(TextsSince(mark), expected);
    int exitCode = -100;
    ASSERT_TRUE(WaitExitCode(hOverlay.Get(), kProcessBoundMs, &exitCode));
    EXPECT_EQ(exitCode, 0) << "terminated with exit code 0";
}

TEST_F(OverlayProcess, OverlayThatEndedOnItsOwnIsNotTerminatedAgain)
{
    // Without a frame buffer the stand-in ends at once, after opening this process by its id.
    size_t mark = LogMark();
    ASSERT_TRUE(capturer->StartFullscreenOverlay());
    TKernelHandle hOverlay = DuplicateLoggedHandle(TextsSince(mark));
    ASSERT_TRUE(hOverlay);
    int exitCode = 0;
    ASSERT_TRUE(WaitExitCode(hOverlay.Get(), kProcessBoundMs, &exitCode));
    EXPECT_EQ(exitCode, -3) << "no frame buffer; -2 would mean the process id parameter was wrong";
    mark = LogMark();
    capturer->TerminateFullscreenOverlay();
    const std::vector<std::string> expected = {kTerminate, kTerminate + " overlay process was terminated before",
                                               kTerminate + " exit"};
    EXPECT_EQ(TextsSince(mark), expected);
    // The capturer keeps its handle open in this case: a second call finds the same ended process.
    mark = LogMark();
    capturer->TerminateFullscreenOverlay();
    EXPECT_EQ(TextsSince(mark), expected);
}

// The stand-in as a process: it serves commands until the process it was given ends, and its exit
// code counts the commands.
TEST(OverlayStandInProgram, ServesUntilItsCapturerEndsAndCountsTheCommands)
{
    TRefHost host;
    std::wstring error;
    ASSERT_TRUE(host.CreateObjects(FrameBufferOnlyOptions(), &error));
    auto client = std::make_unique<TFullscreenOverlayCommandsClient>();
    const std::wstring endName = L"zyr-overlay-fake-capturer-end-" + std::to_wstring(::GetCurrentProcessId());
    TKernelHandle hEnd(::CreateEventW(nullptr, TRUE, FALSE, endName.c_str()));
    TKernelHandle hFakeCapturer = StartProgram(TestProgramDirectory() + L"overlay_fake_capturer.exe", endName);
    ASSERT_TRUE(hFakeCapturer);
    TKernelHandle hOverlay =
        StartProgram(OverlayPath(), std::to_wstring(::GetProcessId(hFakeCapturer.Get())));
    ASSERT_TRUE(hOverlay);
    ASSERT_TRUE(WaitUntil([&] { return host.Header()->bOverlayStatus == overlay::kOverlayRunning; }, kProcessBoundMs));
    for (uint32_t command : {1u, 9u}) {
        SCOPED_TRACE(command);
        client->SendCommand(command);
        const uint32_t status = overlay::StatusForCommand(command);
        EXPECT_TRUE(WaitUntil([&] { return host.Header()->ui32OverlayCommandStatus == status; }, kProcessBoundMs));
    }
    ASSERT_TRUE(::SetEvent(hEnd.Get()));
    int exitCode = -100;
    ASSERT_TRUE(WaitExitCode(hFakeCapturer.Get(), kProcessBoundMs, &exitCode));
    EXPECT_EQ(exitCode, 0);
    ASSERT_TRUE(WaitExitCode(hOverlay.Get(), kProcessBoundMs, &exitCode)) << "ends with its capturer";
    EXPECT_EQ(exitCode, 2);
}

TEST(OverlayStandInProgram, RefusesBadArgumentsAndAMissingCapturer)
{
    struct Case {
        const char* name;
        std::wstring arguments;
        int exitCode;
    };
    const Case cases[] = {
        {"no argument", L"", -1},
        {"not a number", L"12x", -1},
        {"zero", L"0", -1},
        {"two arguments", L"1 2", -1},
        {"no such process", L"4294967290", -2},
        {"no frame buffer", std::to_wstring(::GetCurrentProcessId()), -3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TKernelHandle hOverlay = StartProgram(OverlayPath(), c.arguments);
        ASSERT_TRUE(hOverlay);
        int exitCode = 0;
        ASSERT_TRUE(WaitExitCode(hOverlay.Get(), kProcessBoundMs, &exitCode));
        EXPECT_EQ(exitCode, c.exitCode);
    }
}

// Wine gives one monitor, \\.\DISPLAY1. Whether a window is in the foreground depends on what
// ran before on this desktop; each state is checked for what it must give.
TEST(MonitorForActiveApplication, NameOfTheForegroundWindowsMonitorOrEmpty)
{
    const HWND hForeground = ::GetForegroundWindow();
    const size_t mark = LogMark();
    const std::wstring name = TZYRFullscreenCapturer::GetMonitorForActiveApplication();
    const std::vector<std::string> texts = TextsSince(mark);
    if (hForeground == nullptr) {
        EXPECT_EQ(name, L"");
        ASSERT_EQ(texts.size(), 1u);
        EXPECT_TRUE(StartsWith(texts[0], kMonitor + " unable to find the foreground window error ")) << texts[0];
    } else {
        EXPECT_EQ(name, L"\\\\.\\DISPLAY1");
        EXPECT_TRUE(texts.empty()) << "no entry or exit line";
    }
}

// A visible popup window of this process, destroyed with its owner.
class OwnWindow {
public:
    OwnWindow()
    {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = ::DefWindowProcW;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"ZYROverlayTestWindow";
        ::RegisterClassW(&windowClass);
        hWindow = ::CreateWindowExW(WS_EX_TOPMOST, windowClass.lpszClassName, L"overlay test", WS_POPUP | WS_VISIBLE,
                                    100, 100, 300, 200, nullptr, nullptr, windowClass.hInstance, nullptr);
    }
    ~OwnWindow()
    {
        if (hWindow != nullptr) {
            ::DestroyWindow(hWindow);
        }
    }
    OwnWindow(const OwnWindow&) = delete;
    OwnWindow& operator=(const OwnWindow&) = delete;
    HWND Get() const { return hWindow; }

private:
    HWND hWindow = nullptr;
};

void PumpMessages()
{
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

TEST(MonitorForActiveApplication, OwnForegroundWindowIsOnTheFirstDisplay)
{
    OwnWindow window;
    if (window.Get() == nullptr) {
        // Wine creates windows only with an X display (the test scripts start Xvfb).
        GTEST_SKIP() << "no display: CreateWindowExW error " << ::GetLastError();
    }
    ::SetForegroundWindow(window.Get());
    ASSERT_TRUE(WaitUntil([&] {
        PumpMessages();
        return ::GetForegroundWindow() == window.Get();
    }, kProcessBoundMs));
    const size_t mark = LogMark();
    EXPECT_EQ(TZYRFullscreenCapturer::GetMonitorForActiveApplication(), L"\\\\.\\DISPLAY1");
    EXPECT_TRUE(TextsSince(mark).empty()) << "no entry or exit line";
}

}  // namespace
