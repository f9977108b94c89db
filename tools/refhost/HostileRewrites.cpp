#include "HostileRewrites.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace hostile {

namespace {

using H = TFrameBufferHeader;

constexpr uint32_t Overlay(size_t image, size_t member)
{
    return static_cast<uint32_t>(image + member);
}

#define ZYR_AT(field) static_cast<uint32_t>(offsetof(H, field))
#define ZYR_OVERLAY(image, member) Overlay(offsetof(H, image), offsetof(TOverlayImageInfo, member))

std::vector<TField> BuildFields()
{
    using G = TGroup;
    using K = TKind;
    std::vector<TField> fields = {
        {"iSourceWidth", ZYR_AT(iSourceWidth), K::I32, G::Sizes, false, true},
        {"iSourceHeight", ZYR_AT(iSourceHeight), K::I32, G::Sizes, false, true},
        {"iRequestedWidth", ZYR_AT(iRequestedWidth), K::I32, G::Sizes, true, true},
        {"iRequestedHeight", ZYR_AT(iRequestedHeight), K::I32, G::Sizes, true, true},
        {"iImageWidth", ZYR_AT(iImageWidth), K::I32, G::Sizes, false, true},
        {"iImageHeight", ZYR_AT(iImageHeight), K::I32, G::Sizes, false, true},
        {"HUDImage.width", ZYR_OVERLAY(HUDImage, width), K::U32, G::Sizes, true, true},
        {"HUDImage.height", ZYR_OVERLAY(HUDImage, height), K::U32, G::Sizes, true, true},
        {"ui32TotalSize", ZYR_AT(ui32TotalSize), K::U32, G::Sizes, false, true},
        {"ui32CustomShaderDataSize", ZYR_AT(ui32CustomShaderDataSize), K::U32, G::Sizes, false, true},
        {"iMaxWidth", ZYR_AT(iMaxWidth), K::I32, G::Capacity, true, true},
        {"iMaxHeight", ZYR_AT(iMaxHeight), K::I32, G::Capacity, true, true},
        {"ui32FrameImageStride", ZYR_AT(ui32FrameImageStride), K::Stride, G::OffsetsStrides, false, true},
        {"HUDImage.ui32Offset", ZYR_OVERLAY(HUDImage, ui32Offset), K::Offset, G::OffsetsStrides, false, true},
        {"HUDImage.ui32Stride", ZYR_OVERLAY(HUDImage, ui32Stride), K::Stride, G::OffsetsStrides, false, true},
        {"WebCamImage.ui32Offset", ZYR_OVERLAY(WebCamImage, ui32Offset), K::Offset, G::OffsetsStrides, false, true},
        {"WebCamImage.ui32Stride", ZYR_OVERLAY(WebCamImage, ui32Stride), K::Stride, G::OffsetsStrides, false, true},
        {"WebCamBackgroundImage.ui32Offset", ZYR_OVERLAY(WebCamBackgroundImage, ui32Offset), K::Offset,
         G::OffsetsStrides, false, true},
        {"WebCamBackgroundImage.ui32Stride", ZYR_OVERLAY(WebCamBackgroundImage, ui32Stride), K::Stride,
         G::OffsetsStrides, false, true},
        {"RadialMenuImage.ui32Offset", ZYR_OVERLAY(RadialMenuImage, ui32Offset), K::Offset, G::OffsetsStrides, false,
         true},
        {"ui32CustomShaderDataOffset", ZYR_AT(ui32CustomShaderDataOffset), K::Offset, G::OffsetsStrides, false, true},
        {"CaptureRegion.left", ZYR_AT(CaptureRegion.left), K::I32, G::Region, true, true},
        {"CaptureRegion.top", ZYR_AT(CaptureRegion.top), K::I32, G::Region, true, true},
        {"CaptureRegion.right", ZYR_AT(CaptureRegion.right), K::I32, G::Region, true, true},
        {"CaptureRegion.bottom", ZYR_AT(CaptureRegion.bottom), K::I32, G::Region, true, true},
        {"wszMonitorName", ZYR_AT(wszMonitorName), K::Wide, G::MonitorName, true, true},
        {"WebCamImage.x", ZYR_OVERLAY(WebCamImage, x), K::I32, G::WebCam, false, true},
        {"WebCamImage.y", ZYR_OVERLAY(WebCamImage, y), K::I32, G::WebCam, false, true},
        {"WebCamImage.width", ZYR_OVERLAY(WebCamImage, width), K::U32, G::WebCam, false, true},
        {"WebCamImage.height", ZYR_OVERLAY(WebCamImage, height), K::U32, G::WebCam, false, true},
        {"WebCamImage.fShaderParam", ZYR_OVERLAY(WebCamImage, fShaderParam), K::F32, G::WebCam, false, true},
        {"WebCamSourceRect.left", ZYR_AT(WebCamSourceRect.left), K::I32, G::WebCam, false, true},
        {"WebCamSourceRect.top", ZYR_AT(WebCamSourceRect.top), K::I32, G::WebCam, false, true},
        {"WebCamSourceRect.right", ZYR_AT(WebCamSourceRect.right), K::I32, G::WebCam, false, true},
        {"WebCamSourceRect.bottom", ZYR_AT(WebCamSourceRect.bottom), K::I32, G::WebCam, false, true},
        {"ScaledWebCamRect[2]", ZYR_AT(ScaledWebCamRect) + 8, K::I32, G::WebCam, false, true},
        {"webcamWidth", ZYR_AT(webcamWidth), K::U32, G::WebCam, true, true},
        {"webcamHeight", ZYR_AT(webcamHeight), K::U32, G::WebCam, true, true},
        {"dWebCamLeft", ZYR_AT(dWebCamLeft), K::F64, G::WebCam, true, true},
        {"dWebCamTop", ZYR_AT(dWebCamTop), K::F64, G::WebCam, true, true},
        {"dWebCamWidth", ZYR_AT(dWebCamWidth), K::F64, G::WebCam, true, true},
        {"dWebCamHeight", ZYR_AT(dWebCamHeight), K::F64, G::WebCam, true, true},
        {"WebCamVisibilityState", ZYR_AT(WebCamVisibilityState), K::U8, G::WebCam, false, true},
        {"WebCamDisplayMode", ZYR_AT(WebCamDisplayMode), K::I32, G::WebCam, false, true},
        {"ui32WebCamFormatCount", ZYR_AT(ui32WebCamFormatCount), K::U32, G::WebCam, true, true},
        {"bAutoSelectWebCamFormat", ZYR_AT(bAutoSelectWebCamFormat), K::U8, G::WebCam, true, true},
        {"WebCamFormats[0].ui32Width", ZYR_AT(WebCamFormats) + 12, K::U32, G::WebCam, true, true},
        {"WebCamFormats[0].ui32Height", ZYR_AT(WebCamFormats) + 8, K::U32, G::WebCam, true, true},
        {"WebCamFormats[99].ui32Width", ZYR_AT(WebCamFormats) + 99 * sizeof(TWebCamFormatEntry) + 12, K::U32,
         G::WebCam, true, true},
        {"iFrameSource", ZYR_AT(iFrameSource), K::I32, G::WebCam, false, true},
        {"UseChromaKeying", ZYR_AT(UseChromaKeying), K::U8, G::WebCam, false, true},
        {"bUseWebCamBackground", ZYR_AT(bUseWebCamBackground), K::U8, G::WebCam, false, true},
        {"wszCursorEventName", ZYR_AT(wszCursorEventName), K::Wide, G::Cursor, false, true},
        {"wszCursorMutexName", ZYR_AT(wszCursorMutexName), K::Wide, G::Cursor, false, true},
        {"ui32CursorColorBitmapOffset", ZYR_AT(ui32CursorColorBitmapOffset), K::Offset, G::Cursor, false, true},
        {"ui32CursorMaskBitmapOffset", ZYR_AT(ui32CursorMaskBitmapOffset), K::Offset, G::Cursor, false, true},
        {"ui64CursorHandle", ZYR_AT(ui64CursorHandle), K::U64, G::Cursor, false, false},
        {"iCursorX", ZYR_AT(iCursorX), K::I32, G::Cursor, false, false},
        {"iCursorHotspotX", ZYR_AT(iCursorHotspotX), K::I32, G::Cursor, false, false},
        {"iCursorHotspotY", ZYR_AT(iCursorHotspotY), K::I32, G::Cursor, false, false},
        {"bCursorColorBitmap", ZYR_AT(bCursorColorBitmap), K::U8, G::Cursor, false, false},
        {"bCursorMaskBitmap", ZYR_AT(bCursorMaskBitmap), K::U8, G::Cursor, false, false},
        {"colour.biWidth", 4, K::CursorDib, G::Cursor, false, false},
        {"colour.biHeight", 8, K::CursorDib, G::Cursor, false, false},
        {"colour.biBitCount", 12, K::CursorDib, G::Cursor, false, false},  // with biPlanes
        {"colour.biClrUsed", 32, K::CursorDib, G::Cursor, false, false},
        {"mask.biHeight", 8, K::CursorDib, G::Cursor, false, false, true},
        {"mask.biBitCount", 12, K::CursorDib, G::Cursor, false, false, true},
        {"bStretch", ZYR_AT(bStretch), K::U8, G::Flags, true, true},
        {"bDontMirrorFrames", ZYR_AT(bDontMirrorFrames), K::U8, G::Flags, false, true},
        {"bCaptureEnabled", ZYR_AT(bCaptureEnabled), K::U8, G::Flags, false, true},
        {"bDrawMouseCursor", ZYR_AT(bDrawMouseCursor), K::U8, G::Flags, false, true},
        {"bSuppressOverlayCommand", ZYR_AT(bSuppressOverlayCommand), K::U8, G::Flags, false, true},
        {"bUseCustomShaderData", ZYR_AT(bUseCustomShaderData), K::U8, G::Flags, true, true},
        {"ui32CaptureMethod", ZYR_AT(ui32CaptureMethod), K::U32, G::Flags, true, true},
        {"iSingleFrameState", ZYR_AT(iSingleFrameState), K::I32, G::Requests, false, true},
    };
    for (uint32_t slot = 0; slot < kFrameSlotCount; ++slot) {
        static const char* const offsetNames[] = {"ui32FrameImageOffsets[0]", "ui32FrameImageOffsets[1]",
                                                  "ui32FrameImageOffsets[2]", "ui32FrameImageOffsets[3]",
                                                  "ui32FrameImageOffsets[4]", "ui32FrameImageOffsets[5]"};
        static const char* const handleNames[] = {"ui64SharedTextureHandles[0]", "ui64SharedTextureHandles[1]",
                                                  "ui64SharedTextureHandles[2]", "ui64SharedTextureHandles[3]",
                                                  "ui64SharedTextureHandles[4]", "ui64SharedTextureHandles[5]"};
        static const char* const requestNames[] = {"bFrameRequested[0]", "bFrameRequested[1]", "bFrameRequested[2]",
                                                   "bFrameRequested[3]", "bFrameRequested[4]", "bFrameRequested[5]"};
        fields.push_back({offsetNames[slot], ZYR_AT(ui32FrameImageOffsets) + 4 * slot, K::Offset, G::OffsetsStrides,
                          false, true});
        fields.push_back({handleNames[slot], ZYR_AT(ui64SharedTextureHandles) + 8 * slot, K::U64, G::SharedTextures,
                          false, true});
        fields.push_back({requestNames[slot], ZYR_AT(bFrameRequested) + slot, K::U8, G::Requests, false, false});
    }
    return fields;
}

#undef ZYR_AT
#undef ZYR_OVERLAY

uint32_t FieldSize(TKind kind)
{
    switch (kind) {
    case TKind::U8:
        return 1;
    case TKind::U64:
    case TKind::F64:
        return 8;
    case TKind::Wide:
        return static_cast<uint32_t>(kWideFieldUnits * sizeof(char16_t));
    default:
        return 4;
    }
}

bool IsSigned(TKind kind)
{
    return kind == TKind::I32 || kind == TKind::CursorDib;
}

template <class T>
std::vector<uint8_t> Bytes(T value)
{
    std::vector<uint8_t> bytes(sizeof(T));
    std::memcpy(bytes.data(), &value, sizeof(T));
    return bytes;
}

int64_t SaneInteger(const TField& field, const TFrameBufferHeader& sane)
{
    const uint8_t* const pBytes = reinterpret_cast<const uint8_t*>(&sane) + field.ui32Offset;
    if (field.kind == TKind::CursorDib) {
        return 32;  // the pictures are 32 x 32
    }
    if (field.kind == TKind::U8) {
        return *pBytes;
    }
    if (field.kind == TKind::U64) {
        uint64_t value = 0;
        std::memcpy(&value, pBytes, 8);
        return static_cast<int64_t>(value & 0xFFFFFFFFu);
    }
    uint32_t value = 0;
    std::memcpy(&value, pBytes, 4);
    return IsSigned(field.kind) ? int64_t{static_cast<int32_t>(value)} : int64_t{value};
}

std::string FormatDouble(double value)
{
    char text[40];
    std::snprintf(text, sizeof(text), "%.17g", value);
    return text;
}

}  // namespace

