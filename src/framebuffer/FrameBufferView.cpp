#include "framebuffer/FrameBufferView.h"

#include <limits>

namespace {

constexpr int64_t kU32Max = std::numeric_limits<uint32_t>::max();

}  // namespace

TFrameBufferView::TFrameBufferView(uint8_t* pViewBase, uint64_t viewSize)
    : pBase(pViewBase), ui64ViewSize(pViewBase != nullptr ? viewSize : 0)
{
}

TFrameBufferHeader* TFrameBufferView::Header() const
{
    if (pBase == nullptr || ui64ViewSize < sizeof(TFrameBufferHeader)) {
        return nullptr;
    }
    return reinterpret_cast<TFrameBufferHeader*>(pBase);
}

uint8_t* TFrameBufferView::Area(uint64_t offset, uint64_t size) const
{
    if (pBase == nullptr || size == 0 || offset < kFirstImageAreaOffset) {
        return nullptr;
    }
    // offset + size <= ui64ViewSize, written so that it cannot wrap.
    if (size > ui64ViewSize || offset > ui64ViewSize - size) {
        return nullptr;
    }
    return pBase + offset;
}

TAreaView TFrameBufferView::ImageArea(uint32_t offset, int64_t width, uint32_t stride, int64_t rows) const
{
    if (width < 0 || rows < 0 || rows > kU32Max || width * 4 > int64_t{stride}) {
        return {};
    }
    const uint64_t size = static_cast<uint64_t>(rows) * stride;  // below 2^64
    uint8_t* const pData = Area(offset, size);
    if (pData == nullptr) {
        return {};
    }
    return TAreaView{pData, static_cast<uint32_t>(width), stride, static_cast<uint32_t>(rows), size, offset};
}

TAreaView TFrameBufferView::Block(uint32_t offset, uint32_t size) const
{
    uint8_t* const pData = Area(offset, size);
    if (pData == nullptr) {
        return {};
    }
    return TAreaView{pData, 0, size, 1, size, offset};
}

TAreaView TFrameBufferView::FrameSlot(size_t slot, TFrameSlotFields* pFields) const
{
    const TFrameBufferHeader* const header = Header();
    TFrameSlotFields fields;
    if (header != nullptr && slot < kFrameSlotCount) {
        fields = TFrameSlotFields{header->ui32FrameImageOffsets[slot], header->ui32FrameImageStride,
                                  header->iImageWidth, header->iImageHeight};
    }
    if (pFields != nullptr) {
        *pFields = fields;
    }
    if (header == nullptr || slot >= kFrameSlotCount) {
        return {};
    }
    return ImageArea(fields.ui32Offset, fields.iWidth, fields.ui32Stride, fields.iHeight);
}

TAreaView TFrameBufferView::WebCamArea() const
{
    const TFrameBufferHeader* const header = Header();
    if (header == nullptr) {
        return {};
    }
    const THooksRect source = header->WebCamSourceRect;
    const uint32_t offset = header->WebCamImage.ui32Offset;
    const uint32_t stride = header->WebCamImage.ui32Stride;
    return ImageArea(offset, int64_t{source.right} - source.left, stride, int64_t{source.bottom} - source.top);
}

TAreaView TFrameBufferView::WebCamBackgroundArea() const
{
    const TFrameBufferHeader* const header = Header();
    if (header == nullptr) {
        return {};
    }
    const THooksRect source = header->WebCamSourceRect;
    const uint32_t offset = header->WebCamBackgroundImage.ui32Offset;
    const uint32_t stride = header->WebCamBackgroundImage.ui32Stride;
    return ImageArea(offset, int64_t{source.right} - source.left, stride, int64_t{source.bottom} - source.top);
}

TAreaView TFrameBufferView::CursorColorBitmap() const
{
    const TFrameBufferHeader* const header = Header();
    return header == nullptr ? TAreaView{} : Block(header->ui32CursorColorBitmapOffset, kCursorBitmapAreaSize);
}

TAreaView TFrameBufferView::CursorMaskBitmap() const
{
    const TFrameBufferHeader* const header = Header();
    return header == nullptr ? TAreaView{} : Block(header->ui32CursorMaskBitmapOffset, kCursorBitmapAreaSize);
}
