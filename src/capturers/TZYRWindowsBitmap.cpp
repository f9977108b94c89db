#include "capturers/TZYRWindowsBitmap.h"

#include "log/Log.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {
constexpr uint32_t kInfoHeaderSize = sizeof(BITMAPINFOHEADER);
static_assert(kInfoHeaderSize == 40);

// Bytes of |height| DWORD-aligned rows; 0 for a negative width or bit count.
uint64_t DibBytes(int32_t iWidth, int32_t iHeight, int32_t iBitsPerPixel)
{
    if (iWidth < 0 || iBitsPerPixel < 0) {
        return 0;
    }
    const uint64_t rowBytes = ((static_cast<uint64_t>(iWidth) * static_cast<uint64_t>(iBitsPerPixel) + 31) & ~31ull) / 8;
    return rowBytes * static_cast<uint64_t>(std::llabs(static_cast<int64_t>(iHeight)));
}

// DibBytes when it fits the header's 32-bit field, else 0.
uint32_t DibImageSize(int32_t iWidth, int32_t iHeight, int32_t iBitsPerPixel)
{
    const uint64_t size = DibBytes(iWidth, iHeight, iBitsPerPixel);
    return size > UINT32_MAX ? 0 : static_cast<uint32_t>(size);
}
}  // namespace

TZYRWindowsBitmap::TZYRWindowsBitmap()
{
    TDeviceContext screenDC(::CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr));
    if (screenDC) {
        hDC.Reset(::CreateCompatibleDC(screenDC.Get()));
    }
}

TZYRWindowsBitmap::TZYRWindowsBitmap(int32_t iWidth, int32_t iHeight, int32_t iBitsPerPixel, uint32_t ui32Colors,
                                     const void* pPalette)
    : TZYRWindowsBitmap()
{
    if (hDC) {
        Create(iWidth, iHeight, iBitsPerPixel, ui32Colors, pPalette);
    }
}

std::unique_ptr<TZYRWindowsBitmap> TZYRWindowsBitmap::CreateOnSection(int32_t iWidth, int32_t iHeight,
                                                                      HANDLE hSection, uint32_t ui32Offset)
{
    std::unique_ptr<TZYRWindowsBitmap> pBitmap(new TZYRWindowsBitmap());
    if (!pBitmap->hDC || hSection == nullptr || ui32Offset % 4 != 0 ||
        !pBitmap->CreateDib(iWidth, iHeight, 32, 0, nullptr, hSection, ui32Offset)) {
        return nullptr;
    }
    return pBitmap;
}

TZYRWindowsBitmap::~TZYRWindowsBitmap() = default;

bool TZYRWindowsBitmap::Create(int32_t iWidth, int32_t iHeight, int32_t iBitsPerPixel, uint32_t ui32Colors,
                               const void* pPalette)
{
    if (!hDC) {
        return false;
    }
    if (CreateDib(iWidth, iHeight, iBitsPerPixel, ui32Colors, pPalette)) {
        return true;
    }
    // An impossible size (or no memory) still leaves a usable 1 x 1 image behind.
    return CreateDib(1, 1, 32, 0, nullptr);
}

bool TZYRWindowsBitmap::CreateDib(int32_t iWidth, int32_t iHeight, int32_t iBitsPerPixel, uint32_t ui32Colors,
                                  const void* pPalette, HANDLE hSection, uint32_t ui32Offset)
{
    ReleaseDib();
    // Palette entries only below 16 bits per pixel, never more than such a pixel can index. GDI
    // reads a full table (2^bpp entries) when colours-used is 0, so the block always has room for
    // one; entries the caller did not give stay zero (black), except that a 1-bit bitmap without
    // any gets the default black and white: a cursor mask declaring no colours would otherwise read
    // as all black, that is, opaque everywhere.
    const uint32_t ui32TableEntries = iBitsPerPixel >= 1 && iBitsPerPixel <= 8 ? (1u << iBitsPerPixel) : 0;
    const uint32_t ui32GivenEntries =
        (iBitsPerPixel >= 16 || pPalette == nullptr) ? 0 : std::min<uint32_t>(ui32Colors, ui32TableEntries);
    ui32BitmapInfoSize = kInfoHeaderSize + 4 * ui32TableEntries;
    pBitmapInfo = std::make_unique<uint8_t[]>(ui32BitmapInfoSize);  // value-initialised: zero-filled
    if (ui32GivenEntries > 0) {
        std::memcpy(pBitmapInfo.get() + kInfoHeaderSize, pPalette, 4 * ui32GivenEntries);
    } else if (iBitsPerPixel == 1) {
        constexpr uint32_t kWhite = 0x00FFFFFFu;
        std::memcpy(pBitmapInfo.get() + kInfoHeaderSize + 4, &kWhite, 4);
    }
    BITMAPINFOHEADER* pHeader = Header();
    pHeader->biSize = kInfoHeaderSize;
    pHeader->biWidth = iWidth;
    pHeader->biHeight = iHeight;
    pHeader->biPlanes = 1;
    pHeader->biBitCount = static_cast<WORD>(iBitsPerPixel);
    pHeader->biCompression = BI_RGB;
    pHeader->biSizeImage = DibImageSize(iWidth, iHeight, iBitsPerPixel);
    // Colours-used beyond the block would make GDI read past it; 16 bits and more take no palette.
    pHeader->biClrUsed = ui32GivenEntries;

    void* pDibBits = nullptr;
    HBITMAP hDib = pHeader->biSizeImage == 0
                       ? nullptr
                       : ::CreateDIBSection(hDC.Get(), reinterpret_cast<BITMAPINFO*>(pBitmapInfo.get()),
                                            DIB_RGB_COLORS, &pDibBits, hSection, ui32Offset);
    if (hDib == nullptr) {
        ReleaseDib();
        return false;
    }
    hBitmap.Reset(hDib);
    hOldBitmap = TSelectedObject(hDC.Get(), hDib);
    pBits = static_cast<uint8_t*>(pDibBits);
    pHeader->biHeight = pHeader->biHeight < 0 ? -pHeader->biHeight : pHeader->biHeight;
    return true;
}

