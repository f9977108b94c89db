// The one call of desktop duplication that is reached through a seam: IDXGIOutput1::DuplicateOutput.
// Everything else on the duplication path is called directly. The hook defaults to the real method
// and nothing in the capturer changes it: only test programs (and the capturer's test variant, which
// stands in for a platform without desktop duplication) install another function, with the scoped
// setter below, before any engine is built.
//
// Thread: install and remove the hook while no engine is being constructed (in practice: at program
// start, or from a test's own thread before it makes an engine).
#pragma once

#include <dxgi1_2.h>

// Same contract as IDXGIOutput1::DuplicateOutput: on success *ppDuplication holds one reference
// for the caller; on failure it is null and the HRESULT says why.
using TDuplicateOutputFn = HRESULT (*)(IDXGIOutput1* pOutput, IUnknown* pDevice,
                                       IDXGIOutputDuplication** ppDuplication);

// What the engine calls: the installed hook, or the real method.
HRESULT CallDuplicateOutput(IDXGIOutput1* pOutput, IUnknown* pDevice, IDXGIOutputDuplication** ppDuplication);

// Installs `pfn` for its lifetime and puts the previous hook back when destroyed.
class TScopedDuplicateOutput {
public:
    explicit TScopedDuplicateOutput(TDuplicateOutputFn pfn);
    ~TScopedDuplicateOutput();
    TScopedDuplicateOutput(const TScopedDuplicateOutput&) = delete;
    TScopedDuplicateOutput& operator=(const TScopedDuplicateOutput&) = delete;

private:
    TDuplicateOutputFn pfnPrevious;
};
