#include "FakeOutputDuplication.h"

#include "TFakeOutputDuplication.h"

#include <utility>

namespace fakedup {

using Microsoft::WRL::ComPtr;

namespace {

// The factory whose hook is installed. Set and cleared by the factories themselves, on the test's
// thread, while no engine is being constructed (the seam's own rule).
TFakeDuplicationFactory* g_pLiveFactory = nullptr;

}  // namespace

TStep Frame(TFrame frame)
{
    TStep step;
    step.frame = std::move(frame);
    return step;
}

TStep Timeout()
{
    return Failure(DXGI_ERROR_WAIT_TIMEOUT);
}

TStep AccessLost()
{
    return Failure(DXGI_ERROR_ACCESS_LOST);
}

TStep Failure(HRESULT hr)
{
    TStep step;
    step.hrAcquire = hr;
    return step;
}

TFakeDuplicationFactory::TFakeDuplicationFactory(uint32_t desktopWidth, uint32_t desktopHeight)
    : ui32DesktopWidth(desktopWidth),
      ui32DesktopHeight(desktopHeight),
      pScript(std::make_shared<TFakeScript>()),
      pPreviousFactory(g_pLiveFactory),
      hook(&TFakeDuplicationFactory::DuplicateOutputHook)
{
    g_pLiveFactory = this;
}

TFakeDuplicationFactory::~TFakeDuplicationFactory()
{
    g_pLiveFactory = pPreviousFactory;
}

HRESULT TFakeDuplicationFactory::DuplicateOutputHook(IDXGIOutput1*, IUnknown* pDevice,
                                                     IDXGIOutputDuplication** ppDuplication)
{
    if (ppDuplication == nullptr) {
        return E_INVALIDARG;
    }
    *ppDuplication = nullptr;
    if (pDevice == nullptr || g_pLiveFactory == nullptr) {
        return E_INVALIDARG;
    }
    return g_pLiveFactory->Duplicate(pDevice, ppDuplication);
}

HRESULT TFakeDuplicationFactory::Duplicate(IUnknown* pDevice, IDXGIOutputDuplication** ppDuplication)
{
    std::lock_guard<std::mutex> lock(pScript->mutex);
    ++ui32DuplicateOutputCalls;
    if (!deqDuplicateOutputFailures.empty()) {
        const HRESULT hr = deqDuplicateOutputFailures.front();
        deqDuplicateOutputFailures.pop_front();
        return hr;
    }
    ComPtr<ID3D11Device> pD3DDevice;
    HRESULT hr = pDevice->QueryInterface(IID_PPV_ARGS(pD3DDevice.GetAddressOf()));
    if (hr != S_OK) {
        return E_INVALIDARG;
    }
    ComPtr<TFakeOutputDuplication> pFake;
    hr = TFakeOutputDuplication::Create(std::move(pD3DDevice), ui32DesktopWidth, ui32DesktopHeight, pScript,
                                        pFake.GetAddressOf());
    if (hr != S_OK) {
        return hr;
    }
    pLast = pFake;
    *ppDuplication = pFake.Detach();
    return S_OK;
}

void TFakeDuplicationFactory::FailNextDuplicateOutput(HRESULT hr)
{
    std::lock_guard<std::mutex> lock(pScript->mutex);
    deqDuplicateOutputFailures.push_back(hr);
}

void TFakeDuplicationFactory::Push(TStep step)
{
    std::lock_guard<std::mutex> lock(pScript->mutex);
    pScript->steps.push_back(std::move(step));
}

size_t TFakeDuplicationFactory::StepsLeft() const
{
    std::lock_guard<std::mutex> lock(pScript->mutex);
    return pScript->steps.size();
}

uint32_t TFakeDuplicationFactory::DuplicateOutputCalls() const
{
    std::lock_guard<std::mutex> lock(pScript->mutex);
    return ui32DuplicateOutputCalls;
}

ComPtr<TFakeOutputDuplication> TFakeDuplicationFactory::LastFake() const
{
    std::lock_guard<std::mutex> lock(pScript->mutex);
    return pLast;
}

TFakeOutputDuplication* TFakeDuplicationFactory::Last() const
{
    return LastFake().Get();
}

ULONG TFakeDuplicationFactory::OutstandingReferences() const
{
    const ComPtr<TFakeOutputDuplication> pFake = LastFake();
    // Neither the factory's reference nor the one just taken here.
    return pFake ? pFake->References() - 2 : 0;
}

ULONG TFakeDuplicationFactory::OutstandingTextureReferences() const
{
    const ComPtr<TFakeOutputDuplication> pFake = LastFake();
    return pFake ? pFake->OutstandingTextureReferences() : 0;
}

TFakeStats TFakeDuplicationFactory::Stats() const
{
    const ComPtr<TFakeOutputDuplication> pFake = LastFake();
    return pFake ? pFake->Stats() : TFakeStats{};
}

}  // namespace fakedup
