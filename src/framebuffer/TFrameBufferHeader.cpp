#include "framebuffer/TFrameBufferHeader.h"

#include <cstring>

bool TFrameBufferHeader::IsWebCamCompositingSupported() const
{
    const int32_t iSource = iFrameSource;
    if (iSource >= 0 && iSource <= 4) {
        return true;
    }
    return iSource == 8 && ui32CaptureMethod == 0;
}

bool TFrameBufferHeader::IsWebCamVisible() const
{
    return WebCamDisplayMode != 2 && bCaptureEnabled != 0 && WebCamVisibilityState == 0;
}

float TFrameBufferHeader::GetWebCamShaderParam() const
{
    if (WebCamDisplayMode == 1) {
        return 1.0f;
    }
    if (UseChromaKeying != 0) {
        return 12.5f;
    }
    return WebCamImage.fShaderParam;
}

std::u16string ReadHeaderWideString(const TFrameBufferHeader& header, size_t fieldOffset)
{
    constexpr size_t kFieldBytes = kWideFieldUnits * sizeof(char16_t);
    if (fieldOffset > sizeof(TFrameBufferHeader) - kFieldBytes) {
        return {};
    }
    // One copy of the whole field first: the host may rewrite it while we scan.
    char16_t units[kWideFieldUnits];
    std::memcpy(units, reinterpret_cast<const uint8_t*>(&header) + fieldOffset, kFieldBytes);
    size_t length = 0;
    while (length < kWideFieldUnits && units[length] != u'\0') {
        ++length;
    }
    return std::u16string(units, length);
}

void WriteHeaderWideString(TFrameBufferHeader& header, size_t fieldOffset, std::u16string_view text)
{
    constexpr size_t kFieldBytes = kWideFieldUnits * sizeof(char16_t);
    if (fieldOffset > sizeof(TFrameBufferHeader) - kFieldBytes) {
        return;
    }
    char16_t units[kWideFieldUnits] = {};
    const size_t length = text.size() < kWideFieldUnits - 1 ? text.size() : kWideFieldUnits - 1;
    std::memcpy(units, text.data(), length * sizeof(char16_t));
    std::memcpy(reinterpret_cast<uint8_t*>(&header) + fieldOffset, units, kFieldBytes);
}
