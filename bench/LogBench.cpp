// Cost of the log calls as the capturer makes them: a LogVerbose that the server's level filters
// out, and a LogInfo that is formatted, packed and copied into the ring. Baselines in the same run:
// formatting the same line alone, and the kernel round trip every written record needs (wait for
// and release the write-access mutex, set the log-ready event).
//
// A server registered for this program's folder keeps the ring empty from a thread of its own, as
// a real server that keeps up would, so every LogInfo is really written.
#include "BenchLogServer.h"
#include "log/Log.h"
#include "log/LogFormat.h"

#include <benchmark/benchmark.h>

#include <windows.h>

#include <cstdio>

namespace {

constexpr const char kName[] = "TZYRFullscreenCapturer::CaptureScreenThread";

TLogServer* g_pServer = nullptr;

void BM_Baseline_FormatOnly(benchmark::State& state)
{
    char line[256];
    int frame = 0;
    for (auto _ : state) {
        const int n = std::snprintf(line, sizeof line, "%s frame %d ready", kName, frame++);
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(line);
    }
}
BENCHMARK(BM_Baseline_FormatOnly);

void BM_Baseline_KernelRoundTrip(benchmark::State& state)
{
    HANDLE hMutex = g_pServer->WriteAccessMutex();
    HANDLE hEvent = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    for (auto _ : state) {
        ::WaitForSingleObject(hMutex, INFINITE);
        ::ReleaseMutex(hMutex);
        ::SetEvent(hEvent);
    }
    ::CloseHandle(hEvent);
}
BENCHMARK(BM_Baseline_KernelRoundTrip);

// What a written line costs inside the process, without the kernel calls: format into a reusable
// buffer, pack the record, copy it into a ring (a private one here, emptied as it fills).
void BM_ClientWork_FormatPackCopy(benchmark::State& state)
{
    static char text[256];
    static uint8_t record[512];
    static uint8_t ring[1 << 20];
    zyrlog::TRingState ringState{sizeof ring, 0, 0};
    zyrlog::TRecordFields fields;
    int frame = 0;
    for (auto _ : state) {
        const int length = std::snprintf(text, sizeof text, "%s frame %d ready", kName, frame++);
        const size_t size = zyrlog::PackRecord(record, fields, text, static_cast<size_t>(length) + 1, false);
        uint32_t newWrite = 0;
        if (zyrlog::RingWrite(ring, ringState, record, static_cast<uint32_t>(size), newWrite) !=
            zyrlog::TRingWriteResult::Written) {
            ringState.ui32Read = ringState.ui32Write;  // a server that keeps up
            zyrlog::RingWrite(ring, ringState, record, static_cast<uint32_t>(size), newWrite);
        }
        ringState.ui32Write = newWrite;
        benchmark::DoNotOptimize(ring);
    }
}
BENCHMARK(BM_ClientWork_FormatPackCopy);

void BM_LogVerbose_Filtered(benchmark::State& state)
{
    g_pServer->SetLevel(0);
    int frame = 0;
    for (auto _ : state) {
        LogVerbose("%s frame %d ready", kName, frame++);
    }
}
BENCHMARK(BM_LogVerbose_Filtered);

void BM_LogInfo_Written(benchmark::State& state)
{
    g_pServer->SetLevel(0);
    int frame = 0;
    for (auto _ : state) {
        LogInfo("%s frame %d ready", kName, frame++);
    }
}
BENCHMARK(BM_LogInfo_Written);

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    TBenchLogServer logServer;
    if (!logServer.Start()) {
        return 1;
    }
    g_pServer = &logServer.Server();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
