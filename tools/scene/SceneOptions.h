// ZYRScene.exe's command line (no windows.h: the parser is plain text handling).
//   ZYRScene [--pattern coords|smooth] [--ready-event NAME] [--next-event NAME] [--quit-event NAME]
//            [--parent PID] [--pointer X,Y] [--animate MS]
#pragma once

#include "ScenePattern.h"

#include <cstdint>
#include <string>
#include <vector>

namespace scene {

struct SceneOptions {
    Pattern pattern = Pattern::Coords;
    std::wstring readyEvent;  // set after each paint is verified on screen; empty: none
    std::wstring nextEvent;   // each signal moves to the next generation; empty: none
    std::wstring quitEvent;   // signalled: the scene ends with exit code 0; empty: none
    uint32_t parentPid = 0;   // 0: no parent; otherwise the scene ends when that process ends
    // --pointer X,Y: once the window is shown the pointer is put at (X, Y), screen pixels, so
    // that the scene's class cursor becomes the cursor GetCursorInfo reports.
    bool hasPointer = false;
    int32_t pointerX = 0;
    int32_t pointerY = 0;
    // --animate MS: once the first paint is confirmed, the next generation is shown every MS
    // milliseconds without confirmation (a screen that changes all over, for frame-rate runs).
    uint32_t animateMs = 0;
};

// Parses the arguments after the program name; false with *pError saying why (the options then
// hold what was parsed so far). Each option may appear once; event names must not be empty.
bool ParseSceneArguments(const std::vector<std::wstring>& args, SceneOptions* pOptions, std::wstring* pError);

// The usage text, one option a line.
const wchar_t* SceneUsage();

}  // namespace scene
