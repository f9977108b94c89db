// Log records and the ring from the reader's side. Byte 0 modulo 3 picks the mode:
// 0: the rest is one record, decoded as a server would;
// 1: 12 bytes of control block (capacity, read, write), then the ring data; the mapping is the
//    control block plus exactly these bytes, drained from read to write;
// 2: byte 1 sets a small ring's capacity (48 + byte); each later byte is a client action: 0xFF
//    drains, bit 7 submits a wide text of (byte & 0x3F) units, else a narrow text of (byte & 0x7F)
//    characters. A record is written exactly when it is smaller than the free space, and what is
//    drained is what was accepted, in order.
#include "FuzzCheck.h"
#include "log/LogFormat.h"

#include <cstring>
#include <vector>

using namespace zyrlog;

namespace {

// Decodes; an accepted record is terminated and packs again to the same bytes.
bool Decode(const uint8_t* bytes, size_t size, TDecodedRecord& record)
{
    if (DecodeRecord(bytes, size, record) != TDecodeResult::Ok) {
        return false;
    }
    const bool wide = IsWideRecordType(record.fields.ui32Type);
    FUZZ_CHECK(record.ui32Size <= size && record.ui32Size == RecordSize(record.ui32TextLength, wide));
    FUZZ_CHECK(bytes[kRecordTextOffset + record.ui32TextLength - 1] == 0);
    std::vector<uint8_t> packed(record.ui32Size);
    FUZZ_CHECK(PackRecord(packed.data(), record.fields, bytes + kRecordTextOffset, record.ui32TextLength, wide) ==
               record.ui32Size);
    FUZZ_CHECK(std::memcmp(packed.data(), bytes, kRecordTextOffset + record.ui32TextLength) == 0);
    return true;
}

// Reads records from read towards write as a server does, up to the first malformed one; collects
// their thread ids.
uint32_t Drain(const uint8_t* ring, const TRingState& state, std::vector<uint32_t>& ids)
{
    const uint32_t capacity = state.ui32Capacity;
    uint32_t read = state.ui32Read;
    while (read != state.ui32Write) {
        const uint32_t pending = uint32_t((uint64_t{state.ui32Write} + capacity - read) % capacity);
        uint8_t sizeBytes[4] = {};
        RingRead(ring, capacity, read, sizeBytes, pending < 4 ? pending : 4);
        const uint32_t size = LoadU32(sizeBytes);
        if (pending < 4 || size == 0 || size > pending) {
            break;
        }
        std::vector<uint8_t> record(size);
        TDecodedRecord decoded;
        RingRead(ring, capacity, read, record.data(), size);
        if (!Decode(record.data(), size, decoded)) {
            break;
        }
        ids.push_back(decoded.fields.ui32ThreadId);
        read = uint32_t((uint64_t{read} + size) % capacity);
    }
    return read;
}

void Conversation(const uint8_t* data, size_t size)
{
    const uint32_t capacity = 48 + data[0];
    std::vector<uint8_t> ring(capacity, 0xEE);
    TRingState state{capacity, 0, 0};
    std::vector<uint32_t> sent, received;
    for (size_t i = 1; i <= size; ++i) {
        if (i == size || data[i] == 0xFF) {
            state.ui32Read = Drain(ring.data(), state, received);
            FUZZ_CHECK(state.ui32Read == state.ui32Write && received == sent);
            continue;
        }
        const bool wide = (data[i] & 0x80) != 0;
        const size_t textBytes = ((wide ? data[i] & 0x3F : data[i] & 0x7F) + 1u) * (wide ? 2 : 1);
        std::vector<uint8_t> text(textBytes, 'a');
        text[textBytes - 1] = text[textBytes - (wide ? 2 : 1)] = 0;
        std::vector<uint8_t> record(RecordSize(textBytes, wide));
        PackRecord(record.data(), TRecordFields{wide ? 3u : 0u, 0, 0, uint32_t(i), 0, 0}, text.data(), textBytes, wide);
        const uint32_t free = RingFreeSpace(state.ui32Read, state.ui32Write, capacity);
        uint32_t newWrite = 0;
        const bool written = RingWrite(ring.data(), state, record.data(), uint32_t(record.size()), newWrite) ==
                             TRingWriteResult::Written;
        FUZZ_CHECK(written == (record.size() < free));
        if (written) {
            FUZZ_CHECK(newWrite == (state.ui32Write + record.size()) % capacity);
            state.ui32Write = newWrite;
            sent.push_back(uint32_t(i));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) {
        return 0;
    }
    const std::vector<uint8_t> rest(data + 1, data + size);  // exactly the input's bytes
    TDecodedRecord record;
    std::vector<uint32_t> ids;
    if (data[0] % 3 == 0) {
        Decode(rest.data(), rest.size(), record);
    } else if (data[0] % 3 == 1 && rest.size() >= 12) {
        std::vector<uint8_t> mapping(kRingControlSize + rest.size() - 12);
        std::memcpy(mapping.data(), rest.data(), 12);
        std::memcpy(mapping.data() + kRingControlSize, rest.data() + 12, rest.size() - 12);
        TRingState state;
        if (ReadRingState(mapping.data(), mapping.size(), state)) {
            FUZZ_CHECK(state.ui32Capacity <= rest.size() - 12);
            Drain(mapping.data() + kRingControlSize, state, ids);
        }
    } else if (data[0] % 3 == 2) {
        Conversation(rest.data(), rest.size());
    }
    return 0;
}
