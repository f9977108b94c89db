// How fuzz_header_layout reads its input, shared by the target and its seed writer. A whole header
// is 198,632 bytes, mostly fields the layout never reads; the input therefore describes only the
// settings a layout reads, and the harness builds the header from them.
#pragma once

#include "framebuffer/TFrameBufferHeader.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace fuzzinput {

#pragma pack(push, 1)
// Little-endian, packed. Shorter inputs are padded with zero bytes; the bytes after the structure
// are (width, height) pairs of u32 for the webcam format entries 0, 1, ... (at most 100 are used;
// ui32FormatCount is written into the header as it is, however large).
struct THeaderLayoutInput {
    int32_t iSourceWidth;
    int32_t iSourceHeight;
    int32_t iImageWidth;
    int32_t iImageHeight;
    uint8_t bStretch;
    uint32_t ui32HUDWidth;
    uint32_t ui32HUDHeight;
    int32_t iHUDPosition;
    int32_t iHUDMargin;
    uint32_t webcamWidth;
    uint32_t webcamHeight;
    double dWebCamLeft;
    double dWebCamTop;
    double dWebCamWidth;
    double dWebCamHeight;
    uint8_t WebCamVisibilityState;
    uint8_t bAutoSelectWebCamFormat;
    uint8_t UseChromaKeying;
    uint8_t bUseWebCamBackground;
    uint8_t bUseCustomShaderData;
    THooksRect previousWebCamSourceRect;
    uint32_t ui32PreviousWebCamStride;
    uint32_t ui32FormatCount;
    int32_t WebCamDisplayMode;
    // Size of the view the accessor is tried on: bits 0-1 pick exactly ui32TotalSize (0), a few bytes
    // less (1), less than a header (2), or (bits 2-31) bytes (3); capped at kMaxFuzzView.
    uint32_t ui32ViewSelector;
};
#pragma pack(pop)

constexpr size_t kFormatPairSize = 8;
constexpr uint64_t kMaxFuzzView = 8u << 20;

// Reads the settings (zero-padded) and writes them into a zeroed header.
inline THeaderLayoutInput ReadHeaderLayoutInput(const uint8_t* data, size_t size)
{
    THeaderLayoutInput in{};
    std::memcpy(&in, data, size < sizeof in ? size : sizeof in);
    return in;
}

inline void ApplyHeaderLayoutInput(const THeaderLayoutInput& in, const uint8_t* data, size_t size,
                                   TFrameBufferHeader& h)
{
    h.iSourceWidth = in.iSourceWidth;
    h.iSourceHeight = in.iSourceHeight;
    h.iImageWidth = in.iImageWidth;
    h.iImageHeight = in.iImageHeight;
    h.bStretch = in.bStretch;
    h.HUDImage.width = in.ui32HUDWidth;
    h.HUDImage.height = in.ui32HUDHeight;
    h.iHUDPosition = in.iHUDPosition;
    h.iHUDMargin = in.iHUDMargin;
    h.webcamWidth = in.webcamWidth;
    h.webcamHeight = in.webcamHeight;
    h.dWebCamLeft = in.dWebCamLeft;
    h.dWebCamTop = in.dWebCamTop;
    h.dWebCamWidth = in.dWebCamWidth;
    h.dWebCamHeight = in.dWebCamHeight;
    h.WebCamVisibilityState = in.WebCamVisibilityState;
    h.bAutoSelectWebCamFormat = in.bAutoSelectWebCamFormat;
    h.UseChromaKeying = in.UseChromaKeying;
    h.bUseWebCamBackground = in.bUseWebCamBackground;
    h.bUseCustomShaderData = in.bUseCustomShaderData;
    h.WebCamSourceRect = in.previousWebCamSourceRect;
    h.WebCamImage.ui32Stride = in.ui32PreviousWebCamStride;
    h.ui32WebCamFormatCount = in.ui32FormatCount;
    h.WebCamDisplayMode = in.WebCamDisplayMode;
    size_t at = sizeof in;
    for (size_t k = 0; k < kWebCamFormatCapacity && at + kFormatPairSize <= size; ++k, at += kFormatPairSize) {
        uint32_t pair[2];
        std::memcpy(pair, data + at, sizeof pair);
        h.WebCamFormats[k].ui32Width = pair[0];
        h.WebCamFormats[k].ui32Height = pair[1];
    }
}

}  // namespace fuzzinput
