#include "SceneApp.h"

#include "GdiScreen.h"

#include <algorithm>
#include <vector>

namespace scene {
namespace {

// A generous bound for a paint to reach the screen of a loaded machine.
constexpr DWORD kVerifyBoundMs = 15000;

// Creates the named event or opens the one that exists (whose own reset mode then holds).
bool CreateNamedEvent(const std::wstring& name, bool bManualReset, TKernelHandle* pEvent)
{
    if (name.empty()) {
        return true;
    }
    pEvent->Reset(::CreateEventW(nullptr, bManualReset ? TRUE : FALSE, FALSE, name.c_str()));
    return static_cast<bool>(*pEvent);
}

// Monitor coordinates are physical pixels only for a DPI-aware process. Looked up at run time:
// the call exists from Windows 10 1703 on.
void BecomeDpiAware()
{
    using SetContextFn = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
    HMODULE hUser = ::GetModuleHandleW(L"user32.dll");
    auto pSetContext =
        hUser != nullptr ? reinterpret_cast<SetContextFn>(
                               reinterpret_cast<void*>(::GetProcAddress(hUser, "SetProcessDpiAwarenessContext")))
                         : nullptr;
    if (pSetContext == nullptr || !pSetContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2)) {
        ::SetProcessDPIAware();
    }
}

}  // namespace

int SceneApp::Run(HINSTANCE hInstance)
{
    const int opened = Open(hInstance);
    return opened != kSceneExitOk ? opened : Loop();
}

int SceneApp::Open(HINSTANCE hInstance)
{
    if (!CreateNamedEvent(options.readyEvent, false, &hReady) || !CreateNamedEvent(options.nextEvent, false, &hNext) ||
        !CreateNamedEvent(options.quitEvent, true, &hQuit)) {
        return kSceneExitNoEvent;
    }
    if (options.parentPid != 0) {
        hParent.Reset(::OpenProcess(SYNCHRONIZE, FALSE, options.parentPid));
        if (!hParent || ::WaitForSingleObject(hParent.Get(), 0) != WAIT_TIMEOUT) {
            return kSceneExitNoParent;
        }
    }
    BecomeDpiAware();
    RECT area{};
    if (!PrimaryMonitorRect(&area) || !window.Create(hInstance, area, options.pattern)) {
        return kSceneExitNoWindow;
    }
    if (options.hasPointer) {
        MovePointer();
    }
    pVerifier = std::make_unique<PaintVerifier>(options.pattern, area, ::GetCurrentThreadId(), kVerifyBoundMs);
    if (!pVerifier->Start()) {
        return kSceneExitNoVerifier;
    }
    pVerifier->Request(ui32Generation);
    return kSceneExitOk;
}

// MsgWaitForMultipleObjects keeps the queue served: the window must answer its paint messages
// for as long as the scene is to be seen.
int SceneApp::Loop()
{
    std::vector<HANDLE> handles;
    for (const TKernelHandle* pHandle : {&hQuit, &hParent, &hNext}) {
        if (*pHandle) {
            handles.push_back(pHandle->Get());
        }
    }
    const DWORD count = static_cast<DWORD>(handles.size());
    for (;;) {
        const DWORD waited = ::MsgWaitForMultipleObjects(count, handles.data(), FALSE, AnimationWait(), QS_ALLINPUT);
        if (waited == WAIT_TIMEOUT) {
            continue;  // the next AnimationWait shows the next generation
        }
        if (waited < WAIT_OBJECT_0 + count) {
            if (handles[waited - WAIT_OBJECT_0] != hNext.Get()) {
                return kSceneExitOk;  // quit event or the parent's end
            }
            NextGeneration();
            continue;
        }
        if (waited != WAIT_OBJECT_0 + count) {
            return kSceneExitWaitFailed;
        }
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            int exitCode = kSceneExitOk;
            if (message.message == WM_QUIT) {
                return static_cast<int>(message.wParam);
            }
            if (message.hwnd == nullptr && OnVerifierMessage(message, &exitCode)) {
                return exitCode;
            }
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
}

bool SceneApp::OnVerifierMessage(const MSG& message, int* pExitCode)
{
    const bool bCurrent = static_cast<uint32_t>(message.wParam) == ui32Generation;
    switch (message.message) {
    case PaintVerifier::kVerifiedMessage:
        if (bCurrent && hReady) {
            ::SetEvent(hReady.Get());
        }
        if (bCurrent && options.animateMs != 0 && !bAnimating) {
            bAnimating = true;
            ui64NextAnimationMs = ::GetTickCount64() + options.animateMs;
        }
        return false;
    case PaintVerifier::kRepaintMessage:
        window.Repaint();
        return false;
    case PaintVerifier::kNotVerifiedMessage:
        *pExitCode = kSceneExitNotVerified;
        return bCurrent;
    default:
        return false;
    }
}

// The window's class cursor becomes the current one when the window handles the mouse move,
// which its message loop does from now on.
void SceneApp::MovePointer()
{
    ::SetCursorPos(options.pointerX, options.pointerY);
}

DWORD SceneApp::AnimationWait()
{
    if (!bAnimating) {
        return INFINITE;
    }
    const ULONGLONG now = ::GetTickCount64();
    if (now < ui64NextAnimationMs) {
        return static_cast<DWORD>(ui64NextAnimationMs - now);
    }
    // Unconfirmed: the screen changes faster than a confirmation could follow it.
    ++ui32Generation;
    window.Show(ui32Generation);
    ui64NextAnimationMs = std::max(ui64NextAnimationMs + options.animateMs, now + 1);
    return static_cast<DWORD>(ui64NextAnimationMs - now);
}

void SceneApp::NextGeneration()
{
    ++ui32Generation;
    window.Show(ui32Generation);
    pVerifier->Request(ui32Generation);
}

}  // namespace scene
