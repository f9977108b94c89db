// The screen-backed duplication over ZYRScene's coords pattern on Wine's display, reached through
// the DuplicateOutput seam as the capturer's test variant reaches it: the first frame is the whole
// desktop, a still screen times out, a window painted over the scene comes back as dirty tiles
// around it with its pixels in the texture, and a scene that changes everywhere is uploaded whole.
// The costs of one acquire at the display's size are printed.
#include "D3DTestSupport.h"
#include "SceneTestSupport.h"
#include "TScreenOutputDuplication.h"

#include "capturers/TGdiHandles.h"
#include "duplication/DuplicationSeams.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Microsoft::WRL::ComPtr;
using scene::Pattern;
using testdup::TScreenOutputDuplication;

// A frame as the engine sees it: its dirty rectangles and, when asked, its pixels.
struct Acquired {
    HRESULT hr = E_FAIL;
    std::vector<RECT> dirties;
    UINT moveBytes = 0;
    std::vector<uint32_t> pixels;
};

Acquired AcquireOnce(ID3D11Device* pDevice, IDXGIOutputDuplication* pDuplication, bool bReadPixels)
{
    Acquired result;
    DXGI_OUTDUPL_FRAME_INFO info = {};
    ComPtr<IDXGIResource> pResource;
    result.hr = pDuplication->AcquireNextFrame(0, &info, pResource.GetAddressOf());
    if (result.hr != S_OK) {
        return result;
    }
    result.dirties.resize(info.TotalMetadataBufferSize / sizeof(RECT));
    UINT bytes = 0;
    EXPECT_EQ(pDuplication->GetFrameMoveRects(0, nullptr, &result.moveBytes), S_OK);
    EXPECT_EQ(pDuplication->GetFrameDirtyRects(info.TotalMetadataBufferSize, result.dirties.data(), &bytes), S_OK);
    EXPECT_EQ(bytes, info.TotalMetadataBufferSize);
    ComPtr<ID3D11Texture2D> pTexture;
    EXPECT_EQ(pResource.As(&pTexture), S_OK);
    if (bReadPixels && pTexture) {
        result.pixels = testdup_test::ReadTexture(pDevice, pTexture.Get());
    }
    EXPECT_EQ(pDuplication->ReleaseFrame(), S_OK);
    return result;
}

bool Inside(const RECT& rc, LONG x, LONG y)
{
    return x >= rc.left && x < rc.right && y >= rc.top && y < rc.bottom;
}

// Pixels of `area` inside none of `rects`.
size_t UncoveredPixels(const RECT& area, const std::vector<RECT>& rects)
{
    size_t uncovered = 0;
    for (LONG y = area.top; y < area.bottom; ++y) {
        for (LONG x = area.left; x < area.right; ++x) {
            bool bCovered = false;
            for (const RECT& rc : rects) {
                bCovered = bCovered || Inside(rc, x, y);
            }
            uncovered += bCovered ? 0 : 1;
        }
    }
    return uncovered;
}

// Pixels of a width-wide frame that differ from expected(x, y), which includes alpha 255.
size_t Mismatches(const std::vector<uint32_t>& pixels, uint32_t width,
                  const std::function<uint32_t(uint32_t, uint32_t)>& expected)
{
    size_t count = 0;
    for (size_t i = 0; i < pixels.size(); ++i) {
        count += pixels[i] != expected(static_cast<uint32_t>(i % width), static_cast<uint32_t>(i / width)) ? 1 : 0;
    }
    return count;
}

// A topmost popup filled with one colour by its class brush, on the calling thread.
class ColourWindow {
public:
    ColourWindow(const RECT& rc, COLORREF colour) : brush(::CreateSolidBrush(colour))
    {
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = ::DefWindowProcW;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.hbrBackground = static_cast<HBRUSH>(brush.Get());
        wc.lpszClassName = L"ZYRTestDupColourWindow";
        ::RegisterClassExW(&wc);
        hWnd = ::CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, wc.lpszClassName, L"", WS_POPUP | WS_VISIBLE,
                                 rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, nullptr, nullptr,
                                 wc.hInstance, nullptr);
        ::SetWindowPos(hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
        ::UpdateWindow(hWnd);
    }
    ~ColourWindow()
    {
        ::DestroyWindow(hWnd);
        ::UnregisterClassW(L"ZYRTestDupColourWindow", ::GetModuleHandleW(nullptr));
    }
    ColourWindow(const ColourWindow&) = delete;
    ColourWindow& operator=(const ColourWindow&) = delete;
    HWND Handle() const { return hWnd; }

