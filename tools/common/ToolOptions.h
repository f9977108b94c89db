// Reading the tools' command lines: whole-string integers, and "--option value" pairs as the scene
// and the blit-loop benchmark take them.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace toolargs {

// Whole-string decimal with an optional minus sign; 18 digits at most, so no overflow.
inline bool ParseInteger(const std::wstring& text, int64_t* pValue)
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

inline bool ParseInRange(const std::wstring& text, int64_t minimum, int64_t maximum, int64_t* pValue)
{
    return ParseInteger(text, pValue) && *pValue >= minimum && *pValue <= maximum;
}

// Walks `args` as option/value pairs: every option must be one of `known`, given once, and followed
// by a value that apply(option, value) accepts. *pSeen receives the options given. False with
// *pError describing the first problem.
template <class TApply>
bool ParseOptionPairs(const std::vector<std::wstring>& args, const std::set<std::wstring>& known, TApply apply,
                      std::set<std::wstring>* pSeen, std::wstring* pError)
{
    for (size_t i = 0; i < args.size(); i += 2) {
        const std::wstring& option = args[i];
        if (known.count(option) == 0) {
            *pError = L"unknown option '" + option + L"'";
            return false;
        }
        if (!pSeen->insert(option).second) {
            *pError = option + L" given twice";
            return false;
        }
        if (i + 1 >= args.size()) {
            *pError = option + L" needs a value";
            return false;
        }
        if (!apply(option, args[i + 1])) {
            *pError = L"bad value '" + args[i + 1] + L"' for " + option;
            return false;
        }
    }
    return true;
}

}  // namespace toolargs
