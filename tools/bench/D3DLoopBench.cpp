// ZYRD3DLoopBench.exe: a bare loop of the Direct3D 11 calls a method-0 frame makes, without the
// capturer, so that the platform's own growth can be told apart from a capturer's (the soak runs
// it beside method 0 as it runs the BitBlt loop beside method 1). Per frame, at a fixed rate and
// with nothing allocated by the loop itself: the changed rows written into a mappable upload
// texture (the duplication's desktop image), copied into the desktop texture; the webcam (480 x 270)
// and background (1920 x 1080) pictures rewritten with WRITE_DISCARD; the desktop copied into a
// staging texture and every row read back.
//   ZYRD3DLoopBench [--seconds S] [--fps R] [--overlays 0|1]      (defaults 10, 5, 1)
// Prints "d3d_loop frames=<n> fps=<x.x> overlays=<0|1>" at the end; exit 0, 1 when a call fails,
// 2 on bad arguments.
#include "CommandLineArguments.h"
#include "ToolOptions.h"
#include "duplication/D3D11Helpers.h"

#include <d3d11.h>
#include <windows.h>
#include <wrl/client.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

using Microsoft::WRL::ComPtr;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitBadArguments = 2;
constexpr UINT kWidth = 1920;
constexpr UINT kHeight = 1080;
constexpr UINT kWebCamWidth = 480;
constexpr UINT kWebCamHeight = 270;
constexpr UINT kChangedRows = 64;  // a moving pointer's worth of the desktop per frame

struct Options {
    int64_t seconds = 10;
    int64_t fps = 5;
    int64_t overlays = 1;
};

bool ParseOptions(Options* pOptions, std::wstring* pError)
{
    std::set<std::wstring> seen;
    return toolargs::ParseOptionPairs(
        toolargs::CommandLineArguments(), {L"--seconds", L"--fps", L"--overlays"},
        [pOptions](const std::wstring& option, const std::wstring& value) {
            if (option == L"--seconds") {
                return toolargs::ParseInRange(value, 1, 86400, &pOptions->seconds);
            }
            if (option == L"--fps") {
                return toolargs::ParseInRange(value, 1, 1000, &pOptions->fps);
            }
            return toolargs::ParseInRange(value, 0, 1, &pOptions->overlays);
        },
        &seen, pError);
}

// False, with the call and its HRESULT in *pFailure.
bool Failed(const char* pszCall, HRESULT hr, std::string* pFailure)
{
    char text[96];
    std::snprintf(text, sizeof text, "%s %08lx", pszCall, static_cast<unsigned long>(hr));
    *pFailure = text;
    return false;
}

class D3DLoop {
public:
    // False with the failing call in *pFailure.
    bool Create(std::string* pFailure);
    bool Frame(uint32_t generation, bool bOverlays, std::string* pFailure);

private:
    bool Texture(const D3D11_TEXTURE2D_DESC& desc, ComPtr<ID3D11Texture2D>* pTexture, const char* pszName,
                 std::string* pFailure);
    bool Fill(ID3D11Texture2D* pTexture, D3D11_MAP type, UINT firstRow, UINT rows, UINT rowBytes, uint8_t value,
              std::string* pFailure);

    ComPtr<ID3D11Device> pDevice;
    ComPtr<ID3D11DeviceContext> pContext;
    ComPtr<ID3D11Texture2D> pUpload, pDesktop, pStaging, pWebCam, pBackground;
    std::vector<uint8_t> vecRow = std::vector<uint8_t>(kWidth * 4);
};

bool D3DLoop::Texture(const D3D11_TEXTURE2D_DESC& desc, ComPtr<ID3D11Texture2D>* pTexture, const char* pszName,
                      std::string* pFailure)
{
    const HRESULT hr = pDevice->CreateTexture2D(&desc, nullptr, pTexture->ReleaseAndGetAddressOf());
    return hr == S_OK || Failed((std::string("CreateTexture2D ") + pszName).c_str(), hr, pFailure);
}

bool D3DLoop::Create(std::string* pFailure)
{
    const HRESULT hr = ::D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT,
                                           nullptr, 0, D3D11_SDK_VERSION, &pDevice, nullptr, &pContext);
    if (hr != S_OK) {
        return Failed("D3D11CreateDevice", hr, pFailure);
    }
    using d3dhelp::BgraTextureDesc;
    constexpr UINT kShaderResource = D3D11_BIND_SHADER_RESOURCE;
    return Texture(BgraTextureDesc(kWidth, kHeight, D3D11_USAGE_STAGING, 0, D3D11_CPU_ACCESS_WRITE), &pUpload,
                   "upload", pFailure) &&
           Texture(BgraTextureDesc(kWidth, kHeight, D3D11_USAGE_DEFAULT, kShaderResource, 0), &pDesktop, "desktop",
                   pFailure) &&
           Texture(BgraTextureDesc(kWidth, kHeight, D3D11_USAGE_STAGING, 0, D3D11_CPU_ACCESS_READ), &pStaging,
                   "staging", pFailure) &&
           Texture(BgraTextureDesc(kWebCamWidth, kWebCamHeight, D3D11_USAGE_DYNAMIC, kShaderResource,
                                   D3D11_CPU_ACCESS_WRITE),
                   &pWebCam, "webcam", pFailure) &&
           Texture(BgraTextureDesc(kWidth, kHeight, D3D11_USAGE_DYNAMIC, kShaderResource, D3D11_CPU_ACCESS_WRITE),
                   &pBackground, "background", pFailure);
}

