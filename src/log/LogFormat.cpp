#include "log/LogFormat.h"

#include <cstring>

namespace zyrlog {

uint32_t LoadU32(const uint8_t* p)
{
    uint32_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

uint64_t LoadU64(const uint8_t* p)
{
    uint64_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

void StoreU32(uint8_t* p, uint32_t value)
{
    std::memcpy(p, &value, sizeof value);
}

void StoreU64(uint8_t* p, uint64_t value)
{
    std::memcpy(p, &value, sizeof value);
}

uint64_t CounterToMilliseconds(uint64_t counter, uint64_t frequency)
{
    if (frequency == 0) {
        return 0;
    }
    const uint64_t q = counter / frequency;
    const uint64_t r = counter % frequency;
    return (q * 10000000ull + (r * 10000000ull) / frequency) / 10000ull;
}

size_t PackRecord(uint8_t* dst, const TRecordFields& fields, const void* text, size_t textBytes,
                  bool bWide)
{
    const size_t size = RecordSize(textBytes, bWide);
    if (size > UINT32_MAX) {
        return 0;
    }
    StoreU32(dst + kRecordSizeOffset, static_cast<uint32_t>(size));
    StoreU32(dst + kRecordTypeOffset, fields.ui32Type);
    StoreU32(dst + kRecordPidOffset, fields.ui32ProcessId);
    StoreU32(dst + kRecordModuleIdOffset, fields.ui32ModuleId);
    StoreU32(dst + kRecordTidOffset, fields.ui32ThreadId);
    StoreU64(dst + kRecordTimestampOffset, fields.ui64Timestamp);
    dst[kRecordStopSeenOffset] = fields.bStopSeen;
    StoreU32(dst + kRecordTextLengthOffset, static_cast<uint32_t>(textBytes));
    std::memcpy(dst + kRecordTextOffset, text, textBytes);
    std::memset(dst + kRecordTextOffset + textBytes, 0, bWide ? 2 : 1);
    return size;
}

bool ReadRingState(const uint8_t* control, size_t mappingSize, TRingState& state)
{
    if (mappingSize <= kRingControlSize) {
        return false;
    }
    state.ui32Capacity = LoadU32(control + kRingCapacityOffset);
    state.ui32Read = LoadU32(control + kRingReadOffset);
    state.ui32Write = LoadU32(control + kRingWriteOffset);
    return state.ui32Capacity != 0 && state.ui32Capacity <= mappingSize - kRingControlSize &&
           state.ui32Read < state.ui32Capacity && state.ui32Write < state.ui32Capacity;
}

TRingWriteResult RingWrite(uint8_t* ringData, const TRingState& state, const uint8_t* record,
                           uint32_t size, uint32_t& newWrite)
{
    const uint32_t capacity = state.ui32Capacity;
    const uint32_t write = state.ui32Write;
    if (size >= RingFreeSpace(state.ui32Read, write, capacity)) {
        return TRingWriteResult::NoSpace;
    }
    const uint32_t tillEnd = capacity - write;
    const uint32_t first = size < tillEnd ? size : tillEnd;
    std::memcpy(ringData + write, record, first);
    if (first < size) {
        std::memcpy(ringData, record + first, size - first);
        newWrite = size - first;
    } else {
        newWrite = write + size;
        if (newWrite == capacity) {
            newWrite = 0;
        }
    }
    return TRingWriteResult::Written;
}

void RingRead(const uint8_t* ringData, uint32_t capacity, uint32_t from, uint8_t* out, uint32_t size)
{
    const uint32_t tillEnd = capacity - from;
    const uint32_t first = size < tillEnd ? size : tillEnd;
    std::memcpy(out, ringData + from, first);
    if (first < size) {
        std::memcpy(out + first, ringData, size - first);
    }
}

std::string Utf16ToUtf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

TDecodeResult DecodeRecord(const uint8_t* bytes, size_t available, TDecodedRecord& out)
{
    if (available < kNarrowRecordOverhead) {
        return TDecodeResult::Truncated;
    }
    const uint32_t size = LoadU32(bytes + kRecordSizeOffset);
    const uint32_t type = LoadU32(bytes + kRecordTypeOffset);
    const bool bWide = IsWideRecordType(type);
    const size_t overhead = bWide ? kWideRecordOverhead : kNarrowRecordOverhead;
    if (size < overhead) {
        return TDecodeResult::BadSize;
    }
    if (size > available) {
        return TDecodeResult::Truncated;
    }
    const uint32_t length = LoadU32(bytes + kRecordTextLengthOffset);
    const size_t unit = bWide ? 2 : 1;
    if (static_cast<uint64_t>(length) + overhead != size || length < unit || length % unit != 0) {
        return TDecodeResult::BadLength;
    }
    const uint8_t* text = bytes + kRecordTextOffset;
    out.ui32Size = size;
    out.ui32TextLength = length;
    out.fields.ui32Type = type;
    out.fields.ui32ProcessId = LoadU32(bytes + kRecordPidOffset);
    out.fields.ui32ModuleId = LoadU32(bytes + kRecordModuleIdOffset);
    out.fields.ui32ThreadId = LoadU32(bytes + kRecordTidOffset);
    out.fields.ui64Timestamp = LoadU64(bytes + kRecordTimestampOffset);
    out.fields.bStopSeen = bytes[kRecordStopSeenOffset];
    if (bWide) {
        const size_t units = length / 2 - 1;
        if (text[length - 2] != 0 || text[length - 1] != 0) {
            return TDecodeResult::BadLength;
        }
        out.wsText.resize(units);
        for (size_t i = 0; i < units; ++i) {
            out.wsText[i] = static_cast<char16_t>(text[2 * i] | (text[2 * i + 1] << 8));
        }
        out.strText = Utf16ToUtf8(out.wsText);
    } else {
        if (text[length - 1] != 0) {
            return TDecodeResult::BadLength;
        }
        out.wsText.clear();
        out.strText.assign(reinterpret_cast<const char*>(text), length - 1);
    }
    return TDecodeResult::Ok;
}

const char* DecodeResultName(TDecodeResult result)
{
    switch (result) {
    case TDecodeResult::Ok: return "Ok";
    case TDecodeResult::Truncated: return "Truncated";
    case TDecodeResult::BadSize: return "BadSize";
    case TDecodeResult::BadLength: return "BadLength";
    }
    return "Unknown";
}

}  // namespace zyrlog
