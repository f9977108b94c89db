#include "SceneOptions.h"

#include "ToolOptions.h"

#include <cstdint>
#include <set>

namespace scene {
namespace {

// Decimal digits only, 1 to 4294967295.
bool ParseProcessId(const std::wstring& text, uint32_t* pId)
{
    int64_t value = 0;
    if (!toolargs::ParseInRange(text, 1, 0xFFFFFFFFll, &value)) {
        return false;
    }
    *pId = static_cast<uint32_t>(value);
    return true;
}

// Decimal with an optional minus sign, within int32_t.
bool ParseCoordinate(const std::wstring& text, int32_t* pValue)
{
    int64_t value = 0;
    if (!toolargs::ParseInRange(text, INT32_MIN, INT32_MAX, &value)) {
        return false;
    }
    *pValue = static_cast<int32_t>(value);
    return true;
}

// "X,Y": two coordinates apart by one comma.
bool ParsePoint(const std::wstring& text, int32_t* pX, int32_t* pY)
{
    const size_t comma = text.find(L',');
    return comma != std::wstring::npos && ParseCoordinate(text.substr(0, comma), pX) &&
           ParseCoordinate(text.substr(comma + 1), pY);
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
    if (option == L"--animate") {
        int64_t ms = 0;
        if (!toolargs::ParseInRange(value, 1, 60000, &ms)) {
            return false;
        }
        pOptions->animateMs = static_cast<uint32_t>(ms);
        return true;
    }
    if (option == L"--pointer") {
        pOptions->hasPointer = ParsePoint(value, &pOptions->pointerX, &pOptions->pointerY);
        return pOptions->hasPointer;
    }
    std::wstring* pName = option == L"--ready-event" ? &pOptions->readyEvent
                          : option == L"--next-event" ? &pOptions->nextEvent
                                                      : &pOptions->quitEvent;
    *pName = value;
    return !value.empty();
}

}  // namespace

bool ParseSceneArguments(const std::vector<std::wstring>& args, SceneOptions* pOptions, std::wstring* pError)
{
    const std::set<std::wstring> known = {L"--pattern",    L"--parent",     L"--ready-event",
                                          L"--next-event", L"--quit-event", L"--pointer",
                                          L"--animate"};
    std::set<std::wstring> seen;
    return toolargs::ParseOptionPairs(
        args, known, [pOptions](const std::wstring& option, const std::wstring& value) {
            return ApplyOption(option, value, pOptions);
        }, &seen, pError);
}

const wchar_t* SceneUsage()
{
    return L"usage: ZYRScene [--pattern coords|smooth] [--ready-event NAME] [--next-event NAME]\n"
           L"                [--quit-event NAME] [--parent PID] [--pointer X,Y] [--animate MS]\n";
}

}  // namespace scene
