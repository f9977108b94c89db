// ZYRSoakHost.exe: a recording host's long day, sampled.
//
//   ZYRSoakHost --capturer PATH --baseline PATH [--seconds N] [--method 0|1] [--restart-seconds N]
//               [--sample-seconds N] [--settle-seconds N] [--judge-rate 0|1]
//
// The capturer runs pipelined at the highest rate this host reaches (all six slots requested, each
// re-requested as soon as it is ready), with the mouse cursor drawn: the pointer alternates every
// 5 s between the scene (whatever class cursor it shows; soak.sh puts it at the screen's centre)
// and a window of this tool with the cross cursor, and before each move the host's cursor picture
// switches between colour and monochrome. The webcam picture and its chroma-key background are
// rewritten under their mutexes at 30 Hz. Every 7 s capture is switched off for a second and one
// single frame is taken meanwhile. Every --restart-seconds the capturer is stopped and started
// again with the other frame size (the whole screen 1:1, then 1280 x 720); the last session
// always has the first size, so the first and the last minute compare like with like.
//
// Every --sample-seconds one line per sample: the capturer's figures and those of the baseline, a
// bare loop of the platform calls the method makes per frame running beside it (soak.sh: the BitBlt
// loop ZYRBlitLoopBench for method 1, the Direct3D loop ZYRD3DLoopBench for method 0), so that
// Wine's own growth shows apart from ours. At the end one verdict line for each (SoakVerdict.h);
// exit 0 when the capturer's passed.
#include "ProcessProbe.h"
#include "SoakVerdict.h"

#include "CommandLineArguments.h"
#include "TCursorPublisher.h"
#include "TFrameClient.h"
#include "TRefHost.h"
#include "TWebCamProducer.h"
#include "ToolClock.h"
#include "ToolOptions.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

struct TSoakOptions {
    std::wstring wsCapturer;
    std::wstring wsBaseline;  // started with "--seconds N" only
    int64_t seconds = 600;
    int64_t method = 1;
    int64_t restartSeconds = 200;
    int64_t sampleSeconds = 10;
    int64_t settleSeconds = 60;
    int64_t judgeRate = 1;  // 0: the frame rates are printed, not judged (short runs swing too much)
};

bool ParseOptions(const std::vector<std::wstring>& args, TSoakOptions* pOptions, std::wstring* pError)
{
    std::set<std::wstring> seen;
    const bool bParsed = toolargs::ParseOptionPairs(
        args,
        {L"--capturer", L"--baseline", L"--seconds", L"--method", L"--restart-seconds", L"--sample-seconds",
         L"--settle-seconds", L"--judge-rate"},
        [&](const std::wstring& option, const std::wstring& value) {
            if (option == L"--capturer") {
                pOptions->wsCapturer = value;
                return true;
            }
            if (option == L"--baseline") {
                pOptions->wsBaseline = value;
                return true;
            }
            if (option == L"--method") {
                return toolargs::ParseInRange(value, 0, 1, &pOptions->method);
            }
            if (option == L"--judge-rate") {
                return toolargs::ParseInRange(value, 0, 1, &pOptions->judgeRate);
            }
            int64_t* pTarget = option == L"--seconds"           ? &pOptions->seconds
                               : option == L"--restart-seconds" ? &pOptions->restartSeconds
                               : option == L"--sample-seconds"  ? &pOptions->sampleSeconds
                                                                : &pOptions->settleSeconds;
            return toolargs::ParseInRange(value, option == L"--restart-seconds" ? 0 : 1, 86400, pTarget);
        },
        &seen, pError);
    if (bParsed && (pOptions->wsCapturer.empty() || pOptions->wsBaseline.empty())) {
        *pError = L"--capturer and --baseline are needed";
        return false;
    }
    return bParsed;
}

using toolclock::NowSeconds;

std::wstring FileNameOf(const std::wstring& wsPath)
{
    return wsPath.substr(wsPath.find_last_of(L"\\/") + 1);
}

