#include "RefHostCommandLine.h"

#include "ToolOptions.h"

#include <algorithm>
#include <limits>

namespace {

using toolargs::ParseInRange;
using toolargs::ParseInteger;

bool ParseMilliseconds(const std::wstring& text, uint32_t* pMs)
{
    int64_t value = 0;
    // INFINITE (0xFFFFFFFF) is left out: every wait stays bounded.
    if (!ParseInRange(text, 0, std::numeric_limits<uint32_t>::max() - 1, &value)) {
        return false;
    }
    *pMs = static_cast<uint32_t>(value);
    return true;
}

// "30", "29.97", "0": a rate in frames per second, at most 1000, at most three decimals.
bool ParseRate(const std::wstring& text, double* pRate)
{
    const size_t point = text.find(L'.');
    const std::wstring whole = text.substr(0, point);
    const std::wstring fraction = point == std::wstring::npos ? std::wstring() : text.substr(point + 1);
    int64_t wholeValue = 0;
    int64_t fractionValue = 0;
    if (whole.empty() || whole[0] == L'-' || !ParseInRange(whole, 0, 1000, &wholeValue) || fraction.size() > 3 ||
        (point != std::wstring::npos && (fraction.empty() || fraction[0] == L'-' || !ParseInteger(fraction, &fractionValue)))) {
        return false;
    }
    const double dScale = fraction.size() == 0 ? 1 : (fraction.size() == 1 ? 10 : (fraction.size() == 2 ? 100 : 1000));
    *pRate = static_cast<double>(wholeValue) + static_cast<double>(fractionValue) / dScale;
    return *pRate <= 1000;
}

// Splits "a<sep>b<sep>..." into exactly `count` int32 values.
bool ParseInt32List(const std::wstring& text, wchar_t separator, size_t count, int64_t minimum, int32_t* pValues)
{
    size_t begin = 0;
    for (size_t i = 0; i < count; ++i) {
        const size_t end = i + 1 < count ? text.find(separator, begin) : text.size();
        int64_t value = 0;
        if (end == std::wstring::npos ||
            !ParseInRange(text.substr(begin, end - begin), minimum, std::numeric_limits<int32_t>::max(), &value)) {
            return false;
        }
        pValues[i] = static_cast<int32_t>(value);
        begin = end + 1;
    }
    return true;
}

bool ParseStopMethod(const std::wstring& text, TStopMethod* pMethod)
{
    for (TStopMethod method : {TStopMethod::UninstallEvent, TStopMethod::CloseInstanceMutex, TStopMethod::EndHost}) {
        const std::string name = StopMethodText(method);
        if (text == std::wstring(name.begin(), name.end())) {
            *pMethod = method;
            return true;
        }
    }
    return false;
}

enum class TApplied { NotThisGroup, Ok, BadValue };

TApplied Applied(bool bValid)
{
    return bValid ? TApplied::Ok : TApplied::BadValue;
}

// The options that go into the frame buffer header or choose which objects exist.
TApplied ApplyHostValue(const std::wstring& option, const std::wstring& value, TRefHostOptions* pOptions)
{
    int64_t number = 0;
    int32_t values[4] = {};
    THostObject object{};
    if (option == L"--omit") {
        const bool bValid = ParseHostObject(value, &object);
        if (bValid) {
            pOptions->Omit(object);
        }
        return Applied(bValid);
    }
    if (option == L"--method") {
        const bool bValid = ParseInRange(value, 0, 1, &number);
        pOptions->ui32CaptureMethod = static_cast<uint32_t>(number);
        return Applied(bValid);
    }
    if (option == L"--region") {
        const bool bValid = ParseInt32List(value, L',', 4, std::numeric_limits<int32_t>::min(), values);
        pOptions->captureRegion = THooksRect{values[0], values[1], values[2], values[3]};
        return Applied(bValid);
    }
    if (option == L"--size" || option == L"--max") {
        // "-1" (size from the capture) for --size only; W and H apart by 'x' or ','.
        const bool bDerived = option == L"--size" && value == L"-1";
        const wchar_t separator = value.find(L',') != std::wstring::npos ? L',' : L'x';
        const bool bValid = bDerived || ParseInt32List(value, separator, 2, 0, values);
        (option == L"--size" ? pOptions->iRequestedWidth : pOptions->iMaxWidth) = bDerived ? -1 : values[0];
        (option == L"--size" ? pOptions->iRequestedHeight : pOptions->iMaxHeight) = bDerived ? -1 : values[1];
        if (option == L"--max" && bValid) {
            // A section for the capacity: six frames of it and 16 MiB for the other areas.
            pOptions->ui64SectionSize = std::max<uint64_t>(
                pOptions->ui64SectionSize, 6ull * 4 * uint32_t(values[0]) * uint32_t(values[1]) + (16ull << 20));
        }
        return Applied(bValid);
    }
    if (option == L"--capture-enabled") {
        const bool bValid = ParseInRange(value, 0, 1, &number);
        pOptions->bCaptureEnabled = number != 0;
        return Applied(bValid);
    }
    if (option == L"--monitor") {
        pOptions->wsMonitorName = value;
        return TApplied::Ok;
    }
    if (option == L"--instance-mutex") {
        pOptions->wsInstanceMutexName = value;
        return Applied(!value.empty());
    }
    return TApplied::NotThisGroup;
}

// The options of the run itself: what to start, how long to wait, how to stop.
TApplied ApplyRunValue(const std::wstring& option, const std::wstring& value, TRefHostCommand* pCommand)
{
    if (option == L"--capturer") {
        pCommand->wsCapturerPath = value;
        return Applied(!value.empty());
    }
    if (option == L"--stop") {
        return Applied(ParseStopMethod(value, &pCommand->stopMethod));
    }
    if (option == L"--run-ms") {
        return Applied(ParseMilliseconds(value, &pCommand->ui32RunMs));
    }
    if (option == L"--timeout-ms") {
        return Applied(ParseMilliseconds(value, &pCommand->ui32TimeoutMs));
    }
    if (option == L"--args") {
        pCommand->bArgsOverride = true;
        pCommand->wsArgs = value;
        return TApplied::Ok;
    }
    if (option == L"--wait-event") {
        pCommand->wsWaitEvent = value;
        return value.empty() ? TApplied::BadValue : TApplied::Ok;
    }
    if (option == L"--signal-event") {
        pCommand->wsSignalEvent = value;
        return value.empty() ? TApplied::BadValue : TApplied::Ok;
    }
    if (option == L"--idle") {
        pCommand->bIdle = true;
        return Applied(ParseMilliseconds(value, &pCommand->ui32IdleMs));
    }
    return TApplied::NotThisGroup;
}

// The options of requesting and reading frames.
TApplied ApplyFrameValue(const std::wstring& option, const std::wstring& value, TRefHostCommand* pCommand)
{
    int64_t number = 0;
    if (option == L"--frames") {
        const bool bValid = ParseInRange(value, 1, 10000000, &number);
        pCommand->ui32Frames = static_cast<uint32_t>(number);
        return Applied(bValid);
    }
    if (option == L"--fps") {
        return Applied(ParseRate(value, &pCommand->dFramesPerSecond));
    }
    if (option == L"--png-dir") {
        pCommand->wsPngDirectory = value;
        return Applied(!value.empty());
    }
    if (option == L"--hostile") {
        const bool bValid = ParseInRange(value, 0, std::numeric_limits<int64_t>::max(), &number);
        pCommand->bHostile = true;
        pCommand->ui64HostileSeed = static_cast<uint64_t>(number);
        return Applied(bValid);
    }
    if (option == L"--hostile-ms") {
        const bool bValid = ParseInRange(value, 1, 24 * 3600 * 1000, &number);
        pCommand->ui32HostileMs = static_cast<uint32_t>(number);
        return Applied(bValid);
    }
    return TApplied::NotThisGroup;
}

// "S[,S...]": each slot S (0 to 5) gets the stand-in handle kStandInSharedTexture + S.
bool ParseSharedTextureSlots(const std::wstring& text, TRefHostOptions* pOptions)
{
    size_t nStart = 0;
    while (nStart <= text.size()) {
        const size_t nEnd = std::min(text.find(L',', nStart), text.size());
        int64_t slot = 0;
        if (!ParseInRange(text.substr(nStart, nEnd - nStart), 0, kFrameSlotCount - 1, &slot)) {
            return false;
        }
        pOptions->ui64SharedTextureHandles[slot] = kStandInSharedTexture + static_cast<uint64_t>(slot);
        nStart = nEnd + 1;
    }
    return true;
}

// The options of the webcam pictures the host feeds (and the slots it backs with a texture).
TApplied ApplyWebCamValue(const std::wstring& option, const std::wstring& value, TRefHostCommand* pCommand)
{
    if (option == L"--webcam") {
        double dParameter = 0;
        const bool bValid = ParseRate(value, &dParameter);
        pCommand->options.bWebCam = true;
        pCommand->options.fWebCamShaderParam = static_cast<float>(dParameter);
        return Applied(bValid);
    }
    if (option == L"--webcam-fps") {
        return Applied(ParseRate(value, &pCommand->dWebCamFramesPerSecond));
    }
    if (option == L"--shared-texture") {
        return Applied(ParseSharedTextureSlots(value, &pCommand->options));
    }
    return TApplied::NotThisGroup;
}

// The options of the cursor block the host publishes.
TApplied ApplyCursorValue(const std::wstring& option, const std::wstring& value, TRefHostCommand* pCommand)
{
    if (option == L"--cursor-picture") {
        pCommand->bPublishCursor = true;
        pCommand->options.bDrawMouseCursor = true;
        return Applied(refcursor::ParseCursorPicture(value, &pCommand->cursorOptions.picture));
    }
    if (option == L"--cursor-hotspot") {
        int32_t values[2] = {};
        const bool bValid = ParseInt32List(value, L',', 2, std::numeric_limits<int32_t>::min(), values);
        pCommand->cursorOptions.iHotspotX = values[0];
        pCommand->cursorOptions.iHotspotY = values[1];
        pCommand->bCursorHotspotGiven = true;
        return Applied(bValid);
    }
    return TApplied::NotThisGroup;
}

// Applies a flag without a value; false when `option` is not one.
bool ApplyFlag(const std::wstring& option, TRefHostCommand* pCommand)
{
    TRefHostOptions& options = pCommand->options;
    if (option == L"--stretch") {
        options.bStretch = true;
    } else if (option == L"--no-mirror") {
        options.bDontMirrorFrames = true;
    } else if (option == L"--cursor") {
        options.bDrawMouseCursor = true;
    } else if (option == L"--chroma-key") {
        options.bChromaKeying = true;
    } else if (option == L"--suppress-overlay-command") {
        options.bSuppressOverlayCommand = true;
    } else if (option == L"--uninstall-presignalled") {
        options.bUninstallPreSignalled = true;
    } else if (option == L"--pipeline") {
        pCommand->bPipeline = true;
    } else if (option == L"--single-frame") {
        pCommand->bSingleFrame = true;
    } else if (option == L"--raw" || option == L"--y4m") {
        pCommand->streamFormat = option == L"--raw" ? TStreamFormat::Raw : TStreamFormat::Y4m;
    } else {
        return false;
    }
    return true;
}

// The rules between options, checked once all are read.
bool CheckCombination(TRefHostCommand* pCommand, std::wstring* pError)
{
    if (pCommand->bSingleFrame) {
        pCommand->options.bCaptureEnabled = false;
        pCommand->ui32Frames = pCommand->ui32Frames == 0 ? 1 : pCommand->ui32Frames;
    }
    const bool bFrameOption = pCommand->dFramesPerSecond > 0 || pCommand->bPipeline || !pCommand->wsPngDirectory.empty() ||
                              pCommand->streamFormat != TStreamFormat::None;
    if (pCommand->bSingleFrame && pCommand->bPipeline) {
        *pError = L"--single-frame and --pipeline exclude each other";
    } else if (pCommand->bCursorHotspotGiven && !pCommand->bPublishCursor) {
        *pError = L"--cursor-hotspot needs --cursor-picture";
    } else if ((pCommand->options.bChromaKeying || pCommand->dWebCamFramesPerSecond > 0) && !pCommand->options.bWebCam) {
        *pError = L"--chroma-key and --webcam-fps need --webcam";
    } else if (pCommand->bHostile && (pCommand->ui32Frames != 0 || bFrameOption)) {
        *pError = L"--hostile reads frames of its own: no --frames, --single-frame, --fps, --pipeline, --png-dir, --raw, --y4m";
    } else if (pCommand->bHostile && pCommand->stopMethod != TStopMethod::UninstallEvent) {
        *pError = L"--hostile stops the capturer with the uninstall event";
    } else if (bFrameOption && pCommand->ui32Frames == 0) {
        *pError = L"--fps, --pipeline, --png-dir, --raw and --y4m need --frames or --single-frame";
    } else {
        return true;
    }
    return false;
}

}  // namespace

