// Linked only into ZYRFullscreenCapturerTestDup.exe, never into the library: before WinMain runs,
// these objects point the capturer's one DuplicateOutput call at the screen-backed duplication, so
// that the desktop duplication method can run where the platform has none (Wine), and, when the
// environment asks for it (kRotationVariable), present the outputs rotated. The seams' defaults are
// constant-initialised, so this dynamic initialisation always comes after them.
#include "TScreenOutputDuplication.h"

#include "duplication/DuplicationSeams.h"

#include <windows.h>

namespace {

DXGI_MODE_ROTATION g_eRotation = DXGI_MODE_ROTATION_UNSPECIFIED;

// The real description with the rotation asked for; for 90 and 270 degrees the desktop rectangle
// keeps its top-left corner and exchanges its extents (the screen is the native image).
HRESULT RotatedOutputDesc(IDXGIOutput* pOutput, DXGI_OUTPUT_DESC* pDesc)
{
    const HRESULT hr = pOutput != nullptr ? pOutput->GetDesc(pDesc) : E_POINTER;
    if (hr == S_OK) {
        RECT& rect = pDesc->DesktopCoordinates;
        if (g_eRotation == DXGI_MODE_ROTATION_ROTATE90 || g_eRotation == DXGI_MODE_ROTATION_ROTATE270) {
            rect = RECT{rect.left, rect.top, rect.left + (rect.bottom - rect.top), rect.top + (rect.right - rect.left)};
        }
        pDesc->Rotation = g_eRotation;
    }
    return hr;
}

// The hook for the rotation the environment names, or null (the real GetDesc).
TGetOutputDescFn RotationFromEnvironment()
{
    wchar_t wszValue[8] = {};
    const DWORD dwLength = ::GetEnvironmentVariableW(testdup::kRotationVariable, wszValue, 8);
    if (dwLength != 1 || wszValue[0] < L'2' || wszValue[0] > L'4') {
        return nullptr;
    }
    g_eRotation = static_cast<DXGI_MODE_ROTATION>(wszValue[0] - L'0');
    return &RotatedOutputDesc;
}

const TScopedDuplicateOutput g_screenDuplication(&testdup::TScreenOutputDuplication::DuplicateOutputHook);
const TScopedGetOutputDesc g_rotatedOutputs(RotationFromEnvironment());

}  // namespace
