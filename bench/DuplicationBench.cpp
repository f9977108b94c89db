// Cost of one desktop-duplication frame at 1920 x 1080 on Wine's Direct3D 11, from a held frame to
// the last row in the frame slot, beside the platform limit measured in the same run:
//   - BM_Baseline_CopyMapRows: the bare readback a 1:1 frame cannot avoid: CopyResource of a 1080p
//     texture into a staging texture, Map for reading, copy of every row, Unmap;
//   - BM_Capturer_Frame/1920/1080: TDXGIFullscreenCapturer::GetScreenImage at 1:1 (the staging
//     desktop image read directly): acquire, fold one whole-desktop dirty rectangle into the desktop
//     image, release, map, copy the rows;
//   - BM_Capturer_Frame/1280/720: the same scaled to 1280 x 720 on the GPU (surface set 0);
//   - BM_Engine_PortraitFrame/1 and /2: a 1080 x 1920 portrait output, unrotated (frames arrive
//     1080 x 1920) and rotated by 90 degrees (frames arrive 1920 x 1080 and the rotation pass turns
//     them upright): one whole-desktop frame folded in and the desktop image read row by row, so
//     the difference is the rotation pass (one draw and one full copy per changed frame).
// The duplication is a stand-in that hands out the same prefilled texture with one whole-desktop
// dirty rectangle for every frame, so the numbers are the engine's and the capturer's work alone.
// Heap allocations per frame are counted (AllocationCounter.h) and reported.
#include "AllocationCounter.h"
#include "BenchLogServer.h"
#include "TRuleOutputDuplication.h"
#include "TStandInOutput.h"

#include "capturers/TDXGIFullscreenCapturer.h"
#include "duplication/D3D11Helpers.h"
#include "duplication/DuplicationSeams.h"
#include "framebuffer/FrameBufferView.h"

#include <benchmark/benchmark.h>

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr uint32_t kDesktopW = 1920;
constexpr uint32_t kDesktopH = 1080;

using Microsoft::WRL::ComPtr;

// The size of the frames the next DuplicateFixedFrames hands out.
uint32_t g_ui32FrameW = kDesktopW;
uint32_t g_ui32FrameH = kDesktopH;

// A width x height (default 1080p) B8G8R8A8 texture of `usage`, filled with a gradient when `bFill`.
ComPtr<ID3D11Texture2D> MakeTexture(ID3D11Device* pDevice, D3D11_USAGE usage, UINT bind, UINT cpu, bool bFill,
                                    uint32_t width = kDesktopW, uint32_t height = kDesktopH)
{
    const D3D11_TEXTURE2D_DESC desc = d3dhelp::BgraTextureDesc(width, height, usage, bind, cpu);
    std::vector<uint32_t> pixels;
    D3D11_SUBRESOURCE_DATA data = {};
    if (bFill) {
        pixels.resize(size_t{width} * height);
        for (size_t i = 0; i < pixels.size(); ++i) {
            pixels[i] = 0xFF000000u | static_cast<uint32_t>(i * 2654435761u >> 8);
        }
        data = {pixels.data(), width * 4, 0};
    }
    ComPtr<ID3D11Texture2D> pTexture;
    if (pDevice->CreateTexture2D(&desc, bFill ? &data : nullptr, pTexture.GetAddressOf()) != S_OK) {
        std::fprintf(stderr, "CreateTexture2D failed\n");
        std::exit(1);
    }
    return pTexture;
}

// Every acquire hands out the same texture with one whole-desktop dirty rectangle.
class TFixedFrameDuplication final : public testdup::TRuleOutputDuplication {
public:
    TFixedFrameDuplication(ComPtr<ID3D11Device> pDeviceArg, uint32_t width, uint32_t height)
        : TRuleOutputDuplication(pDeviceArg, width, height),
          pFrame(MakeTexture(pDeviceArg.Get(), D3D11_USAGE_DEFAULT, 0, 0, true, width, height)),
          dirty{0, 0, static_cast<LONG>(width), static_cast<LONG>(height)}
    {
    }

protected:
    HRESULT ProduceFrame(UINT /*timeoutMs*/, TFrameOut* pOut) override
    {
        pOut->pTexture = pFrame.Get();
        pOut->ui32MetadataSize = sizeof(RECT);
        pOut->pDirties = &dirty;
        pOut->ui32DirtyCount = 1;
        return S_OK;
    }

private:
    ComPtr<ID3D11Texture2D> pFrame;
    RECT dirty;
};

