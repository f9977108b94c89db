#include "capturers/TBaseFullscreenCapturer.h"

#include "capturers/CaptureGeometry.h"
#include "log/Log.h"

#include <cwchar>

namespace {
constexpr const char kGetScreenImageName[] = "TBaseFullscreenCapturer::GetScreenImage";
constexpr const char kSetCaptureParametersName[] = "TBaseFullscreenCapturer::SetCaptureParameters";
constexpr const char kCheckAndAddMonitorName[] = "TBaseFullscreenCapturer::CheckAndAddMonitor";
}  // namespace

TBaseFullscreenCapturer::TBaseFullscreenCapturer(HINSTANCE hInstanceOfModule) : hInstance(hInstanceOfModule)
{
    LogInfo("%s", "TBaseFullscreenCapturer::TBaseFullscreenCapturer");
    LogInfo("%s exit", "TBaseFullscreenCapturer::TBaseFullscreenCapturer");
}

TBaseFullscreenCapturer::~TBaseFullscreenCapturer()
{
    LogInfo("%s", "TBaseFullscreenCapturer::~TBaseFullscreenCapturer");
    LogInfo("%s exit", "TBaseFullscreenCapturer::~TBaseFullscreenCapturer");
}

SIZE TBaseFullscreenCapturer::GetMonitorDimensions()
{
    return SIZE{0, 0};
}

SIZE TBaseFullscreenCapturer::GetCurrentMonitorDimensions()
{
    return SIZE{0, 0};
}

SIZE TBaseFullscreenCapturer::SelectedDisplaySize() const
{
    if (vecSelectedDisplays.empty()) {
        return SIZE{0, 0};
    }
    return SIZE{vecSelectedDisplays.front().iWidth, vecSelectedDisplays.front().iHeight};
}

SIZE TBaseFullscreenCapturer::CurrentSizeOfSelectedDisplay(const char* pszName) const
{
    if (vecSelectedDisplays.empty()) {
        return SIZE{0, 0};
    }
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    if (!::GetMonitorInfoW(vecSelectedDisplays.front().hMonitor, &info)) {
        LogError("%s GetMonitorInfo error %d", pszName, static_cast<int>(::GetLastError()));
        return SIZE{0, 0};
    }
    return SIZE{info.rcMonitor.right - info.rcMonitor.left, info.rcMonitor.bottom - info.rcMonitor.top};
}

std::vector<TDisplayInfo> TBaseFullscreenCapturer::GetDisplays()
{
    return {};
}

bool TBaseFullscreenCapturer::Initialize(std::wstring wsName)
{
    constexpr const char kName[] = "TBaseFullscreenCapturer::Initialize";
    LogInfoW(L"%S '%s'", kName, wsName.c_str());
    wsDisplayName = wsName;
    vecDisplays = GetDisplays();
    std::wstring wsPrimaryName;
    bool bFound = false;
    // Every record is visited: the last primary record names the fall-back.
    for (const TDisplayInfo& display : vecDisplays) {
        if (display.bPrimary) {
            wsPrimaryName = display.wszDeviceName;
        }
        if (wsName == display.wszDeviceName) {
            CurrentDisplay = display;
            bFound = true;
        }
    }
    if (!bFound) {
        // CurrentDisplay keeps its value: all zero on a new capturer, the primary display's origin.
        wsDisplayName = wsPrimaryName;
        LogWarningW(L"%S display was not found so the primary will be used '%s'.", kName, wsDisplayName.c_str());
    }
    LogInfo("%s exit true", kName);
    return true;
}