// A small window with the cross cursor in the screen's top-left corner, on a thread of its own that
// answers WM_SETCURSOR, so the pointer over it makes the cross the cursor every process sees.
class TCursorWindow {
public:
    static constexpr int kSize = 160;
    TCursorWindow()
    {
        thread = std::thread([this] { Run(); });
        while (hWindow.load() == nullptr && !bFailed.load()) {
            ::Sleep(1);
        }
    }
    ~TCursorWindow()
    {
        if (HWND hWnd = hWindow.load()) {
            ::PostMessageW(hWnd, WM_CLOSE, 0, 0);
        }
        thread.join();
    }
    bool IsShown() const { return hWindow.load() != nullptr; }

private:
    static LRESULT CALLBACK Procedure(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_DESTROY) {
            ::PostQuitMessage(0);
            return 0;
        }
        return ::DefWindowProcW(hWnd, message, wParam, lParam);
    }
    void Run()
    {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = Procedure;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.hCursor = ::LoadCursorW(nullptr, IDC_CROSS);
        windowClass.hbrBackground = static_cast<HBRUSH>(::GetStockObject(GRAY_BRUSH));
        windowClass.lpszClassName = L"ZYRSoakCursorWindow";
        ::RegisterClassW(&windowClass);
        const HWND hWnd = ::CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, windowClass.lpszClassName, L"soak",
                                            WS_POPUP | WS_VISIBLE, 0, 0, kSize, kSize, nullptr, nullptr,
                                            windowClass.hInstance, nullptr);
        if (hWnd == nullptr) {
            bFailed = true;
            return;
        }
        hWindow = hWnd;
        MSG message;
        while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
            ::DispatchMessageW(&message);
        }
    }

    std::atomic<HWND> hWindow{nullptr};
    std::atomic<bool> bFailed{false};
    std::thread thread;
};

// One capturer process with its host objects, cursor publisher and webcam producer.
class TSoakSession {
public:
    bool Start(const TSoakOptions& options, bool bFullSize, refcursor::TCursorPicture picture)
    {
        TRefHostOptions hostOptions;
        hostOptions.ui32CaptureMethod = static_cast<uint32_t>(options.method);
        hostOptions.bDrawMouseCursor = true;
        hostOptions.bWebCam = true;
        hostOptions.bChromaKeying = true;
        if (!bFullSize) {
            hostOptions.iRequestedWidth = 1280;
            hostOptions.iRequestedHeight = 720;
        }
        std::wstring error;
        if (!host.CreateObjects(hostOptions, &error) || !host.StartCapturer(options.wsCapturer, 0, nullptr, &error)) {
            std::fprintf(stderr, "soak: %ls\n", error.c_str());
            return false;
        }
        if (!host.WaitStartedCorrectly(30000)) {
            std::fprintf(stderr, "soak: the capturer did not start correctly\n");
            return false;
        }
        webCam = std::make_unique<TWebCamProducer>(host, 30.0);
        webCam->Start();
        SwitchCursor(picture);
        frames = std::make_unique<TFrameClient>(host);
        for (uint32_t slot = 0; slot < kFrameSlotCount; ++slot) {
            frames->Request(slot);
        }
        return true;
    }
    void SwitchCursor(refcursor::TCursorPicture picture)
    {
        if (cursor) {
            cursor->Stop();
            ui32EarlierCursorEvents += cursor->EventsReceived();
        }
        cursor = std::make_unique<TCursorPublisher>(host, TCursorPublisherOptions{picture, 0, 0});
        cursor->Start();
    }
    // Serves every ready slot in order and requests it again; false when the capturer ended.
    bool Pump()
    {
        while (frames->Poll(ui32Slot) == TSlotState::Ready) {
            frames->Request(ui32Slot);
            ui32Slot = (ui32Slot + 1) % kFrameSlotCount;
            ++ui64Frames;
        }
        return !WaitPollInterval(host.CapturerProcess());
    }
    // Capture off; the frame under way lands and is served, so that the next slot in order is the
    // capturer's current one; one single frame into that slot; capture stays off until CaptureOn.
    // False when the frame under way or the single frame did not come. (A fixed drain time is
    // not enough: a method-0 frame under load takes longer than 0.3 s now and then, and a single
    // frame asked for before it landed fills the slot after the one this host waits for.)
    bool SingleFrameWithCaptureOff()
    {
        TFrameBufferHeader* pHeader = host.Header();
        std::atomic_ref<uint8_t>(pHeader->bCaptureEnabled).store(0);
        // The capturer reads the flag and takes a slot in one step of its loop: 20 ms on, a frame
        // it took on the old flag shows as under way.
        const double settledAt = NowSeconds() + 0.02;
        const double drainUntil = NowSeconds() + 5;
        do {
            if (!Pump() || NowSeconds() >= drainUntil) {
                return false;
            }
        } while (NowSeconds() < settledAt || frames->FrameUnderWay());
        Pump();  // the frame that landed last
        std::atomic_ref<int32_t>(pHeader->iSingleFrameState).store(1);
        const double giveUpAt = NowSeconds() + 5;
        while (NowSeconds() < giveUpAt) {
            if (frames->Poll(ui32Slot) == TSlotState::Ready &&
                std::atomic_ref<int32_t>(pHeader->iSingleFrameState).load() == 0) {
                frames->Request(ui32Slot);  // a single frame does not move the capturer's slot
                ++ui64Frames;
                ++ui32SingleFrames;
                return true;
            }
            if (WaitPollInterval(host.CapturerProcess())) {
                return false;
            }
        }
        return false;
    }
    void CaptureOn() { std::atomic_ref<uint8_t>(host.Header()->bCaptureEnabled).store(1); }
    // Stops the capturer as a host does; its exit code, or a note that it had to be ended.
    int Stop()
    {
        if (cursor) {
            cursor->Stop();
        }
        if (webCam) {
            webCam->Stop();
        }
        host.SignalUninstall();
        int exitCode = -1;
        return host.WaitCapturerExit(10000, &exitCode) ? exitCode : -1000;
    }
    HANDLE CapturerProcess() const { return host.CapturerProcess(); }
    DWORD CapturerProcessId() const { return host.CapturerProcessId(); }
    uint64_t Frames() const { return ui64Frames; }
    uint32_t SingleFrames() const { return ui32SingleFrames; }
    uint32_t CursorEvents() const { return ui32EarlierCursorEvents + (cursor ? cursor->EventsReceived() : 0); }

private:
    TRefHost host;
    std::unique_ptr<TCursorPublisher> cursor;  // declared after the host: stopped and gone first
    std::unique_ptr<TWebCamProducer> webCam;
    std::unique_ptr<TFrameClient> frames;
    uint32_t ui32Slot = 0;
    uint64_t ui64Frames = 0;
    uint32_t ui32SingleFrames = 0;
    uint32_t ui32EarlierCursorEvents = 0;  // of the publishers replaced by SwitchCursor
};