HRESULT DuplicateFixedFrames(IDXGIOutput1* /*pOutput*/, IUnknown* pDevice, IDXGIOutputDuplication** ppDuplication)
{
    ComPtr<ID3D11Device> pD3DDevice;
    if (pDevice == nullptr || pDevice->QueryInterface(IID_PPV_ARGS(pD3DDevice.GetAddressOf())) != S_OK) {
        return E_INVALIDARG;
    }
    *ppDuplication = new TFixedFrameDuplication(pD3DDevice, g_ui32FrameW, g_ui32FrameH);
    return S_OK;
}

struct TFrameSlot {
    explicit TFrameSlot(uint32_t width, uint32_t height) : bytes(size_t{width} * 4 * height)
    {
        area = TAreaView{bytes.data(), width, width * 4, height, bytes.size(), 0};
    }
    std::vector<uint8_t> bytes;
    TAreaView area;
};

void BM_Baseline_CopyMapRows(benchmark::State& state)
{
    ComPtr<ID3D11Device> pDevice;
    ComPtr<ID3D11DeviceContext> pContext;
    if (D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION,
                          pDevice.GetAddressOf(), nullptr, pContext.GetAddressOf()) != S_OK) {
        state.SkipWithError("D3D11CreateDevice failed");
        return;
    }
    const ComPtr<ID3D11Texture2D> pSource = MakeTexture(pDevice.Get(), D3D11_USAGE_DEFAULT, 0, 0, true);
    const ComPtr<ID3D11Texture2D> pStaging =
        MakeTexture(pDevice.Get(), D3D11_USAGE_STAGING, 0, D3D11_CPU_ACCESS_READ, false);
    TFrameSlot slot(kDesktopW, kDesktopH);
    for (auto _ : state) {
        pContext->CopyResource(pStaging.Get(), pSource.Get());
        D3D11_MAPPED_SUBRESOURCE mapped = {};
        if (pContext->Map(pStaging.Get(), 0, D3D11_MAP_READ, 0, &mapped) != S_OK) {
            state.SkipWithError("Map failed");
            break;
        }
        const auto* pRow = static_cast<const uint8_t*>(mapped.pData);
        for (uint32_t y = 0; y < kDesktopH; ++y, pRow += mapped.RowPitch) {
            std::memcpy(slot.bytes.data() + (size_t{kDesktopH} - 1 - y) * slot.area.ui32Stride, pRow, kDesktopW * 4);
        }
        pContext->Unmap(pStaging.Get(), 0);
        benchmark::DoNotOptimize(slot.bytes.data());
    }
}

void BM_Capturer_Frame(benchmark::State& state)
{
    const TScopedDuplicateOutput hook(&DuplicateFixedFrames);
    const auto width = static_cast<int32_t>(state.range(0));
    const auto height = static_cast<int32_t>(state.range(1));
    TDXGIFullscreenCapturer capturer(::GetModuleHandleW(nullptr));
    if (!capturer.Initialize(L"\\\\.\\DISPLAY1")) {
        state.SkipWithError("no engine");
        return;
    }
    capturer.SetCaptureParameters(width, height, THooksRect{}, true, false);
    TFrameSlot slot(static_cast<uint32_t>(width), static_cast<uint32_t>(height));
    for (int i = 0; i < 3; ++i) {  // surfaces made, buffers grown: the steady state
        capturer.GetScreenImage(slot.area, false, nullptr);
    }
    const uint64_t ui64AllocationsBefore = AllocationCount();
    for (auto _ : state) {
        capturer.GetScreenImage(slot.area, false, nullptr);
        benchmark::DoNotOptimize(slot.bytes.data());
    }
    state.counters["allocs_per_frame"] = benchmark::Counter(
        static_cast<double>(AllocationCount() - ui64AllocationsBefore) / static_cast<double>(state.iterations()));
    if (capturer.LastFrameResult() != drOk) {
        state.SkipWithError("the last frame failed");
    }
}

