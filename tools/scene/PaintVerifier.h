// Confirms that what the scene painted has reached the screen: on a thread of its own (a screen
// read from the main thread is ten times slower under Wine, and the main thread must keep pumping
// messages), it reads sample pixels of the screen until they match the requested generation, and
// reports to the main thread with thread messages.
#pragma once

#include "ScenePattern.h"

#include "ipc/THandle.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <thread>

namespace scene {

class PaintVerifier {
public:
    // Posted to the main thread (no window), wParam = the generation concerned.
    static constexpr UINT kVerifiedMessage = WM_APP + 1;     // the samples match
    static constexpr UINT kRepaintMessage = WM_APP + 2;      // still no match: paint again
    static constexpr UINT kNotVerifiedMessage = WM_APP + 3;  // no match within the bound

    // `area` is the painted rectangle in screen coordinates; pattern pixel (0, 0) is its top-left.
    PaintVerifier(Pattern pattern, const RECT& area, DWORD mainThreadId, DWORD boundMs);
    // Stops and joins the thread.
    ~PaintVerifier();
    PaintVerifier(const PaintVerifier&) = delete;
    PaintVerifier& operator=(const PaintVerifier&) = delete;

    // Creates the events and starts the thread; false (last error set) on failure.
    bool Start();

    // Verifies `generation` from now on; a verification still running for an older one is dropped.
    void Request(uint32_t generation);

private:
    enum class Outcome : uint8_t { Matched, Superseded, Stopped, TimedOut };

    void Run();
    Outcome VerifyGeneration(uint32_t generation);
    bool SamplesMatch(uint32_t generation, uint32_t attempt) const;
    void Post(UINT message, uint32_t generation) const;

    const Pattern pattern;
    const RECT area;
    const DWORD dwMainThreadId;
    const DWORD dwBoundMs;
    TKernelHandle hStop;  // manual reset
    TKernelHandle hWake;  // auto reset: a new request
    std::atomic<uint32_t> requestedGeneration{0};
    std::thread worker;
};

}  // namespace scene
