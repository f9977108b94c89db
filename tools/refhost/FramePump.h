// Delivers N frames from the capturer, in slot order, to a sink, and times each one.
//
// Modes:
//   Sequential:  request a slot, wait until it is ready, read it, hand it to the sink, then
//                request the next slot.
//   Pipelined:   as a recording host does: keep all six slots requested, re-request each slot as
//                soon as it has been read (before the sink sees the frame).
//   SingleFrame: each frame by a single-frame request into the current slot, which the capturer
//                serves even with capture disabled; the slot does not move.
// With a rate R > 0, frame k (k >= 1) is not requested before the first frame's ready time plus
// k / R seconds; frame 0 is requested at once (its wait includes the capturer's warm-up). In
// pipelined mode at most six frames are outstanding, so the rate only holds the requests back.
//
// Times come from the performance counter, in milliseconds since the pump started; a frame is
// "ready" when the pump's poll (about every millisecond) sees its flag, so latencies have that
// resolution. A slow sink delays the observation of frames that became ready meanwhile (pipelined)
// or the next request (sequential): measure rates with a cheap sink.
#pragma once

#include "FrameStatistics.h"
#include "TFrameClient.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

enum class TPumpMode { Sequential, Pipelined, SingleFrame };

struct TPumpOptions {
    TPumpMode mode = TPumpMode::Sequential;
    uint32_t ui32Frames = 1;
    double dFramesPerSecond = 0;      // 0: as fast as the capturer serves
    uint32_t ui32TimeoutMs = 20000;   // bound of each frame's wait; the first one includes the warm-up
    HANDLE hCapturerProcess = nullptr;  // may be null; its end ends the pump, its CPU time is measured
};

struct TDeliveredFrame {
    uint32_t ui32Index;      // 0 .. N-1, in delivery order
    uint32_t ui32Slot;
    uint32_t ui32Timestamp;  // ui32FrameTimestamps[slot] as the capturer wrote it
    TFrameTiming timing;
    const TFramePicture& picture;  // valid during Consume only
};

class IFrameSink {
public:
    virtual ~IFrameSink() = default;
    // Called on the pump's thread in frame order. false stops the pump with SinkFailed; *pError
    // then says why.
    virtual bool Consume(const TDeliveredFrame& frame, std::string* pError) = 0;
};

struct TPumpResult {
    // Ok when all N frames were delivered; otherwise what stopped the pump.
    TFrameResult result = TFrameResult::Ok;
    std::vector<TFrameTiming> vecTimings;  // one per frame the sink accepted
    // User plus kernel time of the capturer process from the first frame's ready time to the last
    // one's: the same interval as the frame rate. 0 without a process handle or with one frame.
    uint64_t ui64CapturerCpuMs = 0;
    std::string strSinkError;

    uint32_t Delivered() const { return static_cast<uint32_t>(vecTimings.size()); }
    TFrameRunStats Stats() const { return ComputeFrameRunStats(vecTimings, ui64CapturerCpuMs); }
};

// Runs on the calling thread until N frames were delivered or something stopped it. Continuous
// modes start at client.CurrentSlot() and go on in slot order.
TPumpResult RunFramePump(TFrameClient& client, const TPumpOptions& options, IFrameSink& sink);

// User plus kernel time of a process in milliseconds; 0 for a null handle or a failed query.
uint64_t ProcessCpuMs(HANDLE hProcess);