    static void Pump()
    {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }

private:
    gdi_detail::TUniqueGdi<HGDIOBJ, gdi_detail::TDeleteObject> brush;  // outlives the window
    HWND hWnd = nullptr;
};

class ScreenDuplication : public ::testing::Test {
protected:
    static void SetUpTestSuite() { pScene = scenetest::StartSuiteScene(Pattern::Coords); }
    static void TearDownTestSuite() { scenetest::QuitSuiteScene(pScene); }
    void SetUp() override
    {
        ASSERT_NE(pScene, nullptr);
        ASSERT_TRUE(scene::PrimaryMonitorRect(&rcScreen));
        width = static_cast<uint32_t>(rcScreen.right - rcScreen.left);
        height = static_cast<uint32_t>(rcScreen.bottom - rcScreen.top);
    }
    uint32_t PatternAt(uint32_t x, uint32_t y) const
    {
        return scene::PatternPixel(Pattern::Coords, x, y, generation) | 0xFF000000u;
    }

    static inline std::unique_ptr<scenetest::SceneRun> pScene;
    static inline uint32_t generation = 0;  // what the scene shows
    RECT rcScreen = {};
    uint32_t width = 0;
    uint32_t height = 0;
    const TScopedDuplicateOutput hook{&TScreenOutputDuplication::DuplicateOutputHook};
};

// On the test's main thread (it pumps the window's messages): each grab costs 60-75 ms here.
TEST_F(ScreenDuplication, WholeFirstFrameTimeoutWhenStillAndDirtyTilesAroundAPaintedWindow)
{
    const ComPtr<ID3D11Device> pDevice = testdup_test::MakeDevice();
    ASSERT_TRUE(pDevice);
    ComPtr<IDXGIOutputDuplication> pDuplication;
    ASSERT_EQ(CallDuplicateOutput(nullptr, pDevice.Get(), pDuplication.GetAddressOf()), S_OK);

    const Acquired first = AcquireOnce(pDevice.Get(), pDuplication.Get(), true);
    ASSERT_EQ(first.hr, S_OK);
    ASSERT_EQ(first.dirties.size(), 1u);
    EXPECT_EQ(first.dirties[0].right, static_cast<LONG>(width));
    EXPECT_EQ(first.dirties[0].bottom, static_cast<LONG>(height));
    EXPECT_EQ(first.moveBytes, 0u);
    EXPECT_EQ(Mismatches(first.pixels, width, [&](uint32_t x, uint32_t y) { return PatternAt(x, y); }), 0u);
    EXPECT_EQ(AcquireOnce(pDevice.Get(), pDuplication.Get(), false).hr, DXGI_ERROR_WAIT_TIMEOUT);

    // Not on tile edges: the dirty tiles are (256, 192)-(512, 384).
    const RECT rcWindow = {300, 200, 500, 330};
    const RECT rcTiles = {256, 192, 512, 384};
    const uint32_t colour = 0xFF1EC80Au;  // RGB(30, 200, 10) read back as a B8G8R8A8 word
    ColourWindow window(rcWindow, RGB(30, 200, 10));
    ASSERT_NE(window.Handle(), nullptr);
    const auto expected = [&](uint32_t x, uint32_t y) {
        return Inside(rcWindow, static_cast<LONG>(x), static_cast<LONG>(y)) ? colour : PatternAt(x, y);
    };
    // The window may reach the screen in more than one paint: follow the frames until it is whole.
    std::vector<RECT> reported;
    size_t mismatches = SIZE_MAX;
    const ULONGLONG startMs = ::GetTickCount64();
    while (mismatches != 0 && ::GetTickCount64() - startMs < scenetest::kWaitMs) {
        ColourWindow::Pump();
        const Acquired frame = AcquireOnce(pDevice.Get(), pDuplication.Get(), true);
        if (frame.hr == S_OK) {
            reported.insert(reported.end(), frame.dirties.begin(), frame.dirties.end());
            mismatches = Mismatches(frame.pixels, width, expected);
        }
    }
    EXPECT_EQ(mismatches, 0u);
    EXPECT_EQ(UncoveredPixels(rcWindow, reported), 0u);
    for (const RECT& rc : reported) {
        EXPECT_TRUE(rc.left >= rcTiles.left && rc.top >= rcTiles.top && rc.right <= rcTiles.right &&
                    rc.bottom <= rcTiles.bottom)
            << rc.left << "," << rc.top << "," << rc.right << "," << rc.bottom;
    }
    auto* pScreen = static_cast<TScreenOutputDuplication*>(pDuplication.Get());
    EXPECT_EQ(pScreen->Refusals(), 0u);
}