uint64_t TRandom::Next()
{
    uint64_t z = (ui64State += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

uint32_t TRandom::Below(uint32_t n)
{
    return n == 0 ? 0 : static_cast<uint32_t>(Next() % n);
}

const char* GroupName(TGroup group)
{
    static const char* const names[kGroupCount] = {"sizes",   "capacity", "offsets-strides", "region",   "monitor-name",
                                                   "webcam",  "cursor",   "shared-textures", "flags",    "requests"};
    const auto index = static_cast<uint32_t>(group);
    return index < kGroupCount ? names[index] : "unknown";
}

const std::vector<TField>& Fields()
{
    static const std::vector<TField> fields = BuildFields();
    return fields;
}

bool Apply(const TFrameBufferView& view, const TRewrite& rewrite)
{
    if (rewrite.ui32Field >= Fields().size()) {
        return false;
    }
    const TField& field = Fields()[rewrite.ui32Field];
    if (rewrite.vecBytes.size() != FieldSize(field.kind)) {
        return false;
    }
    uint8_t* pTarget = nullptr;
    if (field.kind == TKind::CursorDib) {
        const TAreaView block = field.bMaskBlock ? view.CursorMaskBitmap() : view.CursorColorBitmap();
        pTarget = block.IsValid() && field.ui32Offset + rewrite.vecBytes.size() <= block.ui64Size
                      ? block.pData + field.ui32Offset
                      : nullptr;
    } else if (TFrameBufferHeader* pHeader = view.Header()) {
        pTarget = field.ui32Offset + rewrite.vecBytes.size() <= sizeof(TFrameBufferHeader)
                      ? reinterpret_cast<uint8_t*>(pHeader) + field.ui32Offset
                      : nullptr;
    }
    if (pTarget == nullptr) {
        return false;
    }
    std::memcpy(pTarget, rewrite.vecBytes.data(), rewrite.vecBytes.size());
    return true;
}

bool Restore(const TFrameBufferView& view, const TFrameBufferHeader& sane, bool bStartUpOnly)
{
    TFrameBufferHeader* const pHeader = view.Header();
    if (pHeader == nullptr) {
        return false;
    }
    for (const TField& field : Fields()) {
        if (!field.bRestorable || field.kind == TKind::CursorDib || (bStartUpOnly && !field.bStartUp)) {
            continue;
        }
        std::memcpy(reinterpret_cast<uint8_t*>(pHeader) + field.ui32Offset,
                    reinterpret_cast<const uint8_t*>(&sane) + field.ui32Offset, FieldSize(field.kind));
    }
    return true;
}

TRewriter::TRewriter(uint64_t ui64Seed, uint64_t ui64Size) : random(ui64Seed), ui64SectionSize(ui64Size) {}

uint32_t TRewriter::PickField(bool bStartUpOnly)
{
    const std::vector<TField>& fields = Fields();
    for (;;) {
        // A group first, so that groups with few fields come up as often as the big ones.
        const auto group = static_cast<TGroup>(random.Below(kGroupCount));
        uint32_t count = 0;
        for (const TField& field : fields) {
            count += field.group == group && (!bStartUpOnly || field.bStartUp) ? 1 : 0;
        }
        if (count == 0) {
            continue;
        }
        uint32_t pick = random.Below(count);
        for (uint32_t i = 0; i < fields.size(); ++i) {
            if (fields[i].group == group && (!bStartUpOnly || fields[i].bStartUp) && pick-- == 0) {
                return i;
            }
        }
    }
}

TRewrite TRewriter::Next(const TFrameBufferHeader& sane, bool bStartUpOnly)
{
    return Make(PickField(bStartUpOnly), sane);
}

// A third each: near the sane value, a boundary, anything.
int64_t TRewriter::IntegerValue(const TField& field, int64_t saneValue)
{
    const uint32_t category = random.Below(3);
    const int64_t section = static_cast<int64_t>(ui64SectionSize);
    if (field.kind == TKind::Offset) {
        const int64_t values[] = {0, 1, kFrameBufferHeaderSize - 1, kFrameBufferHeaderSize, kFirstImageAreaOffset,
                                  section - 64, section - 1, section, section + 64, 0xFFFFFFFFll, 0xFFFFFFFCll,
                                  0x80000000ll, section + random.Below(1u << 28)};
        if (category == 0) {
            return random.OneIn(2) ? saneValue + 64 * (static_cast<int64_t>(random.Below(9)) - 4)
                                   : int64_t{kFirstImageAreaOffset} + 64 * int64_t{random.Below(static_cast<uint32_t>(section / 64))};
        }
        return category == 1 ? values[random.Below(sizeof(values) / sizeof(values[0]))] : int64_t{random.Below(~0u)};
    }
    if (field.kind == TKind::U8) {
        const int64_t values[] = {0, 1, 2, 0xFF};
        return category == 2 ? int64_t{random.Below(256)} : values[random.Below(4)];
    }
    if (category == 0) {
        const int64_t delta = field.kind == TKind::Stride ? 64 * (static_cast<int64_t>(random.Below(9)) - 4)
                                                          : static_cast<int64_t>(random.Below(129)) - 64;
        return random.OneIn(2) ? saneValue + delta : int64_t{random.Below(4097)};
    }
    if (category == 1) {
        const int64_t values[] = {0, 1, -1, 8, 4, 63, 65536, -65536, 0x7FFFFFFF, -0x7FFFFFFF - 1, 0x7FFFFFFE,
                                  0x40000000, 0xFFFFFFFFll, 0x80000000ll, section, section / 4};
        return values[random.Below(sizeof(values) / sizeof(values[0]))];
    }
    return static_cast<int64_t>(random.Next());
}

double TRewriter::FloatValue()
{
    const uint32_t category = random.Below(3);
    if (category == 0) {
        return static_cast<double>(random.Below(1001)) / 1000.0;
    }
    if (category == 1) {
        const double values[] = {0.0,
                                 -0.0,
                                 1.0,
                                 -1.0,
                                 0.5,
                                 std::numeric_limits<double>::quiet_NaN(),
                                 std::numeric_limits<double>::infinity(),
                                 -std::numeric_limits<double>::infinity(),
                                 std::numeric_limits<double>::max(),
                                 std::numeric_limits<double>::denorm_min(),
                                 1e30,
                                 -1e30,
                                 4294967296.0};
        return values[random.Below(sizeof(values) / sizeof(values[0]))];
    }
    const uint64_t bits = random.Next();
    double value = 0;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
}

std::u16string TRewriter::WideValue(const std::u16string& sane, bool* pUnterminated)
{
    *pUnterminated = false;
    switch (random.Below(5)) {
    case 0:
        return sane;
    case 1:
        return random.OneIn(2) ? u"\\\\.\\DISPLAY1" : u"\\\\.\\DISPLAY7";
    case 2:
        return u"";
    case 3: {
        // All 260 units non-zero: no terminator anywhere in the field.
        *pUnterminated = true;
        std::u16string text(kWideFieldUnits, u'A');
        for (size_t i = 0; i < text.size(); ++i) {
            text[i] = static_cast<char16_t>(random.OneIn(4) ? 1 + random.Below(0xFFFF) : u'A' + i % 26);
        }
        return text;
    }
    default: {
        // Anything, lone surrogates included, terminated.
        std::u16string text(random.Below(kWideFieldUnits), u'x');
        for (char16_t& unit : text) {
            unit = static_cast<char16_t>(1 + random.Below(0xFFFF));
        }
        return text;
    }
    }
}

TRewrite TRewriter::Make(uint32_t fieldIndex, const TFrameBufferHeader& sane)
{
    const TField& field = Fields()[fieldIndex];
    TRewrite rewrite;
    rewrite.ui32Field = fieldIndex;
    if (field.kind == TKind::Wide) {
        std::u16string saneText(reinterpret_cast<const char16_t*>(reinterpret_cast<const uint8_t*>(&sane) + field.ui32Offset),
                                kWideFieldUnits);
        saneText.resize(std::min(saneText.find(u'\0'), saneText.size()));
        bool bUnterminated = false;
        const std::u16string text = WideValue(saneText, &bUnterminated);
        rewrite.vecBytes.assign(kWideFieldUnits * sizeof(char16_t), 0);
        std::memcpy(rewrite.vecBytes.data(), text.data(), std::min(text.size(), kWideFieldUnits) * sizeof(char16_t));
        rewrite.strValue = bUnterminated ? "unterminated" : "wide-length-" + std::to_string(text.size());
        return rewrite;
    }
    if (field.kind == TKind::F32 || field.kind == TKind::F64) {
        const double value = FloatValue();
        if (field.kind == TKind::F32) {
            rewrite.vecBytes = Bytes(static_cast<float>(value));
            rewrite.strValue = FormatDouble(static_cast<float>(value));
        } else {
            rewrite.vecBytes = Bytes(value);
            rewrite.strValue = FormatDouble(value);
        }
        return rewrite;
    }
    const int64_t value = IntegerValue(field, SaneInteger(field, sane));
    rewrite.bInteger = true;
    if (field.kind == TKind::U64) {
        const uint64_t values[] = {0, static_cast<uint64_t>(value), ~0ull, kStandInSharedHandleBase + random.Below(6),
                                   random.Next()};
        const uint64_t handle = values[random.Below(5)];
        rewrite.vecBytes = Bytes(handle);
        rewrite.strValue = std::to_string(handle);
    } else if (field.kind == TKind::U8) {
        rewrite.vecBytes = Bytes(static_cast<uint8_t>(value));
        rewrite.strValue = std::to_string(static_cast<uint8_t>(value));
    } else if (IsSigned(field.kind)) {
        rewrite.vecBytes = Bytes(static_cast<int32_t>(static_cast<uint32_t>(value)));
        rewrite.strValue = std::to_string(static_cast<int32_t>(static_cast<uint32_t>(value)));
    } else {
        rewrite.vecBytes = Bytes(static_cast<uint32_t>(value));
        rewrite.strValue = std::to_string(static_cast<uint32_t>(value));
    }
    return rewrite;
}

}  // namespace hostile
