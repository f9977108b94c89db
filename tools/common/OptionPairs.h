// "--option value" command lines, as the scene and the blit-loop benchmark take them.
#pragma once

#include <set>
#include <string>
#include <vector>

namespace toolargs {

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