void TBaseFullscreenCapturer::SetCaptureParameters(int32_t iWidth, int32_t iHeight, THooksRect source,
                                                   bool bKeepProportionOfSource, bool bDrawOverlays)
{
    LogInfo("%s resized dim %dx%d, src rect (%d, %d) - (%d, %d), keep proportion %d, draw overlays %d",
            kSetCaptureParametersName, iWidth, iHeight, source.left, source.top, source.right, source.bottom,
            bKeepProportionOfSource ? 1 : 0, bDrawOverlays ? 1 : 0);
    if (capgeo::IsAllZero(source)) {
        const SIZE size = GetMonitorDimensions();
        source = capgeo::WholeDisplayRect(static_cast<int32_t>(size.cx), static_cast<int32_t>(size.cy));
        LogInfo("%s set the src rect to whole screen (%d, %d) - (%d, %d)", kSetCaptureParametersName, source.left,
                source.top, source.right, source.bottom);
    }
    iFinalWidth = iWidth;
    iFinalHeight = iHeight;
    bKeepProportion = bKeepProportionOfSource;
    vqhrSourceRectBeforeResizing = source;
    if (bKeepProportion) {
        // The differences are exact in 64 bits; the line prints them clamped to int32.
        const int32_t srcW = capgeo::SaturateToInt32(capgeo::RectWidth(source));
        const int32_t srcH = capgeo::SaturateToInt32(capgeo::RectHeight(source));
        LogInfo("%s source size (%d, %d)", kSetCaptureParametersName, srcW, srcH);
    }
    vqhrDestRectAfterResizing = capgeo::DestinationRect(iWidth, iHeight, source, bKeepProportion);
    const THooksRect& dest = vqhrDestRectAfterResizing;
    LogInfo("%s destination rect (%d, %d) - (%d, %d)", kSetCaptureParametersName, dest.left, dest.top, dest.right,
            dest.bottom);
    LogInfo("%s exit", kSetCaptureParametersName);
}

void TBaseFullscreenCapturer::OpenSharedHandle(HANDLE /*hShared*/, ID3D11Texture2D** ppTexture)
{
    LogInfo("%s", "TBaseFullscreenCapturer::OpenSharedHandle");
    if (ppTexture != nullptr) {
        *ppTexture = nullptr;
    }
    LogInfo("%s exit", "TBaseFullscreenCapturer::OpenSharedHandle");
}

bool TBaseFullscreenCapturer::ParametersAllowCapture(const TAreaView& destination, ID3D11Texture2D* pTexture) const
{
    if (iFinalWidth == -1 || iFinalHeight == -1) {
        LogError("%s invalid final width/height", kGetScreenImageName);
        return false;
    }
    // An empty rectangle is as unusable as an unset one, so it is refused with the same line.
    if (capgeo::IsAllZero(vqhrSourceRectBeforeResizing) || capgeo::IsEmpty(vqhrSourceRectBeforeResizing)) {
        LogError("%s invalid vqhrSourceRectBeforeResizing", kGetScreenImageName);
        return false;
    }
    if (capgeo::IsAllZero(vqhrDestRectAfterResizing) || capgeo::IsEmpty(vqhrDestRectAfterResizing)) {
        LogError("%s invalid vqhrDestRectAfterResizing", kGetScreenImageName);
        return false;
    }
    if (pTexture == nullptr && !destination.IsValid()) {
        LogError("%s invalid destination area", kGetScreenImageName);
        return false;
    }
    return true;
}

void TBaseFullscreenCapturer::GetScreenImage(const TAreaView& destination, bool bDontMirrorFrames,
                                             ID3D11Texture2D* pTexture)
{
    if (ParametersAllowCapture(destination, pTexture)) {
        GetScreenImageInternal(destination, bDontMirrorFrames, pTexture);
    }
}

void TBaseFullscreenCapturer::CheckAndAddMonitor(HMONITOR hMonitor, std::vector<TDisplayInfo>& displays)
{
    MONITORINFOEXW info = {};
    info.cbSize = sizeof(info);
    if (!::GetMonitorInfoW(hMonitor, &info)) {
        LogError("%s GetMonitorInfo error %d for monitor %p", kCheckAndAddMonitorName,
                 static_cast<int>(::GetLastError()), static_cast<void*>(hMonitor));
        return;
    }
    TDisplayInfo display;
    display.hMonitor = hMonitor;
    std::wcsncpy(display.wszDeviceName, info.szDevice, kDisplayDeviceNameUnits - 1);
    display.wszDeviceName[kDisplayDeviceNameUnits - 1] = L'\0';
    const RECT& rect = info.rcMonitor;
    display.iX = rect.left;
    display.iY = rect.top;
    display.iWidth = capgeo::SaturateToInt32(int64_t{rect.right} - int64_t{rect.left});
    display.iHeight = capgeo::SaturateToInt32(int64_t{rect.bottom} - int64_t{rect.top});
    display.bPrimary = (info.dwFlags & MONITORINFOF_PRIMARY) != 0;
    LogInfo("%s found monitor '%S', pos %dx%d, size %dx%d, primary %d", kCheckAndAddMonitorName,
            display.wszDeviceName, display.iX, display.iY, display.iWidth, display.iHeight, display.bPrimary ? 1 : 0);
    displays.push_back(display);
}
