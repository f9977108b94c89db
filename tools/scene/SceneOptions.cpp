#include "SceneOptions.h"

#include <set>

namespace scene {
namespace {

// Decimal digits only, 1 to 4294967295.
bool ParseProcessId(const std::wstring& text, uint32_t* pId)
{
    if (text.empty() || text.size() > 10) {
        return false;
    }
    uint64_t value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') {
            return false;
        }
        value = value * 10 + static_cast<uint64_t>(c - L'0');
    }
    if (value == 0 || value > 0xFFFFFFFFull) {
        return false;
    }
    *pId = static_cast<uint32_t>(value);
    return true;
}

// Applies one option with its value; false when the value is not valid for it.
bool ApplyOption(const std::wstring& option, const std::wstring& value, SceneOptions* pOptions)
{
    if (option == L"--pattern") {
        return ParsePatternName(value, &pOptions->pattern);
    }
    if (option == L"--parent") {
        return ParseProcessId(value, &pOptions->parentPid);
    }
    std::wstring* pName = option == L"--ready-event" ? &pOptions->readyEvent
                          : option == L"--next-event" ? &pOptions->nextEvent
                                                      : &pOptions->quitEvent;
    *pName = value;
    return !value.empty();
}

bool IsKnownOption(const std::wstring& option)
{
    return option == L"--pattern" || option == L"--parent" || option == L"--ready-event" ||
           option == L"--next-event" || option == L"--quit-event";
}

}  // namespace

bool ParseSceneArguments(const std::vector<std::wstring>& args, SceneOptions* pOptions, std::wstring* pError)
{
    std::set<std::wstring> seen;
    for (size_t i = 0; i < args.size(); i += 2) {
        const std::wstring& option = args[i];
        if (!IsKnownOption(option)) {
            *pError = L"unknown option '" + option + L"'";
            return false;
        }
        if (!seen.insert(option).second) {
            *pError = option + L" given twice";
            return false;
        }
        if (i + 1 >= args.size()) {
            *pError = option + L" needs a value";
            return false;
        }
        if (!ApplyOption(option, args[i + 1], pOptions)) {
            *pError = L"bad value '" + args[i + 1] + L"' for " + option;
            return false;
        }
    }
    return true;
}

const wchar_t* SceneUsage()
{
    return L"usage: ZYRScene [--pattern coords|smooth] [--ready-event NAME] [--next-event NAME]\n"
           L"                [--quit-event NAME] [--parent PID]\n";
}

}  // namespace scene
