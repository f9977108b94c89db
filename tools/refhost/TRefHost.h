// The project's reference host, as a library: it prepares everything a recorder prepares for the
// capturer (the frame buffer section with its header, the named events and mutexes), starts the
// capturer with a host process id, watches the started-correctly event, ends the capturer in each
// of the three ways a host can, and reports its exit code. Any object can be left out, so that each
// start-up failure of the capturer can be produced. Requesting and reading frames is TFrameClient's
// job, over this object's section.
//
// Used from one thread.
#pragma once

#include "framebuffer/TFrameBufferHeader.h"
#include "ipc/THandle.h"

#include <windows.h>

#include <cstdint>
#include <string>

enum class THostObject {
    FrameBuffer,
    UninstallEvent,
    InstanceMutex,
    StartedCorrectlyEvent,
    FirstFrameEvent,
    HUDMutex,
    WebCamMutex,
    RadialMenuMutex,
    WebCamBackgroundMutex,
    CursorEvent,
    CursorMutex,
};

// Parses "frame-buffer", "uninstall-event", "instance-mutex", "started-event", "first-frame-event",
// "hud-mutex", "webcam-mutex", "radial-menu-mutex", "webcam-background-mutex", "cursor-event",
// "cursor-mutex".
bool ParseHostObject(const std::wstring& text, THostObject* pObject);
const wchar_t* HostObjectName(THostObject object);

// The default names of the cursor event and mutex: "ZYRRefHostCursorEvent-<pid>" and
// "ZYRRefHostCursorMutex-<pid>" with this process's id, so that hosts of different processes never
// share them (within one process the frame buffer's fixed name allows one host at a time).
std::wstring DefaultCursorEventName();
std::wstring DefaultCursorMutexName();

struct TRefHostOptions {
    // Objects to leave out (bit i set = object of enum value i not created).
    uint32_t ui32Omit = 0;
    // Section size in bytes; at least the header. Default: header plus room for 1920x1080 frames.
    uint64_t ui64SectionSize = 64ull * 1024 * 1024;
    // Failure injection: create the section with ui64SectionSize bytes although that is less than
    // the header (it is then neither mapped nor filled, and Header() is null), so that the
    // capturer's mapping of the header fails.
    bool bUndersizedSection = false;
    // Name of the capture-frame-instance mutex written into the header.
    std::wstring wsInstanceMutexName = L"ZYRRefHostCaptureFrameInstance67777777773";
    // Names of the cursor event (auto-reset) and the cursor mutex, written into the header's
    // wszCursorEventName and wszCursorMutexName (also when the object itself is left out).
    std::wstring wsCursorEventName = DefaultCursorEventName();
    std::wstring wsCursorMutexName = DefaultCursorMutexName();
    // The uninstall event is created already signalled.
    bool bUninstallPreSignalled = false;
    // Header settings.
    uint32_t ui32CaptureMethod = 1;
    THooksRect captureRegion{0, 0, 0, 0};
    std::wstring wsMonitorName;
    int32_t iRequestedWidth = -1;
    int32_t iRequestedHeight = -1;
    int32_t iMaxWidth = 1920;
    int32_t iMaxHeight = 1080;
    bool bStretch = false;
    bool bDontMirrorFrames = false;
    bool bCaptureEnabled = true;
    bool bDrawMouseCursor = false;
    bool bSuppressOverlayCommand = false;
    // The webcam, composited by capture method 0: a ui32WebCamWidth x ui32WebCamHeight picture
    // placed at the fractions of the frame below (default: 1/4 of the frame's width and height
    // from its centre to the right and up, 480 x 270 at 1:1 of a 1920 x 1080 screen), display mode
    // 0, with WebCamImage.fShaderParam = fWebCamShaderParam (the webcam shader's pixelAlpha.x).
    // Chroma keying adds the background picture (and makes the capture thread use the soft-edge
    // rule). Off: the webcam is hidden (WebCamVisibilityState 1), as before.
    bool bWebCam = false;
    uint32_t ui32WebCamWidth = 480;
    uint32_t ui32WebCamHeight = 270;
    double dWebCamLeft = 0.5;
    double dWebCamTop = 0.25;
    double dWebCamWidth = 0.25;
    double dWebCamHeight = 0.25;
    float fWebCamShaderParam = 0.5f;
    bool bChromaKeying = false;
    // Shared texture handles per frame slot (0: none). Wine 8 hands out no shared handles, so a
    // host under Wine can only name values that no device opens (kStandInSharedTexture + slot):
    // the capturer then delivers those slots through shared memory, without a cursor.
    uint64_t ui64SharedTextureHandles[kFrameSlotCount] = {};

    void Omit(THostObject object) { ui32Omit |= 1u << static_cast<uint32_t>(object); }
    bool IsOmitted(THostObject object) const { return (ui32Omit >> static_cast<uint32_t>(object)) & 1u; }
};

// The first stand-in shared texture handle (the slot is added); shared handles are 32-bit values.
constexpr uint64_t kStandInSharedTexture = 0x40000100;

enum class TStopMethod {
    UninstallEvent,     // signal the uninstall-all-hooks event
    CloseInstanceMutex, // close the capture-frame-instance mutex
    EndHost,            // the host process ends (the capturer watches the host process id)
};

