// The layout of the image areas behind the header. It is computed in two steps: a plan, a pure
// function of one snapshot of the settings in 64-bit arithmetic, and, only when every value of the
// plan fits its 32-bit field, the writing of the plan into the header. A refused layout therefore
// leaves the header exactly as it was.
#include "framebuffer/LayoutMath.h"
#include "framebuffer/TFrameBufferHeader.h"
#include "framebuffer/WebcamFormat.h"
#include "framebuffer/WebcamPlacement.h"

#include "log/Log.h"

#include <cstring>
#include <limits>

using namespace zyrlayout;

namespace {

constexpr const char* kName = "TFrameBufferHeader::CalculateImagesOffsets";
constexpr uint64_t kU32Max = std::numeric_limits<uint32_t>::max();
constexpr uint64_t kI32Max = std::numeric_limits<int32_t>::max();
constexpr uint64_t kNoFit = std::numeric_limits<uint64_t>::max();

// The running offset P: each area is taken at the current end. Once an area does not fit below
// 4 GiB the offset stops moving and the layout is marked as overflowed; the first area that did
// not fit and the size it asked for are kept for the warning, so the log names the bad value.
class TRunningOffset {
public:
    uint32_t Take(uint64_t size, const char* pszArea)
    {
        const uint32_t at = ui32End;
        if (bOverflow || size > kU32Max - ui32End) {
            MarkOverflow(pszArea, size);
        } else {
            ui32End += static_cast<uint32_t>(size);
        }
        return at;
    }
    void MarkOverflow(const char* pszArea, uint64_t ui64Value)
    {
        if (!bOverflow) {
            pszOverflowArea = pszArea;
            ui64OverflowValue = ui64Value;
        }
        bOverflow = true;
    }
    bool Overflowed() const { return bOverflow; }
    const char* OverflowArea() const { return pszOverflowArea; }
    uint64_t OverflowValue() const { return ui64OverflowValue; }
    uint32_t End() const { return ui32End; }

private:
    uint32_t ui32End = kFirstImageAreaOffset;
    bool bOverflow = false;
    const char* pszOverflowArea = "";
    uint64_t ui64OverflowValue = 0;
};

// rows x stride as an area size; kNoFit when a factor is beyond 32 bits or the row count is
// negative with a non-zero stride (the 32-bit product would wrap).
uint64_t AreaSize(int64_t rows, uint64_t stride)
{
    if (stride == 0 || rows == 0) {
        return 0;
    }
    if (rows < 0 || static_cast<uint64_t>(rows) > kU32Max || stride > kU32Max) {
        return kNoFit;
    }
    return static_cast<uint64_t>(rows) * stride;  // below 2^64
}

struct TLayoutPlan {
    uint32_t ui32FrameStride = 0;
    uint32_t frameOffsets[kFrameSlotCount] = {};
    uint32_t ui32HUDStride = 0;
    uint32_t ui32HUDOffset = 0;
    TPoint hudPosition{};
    uint32_t ui32RadialOffset = 0;
    TPoint radialPosition{};
    TWebcamFormatChoice format{};
    bool bWebcamPlaced = false;  // the webcam was enabled, so the placement fields are written
    TWebcamPlacement webcam{};
    uint32_t ui32WebcamOffset = 0;
    bool bBackground = false;
    uint32_t ui32BackgroundOffset = 0;
    bool bCustomShaderData = false;
    uint32_t ui32CustomShaderDataOffset = 0;
    uint32_t ui32CursorColorOffset = 0;
    uint32_t ui32CursorMaskOffset = 0;
    uint32_t ui32TotalSize = 0;
};

void LogWebcamSettings(const char* format, uint32_t width, uint32_t height, const TLayoutSettings& s)
{
    LogDetail(format, kName, static_cast<int>(width), static_cast<int>(height), s.dWebCamLeft, s.dWebCamTop,
              s.dWebCamWidth, s.dWebCamHeight);
}

// Six frame images with stride align64(iImageWidth * 4), a signed 32-bit value.
void PlanFrames(const TLayoutSettings& s, TLayoutPlan& plan, TRunningOffset& offset)
{
    if (s.iImageWidth < 0 || s.iImageHeight < 0) {
        offset.MarkOverflow("frame image size (negative)", 0);
        return;
    }
    const uint64_t stride = Align64(static_cast<uint64_t>(s.iImageWidth) * 4);
    const uint64_t slotSize = AreaSize(s.iImageHeight, stride);
    if (stride > kI32Max || slotSize > kI32Max) {
        offset.MarkOverflow("frame image", slotSize == kNoFit ? stride : slotSize);
        return;
    }
    plan.ui32FrameStride = static_cast<uint32_t>(stride);
    for (uint32_t& slotOffset : plan.frameOffsets) {
        slotOffset = offset.Take(slotSize, "frame image");
    }
}

// HUD area: stride align64(width * 4) in unsigned 32-bit arithmetic; the size comes from the
// producer of the HUD image.
void PlanHUD(const TLayoutSettings& s, TLayoutPlan& plan, TRunningOffset& offset)
{
    const uint64_t stride = Align64(uint64_t{s.ui32HUDWidth} * 4);
    if (stride > kU32Max) {
        offset.MarkOverflow("HUD stride", stride);
        return;
    }
    plan.ui32HUDStride = static_cast<uint32_t>(stride);
    plan.ui32HUDOffset = offset.Take(AreaSize(s.ui32HUDHeight, stride), "HUD");
}

void LogWebcamPlacement(const TWebcamPlacement& w)
{
    LogInfo("%s Calculated scaled webcam rect %d x %d, width %d, height %d", kName, w.scaledRect[0], w.scaledRect[1],
            w.scaledRect[2], w.scaledRect[3]);
    LogInfo("%s DST game frame rect %d, %d, %d, %d", kName, w.gameFrame.left, w.gameFrame.top, w.gameFrame.right,
            w.gameFrame.bottom);
}

// The enabled webcam: optional format selection, then its placement in the frame.
void PlanWebcam(const TFrameBufferHeader& header, const TLayoutSettings& s, TLayoutPlan& plan, TRunningOffset& offset)
{
    plan.format = TWebcamFormatChoice{false, 0, s.webcamWidth, s.webcamHeight};
    if (s.bAutoSelectWebCamFormat) {
        plan.format = ChooseWebcamFormat(header, s);
    }
    LogWebcamSettings("%s 2 webcamWidth: %d, webcamHeight: %d, left: %f, top: %f, width: %f, height: %f",
                      plan.format.ui32Width, plan.format.ui32Height, s);
    plan.bWebcamPlaced = true;
    plan.webcam = PlaceWebcam(s, plan.format.ui32Width, plan.format.ui32Height);
    // The stride is defined in signed 32-bit arithmetic.
    if (plan.webcam.ui64Stride > kI32Max) {
        offset.MarkOverflow("webcam stride", plan.webcam.ui64Stride);
    }
    LogWebcamPlacement(plan.webcam);
}

// The webcam area, reserved even for a hidden webcam with what the last layout left, and the
// background area of the same size (only with chroma keying and a visible webcam).
void PlanWebcamAreas(const TLayoutSettings& s, TLayoutPlan& plan, TRunningOffset& offset)
{
    const THooksRect source = plan.bWebcamPlaced ? plan.webcam.sourceRect : s.previousWebCamSourceRect;
    const uint64_t stride = plan.bWebcamPlaced ? plan.webcam.ui64Stride : s.previousWebCamImage.ui32Stride;
    const int64_t rows = int64_t{source.bottom} - source.top;
    LogInfo("%s Calculated webcam buffer size %dx%d", kName, static_cast<int>(plan.webcam.width),
            static_cast<int>(plan.webcam.height));
    LogInfo("%s Calculated webcam src buffer %dx%d, size %dx%d", kName, source.left, source.top,
            static_cast<int>(int64_t{source.right} - source.left), static_cast<int>(rows));
    LogInfo("%s UseChromaKeying %d", kName, static_cast<int>(s.ui8UseChromaKeying));
    // The stride of a hidden webcam is whatever the header held; rounding its area up keeps every
    // later area on a 64-byte boundary when that value is not a multiple of 64 (ours always are).
    const uint64_t rawSize = AreaSize(rows, stride);
    const uint64_t size = rawSize == kNoFit ? kNoFit : Align64(rawSize);
    plan.ui32WebcamOffset = offset.Take(size, "webcam");
    plan.bBackground = s.ui8UseChromaKeying != 0 && s.bUseWebCamBackground && plan.bWebcamPlaced &&
                       plan.webcam.bVisible && rows > 0 && stride != 0;
    if (plan.bBackground) {
        plan.ui32BackgroundOffset = offset.Take(size, "webcam background");
    }
}

TLayoutPlan PlanLayout(const TFrameBufferHeader& header, const TLayoutSettings& s, TRunningOffset& offset)
{
    TLayoutPlan plan;
    LogWebcamSettings("%s 1 webcamWidth: %d, webcamHeight: %d, left: %f, top: %f, width: %f, height: %f",
                      s.webcamWidth, s.webcamHeight, s);
    PlanFrames(s, plan, offset);
    PlanHUD(s, plan, offset);
    plan.ui32RadialOffset = offset.Take(kRadialMenuAreaSize, "radial menu");
    LogDetail("%s WebCamVisibilityState enabled: %d", kName, s.bWebCamEnabled ? 1 : 0);
    if (s.bWebCamEnabled) {
        PlanWebcam(header, s, plan, offset);
    }
    PlanWebcamAreas(s, plan, offset);
    plan.bCustomShaderData = s.bUseCustomShaderData;
    if (plan.bCustomShaderData) {
        plan.ui32CustomShaderDataOffset = offset.Take(kCustomShaderDataSize, "custom shader data");
    }
    plan.hudPosition = HUDPosition(s.iSourceWidth, s.iSourceHeight, s.iHUDPosition, s.iHUDMargin, s.ui32HUDWidth,
                                   s.ui32HUDHeight);
    plan.radialPosition = RadialMenuPosition(s.iSourceWidth, s.iSourceHeight);
    plan.ui32CursorColorOffset = offset.Take(kCursorBitmapAreaSize, "cursor colour bitmap");
    plan.ui32CursorMaskOffset = offset.Take(kCursorBitmapAreaSize, "cursor mask bitmap");
    plan.ui32TotalSize = offset.End();
    return plan;
}

void WriteFixedAreas(TFrameBufferHeader& h, const TLayoutPlan& plan)
{
    h.ui32FrameImageStride = plan.ui32FrameStride;
    for (size_t i = 0; i < kFrameSlotCount; ++i) {
        h.ui32FrameImageOffsets[i] = plan.frameOffsets[i];
    }
    h.HUDImage.ui32Stride = plan.ui32HUDStride;
    h.HUDImage.ui32Offset = plan.ui32HUDOffset;
    h.HUDImage.x = plan.hudPosition.x;
    h.HUDImage.y = plan.hudPosition.y;
    h.HUDImage.bFlag = 0;
    h.RadialMenuImage.x = plan.radialPosition.x;
    h.RadialMenuImage.y = plan.radialPosition.y;
    h.RadialMenuImage.width = kRadialMenuSide;
    h.RadialMenuImage.height = kRadialMenuSide;
    h.RadialMenuImage.ui32Stride = kRadialMenuStride;
    h.RadialMenuImage.ui32Offset = plan.ui32RadialOffset;
    h.RadialMenuImage.bFlag = 0;
    if (plan.bCustomShaderData) {
        h.ui32CustomShaderDataOffset = plan.ui32CustomShaderDataOffset;
        h.ui32CustomShaderDataSize = kCustomShaderDataSize;
    }
    h.ui32CursorColorBitmapOffset = plan.ui32CursorColorOffset;
    h.ui32CursorMaskBitmapOffset = plan.ui32CursorMaskOffset;
}

// The webcam descriptor as it stands after the layout, built from the snapshot (the fields the
// layout does not own keep their snapshot values).
TOverlayImageInfo WebcamImageAfter(const TLayoutSettings& s, const TLayoutPlan& plan)
{
    TOverlayImageInfo image = s.previousWebCamImage;
    image.width = plan.webcam.width;
    image.height = plan.webcam.height;
    image.ui32Offset = plan.ui32WebcamOffset;
    if (plan.bWebcamPlaced) {
        image.x = plan.webcam.x;
        image.y = plan.webcam.y;
        image.ui32Stride = static_cast<uint32_t>(plan.webcam.ui64Stride);
    }
    return image;
}

void WriteWebcam(TFrameBufferHeader& h, const TLayoutSettings& s, const TLayoutPlan& plan)
{
    ApplyWebcamFormat(h, plan.format);
    const TOverlayImageInfo image = WebcamImageAfter(s, plan);
    if (plan.bWebcamPlaced) {
        h.WebCamSourceRect = plan.webcam.sourceRect;
        if (!plan.webcam.bVisible) {
            h.WebCamVisibilityState = 1;
            h.bWebCamHiddenFlagA = 0;
            h.bWebCamHiddenFlagB = 0;
        }
    }
    for (size_t i = 0; i < 4; ++i) {
        h.ScaledWebCamRect[i] = plan.bWebcamPlaced ? plan.webcam.scaledRect[i] : 0;
    }
    if (plan.bBackground) {
        // A copy of the webcam descriptor (as it is before the flags are reset) at its own offset.
        TOverlayImageInfo background = image;
        background.ui32Offset = plan.ui32BackgroundOffset;
        h.WebCamBackgroundImage = background;
    }
    h.WebCamBackgroundImage.bFlag = 1;
    // Field by field: ui32InUse and fShaderParam belong to others and are not written back.
    h.WebCamImage.x = image.x;
    h.WebCamImage.y = image.y;
    h.WebCamImage.width = image.width;
    h.WebCamImage.height = image.height;
    h.WebCamImage.ui32Offset = image.ui32Offset;
    h.WebCamImage.ui32Stride = image.ui32Stride;
    h.WebCamImage.bFlag = 0;
}

}  // namespace