TRefHostParseResult ParseRefHostArguments(const std::vector<std::wstring>& args, TRefHostCommand* pCommand,
                                          std::wstring* pError)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& option = args[i];
        if (option == L"--help" || option == L"-h") {
            return TRefHostParseResult::Help;
        }
        const TStreamFormat otherStream = option == L"--raw" ? TStreamFormat::Y4m : TStreamFormat::Raw;
        if ((option == L"--raw" || option == L"--y4m") && pCommand->streamFormat == otherStream) {
            *pError = L"--raw and --y4m exclude each other";
            return TRefHostParseResult::Bad;
        }
        if (ApplyFlag(option, pCommand)) {
            continue;
        }
        const std::wstring value = i + 1 < args.size() ? args[i + 1] : std::wstring();
        TApplied applied = ApplyHostValue(option, value, &pCommand->options);
        if (applied == TApplied::NotThisGroup) {
            applied = ApplyRunValue(option, value, pCommand);
        }
        if (applied == TApplied::NotThisGroup) {
            applied = ApplyFrameValue(option, value, pCommand);
        }
        if (applied == TApplied::NotThisGroup) {
            applied = ApplyCursorValue(option, value, pCommand);
        }
        if (applied == TApplied::NotThisGroup) {
            applied = ApplyWebCamValue(option, value, pCommand);
        }
        if (applied == TApplied::NotThisGroup) {
            *pError = L"unknown option '" + option + L"'";
            return TRefHostParseResult::Bad;
        }
        if (i + 1 == args.size()) {
            *pError = option + L" needs a value";
            return TRefHostParseResult::Bad;
        }
        if (applied == TApplied::BadValue) {
            *pError = L"bad value '" + value + L"' for " + option;
            return TRefHostParseResult::Bad;
        }
        ++i;
    }
    if (!pCommand->bIdle && pCommand->wsCapturerPath.empty()) {
        *pError = L"--capturer is required (or --idle)";
        return TRefHostParseResult::Bad;
    }
    return CheckCombination(pCommand, pError) ? TRefHostParseResult::Run : TRefHostParseResult::Bad;
}

