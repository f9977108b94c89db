// ZYRHostDeath.exe: how fast the capturer and its overlay program follow a host that dies.
//   ZYRHostDeath watch --capturer-dir DIR [--runs N] [--first R] [--seed S] [--moment M] [--method 0|1]
//                      [--bound-ms 600] [--limit-ms 5000]
//       runs N hosts one after the other, each dying at its planned moment (DeathWatcher.h);
//       exit 0 when every run passed, 1 otherwise
//   ZYRHostDeath host --capturer EXE --seed S --run R [--moment M] [--method 0|1]
//       one dying host (DyingHost.h); started by the watcher
// Moments: warmup, mid-frame, hud-mutex, webcam-mutex, radial-menu-mutex, webcam-background-mutex,
// cursor-mutex, remap. Exit code 2: bad arguments.
#include "CommandLineArguments.h"
#include "DeathWatcher.h"
#include "DyingHost.h"
#include "RefHostSession.h"
#include "ToolOptions.h"

#include <cstdio>
#include <map>
#include <set>

namespace {

using namespace hostdeath;

constexpr int kBadArguments = 2;

int Usage(const std::wstring& problem)
{
    std::fprintf(stderr,
                 "ZYRHostDeath: %s\n"
                 "usage: ZYRHostDeath watch --capturer-dir DIR [--runs N] [--first R] [--seed S] [--moment M]\n"
                 "                          [--method 0|1] [--bound-ms MS] [--limit-ms MS]\n"
                 "       ZYRHostDeath host --capturer EXE --seed S --run R [--moment M] [--method 0|1]\n",
                 ToUtf8(problem).c_str());
    return kBadArguments;
}

// The option/value pairs after the mode; false with *pError on the first problem.
bool ReadPairs(const std::vector<std::wstring>& args, const std::set<std::wstring>& known,
               std::map<std::wstring, std::wstring>* pValues, std::wstring* pError)
{
    std::set<std::wstring> seen;
    return toolargs::ParseOptionPairs(
        args, known,
        [&](const std::wstring& option, const std::wstring& value) {
            (*pValues)[option] = value;
            return true;
        },
        &seen, pError);
}

bool ReadNumber(const std::map<std::wstring, std::wstring>& values, const wchar_t* option, int64_t minimum,
                int64_t maximum, int64_t* pValue)
{
    const auto it = values.find(option);
    return it == values.end() || toolargs::ParseInRange(it->second, minimum, maximum, pValue);
}

// The moment and method overrides both modes take; false on a bad value.
bool ReadOverrides(const std::map<std::wstring, std::wstring>& values, std::optional<TMoment>* pMoment,
                   std::optional<uint32_t>* pMethod)
{
    if (const auto it = values.find(L"--moment"); it != values.end()) {
        *pMoment = ParseMoment(ToUtf8(it->second));
        if (!*pMoment) {
            return false;
        }
    }
    int64_t method = -1;
    if (!ReadNumber(values, L"--method", 0, 1, &method)) {
        return false;
    }
    if (method >= 0) {
        *pMethod = static_cast<uint32_t>(method);
    }
    return true;
}

int RunHost(const std::vector<std::wstring>& args)
{
    std::map<std::wstring, std::wstring> values;
    std::wstring error;
    if (!ReadPairs(args, {L"--capturer", L"--seed", L"--run", L"--moment", L"--method"}, &values, &error)) {
        return Usage(error);
    }
    int64_t seed = 1;
    int64_t run = 1;
    std::optional<TMoment> moment;
    std::optional<uint32_t> method;
    if (values.count(L"--capturer") == 0 || !ReadNumber(values, L"--seed", 0, INT64_MAX, &seed) ||
        !ReadNumber(values, L"--run", 1, 1000000, &run) || !ReadOverrides(values, &moment, &method)) {
        return Usage(L"host: bad or missing values");
    }
    const TRunPlan plan = MakeRunPlan(static_cast<uint64_t>(seed), static_cast<uint32_t>(run), moment, method);
    return RunDyingHost(plan, values[L"--capturer"]);
}

int RunWatcher(const std::vector<std::wstring>& args)
{
    std::map<std::wstring, std::wstring> values;
    std::wstring error;
    if (!ReadPairs(args,
                   {L"--capturer-dir", L"--runs", L"--first", L"--seed", L"--moment", L"--method", L"--bound-ms",
                    L"--limit-ms"},
                   &values, &error)) {
        return Usage(error);
    }
    TWatchOptions options;
    int64_t runs = options.ui32Runs;
    int64_t first = options.ui32FirstRun;
    int64_t seed = static_cast<int64_t>(options.ui64Seed);
    int64_t bound = options.ui32BoundMs;
    int64_t limit = options.ui32LimitMs;
    if (values.count(L"--capturer-dir") == 0 || !ReadNumber(values, L"--runs", 1, 100000, &runs) ||
        !ReadNumber(values, L"--first", 1, 1000000, &first) || !ReadNumber(values, L"--seed", 0, INT64_MAX, &seed) ||
        !ReadNumber(values, L"--bound-ms", 1, 60000, &bound) || !ReadNumber(values, L"--limit-ms", 1, 600000, &limit) ||
        !ReadOverrides(values, &options.moment, &options.method)) {
        return Usage(L"watch: bad or missing values");
    }
    options.wsCapturerDir = values[L"--capturer-dir"];
    options.ui32Runs = static_cast<uint32_t>(runs);
    options.ui32FirstRun = static_cast<uint32_t>(first);
    options.ui64Seed = static_cast<uint64_t>(seed);
    options.ui32BoundMs = static_cast<uint32_t>(bound);
    options.ui32LimitMs = static_cast<uint32_t>(std::max(limit, bound));
    return WatchHostDeaths(options);
}

}  // namespace

int main()
{
    std::vector<std::wstring> args = toolargs::CommandLineArguments();
    if (args.empty()) {
        return Usage(L"no mode");
    }
    const std::wstring mode = args.front();
    args.erase(args.begin());
    if (mode == L"watch") {
        return RunWatcher(args);
    }
    if (mode == L"host") {
        return RunHost(args);
    }
    return Usage(L"unknown mode '" + mode + L"'");
}
