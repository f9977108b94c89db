// Cost of the cursor step per frame at 1920 x 1080: DrawCursor when the live cursor is cached (the
// steady state: a lookup, two 32 x 32 copies and the platform's icon drawing), and DrawCursor when
// every frame misses (event, lock, two bitmaps from the shared block, icon creation). Baselines in
// the same run: the two platform calls a hit cannot avoid (GetCursorInfo, DrawIconEx of a 32 x 32
// cursor into a 32 x 32 bitmap), alone and together, the drawer's own two pixel copies, and one
// copy of a whole 1080p frame.
//
// The program shows a window of its own whose class has a cursor, puts the pointer over it, and
// plays the host: it publishes the reference host's colour cursor under a mutex of its own.
#include "BenchLogServer.h"
#include "CursorPictures.h"

#include "capturers/TZYRWindowsBitmap.h"
#include "cursor/CursorGeometry.h"
#include "cursor/TDrawMouseCursor.h"
#include "framebuffer/FrameBufferView.h"
#include "ipc/THandle.h"
#include "ipc/WideText.h"

#include <benchmark/benchmark.h>

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int32_t kFrameWidth = 1920;
constexpr int32_t kFrameHeight = 1080;
constexpr POINT kPointer{100, 80};

// The host's side: a header with the two cursor areas behind it, the cursor mutex and event.
struct TBenchHost {
    uint64_t ui64Size = kFirstImageAreaOffset + 2ull * kCursorBitmapAreaSize;
    std::unique_ptr<uint8_t[]> block{new uint8_t[ui64Size]()};
    TKernelHandle hMutex{::CreateMutexW(nullptr, FALSE, L"ZYRCursorBenchMutex")};
    TKernelHandle hEvent{::CreateEventW(nullptr, FALSE, FALSE, L"ZYRCursorBenchEvent")};

    TFrameBufferHeader& Header() { return *reinterpret_cast<TFrameBufferHeader*>(block.get()); }
    TFrameBufferView View() { return TFrameBufferView(block.get(), ui64Size); }
    void Publish(uint64_t ui64Handle)
    {
        TFrameBufferHeader& header = Header();
        WriteHeaderWideString(header, ZYR_WIDE_FIELD(wszCursorMutexName), u"ZYRCursorBenchMutex");
        WriteHeaderWideString(header, ZYR_WIDE_FIELD(wszCursorEventName), u"ZYRCursorBenchEvent");
        header.ui32CursorColorBitmapOffset = kFirstImageAreaOffset;
        header.ui32CursorMaskBitmapOffset = kFirstImageAreaOffset + kCursorBitmapAreaSize;
        header.ui64CursorHandle = ui64Handle;
        header.iCursorX = kPointer.x;
        header.iCursorY = kPointer.y;
        header.bCursorColorBitmap = 1;
        header.bCursorMaskBitmap = 1;
        const std::vector<uint8_t> colour = refcursor::ColourDib();
        const std::vector<uint8_t> mask = refcursor::ColourMaskDib();
        std::memcpy(block.get() + header.ui32CursorColorBitmapOffset, colour.data(), colour.size());
        std::memcpy(block.get() + header.ui32CursorMaskBitmapOffset, mask.data(), mask.size());
    }
};

TBenchHost* g_pHost = nullptr;
uint64_t g_ui64LiveCursor = 0;

std::vector<uint8_t>& Frame()
{
    static std::vector<uint8_t> frame(static_cast<size_t>(kFrameWidth) * kFrameHeight * 4, 0x40);
    return frame;
}

void DrawLoop(benchmark::State& state, TDrawMouseCursor& drawer, bool bTopDown, double dScale)
{
    uint8_t* pFrame = Frame().data();
    for (auto _ : state) {
        drawer.DrawCursor(pFrame, kFrameWidth, kFrameHeight, kFrameWidth * 4, 0, 0, bTopDown, dScale, dScale);
        benchmark::DoNotOptimize(pFrame);
    }
}

void BM_DrawCursor_CacheHit_1080p(benchmark::State& state)
{
    g_pHost->Publish(g_ui64LiveCursor);
    TDrawMouseCursor drawer(g_pHost->View());
    drawer.DrawCursor(Frame().data(), kFrameWidth, kFrameHeight, kFrameWidth * 4, 0, 0, false, 1.0, 1.0);
    if (drawer.CachedCursors() != 1) {
        state.SkipWithError("the live cursor was not cached");
        return;
    }
    DrawLoop(state, drawer, state.range(0) != 0, state.range(1) / 100.0);
}
// {top-down rows, scale in percent}
BENCHMARK(BM_DrawCursor_CacheHit_1080p)->Args({0, 100})->Args({1, 75});

void BM_DrawCursor_EveryFrameMisses_1080p(benchmark::State& state)
{
    // The host publishes another handle than the live one: the live cursor is never cached.
    g_pHost->Publish(g_ui64LiveCursor + 0x10000);
    TDrawMouseCursor drawer(g_pHost->View());
    DrawLoop(state, drawer, false, 1.0);
}
BENCHMARK(BM_DrawCursor_EveryFrameMisses_1080p);