// What one frame costs: AcquireNextFrame alone, and the whole frame as the engine spends it
// (acquire, copy the dirty rectangles into a staging desktop image, map it for reading, release):
// the map waits for the GPU work that the acquire queued.
struct Timed {
    HRESULT hr;
    double acquireMs;
    double frameMs;
};

double MsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

Timed TimedFrame(IDXGIOutputDuplication* pDuplication, ID3D11DeviceContext* pContext, ID3D11Texture2D* pStaging,
                 std::vector<RECT>* pDirties)
{
    const auto start = std::chrono::steady_clock::now();
    DXGI_OUTDUPL_FRAME_INFO info = {};
    ComPtr<IDXGIResource> pResource;
    const HRESULT hr = pDuplication->AcquireNextFrame(0, &info, pResource.GetAddressOf());
    const double acquireMs = MsSince(start);
    if (hr != S_OK) {
        return {hr, acquireMs, MsSince(start)};
    }
    ComPtr<ID3D11Texture2D> pTexture;
    UINT bytes = 0;
    if (pResource.As(&pTexture) == S_OK &&
        pDuplication->GetFrameDirtyRects(static_cast<UINT>(pDirties->size() * sizeof(RECT)), pDirties->data(),
                                         &bytes) == S_OK) {
        for (UINT i = 0; i < bytes / sizeof(RECT); ++i) {
            const RECT& rc = (*pDirties)[i];
            const D3D11_BOX box = {static_cast<UINT>(rc.left), static_cast<UINT>(rc.top), 0,
                                   static_cast<UINT>(rc.right), static_cast<UINT>(rc.bottom), 1};
            pContext->CopySubresourceRegion(pStaging, 0, box.left, box.top, 0, pTexture.Get(), 0, &box);
        }
    }
    D3D11_MAPPED_SUBRESOURCE mapped = {};
    if (pContext->Map(pStaging, 0, D3D11_MAP_READ, 0, &mapped) == S_OK) {
        pContext->Unmap(pStaging, 0);
    }
    pTexture.Reset();
    pResource.Reset();
    pDuplication->ReleaseFrame();
    return {hr, acquireMs, MsSince(start)};
}

struct Costs {
    std::vector<Timed> first, still, window, scene;
    size_t lastSceneMismatches = SIZE_MAX;
    TScreenOutputDuplication::TCounters counters;
};

double MeanMs(const std::vector<Timed>& calls, double Timed::*pMs)
{
    double total = 0;
    for (const Timed& call : calls) {
        total += call.*pMs;
    }
    return calls.empty() ? 0.0 : total / static_cast<double>(calls.size());
}

size_t CountOf(const std::vector<Timed>& calls, HRESULT hr)
{
    size_t count = 0;
    for (const Timed& call : calls) {
        count += call.hr == hr ? 1 : 0;
    }
    return count;
}

