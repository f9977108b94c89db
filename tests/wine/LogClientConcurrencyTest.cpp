// Two threads of one process logging at once while a server drains the ring: no record is torn,
// lost or reordered within its thread, and the connection step runs once.
#include "LogClientSupport.h"

#include <cstdio>
#include <map>
#include <thread>
#include <vector>

using namespace logtest;
using zyrlog::TRecordType;

namespace {

constexpr int kLinesPerThread = 100000;

void LogLines(TLogClient& client, int threadIndex, DWORD* pThreadId)
{
    *pThreadId = ::GetCurrentThreadId();
    for (int i = 0; i < kLinesPerThread; ++i) {
        Narrow(client, TRecordType::Info, 0, "%s thread %d line %d", "Concurrency::LogLines", threadIndex, i);
    }
}

TEST_F(LogClientFixture, TwoThreadsLogHundredThousandLinesEachWhileTheServerDrains)
{
    StartServer();
    auto client = MakeClient();
    TLogServerDrainer drainer(server);
    DWORD threadIds[2] = {};
    std::thread first(LogLines, std::ref(*client), 0, &threadIds[0]);
    std::thread second(LogLines, std::ref(*client), 1, &threadIds[1]);
    first.join();
    second.join();
    const bool complete = drainer.WaitFor(
        [](const std::vector<TLogRecord>& records) { return records.size() >= 2u * kLinesPerThread; }, 120000);
    ASSERT_TRUE(complete) << "records drained: " << drainer.Records().size();

    std::map<DWORD, int> nextLine;
    size_t malformed = 0;
    for (const TLogRecord& entry : drainer.Records()) {
        if (entry.bMalformed) {
            ++malformed;
            continue;
        }
        const zyrlog::TDecodedRecord& record = entry.record;
        const DWORD tid = record.fields.ui32ThreadId;
        const int threadIndex = tid == threadIds[0] ? 0 : 1;
        ASSERT_TRUE(tid == threadIds[0] || tid == threadIds[1]) << "unknown thread " << tid;
        int& expected = nextLine[tid];
        char text[96];
        std::snprintf(text, sizeof text, "Concurrency::LogLines thread %d line %d", threadIndex, expected);
        ASSERT_EQ(record.strText, text) << "record out of order or torn";
        EXPECT_EQ(record.fields.ui32ProcessId, ::GetCurrentProcessId());
        EXPECT_EQ(record.fields.ui32ModuleId, kModuleId);
        ++expected;
    }
    EXPECT_EQ(malformed, 0u);
    EXPECT_EQ(nextLine[threadIds[0]], kLinesPerThread);
    EXPECT_EQ(nextLine[threadIds[1]], kLinesPerThread);
}

TEST_F(LogClientFixture, ThreadsRacingToConnectBothGetThrough)
{
    StartServer();
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        auto client = MakeClient();
        HANDLE hGo = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ASSERT_NE(hGo, nullptr);
        TKernelHandle go(hGo);
        auto racer = [&client, hGo](int index) {
            ::WaitForSingleObject(hGo, 10000);
            Narrow(*client, TRecordType::Info, 0, "racer %d", index);
        };
        std::thread a(racer, 0);
        std::thread b(racer, 1);
        ::SetEvent(hGo);
        a.join();
        b.join();
        const auto records = Drain();
        ASSERT_EQ(records.size(), 2u);
        EXPECT_NE(records[0].record.strText, records[1].record.strText);
        EXPECT_EQ(client->LogName(), L"unit");
    }
}

}  // namespace
