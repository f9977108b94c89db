// The scene's window: a topmost borderless popup over a given screen rectangle, painted from a
// buffer filled with the pattern. Main thread only (it owns the window and its messages).
#pragma once

#include "ScenePattern.h"

#include <windows.h>

#include <cstdint>
#include <vector>

namespace scene {

class SceneWindow {
public:
    SceneWindow() = default;
    ~SceneWindow();
    SceneWindow(const SceneWindow&) = delete;
    SceneWindow& operator=(const SceneWindow&) = delete;

    // Registers the class and creates the window over `area` showing generation 0 of `pattern`.
    // False (last error set) when the class or the window cannot be made.
    bool Create(HINSTANCE hInstance, const RECT& area, Pattern pattern);

    // Fills the buffer with `generation` and paints it now (the paint happens before the return).
    void Show(uint32_t generation);

    // Paints the current buffer again (a paint that did not reach the screen).
    void Repaint();

    HWND Handle() const { return hWnd; }

private:
    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    void Fill(uint32_t generation);
    void Paint();

    HINSTANCE hInstance = nullptr;
    HWND hWnd = nullptr;
    Pattern pattern = Pattern::Coords;
    int iWidth = 0;
    int iHeight = 0;
    std::vector<uint32_t> pixels;  // top-down rows of iWidth pixels
};

}  // namespace scene
