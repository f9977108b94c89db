// A rule-enforcing stand-in for IDXGIOutputDuplication, for the engine's and the DXGI capturer's
// suites (Wine has no desktop duplication). It hands out real textures made on the device that the
// engine passed to DuplicateOutput, follows a scripted list of results, and refuses what the real
// interface refuses:
//   - AcquireNextFrame while a frame is held: DXGI_ERROR_INVALID_CALL;
//   - ReleaseFrame, GetFrameMoveRects or GetFrameDirtyRects without a held frame:
//     DXGI_ERROR_INVALID_CALL;
//   - a rectangle buffer smaller than the frame's rectangles: DXGI_ERROR_MORE_DATA with the size
//     needed in *pRequiredSize;
//   - a null out argument: E_INVALIDARG;
//   - after it answered DXGI_ERROR_ACCESS_LOST once, every later call answers it too.
// Every refusal is counted, so a suite can prove the engine never made one. The object counts its
// own references. The rules and the COM object are testdup::TRuleOutputDuplication, which the
// screen-backed duplication of tools/testdup shares.
//
// Thread: the factory's members may be called from any thread (the capture loop's suites run the
// engine on a thread of their own); the factory must outlive every engine built while it is live.
#pragma once

#include "duplication/DuplicationSeams.h"

#include <windows.h>

#include <d3d11.h>
#include <dxgi1_2.h>
#include <wrl/client.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fakedup {

// A pixel of the scripted desktop as 0xAARRGGBB (stored as bytes B, G, R, A).
using TPixelFn = std::function<uint32_t(int x, int y)>;

struct TFrame {
    // The acquired desktop image (desktop-sized): pixel (x, y) = pixel(x, y). Empty: the texture
    // keeps the previous frame's pixels (all zero before the first), and the frame costs no upload.
    TPixelFn pixel;
    std::vector<DXGI_OUTDUPL_MOVE_RECT> moves;
    std::vector<RECT> dirties;
    // TotalMetadataBufferSize reported in the frame information; unset: 24 bytes per move plus 16
    // per dirty rectangle. A larger value is legal (the real interface may report more).
    std::optional<uint32_t> metadataSize;
    // What GetFrameMoveRects / GetFrameDirtyRects answer instead of their rectangles (S_OK: the
    // rectangles). DXGI_ERROR_MORE_DATA from a short buffer takes precedence only when S_OK.
    HRESULT hrMoveRects = S_OK;
    HRESULT hrDirtyRects = S_OK;
    // What ReleaseFrame answers for this frame. The frame is let go whatever the answer; only
    // DXGI_ERROR_ACCESS_LOST sticks.
    HRESULT hrRelease = S_OK;
};

struct TStep {
    // S_OK: a frame (below); DXGI_ERROR_WAIT_TIMEOUT, DXGI_ERROR_ACCESS_LOST or any other failure:
    // AcquireNextFrame answers it.
    HRESULT hrAcquire = S_OK;
    TFrame frame;
};

TStep Frame(TFrame frame);
TStep Timeout();
TStep AccessLost();
TStep Failure(HRESULT hr);

// What one fake saw, readable after the engine let go of it.
struct TFakeStats {
    uint32_t ui32Acquires = 0;  // AcquireNextFrame calls, refused ones included
    uint32_t ui32Releases = 0;  // ReleaseFrame calls, refused ones included
    std::vector<UINT> vecAcquireTimeouts;  // the timeout argument of every AcquireNextFrame
    std::vector<std::string> vecRefusals;  // one text per refused call, e.g. "acquire while held"
};

class TFakeOutputDuplication;
struct TFakeScript;

// Installs the DuplicateOutput hook for its lifetime (one at a time). Each DuplicateOutput call
// answers the next queued failure, if any, else makes a new fake over the device it is given,
// with `desktopWidth` x `desktopHeight` textures, which plays the steps queued with Push. When the
// script is empty, AcquireNextFrame answers DXGI_ERROR_WAIT_TIMEOUT.
class TFakeDuplicationFactory {
public:
    TFakeDuplicationFactory(uint32_t desktopWidth, uint32_t desktopHeight);
    ~TFakeDuplicationFactory();
    TFakeDuplicationFactory(const TFakeDuplicationFactory&) = delete;
    TFakeDuplicationFactory& operator=(const TFakeDuplicationFactory&) = delete;

    // The next DuplicateOutput call fails with hr (queued in order).
    void FailNextDuplicateOutput(HRESULT hr);
    // Appends a step to the script, shared by the current and later fakes.
    void Push(TStep step);
    size_t StepsLeft() const;
    uint32_t DuplicateOutputCalls() const;

    // The fake made last (null before the first); the factory holds a reference to it.
    TFakeOutputDuplication* Last() const;
    // References on the last fake besides the factory's own (0 once the engine released it).
    ULONG OutstandingReferences() const;
    // References on the texture of the frame the last fake handed out last, besides the fake's own
    // (0 when nothing but the fake holds it; 0 when no frame was handed out).
    ULONG OutstandingTextureReferences() const;
    TFakeStats Stats() const;

private:
    // The seam's hook: finds the live factory (the one made last) and has it answer.
    static HRESULT DuplicateOutputHook(IDXGIOutput1* pOutput, IUnknown* pDevice,
                                       IDXGIOutputDuplication** ppDuplication);
    HRESULT Duplicate(IUnknown* pDevice, IDXGIOutputDuplication** ppDuplication);
    // The last fake, taken under the script's lock (null before the first).
    Microsoft::WRL::ComPtr<TFakeOutputDuplication> LastFake() const;

    uint32_t ui32DesktopWidth;
    uint32_t ui32DesktopHeight;
    std::shared_ptr<TFakeScript> pScript;
    // Guarded by pScript->mutex.
    std::deque<HRESULT> deqDuplicateOutputFailures;
    uint32_t ui32DuplicateOutputCalls = 0;
    Microsoft::WRL::ComPtr<TFakeOutputDuplication> pLast;
    // The factory that was live before this one; it is live again when this one ends.
    TFakeDuplicationFactory* pPreviousFactory;
    TScopedDuplicateOutput hook;
};

}  // namespace fakedup
