// Layouts of arbitrary settings. The input holds only the fields a layout reads (kFields, in that
// order, little-endian, zero-padded when short), then a u32 view selector, then (width, height)
// u32 pairs for the webcam format entries. A refused layout writes nothing; an accepted one keeps
// every area inside [first image area, ui32TotalSize]; the area accessor never hands out memory
// outside a view of the chosen size.
#include "FuzzCheck.h"
#include "framebuffer/FrameBufferView.h"
#include "framebuffer/TFrameBufferHeader.h"
#include "log/LogNativeSink.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace {

using H = TFrameBufferHeader;
constexpr size_t kImage = offsetof(H, HUDImage);
// (size, header offset) of each field the input sets.
constexpr std::pair<size_t, size_t> kFields[] = {
    {4, offsetof(H, iSourceWidth)}, {4, offsetof(H, iSourceHeight)}, {4, offsetof(H, iImageWidth)},
    {4, offsetof(H, iImageHeight)}, {1, offsetof(H, bStretch)}, {4, kImage + offsetof(TOverlayImageInfo, width)},
    {4, kImage + offsetof(TOverlayImageInfo, height)}, {4, offsetof(H, iHUDPosition)}, {4, offsetof(H, iHUDMargin)},
    {4, offsetof(H, webcamWidth)}, {4, offsetof(H, webcamHeight)}, {32, offsetof(H, dWebCamLeft)},
    {1, offsetof(H, WebCamVisibilityState)}, {1, offsetof(H, bAutoSelectWebCamFormat)}, {3, offsetof(H, UseChromaKeying)},
    {16, offsetof(H, WebCamSourceRect)}, {4, offsetof(H, WebCamImage) + offsetof(TOverlayImageInfo, ui32Stride)},
    {4, offsetof(H, ui32WebCamFormatCount)}, {4, offsetof(H, WebCamDisplayMode)}};
constexpr size_t kSettingsSize = 110;
constexpr uint64_t kMaxView = 8u << 20;

void CheckAccessor(const H& h, uint32_t selector)
{
    // The view is the tail of one block, so AddressSanitizer sees where it ends: exactly the total
    // (selector & 3 == 0), a little less (1), less than a header (2), or selector >> 2 bytes (3).
    static const std::unique_ptr<uint8_t[]> storage(new uint8_t[kMaxView]);
    const uint64_t value = selector >> 2;
    const uint64_t sizes[] = {h.ui32TotalSize, h.ui32TotalSize - std::min<uint64_t>(h.ui32TotalSize - 1, value % 4096),
                              sizeof(H) - 1 - value % 4096, std::max<uint64_t>(value, 1)};
    const uint64_t size = std::min(sizes[selector & 3], kMaxView);
    uint8_t* const base = storage.get() + (kMaxView - size);
    std::memcpy(base, &h, std::min<uint64_t>(size, sizeof h));
    const TFrameBufferView view(base, size);
    for (const TAreaView& area : {view.FrameSlot(0), view.FrameSlot(5), view.FrameSlot(6), view.WebCamArea(),
                                  view.WebCamBackgroundArea(), view.CursorColorBitmap(), view.CursorMaskBitmap()}) {
        if (area.IsValid()) {
            FUZZ_CHECK(area.pData >= base + kFirstImageAreaOffset && area.ui64Size > 0);
            FUZZ_CHECK(area.ui64Size <= size - uint64_t(area.pData - base));
            area.pData[0] = area.pData[area.ui64Size - 1] = 0xA5;
        }
    }
    FUZZ_CHECK(size != h.ui32TotalSize || view.CursorMaskBitmap().IsValid());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static std::vector<uint8_t> block(sizeof(H));
    std::vector<uint8_t> settings(kSettingsSize);
    std::memcpy(settings.data(), data, std::min(size, kSettingsSize));
    std::fill(block.begin(), block.end(), 0);
    size_t at = 0;
    for (const auto& [fieldSize, offset] : kFields) {
        std::memcpy(block.data() + offset, settings.data() + at, fieldSize);
        at += fieldSize;
    }
    uint32_t selector = 0;
    std::memcpy(&selector, settings.data() + at, 4);
    for (size_t k = 0; k < kWebCamFormatCapacity && kSettingsSize + 8 * k + 8 <= size; ++k) {
        std::memcpy(block.data() + offsetof(H, WebCamFormats) + k * sizeof(TWebCamFormatEntry) + 8,
                    data + kSettingsSize + 8 * k + 4, 4);  // height
        std::memcpy(block.data() + offsetof(H, WebCamFormats) + k * sizeof(TWebCamFormatEntry) + 12,
                    data + kSettingsSize + 8 * k, 4);  // width
    }
    H& h = *reinterpret_cast<H*>(block.data());
    const std::vector<uint8_t> before = block;
    ClearNativeLogLines();
    if (h.CalculateImagesOffsets() != TLayoutResult::Ok) {
        FUZZ_CHECK(block == before);
        return 0;
    }
    const uint64_t slot = uint64_t(h.iImageHeight) * h.ui32FrameImageStride;
    const int64_t rows = int64_t{h.WebCamSourceRect.bottom} - h.WebCamSourceRect.top;
    FUZZ_CHECK(h.iImageHeight >= 0 && (rows >= 0 || h.WebCamImage.ui32Stride == 0));
    std::vector<std::pair<uint64_t, uint64_t>> areas = {
        {h.HUDImage.ui32Offset, uint64_t(h.HUDImage.height) * h.HUDImage.ui32Stride},
        {h.RadialMenuImage.ui32Offset, kRadialMenuAreaSize},
        {h.WebCamImage.ui32Offset, rows > 0 ? uint64_t(rows) * h.WebCamImage.ui32Stride : 0},
        {h.ui32CursorColorBitmapOffset, kCursorBitmapAreaSize},
        {h.ui32CursorMaskBitmapOffset, kCursorBitmapAreaSize}};
    for (size_t i = 0; i < kFrameSlotCount; ++i) {
        areas.push_back({h.ui32FrameImageOffsets[i], slot});
    }
    if (h.bUseCustomShaderData != 0) {
        areas.push_back({h.ui32CustomShaderDataOffset, kCustomShaderDataSize});
    }
    for (const auto& [offset, areaSize] : areas) {
        FUZZ_CHECK(offset >= kFirstImageAreaOffset && offset + areaSize <= h.ui32TotalSize);
    }
    FUZZ_CHECK(uint64_t{h.ui32CursorMaskBitmapOffset} + kCursorBitmapAreaSize == h.ui32TotalSize);
    CheckAccessor(h, selector);
    (void)h.CalculateWebCamTargetRect(h.WebCamDisplayMode);
    (void)h.CalculateWebCamTargetRect(1);
    return 0;
}
