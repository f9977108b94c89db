// The published pictures drawn by the platform the way a cursor drawer draws them: the packed
// DIBs turned into DIB sections, CreateIconIndirect, DrawIconEx 1:1 over known backgrounds. Every
// pixel must be what refcursor::ExpectedPixel says, so tests of a drawer can rely on it.
#include "CursorPictures.h"

#include "capturers/TGdiHandles.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

using refcursor::TCursorPicture;

// Where the cursor lands in the 64 x 64 target.
constexpr int kOrigin = 16;
constexpr int kTargetSide = 64;

uint32_t U32At(const std::vector<uint8_t>& bytes, size_t offset)
{
    uint32_t value = 0;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

// A DIB section with the packed DIB's header, palette and rows; null for an empty DIB.
TGdiBitmap BitmapFromDib(const std::vector<uint8_t>& dib)
{
    if (dib.empty()) {
        return TGdiBitmap();
    }
    const uint32_t coloursUsed = U32At(dib, 32);
    const uint32_t imageSize = U32At(dib, 20);
    void* pBits = nullptr;
    TGdiBitmap bitmap(::CreateDIBSection(nullptr, reinterpret_cast<const BITMAPINFO*>(dib.data()), DIB_RGB_COLORS,
                                         &pBits, nullptr, 0));
    EXPECT_TRUE(bitmap) << "CreateDIBSection error " << ::GetLastError();
    if (bitmap) {
        std::memcpy(pBits, dib.data() + refcursor::kDibHeaderSize + 4 * coloursUsed, imageSize);
    }
    return bitmap;
}

TIcon CursorOf(TCursorPicture picture)
{
    const TGdiBitmap colour = BitmapFromDib(refcursor::ColourBitmapOf(picture));
    const TGdiBitmap mask = BitmapFromDib(refcursor::MaskBitmapOf(picture));
    ICONINFO info{};
    info.fIcon = FALSE;
    info.hbmColor = colour.Get();
    info.hbmMask = mask.Get();
    TIcon icon(::CreateIconIndirect(&info));
    EXPECT_TRUE(icon) << "CreateIconIndirect error " << ::GetLastError();
    return icon;  // the icon holds copies of both bitmaps
}

// A top-down 32-bit target filled with `background`, the cursor drawn 1:1 at (kOrigin, kOrigin).
std::vector<uint32_t> DrawOver(HICON hIcon, uint32_t background)
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = kTargetSide;
    info.bmiHeader.biHeight = -kTargetSide;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* pBits = nullptr;
    const TGdiBitmap target(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pBits, nullptr, 0));
    const TDeviceContext dc(::CreateCompatibleDC(nullptr));
    if (!target || !dc) {
        ADD_FAILURE() << "no target, error " << ::GetLastError();
        return {};
    }
    const TSelectedObject selected(dc.Get(), target.Get());
    auto* pPixels = static_cast<uint32_t*>(pBits);
    std::fill(pPixels, pPixels + kTargetSide * kTargetSide, background);
    EXPECT_TRUE(::DrawIconEx(dc.Get(), kOrigin, kOrigin, hIcon, refcursor::kCursorSize, refcursor::kCursorSize, 0,
                             nullptr, DI_NORMAL))
        << "DrawIconEx error " << ::GetLastError();
    ::GdiFlush();
    return std::vector<uint32_t>(pPixels, pPixels + kTargetSide * kTargetSide);
}

TEST(CursorDrawing, EveryPixelIsTheExpectedOne)
{
    for (TCursorPicture picture : {TCursorPicture::Colour, TCursorPicture::Monochrome}) {
        const TIcon icon = CursorOf(picture);
        ASSERT_TRUE(icon);
        for (uint32_t background : {0x00000000u, 0x00FFFFFFu, 0xFF123456u, 0x0080C040u}) {
            SCOPED_TRACE(testing::Message() << refcursor::CursorPictureName(picture) << " over " << std::hex
                                            << background);
            const std::vector<uint32_t> pixels = DrawOver(icon.Get(), background);
            ASSERT_EQ(pixels.size(), size_t{kTargetSide * kTargetSide});
            int mismatches = 0;
            for (int y = 0; y < kTargetSide; ++y) {
                for (int x = 0; x < kTargetSide; ++x) {
                    const uint32_t expected =
                        refcursor::ExpectedPixel(picture, x - kOrigin, y - kOrigin, background) & refcursor::kRgbMask;
                    const uint32_t actual = pixels[static_cast<size_t>(y * kTargetSide + x)] & refcursor::kRgbMask;
                    if (actual != expected && ++mismatches <= 5) {
                        ADD_FAILURE() << "target (" << x << ", " << y << "): " << std::hex << actual << ", expected "
                                      << expected;
                    }
                }
            }
            EXPECT_EQ(mismatches, 0);
        }
    }
}

TEST(CursorDrawing, NoneHasNoBitmapsToMakeACursorOf)
{
    EXPECT_TRUE(refcursor::ColourBitmapOf(TCursorPicture::None).empty());
    EXPECT_TRUE(refcursor::MaskBitmapOf(TCursorPicture::None).empty());
    ICONINFO info{};
    info.fIcon = FALSE;
    const TIcon icon(::CreateIconIndirect(&info));
    EXPECT_FALSE(icon) << "a cursor without bitmaps is refused, as a drawer that got handle 0 sees it";
}

}  // namespace
