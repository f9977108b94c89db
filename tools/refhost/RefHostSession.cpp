#include "RefHostSession.h"

#include "RefHostFrames.h"
#include "THostileHost.h"
#include "TWebCamProducer.h"

#include <algorithm>
#include <optional>

namespace {

void Line(std::ostream& out, const std::string& text)
{
    out << text << '\n';
    out.flush();
}

TRefHostSessionResult Failure(std::ostream& err, const std::wstring& message)
{
    Line(err, "ZYRRefHost: " + ToUtf8(message));
    return TRefHostSessionResult{};
}

bool HasEnded(const TRefHost& host)
{
    return ::WaitForSingleObject(host.CapturerProcess(), 0) == WAIT_OBJECT_0;
}

// Waits for started-correctly (or the capturer's end) and reports which came.
bool ReportStart(const TRefHostCommand& command, const TRefHost& host, std::ostream& out)
{
    const ULONGLONG ullStart = ::GetTickCount64();
    const bool bStarted = host.WaitStartedCorrectlyOrExit(command.ui32TimeoutMs);
    const ULONGLONG ullElapsed = ::GetTickCount64() - ullStart;
    if (!bStarted && HasEnded(host)) {
        Line(out, "started-correctly no");
    } else {
        Line(out, std::string("started-correctly ") + (bStarted ? "yes" : "no") + " after " +
                      std::to_string(ullElapsed) + " ms");
    }
    return bStarted;
}

void Stop(TStopMethod method, TRefHost& host, std::ostream& out)
{
    Line(out, std::string("stop ") + StopMethodText(method));
    if (method == TStopMethod::UninstallEvent) {
        host.SignalUninstall();
    } else if (method == TStopMethod::CloseInstanceMutex) {
        host.CloseInstanceMutex();
    }
}

// Waits until the named event exists and is set; another process creates it, perhaps later.
bool WaitForNamedEvent(const std::wstring& name, DWORD timeoutMs)
{
    const ULONGLONG ullDeadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
        TKernelHandle hEvent(::OpenEventW(SYNCHRONIZE, FALSE, name.c_str()));
        const ULONGLONG ullNow = ::GetTickCount64();
        const DWORD dwLeft = ullNow < ullDeadline ? static_cast<DWORD>(ullDeadline - ullNow) : 0;
        if (hEvent) {
            return ::WaitForSingleObject(hEvent.Get(), dwLeft) == WAIT_OBJECT_0;
        }
        if (dwLeft == 0) {
            return false;
        }
        ::Sleep(dwLeft < 20 ? dwLeft : 20);  // the event does not exist yet: nothing to wait on
    }
}

void SignalNamedEvent(const std::wstring& name)
{
    if (name.empty()) {
        return;
    }
    TKernelHandle hEvent(::OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str()));
    if (hEvent) {
        ::SetEvent(hEvent.Get());
    }
}

// The capturer's time between started-correctly and the stop: its frames, or --run-ms. The result
// is the session's exit code when nothing else fails.
int RunStartedCapturer(const TRefHostCommand& command, TRefHost& host, std::ostream& out, std::ostream& err,
                       const TByteWriter& streamWriter, const TCursorPublisher* pCursorPublisher)
{
    if (command.ui32Frames == 0) {
        ::WaitForSingleObject(host.CapturerProcess(), command.ui32RunMs);
        return 0;
    }
    return ReadRefHostFrames(command, host, out, err, streamWriter, pCursorPublisher);
}

// Stops a capturer that still runs, the chosen way, and reports its exit code (not after
// end-host: the host process ends first).
TRefHostSessionResult EndSession(const TRefHostCommand& command, TRefHost& host, int iSessionCode, std::ostream& out,
                                 std::ostream& err)
{
    if (!HasEnded(host)) {
        Stop(command.stopMethod, host, out);
        if (command.stopMethod == TStopMethod::EndHost) {
            return TRefHostSessionResult{iSessionCode, true};
        }
    }
    int iExitCode = 0;
    if (!host.WaitCapturerExit(command.ui32TimeoutMs, &iExitCode)) {
        return Failure(err, L"the capturer did not end within " + std::to_wstring(command.ui32TimeoutMs) + L" ms");
    }
    Line(out, "exit-code " + std::to_string(iExitCode));
    SignalNamedEvent(command.wsSignalEvent);
    return TRefHostSessionResult{iSessionCode, false};
}

