#include "capturers/TGDIFullscreenCapturer.h"

#include "capturers/CaptureGeometry.h"
#include "log/Log.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr const char kGetScreenImageName[] = "TGDIFullscreenCapturer::GetScreenImageInternal";

uint64_t Ticks()
{
    LARGE_INTEGER counter{};
    ::QueryPerformanceCounter(&counter);
    return static_cast<uint64_t>(counter.QuadPart);
}

uint64_t TicksPerSecond()
{
    LARGE_INTEGER frequency{};
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<uint64_t>(frequency.QuadPart);
}
}  // namespace

TGDIFullscreenCapturer::TGDIFullscreenCapturer(HINSTANCE hInstanceOfModule)
    : TBaseFullscreenCapturer(hInstanceOfModule)
{
    LogInfo("%s", "TGDIFullscreenCapturer::TGDIFullscreenCapturer");
    LogInfo("%s exit", "TGDIFullscreenCapturer::TGDIFullscreenCapturer");
}

TGDIFullscreenCapturer::~TGDIFullscreenCapturer()
{
    LogInfo("%s", "TGDIFullscreenCapturer::~TGDIFullscreenCapturer");
    if (transferCost.Count() > 0) {
        const uint64_t ui64Frequency = TicksPerSecond();
        LogInfo("%s %llu frames (%llu drawn straight into the frame buffer), per frame: %.3f ms in the display "
                "transfer, %.3f ms copying rows",
                "TGDIFullscreenCapturer::~TGDIFullscreenCapturer", static_cast<unsigned long long>(transferCost.Count()),
                static_cast<unsigned long long>(ui64DirectFrames), transferCost.AverageMs(ui64Frequency),
                copyCost.AverageMs(ui64Frequency));
    }
    if (ui64PeakSlotViewBytes > 0) {
        // Each slot DIB is a view of the section: address space a 32-bit process must find.
        LogInfo("%s slot views: at most %llu bytes mapped at once", "TGDIFullscreenCapturer::~TGDIFullscreenCapturer",
                static_cast<unsigned long long>(ui64PeakSlotViewBytes));
    }
    pScreenImageInSysMem.reset();
    LogInfo("%s exit", "TGDIFullscreenCapturer::~TGDIFullscreenCapturer");
}

SIZE TGDIFullscreenCapturer::GetMonitorDimensions()
{
    return SelectedDisplaySize();
}

SIZE TGDIFullscreenCapturer::GetCurrentMonitorDimensions()
{
    return CurrentSizeOfSelectedDisplay("TGDIFullscreenCapturer::GetCurrentMonitorDimensions");
}

BOOL CALLBACK TGDIFullscreenCapturer::GDIFullscreenCapturerMonitorEnumProc(HMONITOR hMonitor, HDC /*hDC*/,
                                                                            LPRECT /*pRect*/, LPARAM lParam)
{
    constexpr const char kName[] = "TGDIFullscreenCapturer::GDIFullscreenCapturerMonitorEnumProc";
    LogInfo("%s", kName);
    CheckAndAddMonitor(hMonitor, *reinterpret_cast<std::vector<TDisplayInfo>*>(lParam));
    LogInfo("%s exit", kName);
    return TRUE;
}

std::vector<TDisplayInfo> TGDIFullscreenCapturer::GetDisplays()
{
    constexpr const char kName[] = "TGDIFullscreenCapturer::GetDisplays";
    LogInfo("%s", kName);
    std::vector<TDisplayInfo> displays;
    if (!::EnumDisplayMonitors(nullptr, nullptr, &GDIFullscreenCapturerMonitorEnumProc,
                               reinterpret_cast<LPARAM>(&displays))) {
        LogError("%s EnumDisplayMonitors error %d", kName, static_cast<int>(::GetLastError()));
    }
    LogInfo("%s exit with %d", kName, static_cast<int>(displays.size()));
    return displays;
}

