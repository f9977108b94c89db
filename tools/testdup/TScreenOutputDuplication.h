// A desktop duplication made of GDI screen grabs, for a platform without one (Wine 8 answers
// E_NOTIMPL to DuplicateOutput). Each AcquireNextFrame grabs the output's rectangle from the
// display DC into a DIB section (BitBlt), compares it with the previous grab in tiles of 64 pixels
// (testdup::FindChangedRects), and, when something changed, writes the changed areas into a
// desktop-sized B8G8R8A8 default texture on the engine's device (through a CPU-written staging
// texture that mirrors the desktop) and reports them as dirty rectangles (alpha 255, as duplicated
// desktops have it). The first frame is the whole desktop, dirty. No
// move rectangles. Nothing changed: DXGI_ERROR_WAIT_TIMEOUT (at once for a timeout of 0, otherwise
// after grabbing until the timeout passed). A failed grab answers DXGI_ERROR_ACCESS_LOST, as a
// real duplication does when the desktop goes away: the engine then builds a new one. So does an
// acquire after a test set the auto-reset event named AccessLostEventName(this process's id): that
// is how whole-process tests make the capturer lose and rebuild its engine in the middle of a run.
//
// Costs under Wine at 1920x1080: the BitBlt is about 7 ms from a second thread (60-75 ms from a
// process's main thread), so call it from the capture thread. Buffers and textures are made with
// the object; a frame allocates nothing.
//
// Thread: as TRuleOutputDuplication (the frame calls from one thread at a time).
#pragma once

#include "ChangedTiles.h"
#include "GdiScreen.h"
#include "TRuleOutputDuplication.h"
#include "ipc/THandle.h"

#include <wrl/client.h>

#include <string>
#include <vector>

namespace testdup {

// The texture debug name that marks this code in an executable: the shipped capturer must not
// contain it (scripts/check-exe.sh).
constexpr char kScreenDuplicationMarker[] = "ZYRTestDup screen-backed duplication";

// "ZYRTestDupAccessLost<pid>": set it to make the next acquire of process `pid` answer
// DXGI_ERROR_ACCESS_LOST.
std::wstring AccessLostEventName(uint32_t ui32ProcessId);

// The environment variable that makes the test variant present its outputs rotated: "2", "3" or
// "4" (90, 180, 270 degrees, as DXGI_MODE_ROTATION numbers them). The engine then sees a desktop
// rectangle of exchanged extents for 90 and 270 degrees and turns the screen grabs, which stay in
// the screen's own (native) orientation, upright. Read once, when the process starts.
constexpr wchar_t kRotationVariable[] = L"ZYRTestDupRotation";

// The environment variable that makes every acquire of the test variant's duplication first stall
// for that many milliseconds (decimal, at most 60000), as a driver that hangs in a call does: how
// whole-process tests put the capture thread into a pass that outlasts a stop. Each stall first
// sets the manual-reset event StallingEventName(this process's id), so a test knows it is in one.
constexpr wchar_t kStallVariable[] = L"ZYRTestDupStallMs";
std::wstring StallingEventName(uint32_t ui32ProcessId);

// The environment variable that makes the test variant log the heap its own code holds every that
// many seconds (1 to 3600; HeapCount.cpp).
constexpr wchar_t kHeapReportVariable[] = L"ZYRTestDupHeapReportS";

// The decimal number of at most five digits in the environment variable `pszName`; 0 when it is
// not set, not such a number, or above dwMaximum.
DWORD NumberFromEnvironment(const wchar_t* pszName, DWORD dwMaximum);

class TScreenOutputDuplication final : public TRuleOutputDuplication {
public:
    // What the frames cost so far: for benchmarks and tests.
    struct TCounters {
        uint32_t ui32Grabs = 0;         // BitBlt calls
        uint32_t ui32Frames = 0;        // frames handed out
        uint32_t ui32WholeCopies = 0;   // frames copied into the texture whole (many or large changes)
        double dGrabMs = 0;             // time in BitBlt, all grabs
        double dCompareMs = 0;          // time finding the changed tiles, all grabs
        double dUploadMs = 0;           // time writing the changes into the frame texture (CPU side)
    };

    // A DuplicateOutput for the seam (TScopedDuplicateOutput): duplicates pOutput's desktop
    // rectangle (the primary monitor's when pOutput is null) for the ID3D11Device in pDevice.
    static HRESULT DuplicateOutputHook(IDXGIOutput1* pOutput, IUnknown* pDevice,
                                       IDXGIOutputDuplication** ppDuplication);
    // Makes a duplication of the screen rectangle rcDesktop with one reference for the caller, or
    // answers why not (a GDI failure as HRESULT_FROM_WIN32, or the texture creation's HRESULT).
    static HRESULT Create(Microsoft::WRL::ComPtr<ID3D11Device> pDevice, const RECT& rcDesktop,
                          TScreenOutputDuplication** ppDuplication);

    // Read on the frame thread, or after it ended.
    TCounters Counters() const { return counters; }

protected:
    HRESULT ProduceFrame(UINT timeoutMs, TFrameOut* pFrame) override;

private:
    TScreenOutputDuplication(Microsoft::WRL::ComPtr<ID3D11Device> pDeviceArg, const RECT& rcDesktopArg);
    // Logs the counters (one line), so a run of the test variant shows what its stand-in cost.
    ~TScreenOutputDuplication() override;

    HRESULT CreateResources();
    bool Grab(scene::Dib32& target);
    // Fills vecDirty with the areas where grab `next` differs from the last frame's grab.
    uint32_t FindChanges(uint32_t next);
    // Writes the changed areas of `grab` into the upload texture and copies them into the frame.
    HRESULT Upload(const scene::Dib32& grab, uint32_t count);
    void CopyAreas(uint32_t count);
    // Milliseconds since `startTicks` (a performance counter value).
    double MsSince(int64_t startTicks) const;

    RECT rcDesktop;
    TDeviceContext screenDc;
    scene::Dib32 grabs[2];
    uint32_t ui32Latest = 0;  // the grab the last frame was made from
    bool bHaveFrame = false;
    // Both sized once (MaxChangedRects); a frame uses the first `count` entries.
    std::vector<THooksRect> vecChanged;
    std::vector<RECT> vecDirty;
    Microsoft::WRL::ComPtr<ID3D11Texture2D> pUploadTexture;  // staging, CPU write: mirrors the desktop
    Microsoft::WRL::ComPtr<ID3D11Texture2D> pFrameTexture;
    TCounters counters;
    TKernelHandle hAccessLost;  // AccessLostEventName of this process; null when it could not be made
    double dTicksPerMs = 0;  // of the performance counter
    const DWORD dwStallMs = NumberFromEnvironment(kStallVariable, 60000);
    TKernelHandle hStalling;  // StallingEventName of this process, made with a stall only
};

}  // namespace testdup
