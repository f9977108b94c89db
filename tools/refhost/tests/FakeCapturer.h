// The capturer's side of the frame slot handshake, on a thread of the test process: it opens the
// host's section by name and maps a view of its own (as the capturer does), writes the layout with
// TFrameBufferHeader::CalculateImagesOffsets and serves requests as the capture thread does: only
// the current slot, strictly 0, 1, ... 5, 0, ..., a warm-up before the first publication, single
// frames that do not advance the slot, nothing while capture is disabled. Each frame is a known
// pattern (PatternPixel) written in the row order bDontMirrorFrames asks for.
#pragma once

#include "TRefHost.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace refhost_test {

struct TFakeCapturerOptions {
    int32_t iImageWidth = 64;
    int32_t iImageHeight = 48;
    uint32_t ui32WarmUpMs = 0;  // after the first request seen, nothing is published for this long
    // As a capacity refusal: source size set, image 0 x 0, every ready and request flag cleared.
    bool bRefuseSize = false;
    // After a refusal, publish requested slots anyway (without pixels), as the capture thread does.
    bool bServeAfterRefusal = true;
    // Start serving only once all six slots are requested at the same time (bounded), so that a
    // pipelined host is seen with every slot outstanding.
    bool bWaitForAllSixRequests = false;
    // Set the host's started-correctly event once the layout is written. The fake then also waits
    // for that event to exist before it maps the section, so that it can be started before the
    // host creates its objects (a session does that itself).
    bool bSetStartedCorrectly = false;
    // Once the layout is written (before started-correctly), ask the host for the cursor once as
    // the cursor drawer does on a cache miss: wait for the host's publication that the layout
    // caused, clear bCursorColorBitmap under the cursor mutex, signal the cursor event, and wait
    // for the publication that answers it. The host has then received exactly one cursor event.
    // Needs a host that publishes the colour picture (the fake watches its colour bitmap flag).
    bool bAskForCursorOnce = false;
    // Applied to the header just before frame number ui32CorruptBeforeFrame is published.
    std::function<void(TFrameBufferHeader&, uint64_t ui64SectionSize)> corruptLayout;
    uint32_t ui32CorruptBeforeFrame = 0;
};

class TFakeCapturer {
public:
    explicit TFakeCapturer(TFakeCapturerOptions options);
    // Stops and joins the thread.
    ~TFakeCapturer();
    TFakeCapturer(const TFakeCapturer&) = delete;
    TFakeCapturer& operator=(const TFakeCapturer&) = delete;

    // Starts the thread, which waits (up to 30 s) for the host's section to exist.
    void Start();
    void Stop();

    // Frames published so far (frame numbers are 0, 1, ... in publication order).
    uint32_t FramesPublished() const { return ui32Published.load(); }
    // True once the layout is written (or the size refused).
    bool WaitLaidOut(uint32_t ui32TimeoutMs) const;
    // Slot of each published frame, in order.
    std::vector<uint32_t> SlotsServed() const;
    // Requests found with the slot's ready flag still set: the host did not clear it first.
    uint32_t ReadyFlagsNotCleared() const { return ui32ReadyNotCleared.load(); }
    // The most slots seen requested at one time.
    uint32_t MostRequestsSeen() const { return ui32MostRequests.load(); }
    // What went wrong on the thread (empty when nothing did).
    std::string Error() const;

    static uint32_t PatternPixel(uint32_t x, uint32_t y, uint32_t frame);
    static uint32_t TimestampOf(uint32_t frame) { return 100000 + 17 * frame; }

private:
    void Run();
    bool WaitForObject(const std::function<bool()>& open);
    bool MapSection();
    void LayOut();
    bool AskForCursor();
    bool WaitCursorFlag(uint8_t value);
    void Serve();
    bool ServeOne(uint32_t* pSlot, uint64_t* pWarmUpStart);
    void WritePattern(uint32_t slot, uint32_t frame);
    void Fail(const std::string& text);

    TFakeCapturerOptions options;
    TKernelHandle hMapping;
    TMappedView view;
    uint64_t ui64SectionSize = 0;
    std::atomic<bool> bStop{false};
    std::atomic<bool> bLaidOut{false};
    std::atomic<uint32_t> ui32Published{0};
    std::atomic<uint32_t> ui32ReadyNotCleared{0};
    std::atomic<uint32_t> ui32MostRequests{0};
    mutable std::mutex mutex;  // guards vecSlots and strError
    std::vector<uint32_t> vecSlots;
    std::string strError;
    std::thread thread;  // last: joined before the view and the mapping go
};

}  // namespace refhost_test
