#include "RefHostCommandLine.h"

#include <limits>

namespace {

// Whole-string decimal with an optional minus sign; 18 digits at most, so no overflow.
bool ParseInteger(const std::wstring& text, int64_t* pValue)
{
    size_t i = (!text.empty() && text[0] == L'-') ? 1 : 0;
    if (i == text.size() || text.size() - i > 18) {
        return false;
    }
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < L'0' || text[i] > L'9') {
            return false;
        }
        value = value * 10 + (text[i] - L'0');
    }
    *pValue = text[0] == L'-' ? -value : value;
    return true;
}

bool ParseInRange(const std::wstring& text, int64_t minimum, int64_t maximum, int64_t* pValue)
{
    return ParseInteger(text, pValue) && *pValue >= minimum && *pValue <= maximum;
}

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
        const bool bValid = ParseInt32List(value, L'x', 2, 0, values);
        (option == L"--size" ? pOptions->iRequestedWidth : pOptions->iMaxWidth) = values[0];
        (option == L"--size" ? pOptions->iRequestedHeight : pOptions->iMaxHeight) = values[1];
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

// Applies a flag without a value; false when `option` is not one.
bool ApplyFlag(const std::wstring& option, TRefHostOptions* pOptions)
{
    if (option == L"--stretch") {
        pOptions->bStretch = true;
    } else if (option == L"--no-mirror") {
        pOptions->bDontMirrorFrames = true;
    } else if (option == L"--uninstall-presignalled") {
        pOptions->bUninstallPreSignalled = true;
    } else {
        return false;
    }
    return true;
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
        if (ApplyFlag(option, &pCommand->options)) {
            continue;
        }
        const std::wstring value = i + 1 < args.size() ? args[i + 1] : std::wstring();
        TApplied applied = ApplyHostValue(option, value, &pCommand->options);
        if (applied == TApplied::NotThisGroup) {
            applied = ApplyRunValue(option, value, pCommand);
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
    return TRefHostParseResult::Run;
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
           "process's id, waits for started-correctly, lets it run, stops it and reports its exit code.\n"
           "  --omit <object>          leave an object out (repeatable): frame-buffer, uninstall-event,\n"
           "                           instance-mutex, started-event, first-frame-event, hud-mutex,\n"
           "                           webcam-mutex, radial-menu-mutex, webcam-background-mutex\n"
           "  --method 0|1             capture method: 0 DXGI, 1 GDI (default 1)\n"
           "  --region l,t,r,b         capture region (default all zero: whole screen)\n"
           "  --monitor <name>         monitor device name\n"
           "  --size WxH               requested frame size (default -1x-1: from the capture)\n"
           "  --max WxH                capacity (default 1920x1080)\n"
           "  --stretch                stretch instead of keeping the aspect ratio\n"
           "  --no-mirror              frames top-down\n"
           "  --instance-mutex <name>  capture-frame-instance mutex name\n"
           "  --uninstall-presignalled create the uninstall event signalled\n"
           "  --stop uninstall|instance-mutex|end-host   how to stop the capturer (default uninstall)\n"
           "  --run-ms <N>             run time after started-correctly (default 1000)\n"
           "  --timeout-ms <N>         bound of each wait (default 20000)\n"
           "  --args <text>            replaces the capturer's arguments (\"\" = none)\n"
           "  --idle <ms>              only sleep, then exit 0 (a stand-in host process)\n"
           "  --wait-event <name>      start the capturer only once the named event exists and is set\n"
           "                           (e.g. ZYRLogServer --ready-event), within --timeout-ms\n"
           "  --signal-event <name>    set the named event when the run is over (e.g. ZYRLogServer\n"
           "                           --quit-event)\n"
           "Output lines: capturer-pid <N>; started-correctly yes after <ms> ms | started-correctly no\n"
           "[after <ms> ms]; stop <method>; exit-code <N>. With --stop end-host the host exits 0 right\n"
           "after \"stop end-host\". Exit code: 0 ran as asked, 1 own failure, 2 bad arguments.\n";
}