const char* StopMethodText(TStopMethod method)
{
    switch (method) {
    case TStopMethod::UninstallEvent:
        return "uninstall";
    case TStopMethod::CloseInstanceMutex:
        return "instance-mutex";
    case TStopMethod::EndHost:
        return "end-host";
    }
    return "unknown";
}

const char* RefHostUsage()
{
    return "Usage: ZYRRefHost --capturer <ZYRFullscreenCapturer.exe> [options]\n"
           "       ZYRRefHost --idle <ms>\n"
           "Creates the host's frame buffer, events and mutexes, starts the capturer with this\n"
           "process's id, waits for started-correctly, lets it run (or reads frames), stops it and\n"
           "reports its exit code.\n"
           "Host objects and header settings:\n"
           "  --omit <object>          leave an object out (repeatable): frame-buffer, uninstall-event,\n"
           "                           instance-mutex, started-event, first-frame-event, hud-mutex,\n"
           "                           webcam-mutex, radial-menu-mutex, webcam-background-mutex,\n"
           "                           cursor-event, cursor-mutex\n"
           "  --method 0|1             capture method: 0 DXGI, 1 GDI (default 1)\n"
           "  --region l,t,r,b         capture region (default all zero: whole screen)\n"
           "  --monitor <name>         monitor device name\n"
           "  --size WxH|W,H|-1        requested frame size (default -1: from the capture)\n"
           "  --max WxH|W,H            capacity (default 1920x1080); the section grows to hold it\n"
           "  --stretch                stretch instead of keeping the aspect ratio\n"
           "  --no-mirror              frames top-down (default bottom-up)\n"
           "  --capture-enabled 0|1    continuous capture on (default 1)\n"
           "  --cursor                 draw the mouse cursor\n"
           "  --cursor-picture colour|mono|none  publish the cursor block (implies --cursor): the live\n"
           "                           cursor's handle, position and flags with a synthetic picture\n"
           "                           (none: handle 0, no bitmaps), on each cursor event and layout\n"
           "  --cursor-hotspot X,Y     hot spot published with the picture (default 0,0)\n"
           "  --webcam <M>             feed a webcam picture (480 x 270 at (0.5, 0.25) of the frame,\n"
           "                           WebCamPictures.h) with shader parameter M: <= 1 constant\n"
           "                           opacity, 10-11 scaled alpha, 12-13 soft edge, else its alpha;\n"
           "                           composited by capture method 0\n"
           "  --chroma-key             with --webcam: chroma keying and a background picture\n"
           "  --webcam-fps <R>         rewrite the pictures R times a second (default 0: once)\n"
           "  --shared-texture S[,S]   name a shared texture for frame slots S (0-5): stand-in handles\n"
           "                           0x40000100 + S (Wine hands out none), which no device opens\n"
           "  --suppress-overlay-command  no start command to the overlay program\n"
           "  --instance-mutex <name>  capture-frame-instance mutex name\n"
           "  --uninstall-presignalled create the uninstall event signalled\n"
           "The run:\n"
           "  --stop uninstall|instance-mutex|end-host   how to stop the capturer (default uninstall)\n"
           "  --run-ms <N>             run time after started-correctly, without --frames (default 1000)\n"
           "  --timeout-ms <N>         bound of each wait, also of each frame's (default 20000)\n"
           "  --args <text>            replaces the capturer's arguments (\"\" = none)\n"
           "  --idle <ms>              only sleep, then exit 0 (a stand-in host process)\n"
           "  --wait-event <name>      start the capturer only once the named event exists and is set\n"
           "                           (e.g. ZYRLogServer --ready-event), within --timeout-ms\n"
           "  --signal-event <name>    set the named event when the run is over (e.g. ZYRLogServer\n"
           "                           --quit-event)\n"
           "Frames (the capturer is stopped as --stop says once they are read):\n"
           "  --frames <N>             read N frames in slot order, one request at a time\n"
           "  --fps <R>                request at most R frames per second (default 0: as fast as served)\n"
           "  --pipeline               keep all six slots requested, as a recording host does\n"
           "  --single-frame           single-frame requests with capture disabled (N frames, default 1)\n"
           "  --png-dir <dir>          write <dir>\\frame_0000.png, ... (RGB)\n"
           "  --raw                    raw BGRA frames, rows top-down, on standard output\n"
           "  --y4m                    YUV4MPEG2 (4:2:0, BT.601 limited range) on standard output\n"
           "Hostile host:\n"
           "  --hostile <seed>         once started, keep all six slots requested and, from a generator\n"
           "                           seeded with <seed>, rewrite header fields the capturer reads (sizes,\n"
           "                           capacity, offsets, strides, region, monitor name, webcam, cursor names\n"
           "                           and blocks, shared textures, flags, requests) every 0-40 ms in storms\n"
           "                           with calm spells that restore them; the last 3 s are calm. Then stop\n"
           "                           with the uninstall event and time the capturer's exit\n"
           "  --hostile-ms <N>         how long (default 60000)\n"
           "  Lines: hostile seed=..., hostile rewrite t=<ms> <group> <field>=<value>, hostile window=<k>\n"
           "  ms=<n> served=<n> read=<n> rewrites=<n> phase=<p>, hostile served=... tail_served=<n>\n"
           "  capture_invalidated=0|1 capturer_ended=0|1, hostile startup-values <v>..., and\n"
           "  hostile stop_ms=<n> exit-code <N> frames=<n> rewrites=<n>\n"
           "Output lines: capturer-pid <N>; started-correctly yes after <ms> ms | started-correctly no\n"
           "[after <ms> ms]; with frames: frame-size <W>x<H> and\n"
           "  stats frames=<n> fps=<x.x> first_frame_ms=<n> latency_median_ms=<x.xx> latency_p95_ms=<x.xx>\n"
           "  latency_max_ms=<x.xx> capturer_cpu_ms=<n> [cursor_events=<n> with --cursor-picture]\n"
           "(the first frame, which waits for the warm-up, counts only in first_frame_ms); stop <method>;\n"
           "exit-code <N>. With --raw or --y4m these lines go to standard error. With --stop end-host the\n"
           "host exits right after \"stop end-host\".\n"
           "Exit code: 0 ran as asked, 1 own failure, 2 bad arguments, 3 the capturer refused the frame\n"
           "size (image 0 x 0), 4 frames not delivered (time-out, capturer ended, bad layout, sink).\n";
}
