// ZYRSceneCtl.exe: the scene's events from a shell script (console subsystem).
//   ZYRSceneCtl wait NAME TIMEOUT_MS   waits until the named event is set (creating it if it does
//                                      not exist yet, auto-reset); exit 0 set, 1 timed out or failed
//   ZYRSceneCtl set NAME               sets the named event (creating it if need be); exit 0 or 1
// Exit code 2: bad arguments.
#include "ipc/THandle.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitBadArguments = 2;

// Decimal milliseconds below INFINITE: every wait stays bounded.
bool ParseTimeout(const wchar_t* text, DWORD* pMs)
{
    const std::wstring digits(text);
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of(L"0123456789") != std::wstring::npos) {
        return false;
    }
    *pMs = static_cast<DWORD>(std::wcstoul(digits.c_str(), nullptr, 10));
    return true;
}

int Usage()
{
    std::fprintf(stderr, "usage: ZYRSceneCtl wait NAME TIMEOUT_MS | ZYRSceneCtl set NAME\n");
    return kExitBadArguments;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring verb = argc > 1 ? argv[1] : L"";
    DWORD dwTimeoutMs = 0;
    const bool bWait = verb == L"wait" && argc == 4 && ParseTimeout(argv[3], &dwTimeoutMs);
    const bool bSet = verb == L"set" && argc == 3;
    if ((!bWait && !bSet) || argv[2][0] == L'\0') {
        return Usage();
    }
    TKernelHandle hEvent(::CreateEventW(nullptr, FALSE, FALSE, argv[2]));
    if (!hEvent) {
        std::fprintf(stderr, "ZYRSceneCtl: CreateEvent error %lu\n", ::GetLastError());
        return kExitFailed;
    }
    if (bSet) {
        return ::SetEvent(hEvent.Get()) ? kExitOk : kExitFailed;
    }
    if (::WaitForSingleObject(hEvent.Get(), dwTimeoutMs) != WAIT_OBJECT_0) {
        std::fprintf(stderr, "ZYRSceneCtl: event not set within %lu ms\n", dwTimeoutMs);
        return kExitFailed;
    }
    return kExitOk;
}
