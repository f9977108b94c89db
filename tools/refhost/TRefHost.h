// The project's reference host, as a library: it prepares everything a recorder prepares for the
// capturer (the frame buffer section with its header, the named events and mutexes), starts the
// capturer with a host process id, watches the started-correctly event, ends the capturer in each
// of the three ways a host can, and reports its exit code. Any object can be left out, so that each
// start-up failure of the capturer can be produced. (Requesting and reading frames comes later and
// builds on the same object.)
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
};

// Parses "frame-buffer", "uninstall-event", "instance-mutex", "started-event", "first-frame-event",
// "hud-mutex", "webcam-mutex", "radial-menu-mutex", "webcam-background-mutex".
bool ParseHostObject(const std::wstring& text, THostObject* pObject);
const wchar_t* HostObjectName(THostObject object);

struct TRefHostOptions {
    // Objects to leave out (bit i set = object of enum value i not created).
    uint32_t ui32Omit = 0;
    // Section size in bytes; at least the header. Default: header plus room for 1920x1080 frames.
    uint64_t ui64SectionSize = 64ull * 1024 * 1024;
    // Name of the capture-frame-instance mutex written into the header.
    std::wstring wsInstanceMutexName = L"ZYRRefHostCaptureFrameInstance67777777773";
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

    void Omit(THostObject object) { ui32Omit |= 1u << static_cast<uint32_t>(object); }
    bool IsOmitted(THostObject object) const { return (ui32Omit >> static_cast<uint32_t>(object)) & 1u; }
};

enum class TStopMethod {
    UninstallEvent,     // signal the uninstall-all-hooks event
    CloseInstanceMutex, // close the capture-frame-instance mutex
    EndHost,            // the host process ends (the capturer watches the host process id)
};

class TRefHost {
public:
    TRefHost() = default;
    ~TRefHost();  // ends a capturer that still runs (uninstall event, then terminate after 10 s)
    TRefHost(const TRefHost&) = delete;
    TRefHost& operator=(const TRefHost&) = delete;

    // Creates the section (header filled from the options) and every object not omitted; objects
    // that already exist under the same names are an error (another host is running).
    bool CreateObjects(const TRefHostOptions& options, std::wstring* pError);

    // The header in the section; null when the frame buffer was omitted.
    TFrameBufferHeader* Header() const { return viewFrameBuffer.As<TFrameBufferHeader>(); }

    // Starts the capturer: command line "<exe>" <host pid> [extra], where host pid is this
    // process's id unless hostPid is non-zero. argsOverride, when non-null, replaces everything
    // after the program name (to produce command-line failures).
    bool StartCapturer(const std::wstring& exePath, DWORD hostPid, const std::wstring* argsOverride, std::wstring* pError);

    // The started-correctly event (manual-reset, so testing it does not consume it).
    bool WaitStartedCorrectly(DWORD timeoutMs) const;
    bool IsStartedCorrectlySet() const { return WaitStartedCorrectly(0); }

    // Signals the uninstall event / closes the instance mutex. EndHost is the caller's business:
    // a process that is the host ends itself (see ZYRRefHost.exe --stop end-host).
    void SignalUninstall();
    void CloseInstanceMutex();

    // Waits for the capturer to end; true with its exit code (as a signed int) when it did.
    bool WaitCapturerExit(DWORD timeoutMs, int* pExitCode);
    HANDLE CapturerProcess() const { return hCapturerProcess.Get(); }
    DWORD CapturerProcessId() const { return dwCapturerProcessId; }

private:
    TKernelHandle hFrameBufferMapping;
    TMappedView viewFrameBuffer;
    TKernelHandle hUninstallEvent;
    TKernelHandle hStartedCorrectlyEvent;
    TKernelHandle hFirstFrameEvent;
    TKernelHandle hInstanceMutex;
    TKernelHandle hAccessMutexes[4];  // by key: 0 HUD, 1 WebCamBackground, 2 WebCam, 3 RadialMenu
    TKernelHandle hCapturerProcess;
    DWORD dwCapturerProcessId = 0;
};
