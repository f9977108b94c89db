// What the cursor drawer's suites need around it: a host's cursor side (the named cursor mutex and
// event, the cursor block it publishes), the live pointer over the scene (whose window class has a
// cursor), and a pixel-exact check of a drawn cursor in an image of either row order.
#pragma once

#include "CursorPictures.h"

#include "framebuffer/FrameBufferView.h"
#include "ipc/THandle.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace cursortest {

constexpr DWORD kWaitMs = 30000;

// The cursor mutex and the auto-reset cursor event under names private to this test, written into
// the header of `pSection` (a frame buffer someone else lays out) or, without one, of a block of
// its own: the header and the two 512 KiB cursor bitmap areas right behind it.
class CursorHost {
public:
    explicit CursorHost(uint8_t* pSection = nullptr, uint64_t ui64SectionSize = 0);

    TFrameBufferView View() const { return TFrameBufferView(pBytes, ui64Size); }
    TFrameBufferHeader& Header() const { return *reinterpret_cast<TFrameBufferHeader*>(pBytes); }
    // Writes the block under the cursor mutex as a host does: handle (0 for None), position, hot
    // spot and the picture's DIBs, into the areas the header's offsets name.
    void Publish(uint64_t ui64Handle, POINT position, POINT hotspot, refcursor::TCursorPicture picture) const;
    // True when the drawer signalled the event since the last call (the call consumes it).
    bool TakeEvent() const { return ::WaitForSingleObject(hEvent.Get(), 0) == WAIT_OBJECT_0; }
    HANDLE Mutex() const { return hMutex.Get(); }

private:
    std::vector<uint8_t> block;
    uint8_t* pBytes;
    uint64_t ui64Size;
    TKernelHandle hMutex, hEvent;
};

// Moves the pointer to `position` over the scene and waits until the platform reports a visible
// cursor with a handle there; returns that handle as the drawer's cache key (0 after a failure).
uint64_t PointAt(POINT position);

// 32-bit pixels, rows ui32Stride bytes apart, bottom-up in memory unless bTopDown.
struct Image {
    uint8_t* pData;
    int32_t iWidth, iHeight;
    uint32_t ui32Stride;
    bool bTopDown;
    uint32_t& At(int32_t x, int32_t y) const
    {
        const int32_t row = bTopDown ? y : iHeight - 1 - y;
        return reinterpret_cast<uint32_t*>(pData + static_cast<size_t>(row) * ui32Stride)[x];
    }
};

// Every pixel (under kRgbMask): the picture's 1:1 pixels over `backdrop` in the first `columns`
// x `rows` of the square whose top-left picture pixel is at (left, top), the background elsewhere.
::testing::AssertionResult ShowsCursorAt(const Image& image, const std::function<uint32_t(int32_t, int32_t)>& backdrop,
                                         refcursor::TCursorPicture picture, int32_t left, int32_t top,
                                         int32_t columns = refcursor::kCursorSize,
                                         int32_t rows = refcursor::kCursorSize);

}  // namespace cursortest