TGdiBitmap TZYRWindowsBitmap::DetachBitmap()
{
    hOldBitmap.Reset();
    TGdiBitmap hDetached(hBitmap.Release());
    ReleaseDib();
    return hDetached;
}

void TZYRWindowsBitmap::ReleaseDib()
{
    hOldBitmap.Reset();
    hBitmap.Reset();
    pBitmapInfo.reset();
    ui32BitmapInfoSize = 0;
    pBits = nullptr;
}

BITMAPINFOHEADER* TZYRWindowsBitmap::Header() const
{
    return reinterpret_cast<BITMAPINFOHEADER*>(pBitmapInfo.get());
}

int32_t TZYRWindowsBitmap::Width() const
{
    return pBits != nullptr ? Header()->biWidth : 0;
}

int32_t TZYRWindowsBitmap::Height() const
{
    return pBits != nullptr ? Header()->biHeight : 0;
}

int32_t TZYRWindowsBitmap::BitsPerPixel() const
{
    return pBits != nullptr ? Header()->biBitCount : 0;
}

uint32_t TZYRWindowsBitmap::ImageSize() const
{
    return pBits != nullptr ? Header()->biSizeImage : 0;
}

std::unique_ptr<TZYRWindowsBitmap> TZYRWindowsBitmap::CreateBitmapFromMemory(const uint8_t* p, size_t available)
{
    constexpr const char kName[] = "TZYRWindowsBitmap::CreateBitmapFromMemory";
    BITMAPINFOHEADER header = {};
    if (p == nullptr || available < kInfoHeaderSize) {
        LogError("%s no room for a bitmap header (%u bytes)", kName, static_cast<unsigned>(available));
        return nullptr;
    }
    std::memcpy(&header, p, kInfoHeaderSize);  // read once: the block may be rewritten meanwhile
    LogVerbose("%s %dx%d, bits %d, colors %d", kName, static_cast<int>(header.biWidth),
               static_cast<int>(header.biHeight), static_cast<int>(header.biBitCount),
               static_cast<int>(header.biClrUsed));
    // Neither the header's image size nor the pixels its dimensions stand for may lie beyond the
    // block: a header that claims a picture larger than its block is refused before any DIB of
    // that size is made.
    const uint64_t pixelsAt = uint64_t{kInfoHeaderSize} + 4ull * header.biClrUsed;
    const uint64_t claimed =
        std::max<uint64_t>(header.biSizeImage, DibBytes(header.biWidth, header.biHeight, header.biBitCount));
    if (pixelsAt + claimed > available) {
        LogError("%s the bitmap (%dx%d, bits %d, %u colors, %u bytes of pixels) does not fit its %u-byte block", kName,
                 static_cast<int>(header.biWidth), static_cast<int>(header.biHeight),
                 static_cast<int>(header.biBitCount), static_cast<unsigned>(header.biClrUsed),
                 static_cast<unsigned>(header.biSizeImage), static_cast<unsigned>(available));
        return nullptr;
    }
    auto pBitmap = std::make_unique<TZYRWindowsBitmap>(header.biWidth, header.biHeight, header.biBitCount,
                                                       header.biClrUsed, p + kInfoHeaderSize);
    if (pBitmap->Bits() != nullptr) {
        const uint32_t ui32Copy = std::min<uint32_t>(header.biSizeImage, pBitmap->ImageSize());
        std::memcpy(pBitmap->Bits(), p + pixelsAt, ui32Copy);
    }
    return pBitmap;
}
