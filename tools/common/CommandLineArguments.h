// The arguments a tool was started with, after its program name.
#pragma once

#include "ipc/THandle.h"

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

namespace toolargs {

inline std::vector<std::wstring> CommandLineArguments()
{
    int count = 0;
    TLocalMemory<LPWSTR*> argv(::CommandLineToArgvW(::GetCommandLineW(), &count));
    std::vector<std::wstring> args;
    for (int i = 1; argv.Get() != nullptr && i < count; ++i) {
        args.emplace_back(argv.Get()[i]);
    }
    return args;
}

}  // namespace toolargs
