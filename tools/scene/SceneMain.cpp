// ZYRScene.exe: a topmost borderless window over the primary monitor painted with a known pattern
// (ScenePattern.h), for tests and benchmarks that capture the screen. See docs/scene.md.
//   ZYRScene [--pattern coords|smooth] [--ready-event NAME] [--next-event NAME] [--quit-event NAME]
//            [--parent PID] [--pointer X,Y]
// Exit codes: SceneApp.h.
#include "CommandLineArguments.h"
#include "SceneApp.h"
#include "SceneOptions.h"

#include <windows.h>

#include <string>
#include <vector>

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int)
{
    scene::SceneOptions options;
    std::wstring error;
    if (!scene::ParseSceneArguments(toolargs::CommandLineArguments(), &options, &error)) {
        // A GUI program has no console; the message goes to a debugger, if one listens.
        ::OutputDebugStringW((L"ZYRScene: " + error + L"\n" + scene::SceneUsage()).c_str());
        return scene::kSceneExitBadArguments;
    }
    scene::SceneApp app(options);
    return app.Run(hInstance);
}
