// The host's side of the cursor block: on a thread of its own, publishes the live cursor's handle,
// position and flags with one of the synthetic pictures (CursorPictures.h) into a TRefHost's
// section, as the product's cursor producer does for the capturer's cursor drawer.
//
// The thread waits on the host's cursor event (the capturer signals it for each cursor it has not
// cached) and publishes once per signal; it also publishes when the header's cursor bitmap offsets
// change, since the capturer writes the layout only after it started.
// A publication reads GetCursorInfo, takes the cursor mutex (up to 1 s a try, an abandoned mutex
// counts as taken; without a cursor mutex it writes unguarded), and writes the handle (sign-
// extended to 64 bits; 0 for None), the position, the flags, the hot spot of the options and the
// picture's packed DIBs into the two cursor bitmap areas. The offsets of those areas are the
// capturer's, so they are taken only through TFrameBufferView: when an area is missing or too
// small, nothing at all is written and the attempt counts as refused. A try that did not get the
// mutex is repeated on the next pass (every 10 ms) until it gets it or the publisher stops.
//
// Start/Stop from one thread (the owner's); EventsReceived and WaitPublished from any thread. The
// host must outlive the publisher.
#pragma once

#include "CursorPictures.h"
#include "TRefHost.h"

#include "ipc/THandle.h"

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

struct TCursorPublisherOptions {
    refcursor::TCursorPicture picture = refcursor::TCursorPicture::Colour;
    int32_t iHotspotX = 0;
    int32_t iHotspotY = 0;
};

class TCursorPublisher {
public:
    TCursorPublisher(TRefHost& host, TCursorPublisherOptions options);
    // Stops the thread (see Stop).
    ~TCursorPublisher();
    TCursorPublisher(const TCursorPublisher&) = delete;
    TCursorPublisher& operator=(const TCursorPublisher&) = delete;

    // Starts the thread. False, and nothing started, when it runs already, when the host has no
    // mapped section, or when its stop event cannot be created. The cursor event may be missing:
    // then only offset changes cause publications.
    bool Start();
    // Ends the thread (also while it waits for the cursor mutex) and joins it. Harmless when it
    // does not run. After Stop the publisher can be started again; the counters go on.
    void Stop();

    // Signals of the cursor event the thread consumed.
    uint32_t EventsReceived() const { return ui32Events.load(); }
    // True once at least `atLeast` publications were made (areas valid, the block written), false
    // after timeoutMs.
    bool WaitPublished(uint32_t atLeast, DWORD timeoutMs) const;

private:
    enum class TWake { Stop, CursorEvent, Timeout };
    enum class TAttempt { Published, Refused, NotLocked, Stopped };
    struct TOffsets {
        uint32_t ui32Colour = 0;
        uint32_t ui32Mask = 0;
        bool operator==(const TOffsets&) const = default;
    };

    void Run();
    TWake WaitForWork() const;
    TOffsets ReadOffsets() const;
    TAttempt PublishOnce();
    bool WriteBlock(const CURSORINFO& info);
    void CountPublication();

    TRefHost& rHost;
    const TCursorPublisherOptions options;
    std::atomic<uint32_t> ui32Events{0};
    mutable std::mutex mutexCounts;  // guards the count; conditionCounts tells its changes
    mutable std::condition_variable conditionCounts;
    uint32_t ui32Publications = 0;
    TKernelHandle hStopEvent;  // manual-reset: Stop
    std::thread thread;           // last: joined (by Stop) before the events close
};
