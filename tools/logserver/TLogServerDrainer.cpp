#include "TLogServer.h"

#include <algorithm>
#include <chrono>

namespace {

// The loop also drains when the event stays quiet this long: a drain of an empty ring costs one
// uncontended mutex wait, and a client whose ready event was missed is picked up anyway.
constexpr DWORD kIdleWaitMs = 50;
// After the event, the loop lets records gather this long before draining. Writers set the event
// for every record, and a drain per event competes with them for the write-access mutex: under
// Wine, two threads writing 100,000 lines each took 59 s with a drain per event and 27 s with
// this pause.
constexpr DWORD kBatchMs = 10;

}  // namespace

TLogServerDrainer::TLogServerDrainer(TLogServer& server, std::function<void(const TLogRecord&)> onEachRecord)
    : rServer(server), onRecord(std::move(onEachRecord))
{
    thread = std::thread([this] { Loop(); });
}

TLogServerDrainer::~TLogServerDrainer()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        bStop = true;
    }
    thread.join();
    Flush();  // whatever arrived while the thread was leaving
}

void TLogServerDrainer::Loop()
{
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (bStop) {
                return;
            }
        }
        if (rServer.WaitReady(kIdleWaitMs)) {
            ::Sleep(kBatchMs);
        }
        Flush();
    }
}

// The drain lock also orders onRecord calls: they see the records in ring order, on whichever
// thread drained them.
void TLogServerDrainer::Flush()
{
    std::lock_guard<std::mutex> drainLock(drainMutex);
    std::vector<TLogRecord> drained;
    if (rServer.DrainOnce(drained) == 0) {
        return;
    }
    if (onRecord) {
        for (const TLogRecord& record : drained) {
            onRecord(record);
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        vecRecords.insert(vecRecords.end(), std::make_move_iterator(drained.begin()),
                          std::make_move_iterator(drained.end()));
    }
    cvChanged.notify_all();
}

std::vector<TLogRecord> TLogServerDrainer::Records() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return vecRecords;
}

bool TLogServerDrainer::WaitFor(const std::function<bool(const std::vector<TLogRecord>&)>& pred,
                                DWORD timeoutMs) const
{
    std::unique_lock<std::mutex> lock(mutex);
    return cvChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return pred(vecRecords); });
}

bool TLogServerDrainer::WaitForText(const std::string& text, DWORD timeoutMs) const
{
    return WaitFor(
        [&text](const std::vector<TLogRecord>& records) {
            return std::any_of(records.begin(), records.end(),
                               [&text](const TLogRecord& r) { return !r.bMalformed && r.record.strText == text; });
        },
        timeoutMs);
}

void TLogServerDrainer::Clear()
{
    std::lock_guard<std::mutex> lock(mutex);
    vecRecords.clear();
}
