// The header of the shared frame buffer: a byte-exact view of the first 198,632 bytes of the
// host's section. Other processes of the product read and write it at the same time, so the
// layout is an ABI: exact-width types only, no padding, every offset pinned below.
//
// Platform-free: builds natively (sanitizers, fuzzing) and with both MinGW flavours; wide strings
// are char16_t so all three builds agree on the size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Outcome of CalculateImagesOffsets. Overflow: a size, stride, product or running offset of the
// layout does not fit the 32-bit field or arithmetic it is defined in (the total would pass
// 4 GiB - 1, a stride would not fit a signed 32-bit value, or a frame image size is negative).
enum class TLayoutResult { Ok, Overflow, BeyondLimit };
const char* LayoutResultName(TLayoutResult result);

#pragma pack(push, 1)

// Right and bottom are exclusive: width = right - left.
struct THooksRect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

// Descriptor of one overlay image area.
struct TOverlayImageInfo {
    int32_t x;
    int32_t y;
    uint32_t width;
    uint32_t height;
    uint32_t ui32Offset;
    uint32_t ui32Stride;
    uint32_t ui32InUse;
    float fShaderParam;
    uint8_t bFlag;
    uint8_t reserved[3];
};

// One entry of the webcam format table. Bytes 4..1671 are the format record that is copied whole
// into SelectedWebCamFormat; inside the entry the height precedes the width.
struct TWebCamFormatEntry {
    uint32_t ui32Leading;
    uint32_t ui32RecordHead;
    uint32_t ui32Height;
    uint32_t ui32Width;
    uint8_t RecordTail[1656];
};

constexpr size_t kFrameSlotCount = 6;
constexpr size_t kWideFieldUnits = 260;
constexpr size_t kWebCamFormatCapacity = 100;
constexpr size_t kWebCamFormatRecordSize = 1668;

struct TFrameBufferHeader {
    int32_t iSourceWidth;
    int32_t iSourceHeight;
    int32_t iRequestedWidth;
    int32_t iRequestedHeight;
    uint8_t reserved16[4];
    int32_t iImageWidth;
    int32_t iImageHeight;
    uint8_t bStretch;
    uint8_t reserved29[3];
    int32_t iMaxWidth;
    int32_t iMaxHeight;
    uint8_t bFrameReady[kFrameSlotCount];
    uint8_t bFrameRequested[kFrameSlotCount];
    uint8_t reserved52[4];
    uint64_t ui64SharedTextureHandles[kFrameSlotCount];
    uint8_t reserved104[520];
    uint8_t bCaptureEnabled;
    uint8_t reserved625[31];
    uint32_t ui32FrameTimestamps[kFrameSlotCount];
    uint8_t bDontMirrorFrames;
    uint8_t reserved681[3];
    int32_t iFrameSource;
    uint8_t reserved688[26000];
    char16_t wszCaptureFrameInstanceMutexName[kWideFieldUnits];
    uint32_t ui32TotalSize;
    uint32_t ui32FrameImageOffsets[kFrameSlotCount];
    uint32_t ui32FrameImageStride;
    TOverlayImageInfo HUDImage;
    TOverlayImageInfo WebCamBackgroundImage;
    TOverlayImageInfo WebCamImage;
    TOverlayImageInfo RadialMenuImage;
    int32_t iHUDPosition;
    int32_t iHUDMargin;
    uint8_t reserved27392;
    uint8_t bSuppressOverlayCommand;
    uint8_t bOverlayStatus;
    uint8_t reserved27395[5];
    uint32_t ui32OverlayCommand;
    uint32_t ui32OverlayCommandStatus;
    int32_t ScaledWebCamRect[4];
    THooksRect WebCamSourceRect;
    uint32_t webcamWidth;
    uint32_t webcamHeight;
    double dWebCamLeft;
    double dWebCamTop;
    double dWebCamWidth;
    double dWebCamHeight;
    uint8_t reserved27480;
    uint8_t WebCamVisibilityState;
    uint8_t bWebCamHiddenFlagA;  // cleared together with WebCamVisibilityState = 1
    uint8_t bWebCamHiddenFlagB;  // cleared together with WebCamVisibilityState = 1
    int32_t WebCamDisplayMode;
    uint8_t reserved27488[8];
    uint8_t bDrawMouseCursor;
    uint8_t reserved27497[3];
    int32_t iSingleFrameState;
    uint8_t bLayoutValid;
    uint8_t bCaptureInvalidated;
    uint8_t reserved27506[526];
    TWebCamFormatEntry WebCamFormats[kWebCamFormatCapacity];
    uint32_t ui32WebCamFormatCount;
    uint8_t bAutoSelectWebCamFormat;
    uint8_t SelectedWebCamFormat[kWebCamFormatRecordSize];
    uint8_t reserved196905[23];
    uint8_t UseChromaKeying;
    uint8_t bUseWebCamBackground;
    uint8_t bUseCustomShaderData;
    uint8_t reserved196931;
    uint32_t ui32CustomShaderDataOffset;
    uint32_t ui32CustomShaderDataSize;
    uint8_t reserved196940[64];
    uint32_t ui32CaptureMethod;
    THooksRect CaptureRegion;
    char16_t wszMonitorName[kWideFieldUnits];
    uint8_t reserved197544[2];
    char16_t wszCursorEventName[kWideFieldUnits];
    char16_t wszCursorMutexName[kWideFieldUnits];
    uint8_t reserved198586[6];
    uint64_t ui64CursorHandle;
    int32_t iCursorX;
    int32_t iCursorY;
    uint32_t ui32CursorFlags;
    uint8_t bCursorColorBitmap;
    uint8_t bCursorMaskBitmap;
    uint8_t reserved198614[2];
    uint32_t ui32CursorColorBitmapOffset;
    uint32_t ui32CursorMaskBitmapOffset;
    int32_t iCursorHotspotX;
    int32_t iCursorHotspotY;