// A 1280 x 720 frame scaled on the GPU without (range(0) = 0) and with the two webcam overlays: a
// 640 x 360 background (shader 130) and webcam (shader 132, half opacity, blended), uploaded from
// system memory and drawn every frame as the capture thread does (1), or uploaded once and only
// drawn (2), which separates the cost of the uploads from that of the drawing.
void BM_Capturer_WebCam720(benchmark::State& state)
{
    const TScopedDuplicateOutput hook(&DuplicateFixedFrames);
    const bool bOverlays = state.range(0) != 0;
    TDXGIFullscreenCapturer capturer(::GetModuleHandleW(nullptr));
    if (!capturer.Initialize(L"\\\\.\\DISPLAY1")) {
        state.SkipWithError("no engine");
        return;
    }
    capturer.SetCaptureParameters(1280, 720, THooksRect{}, true, true);
    TFrameSlot slot(1280, 720);
    TFrameSlot webcam(640, 360);
    TFrameSlot background(640, 360);
    std::memset(webcam.bytes.data(), 0x80, webcam.bytes.size());
    const THooksRect rect{600, 320, 1240, 680};
    const float shaderData[4] = {0.5f, 640.0f, 360.0f, 0.0f};
    uint32_t ui32Frames = 0;
    auto frame = [&] {
        if (bOverlays && (state.range(0) == 1 || ui32Frames++ < 3)) {
            capturer.UpdateWebCamBackground(background.bytes.data(), 640, 360, background.area.ui32Stride, rect);
            capturer.UpdateWebCam(webcam.bytes.data(), 640, 360, webcam.area.ui32Stride, rect, shaderData,
                                  sizeof(shaderData));
        }
        capturer.GetScreenImage(slot.area, false, nullptr);
    };
    for (int i = 0; i < 3; ++i) {  // the surface set and the overlays made: the steady state
        frame();
    }
    if (bOverlays && !(capturer.Engine()->DoesOverlayExist(0, 0) && capturer.Engine()->DoesOverlayExist(0, 1))) {
        state.SkipWithError("the overlays were not made");
        return;
    }
    const uint64_t ui64AllocationsBefore = AllocationCount();
    for (auto _ : state) {
        frame();
        benchmark::DoNotOptimize(slot.bytes.data());
    }
    state.counters["allocs_per_frame"] = benchmark::Counter(
        static_cast<double>(AllocationCount() - ui64AllocationsBefore) / static_cast<double>(state.iterations()));
}

// range(0): the output's rotation (1 identity, 2 rotated by 90 degrees).
void BM_Engine_PortraitFrame(benchmark::State& state)
{
    constexpr uint32_t kPortraitW = 1080;
    constexpr uint32_t kPortraitH = 1920;
    const auto rotation = static_cast<DXGI_MODE_ROTATION>(state.range(0));
    const bool bRotated = rotation == DXGI_MODE_ROTATION_ROTATE90;
    g_ui32FrameW = bRotated ? kPortraitH : kPortraitW;
    g_ui32FrameH = bRotated ? kPortraitW : kPortraitH;
    const TScopedDuplicateOutput hook(&DuplicateFixedFrames);
    ComPtr<IDXGIFactory1> pFactory;
    ComPtr<IDXGIAdapter1> pAdapter;
    if (::CreateDXGIFactory1(IID_PPV_ARGS(pFactory.GetAddressOf())) != S_OK ||
        pFactory->EnumAdapters1(0, pAdapter.GetAddressOf()) != S_OK) {
        state.SkipWithError("no adapter");
        return;
    }
    DXGI_OUTPUT_DESC desc = {};
    desc.DesktopCoordinates = RECT{0, 0, LONG(kPortraitW), LONG(kPortraitH)};
    desc.Rotation = rotation;
    testdup::TStandInOutput output(S_OK, desc);
    {
        TDXGIDuplication engine(pAdapter, ComPtr<IDXGIOutput1>(&output), ::GetModuleHandleW(nullptr), 129, 130);
        TFrameSlot slot(kPortraitW, kPortraitH);
        auto frame = [&] {
            if (engine.GetFrame() != drOk || engine.ReleaseFrame() != drOk || !engine.MapSurface(kDesktopSurfaceId)) {
                return false;
            }
            const uint8_t* pRow = engine.DataPointer(kDesktopSurfaceId);
            for (uint32_t y = 0; y < kPortraitH; ++y, pRow += engine.DataStride(kDesktopSurfaceId)) {
                std::memcpy(slot.bytes.data() + size_t{y} * slot.area.ui32Stride, pRow, kPortraitW * 4);
            }
            engine.UnmapSurface(kDesktopSurfaceId);
            return true;
        };
        if (!engine.IsInitialized() || !frame() || (bRotated && engine.BeforeRotateDesktopImage() == nullptr)) {
            state.SkipWithError("no engine");
            return;
        }
        const uint64_t ui64AllocationsBefore = AllocationCount();
        for (auto _ : state) {
            if (!frame()) {
                state.SkipWithError("a frame failed");
                break;
            }
            benchmark::DoNotOptimize(slot.bytes.data());
        }
        state.counters["allocs_per_frame"] = benchmark::Counter(
            static_cast<double>(AllocationCount() - ui64AllocationsBefore) / static_cast<double>(state.iterations()));
    }
    g_ui32FrameW = kDesktopW;
    g_ui32FrameH = kDesktopH;
}

BENCHMARK(BM_Baseline_CopyMapRows)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Capturer_Frame)->Args({1920, 1080})->Args({1280, 720})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Capturer_WebCam720)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Engine_PortraitFrame)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    TBenchLogServer logServer;
    if (!logServer.Start()) {
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