void BM_Baseline_GetCursorInfo(benchmark::State& state)
{
    for (auto _ : state) {
        CURSORINFO info = {};
        info.cbSize = sizeof(info);
        benchmark::DoNotOptimize(::GetCursorInfo(&info));
    }
}
BENCHMARK(BM_Baseline_GetCursorInfo);

void BM_Baseline_DrawIconEx_32(benchmark::State& state)
{
    TZYRWindowsBitmap scratch(32, 32, 32, 0, nullptr);
    CURSORINFO info = {};
    info.cbSize = sizeof(info);
    ::GetCursorInfo(&info);
    for (auto _ : state) {
        benchmark::DoNotOptimize(::DrawIconEx(scratch.DC(), 0, 0, info.hCursor, 32, 32, 0, nullptr, DI_NORMAL));
        ::GdiFlush();
    }
}
BENCHMARK(BM_Baseline_DrawIconEx_32);

// Both platform calls of a hit, one after the other: what DrawCursor cannot go below.
void BM_Baseline_PlatformCallsOfAHit(benchmark::State& state)
{
    TZYRWindowsBitmap scratch(32, 32, 32, 0, nullptr);
    for (auto _ : state) {
        CURSORINFO info = {};
        info.cbSize = sizeof(info);
        ::GetCursorInfo(&info);
        benchmark::DoNotOptimize(::DrawIconEx(scratch.DC(), 0, 0, info.hCursor, 32, 32, 0, nullptr, DI_NORMAL));
        ::GdiFlush();
    }
}
BENCHMARK(BM_Baseline_PlatformCallsOfAHit);

// The drawer's own pixel work on a hit: the frame's 32 x 32 pixels into the scratch and back.
void BM_CursorCopies_32_1080p(benchmark::State& state)
{
    std::vector<uint8_t> scratch(32 * 32 * 4);
    for (auto _ : state) {
        cursorgeo::CopyImageRect(Frame().data(), kFrameWidth, kFrameHeight, kFrameWidth * 4, scratch.data(), 32, 32,
                                 32 * 4, 100, 80, 0, 0, 32, 32, false);
        cursorgeo::CopyImageRect(scratch.data(), 32, 32, 32 * 4, Frame().data(), kFrameWidth, kFrameHeight,
                                 kFrameWidth * 4, 0, 0, 100, 80, 32, 32, false);
        benchmark::DoNotOptimize(scratch.data());
    }
}
BENCHMARK(BM_CursorCopies_32_1080p);

void BM_Baseline_FrameCopy_1080p(benchmark::State& state)
{
    std::vector<uint8_t> target(Frame().size());
    for (auto _ : state) {
        std::memcpy(target.data(), Frame().data(), target.size());
        benchmark::DoNotOptimize(target.data());
    }
}
BENCHMARK(BM_Baseline_FrameCopy_1080p);

// A window whose class has a cursor, on a thread that serves its messages, so the platform
// reports that cursor while the pointer is over it.
LRESULT CALLBACK WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return ::DefWindowProcW(hWnd, message, wParam, lParam);
}

void WindowThread(HANDLE hReady, DWORD* pThreadId)
{
    *pThreadId = ::GetCurrentThreadId();
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = L"ZYRCursorBench";
    ::RegisterClassExW(&windowClass);
    HWND hWnd = ::CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"ZYRCursorBench", L"", WS_POPUP | WS_VISIBLE,
                                  0, 0, 400, 300, nullptr, nullptr, windowClass.hInstance, nullptr);
    ::SetEvent(hReady);
    MSG msg;
    while (hWnd != nullptr && ::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::DispatchMessageW(&msg);
    }
}

// The live cursor handle once the pointer is over the window (0 when none shows within 30 s).
uint64_t PointAtWindow()
{
    ::SetCursorPos(kPointer.x, kPointer.y);
    for (int i = 0; i < 30000; ++i) {
        CURSORINFO info = {};
        info.cbSize = sizeof(info);
        if (::GetCursorInfo(&info) && info.hCursor != nullptr && (info.flags & CURSOR_SHOWING) != 0) {
            return static_cast<uint64_t>(reinterpret_cast<intptr_t>(info.hCursor));
        }
        ::Sleep(1);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    TBenchLogServer logServer;
    if (!logServer.Start()) {
        return 1;
    }
    TKernelHandle hReady(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    DWORD dwWindowThread = 0;
    std::thread window(WindowThread, hReady.Get(), &dwWindowThread);
    ::WaitForSingleObject(hReady.Get(), 30000);
    g_ui64LiveCursor = PointAtWindow();
    TBenchHost host;
    g_pHost = &host;
    int exitCode = 0;
    if (g_ui64LiveCursor == 0 || !host.hMutex || !host.hEvent) {
        std::fprintf(stderr, "cursor_bench: no live cursor over the window, or no cursor objects\n");
        exitCode = 1;
    } else {
        benchmark::RunSpecifiedBenchmarks();
    }
    ::PostThreadMessageW(dwWindowThread, WM_QUIT, 0, 0);
    window.join();
    benchmark::Shutdown();
    return exitCode;
}
