#include "TestProgramEnd.h"

#include <windows.h>

#include <cstdio>

void EndTestProgram(int result)
{
    std::fflush(stdout);
    std::fflush(stderr);
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(result));
    ::ExitProcess(static_cast<UINT>(result));  // not reached: TerminateProcess of the own process does not return
}
