// The platform calls of the duplication engine that are reached through a seam:
//   - IDXGIOutput1::DuplicateOutput, which Wine does not implement;
//   - IDXGIOutput::GetDesc, in the enumeration of outputs and in the engine's construction, so that
//     an output can be presented with a rotation and desktop rectangle the machine does not have
//     (Wine's one output is 1920 x 1080, unrotated);
//   - the loading of the run-time shader compiler library (LoadLibraryW in the compiler search of a
//     rotated output), so that a search can be made to find nothing, a library without the entry,
//     or a compiler that fails.
// Everything else on the duplication path is called directly. Each hook defaults to the real call
// and nothing in the capturer changes it: only test programs (and the capturer's test variant,
// which stands in for a platform without desktop duplication) install another function, with the
// scoped setters below, before any engine is built.
//
// Thread: install and remove a hook while no engine is being constructed (in practice: at program
// start, or from a test's own thread before it makes an engine).
#pragma once

#include <windows.h>

#include <dxgi1_2.h>

// Same contract as IDXGIOutput1::DuplicateOutput: on success *ppDuplication holds one reference
// for the caller; on failure it is null and the HRESULT says why.
using TDuplicateOutputFn = HRESULT (*)(IDXGIOutput1* pOutput, IUnknown* pDevice,
                                       IDXGIOutputDuplication** ppDuplication);
// Same contract as IDXGIOutput::GetDesc.
using TGetOutputDescFn = HRESULT (*)(IDXGIOutput* pOutput, DXGI_OUTPUT_DESC* pDesc);
// Same contract as LoadLibraryW: a module with one load reference for the caller, or null.
using TLoadLibraryFn = HMODULE (*)(const wchar_t* pszName);

// What the engine calls: the installed hook, or the real call.
HRESULT CallDuplicateOutput(IDXGIOutput1* pOutput, IUnknown* pDevice, IDXGIOutputDuplication** ppDuplication);
HRESULT CallGetOutputDesc(IDXGIOutput* pOutput, DXGI_OUTPUT_DESC* pDesc);
HMODULE CallLoadCompilerLibrary(const wchar_t* pszName);

// Installs `pfn` (null: the real call) for its lifetime and puts the previous hook back when
// destroyed.
template <class TFn>
class TScopedSeam {
public:
    explicit TScopedSeam(TFn pfn);
    ~TScopedSeam();
    TScopedSeam(const TScopedSeam&) = delete;
    TScopedSeam& operator=(const TScopedSeam&) = delete;

private:
    TFn pfnPrevious;
};

using TScopedDuplicateOutput = TScopedSeam<TDuplicateOutputFn>;
using TScopedGetOutputDesc = TScopedSeam<TGetOutputDescFn>;
using TScopedLoadCompilerLibrary = TScopedSeam<TLoadLibraryFn>;

extern template class TScopedSeam<TDuplicateOutputFn>;
extern template class TScopedSeam<TGetOutputDescFn>;
extern template class TScopedSeam<TLoadLibraryFn>;
