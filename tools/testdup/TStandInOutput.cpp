#include "TStandInOutput.h"

namespace testdup {

HRESULT TStandInOutput::QueryInterface(REFIID riid, void** ppObject)
{
    if (riid == __uuidof(IUnknown) || riid == __uuidof(IDXGIObject) || riid == __uuidof(IDXGIOutput) ||
        riid == __uuidof(IDXGIOutput1)) {
        *ppObject = static_cast<IDXGIOutput1*>(this);
        AddRef();
        return S_OK;
    }
    *ppObject = nullptr;
    return E_NOINTERFACE;
}

HRESULT TStandInOutput::GetParent(REFIID, void** ppParent)
{
    *ppParent = nullptr;
    return E_NOTIMPL;
}

HRESULT TStandInOutput::GetDesc(DXGI_OUTPUT_DESC* pDesc)
{
    if (hrDesc == S_OK) {
        *pDesc = desc;
    }
    return hrDesc;
}

HRESULT TStandInOutput::DuplicateOutput(IUnknown*, IDXGIOutputDuplication** ppDuplication)
{
    *ppDuplication = nullptr;
    return E_NOTIMPL;
}

}  // namespace testdup
