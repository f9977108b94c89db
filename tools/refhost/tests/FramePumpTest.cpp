// The pump's own rules against the fake capturer: a rate holds requests back, the capturer's end
// and a refusing sink stop it, and the capturer's CPU time is read from the process.
#include "FrameTestSupport.h"
#include "RefHostTestSupport.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace refhost_test;

class RefusingSink : public IFrameSink {
public:
    bool Consume(const TDeliveredFrame& frame, std::string* pError) override
    {
        ++calls;
        *pError = "disk full at frame " + std::to_string(frame.ui32Index);
        return false;
    }
    int calls = 0;
};

TEST(FramePump, ARateHoldsEachRequestBackFromTheFirstFramesReadyTime)
{
    constexpr double kRate = 50;  // a request every 20 ms at most
    for (TPumpMode mode : {TPumpMode::Sequential, TPumpMode::Pipelined}) {
        SCOPED_TRACE(mode == TPumpMode::Sequential ? "sequential" : "pipelined");
        TRefHost host;
        std::wstring error;
        ASSERT_TRUE(host.CreateObjects(TRefHostOptions{}, &error)) << Narrow(error);
        TFakeCapturer fake(TFakeCapturerOptions{});
        fake.Start();
        TFrameClient client(host);
        TPumpOptions options;
        options.mode = mode;
        options.ui32Frames = 8;
        options.dFramesPerSecond = kRate;
        options.ui32TimeoutMs = kFrameWaitMs;
        TCollectingSink sink;
        const TPumpResult result = RunFramePump(client, options, sink);
        fake.Stop();
        ASSERT_EQ(result.result, TFrameResult::Ok) << FrameResultName(result.result) << " " << fake.Error();
        ASSERT_EQ(result.vecTimings.size(), 8u);
        const double dFirstReadyMs = result.vecTimings[0].dReadyMs;
        for (size_t k = 1; k < result.vecTimings.size(); ++k) {
            EXPECT_GE(result.vecTimings[k].dRequestMs, dFirstReadyMs + k * 1000.0 / kRate) << "frame " << k;
        }
        EXPECT_LE(result.Stats().dFramesPerSecond, kRate);
        EXPECT_EQ(fake.SlotsServed().size(), 8u);
    }
}

TEST(FramePump, TheCapturersEndStopsTheWait)
{
    TRefHostOptions options;
    options.bCaptureEnabled = false;  // the fake serves nothing
    TRefHost host;
    std::wstring error;
    ASSERT_TRUE(host.CreateObjects(options, &error)) << Narrow(error);
    TFakeCapturer fake(TFakeCapturerOptions{});
    fake.Start();
    ASSERT_TRUE(fake.WaitLaidOut(kFrameWaitMs)) << fake.Error();
    // ZYRRefHost.exe --idle stands in for the capturer's process.
    const std::wstring arguments = L"--idle 200";
    ASSERT_TRUE(host.StartCapturer(WindowsPath(ZYR_REFHOST_EXE), 0, &arguments, &error)) << Narrow(error);
    TFrameClient client(host);
    TPumpOptions pumpOptions;
    pumpOptions.ui32Frames = 3;
    pumpOptions.ui32TimeoutMs = kFrameWaitMs;
    pumpOptions.hCapturerProcess = host.CapturerProcess();
    const ULONGLONG ullStart = ::GetTickCount64();
    TCollectingSink sink;
    const TPumpResult result = RunFramePump(client, pumpOptions, sink);
    EXPECT_EQ(result.result, TFrameResult::CapturerEnded) << FrameResultName(result.result);
    EXPECT_LT(::GetTickCount64() - ullStart, ULONGLONG{kFrameWaitMs} / 2) << "not the time-out";
    EXPECT_EQ(::WaitForSingleObject(host.CapturerProcess(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(client.WaitReady(0, kFrameWaitMs, host.CapturerProcess()), TFrameResult::CapturerEnded);
}

TEST(FramePump, ASinkThatRefusesStopsThePumpWithItsReason)
{
    TRefHost host;
    std::wstring error;
    ASSERT_TRUE(host.CreateObjects(TRefHostOptions{}, &error)) << Narrow(error);
    TFakeCapturer fake(TFakeCapturerOptions{});
    fake.Start();
    TFrameClient client(host);
    TPumpOptions options;
    options.ui32Frames = 4;
    options.ui32TimeoutMs = kFrameWaitMs;
    RefusingSink sink;
    const TPumpResult result = RunFramePump(client, options, sink);
    fake.Stop();
    EXPECT_EQ(result.result, TFrameResult::SinkFailed);
    EXPECT_EQ(sink.calls, 1);
    EXPECT_EQ(result.Delivered(), 0u) << "the refused frame is not counted";
    EXPECT_EQ(result.strSinkError, "disk full at frame 0");
    EXPECT_EQ(fake.FramesPublished(), 1u) << "nothing requested after the refusal";
}

TEST(FramePump, ProcessCpuTimeIsTheProcesssOwn)
{
    EXPECT_EQ(ProcessCpuMs(nullptr), 0u);
    const uint64_t ui64Before = ProcessCpuMs(::GetCurrentProcess());
    // Spin until the process's CPU time has moved on (it counts in scheduler ticks), 10 s at most.
    const ULONGLONG ullStart = ::GetTickCount64();
    volatile uint64_t sink = 0;
    while (ProcessCpuMs(::GetCurrentProcess()) <= ui64Before && ::GetTickCount64() - ullStart < 10000) {
        for (int i = 0; i < 100000; ++i) {
            sink = sink + static_cast<uint64_t>(i);
        }
    }
    EXPECT_GT(ProcessCpuMs(::GetCurrentProcess()), ui64Before);
}

}  // namespace
