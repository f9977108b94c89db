// The scripted duplication that TFakeDuplicationFactory makes (see FakeOutputDuplication.h for the
// script and the rules). Its frames are one desktop-sized DXGI_FORMAT_B8G8R8A8_UNORM texture of
// D3D11_USAGE_DEFAULT on the engine's device, made with the fake and refilled for every frame
// through a CPU-written staging texture (Map WRITE, row copy, CopyResource): under Wine 8 at
// 1920x1080 1.2-4 ms plus the pixel function (TRuleOutputDuplication::CreateDesktopTextures).
//
// Thread: the duplication calls come from the engine's thread; Stats and
// OutstandingTextureReferences from any thread.
#pragma once

#include "FakeOutputDuplication.h"
#include "TRuleOutputDuplication.h"

#include <wrl/client.h>

#include <deque>
#include <memory>
#include <mutex>

namespace fakedup {

// What the factory and every fake it made share: the script and the lock that guards it and the
// fakes' statistics.
struct TFakeScript {
    std::mutex mutex;
    std::deque<TStep> steps;
};

class TFakeOutputDuplication final : public testdup::TRuleOutputDuplication {
public:
    // Makes a fake with one reference for the caller, or answers the failing texture creation.
    static HRESULT Create(Microsoft::WRL::ComPtr<ID3D11Device> pDevice, uint32_t width, uint32_t height,
                          std::shared_ptr<TFakeScript> pScript, TFakeOutputDuplication** ppFake);

    TFakeStats Stats() const;
    // References on the frame texture besides the fake's own (the engine's, while it holds one).
    ULONG OutstandingTextureReferences() const;

protected:
    HRESULT ProduceFrame(UINT timeoutMs, TFrameOut* pFrame) override;
    void OnAcquireCall(UINT timeoutMs) override;
    void OnReleaseCall() override;
    void OnRefusal(const char* text) override;

private:
    TFakeOutputDuplication(Microsoft::WRL::ComPtr<ID3D11Device> pDeviceArg, uint32_t width, uint32_t height,
                           std::shared_ptr<TFakeScript> pScriptArg);
    ~TFakeOutputDuplication() override = default;

    HRESULT CreateTextures();
    // Fills the frame texture from `pixel` (nothing when it is empty: the previous frame stays).
    HRESULT Upload(const TPixelFn& pixel);

    std::shared_ptr<TFakeScript> pScript;
    TFakeStats stats;  // guarded by pScript->mutex
    // The frame handed out last: its rectangles are what GetFrameMoveRects/GetFrameDirtyRects copy.
    TFrame currentFrame;
    Microsoft::WRL::ComPtr<ID3D11Texture2D> pUploadTexture;  // staging, CPU write
    Microsoft::WRL::ComPtr<ID3D11Texture2D> pFrameTexture;
};

}  // namespace fakedup
