// Stands for the capturer process in the stand-in overlay's tests:
//   overlay_fake_capturer.exe <event name>
// Ends (exit code 0) once the named event is set, or after two minutes (exit code 1).
#include "ipc/THandle.h"

#include <windows.h>

int main(int argc, char** argv)
{
    if (argc != 2) {
        return 2;
    }
    const TKernelHandle hEnd(::CreateEventA(nullptr, TRUE, FALSE, argv[1]));
    if (!hEnd) {
        return 3;
    }
    return ::WaitForSingleObject(hEnd.Get(), 120000) == WAIT_OBJECT_0 ? 0 : 1;
}
