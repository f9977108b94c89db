// Screen reads shared by the scene, its tests and the blit loop benchmark.
// Under Wine a screen read from a process's main thread costs about ten times what it costs from
// any other thread (BitBlt of 1920x1080: 60-75 ms against about 7 ms), so callers that read the
// screen repeatedly do it from a thread of their own.
#pragma once

#include "capturers/TGdiHandles.h"

#include <windows.h>

#include <cstdint>

namespace scene {

// A 32-bit top-down DIB section selected into a memory DC: row y starts at Bits() + y * Width().
// Used by one thread at a time.
class Dib32 {
public:
    Dib32() = default;
    Dib32(const Dib32&) = delete;
    Dib32& operator=(const Dib32&) = delete;
    ~Dib32() { Reset(); }

    // Replaces the bitmap by one of width x height (both > 0). False, with the object empty and the
    // thread's last error set by the call that failed, on failure.
    bool Create(int width, int height);
    void Reset();

    HDC Dc() const { return dc.Get(); }
    int Width() const { return iWidth; }
    int Height() const { return iHeight; }
    const uint32_t* Bits() const { return pBits; }
    uint32_t* Bits() { return pBits; }
    uint32_t Pixel(int x, int y) const { return pBits[static_cast<size_t>(y) * static_cast<size_t>(iWidth) + x]; }

private:
    // Released in reverse order: the bitmap is deselected, then deleted, then the DC.
    TDeviceContext dc;
    TGdiBitmap bitmap;
    TSelectedObject selection;
    uint32_t* pBits = nullptr;
    int iWidth = 0;
    int iHeight = 0;
};

// The whole screen ("DISPLAY" driver); empty on failure (GetLastError tells why).
TDeviceContext OpenDisplayDc();

// The primary monitor's rectangle in screen coordinates; false when there is none.
bool PrimaryMonitorRect(RECT* pRect);

}  // namespace scene
