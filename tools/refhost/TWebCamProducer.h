// The host's webcam producer: on a thread of its own, writes the webcam picture
// (refwebcam::WebCamPixel, generations 1, 2, ...) and, with chroma keying, the background picture
// into their image areas of a TRefHost's section, each under its access mutex (waited for up to
// 1 s), as a recorder's webcam pipeline does for the capturer. The areas are the capturer's
// layout, so they are taken only through TFrameBufferView, under the mutex: before the capturer has
// laid the section out, or when an area is missing, nothing is written and the next pass tries
// again (every 5 ms). The first picture goes in as soon as the areas exist; later ones every
// 1 / fps seconds (fps 0: only the first).
//
// Hold(true) makes the thread take the webcam mutex and keep it, writing the next generation
// meanwhile as a slow producer would; Hold(false) releases it, and only then does that
// generation count. The capturer locks with a zero time-out, so a held mutex must never delay its
// frames, only keep the previous picture in them.
//
// Start/Stop/Hold from one thread (the owner's); Generation and WaitGeneration from any thread.
// The host must outlive the producer.
#pragma once

#include "TRefHost.h"

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class TWebCamProducer {
public:
    TWebCamProducer(TRefHost& host, double dFramesPerSecond);
    ~TWebCamProducer();  // Stop
    TWebCamProducer(const TWebCamProducer&) = delete;
    TWebCamProducer& operator=(const TWebCamProducer&) = delete;

    // False, and nothing started, when it runs already or the host has no mapped section.
    bool Start();
    // Ends the thread (releasing a held mutex) and joins it.
    void Stop();
    // Asks the thread to take (true) or release (false) the webcam mutex; true once it has.
    bool Hold(bool bHold, DWORD timeoutMs);

    // The last webcam generation written whole and released (0: none yet).
    uint32_t Generation() const;
    bool WaitGeneration(uint32_t atLeast, DWORD timeoutMs) const;

private:
    void Run();
    // Writes generation `generation` (and the background) under the mutexes already owned or
    // taken here; false when the areas are not laid out yet or a mutex was not obtained.
    bool WritePictures(uint32_t generation, bool bWebCamMutexOwned);
    void Publish(uint32_t generation);

    TRefHost& rHost;
    const double dFramesPerSecond;
    std::thread thread;
    mutable std::mutex mutexState;  // guards everything below; conditionState tells its changes
    mutable std::condition_variable conditionState;
    bool bStop = false;
    bool bWantHold = false;
    bool bHeld = false;
    uint32_t ui32Generation = 0;
};
