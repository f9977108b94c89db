#include "log/LogFormat.h"

#include "ExactBuffer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace zyrlog;

TEST(RingFreeSpace, Table)
{
    struct Case {
        const char* name;
        uint32_t read;
        uint32_t write;
        uint32_t capacity;
        uint32_t expected;
    };
    const Case cases[] = {
        {"empty ring at 0", 0, 0, 100, 100},
        {"empty ring in the middle", 57, 57, 100, 100},
        {"reader ahead", 60, 10, 100, 50},
        {"reader one ahead", 11, 10, 100, 1},
        {"writer ahead", 10, 60, 100, 50},
        {"writer at the last byte", 0, 99, 100, 1},
        {"writer ahead by one", 40, 41, 100, 99},
        {"full-size ring", 0, 0, kRingCapacity, kRingCapacity},
        {"full-size ring, writer near the end", 5, kRingCapacity - 1, kRingCapacity, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RingFreeSpace(c.read, c.write, c.capacity), c.expected);
    }
}

std::vector<uint8_t> Pattern(size_t size, uint8_t first)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(first + i);
    }
    return bytes;
}

struct WriteCase {
    const char* name;
    uint32_t capacity;
    uint32_t read;
    uint32_t write;
    uint32_t size;
    bool written;
    uint32_t newWrite;
};

// Applies a write to a copy of the ring the slow way, for comparison.
std::vector<uint8_t> ExpectedRing(std::vector<uint8_t> ring, const WriteCase& c, const std::vector<uint8_t>& record)
{
    if (c.written) {
        for (uint32_t i = 0; i < c.size; ++i) {
            ring[(c.write + i) % c.capacity] = record[i];
        }
    }
    return ring;
}

TEST(RingWrite, StrictRuleSplitAndEndOfRing)
{
    const WriteCase cases[] = {
        {"empty ring: record as large as the ring is dropped", 64, 10, 10, 64, false, 0},
        {"empty ring: one byte less fits and wraps", 64, 10, 10, 63, true, 9},
        {"reader ahead: exactly the free space is dropped", 64, 20, 10, 10, false, 0},
        {"reader ahead: one byte less fits", 64, 20, 10, 9, true, 19},
        {"writer ahead: split at the end, tail at 0", 64, 30, 50, 20, true, 6},
        {"writer ahead: ends exactly at the end", 64, 30, 50, 14, true, 0},
        {"writer ahead: one byte before the end", 64, 30, 50, 13, true, 63},
        {"writer at the last byte: one byte to the end", 64, 5, 63, 1, true, 0},
        {"writer at the last byte: split after one byte", 64, 5, 63, 4, true, 3},
        {"writer ahead: tail runs up to one below the reader", 64, 30, 50, 43, true, 29},
        {"writer ahead: tail would reach the reader", 64, 30, 50, 44, false, 0},
        {"empty record", 64, 0, 0, 0, true, 0},
    };
    for (const WriteCase& c : cases) {
        SCOPED_TRACE(c.name);
        ExactBuffer ring(c.capacity, 0xEE);
        const std::vector<uint8_t> before = ring.ToVector();
        const ExactBuffer record(Pattern(c.size, 1));
        const TRingState state{c.capacity, c.read, c.write};
        uint32_t newWrite = 0xDEAD;
        const TRingWriteResult result = RingWrite(ring.data(), state, record.data(), c.size, newWrite);
        EXPECT_EQ(result, c.written ? TRingWriteResult::Written : TRingWriteResult::NoSpace);
        if (c.written) {
            EXPECT_EQ(newWrite, c.newWrite);
        }
        EXPECT_EQ(ring.ToVector(), ExpectedRing(before, c, record.ToVector()));
    }
}

