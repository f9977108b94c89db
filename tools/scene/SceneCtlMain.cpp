// ZYRSceneCtl.exe: the scene's events from a shell script (console subsystem).
//   ZYRSceneCtl wait NAME TIMEOUT_MS   waits until the named event is set (creating it if it does
//                                      not exist yet, auto-reset); exit 0 set, 1 timed out or failed
//   ZYRSceneCtl set NAME               sets the named event (creating it if need be); exit 0 or 1
//   ZYRSceneCtl pointer X Y            puts the pointer at (X, Y), screen pixels (SetCursorPos);
//                                      exit 0 or 1
// Exit code 2: bad arguments.
#include "ipc/THandle.h"

#include <windows.h>

#include <climits>
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

// Decimal with an optional minus sign, within int.
bool ParseCoordinate(const wchar_t* text, int* pValue)
{
    const std::wstring digits(text[0] == L'-' ? text + 1 : text);
    if (digits.empty() || digits.size() > 10 || digits.find_first_not_of(L"0123456789") != std::wstring::npos) {
        return false;
    }
    const long long value = std::wcstoll(text, nullptr, 10);
    if (value < INT_MIN || value > INT_MAX) {
        return false;
    }
    *pValue = static_cast<int>(value);
    return true;
}

int Usage()
{
    std::fprintf(stderr, "usage: ZYRSceneCtl wait NAME TIMEOUT_MS | ZYRSceneCtl set NAME | ZYRSceneCtl pointer X Y\n");
    return kExitBadArguments;
}

int MovePointer(int argc, wchar_t** argv)
{
    int x = 0;
    int y = 0;
    if (argc != 4 || !ParseCoordinate(argv[2], &x) || !ParseCoordinate(argv[3], &y)) {
        return Usage();
    }
    if (!::SetCursorPos(x, y)) {
        std::fprintf(stderr, "ZYRSceneCtl: SetCursorPos error %lu\n", ::GetLastError());
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring verb = argc > 1 ? argv[1] : L"";
    if (verb == L"pointer") {
        return MovePointer(argc, argv);
    }
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
