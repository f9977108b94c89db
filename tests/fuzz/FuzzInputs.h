// How the fuzz targets read their input bytes, shared by the targets and the seed corpus writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace fuzzinput {

// fuzz_log_directory: byte 0 picks one of these module paths (modulo the count); the remaining
// bytes are the directory view. The module's directory is derived from the path as the client does.
constexpr std::u16string_view kModulePaths[] = {
    u"C:\\Apps\\tool\\ZYRFullscreenCapturer.exe",
    u"c:\\apps\\TOOL\\zyrfullscreencapturer.EXE",
    u"D:\\\u00C4pps\\x.exe",
    u"capturer.exe",
    u"",
};
constexpr size_t kModulePathCount = sizeof kModulePaths / sizeof kModulePaths[0];

// fuzz_log_record: byte 0 (modulo 3) picks what the remaining bytes are.
enum RecordMode : uint8_t {
    // The bytes are one record, decoded as a server would.
    kDecode = 0,
    // 12 bytes of control block (capacity, read, write), then the ring data: the mapping is the
    // 12,022-byte control block plus exactly these data bytes, walked from read to write.
    kRingWalk = 1,
    // Byte 1 sets the ring capacity (48 + byte); each later byte is one client action:
    // 0xFF drains the ring, bit 7 set submits a wide text of (byte & 0x3F) units, else a narrow
    // text of (byte & 0x7F) characters. Everything drained must equal what was accepted.
    kConversation = 2,
};
constexpr uint8_t kDrain = 0xFF;
constexpr uint32_t kMinConversationCapacity = 48;

}  // namespace fuzzinput
