// Helpers of the layout tests: a header in a heap block of exactly its size (AddressSanitizer
// reports any access past it), settings setters, and the log lines of the native sink.
#pragma once

#include "framebuffer/TFrameBufferHeader.h"
#include "log/LogNativeSink.h"

#include "ExactBuffer.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace layouttest {

struct LayoutHeader {
    explicit LayoutHeader(uint8_t fill = 0) : bytes(sizeof(TFrameBufferHeader), fill) {}
    TFrameBufferHeader& h() { return *reinterpret_cast<TFrameBufferHeader*>(bytes.data()); }
    std::vector<uint8_t> Snapshot() const { return bytes.ToVector(); }
    ExactBuffer bytes;
};

inline void SetFrame(TFrameBufferHeader& h, int32_t sourceWidth, int32_t sourceHeight, int32_t imageWidth,
                     int32_t imageHeight, bool stretch = false)
{
    h.iSourceWidth = sourceWidth;
    h.iSourceHeight = sourceHeight;
    h.iImageWidth = imageWidth;
    h.iImageHeight = imageHeight;
    h.bStretch = stretch ? 1 : 0;
}

inline void SetWebcam(TFrameBufferHeader& h, uint32_t width, uint32_t height, double left, double top,
                      double fractionWidth, double fractionHeight)
{
    h.webcamWidth = width;
    h.webcamHeight = height;
    h.dWebCamLeft = left;
    h.dWebCamTop = top;
    h.dWebCamWidth = fractionWidth;
    h.dWebCamHeight = fractionHeight;
}

// Entry k of the format table: its size, and every other byte of the entry set to `pattern` so
// that a copied record can be recognised.
inline void SetFormat(TFrameBufferHeader& h, uint32_t k, uint32_t width, uint32_t height, uint8_t pattern)
{
    uint8_t* const entry = reinterpret_cast<uint8_t*>(&h) + offsetof(TFrameBufferHeader, WebCamFormats) +
                           k * sizeof(TWebCamFormatEntry);
    std::memset(entry, pattern, sizeof(TWebCamFormatEntry));
    h.WebCamFormats[k].ui32Width = width;
    h.WebCamFormats[k].ui32Height = height;
}

// The format record that selecting entry k must copy: bytes 4..1671 of the entry.
inline std::vector<uint8_t> FormatRecord(LayoutHeader& header, uint32_t k)
{
    const uint8_t* const entry = header.bytes.data() + offsetof(TFrameBufferHeader, WebCamFormats) +
                                 k * sizeof(TWebCamFormatEntry);
    return std::vector<uint8_t>(entry + 4, entry + sizeof(TWebCamFormatEntry));
}

inline std::vector<uint8_t> SelectedRecord(LayoutHeader& header)
{
    const uint8_t* const record = header.bytes.data() + offsetof(TFrameBufferHeader, SelectedWebCamFormat);
    return std::vector<uint8_t>(record, record + kWebCamFormatRecordSize);
}

// Log lines since the last ClearNativeLogLines, as (level, text).
inline std::vector<std::pair<int, std::string>> LoggedLines()
{
    std::vector<std::pair<int, std::string>> lines;
    for (const TNativeLogLine& line : NativeLogLines()) {
        lines.emplace_back(line.ui8Level, line.strText);
    }
    return lines;
}

// Offsets of the byte ranges a layout may write; every other byte of the header must survive.
inline std::vector<bool> LayoutWritableBytes()
{
    std::vector<bool> writable(sizeof(TFrameBufferHeader), false);
    auto mark = [&](size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i) {
            writable[i] = true;
        }
    };
    using H = TFrameBufferHeader;
    using I = TOverlayImageInfo;
    mark(offsetof(H, ui32TotalSize), offsetof(H, HUDImage));  // total, slot offsets, stride
    const size_t hud = offsetof(H, HUDImage);
    mark(hud + offsetof(I, x), hud + offsetof(I, width));
    mark(hud + offsetof(I, ui32Offset), hud + offsetof(I, ui32InUse));
    mark(hud + offsetof(I, bFlag), hud + offsetof(I, bFlag) + 1);
    mark(offsetof(H, WebCamBackgroundImage), offsetof(H, WebCamImage));  // copied whole
    for (const size_t image : {offsetof(H, WebCamImage), offsetof(H, RadialMenuImage)}) {
        mark(image + offsetof(I, x), image + offsetof(I, ui32InUse));
        mark(image + offsetof(I, bFlag), image + offsetof(I, bFlag) + 1);
    }
    mark(offsetof(H, ScaledWebCamRect), offsetof(H, dWebCamLeft));  // scaled, source rect, format size
    mark(offsetof(H, WebCamVisibilityState), offsetof(H, WebCamDisplayMode));
    mark(offsetof(H, SelectedWebCamFormat), offsetof(H, SelectedWebCamFormat) + kWebCamFormatRecordSize);
    mark(offsetof(H, ui32CustomShaderDataOffset), offsetof(H, ui32CustomShaderDataSize) + 4);
    mark(offsetof(H, ui32CursorColorBitmapOffset), offsetof(H, iCursorHotspotX));
    return writable;
}

}  // namespace layouttest
