#include "DeathWatcher.h"

#include "DyingHost.h"
#include "RefHostSession.h"
#include "THostChild.h"

#include "ToolClock.h"

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

namespace hostdeath {
namespace {

constexpr DWORD kCapturerPidBoundMs = 60000;
constexpr DWORD kHostLifeBoundMs = 180000;
constexpr DWORD kLookIntervalMs = 50;      // overlay search while the host lives
constexpr DWORD kGoneIntervalMs = 5;       // overlay search while the capturer outlives the host
constexpr wchar_t kOverlayExe[] = L"fullscreenoverlay.exe";

void Say(const std::string& line)
{
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

using toolclock::NowMs;

std::wstring OwnPath()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::wstring(path, length);
}

std::wstring CapturerPath(const TWatchOptions& options, const TRunPlan& plan)
{
    std::wstring dir = options.wsCapturerDir;
    if (!dir.empty() && dir.back() != L'\\') {
        dir += L'\\';
    }
    return dir + (plan.ui32Method == 0 ? L"ZYRFullscreenCapturerTestDup.exe" : L"ZYRFullscreenCapturer.exe");
}

// A watched process: its handle, and when it was seen gone (ms after the host's death).
struct TWatched {
    TKernelHandle hProcess;
    std::optional<double> goneMs;
};

// The overlay programs the capturer started: found by their parent's id and their file name, opened
// at once so that their end can be timed.
class TOverlaySearch {
public:
    explicit TOverlaySearch(DWORD capturerPid) : dwCapturerPid(capturerPid) {}

