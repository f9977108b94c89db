#include "FramePump.h"

#include <algorithm>

namespace {

class TPerformanceClock {
public:
    TPerformanceClock()
    {
        LARGE_INTEGER frequency{};
        ::QueryPerformanceFrequency(&frequency);
        dTicksPerMs = static_cast<double>(frequency.QuadPart) / 1000.0;
        llStart = Ticks();
    }
    double NowMs() const { return static_cast<double>(Ticks() - llStart) / dTicksPerMs; }

private:
    static LONGLONG Ticks()
    {
        LARGE_INTEGER counter{};
        ::QueryPerformanceCounter(&counter);
        return counter.QuadPart;
    }

    double dTicksPerMs = 1;
    LONGLONG llStart = 0;
};

// One run of the pump. Frames are numbered k = 0 .. N-1; frames [ui32Read, ui32Requested) are
// requested and not yet read.
class TPumpRun {
public:
    TPumpRun(TFrameClient& frameClient, const TPumpOptions& pumpOptions, IFrameSink& frameSink)
        : client(frameClient), options(pumpOptions), sink(frameSink), ui32FirstSlot(frameClient.CurrentSlot()),
          vecRequestMs(pumpOptions.ui32Frames), vecSlots(pumpOptions.ui32Frames)
    {
    }

    TPumpResult Run()
    {
        while (result.result == TFrameResult::Ok && ui32Read < options.ui32Frames) {
            result.result = Step();
        }
        return std::move(result);
    }

private:
    uint32_t Window() const { return options.mode == TPumpMode::Pipelined ? kFrameSlotCount : 1; }
    bool IsDue(uint32_t index, double nowMs) const;
    TFrameResult RequestDue(double nowMs);
    TFrameResult Step();
    TFrameResult Deliver(double readyMs);

    TFrameClient& client;
    const TPumpOptions& options;
    IFrameSink& sink;
    TPerformanceClock clock;
    TPumpResult result;
    const uint32_t ui32FirstSlot;
    std::vector<double> vecRequestMs;
    std::vector<uint32_t> vecSlots;
    uint32_t ui32Requested = 0;
    uint32_t ui32Read = 0;
    double dFirstReadyMs = 0;
    double dPreviousReadyMs = 0;
    uint64_t ui64CpuAtFirstMs = 0;
    bool bCapturerEnded = false;
    TFramePicture picture;
};

bool TPumpRun::IsDue(uint32_t index, double nowMs) const
{
    if (index >= options.ui32Frames || index >= ui32Read + Window()) {
        return false;
    }
    if (options.dFramesPerSecond <= 0 || index == 0) {
        return true;
    }
    // Paced from the first frame's ready time, which the warm-up decides.
    return ui32Read > 0 && nowMs >= dFirstReadyMs + index * 1000.0 / options.dFramesPerSecond;
}

TFrameResult TPumpRun::RequestDue(double nowMs)
{
    while (IsDue(ui32Requested, nowMs)) {
        uint32_t slot = (ui32FirstSlot + ui32Requested) % kFrameSlotCount;
        if (options.mode == TPumpMode::SingleFrame) {
            const TFrameResult requested = client.RequestSingleFrame(&slot);
            if (requested != TFrameResult::Ok) {
                return requested;
            }
        } else if (!client.Request(slot)) {
            return TFrameResult::Unusable;
        }
        vecSlots[ui32Requested] = slot;
        vecRequestMs[ui32Requested] = nowMs;
        ++ui32Requested;
    }
    return TFrameResult::Ok;
}

TFrameResult TPumpRun::Step()
{
    const double nowMs = clock.NowMs();
    const TFrameResult requested = RequestDue(nowMs);
    if (requested != TFrameResult::Ok) {
        return requested;
    }
    if (ui32Read < ui32Requested) {
        const TSlotState state = client.Poll(vecSlots[ui32Read]);
        if (state == TSlotState::Ready) {
            return Deliver(nowMs);
        }
        if (state == TSlotState::SizeRefused) {
            return TFrameResult::SizeRefused;
        }
        const double dWaitStartMs = std::max(vecRequestMs[ui32Read], dPreviousReadyMs);
        if (nowMs - dWaitStartMs >= options.ui32TimeoutMs) {
            return client.LooksRefused() ? TFrameResult::SizeRefused : TFrameResult::TimedOut;
        }
    }
    if (bCapturerEnded) {
        return TFrameResult::CapturerEnded;
    }
    // After the process's end one more pass looks for a frame it published just before.
    bCapturerEnded = WaitPollInterval(options.hCapturerProcess);
    return TFrameResult::Ok;
}

// Reads frame ui32Read, re-requests its slot (pipelined) and hands the frame to the sink.
TFrameResult TPumpRun::Deliver(double readyMs)
{
    const uint32_t index = ui32Read;
    uint32_t ui32Timestamp = 0;
    const TFrameResult read = client.Read(vecSlots[index], &picture, &ui32Timestamp);
    if (read != TFrameResult::Ok) {
        return read;
    }
    const double dStartMs = index == 0 ? vecRequestMs[0] : std::max(vecRequestMs[index], dPreviousReadyMs);
    const TFrameTiming timing{vecRequestMs[index], readyMs, readyMs - dStartMs};
    if (index == 0) {
        dFirstReadyMs = readyMs;
        ui64CpuAtFirstMs = ProcessCpuMs(options.hCapturerProcess);
    } else if (index + 1 == options.ui32Frames) {
        const uint64_t ui64CpuNowMs = ProcessCpuMs(options.hCapturerProcess);
        result.ui64CapturerCpuMs = ui64CpuNowMs > ui64CpuAtFirstMs ? ui64CpuNowMs - ui64CpuAtFirstMs : 0;
    }
    dPreviousReadyMs = readyMs;
    ++ui32Read;
    // Pipelined, the slot goes back to the capturer before the sink works on the copy; otherwise
    // the next request waits for the sink (the next Step).
    if (options.mode == TPumpMode::Pipelined) {
        const TFrameResult requested = RequestDue(clock.NowMs());
        if (requested != TFrameResult::Ok) {
            return requested;
        }
    }
    if (!sink.Consume(TDeliveredFrame{index, vecSlots[index], ui32Timestamp, timing, picture}, &result.strSinkError)) {
        return TFrameResult::SinkFailed;
    }
    result.vecTimings.push_back(timing);
    return TFrameResult::Ok;
}

}  // namespace

TPumpResult RunFramePump(TFrameClient& client, const TPumpOptions& options, IFrameSink& sink)
{
    if (!client.IsUsable()) {
        TPumpResult result;
        result.result = TFrameResult::Unusable;
        return result;
    }
    return TPumpRun(client, options, sink).Run();
}

uint64_t ProcessCpuMs(HANDLE hProcess)
{
    FILETIME creation{};
    FILETIME exit{};
    FILETIME kernel{};
    FILETIME user{};
    if (hProcess == nullptr || !::GetProcessTimes(hProcess, &creation, &exit, &kernel, &user)) {
        return 0;
    }
    auto hundredNs = [](const FILETIME& time) {
        return uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime;
    };
    return (hundredNs(kernel) + hundredNs(user)) / 10000;
}
