// The host's side of the frame slot handshake: request a slot, see it become ready, read it into a
// top-down picture. The capturer serves slots strictly in the order 0, 1, ... 5, 0, ... and only
// looks at its current slot, so continuous requests must follow that order; a single-frame
// request goes into the current slot and does not move it, which is why the client tracks it.
//
// Everything in the section was written by another process: the layout (image size, slot
// offsets, stride) is read once, checked against the view through TFrameBufferView and used only
// as checked; a layout that reaches outside the view is refused, never followed.
//
// The flags are single bytes and aligned 32-bit values that both sides write whole; the client
// accesses them atomically with the ordering the handshake needs (see Request and Poll).
// Used from one thread.
#pragma once

#include "FrameEncoding.h"
#include "framebuffer/FrameBufferView.h"

#include <windows.h>

#include <cstdint>

class TRefHost;

enum class TFrameResult {
    Ok,
    NotReady,       // Read: the slot is not ready
    TimedOut,       // no ready frame within the time-out
    CapturerEnded,  // the capturer process ended while the host waited
    SizeRefused,    // the capturer refused the frame size: image 0 x 0
    BadLayout,      // the layout does not fit the view, or changed after it was fixed
    Busy,           // a single-frame request is still under way
    SinkFailed,     // the frame pump's sink refused a frame
    Unusable,       // no header in the view, a misaligned view, or a slot number beyond 5
};
const char* FrameResultName(TFrameResult result);

enum class TSlotState { Pending, Ready, SizeRefused };

// Waits one poll interval of about 1 ms: on the capturer's process handle when there is one
// (true when the process has ended), else sleeps.
bool WaitPollInterval(HANDLE hCapturerProcess);

class TFrameClient {
public:
    // Over the host's whole section (see TRefHost::SectionBytes); unusable without a frame buffer.
    explicit TFrameClient(const TRefHost& host);
    // Over any view of a frame buffer: ui64ViewSize bytes at pView, which must be 8-byte aligned
    // (mapped views are; a test's heap block must be). The memory must outlive the client.
    TFrameClient(uint8_t* pView, uint64_t ui64ViewSize);

    bool IsUsable() const { return pHeaderBytes != nullptr; }

    // Clears bFrameReady[slot], then sets bFrameRequested[slot] (release: a capturer that sees
    // the request also sees the ready flag cleared, so a ready flag seen later is the new frame).
    bool Request(uint32_t slot);
    // iSingleFrameState = 1 and a request of the current slot, whose number goes to *pSlot. Busy
    // while the header's iSingleFrameState is not 0 or this client's previous single frame has not
    // been read. The capturer serves it even with bCaptureEnabled = 0 and does not advance.
    TFrameResult RequestSingleFrame(uint32_t* pSlot);

    // Ready: bFrameReady[slot] is set (acquire: the pixels and the time stamp written before it
    // are visible); for the pending single frame also iSingleFrameState back at 0, so the next
    // single-frame request cannot meet the capturer's reset of the state. SizeRefused: the slot
    // is neither requested nor ready and the image size is 0 x 0, which is what the capturer leaves
    // when it refuses the size (it clears every request). Pending otherwise.
    TSlotState Poll(uint32_t slot) const;
    // True while the capturer has taken a requested slot and not yet published it (neither
    // requested nor ready, with an image size other than 0 x 0). A host that switches capture off
    // waits for this to end before it knows which slot a single frame will fill.
    bool FrameUnderWay() const;
    // For a wait that timed out: the capturer has started (iSourceWidth and iSourceHeight set) and
    // the image size is 0 x 0, so the time-out is a refused size (a request made after the
    // refusal is left alone by a capturer that serves no frames of size 0 x 0). Asked at a time-out
    // only: during start-up the source size precedes the layout by a moment.
    bool LooksRefused() const;
    // Polls Poll about every millisecond until Ready (Ok), SizeRefused, the time-out (TimedOut, or
    // SizeRefused when LooksRefused), or the end of hCapturerProcess (may be null).
    TFrameResult WaitReady(uint32_t slot, uint32_t ui32TimeoutMs, HANDLE hCapturerProcess) const;

    // Copies the ready slot into *pPicture (top-down whatever bDontMirrorFrames says, read once per
    // frame) and its time stamp into *pTimestamp. The first read fixes the layout: the image size
    // is read once and all six slots must hold it inside the view; 0 x 0 is SizeRefused. Every
    // read checks its slot again (BadLayout if it changed). On failure *pPicture is left empty.
    // A read of a continuous frame moves the current slot to slot + 1; a single frame does not.
    TFrameResult Read(uint32_t slot, TFramePicture* pPicture, uint32_t* pTimestamp);

    // The capturer's current slot as far as this client's reads show: right once every continuous
    // request made through it has been read.
    uint32_t CurrentSlot() const { return ui32CurrentSlot; }
    // The fixed image size; 0 x 0 until the first successful read.
    uint32_t Width() const { return ui32Width; }
    uint32_t Height() const { return ui32Height; }

private:
    TFrameResult FixLayout();
    bool IsSingleFrameSlot(uint32_t slot) const { return iSingleFrameSlot == static_cast<int>(slot); }

    TFrameBufferView view;
    uint8_t* pHeaderBytes = nullptr;  // null when unusable
    uint32_t ui32CurrentSlot = 0;
    int iSingleFrameSlot = -1;  // slot of the single frame requested and not yet read
    uint32_t ui32Width = 0;
    uint32_t ui32Height = 0;
};
