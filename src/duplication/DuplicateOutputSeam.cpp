#include "duplication/DuplicateOutputSeam.h"

namespace {

HRESULT RealDuplicateOutput(IDXGIOutput1* pOutput, IUnknown* pDevice, IDXGIOutputDuplication** ppDuplication)
{
    return pOutput->DuplicateOutput(pDevice, ppDuplication);
}

TDuplicateOutputFn g_pfnDuplicateOutput = &RealDuplicateOutput;

}  // namespace

HRESULT CallDuplicateOutput(IDXGIOutput1* pOutput, IUnknown* pDevice, IDXGIOutputDuplication** ppDuplication)
{
    return g_pfnDuplicateOutput(pOutput, pDevice, ppDuplication);
}

TScopedDuplicateOutput::TScopedDuplicateOutput(TDuplicateOutputFn pfn) : pfnPrevious(g_pfnDuplicateOutput)
{
    g_pfnDuplicateOutput = pfn != nullptr ? pfn : &RealDuplicateOutput;
}

TScopedDuplicateOutput::~TScopedDuplicateOutput()
{
    g_pfnDuplicateOutput = pfnPrevious;
}