bool TGDIFullscreenCapturer::Initialize(std::wstring wsName)
{
    constexpr const char kName[] = "TGDIFullscreenCapturer::Initialize";
    LogInfo("%s", kName);
    bool bResult = false;
    TBaseFullscreenCapturer::Initialize(wsName);
    for (const TDisplayInfo& display : vecDisplays) {
        if (wsDisplayName == display.wszDeviceName) {
            vecSelectedDisplays.push_back(display);
            pScreenImageInSysMem = std::make_unique<TZYRWindowsBitmap>(display.iWidth, display.iHeight, 32, 0, nullptr);
            LogInfo("%s will use display '%S'", kName, display.wszDeviceName);
            bResult = true;
            break;
        }
    }
    LogInfo("%s exit with %d", kName, bResult ? 1 : 0);
    return bResult;
}

void TGDIFullscreenCapturer::SetCaptureParameters(int32_t iWidth, int32_t iHeight, THooksRect source,
                                                  bool bKeepProportionOfSource, bool bDrawOverlays)
{
    constexpr const char kName[] = "TGDIFullscreenCapturer::SetCaptureParameters";
    LogInfo("%s", kName);
    if (!pScreenImageInSysMem) {
        LogError("%s pScreenImageInSysMem is null", kName);
        LogInfo("%s exit", kName);
        return;
    }
    TBaseFullscreenCapturer::SetCaptureParameters(iWidth, iHeight, source, bKeepProportionOfSource, bDrawOverlays);
    vecSlotImages.clear();
    lastSlot = TWrittenSlot{};
    if (pScreenImageInSysMem->Width() != iFinalWidth || pScreenImageInSysMem->Height() != iFinalHeight) {
        LogInfo("%s we need to resize a bitmap in a system memory", kName);
        pScreenImageInSysMem = std::make_unique<TZYRWindowsBitmap>(iFinalWidth, iFinalHeight, 32, 0, nullptr);
    }
    LogInfo("%s exit", kName);
}

void TGDIFullscreenCapturer::UpdateWebCam(const uint8_t* /*pImage*/, int32_t /*iWidth*/, int32_t /*iHeight*/,
                                          uint32_t /*ui32Stride*/, THooksRect /*destination*/,
                                          const void* /*pShaderData*/, uint32_t /*ui32ShaderDataSize*/)
{
    LogVerbose("%s", "TGDIFullscreenCapturer::UpdateWebCam");
    LogVerbose("%s exit", "TGDIFullscreenCapturer::UpdateWebCam");
}

void TGDIFullscreenCapturer::UpdateWebCamBackground(const uint8_t* /*pImage*/, int32_t /*iWidth*/,
                                                    int32_t /*iHeight*/, uint32_t /*ui32Stride*/,
                                                    THooksRect /*destination*/)
{
    LogVerbose("%s", "TGDIFullscreenCapturer::UpdateWebCamBackground");
    LogVerbose("%s exit", "TGDIFullscreenCapturer::UpdateWebCamBackground");
}

void TGDIFullscreenCapturer::GetScreenImageInternal(const TAreaView& destination, bool bDontMirrorFrames,
                                                    ID3D11Texture2D* /*pTexture*/)
{
    pRepeatedFrom = nullptr;
    if (vecSelectedDisplays.empty()) {
        LogError("%s no displays were found", kGetScreenImageName);
        return;
    }
    if (!pScreenImageInSysMem) {
        LogError("%s pScreenImageInSysMem is null", kGetScreenImageName);
        return;
    }
    // The display's DC has its origin at the display's top-left corner.
    TDeviceContext displayDC(::CreateDCW(vecSelectedDisplays.front().wszDeviceName, nullptr, nullptr, nullptr));
    if (!displayDC) {
        LogError("%s CreateDC failed %d", kGetScreenImageName, static_cast<int>(::GetLastError()));
        return;
    }
    if (TZYRWindowsBitmap* pSlotImage = SlotImageFor(destination, bDontMirrorFrames)) {
        // GDI writes the frame straight into the slot: no second copy of its bytes. The slot last
        // held a frame six frames ago, with its cursor: what this transfer does not reach is
        // cleared, so bars stay black.
        if (TransferFromDisplay(displayDC.Get(), *pSlotImage, true)) {
            lastSlot = TWrittenSlot{true, destination.ui64Offset, destination.ui32Width, destination.ui32Stride,
                                    destination.ui32Rows, bDontMirrorFrames};
        } else {
            RepeatLastSlot(destination, bDontMirrorFrames, *pSlotImage);
        }
        ++ui64DirectFrames;
        return;
    }
    // A failed transfer still hands on what the bitmap holds (the previous frame).
    TransferFromDisplay(displayDC.Get(), *pScreenImageInSysMem, false);
    const uint64_t ui64Start = Ticks();
    CopyToDestination(destination, bDontMirrorFrames);
    copyCost.Add(Ticks() - ui64Start);
}

