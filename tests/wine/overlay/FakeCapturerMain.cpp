// Stands for the capturer process in the overlay program's test: `overlay_fake_capturer.exe <event
// name>` ends with 0 once the named event is set, or with 1 after two minutes.
#include <windows.h>

int main(int argc, char** argv)
{
    const HANDLE hEnd = argc == 2 ? ::CreateEventA(nullptr, TRUE, FALSE, argv[1]) : nullptr;
    return hEnd != nullptr && ::WaitForSingleObject(hEnd, 120000) == WAIT_OBJECT_0 ? 0 : 1;
}
