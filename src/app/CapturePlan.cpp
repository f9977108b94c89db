#include "app/CapturePlan.h"

#include "capturers/CaptureGeometry.h"
#include "log/LogDirectory.h"

namespace capplan {

namespace {
int32_t FloorToEight(int64_t value)
{
    // Truncation toward zero, as signed division does.
    return static_cast<int32_t>((value / 8) * 8);
}
}  // namespace

TRegionCheck CheckCaptureRegion(const THooksRect& region, int32_t iCaptureWidth, int32_t iCaptureHeight)
{
    if (region.left < 0 || region.left >= iCaptureWidth) {
        return TRegionCheck::InvalidLeft;
    }
    if (region.top < 0 || region.top >= iCaptureHeight) {
        return TRegionCheck::InvalidTop;
    }
    if (region.right > iCaptureWidth) {
        return TRegionCheck::InvalidRight;
    }
    if (region.bottom > iCaptureHeight) {
        return TRegionCheck::InvalidBottom;
    }
    if (region.right <= region.left || region.bottom <= region.top) {
        return TRegionCheck::Empty;
    }
    return TRegionCheck::Ok;
}

const char* RegionCheckText(TRegionCheck check)
{
    switch (check) {
    case TRegionCheck::Ok:
        return "valid region";
    case TRegionCheck::InvalidLeft:
        return "invalid region left position";
    case TRegionCheck::InvalidTop:
        return "invalid region top position";
    case TRegionCheck::InvalidRight:
        return "invalid region right position";
    case TRegionCheck::InvalidBottom:
        return "invalid region bottom position";
    case TRegionCheck::Empty:
        return "invalid region, right <= left or bottom <= top";
    }
    return "unknown region check";
}

TImageSize SafeImageSize(int32_t iRequestedWidth, int32_t iRequestedHeight, const THooksRect& region,
                         int32_t iCaptureWidth, int32_t iCaptureHeight)
{
    if (iRequestedWidth != -1) {
        return TImageSize{iRequestedWidth, iRequestedHeight};
    }
    if (capgeo::IsAllZero(region)) {
        return TImageSize{FloorToEight(iCaptureWidth), FloorToEight(iCaptureHeight)};
    }
    return TImageSize{FloorToEight(int64_t{region.right} - region.left),
                      FloorToEight(int64_t{region.bottom} - region.top)};
}

uint32_t WarmUpLeftMs(uint32_t ui32Start, uint32_t ui32Now)
{
    const uint32_t ui32Elapsed = ui32Now - ui32Start;
    return ui32Elapsed < kWarmUpMs ? kWarmUpMs - ui32Elapsed : 0;
}

std::u16string OverlayProgramPath(std::u16string_view modulePath, uint32_t ui32Length, uint32_t ui32Capacity)
{
    if (ui32Length == 0 || ui32Length >= ui32Capacity || ui32Length > modulePath.size()) {
        return std::u16string();
    }
    return zyrlog::ModuleDirectoryOf(modulePath.substr(0, ui32Length)) + u"fullscreenoverlay.exe";
}

uint32_t CounterToMilliseconds(uint64_t ui64Counter, uint64_t ui64Frequency)
{
    if (ui64Frequency == 0) {
        return 0;
    }
    constexpr uint64_t kHundredNsPerSecond = 10000000;
    const uint64_t q = ui64Counter / ui64Frequency;
    const uint64_t r = ui64Counter % ui64Frequency;
    const uint64_t hundredNs = q * kHundredNsPerSecond + (r * kHundredNsPerSecond) / ui64Frequency;
    return static_cast<uint32_t>(hundredNs / 10000);
}

TScale ScaleOf(const THooksRect& source, const THooksRect& destination)
{
    const double srcW = static_cast<double>(int64_t{source.right} - source.left);
    const double srcH = static_cast<double>(int64_t{source.bottom} - source.top);
    const double dstW = static_cast<double>(int64_t{destination.right} - destination.left);
    const double dstH = static_cast<double>(int64_t{destination.bottom} - destination.top);
    return TScale{srcW != 0 ? dstW / srcW : 0.0, srcH != 0 ? dstH / srcH : 0.0};
}

TOffset CursorOffset(const THooksRect& source, const THooksRect& destination, TScale scale, int32_t iDisplayX,
                     int32_t iDisplayY)
{
    return TOffset{
        capgeo::SaturateToInt32(int64_t{destination.left} - capgeo::TruncateToInt32(iDisplayX * scale.dScaleX) -
                                capgeo::TruncateToInt32(source.left * scale.dScaleX)),
        capgeo::SaturateToInt32(int64_t{destination.top} - capgeo::TruncateToInt32(iDisplayY * scale.dScaleY) -
                                capgeo::TruncateToInt32(source.top * scale.dScaleY)),
    };
}

}  // namespace capplan