// Every acquire runs on a second thread, as on the capturer's capture thread (a screen read from
// the main thread costs about ten times as much under Wine). Three kinds of frame: nothing changed
// (timeout), a 200 x 130 window moved (a few dirty tiles), the whole scene repainted.
TEST_F(ScreenDuplication, CostOfOneAcquireWithAndWithoutChange)
{
    constexpr int kRepeats = 8;
    Costs costs;
    std::thread worker([&] {
        const ComPtr<ID3D11Device> pDevice = testdup_test::MakeDevice();
        ComPtr<IDXGIOutputDuplication> pDuplication;
        if (!pDevice || CallDuplicateOutput(nullptr, pDevice.Get(), pDuplication.GetAddressOf()) != S_OK) {
            ADD_FAILURE() << "no duplication";
            return;
        }
        ComPtr<ID3D11DeviceContext> pContext;
        pDevice->GetImmediateContext(pContext.GetAddressOf());
        D3D11_TEXTURE2D_DESC desc = {width, height, 1, 1, DXGI_FORMAT_B8G8R8A8_UNORM, {1, 0}, D3D11_USAGE_STAGING,
                                     0, D3D11_CPU_ACCESS_READ, 0};
        ComPtr<ID3D11Texture2D> pStaging;
        ASSERT_EQ(pDevice->CreateTexture2D(&desc, nullptr, pStaging.GetAddressOf()), S_OK);
        std::vector<RECT> dirties(testdup::MaxChangedRects(width, height));
        const auto timed = [&] { return TimedFrame(pDuplication.Get(), pContext.Get(), pStaging.Get(), &dirties); };
        costs.first.push_back(timed());
        for (int i = 0; i < kRepeats * 2; ++i) {
            costs.still.push_back(timed());
        }
        {
            ColourWindow window({300, 600, 500, 730}, RGB(200, 30, 10));
            for (int i = 0; i < kRepeats; ++i) {
                ::SetWindowPos(window.Handle(), HWND_TOPMOST, i % 2 == 0 ? 700 : 300, 600, 0, 0, SWP_NOSIZE);
                Timed frame = {DXGI_ERROR_WAIT_TIMEOUT, 0, 0};
                const ULONGLONG startMs = ::GetTickCount64();
                while (frame.hr == DXGI_ERROR_WAIT_TIMEOUT && ::GetTickCount64() - startMs < scenetest::kWaitMs) {
                    ColourWindow::Pump();
                    frame = timed();
                }
                costs.window.push_back(frame);
            }
        }
        for (int i = 0; i < kRepeats; ++i) {
            if (!pScene->Next()) {
                return;
            }
            ++generation;
            costs.scene.push_back(timed());
        }
        if (pScene->Next()) {
            ++generation;
            const Acquired last = AcquireOnce(pDevice.Get(), pDuplication.Get(), true);
            costs.lastSceneMismatches = Mismatches(last.pixels, width, [&](uint32_t x, uint32_t y) {
                return PatternAt(x, y);
            });
        }
        costs.counters = static_cast<TScreenOutputDuplication*>(pDuplication.Get())->Counters();
    });
    worker.join();

    ASSERT_EQ(costs.first.size(), 1u);
    EXPECT_EQ(costs.first[0].hr, S_OK);
    EXPECT_EQ(CountOf(costs.still, DXGI_ERROR_WAIT_TIMEOUT), costs.still.size());
    EXPECT_EQ(CountOf(costs.window, S_OK), static_cast<size_t>(kRepeats));
    EXPECT_EQ(CountOf(costs.scene, S_OK), static_cast<size_t>(kRepeats));
    EXPECT_EQ(costs.lastSceneMismatches, 0u);
    // The first frame and every scene change are copied whole; the moved window area by area.
    EXPECT_EQ(costs.counters.ui32WholeCopies, 1u + kRepeats + 1u);
    for (const auto& [name, calls] : {std::pair{"first frame", &costs.first}, {"nothing changed", &costs.still},
                                      {"200x130 window moved", &costs.window}, {"whole scene changed", &costs.scene}}) {
        std::printf("[ MEASURED ] %ux%u, second thread, %s: acquire %.1f ms, frame with read-back %.1f ms (%zu)\n",
                    width, height, name, MeanMs(*calls, &Timed::acquireMs), MeanMs(*calls, &Timed::frameMs),
                    calls->size());
    }
    const TScreenOutputDuplication::TCounters& c = costs.counters;
    std::printf("[ MEASURED ] per grab: BitBlt %.1f ms, compare %.1f ms (%u grabs); per frame: upload %.1f ms "
                "(%u frames, %u whole)\n",
                c.dGrabMs / c.ui32Grabs, c.dCompareMs / c.ui32Grabs, c.ui32Grabs, c.dUploadMs / c.ui32Frames,
                c.ui32Frames, c.ui32WholeCopies);
    RecordProperty("still_frame_ms", std::to_string(MeanMs(costs.still, &Timed::frameMs)));
    RecordProperty("window_frame_ms", std::to_string(MeanMs(costs.window, &Timed::frameMs)));
    RecordProperty("scene_frame_ms", std::to_string(MeanMs(costs.scene, &Timed::frameMs)));
}

}  // namespace
