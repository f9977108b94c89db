// Log records and the ring from the reader's side: decoding arbitrary bytes, walking a ring whose
// control block and data come from the input, and a client/server conversation over a small ring
// in which everything accepted must come out unchanged and in order.
#include "FuzzCheck.h"
#include "log/LogFormat.h"

#include "FuzzInputs.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>

using namespace zyrlog;

namespace {

// A heap block of exactly `size` bytes.
std::unique_ptr<uint8_t[]> Exact(const uint8_t* bytes, size_t size)
{
    std::unique_ptr<uint8_t[]> copy(new uint8_t[size]);
    if (size != 0) {
        std::memcpy(copy.get(), bytes, size);
    }
    return copy;
}

// Decodes, and for an accepted record checks that packing its fields again gives the same bytes.
bool DecodeAndCheck(const uint8_t* bytes, size_t size, TDecodedRecord& record)
{
    if (DecodeRecord(bytes, size, record) != TDecodeResult::Ok) {
        return false;
    }
    const bool bWide = IsWideRecordType(record.fields.ui32Type);
    FUZZ_CHECK(record.ui32Size <= size);
    FUZZ_CHECK(record.ui32Size == RecordSize(record.ui32TextLength, bWide));
    FUZZ_CHECK(bWide ? record.wsText.size() * 2 + 2 == record.ui32TextLength
                     : record.strText.size() + 1 == record.ui32TextLength);
    const uint8_t* terminator = bytes + kRecordTextOffset + record.ui32TextLength - (bWide ? 2 : 1);
    FUZZ_CHECK(terminator[0] == 0 && (!bWide || terminator[1] == 0));
    std::unique_ptr<uint8_t[]> packed(new uint8_t[record.ui32Size]);
    FUZZ_CHECK(PackRecord(packed.get(), record.fields, bytes + kRecordTextOffset, record.ui32TextLength, bWide) ==
               record.ui32Size);
    // The trailing byte(s) have no defined value; everything before them must match.
    FUZZ_CHECK(std::memcmp(packed.get(), bytes, kRecordTextOffset + record.ui32TextLength) == 0);
    return true;
}

void FuzzDecode(const uint8_t* data, size_t size)
{
    const std::unique_ptr<uint8_t[]> bytes = Exact(data, size);
    TDecodedRecord record;
    DecodeAndCheck(bytes.get(), size, record);
}

// Reads records from read towards write as a server does; stops at the first malformed one.
uint32_t DrainRing(const uint8_t* ring, const TRingState& state, std::deque<TDecodedRecord>* out)
{
    const uint32_t capacity = state.ui32Capacity;
    uint32_t read = state.ui32Read;
    while (read != state.ui32Write) {
        const uint32_t pending = static_cast<uint32_t>((uint64_t{state.ui32Write} + capacity - read) % capacity);
        uint8_t sizeBytes[4];
        if (pending < sizeof sizeBytes) {
            break;
        }
        RingRead(ring, capacity, read, sizeBytes, sizeof sizeBytes);
        const uint32_t size = LoadU32(sizeBytes);
        if (size == 0 || size > pending) {
            break;
        }
        std::unique_ptr<uint8_t[]> record(new uint8_t[size]);
        RingRead(ring, capacity, read, record.get(), size);
        TDecodedRecord decoded;
        if (!DecodeAndCheck(record.get(), size, decoded)) {
            break;
        }
        if (out != nullptr) {
            out->push_back(std::move(decoded));
        }
        read = static_cast<uint32_t>((uint64_t{read} + size) % capacity);
    }
    return read;
}

void FuzzRingWalk(const uint8_t* data, size_t size)
{
    if (size < 12) {
        return;
    }
    const size_t dataSize = size - 12;
    const size_t mappingSize = kRingControlSize + dataSize;
    std::unique_ptr<uint8_t[]> mapping(new uint8_t[mappingSize]());
    std::memcpy(mapping.get(), data, 12);
    if (dataSize != 0) {
        std::memcpy(mapping.get() + kRingControlSize, data + 12, dataSize);
    }
    TRingState state;
    if (!ReadRingState(mapping.get(), mappingSize, state)) {
        return;
    }
    FUZZ_CHECK(state.ui32Capacity <= dataSize);
    DrainRing(mapping.get() + kRingControlSize, state, nullptr);
}

std::unique_ptr<uint8_t[]> PackText(uint8_t action, uint32_t sequence, uint32_t& recordSize)
{
    const bool bWide = (action & 0x80) != 0;
    const size_t units = bWide ? (action & 0x3F) : (action & 0x7F);
    const size_t textBytes = (units + 1) * (bWide ? 2 : 1);
    std::unique_ptr<uint8_t[]> text(new uint8_t[textBytes]());
    for (size_t i = 0; i < units; ++i) {
        text[bWide ? 2 * i : i] = static_cast<uint8_t>('a' + (sequence + i) % 26);
    }
    TRecordFields fields;
    fields.ui32Type = bWide ? 3 : 0;
    fields.ui32ThreadId = sequence;
    recordSize = static_cast<uint32_t>(RecordSize(textBytes, bWide));
    std::unique_ptr<uint8_t[]> record(new uint8_t[recordSize]);
    PackRecord(record.get(), fields, text.get(), textBytes, bWide);
    return record;
}

void CompareDrained(std::deque<TDecodedRecord>& drained, std::deque<uint32_t>& expected)
{
    FUZZ_CHECK(drained.size() == expected.size());
    for (const TDecodedRecord& record : drained) {
        FUZZ_CHECK(record.fields.ui32ThreadId == expected.front());
        expected.pop_front();
    }
    drained.clear();
}

void FuzzConversation(const uint8_t* data, size_t size)
{
    if (size < 1) {
        return;
    }
    const uint32_t capacity = fuzzinput::kMinConversationCapacity + data[0];
    std::unique_ptr<uint8_t[]> ring(new uint8_t[capacity]);
    std::memset(ring.get(), 0xEE, capacity);
    TRingState state{capacity, 0, 0};
    std::deque<uint32_t> expected;  // sequence numbers of accepted records, oldest first
    std::deque<TDecodedRecord> drained;
    for (size_t i = 1; i < size; ++i) {
        if (data[i] == fuzzinput::kDrain) {
            state.ui32Read = DrainRing(ring.get(), state, &drained);
            FUZZ_CHECK(state.ui32Read == state.ui32Write);
            CompareDrained(drained, expected);
            continue;
        }
        uint32_t recordSize = 0;
        const std::unique_ptr<uint8_t[]> record = PackText(data[i], static_cast<uint32_t>(i), recordSize);
        const uint32_t free = RingFreeSpace(state.ui32Read, state.ui32Write, capacity);
        uint32_t newWrite = 0;
        const TRingWriteResult result = RingWrite(ring.get(), state, record.get(), recordSize, newWrite);
        FUZZ_CHECK((result == TRingWriteResult::Written) == (recordSize < free));
        if (result == TRingWriteResult::Written) {
            FUZZ_CHECK(newWrite < capacity);
            FUZZ_CHECK(newWrite == (state.ui32Write + recordSize) % capacity);
            state.ui32Write = newWrite;
            expected.push_back(static_cast<uint32_t>(i));
        }
    }
    state.ui32Read = DrainRing(ring.get(), state, &drained);
    FUZZ_CHECK(state.ui32Read == state.ui32Write);
    CompareDrained(drained, expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    switch (data[0] % 3) {
    case fuzzinput::kDecode: FuzzDecode(data + 1, size - 1); break;
    case fuzzinput::kRingWalk: FuzzRingWalk(data + 1, size - 1); break;
    case fuzzinput::kConversation: FuzzConversation(data + 1, size - 1); break;
    }
    return 0;
}
