// ZYRScene's run: opens the events and the parent, shows the window, verifies each paint on
// screen, and serves the events until it is told to end. Main thread only.
#pragma once

#include "PaintVerifier.h"
#include "SceneOptions.h"
#include "SceneWindow.h"

#include "ipc/THandle.h"

#include <windows.h>

#include <memory>

namespace scene {

// The exit codes of ZYRScene.exe.
enum SceneExitCode : int {
    kSceneExitOk = 0,              // quit event, parent ended, or the window was closed
    kSceneExitBadArguments = -1,
    kSceneExitNoEvent = -2,        // a named event could not be created or opened
    kSceneExitNoParent = -3,       // the --parent process could not be opened (gone, or no access)
    kSceneExitNoWindow = -4,       // no primary monitor, or the window could not be created
    kSceneExitNotVerified = -5,    // a paint did not show on screen within the bound
    kSceneExitNoVerifier = -6,     // the verifying thread could not be started
    kSceneExitWaitFailed = -7,     // the message loop's wait failed
};

class SceneApp {
public:
    explicit SceneApp(const SceneOptions& sceneOptions) : options(sceneOptions) {}
    SceneApp(const SceneApp&) = delete;
    SceneApp& operator=(const SceneApp&) = delete;

    // Runs the scene to its end and returns one of the exit codes above.
    int Run(HINSTANCE hInstance);

private:
    int Open(HINSTANCE hInstance);
    int Loop();
    // The thread message of the verifier; returns true (and *pExitCode) when the scene must end.
    bool OnVerifierMessage(const MSG& message, int* pExitCode);
    void NextGeneration();
    // With --animate: the wait until the next animated generation is due (INFINITE before the first
    // paint was confirmed); shows it when it is due now.
    DWORD AnimationWait();
    void MovePointer();

    SceneOptions options;
    TKernelHandle hReady;
    TKernelHandle hNext;
    TKernelHandle hQuit;
    TKernelHandle hParent;
    uint32_t ui32Generation = 0;
    bool bAnimating = false;  // the first paint was confirmed and --animate was given
    ULONGLONG ui64NextAnimationMs = 0;
    SceneWindow window;
    // Declared last, destroyed first: the verifier's thread is joined before the window goes.
    std::unique_ptr<PaintVerifier> pVerifier;
};

}  // namespace scene
