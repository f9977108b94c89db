#include "SceneWindow.h"

namespace scene {
namespace {

constexpr wchar_t kClassName[] = L"ZYRSceneWindow";

}  // namespace

SceneWindow::~SceneWindow()
{
    if (hWnd != nullptr) {
        // Wine treats a popup that covers the screen as one a window manager handles, and hiding
        // it (the first step of DestroyWindow for a visible window) waits 2 s for a window manager
        // that Xvfb does not have. Cleared by style, the window is destroyed without the wait.
        ::SetWindowLongPtrW(hWnd, GWL_STYLE, ::GetWindowLongPtrW(hWnd, GWL_STYLE) & ~static_cast<LONG_PTR>(WS_VISIBLE));
        ::DestroyWindow(hWnd);
        ::UnregisterClassW(kClassName, hInstance);
    }
}

bool SceneWindow::Create(HINSTANCE hInst, const RECT& area, Pattern scenePattern)
{
    hInstance = hInst;
    pattern = scenePattern;
    iWidth = area.right - area.left;
    iHeight = area.bottom - area.top;
    Fill(0);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &SceneWindow::WindowProc;
    windowClass.hInstance = hInstance;
    // A class cursor gives the screen a real cursor while the pointer is over the scene.
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kClassName;
    if (::RegisterClassExW(&windowClass) == 0) {
        return false;
    }
    // Created visible and topmost in one step: under Wine without a window manager, showing or
    // restacking a mapped window afterwards waits about 2 s for a state change that never comes.
    hWnd = ::CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kClassName, L"ZYRScene", WS_POPUP | WS_VISIBLE,
                             area.left, area.top, iWidth, iHeight, nullptr, nullptr, hInstance, this);
    if (hWnd == nullptr) {
        const DWORD dwError = ::GetLastError();
        ::UnregisterClassW(kClassName, hInstance);
        ::SetLastError(dwError);
        return false;
    }
    ::UpdateWindow(hWnd);
    return true;
}

void SceneWindow::Show(uint32_t generation)
{
    Fill(generation);
    Repaint();
}

void SceneWindow::Repaint()
{
    ::InvalidateRect(hWnd, nullptr, FALSE);
    ::UpdateWindow(hWnd);
}

void SceneWindow::Fill(uint32_t generation)
{
    pixels.resize(static_cast<size_t>(iWidth) * static_cast<size_t>(iHeight));
    uint32_t* pOut = pixels.data();
    for (int y = 0; y < iHeight; ++y) {
        for (int x = 0; x < iWidth; ++x) {
            *pOut++ = PatternPixel(pattern, static_cast<uint32_t>(x), static_cast<uint32_t>(y), generation);
        }
    }
}

// The whole window from the buffer, 1:1 through a top-down 32-bit DIB: at 24-bit screen depth
// every colour arrives unchanged.
void SceneWindow::Paint()
{
    PAINTSTRUCT paint;
    HDC hDc = ::BeginPaint(hWnd, &paint);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = iWidth;
    info.bmiHeader.biHeight = -iHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    if (hDc != nullptr) {
        ::SetDIBitsToDevice(hDc, 0, 0, static_cast<DWORD>(iWidth), static_cast<DWORD>(iHeight), 0, 0, 0,
                            static_cast<UINT>(iHeight), pixels.data(), &info, DIB_RGB_COLORS);
    }
    ::EndPaint(hWnd, &paint);
}

LRESULT CALLBACK SceneWindow::WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const auto* pCreate = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        auto* pCreating = static_cast<SceneWindow*>(pCreate->lpCreateParams);
        pCreating->hWnd = hWnd;
        ::SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(pCreating));
    }
    auto* pWindow = reinterpret_cast<SceneWindow*>(::GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    switch (message) {
    case WM_ERASEBKGND:
        return 1;  // the paint covers every pixel
    case WM_PAINT:
        if (pWindow != nullptr) {
            pWindow->Paint();
            return 0;
        }
        break;
    case WM_CLOSE:
        // Closing the scene from outside ends it normally.
        ::PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return ::DefWindowProcW(hWnd, message, wParam, lParam);
}

}  // namespace scene
