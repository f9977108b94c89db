// ZYRScene.exe: a topmost borderless window over the primary monitor painted with a known pattern
// (ScenePattern.h), for tests and benchmarks that capture the screen. See docs/scene.md.
//   ZYRScene [--pattern coords|smooth] [--ready-event NAME] [--next-event NAME] [--quit-event NAME]
//            [--parent PID] [--pointer X,Y]
// Exit codes: SceneApp.h.
#include "SceneApp.h"
#include "SceneOptions.h"

#include "ipc/THandle.h"

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

namespace {

std::vector<std::wstring> Arguments()
{
    int count = 0;
    TLocalMemory<LPWSTR*> argv(::CommandLineToArgvW(::GetCommandLineW(), &count));
    std::vector<std::wstring> args;
    for (int i = 1; argv.Get() != nullptr && i < count; ++i) {
        args.emplace_back(argv.Get()[i]);
    }
    return args;
}

}  // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int)
{
    scene::SceneOptions options;
    std::wstring error;
    if (!scene::ParseSceneArguments(Arguments(), &options, &error)) {
        // A GUI program has no console; the message goes to a debugger, if one listens.
        ::OutputDebugStringW((L"ZYRScene: " + error + L"\n" + scene::SceneUsage()).c_str());
        return scene::kSceneExitBadArguments;
    }
    scene::SceneApp app(options);
    return app.Run(hInstance);
}