    void Look()
    {
        // A failed snapshot is INVALID_HANDLE_VALUE, like a failed file open.
        TFileHandle hSnapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        if (!hSnapshot) {
            return;
        }
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof(entry);
        for (BOOL more = ::Process32FirstW(hSnapshot.Get(), &entry); more; more = ::Process32NextW(hSnapshot.Get(), &entry)) {
            if (entry.th32ParentProcessID == dwCapturerPid && _wcsicmp(entry.szExeFile, kOverlayExe) == 0 &&
                mapOverlays.count(entry.th32ProcessID) == 0) {
                TKernelHandle hOverlay(::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, entry.th32ProcessID));
                if (hOverlay) {
                    mapOverlays[entry.th32ProcessID].hProcess = std::move(hOverlay);
                }
            }
        }
    }
    std::map<DWORD, TWatched>& Overlays() { return mapOverlays; }

private:
    DWORD dwCapturerPid;
    std::map<DWORD, TWatched> mapOverlays;
};

struct TRunResult {
    std::vector<std::string> vecFailures;
    std::string strFields;
    double dSlowestMs = 0;
};

bool IsSignalled(HANDLE h)
{
    return ::WaitForSingleObject(h, 0) == WAIT_OBJECT_0;
}

// Appends `item` to a `separator`-separated list. (Also keeps GCC 12 at -O3 from a false -Wrestrict
// report on "literal" + temporary string.)
void AppendItem(std::string& list, const char* separator, const std::string& item)
{
    if (!list.empty()) {
        list += separator;
    }
    list += item;
}

std::string Ms(double ms)
{
    return std::to_string(static_cast<long long>(ms + 0.5));
}

// After the host's death at t0: waits until the capturer and every overlay program it started are
// gone, looking for late overlay programs while the capturer lives; terminates what is left at the
// limit.
void WatchAfterDeath(double t0, const TWatchOptions& options, TWatched& capturer, TOverlaySearch& search,
                     TRunResult& result)
{
    for (;;) {
        const double now = NowMs();
        if (!capturer.goneMs && IsSignalled(capturer.hProcess.Get())) {
            capturer.goneMs = now - t0;
            search.Look();  // one look after its end: an overlay started in the last interval
        }
        std::vector<HANDLE> alive;
        if (!capturer.goneMs) {
            search.Look();
            alive.push_back(capturer.hProcess.Get());
        }
        for (auto& [pid, overlay] : search.Overlays()) {
            if (!overlay.goneMs && IsSignalled(overlay.hProcess.Get())) {
                overlay.goneMs = NowMs() - t0;
            }
            if (!overlay.goneMs) {
                alive.push_back(overlay.hProcess.Get());
            }
        }
        if (alive.empty()) {
            return;
        }
        if (now - t0 > options.ui32LimitMs) {
            result.vecFailures.push_back("still running " + std::to_string(options.ui32LimitMs) +
                                         " ms after the host died, terminated");
            for (HANDLE h : alive) {
                ::TerminateProcess(h, 1);
                ::WaitForSingleObject(h, 5000);
            }
            return;
        }
        ::WaitForMultipleObjects(static_cast<DWORD>(alive.size()), alive.data(), FALSE, kGoneIntervalMs);
    }
}

std::string HostDetails(THostChild& child)
{
    child.WaitPipeClosed(2000);
    for (const std::string& line : child.Lines()) {
        if (line.rfind("dying ", 0) == 0) {
            const size_t space = line.find(' ', 6);
            return space == std::string::npos ? std::string() : line.substr(space + 1);
        }
    }
    return {};
}

std::string HostFailure(THostChild& child)
{
    child.WaitPipeClosed(2000);
    std::string text;
    for (const std::string& line : child.Lines()) {
        if (line.rfind("dying ", 0) != 0 && line.rfind("capturer-pid ", 0) != 0) {
            AppendItem(text, " | ", line);
        }
    }
    return text;
}

void CheckOutcome(const TWatchOptions& options, const TRunPlan& plan, const TWatched& capturer, TOverlaySearch& search,
                  TRunResult& result)
{
    // What had to be terminated counts as the limit.
    result.dSlowestMs = options.ui32LimitMs;
    if (capturer.goneMs) {
        result.dSlowestMs = *capturer.goneMs;
        if (*capturer.goneMs > options.ui32BoundMs) {
            result.vecFailures.push_back("capturer gone after " + Ms(*capturer.goneMs) + " ms");
        }
        DWORD dwExit = 0;
        ::GetExitCodeProcess(capturer.hProcess.Get(), &dwExit);
        result.strFields += " exit-code " + std::to_string(static_cast<int>(dwExit));
        if (dwExit != 0) {
            result.vecFailures.push_back("capturer exit code " + std::to_string(static_cast<int>(dwExit)));
        }
    }
    for (auto& [pid, overlay] : search.Overlays()) {
        result.dSlowestMs = std::max(result.dSlowestMs, overlay.goneMs.value_or(options.ui32LimitMs));
        if (overlay.goneMs) {
            if (*overlay.goneMs > options.ui32BoundMs) {
                result.vecFailures.push_back("overlay program " + std::to_string(pid) + " gone after " +
                                             Ms(*overlay.goneMs) + " ms");
            }
        }
    }
    // With frames flowing the overlay program ran long before the death: it must have been seen.
    const bool bFramesFlowed = plan.moment != TMoment::WarmUp && plan.moment != TMoment::Remap;
    if (bFramesFlowed && search.Overlays().empty()) {
        result.vecFailures.push_back("no overlay program seen");
    }
}

std::string OverlayFields(TOverlaySearch& search)
{
    if (search.Overlays().empty()) {
        return " overlay_gone_ms=none";
    }
    std::string gone;
    for (auto& [pid, overlay] : search.Overlays()) {
        AppendItem(gone, ",", overlay.goneMs ? Ms(*overlay.goneMs) : std::string("never"));
    }
    return " overlay_gone_ms=" + gone;
}

std::string OverlayPids(TOverlaySearch& search)
{
    std::string pids;
    for (auto& [pid, overlay] : search.Overlays()) {
        AppendItem(pids, ",", std::to_string(pid));
    }
    return pids.empty() ? "none" : pids;
}

TRunResult WatchRun(const TWatchOptions& options, const TRunPlan& plan)
{
    TRunResult result;
    const std::wstring self = OwnPath();
    THostChild host;
    std::wstring error;
    const double start = NowMs();
    if (!host.Start(self, L"\"" + self + L"\" " + HostArguments(options, plan), &error)) {
        result.vecFailures.push_back("the host did not start: " + ToUtf8(error));
        return result;
    }
    const std::string pidLine = host.WaitLine({"capturer-pid ", "host-failed "}, kCapturerPidBoundMs);
    if (pidLine.rfind("capturer-pid ", 0) != 0) {
        result.vecFailures.push_back("no capturer: " + HostFailure(host));
        return result;
    }
    const DWORD capturerPid = static_cast<DWORD>(std::stoul(pidLine.substr(13)));
    TWatched capturer;
    capturer.hProcess.Reset(::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                          capturerPid));
    if (!capturer.hProcess) {
        result.vecFailures.push_back("the capturer " + std::to_string(capturerPid) + " cannot be opened");
        return result;
    }
    TOverlaySearch search(capturerPid);
    while (::WaitForSingleObject(host.Process(), kLookIntervalMs) == WAIT_TIMEOUT) {
        if (NowMs() - start > kHostLifeBoundMs) {
            result.vecFailures.push_back("the host never died");
            ::TerminateProcess(host.Process(), 1);
            break;
        }
        search.Look();
    }
    const double t0 = NowMs();
    WatchAfterDeath(t0, options, capturer, search, result);
    DWORD dwHostExit = 0;
    ::GetExitCodeProcess(host.Process(), &dwHostExit);
    if (dwHostExit != static_cast<DWORD>(kDiedAtMoment)) {
        result.vecFailures.push_back("the host missed its moment: " + HostFailure(host));
    }
    result.strFields = " after_ms=" + Ms(t0 - start) + " capturer_gone_ms=" +
                       (capturer.goneMs ? Ms(*capturer.goneMs) : std::string("never")) + OverlayFields(search);
    CheckOutcome(options, plan, capturer, search, result);
    result.strFields += std::string(result.vecFailures.empty() ? " ok" : " FAILED") + " capturer_pid=" +
                        std::to_string(capturerPid) + " overlay_pid=" + OverlayPids(search) + " " +
                        DescribePlan(plan).substr(DescribePlan(plan).find(' ') + 1) + " host=\"" + HostDetails(host) + "\"" +
                        " died_at=" + Ms(t0);
    return result;
}

}  // namespace