void TGDIFullscreenCapturer::SetFrameBufferSection(HANDLE hSection)
{
    hFrameBufferSection = hSection;
    vecSlotImages.clear();
    lastSlot = TWrittenSlot{};
}

TZYRWindowsBitmap* TGDIFullscreenCapturer::SlotImageFor(const TAreaView& destination, bool bTopDown)
{
    // Only a slot laid out exactly like a DIB of the final size can be one: rows of width x 4
    // bytes, DWORD-aligned, inside the section (the checked area guarantees the latter).
    if (hFrameBufferSection == nullptr || bSectionRefused || iFinalWidth <= 0 || iFinalHeight <= 0 ||
        destination.ui32Width != static_cast<uint32_t>(iFinalWidth) ||
        destination.ui32Rows != static_cast<uint32_t>(iFinalHeight) ||
        uint64_t{destination.ui32Stride} != uint64_t{destination.ui32Width} * 4 || destination.ui64Offset % 4 != 0 ||
        destination.ui64Offset > UINT32_MAX) {
        return nullptr;
    }
    for (TSlotImage& image : vecSlotImages) {
        if (image.ui64Offset == destination.ui64Offset && image.bTopDown == bTopDown) {
            return image.pBitmap.get();
        }
    }
    auto pBitmap = TZYRWindowsBitmap::CreateOnSection(iFinalWidth, bTopDown ? -iFinalHeight : iFinalHeight,
                                                      hFrameBufferSection, static_cast<uint32_t>(destination.ui64Offset));
    if (!pBitmap) {
        bSectionRefused = true;
        LogWarning("%s no DIB on the frame buffer section (error %d): frames are copied through system memory",
                   kGetScreenImageName, static_cast<int>(::GetLastError()));
        return nullptr;
    }
    if (vecSlotImages.size() >= 2 * kFrameSlotCount) {
        vecSlotImages.clear();  // the host changed the layout: the old slots are gone
    }
    vecSlotImages.push_back(TSlotImage{destination.ui64Offset, bTopDown, std::move(pBitmap)});
    uint64_t ui64Mapped = 0;
    for (const TSlotImage& image : vecSlotImages) {
        ui64Mapped += image.pBitmap->ImageSize();
    }
    ui64PeakSlotViewBytes = std::max(ui64PeakSlotViewBytes, ui64Mapped);
    return vecSlotImages.back().pBitmap.get();
}

BOOL TGDIFullscreenCapturer::DisplayBitBlt(HDC hDst, int x, int y, int w, int h, HDC hSrc, int sx, int sy)
{
    return ::BitBlt(hDst, x, y, w, h, hSrc, sx, sy, SRCCOPY);
}

BOOL TGDIFullscreenCapturer::DisplayStretchBlt(HDC hDst, int x, int y, int w, int h, HDC hSrc, int sx, int sy, int sw,
                                               int sh)
{
    return ::StretchBlt(hDst, x, y, w, h, hSrc, sx, sy, sw, sh, SRCCOPY);
}

void TGDIFullscreenCapturer::RepeatLastSlot(const TAreaView& destination, bool bTopDown, TZYRWindowsBitmap& slotImage)
{
    const bool bSameLayout = lastSlot.bValid && lastSlot.ui32Width == destination.ui32Width &&
                             lastSlot.ui32Stride == destination.ui32Stride && lastSlot.ui32Rows == destination.ui32Rows &&
                             lastSlot.bTopDown == bTopDown;
    if (!bSameLayout) {
        // Nothing good was written in this layout yet: what a fresh bitmap holds.
        ::PatBlt(slotImage.DC(), 0, 0, slotImage.Width(), slotImage.Height(), BLACKNESS);
        ::GdiFlush();
        return;
    }
    // Both slots lie in the one view the destination belongs to.
    const uint8_t* pBase = destination.pData - destination.ui64Offset;
    const uint8_t* pLast = pBase + lastSlot.ui64Offset;
    if (pLast != destination.pData) {
        std::memmove(destination.pData, pLast, uint64_t{destination.ui32Stride} * destination.ui32Rows);
    }
    pRepeatedFrom = pLast;
    lastSlot.ui64Offset = destination.ui64Offset;  // the next failure copies this one (and its cursor)
}

