// The log server's shared-memory formats as seen by a client and by a server: the record that
// carries one line, the ring buffer's control block and the ring arithmetic.
//
// Platform-free. Every function that reads bytes another process wrote takes the size of what it
// may read and stays inside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zyrlog {

// Record types of the log calls.
enum class TRecordType : uint32_t {
    Info = 0,
    Warning = 1,
    Error = 2,
    InfoWide = 3,
    WarningWide = 4,
    ThreadStart = 6,
};

// True for the record types whose text is UTF-16LE.
constexpr bool IsWideRecordType(uint32_t type)
{
    return type == 3 || type == 4 || type == 6;
}

// Record layout (packed, little-endian).
constexpr size_t kRecordSizeOffset = 0;
constexpr size_t kRecordTypeOffset = 4;
constexpr size_t kRecordPidOffset = 8;
constexpr size_t kRecordModuleIdOffset = 12;
constexpr size_t kRecordTidOffset = 16;
constexpr size_t kRecordTimestampOffset = 20;
constexpr size_t kRecordStopSeenOffset = 28;
constexpr size_t kRecordTextLengthOffset = 29;
constexpr size_t kRecordTextOffset = 33;
// Record size = 34 + L for narrow text, 35 + L for wide text (L counts the terminator).
constexpr size_t kNarrowRecordOverhead = 34;
constexpr size_t kWideRecordOverhead = 35;

// Ring buffer mapping: a 12,022-byte control block followed by the ring data.
constexpr size_t kRingMappingSize = 20971520;
constexpr size_t kRingControlSize = 12022;
constexpr uint32_t kRingCapacity = static_cast<uint32_t>(kRingMappingSize - kRingControlSize);
constexpr size_t kRingCapacityOffset = 0;
constexpr size_t kRingReadOffset = 4;
constexpr size_t kRingWriteOffset = 8;
constexpr size_t kRingLevelOffset = 12;
constexpr size_t kRingWritersStoppedOffset = 13;
constexpr size_t kRingUnusedOffset = 14;

// Formatting and record buffers grow in whole steps of this many bytes.
constexpr size_t kBufferGrowthStep = 102400;

// Capacity that holds `need` bytes: (need / 102,400 + 1) x 102,400, so always above the need.
constexpr size_t GrownCapacity(size_t need)
{
    return (need / kBufferGrowthStep + 1) * kBufferGrowthStep;
}

// Milliseconds since the counter's origin, computed without overflowing for any realistic
// frequency: (q x 10^7 + r x 10^7 / f) / 10^4 with q = c / f, r = c mod f. Zero when f is 0.
uint64_t CounterToMilliseconds(uint64_t counter, uint64_t frequency);

struct TRecordFields {
    uint32_t ui32Type = 0;
    uint32_t ui32ProcessId = 0;
    uint32_t ui32ModuleId = 0;
    uint32_t ui32ThreadId = 0;
    uint64_t ui64Timestamp = 0;
    uint8_t bStopSeen = 0;
};

// Size of the record that carries textBytes bytes of text (terminator included).
constexpr size_t RecordSize(size_t textBytes, bool bWide)
{
    return (bWide ? kWideRecordOverhead : kNarrowRecordOverhead) + textBytes;
}

// Writes the record header and the text (textBytes bytes, terminator included) into dst, which
// must hold RecordSize(textBytes, bWide) bytes. The trailing byte(s) are zeroed. Returns the record
// size, or 0 when the size does not fit the 32-bit size field.
size_t PackRecord(uint8_t* dst, const TRecordFields& fields, const void* text, size_t textBytes,
                  bool bWide);

// Free bytes of a ring: read - write when read > write, else capacity - write + read.
constexpr uint32_t RingFreeSpace(uint32_t read, uint32_t write, uint32_t capacity)
{
    return read > write ? read - write : capacity - write + read;
}

// The control values of a ring as read once from the (untrusted) control block.
struct TRingState {
    uint32_t ui32Capacity = 0;
    uint32_t ui32Read = 0;
    uint32_t ui32Write = 0;
};

// Reads the control block; false when the values cannot describe a ring inside a mapping of
// mappingSize bytes (capacity 0 or larger than the data area, an offset at or past the capacity).
bool ReadRingState(const uint8_t* control, size_t mappingSize, TRingState& state);

enum class TRingWriteResult { Written, NoSpace };

// Copies a record of `size` bytes into the ring data at state.ui32Write, splitting it at the end
// of the ring, when size is strictly smaller than the free space; returns the new write offset in
// newWrite. state must come from ReadRingState.
TRingWriteResult RingWrite(uint8_t* ringData, const TRingState& state, const uint8_t* record,
                           uint32_t size, uint32_t& newWrite);

// Copies `size` bytes starting at ring offset `from` out of the ring, following the wrap.
// size and from must be below state.ui32Capacity.
void RingRead(const uint8_t* ringData, uint32_t capacity, uint32_t from, uint8_t* out, uint32_t size);

// A record decoded by a reader of the ring.
struct TDecodedRecord {
    TRecordFields fields;
    uint32_t ui32Size = 0;
    uint32_t ui32TextLength = 0;  // L, terminator included
    std::string strText;          // narrow text, or UTF-8 of the wide text, without terminator
    std::u16string wsText;        // wide text, without terminator (empty for narrow records)
};

enum class TDecodeResult { Ok, Truncated, BadSize, BadLength };

// Decodes one record from `bytes` (available bytes). Checks that the size field covers the
// header, the text and the trailing byte(s) exactly, that it does not exceed `available`, and that
// the text is terminated where L says. Never reads outside [bytes, bytes + available).
TDecodeResult DecodeRecord(const uint8_t* bytes, size_t available, TDecodedRecord& out);

const char* DecodeResultName(TDecodeResult result);

// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// Little-endian loads and stores at any alignment.
uint32_t LoadU32(const uint8_t* p);
uint64_t LoadU64(const uint8_t* p);
void StoreU32(uint8_t* p, uint32_t value);
void StoreU64(uint8_t* p, uint64_t value);

}  // namespace zyrlog
