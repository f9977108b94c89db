#include "app/TZYRFullscreenCapturer.h"

#include "log/Log.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE /*hPrevInstance*/, LPSTR /*lpCmdLine*/, int /*nShowCmd*/)
{
    LogThreadStart(L"WinMain");
    LogInfo("%s", "WinMain");
    int result = 0;
    {
        TZYRFullscreenCapturer capturer(hInstance);
        result = capturer.RunGuarded();
        LogInfo("%s exit with %d", "WinMain", result);
    }
    return result;
}