    // Lays out every image area behind the header from the header's settings (iImageWidth and
    // iImageHeight already set) and places the HUD, the radial menu and the webcam; with an enabled
    // webcam and bAutoSelectWebCamFormat it first selects the webcam format (UpdateWebcamFormat).
    // Every shared setting is read once; the whole layout is computed in 64-bit arithmetic before
    // a single field is written.
    // Ok: the layout fields are written; ui32TotalSize is the end of the last area, at most
    //     4 GiB - 1, and every area lies in [kFirstImageAreaOffset, ui32TotalSize).
    // Overflow: nothing at all was written to the header (not the offsets, not ui32TotalSize, not
    //     the webcam fields, not a selected webcam format); only the log lines were produced. The
    //     caller refuses the layout as it refuses a size beyond the capacity.
    // The caller holds the four overlay area mutexes; degenerate webcam placements (zero sizes,
    // zero source size, fractions whose products do not fit) hide the webcam instead of failing.
    TLayoutResult CalculateImagesOffsets();
    // The same; on Ok also hands out the total this layout wrote, so that the caller need not read
    // ui32TotalSize back from memory that other processes can write. Untouched on Overflow.
    TLayoutResult CalculateImagesOffsets(uint32_t& ui32LaidOutTotalSize);
    // The same, refusing a layout whose total exceeds ui64Limit (the section's size) with
    // BeyondLimit before anything is written, as Overflow does; the total it would need is handed
    // out in ui32LaidOutTotalSize all the same.
    TLayoutResult CalculateImagesOffsets(uint32_t& ui32LaidOutTotalSize, uint64_t ui64Limit);
    // Rectangle of the frame image that the source frame occupies: the whole image with bStretch
    // or equal scale factors, else centred with bars. (0, 0, 0, 0) when the source size or the
    // image size is zero or negative (without bStretch), or when a value would not fit.
    THooksRect CalculateGameFrameRect() const;
    // Sets HUDImage.x and HUDImage.y from iHUDPosition (0..8; anything else is (20, 20)), the
    // margin and the HUD size; results are clamped to 0..INT32_MAX.
    void CalculateHUDPosition();
    // Rectangle of the frame image into which the webcam is drawn for display mode `mode`
    // (1: largest rectangle of the webcam's aspect ratio centred in the game frame; otherwise
    // WebCamImage scaled per axis from the source frame). (0, 0, 0, 0) when a divisor (webcam or
    // source size) is zero or a value would not fit. Reads each field once; writes nothing.
    THooksRect CalculateWebCamTargetRect(int32_t mode) const;
    // Chooses the webcam format from WebCamFormats (at most kWebCamFormatCapacity entries, however
    // large ui32WebCamFormatCount is) that best serves the webcam's size in the frame, and writes
    // webcamWidth, webcamHeight and SelectedWebCamFormat. Pass 1: the first entry at least as large
    // as the desired size with an aspect ratio within 0.05; pass 2: the last entry within 0.05;
    // pass 3: the entry with the smallest aspect difference (the first met from the last among
    // equals). Changes nothing when webcamWidth or webcamHeight is 0, the desired size is zero or
    // does not fit 32 bits, the table is empty, or no entry's difference is below 100 (zero heights).
    void UpdateWebcamFormat();

