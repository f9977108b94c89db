#include "DuplicationTestSupport.h"
#include "TextureReadback.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <tuple>

namespace duptest {

TRealOutput FirstOutput()
{
    TRealOutput output;
    const std::vector<TDisplayAdapterInfo> adapters = TDXGIDuplication::EnumerateDisplayAdapters();
    if (adapters.empty()) {
        return output;
    }
    const TDisplayOutputInfo& first = adapters.front().vecOutputs.front();
    output.pAdapter = adapters.front().pAdapter;
    output.pOutput = first.pOutput;
    output.ui32Width = static_cast<uint32_t>(first.rcDesktopCoordinates.right - first.rcDesktopCoordinates.left);
    output.ui32Height = static_cast<uint32_t>(first.rcDesktopCoordinates.bottom - first.rcDesktopCoordinates.top);
    return output;
}

uint32_t Pattern(uint32_t tag, int x, int y)
{
    const uint32_t ux = static_cast<uint32_t>(x);
    const uint32_t uy = static_cast<uint32_t>(y);
    const uint32_t alpha = 128u + ((ux + uy) & 127u);
    const uint32_t red = ((ux >> 8) & 7u) | ((uy >> 8) & 7u) << 3 | (tag & 3u) << 6;
    return alpha << 24 | red << 16 | (uy & 0xFFu) << 8 | (ux & 0xFFu);
}

TDesktopModel::TDesktopModel(uint32_t ui32Width, uint32_t ui32Height)
    : image{ui32Width, ui32Height, std::vector<uint32_t>(size_t{ui32Width} * ui32Height)},
      vecScratch(image.vecPixels.size())
{
}

void TDesktopModel::Fill(uint32_t tag)
{
    for (uint32_t y = 0; y < image.ui32Height; ++y) {
        for (uint32_t x = 0; x < image.ui32Width; ++x) {
            image.vecPixels[size_t{y} * image.ui32Width + x] = Pattern(tag, static_cast<int>(x), static_cast<int>(y));
        }
    }
}

bool TDesktopModel::Fits(LONG left, LONG top, LONG right, LONG bottom) const
{
    return left >= 0 && top >= 0 && left < right && top < bottom && right <= static_cast<LONG>(image.ui32Width) &&
           bottom <= static_cast<LONG>(image.ui32Height);
}

void TDesktopModel::Move(const DXGI_OUTDUPL_MOVE_RECT& move)
{
    const RECT& d = move.DestinationRect;
    const LONG sx = move.SourcePoint.x, sy = move.SourcePoint.y;
    const LONG w = d.right - d.left, h = d.bottom - d.top;
    const size_t width = image.ui32Width;
    // Out to the scratch surface at the source's own coordinates, then back to the destination:
    // each copy happens only when its box fits.
    if (!Fits(sx, sy, sx + w, sy + h)) {
        return;
    }
    for (LONG y = sy; y < sy + h; ++y) {
        std::memcpy(&vecScratch[y * width + sx], &image.vecPixels[y * width + sx], size_t(w) * 4);
    }
    if (!Fits(d.left, d.top, d.left + w, d.top + h)) {
        return;
    }
    for (LONG y = 0; y < h; ++y) {
        std::memcpy(&image.vecPixels[(d.top + y) * width + d.left], &vecScratch[(sy + y) * width + sx], size_t(w) * 4);
    }
}

void TDesktopModel::Dirty(const RECT& r, uint32_t tag)
{
    if (!Fits(r.left, r.top, r.right, r.bottom)) {
        return;
    }
    for (LONG y = r.top; y < r.bottom; ++y) {
        for (LONG x = r.left; x < r.right; ++x) {
            image.vecPixels[size_t(y) * image.ui32Width + size_t(x)] = Pattern(tag, x, y);
        }
    }
}

TImage ReadSurface(TDXGIDuplication& engine, uint32_t id, uint32_t ui32Width)
{
    TImage image;
    if (!engine.MapSurface(id)) {
        return image;
    }
    const uint8_t* pData = engine.DataPointer(id);
    const uint32_t ui32Stride = engine.DataStride(id);
    image.ui32Width = ui32Width;
    image.ui32Height = engine.Height(id);
    image.vecPixels.resize(size_t{ui32Width} * image.ui32Height);
    if (pData != nullptr && ui32Stride >= ui32Width * 4) {
        for (uint32_t y = 0; y < image.ui32Height; ++y) {
            std::memcpy(&image.vecPixels[size_t{y} * ui32Width], pData + size_t{y} * ui32Stride, size_t{ui32Width} * 4);
        }
    }
    engine.UnmapSurface(id);
    return image;
}

TImage ReadTexture(TDXGIDuplication& engine, ID3D11Texture2D* pTexture)
{
    TImage image;
    image.vecPixels = fakedup::ReadTexturePixels(engine.Device(), pTexture);
    if (!image.vecPixels.empty()) {
        std::tie(image.ui32Width, image.ui32Height) = TextureSize(pTexture);
    }
    return image;
}

std::pair<uint32_t, uint32_t> TextureSize(ID3D11Texture2D* pTexture)
{
    D3D11_TEXTURE2D_DESC desc = {};
    pTexture->GetDesc(&desc);
    return {desc.Width, desc.Height};
}

TImage Rotated(const TImage& native, uint32_t rotation)
{
    const uint32_t w = native.ui32Width, h = native.ui32Height;
    const bool bQuarter = rotation == 2 || rotation == 4;
    TImage image;
    image.ui32Width = bQuarter ? h : w;
    image.ui32Height = bQuarter ? w : h;
    image.vecPixels.resize(native.vecPixels.size());
    for (uint32_t ty = 0; ty < image.ui32Height; ++ty) {
        for (uint32_t tx = 0; tx < image.ui32Width; ++tx) {
            uint32_t sx = tx, sy = ty;
            if (rotation == 2) {
                sx = ty, sy = h - 1 - tx;
            } else if (rotation == 3) {
                sx = w - 1 - tx, sy = h - 1 - ty;
            } else if (rotation == 4) {
                sx = w - 1 - ty, sy = tx;
            }
            image.vecPixels[size_t{ty} * image.ui32Width + tx] = native.At(sx, sy);
        }
    }
    return image;
}

namespace {

std::string Hex8(uint32_t value)
{
    std::ostringstream text;
    text << std::hex << value;
    return text.str();
}

}  // namespace

::testing::AssertionResult SameImage(const TImage& actual, const TImage& expected)
{
    if (actual.ui32Width != expected.ui32Width || actual.ui32Height != expected.ui32Height) {
        return ::testing::AssertionFailure() << "size " << actual.ui32Width << "x" << actual.ui32Height << ", expected "
                                             << expected.ui32Width << "x" << expected.ui32Height;
    }
    size_t nDiffering = 0, nFirst = 0;
    for (size_t i = actual.vecPixels.size(); i-- > 0;) {
        if (actual.vecPixels[i] != expected.vecPixels[i]) {
            ++nDiffering;
            nFirst = i;
        }
    }
    if (nDiffering == 0) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << nDiffering << " pixels differ, first at (" << nFirst % actual.ui32Width
                                         << ", " << nFirst / actual.ui32Width << "): " << Hex8(actual.vecPixels[nFirst])
                                         << " instead of " << Hex8(expected.vecPixels[nFirst]);
}

namespace {

// One channel of the bilinear sample at texture coordinates (u, v) of the srcW x srcH region at
// (sx, sy) of `desktop`, wrap addressing: texel centres lie at (i + 0.5) / size.
double Bilinear(const TImage& desktop, uint32_t sx, uint32_t sy, uint32_t srcW, uint32_t srcH, double u, double v,
                int shift)
{
    const double tx = u * srcW - 0.5, ty = v * srcH - 0.5;
    const double fx = std::floor(tx), fy = std::floor(ty);
    const double ax = tx - fx, ay = ty - fy;
    auto texel = [&](double i, double j) {
        const auto wrap = [](double k, uint32_t n) { return static_cast<uint32_t>((static_cast<int64_t>(k) % n + n) % n); };
        return double((desktop.At(sx + wrap(i, srcW), sy + wrap(j, srcH)) >> shift) & 0xFFu);
    };
    return (1 - ay) * ((1 - ax) * texel(fx, fy) + ax * texel(fx + 1, fy)) +
           ay * ((1 - ax) * texel(fx, fy + 1) + ax * texel(fx + 1, fy + 1));
}

}  // namespace

::testing::AssertionResult MatchesScaledDraw(const TImage& actual, const TImage& desktop, uint32_t sx, uint32_t sy,
                                             uint32_t srcW, uint32_t srcH, uint32_t vx, uint32_t vy, uint32_t vw,
                                             uint32_t vh, int tolerance)
{
    size_t nDiffering = 0;
    std::ostringstream first;
    for (uint32_t y = 0; y < actual.ui32Height; ++y) {
        for (uint32_t x = 0; x < actual.ui32Width; ++x) {
            const bool bInside = x >= vx && x < vx + vw && y >= vy && y < vy + vh;
            const double u = (x - vx + 0.5) / vw, v = (y - vy + 0.5) / vh;
            const uint32_t got = actual.At(x, y);
            for (int shift = 0; shift < 32; shift += 8) {
                const double want = bInside ? Bilinear(desktop, sx, sy, srcW, srcH, u, v, shift) : 0.0;
                if (std::abs(double((got >> shift) & 0xFFu) - want) > tolerance) {
                    if (nDiffering++ == 0) {
                        first << "(" << x << ", " << y << ") is " << Hex8(got) << ", channel at bit " << shift
                              << " should be " << want;
                    }
                    break;
                }
            }
        }
    }
    if (nDiffering == 0) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << nDiffering << " pixels off, first " << first.str();
}

}  // namespace duptest
