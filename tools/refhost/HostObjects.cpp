// The reference host's names for the objects it can leave out, as written on its command line.
#include "TRefHost.h"

#include <windows.h>

#include <iterator>

namespace {

struct THostObjectText {
    THostObject object;
    const wchar_t* pszText;
};

constexpr THostObjectText kHostObjectTexts[] = {
    {THostObject::FrameBuffer, L"frame-buffer"},
    {THostObject::UninstallEvent, L"uninstall-event"},
    {THostObject::InstanceMutex, L"instance-mutex"},
    {THostObject::StartedCorrectlyEvent, L"started-event"},
    {THostObject::FirstFrameEvent, L"first-frame-event"},
    {THostObject::HUDMutex, L"hud-mutex"},
    {THostObject::WebCamMutex, L"webcam-mutex"},
    {THostObject::RadialMenuMutex, L"radial-menu-mutex"},
    {THostObject::WebCamBackgroundMutex, L"webcam-background-mutex"},
    {THostObject::CursorEvent, L"cursor-event"},
    {THostObject::CursorMutex, L"cursor-mutex"},
};

}  // namespace

bool ParseHostObject(const std::wstring& text, THostObject* pObject)
{
    for (const THostObjectText& entry : kHostObjectTexts) {
        if (text == entry.pszText) {
            *pObject = entry.object;
            return true;
        }
    }
    return false;
}

const wchar_t* HostObjectName(THostObject object)
{
    for (const THostObjectText& entry : kHostObjectTexts) {
        if (entry.object == object) {
            return entry.pszText;
        }
    }
    return L"unknown-object";
}

std::wstring DefaultCursorEventName()
{
    return L"ZYRRefHostCursorEvent-" + std::to_wstring(::GetCurrentProcessId());
}

std::wstring DefaultCursorMutexName()
{
    return L"ZYRRefHostCursorMutex-" + std::to_wstring(::GetCurrentProcessId());
}