    // True when iFrameSource is 0..4, or 8 with capture method 0 (DXGI).
    bool IsWebCamCompositingSupported() const;
    // True when the display mode is not 2, capture is enabled and the webcam is not hidden.
    bool IsWebCamVisible() const;
    // Alpha parameter of the webcam pixel shader: 1.0 in full-frame mode, 12.5 with chroma keying,
    // else WebCamImage.fShaderParam.
    float GetWebCamShaderParam() const;
};

#pragma pack(pop)

constexpr size_t kFrameBufferHeaderSize = 198632;
// The first image area starts at the first 64-byte boundary after the header.
constexpr uint32_t kFirstImageAreaOffset = 198656;
// Fixed areas of the layout: the radial menu image (450 x 450 pixels, rows of 1,856 bytes), the
// optional custom shader data and the two cursor bitmaps.
constexpr uint32_t kRadialMenuSide = 450;
constexpr uint32_t kRadialMenuStride = 1856;
constexpr uint32_t kRadialMenuAreaSize = kRadialMenuSide * kRadialMenuStride;
constexpr uint32_t kCustomShaderDataSize = 4194304;
constexpr uint32_t kCursorBitmapAreaSize = 524288;

static_assert(sizeof(THooksRect) == 16);
static_assert(sizeof(TOverlayImageInfo) == 36);
static_assert(offsetof(TOverlayImageInfo, ui32Offset) == 16);
static_assert(offsetof(TOverlayImageInfo, ui32InUse) == 24);
static_assert(offsetof(TOverlayImageInfo, fShaderParam) == 28);
static_assert(offsetof(TOverlayImageInfo, bFlag) == 32);
static_assert(sizeof(TWebCamFormatEntry) == 1672);
static_assert(offsetof(TWebCamFormatEntry, ui32Height) == 8);
static_assert(offsetof(TWebCamFormatEntry, ui32Width) == 12);
static_assert(sizeof(TFrameBufferHeader) == kFrameBufferHeaderSize);

