// Owners for what GDI hands out: device contexts made by CreateDC/CreateCompatibleDC, GDI objects
// (bitmaps and the like), icons made from bitmaps, and the selection of an object into a device
// context. Move-only; nothing here logs; releasing keeps the thread's last error, so owners may go
// out of scope on paths that still report it.
#pragma once

#include <windows.h>

#include <utility>

namespace gdi_detail {
template <class T, class TDeleter>
class TUniqueGdi {
public:
    TUniqueGdi() = default;
    explicit TUniqueGdi(T h) : hValue(h) {}
    ~TUniqueGdi() { Reset(); }
    TUniqueGdi(TUniqueGdi&& other) noexcept : hValue(other.Release()) {}
    TUniqueGdi& operator=(TUniqueGdi&& other) noexcept
    {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    TUniqueGdi(const TUniqueGdi&) = delete;
    TUniqueGdi& operator=(const TUniqueGdi&) = delete;

    T Get() const { return hValue; }
    explicit operator bool() const { return hValue != nullptr; }
    T Release() { return std::exchange(hValue, nullptr); }
    void Reset(T h = nullptr)
    {
        if (hValue != nullptr && hValue != h) {
            const DWORD dwError = ::GetLastError();
            TDeleter::Delete(hValue);
            ::SetLastError(dwError);
        }
        hValue = h;
    }

private:
    T hValue = nullptr;
};

struct TDeleteDC {
    static void Delete(HDC h) { ::DeleteDC(h); }
};
struct TDeleteObject {
    static void Delete(HGDIOBJ h) { ::DeleteObject(h); }
};
struct TDestroyIcon {
    static void Delete(HICON h) { ::DestroyIcon(h); }
};
}  // namespace gdi_detail

// A device context from CreateDCW or CreateCompatibleDC (not GetDC: those are released, not
// deleted).
using TDeviceContext = gdi_detail::TUniqueGdi<HDC, gdi_detail::TDeleteDC>;
using TGdiBitmap = gdi_detail::TUniqueGdi<HBITMAP, gdi_detail::TDeleteObject>;
// An icon or cursor from CreateIconIndirect (a USER object, destroyed with DestroyIcon).
using TIcon = gdi_detail::TUniqueGdi<HICON, gdi_detail::TDestroyIcon>;

// Selects an object into a device context and puts the previous object back when it ends, so the
// object can be deleted afterwards. Declare it after the owners of the DC and of the object, so it
// is undone first.
class TSelectedObject {
public:
    TSelectedObject() = default;
    TSelectedObject(HDC hDC, HGDIOBJ hObject) : hTargetDC(hDC), hPrevious(::SelectObject(hDC, hObject)) {}
    ~TSelectedObject() { Reset(); }
    TSelectedObject(TSelectedObject&& other) noexcept
        : hTargetDC(std::exchange(other.hTargetDC, nullptr)), hPrevious(std::exchange(other.hPrevious, nullptr))
    {
    }
    TSelectedObject& operator=(TSelectedObject&& other) noexcept
    {
        if (this != &other) {
            Reset();
            hTargetDC = std::exchange(other.hTargetDC, nullptr);
            hPrevious = std::exchange(other.hPrevious, nullptr);
        }
        return *this;
    }
    TSelectedObject(const TSelectedObject&) = delete;
    TSelectedObject& operator=(const TSelectedObject&) = delete;

    // The object that was selected before; null when the selection failed.
    HGDIOBJ Previous() const { return hPrevious; }
    void Reset()
    {
        if (hTargetDC != nullptr && hPrevious != nullptr && hPrevious != HGDI_ERROR) {
            ::SelectObject(hTargetDC, hPrevious);
        }
        hTargetDC = nullptr;
        hPrevious = nullptr;
    }

private:
    HDC hTargetDC = nullptr;
    HGDIOBJ hPrevious = nullptr;
};
