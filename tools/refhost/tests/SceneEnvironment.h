// The scene shown for the whole of refhost_tests, with the pointer over it.
//
// Why for the whole run, before any test: the first use of USER or GDI in a Wine session starts
// Wine's desktop process from the process that makes it. Started from this console test program,
// the desktop process inherits the pipe that ctest reads, and after a capturer run it was seen to
// stay alive (holding the pipe, so ctest timed out) long after the tests ended. ZYRScene.exe is
// started detached, so the desktop process it starts holds nothing of ours, and it stays up while
// the scene runs. The scene's class cursor, under the pointer, is also the live cursor that the
// cursor tests publish and draw.
#pragma once

#include <windows.h>

namespace refhost_test {

// Where the scene puts the pointer (--pointer), in screen pixels.
constexpr POINT kScenePointer{250, 210};

// True when the scene came up and showed its pattern (checked before the first test).
bool SceneIsUp();

}  // namespace refhost_test
