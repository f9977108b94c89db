// The draining thread: records arrive without being asked for, in ring order, to the callback and
// to waiting threads; Flush, Clear and the last drain at destruction.
#include "ServerTestSupport.h"

#include <memory>
#include <mutex>

using namespace lstest;
using zyrlog::TRecordType;

namespace {

constexpr DWORD kGenerousMs = 20000;

class DrainerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        names = UniqueNames(L"drainer");
        StartOrFail(server, Config(names));
        client = std::make_unique<TLogClient>(names, kModulePath);
    }
    void Log(const char* text) { LogNarrow(*client, TRecordType::Info, 0, "%s", text); }

    TLogObjectNames names;
    TLogServer server;
    std::unique_ptr<TLogClient> client;
};

std::vector<std::string> TextsOf(const std::vector<TLogRecord>& records)
{
    std::vector<std::string> texts;
    for (const TLogRecord& entry : records) {
        texts.push_back(entry.record.strText);
    }
    return texts;
}

TEST_F(DrainerTest, RecordsArriveOnTheirOwnInRingOrder)
{
    std::mutex seenMutex;
    std::vector<std::string> seen;
    TLogServerDrainer drainer(server, [&](const TLogRecord& entry) {
        std::lock_guard<std::mutex> lock(seenMutex);
        seen.push_back(entry.record.strText);
    });
    std::vector<std::string> expected;
    for (int i = 0; i < 200; ++i) {
        expected.push_back("line " + std::to_string(i));
        Log(expected.back().c_str());
    }
    ASSERT_TRUE(drainer.WaitForText("line 199", kGenerousMs));
    EXPECT_EQ(TextsOf(drainer.Records()), expected);
    std::lock_guard<std::mutex> lock(seenMutex);
    EXPECT_EQ(seen, expected) << "the callback saw the same records in the same order";
}

TEST_F(DrainerTest, WaitForReportsTheLastPredicateResult)
{
    TLogServerDrainer drainer(server);
    Log("one");
    EXPECT_TRUE(drainer.WaitFor([](const std::vector<TLogRecord>& r) { return r.size() == 1; }, kGenerousMs));
    const uint64_t before = NowMs();
    EXPECT_FALSE(drainer.WaitFor([](const std::vector<TLogRecord>& r) { return r.size() == 2; }, 200));
    EXPECT_GE(NowMs() - before, 150u) << "waited for the time-out";
    EXPECT_FALSE(drainer.WaitForText("never written", 100));
}

TEST_F(DrainerTest, FlushMakesEverythingWrittenSoFarVisibleAndClearForgetsIt)
{
    TLogServerDrainer drainer(server);
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        Log("a");
        Log("b");
        drainer.Flush();
        EXPECT_EQ(TextsOf(drainer.Records()), (std::vector<std::string>{"a", "b"}));
        drainer.Clear();
        EXPECT_TRUE(drainer.Records().empty());
    }
}

TEST_F(DrainerTest, DestructionDrainsTheLastRecords)
{
    std::vector<std::string> seen;
    {
        TLogServerDrainer drainer(server, [&](const TLogRecord& entry) { seen.push_back(entry.record.strText); });
        Log("last words");
    }
    EXPECT_EQ(seen, std::vector<std::string>{"last words"});
    EXPECT_EQ(ReadOffset(server), WriteOffset(server));
}

}  // namespace
