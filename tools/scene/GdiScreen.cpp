#include "GdiScreen.h"

namespace scene {

bool Dib32::Create(int width, int height)
{
    Reset();
    if (width <= 0 || height <= 0) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    dc.Reset(::CreateCompatibleDC(nullptr));
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* pPixels = nullptr;
    if (dc) {
        bitmap.Reset(::CreateDIBSection(dc.Get(), &info, DIB_RGB_COLORS, &pPixels, nullptr, 0));
    }
    if (bitmap && pPixels != nullptr) {
        selection = TSelectedObject(dc.Get(), bitmap.Get());
    }
    if (!bitmap || pPixels == nullptr || selection.Previous() == nullptr || selection.Previous() == HGDI_ERROR) {
        const DWORD dwError = ::GetLastError();
        Reset();
        ::SetLastError(dwError);
        return false;
    }
    pBits = static_cast<uint32_t*>(pPixels);
    iWidth = width;
    iHeight = height;
    return true;
}

void Dib32::Reset()
{
    selection.Reset();
    bitmap.Reset();
    dc.Reset();
    pBits = nullptr;
    iWidth = 0;
    iHeight = 0;
}

TDeviceContext OpenDisplayDc()
{
    return TDeviceContext(::CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr));
}

bool PrimaryMonitorRect(RECT* pRect)
{
    MONITORINFO info{};
    info.cbSize = sizeof info;
    HMONITOR hMonitor = ::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    if (hMonitor == nullptr || !::GetMonitorInfoW(hMonitor, &info)) {
        return false;
    }
    *pRect = info.rcMonitor;
    return true;
}

}  // namespace scene