const char* LayoutResultName(TLayoutResult result)
{
    switch (result) {
    case TLayoutResult::Ok: return "Ok";
    case TLayoutResult::Overflow: return "Overflow";
    case TLayoutResult::BeyondLimit: return "BeyondLimit";
    }
    return "unknown";
}

TLayoutResult TFrameBufferHeader::CalculateImagesOffsets()
{
    uint32_t ui32Total = 0;
    return CalculateImagesOffsets(ui32Total);
}

TLayoutResult TFrameBufferHeader::CalculateImagesOffsets(uint32_t& ui32LaidOutTotalSize)
{
    return CalculateImagesOffsets(ui32LaidOutTotalSize, UINT64_MAX);
}

TLayoutResult TFrameBufferHeader::CalculateImagesOffsets(uint32_t& ui32LaidOutTotalSize, uint64_t ui64Limit)
{
    const TLayoutSettings settings = ReadLayoutSettings(*this);
    TRunningOffset offset;
    const TLayoutPlan plan = PlanLayout(*this, settings, offset);
    if (offset.Overflowed()) {
        // A size of kNoFit (all ones) stands for a row count or stride beyond 32 bits.
        LogWarning("%s image %dx%d: the layout does not fit in 32-bit offsets at the %s area (%llu bytes), "
                   "nothing written",
                   kName, settings.iImageWidth, settings.iImageHeight, offset.OverflowArea(),
                   static_cast<unsigned long long>(offset.OverflowValue()));
        if (std::strncmp(offset.OverflowArea(), "webcam", 6) == 0) {
            // The webcam's area comes from several host values: all of them, as the host wrote them.
            LogWarning("%s the webcam was %u x %u at left %g, top %g, width %g, height %g of the frame; a hidden "
                       "webcam keeps source %d, %d - %d, %d with stride %u",
                       kName, settings.webcamWidth, settings.webcamHeight, settings.dWebCamLeft, settings.dWebCamTop,
                       settings.dWebCamWidth, settings.dWebCamHeight, settings.previousWebCamSourceRect.left,
                       settings.previousWebCamSourceRect.top, settings.previousWebCamSourceRect.right,
                       settings.previousWebCamSourceRect.bottom, settings.previousWebCamImage.ui32Stride);
        }
        return TLayoutResult::Overflow;
    }
    if (plan.ui32TotalSize > ui64Limit) {
        ui32LaidOutTotalSize = plan.ui32TotalSize;
        return TLayoutResult::BeyondLimit;
    }
    WriteFixedAreas(*this, plan);
    WriteWebcam(*this, settings, plan);
    // Last, so that the total never describes a half-written layout.
    ui32TotalSize = plan.ui32TotalSize;
    ui32LaidOutTotalSize = plan.ui32TotalSize;
    return TLayoutResult::Ok;
}

THooksRect TFrameBufferHeader::CalculateGameFrameRect() const
{
    const TGameFrameInputs in{iSourceWidth, iSourceHeight, iImageWidth, iImageHeight, bStretch != 0};
    return GameFrameRect(in);
}

void TFrameBufferHeader::CalculateHUDPosition()
{
    const TPoint position = HUDPosition(iSourceWidth, iSourceHeight, iHUDPosition, iHUDMargin, HUDImage.width,
                                        HUDImage.height);
    HUDImage.x = position.x;
    HUDImage.y = position.y;
}

THooksRect TFrameBufferHeader::CalculateWebCamTargetRect(int32_t mode) const
{
    const TOverlayImageInfo image = WebCamImage;
    TWebCamTargetInputs in{};
    in.frame = TGameFrameInputs{iSourceWidth, iSourceHeight, iImageWidth, iImageHeight, bStretch != 0};
    in.x = image.x;
    in.y = image.y;
    // Taken as signed, as the frame's rectangles are.
    in.width = static_cast<int32_t>(image.width);
    in.height = static_cast<int32_t>(image.height);
    return WebCamTargetRect(in, mode);
}