// A child process owned by this tool (the bare BitBlt loop).
class TChildProcess {
public:
    bool Start(const std::wstring& commandLine)
    {
        std::wstring mutableLine = commandLine;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (!::CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
            return false;
        }
        ::CloseHandle(info.hThread);
        hProcess.Reset(info.hProcess);
        return true;
    }
    ~TChildProcess()
    {
        if (hProcess) {
            ::TerminateProcess(hProcess.Get(), 0);
            ::WaitForSingleObject(hProcess.Get(), 5000);
        }
    }
    HANDLE Get() const { return hProcess.Get(); }

private:
    TKernelHandle hProcess;
};

soak::TSample ToSample(const TProcessFigures& figures, uint32_t session, double seconds, double sessionSeconds,
                       uint64_t frames)
{
    soak::TSample sample;
    sample.ui32Session = session;
    sample.dSeconds = seconds;
    sample.dSessionSeconds = sessionSeconds;
    sample.ui64Frames = frames;
    sample.ui64MemoryBytes = figures.JudgedMemory();
    // Wine reports no handle count of other processes: the system handle table stands in.
    sample.ui64Handles = figures.ui64Handles != 0 ? figures.ui64Handles : figures.ui64TableHandles;
    sample.ui64GdiObjects = figures.ui64GdiObjects;
    sample.ui64UserObjects = figures.ui64UserObjects;
    return sample;
}

void PrintFigures(const char* who, const TProcessFigures& figures)
{
    std::printf(" %s: private=%llu ws=%llu rss_anon=%llu handles=%llu table_handles=%llu open_files=%llu gdi=%llu "
                "user=%llu",
                who, static_cast<unsigned long long>(figures.ui64PrivateBytes),
                static_cast<unsigned long long>(figures.ui64WorkingSet),
                static_cast<unsigned long long>(figures.ui64RssAnonBytes),
                static_cast<unsigned long long>(figures.ui64Handles),
                static_cast<unsigned long long>(figures.ui64TableHandles),
                static_cast<unsigned long long>(figures.ui64OpenFiles),
                static_cast<unsigned long long>(figures.ui64GdiObjects),
                static_cast<unsigned long long>(figures.ui64UserObjects));
}