class TRefHost {
public:
    TRefHost() = default;
    // Ends a capturer that still runs: signals the uninstall event and waits up to 10 s, then
    // terminates it (at once when the event was left out); returns once it has ended, so its
    // handles on the named objects are gone. Then closes everything.
    ~TRefHost();
    TRefHost(const TRefHost&) = delete;
    TRefHost& operator=(const TRefHost&) = delete;

    // Creates the section (header filled from the options) and every object not omitted; objects
    // that already exist under the same names are an error (another host is running). On failure
    // *pError names the object and the error, and nothing created by this call is kept. Call once.
    bool CreateObjects(const TRefHostOptions& options, std::wstring* pError);

    // The header in the section; null when the frame buffer was omitted.
    TFrameBufferHeader* Header() const { return viewFrameBuffer.As<TFrameBufferHeader>(); }
    // The whole section as this host maps it (ui64SectionSize bytes, starting with the header);
    // null and 0 when the frame buffer was omitted or is undersized. Valid while the host lives.
    uint8_t* SectionBytes() const { return viewFrameBuffer.Bytes(); }
    uint64_t SectionSize() const { return viewFrameBuffer.Size(); }

    // Starts the capturer: command line "<exe>" <host pid> [extra], where host pid is this
    // process's id unless hostPid is non-zero. argsOverride, when non-null, replaces everything
    // after the program name (to produce command-line failures).
    bool StartCapturer(const std::wstring& exePath, DWORD hostPid, const std::wstring* argsOverride, std::wstring* pError);

    // The started-correctly event (manual-reset, so testing it does not consume it). False when
    // the event was left out. The first-frame event is manual-reset too: the capturer sets it for
    // every frame, and a host that only asks "was any frame captured" must not consume it.
    bool WaitStartedCorrectly(DWORD timeoutMs) const;
    bool IsStartedCorrectlySet() const { return WaitStartedCorrectly(0); }
    // Waits until the started-correctly event is set or the capturer has ended, whichever comes
    // first; true when the event is set (a capturer may set it and end at once).
    bool WaitStartedCorrectlyOrExit(DWORD timeoutMs) const;

    // Signals the uninstall event / closes the instance mutex. EndHost is the caller's business:
    // a process that is the host ends itself (see ZYRRefHost.exe --stop end-host).
    void SignalUninstall();
    void CloseInstanceMutex();

    // Waits for the capturer to end; true with its exit code (as a signed int) when it did.
    bool WaitCapturerExit(DWORD timeoutMs, int* pExitCode);
    HANDLE CapturerProcess() const { return hCapturerProcess.Get(); }
    // The first-frame-captured event (manual-reset; null when left out): a host resets it and
    // waits for the next frame.
    HANDLE FirstFrameEvent() const { return hFirstFrameEvent.Get(); }
    DWORD CapturerProcessId() const { return dwCapturerProcessId; }
    // The cursor event (auto-reset: the capturer sets it for each cursor it has not seen, and one
    // wait answers one signal) and the mutex that guards the header's cursor block; null when left
    // out. Owned by the host, valid while it lives.
    HANDLE CursorEvent() const { return hCursorEvent.Get(); }
    HANDLE CursorMutex() const { return hCursorMutex.Get(); }
    // The overlay access mutexes by key (0 HUD, 1 webcam background, 2 webcam, 3 radial menu);
    // null when left out or for another key.
    HANDLE AccessMutex(uint32_t key) const { return key < 4 ? hAccessMutexes[key].Get() : nullptr; }
    // Starts that Wine's loader lost (ERROR_INTERNAL_ERROR) and StartCapturer repeated.
    uint32_t StartRetries() const { return ui32StartRetries; }

private:
    bool CreateAll(const TRefHostOptions& options, std::wstring* pError);
    bool CreateFrameBuffer(const TRefHostOptions& options, SECURITY_ATTRIBUTES* pAttributes, std::wstring* pError);
    bool CreateUndersizedFrameBuffer(const TRefHostOptions& options, SECURITY_ATTRIBUTES* pAttributes, std::wstring* pError);
    bool CreateEvents(const TRefHostOptions& options, SECURITY_ATTRIBUTES* pAttributes, std::wstring* pError);
    bool CreateMutexes(const TRefHostOptions& options, SECURITY_ATTRIBUTES* pAttributes, std::wstring* pError);
    void CloseObjects();
    void StopRunningCapturer();

    // Released in reverse order: the capturer's process handle first, the section last.
    bool bObjectsCreated = false;
    TKernelHandle hFrameBufferMapping;
    TMappedView viewFrameBuffer;
    TKernelHandle hUninstallEvent;
    TKernelHandle hStartedCorrectlyEvent;
    TKernelHandle hFirstFrameEvent;
    TKernelHandle hInstanceMutex;
    TKernelHandle hCursorEvent;
    TKernelHandle hCursorMutex;
    TKernelHandle hAccessMutexes[4];  // by key: 0 HUD, 1 WebCamBackground, 2 WebCam, 3 RadialMenu
    TKernelHandle hCapturerProcess;
    DWORD dwCapturerProcessId = 0;
    uint32_t ui32StartRetries = 0;
};
