// Layouts of arbitrary settings: no sanitizer report; a refused layout writes nothing; an accepted
// one puts every area, contiguous and 64-byte aligned, inside [first image area, ui32TotalSize],
// touches nothing but its own fields, and the area accessor never hands out memory outside a view.
#include "FuzzCheck.h"
#include "framebuffer/FrameBufferView.h"
#include "framebuffer/TFrameBufferHeader.h"
#include "log/LogNativeSink.h"

#include "HeaderLayoutInput.h"
#include "LayoutTestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

using namespace fuzzinput;

namespace {

struct Area {
    uint64_t offset;
    uint64_t size;
};

uint64_t Align64(uint64_t n)
{
    return (n + 63) / 64 * 64;
}

int64_t WebcamRows(const TFrameBufferHeader& h)
{
    return int64_t{h.WebCamSourceRect.bottom} - h.WebCamSourceRect.top;
}

bool BackgroundLaidOut(const TFrameBufferHeader& h)
{
    return h.UseChromaKeying != 0 && h.bUseWebCamBackground != 0 && h.WebCamVisibilityState == 0 &&
           WebcamRows(h) > 0 && h.WebCamImage.ui32Stride != 0;
}

// The areas in their documented order, sized from the header as the layout left it.
std::vector<Area> AreasOf(const TFrameBufferHeader& h)
{
    std::vector<Area> areas;
    FUZZ_CHECK(h.iImageWidth >= 0 && h.iImageHeight >= 0);
    FUZZ_CHECK(h.ui32FrameImageStride == Align64(uint64_t(h.iImageWidth) * 4));
    for (size_t i = 0; i < kFrameSlotCount; ++i) {
        areas.push_back({h.ui32FrameImageOffsets[i], uint64_t(h.iImageHeight) * h.ui32FrameImageStride});
    }
    FUZZ_CHECK(h.HUDImage.ui32Stride == Align64(uint64_t(h.HUDImage.width) * 4));
    areas.push_back({h.HUDImage.ui32Offset, uint64_t(h.HUDImage.height) * h.HUDImage.ui32Stride});
    areas.push_back({h.RadialMenuImage.ui32Offset, kRadialMenuAreaSize});
    const int64_t rows = WebcamRows(h);
    FUZZ_CHECK(rows >= 0 || h.WebCamImage.ui32Stride == 0);
    // A leftover stride that is not a multiple of 64 has its area rounded up.
    const uint64_t webcam = rows > 0 ? Align64(uint64_t(rows) * h.WebCamImage.ui32Stride) : 0;
    areas.push_back({h.WebCamImage.ui32Offset, webcam});
    if (BackgroundLaidOut(h)) {
        FUZZ_CHECK(h.WebCamBackgroundImage.ui32Stride == h.WebCamImage.ui32Stride);
        areas.push_back({h.WebCamBackgroundImage.ui32Offset, webcam});
    }
    if (h.bUseCustomShaderData != 0) {
        FUZZ_CHECK(h.ui32CustomShaderDataSize == kCustomShaderDataSize);
        areas.push_back({h.ui32CustomShaderDataOffset, kCustomShaderDataSize});
    }
    areas.push_back({h.ui32CursorColorBitmapOffset, kCursorBitmapAreaSize});
    areas.push_back({h.ui32CursorMaskBitmapOffset, kCursorBitmapAreaSize});
    return areas;
}

// The header's byte ranges outside the fields a layout may write, computed once.
std::vector<Area> PreservedRanges()
{
    const std::vector<bool> writable = layouttest::LayoutWritableBytes();
    std::vector<Area> ranges;
    for (size_t i = 0; i < writable.size();) {
        size_t end = i;
        while (end < writable.size() && writable[end] == writable[i]) {
            ++end;
        }
        if (!writable[i]) {
            ranges.push_back({i, end - i});
        }
        i = end;
    }
    return ranges;
}

void CheckAcceptedLayout(const TFrameBufferHeader& h, const std::vector<uint8_t>& before, uint8_t visibilityBefore)
{
    uint64_t end = kFirstImageAreaOffset;
    for (const Area& area : AreasOf(h)) {
        FUZZ_CHECK(area.offset == end);
        FUZZ_CHECK(area.offset % 64 == 0);
        end = area.offset + area.size;
        FUZZ_CHECK(end <= h.ui32TotalSize);
    }
    FUZZ_CHECK(end == h.ui32TotalSize);
    static const std::vector<Area> preserved = PreservedRanges();
    const uint8_t* const after = reinterpret_cast<const uint8_t*>(&h);
    for (const Area& range : preserved) {
        FUZZ_CHECK(std::memcmp(after + range.offset, before.data() + range.offset, range.size) == 0);
    }
    if (visibilityBefore == 0 && h.WebCamVisibilityState == 0) {
        // A visible webcam lies inside the source frame and uses part of its picture.
        FUZZ_CHECK(h.WebCamImage.width > 0 && h.WebCamImage.height > 0 && h.WebCamImage.x >= 0);
        FUZZ_CHECK(int64_t{h.WebCamImage.x} + h.WebCamImage.width <= h.iSourceWidth);
        FUZZ_CHECK(int64_t{h.WebCamImage.y} + h.WebCamImage.height <= h.iSourceHeight);
        const THooksRect s = h.WebCamSourceRect;
        FUZZ_CHECK(s.left == 0 && s.top == 0 && s.right > 0 && s.bottom > 0);
        FUZZ_CHECK(uint64_t(s.right) <= h.webcamWidth && uint64_t(s.bottom) <= h.webcamHeight);
        FUZZ_CHECK(h.WebCamImage.ui32Stride == Align64(uint64_t(s.right) * 4));
    }
}

uint64_t ViewSize(uint32_t selector, uint32_t total)
{
    const uint64_t value = selector >> 2;
    uint64_t size = 0;
    switch (selector & 3) {
    case 0: size = total; break;
    case 1: size = total > value % 4096 ? total - value % 4096 : 1; break;
    case 2: size = sizeof(TFrameBufferHeader) - 1 - value % 4096; break;
    default: size = value; break;
    }
    if (size > kMaxFuzzView) {
        size = kMaxFuzzView;
    }
    return size == 0 ? 1 : size;
}

void CheckArea(const TAreaView& area, const uint8_t* base, uint64_t viewSize)
{
    if (!area.IsValid()) {
        FUZZ_CHECK(area.ui64Size == 0 && area.ui32Rows == 0 && area.ui32Stride == 0);
        return;
    }
    const uint64_t offset = uint64_t(area.pData - base);
    FUZZ_CHECK(area.pData >= base + kFirstImageAreaOffset);
    FUZZ_CHECK(area.ui64Size > 0 && area.ui64Size <= viewSize - offset);
    FUZZ_CHECK(area.ui64Size == uint64_t{area.ui32Rows} * area.ui32Stride);
    FUZZ_CHECK(uint64_t{area.ui32Width} * 4 <= area.ui32Stride);
    area.pData[0] = 0xA5;  // AddressSanitizer checks both ends against the block
    area.pData[area.ui64Size - 1] = 0x5A;
}

// The header copied into a view of the chosen size; every area the accessor gives must lie in it,
// and with a view of the whole mapping every non-empty area of the layout must be there. The view
// is the tail of one heap block allocated once, so it ends exactly where the block does and
// AddressSanitizer reports any access past it, without a large allocation per input.
void CheckAccessor(const TFrameBufferHeader& h, uint32_t selector)
{
    static const std::unique_ptr<uint8_t[]> storage(new uint8_t[kMaxFuzzView]);
    const uint64_t viewSize = ViewSize(selector, h.ui32TotalSize);
    uint8_t* const base = storage.get() + (kMaxFuzzView - viewSize);
    std::memcpy(base, &h, viewSize < sizeof h ? viewSize : sizeof h);
    const TFrameBufferView view(base, viewSize);
    FUZZ_CHECK((view.Header() != nullptr) == (viewSize >= sizeof h));
    const TAreaView areas[] = {view.FrameSlot(0), view.FrameSlot(1), view.FrameSlot(2), view.FrameSlot(3),
                               view.FrameSlot(4), view.FrameSlot(5), view.FrameSlot(6), view.WebCamArea(),
                               view.WebCamBackgroundArea(), view.CursorColorBitmap(), view.CursorMaskBitmap()};
    for (const TAreaView& area : areas) {
        CheckArea(area, base, viewSize);
    }
    FUZZ_CHECK(!areas[6].IsValid());
    if (viewSize == h.ui32TotalSize) {
        FUZZ_CHECK(areas[9].IsValid() && areas[10].IsValid());
        const bool slots = h.iImageHeight > 0 && h.ui32FrameImageStride > 0;
        for (int i = 0; i < 6; ++i) {
            FUZZ_CHECK(areas[i].IsValid() == slots);
        }
    }
    uint8_t* const p = view.Area(selector, uint64_t{selector} * 3);
    FUZZ_CHECK((p != nullptr) == (selector >= kFirstImageAreaOffset && uint64_t{selector} * 4 <= viewSize));
    FUZZ_CHECK(p == nullptr || p == base + selector);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A block of exactly the header's size, allocated once and zeroed for every input.
    static const std::unique_ptr<uint8_t[]> block(new uint8_t[sizeof(TFrameBufferHeader)]);
    static std::vector<uint8_t> before(sizeof(TFrameBufferHeader));
    ClearNativeLogLines();
    std::memset(block.get(), 0, sizeof(TFrameBufferHeader));
    const THeaderLayoutInput in = ReadHeaderLayoutInput(data, size);
    TFrameBufferHeader& h = *reinterpret_cast<TFrameBufferHeader*>(block.get());
    ApplyHeaderLayoutInput(in, data, size, h);
    std::memcpy(before.data(), block.get(), before.size());
    const TLayoutResult result = h.CalculateImagesOffsets();
    if (result == TLayoutResult::Overflow) {
        FUZZ_CHECK(std::memcmp(before.data(), block.get(), before.size()) == 0);
    } else {
        FUZZ_CHECK(result == TLayoutResult::Ok);
        CheckAcceptedLayout(h, before, in.WebCamVisibilityState);
        CheckAccessor(h, in.ui32ViewSelector);
    }
    // The pure rectangle functions on whatever the header now holds.
    (void)h.CalculateGameFrameRect();
    (void)h.CalculateWebCamTargetRect(in.WebCamDisplayMode);
    (void)h.CalculateWebCamTargetRect(1);
    h.CalculateHUDPosition();
    ClearNativeLogLines();
    return 0;
}