#define ZYR_HEADER_AT(field, offset) \
    static_assert(offsetof(TFrameBufferHeader, field) == (offset), #field " moved")
ZYR_HEADER_AT(iSourceWidth, 0);
ZYR_HEADER_AT(iSourceHeight, 4);
ZYR_HEADER_AT(iRequestedWidth, 8);
ZYR_HEADER_AT(iRequestedHeight, 12);
ZYR_HEADER_AT(iImageWidth, 20);
ZYR_HEADER_AT(iImageHeight, 24);
ZYR_HEADER_AT(bStretch, 28);
ZYR_HEADER_AT(iMaxWidth, 32);
ZYR_HEADER_AT(iMaxHeight, 36);
ZYR_HEADER_AT(bFrameReady, 40);
ZYR_HEADER_AT(bFrameRequested, 46);
ZYR_HEADER_AT(ui64SharedTextureHandles, 56);
ZYR_HEADER_AT(reserved104, 104);
ZYR_HEADER_AT(bCaptureEnabled, 624);
ZYR_HEADER_AT(ui32FrameTimestamps, 656);
ZYR_HEADER_AT(bDontMirrorFrames, 680);
ZYR_HEADER_AT(iFrameSource, 684);
ZYR_HEADER_AT(reserved688, 688);
ZYR_HEADER_AT(wszCaptureFrameInstanceMutexName, 26688);
ZYR_HEADER_AT(ui32TotalSize, 27208);
ZYR_HEADER_AT(ui32FrameImageOffsets, 27212);
ZYR_HEADER_AT(ui32FrameImageStride, 27236);
ZYR_HEADER_AT(HUDImage, 27240);
ZYR_HEADER_AT(WebCamBackgroundImage, 27276);
ZYR_HEADER_AT(WebCamImage, 27312);
ZYR_HEADER_AT(RadialMenuImage, 27348);
ZYR_HEADER_AT(iHUDPosition, 27384);
ZYR_HEADER_AT(iHUDMargin, 27388);
ZYR_HEADER_AT(bSuppressOverlayCommand, 27393);
ZYR_HEADER_AT(bOverlayStatus, 27394);
ZYR_HEADER_AT(ui32OverlayCommand, 27400);
ZYR_HEADER_AT(ui32OverlayCommandStatus, 27404);
ZYR_HEADER_AT(ScaledWebCamRect, 27408);
ZYR_HEADER_AT(WebCamSourceRect, 27424);
ZYR_HEADER_AT(webcamWidth, 27440);
ZYR_HEADER_AT(webcamHeight, 27444);
ZYR_HEADER_AT(dWebCamLeft, 27448);
ZYR_HEADER_AT(dWebCamTop, 27456);
ZYR_HEADER_AT(dWebCamWidth, 27464);
ZYR_HEADER_AT(dWebCamHeight, 27472);
ZYR_HEADER_AT(WebCamVisibilityState, 27481);
ZYR_HEADER_AT(bWebCamHiddenFlagA, 27482);
ZYR_HEADER_AT(bWebCamHiddenFlagB, 27483);
ZYR_HEADER_AT(WebCamDisplayMode, 27484);
ZYR_HEADER_AT(bDrawMouseCursor, 27496);
ZYR_HEADER_AT(iSingleFrameState, 27500);
ZYR_HEADER_AT(bLayoutValid, 27504);
ZYR_HEADER_AT(bCaptureInvalidated, 27505);
ZYR_HEADER_AT(WebCamFormats, 28032);
ZYR_HEADER_AT(ui32WebCamFormatCount, 195232);
ZYR_HEADER_AT(bAutoSelectWebCamFormat, 195236);
ZYR_HEADER_AT(SelectedWebCamFormat, 195237);
ZYR_HEADER_AT(UseChromaKeying, 196928);
ZYR_HEADER_AT(bUseWebCamBackground, 196929);
ZYR_HEADER_AT(bUseCustomShaderData, 196930);
ZYR_HEADER_AT(ui32CustomShaderDataOffset, 196932);
ZYR_HEADER_AT(ui32CustomShaderDataSize, 196936);
ZYR_HEADER_AT(ui32CaptureMethod, 197004);
ZYR_HEADER_AT(CaptureRegion, 197008);
ZYR_HEADER_AT(wszMonitorName, 197024);
ZYR_HEADER_AT(wszCursorEventName, 197546);
ZYR_HEADER_AT(wszCursorMutexName, 198066);
ZYR_HEADER_AT(ui64CursorHandle, 198592);
ZYR_HEADER_AT(iCursorX, 198600);
ZYR_HEADER_AT(iCursorY, 198604);
ZYR_HEADER_AT(ui32CursorFlags, 198608);
ZYR_HEADER_AT(bCursorColorBitmap, 198612);
ZYR_HEADER_AT(bCursorMaskBitmap, 198613);
ZYR_HEADER_AT(ui32CursorColorBitmapOffset, 198616);
ZYR_HEADER_AT(ui32CursorMaskBitmapOffset, 198620);
ZYR_HEADER_AT(iCursorHotspotX, 198624);
ZYR_HEADER_AT(iCursorHotspotY, 198628);
#undef ZYR_HEADER_AT

// Copies a wide string field of the header up to its terminator, or all kWideFieldUnits units
// when the writer left no terminator. fieldOffset is the field's offsetof in the header; reading
// through the header's bytes avoids unaligned char16_t pointers into the packed struct.
std::u16string ReadHeaderWideString(const TFrameBufferHeader& header, size_t fieldOffset);

// Writes text into a wide string field, truncated to 259 units, always terminated.
void WriteHeaderWideString(TFrameBufferHeader& header, size_t fieldOffset, std::u16string_view text);

#define ZYR_WIDE_FIELD(field) offsetof(TFrameBufferHeader, field)