bool D3DLoop::Fill(ID3D11Texture2D* pTexture, D3D11_MAP type, UINT firstRow, UINT rows, UINT rowBytes, uint8_t value,
                   std::string* pFailure)
{
    D3D11_MAPPED_SUBRESOURCE mapped = {};
    const HRESULT hr = pContext->Map(pTexture, 0, type, 0, &mapped);
    if (hr != S_OK) {
        return Failed("Map", hr, pFailure);
    }
    for (UINT row = firstRow; row < firstRow + rows; ++row) {
        std::memset(static_cast<uint8_t*>(mapped.pData) + static_cast<size_t>(row) * mapped.RowPitch, value, rowBytes);
    }
    pContext->Unmap(pTexture, 0);
    return true;
}

bool D3DLoop::Frame(uint32_t generation, bool bOverlays, std::string* pFailure)
{
    const auto value = static_cast<uint8_t>(generation);
    const UINT firstRow = (generation * kChangedRows) % (kHeight - kChangedRows);
    if (!Fill(pUpload.Get(), D3D11_MAP_WRITE, firstRow, kChangedRows, kWidth * 4, value, pFailure)) {
        return false;
    }
    const D3D11_BOX changed{0, firstRow, 0, kWidth, firstRow + kChangedRows, 1};
    pContext->CopySubresourceRegion(pDesktop.Get(), 0, 0, firstRow, 0, pUpload.Get(), 0, &changed);
    if (bOverlays &&
        (!Fill(pWebCam.Get(), D3D11_MAP_WRITE_DISCARD, 0, kWebCamHeight, kWebCamWidth * 4, value, pFailure) ||
         !Fill(pBackground.Get(), D3D11_MAP_WRITE_DISCARD, 0, kHeight, kWidth * 4, value, pFailure))) {
        return false;
    }
    pContext->CopyResource(pStaging.Get(), pDesktop.Get());
    D3D11_MAPPED_SUBRESOURCE mapped = {};
    const HRESULT hr = pContext->Map(pStaging.Get(), 0, D3D11_MAP_READ, 0, &mapped);
    if (hr != S_OK) {
        return Failed("Map staging", hr, pFailure);
    }
    for (UINT row = 0; row < kHeight; ++row) {
        const auto* pRow = static_cast<const uint8_t*>(mapped.pData) + static_cast<size_t>(row) * mapped.RowPitch;
        std::memcpy(vecRow.data(), pRow, vecRow.size());
    }
    pContext->Unmap(pStaging.Get(), 0);
    return true;
}

}  // namespace

int main()
{
    Options options;
    std::wstring error;
    if (!ParseOptions(&options, &error)) {
        std::fprintf(stderr, "ZYRD3DLoopBench: %ls\nusage: ZYRD3DLoopBench [--seconds S] [--fps R] [--overlays 0|1]\n",
                     error.c_str());
        return kExitBadArguments;
    }
    D3DLoop loop;
    std::string failure;
    if (!loop.Create(&failure)) {
        std::fprintf(stderr, "ZYRD3DLoopBench: %s\n", failure.c_str());
        return kExitFailed;
    }
    const ULONGLONG start = ::GetTickCount64();
    const ULONGLONG end = start + static_cast<ULONGLONG>(options.seconds) * 1000;
    uint32_t frames = 0;
    for (ULONGLONG next = start; next < end; next = start + (static_cast<ULONGLONG>(frames) * 1000) / options.fps) {
        const ULONGLONG now = ::GetTickCount64();
        if (next > now) {
            ::Sleep(static_cast<DWORD>(next - now));
        }
        if (!loop.Frame(frames, options.overlays != 0, &failure)) {
            std::fprintf(stderr, "ZYRD3DLoopBench: frame %u: %s\n", frames, failure.c_str());
            return kExitFailed;
        }
        ++frames;
    }
    const double seconds = static_cast<double>(::GetTickCount64() - start) / 1000.0;
    std::printf("d3d_loop frames=%u fps=%.1f overlays=%lld\n", frames, frames / seconds,
                static_cast<long long>(options.overlays));
    return kExitOk;
}