std::wstring HostArguments(const TWatchOptions& options, const TRunPlan& plan)
{
    std::wstring args = L"host --seed " + std::to_wstring(options.ui64Seed) + L" --run " + std::to_wstring(plan.ui32Run) +
                        L" --capturer \"" + CapturerPath(options, plan) + L"\"";
    if (options.moment) {
        const std::string name = MomentName(*options.moment);
        args += L" --moment " + std::wstring(name.begin(), name.end());
    }
    if (options.method) {
        args += L" --method " + std::to_wstring(*options.method);
    }
    return args;
}

int WatchHostDeaths(const TWatchOptions& options)
{
    Say("host-death seed=" + std::to_string(options.ui64Seed) + " runs=" + std::to_string(options.ui32FirstRun) + ".." +
        std::to_string(options.ui32FirstRun + options.ui32Runs - 1) + " bound_ms=" + std::to_string(options.ui32BoundMs));
    uint32_t passed = 0;
    double slowest = 0;
    std::map<std::string, double> slowestByMoment;
    std::string failedRuns;
    for (uint32_t run = options.ui32FirstRun; run < options.ui32FirstRun + options.ui32Runs; ++run) {
        const TRunPlan plan = MakeRunPlan(options.ui64Seed, run, options.moment, options.method);
        const TRunResult result = WatchRun(options, plan);
        std::string line = "run " + std::to_string(run) + " moment=" + MomentName(plan.moment) + result.strFields;
        if (!result.vecFailures.empty()) {
            std::string reasons;
            for (const std::string& failure : result.vecFailures) {
                AppendItem(reasons, "; ", failure);
            }
            line += " reasons=(" + reasons + ")";
            AppendItem(failedRuns, " ", std::to_string(run));
        } else {
            ++passed;
        }
        Say(line);
        slowest = std::max(slowest, result.dSlowestMs);
        double& momentSlowest = slowestByMoment[MomentName(plan.moment)];
        momentSlowest = std::max(momentSlowest, result.dSlowestMs);
    }
    std::string perMoment = "slowest per moment:";
    for (const auto& [name, ms] : slowestByMoment) {
        perMoment += " " + name + "=" + Ms(ms);
    }
    Say(perMoment);
    Say("host-death " + std::to_string(passed) + "/" + std::to_string(options.ui32Runs) + " within " +
        std::to_string(options.ui32BoundMs) + " ms, slowest " + Ms(slowest) + " ms" +
        (failedRuns.empty() ? std::string() : "; failed runs: " + failedRuns));
    return passed == options.ui32Runs ? 0 : 1;
}

}  // namespace hostdeath