TEST(RingWrite, OneByteRecordsFillAllButOneByte)
{
    constexpr uint32_t kCapacity = 16;
    ExactBuffer ring(kCapacity, 0);
    TRingState state{kCapacity, 5, 5};
    const uint8_t byte = 0x42;
    uint32_t written = 0;
    uint32_t newWrite = 0;
    while (RingWrite(ring.data(), state, &byte, 1, newWrite) == TRingWriteResult::Written) {
        state.ui32Write = newWrite;
        ASSERT_NE(state.ui32Write, state.ui32Read) << "a full ring would look empty";
        ++written;
        ASSERT_LT(written, kCapacity);
    }
    EXPECT_EQ(written, kCapacity - 1);
    EXPECT_EQ(RingFreeSpace(state.ui32Read, state.ui32Write, kCapacity), 1u);
}

TEST(RingRead, FollowsTheWrap)
{
    struct Case {
        const char* name;
        uint32_t from;
        uint32_t size;
        std::vector<uint8_t> expected;
    };
    const Case cases[] = {
        {"inside", 3, 4, {3, 4, 5, 6}},
        {"up to the end", 60, 4, {60, 61, 62, 63}},
        {"across the end", 60, 10, {60, 61, 62, 63, 0, 1, 2, 3, 4, 5}},
        {"from the last byte", 63, 3, {63, 0, 1}},
        {"nothing", 10, 0, {}},
    };
    const ExactBuffer ring(Pattern(64, 0));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExactBuffer out(c.size, 0xEE);
        RingRead(ring.data(), 64, c.from, out.data(), c.size);
        EXPECT_EQ(out.ToVector(), c.expected);
    }
}

