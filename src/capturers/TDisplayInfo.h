// One display as the capturers list it: the platform's monitor handle, its device name and its
// rectangle in virtual-screen coordinates (physical pixels: the process is per-monitor DPI aware).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

constexpr size_t kDisplayDeviceNameUnits = 32;

// A default record has a null handle, an empty name, all numbers 0 and is not primary. The name is
// always NUL-terminated (at most 31 characters).
struct TDisplayInfo {
    HMONITOR hMonitor = nullptr;
    wchar_t wszDeviceName[kDisplayDeviceNameUnits] = {};
    int32_t iX = 0;
    int32_t iY = 0;
    int32_t iWidth = 0;
    int32_t iHeight = 0;
    bool bPrimary = false;
};
