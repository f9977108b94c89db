// What the cursor drawer's suites need around it: a frame buffer in memory with a host's cursor
// block and the named cursor mutex and event, the live pointer over the scene (whose window class
// has a cursor), and frames of either row order with a background that encodes its coordinates.
#pragma once

#include "CursorPictures.h"

#include "framebuffer/FrameBufferView.h"
#include "ipc/THandle.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace cursortest {

constexpr DWORD kWaitMs = 30000;

// A host's cursor side: the cursor mutex and the auto-reset cursor event under names private to
// this test, written into a header. Over its own block (the header and the two 512 KiB cursor
// bitmap areas right behind it), or over a frame buffer someone else made and lays out.
class CursorHost {
public:
    CursorHost();
    CursorHost(uint8_t* pSection, uint64_t ui64SectionSize);
    CursorHost(const CursorHost&) = delete;
    CursorHost& operator=(const CursorHost&) = delete;

    TFrameBufferView View() const { return TFrameBufferView(pBytes, ui64Size); }
    TFrameBufferHeader& Header() const { return *reinterpret_cast<TFrameBufferHeader*>(pBytes); }
    uint8_t* Bytes() const { return pBytes; }

    // Writes the block under the cursor mutex as a host does: handle, position, hot spot and the
    // picture's DIBs (none for TCursorPicture::None, which also publishes handle 0), into the
    // areas the header's offsets name (a failure when they lie outside).
    void Publish(uint64_t ui64Handle, POINT position, POINT hotspot, refcursor::TCursorPicture picture) const;
    // True when the drawer signalled the event since the last call (the call consumes it).
    bool TakeEvent() const;

    // The test takes the cursor mutex on a thread of its own (a mutex is recursive for its owner
    // thread, so the drawer's thread must not be the holder) until ReleaseMutex.
    void HoldMutex();
    void ReleaseMutex();

    HANDLE Mutex() const { return hMutex.Get(); }

private:
    void CreateObjects();

    uint64_t ui64Size;
    std::unique_ptr<uint8_t[]> block;
    uint8_t* pBytes;
    TKernelHandle hMutex;
    TKernelHandle hEvent;
    TKernelHandle hHolderRelease;
    TKernelHandle hHolderThread;
};

// Moves the pointer to `position` over the scene and waits until the platform reports a visible
// cursor with a handle there; returns that handle as the drawer's cache key (0 after a failure).
uint64_t PointAt(POINT position);

// Background pixel of frames: coordinates in blue and green, red below 0x40 (never a cursor's
// colour).
uint32_t Background(int32_t x, int32_t y);

// A frame of 32-bit pixels, rows `stride` bytes apart, addressed by picture coordinates.
class Frame {
public:
    Frame(int32_t width, int32_t height, bool topDown);
    uint32_t& At(int32_t x, int32_t y);
    uint32_t At(int32_t x, int32_t y) const;
    uint8_t* Data() { return reinterpret_cast<uint8_t*>(pixels.data()); }
    int32_t Width() const { return iWidth; }
    int32_t Height() const { return iHeight; }
    uint32_t Stride() const { return static_cast<uint32_t>(iWidth) * 4; }
    bool TopDown() const { return bTopDown; }
    void FillBackground();

private:
    int32_t iWidth;
    int32_t iHeight;
    bool bTopDown;
    std::vector<uint32_t> pixels;
};

// Every pixel: the picture's 1:1 pixels over the background inside the 32 x 32 square whose
// top-left picture pixel lies at (left, top) — clipped to the frame, with only `columns` of its
// first columns shown — and the background everywhere else.
::testing::AssertionResult ShowsCursorAt(const Frame& frame, refcursor::TCursorPicture picture, int32_t left,
                                         int32_t top, int32_t columns = refcursor::kCursorSize);
// The smallest rectangle of pixels that differ from the background (right and bottom exclusive);
// all zero when none differs.
RECT ChangedArea(const Frame& frame);

}  // namespace cursortest