int RunSoak(const TSoakOptions& options)
{
    TCursorWindow cursorWindow;
    if (!cursorWindow.IsShown()) {
        std::fprintf(stderr, "soak: no cursor window\n");
        return 1;
    }
    TChildProcess baseline;
    if (!baseline.Start(L"\"" + options.wsBaseline + L"\" --seconds " + std::to_wstring(options.seconds + 60))) {
        std::fprintf(stderr, "soak: the baseline did not start (%lu)\n", ::GetLastError());
        return 1;
    }
    TProcessProbe baselineProbe(baseline.Get(), FileNameOf(options.wsBaseline), L"");
    const POINT scenePoint{::GetSystemMetrics(SM_CXSCREEN) / 2, ::GetSystemMetrics(SM_CYSCREEN) / 2};
    const POINT windowPoint{TCursorWindow::kSize / 2, TCursorWindow::kSize / 2};
    const std::wstring hostPid = std::to_wstring(::GetCurrentProcessId());
    const std::wstring exeName = FileNameOf(options.wsCapturer);

    const uint32_t sessions = options.restartSeconds == 0
                                  ? 1
                                  : static_cast<uint32_t>((options.seconds + options.restartSeconds - 1) / options.restartSeconds);
    std::vector<soak::TSample> capturerSamples;
    std::vector<soak::TSample> baselineSamples;
    const double start = NowSeconds();
    const double end = start + static_cast<double>(options.seconds);
    bool bColour = true;
    bool bOk = true;
    for (uint32_t session = 0; session < sessions && bOk; ++session) {
        const bool bFullSize = session + 1 == sessions || session % 2 == 0;
        TSoakSession run;
        if (!run.Start(options, bFullSize, bColour ? refcursor::TCursorPicture::Colour : refcursor::TCursorPicture::Monochrome)) {
            return 1;
        }
        TKernelHandle hCapturer(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE,
                                              run.CapturerProcessId()));
        TProcessProbe capturerProbe(hCapturer.Get(), exeName, hostPid);
        const double sessionStart = NowSeconds();
        const double sessionEnd = session + 1 == sessions ? end : sessionStart + static_cast<double>(options.restartSeconds);
        double nextSample = sessionStart + static_cast<double>(options.sampleSeconds);
        double nextCursorSwitch = sessionStart + 5;
        double nextCaptureOff = sessionStart + 7;
        uint64_t framesAtLastSample = 0;
        double lastSampleAt = sessionStart;
        std::printf("session %u size=%s capturer-pid %lu\n", session, bFullSize ? "screen" : "1280x720",
                    run.CapturerProcessId());
        std::fflush(stdout);
        while (NowSeconds() < sessionEnd) {
            if (!run.Pump()) {
                std::printf("soak: the capturer ended during session %u\n", session);
                bOk = false;
                break;
            }
            const double now = NowSeconds();
            if (now >= nextCursorSwitch) {
                bColour = !bColour;
                run.SwitchCursor(bColour ? refcursor::TCursorPicture::Colour : refcursor::TCursorPicture::Monochrome);
                const POINT target = bColour ? scenePoint : windowPoint;
                ::SetCursorPos(target.x, target.y);
                nextCursorSwitch = now + 5;
            }
            if (now >= nextCaptureOff) {
                if (!run.SingleFrameWithCaptureOff()) {
                    std::printf("soak: no single frame with capture off in session %u\n", session);
                    bOk = false;
                }
                const double offUntil = NowSeconds() + 1;
                while (NowSeconds() < offUntil && !WaitPollInterval(run.CapturerProcess())) {
                }
                run.CaptureOn();
                nextCaptureOff = NowSeconds() + 7;
            }
            if (now >= nextSample) {
                const double seconds = now - start;
                const TProcessFigures capturer = capturerProbe.Sample();
                const TProcessFigures base = baselineProbe.Sample();
                capturerSamples.push_back(ToSample(capturer, session, seconds, now - sessionStart, run.Frames()));
                baselineSamples.push_back(ToSample(base, 0, seconds, seconds, 0));
                std::printf("sample t=%.0f session=%u frames=%llu fps=%.1f single_frames=%u cursor_events=%u", seconds,
                            session, static_cast<unsigned long long>(run.Frames()),
                            static_cast<double>(run.Frames() - framesAtLastSample) / (now - lastSampleAt),
                            run.SingleFrames(), run.CursorEvents());
                PrintFigures("capturer", capturer);
                PrintFigures("baseline", base);
                std::printf("\n");
                std::fflush(stdout);
                framesAtLastSample = run.Frames();
                lastSampleAt = now;
                nextSample = now + static_cast<double>(options.sampleSeconds);
            }
        }
        const int exitCode = run.Stop();
        std::printf("session %u frames=%llu exit-code %d\n", session, static_cast<unsigned long long>(run.Frames()), exitCode);
        bOk = bOk && exitCode == 0;
    }
    soak::TLimits limits;
    limits.dSettleSeconds = static_cast<double>(options.settleSeconds);
    // A short run (CI) compares shorter windows than a minute.
    limits.dRateWindowSeconds = std::min(60.0, limits.dSettleSeconds);
    limits.bJudgeRate = options.judgeRate != 0;
    const soak::TVerdict capturer = soak::Judge(capturerSamples, limits);
    std::printf("capturer %s\n", soak::FormatVerdict(capturer).c_str());
    // The baseline serves no frames: only its memory and handles say something.
    soak::TLimits baselineLimits = limits;
    baselineLimits.bJudgeRate = false;
    std::printf("baseline %s\n", soak::FormatVerdict(soak::Judge(baselineSamples, baselineLimits)).c_str());
    std::fflush(stdout);
    return bOk && capturer.bPassed ? 0 : 3;
}

}  // namespace

int wmain()
{
    TSoakOptions options;
    std::wstring error;
    if (!ParseOptions(toolargs::CommandLineArguments(), &options, &error)) {
        std::fprintf(stderr, "ZYRSoakHost: %ls\n", error.c_str());
        return 2;
    }
    return RunSoak(options);
}