TEST(ReadRingState, AcceptsOnlyStatesInsideTheMapping)
{
    struct Case {
        const char* name;
        size_t mappingSize;
        uint32_t capacity;
        uint32_t read;
        uint32_t write;
        bool accepted;
    };
    const Case cases[] = {
        {"small ring", 12022 + 256, 256, 0, 0, true},
        {"offsets at the last byte", 12022 + 256, 256, 255, 255, true},
        {"ring smaller than the data area", 12022 + 256, 100, 99, 0, true},
        {"capacity 0", 12022 + 256, 0, 0, 0, false},
        {"capacity one past the data area", 12022 + 256, 257, 0, 0, false},
        {"capacity of 4 GiB", 12022 + 256, 0xFFFFFFFF, 0, 0, false},
        {"read at the capacity", 12022 + 256, 256, 256, 0, false},
        {"write at the capacity", 12022 + 256, 256, 0, 256, false},
        {"write far past", 12022 + 256, 256, 0, 0xFFFFFFFF, false},
        {"product mapping", kRingMappingSize, kRingCapacity, 1000, kRingCapacity - 1, true},
        {"product mapping, capacity one too large", kRingMappingSize, kRingCapacity + 1, 0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Only the control block is read, so the buffer need not hold the ring data.
        ExactBuffer control(kRingControlSize, 0);
        StoreU32(control.data() + kRingCapacityOffset, c.capacity);
        StoreU32(control.data() + kRingReadOffset, c.read);
        StoreU32(control.data() + kRingWriteOffset, c.write);
        TRingState state;
        EXPECT_EQ(ReadRingState(control.data(), c.mappingSize, state), c.accepted);
        if (c.accepted) {
            EXPECT_EQ(state.ui32Capacity, c.capacity);
            EXPECT_EQ(state.ui32Read, c.read);
            EXPECT_EQ(state.ui32Write, c.write);
        }
    }
}

TEST(ReadRingState, MappingNoLargerThanTheControlBlockIsNotRead)
{
    for (size_t size : {size_t{0}, size_t{4}, size_t{11}, size_t{100}, kRingControlSize - 1, kRingControlSize}) {
        SCOPED_TRACE(testing::Message() << "mapping of " << size << " bytes");
        ExactBuffer mapping(size, 0x01);
        if (size >= 12) {
            // Values that would describe a ring if the data area were not missing.
            StoreU32(mapping.data() + kRingCapacityOffset, 8);
            StoreU32(mapping.data() + kRingReadOffset, 0);
            StoreU32(mapping.data() + kRingWriteOffset, 0);
        }
        TRingState state;
        EXPECT_FALSE(ReadRingState(mapping.data(), size, state));
    }
}

// A client writes packed records into a small ring while a reader drains it the way a server
// does: size field first, then the whole record, then the read offset moves on.
class RingConversation {
public:
    explicit RingConversation(uint32_t capacity) : ring_(capacity, 0xEE), state_{capacity, 0, 0} {}

    bool Submit(const std::string& text)
    {
        std::vector<uint8_t> record(RecordSize(text.size() + 1, false));
        TRecordFields fields;
        fields.ui32ThreadId = ++sequence_;
        PackRecord(record.data(), fields, text.c_str(), text.size() + 1, false);
        uint32_t newWrite = 0;
        if (RingWrite(ring_.data(), state_, record.data(), static_cast<uint32_t>(record.size()), newWrite) !=
            TRingWriteResult::Written) {
            return false;
        }
        state_.ui32Write = newWrite;
        return true;
    }

    // Decodes everything between read and write; false on any malformed record.
    bool Drain(std::vector<std::string>& texts)
    {
        const uint32_t capacity = state_.ui32Capacity;
        while (state_.ui32Read != state_.ui32Write) {
            const uint32_t pending = (state_.ui32Write + capacity - state_.ui32Read) % capacity;
            uint8_t sizeBytes[4];
            if (pending < sizeof sizeBytes) {
                return false;
            }
            RingRead(ring_.data(), capacity, state_.ui32Read, sizeBytes, sizeof sizeBytes);
            const uint32_t size = LoadU32(sizeBytes);
            if (size > pending) {
                return false;
            }
            ExactBuffer record(size);
            RingRead(ring_.data(), capacity, state_.ui32Read, record.data(), size);
            TDecodedRecord decoded;
            if (DecodeRecord(record.data(), record.size(), decoded) != TDecodeResult::Ok) {
                return false;
            }
            texts.push_back(decoded.strText);
            state_.ui32Read = (state_.ui32Read + size) % capacity;
        }
        return true;
    }

    const TRingState& state() const { return state_; }

private:
    ExactBuffer ring_;
    TRingState state_;
    uint32_t sequence_ = 0;
};

TEST(RingConversation, RecordsSurviveManyWrapsInOrder)
{
    RingConversation conversation(100);  // a 5-byte text makes a 40-byte record
    std::vector<std::string> sent;
    std::vector<std::string> received;
    for (int i = 0; i < 60; ++i) {
        const std::string text = "line" + std::to_string(i % 10) + std::string(static_cast<size_t>(i % 7), '+');
        if (!conversation.Submit(text)) {
            ASSERT_TRUE(conversation.Drain(received));
            ASSERT_TRUE(conversation.Submit(text)) << "an empty ring must take the record";
        }
        sent.push_back(text);
    }
    ASSERT_TRUE(conversation.Drain(received));
    EXPECT_EQ(received, sent);
}

TEST(RingConversation, RecordOfExactlyTheFreeSpaceIsDropped)
{
    RingConversation conversation(100);
    // 100 free bytes: a 100-byte record (65 characters + terminator + 34) is dropped ...
    EXPECT_FALSE(conversation.Submit(std::string(65, 'x')));
    EXPECT_EQ(conversation.state().ui32Write, 0u);
    // ... a 99-byte one is written.
    EXPECT_TRUE(conversation.Submit(std::string(64, 'y')));
    EXPECT_EQ(conversation.state().ui32Write, 99u);
    std::vector<std::string> received;
    ASSERT_TRUE(conversation.Drain(received));
    EXPECT_EQ(received, std::vector<std::string>{std::string(64, 'y')});
}

}  // namespace