// The hostile run of a started capturer, then the stop by the uninstall event, timed from the
// signal to the end of the capturer's process.
TRefHostSessionResult RunHostile(const TRefHostCommand& command, TRefHost& host, std::ostream& out,
                                 std::ostream& err)
{
    THostileOptions options;
    options.ui64Seed = command.ui64HostileSeed;
    options.ui32RunMs = command.ui32HostileMs;
    options.ui32TailMs = std::min<uint32_t>(3000, command.ui32HostileMs / 3);
    const THostileReport report = THostileHost(host, options, out).Run();
    LARGE_INTEGER frequency{};
    LARGE_INTEGER signalled{};
    LARGE_INTEGER ended{};
    ::QueryPerformanceFrequency(&frequency);
    const bool bWasRunning = !HasEnded(host);
    ::QueryPerformanceCounter(&signalled);
    host.SignalUninstall();
    int iExitCode = 0;
    if (!host.WaitCapturerExit(command.ui32TimeoutMs, &iExitCode)) {
        return Failure(err, L"the capturer did not end within " + std::to_wstring(command.ui32TimeoutMs) + L" ms");
    }
    ::QueryPerformanceCounter(&ended);
    // Whole milliseconds, rounded up; -1 when the capturer had ended before it was asked to.
    const int64_t stopMs =
        bWasRunning ? ((ended.QuadPart - signalled.QuadPart) * 1000 + frequency.QuadPart - 1) / frequency.QuadPart : -1;
    Line(out, "hostile stop_ms=" + std::to_string(stopMs) + " exit-code " + std::to_string(iExitCode) +
                  " frames=" + std::to_string(report.ui64Served) + " rewrites=" + std::to_string(report.ui64Rewrites));
    SignalNamedEvent(command.wsSignalEvent);
    return TRefHostSessionResult{0, false};
}

}  // namespace

std::string ToUtf8(const std::wstring& text)
{
    if (text.empty()) {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, result.data(), bytes, nullptr, nullptr);
    }
    return result;
}

TRefHostSessionResult RunRefHostSession(const TRefHostCommand& command, TRefHost& host, std::ostream& out,
                                        std::ostream& err, const TByteWriter& streamWriter)
{
    std::wstring error;
    if (!command.wsWaitEvent.empty() && !WaitForNamedEvent(command.wsWaitEvent, command.ui32TimeoutMs)) {
        return Failure(err, L"the event " + command.wsWaitEvent + L" was not set within " +
                                std::to_wstring(command.ui32TimeoutMs) + L" ms");
    }
    if (!command.wsPngDirectory.empty() && !EnsureDirectory(command.wsPngDirectory, &error)) {
        return Failure(err, error);
    }
    if (!host.CreateObjects(command.options, &error)) {
        return Failure(err, error);
    }
    // Publishing from before the capturer's start to the session's end: the capturer may ask for
    // a cursor (and lay the section out) at any time after it started.
    std::optional<TCursorPublisher> cursorPublisher;
    if (command.bPublishCursor) {
        cursorPublisher.emplace(host, command.cursorOptions);
        if (!cursorPublisher->Start()) {
            return Failure(err, L"the cursor block cannot be published (no frame buffer section)");
        }
    }
    const TCursorPublisher* pCursorPublisher = cursorPublisher ? &*cursorPublisher : nullptr;
    std::optional<TWebCamProducer> webcamProducer;
    if (command.options.bWebCam) {
        webcamProducer.emplace(host, command.dWebCamFramesPerSecond);
        if (!webcamProducer->Start()) {
            return Failure(err, L"the webcam pictures cannot be fed (no frame buffer section)");
        }
    }
    if (!host.StartCapturer(command.wsCapturerPath, 0, command.bArgsOverride ? &command.wsArgs : nullptr, &error)) {
        return Failure(err, error);
    }
    Line(out, "capturer-pid " + std::to_string(host.CapturerProcessId()));
    // A capturer that started gets its run time or reads its frames; one that did not is stopped
    // at once (and delivered no frames). Either way one that ended by itself meanwhile is only
    // reported.
    int iSessionCode = command.ui32Frames == 0 ? 0 : kExitFramesFailed;
    if (command.bHostile) {
        if (ReportStart(command, host, out)) {
            return RunHostile(command, host, out, err);
        }
        Line(err, "ZYRRefHost: no hostile run: the capturer did not start correctly");
        iSessionCode = kExitFramesFailed;
    } else if (ReportStart(command, host, out)) {
        iSessionCode = RunStartedCapturer(command, host, out, err, streamWriter, pCursorPublisher);
    } else if (command.ui32Frames != 0) {
        Line(err, "ZYRRefHost: no frames: the capturer did not start correctly");
    }
    return EndSession(command, host, iSessionCode, out, err);
}