bool TGDIFullscreenCapturer::TransferFromDisplay(HDC hDisplayDC, TZYRWindowsBitmap& target, bool bClearUncovered)
{
    const THooksRect& src = vqhrSourceRectBeforeResizing;
    const THooksRect& dst = vqhrDestRectAfterResizing;
    const int32_t srcW = src.right - src.left;
    const int32_t srcH = src.bottom - src.top;
    const int32_t dstW = dst.right - dst.left;
    const int32_t dstH = dst.bottom - dst.top;
    const HDC hBitmapDC = target.DC();
    const uint64_t ui64Start = Ticks();
    THooksRect covered = dst;
    bool bTransferred = true;
    if (srcW == dstW && srcH == dstH) {
        // 1:1: the bitmap from the source's top-left corner, also when bars would centre it. The
        // copy stops at the display's edge: Wine reads a rectangle reaching past it as all black,
        // so the columns and rows beyond the display keep what the bitmap held.
        const TDisplayInfo& display = vecSelectedDisplays.front();
        const int32_t copyW = std::min(target.Width(), display.iWidth - src.left);
        const int32_t copyH = std::min(target.Height(), display.iHeight - src.top);
        if (!DisplayBitBlt(hBitmapDC, 0, 0, copyW, copyH, hDisplayDC, src.left, src.top)) {
            LogError("%s BitBlt error %d", kGetScreenImageName, static_cast<int>(::GetLastError()));
            bTransferred = false;
        }
        covered = THooksRect{0, 0, copyW, copyH};
    } else {
        ::SetStretchBltMode(hBitmapDC, HALFTONE);
        if (!DisplayStretchBlt(hBitmapDC, dst.left, dst.top, dstW, dstH, hDisplayDC, src.left, src.top, srcW, srcH)) {
            LogError("%s StretchBlt error %d", kGetScreenImageName, static_cast<int>(::GetLastError()));
            bTransferred = false;
        }
    }
    if (bClearUncovered && bTransferred) {
        for (const THooksRect& band : capgeo::UncoveredBands(target.Width(), target.Height(), covered)) {
            if (!capgeo::IsEmpty(band)) {
                ::PatBlt(hBitmapDC, band.left, band.top, band.right - band.left, band.bottom - band.top, BLACKNESS);
            }
        }
    }
    // GDI may batch: the pixels must be in memory before the slot is published.
    ::GdiFlush();
    transferCost.Add(Ticks() - ui64Start);
    return bTransferred;
}

void TGDIFullscreenCapturer::CopyToDestination(const TAreaView& destination, bool bDontMirrorFrames) const
{
    const TZYRWindowsBitmap& bitmap = *pScreenImageInSysMem;
    const int64_t bitmapHeight = bitmap.Height();
    const size_t rowBytes = static_cast<size_t>(bitmap.Width()) * 4;
    const size_t copyBytes = destination.ui32Stride < rowBytes ? destination.ui32Stride : rowBytes;
    const int64_t rows = bitmapHeight < int64_t{destination.ui32Rows} ? bitmapHeight : int64_t{destination.ui32Rows};
    if (rows <= 0 || bitmap.Bits() == nullptr) {
        return;
    }
    // Bottom-up bitmap: the picture's top `rows` rows are the last `rows` rows in memory.
    const uint8_t* pSource = bitmap.Bits() + static_cast<size_t>(bitmapHeight - rows) * rowBytes;
    for (int64_t k = 0; k < rows; ++k) {
        const int64_t target = bDontMirrorFrames ? rows - 1 - k : k;
        std::memcpy(destination.pData + static_cast<size_t>(target) * destination.ui32Stride,
                    pSource + static_cast<size_t>(k) * rowBytes, copyBytes);
    }
}
