#include "duplication/DuplicationSeams.h"

namespace {

HRESULT RealDuplicateOutput(IDXGIOutput1* pOutput, IUnknown* pDevice, IDXGIOutputDuplication** ppDuplication)
{
    return pOutput->DuplicateOutput(pDevice, ppDuplication);
}

HRESULT RealGetOutputDesc(IDXGIOutput* pOutput, DXGI_OUTPUT_DESC* pDesc)
{
    return pOutput != nullptr ? pOutput->GetDesc(pDesc) : E_POINTER;
}

HMODULE RealLoadLibrary(const wchar_t* pszName)
{
    return ::LoadLibraryW(pszName);
}

TDuplicateOutputFn g_pfnDuplicateOutput = &RealDuplicateOutput;
TGetOutputDescFn g_pfnGetOutputDesc = &RealGetOutputDesc;
TLoadLibraryFn g_pfnLoadCompilerLibrary = &RealLoadLibrary;

// The hook variable and the real call of each seam.
TDuplicateOutputFn& Hook(TDuplicateOutputFn*)
{
    return g_pfnDuplicateOutput;
}
TDuplicateOutputFn Real(TDuplicateOutputFn*)
{
    return &RealDuplicateOutput;
}
TGetOutputDescFn& Hook(TGetOutputDescFn*)
{
    return g_pfnGetOutputDesc;
}
TGetOutputDescFn Real(TGetOutputDescFn*)
{
    return &RealGetOutputDesc;
}
TLoadLibraryFn& Hook(TLoadLibraryFn*)
{
    return g_pfnLoadCompilerLibrary;
}
TLoadLibraryFn Real(TLoadLibraryFn*)
{
    return &RealLoadLibrary;
}

}  // namespace

HRESULT CallDuplicateOutput(IDXGIOutput1* pOutput, IUnknown* pDevice, IDXGIOutputDuplication** ppDuplication)
{
    return g_pfnDuplicateOutput(pOutput, pDevice, ppDuplication);
}

HRESULT CallGetOutputDesc(IDXGIOutput* pOutput, DXGI_OUTPUT_DESC* pDesc)
{
    return g_pfnGetOutputDesc(pOutput, pDesc);
}

HMODULE CallLoadCompilerLibrary(const wchar_t* pszName)
{
    return g_pfnLoadCompilerLibrary(pszName);
}

template <class TFn>
TScopedSeam<TFn>::TScopedSeam(TFn pfn) : pfnPrevious(Hook(static_cast<TFn*>(nullptr)))
{
    Hook(static_cast<TFn*>(nullptr)) = pfn != nullptr ? pfn : Real(static_cast<TFn*>(nullptr));
}

template <class TFn>
TScopedSeam<TFn>::~TScopedSeam()
{
    Hook(static_cast<TFn*>(nullptr)) = pfnPrevious;
}

template class TScopedSeam<TDuplicateOutputFn>;
template class TScopedSeam<TGetOutputDescFn>;
template class TScopedSeam<TLoadLibraryFn>;
