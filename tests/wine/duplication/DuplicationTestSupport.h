// What the duplication engine's suite needs around it: the real output to duplicate, a stand-in
// output whose description the test chooses, coordinate-encoding desktop pictures, a CPU model of
// the desktop image that replays move and dirty rectangles the way Wine's Direct3D executes the
// engine's copies, read-back of a mapped surface, and a CPU reference of the scaled draw.
#pragma once

#include "TStandInOutput.h"
#include "duplication/TDXGIDuplication.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <utility>
#include <vector>

namespace duptest {

// The first output of the first adapter (under Wine: \\.\DISPLAY1, 1920 x 1080) and its adapter.
struct TRealOutput {
    TComPtr<IDXGIAdapter1> pAdapter;
    TComPtr<IDXGIOutput1> pOutput;
    uint32_t ui32Width = 0;
    uint32_t ui32Height = 0;
};
TRealOutput FirstOutput();

// An output whose description the test chooses.
using TStandInOutput = testdup::TStandInOutput;

// A desktop picture whose every pixel says where it is (up to 2048 x 2048) and which of four
// pictures (tag 0 to 3) it belongs to: B = x & 255, G = y & 255, R = (x >> 8) | (y >> 8) << 3 |
// tag << 6, A = 128 + ((x + y) & 127), so alpha is never 0 and varies.
uint32_t Pattern(uint32_t tag, int x, int y);

// Width x height 32-bit pixels, row by row.
struct TImage {
    uint32_t ui32Width = 0;
    uint32_t ui32Height = 0;
    std::vector<uint32_t> vecPixels;
    uint32_t At(uint32_t x, uint32_t y) const { return vecPixels[size_t{y} * ui32Width + x]; }
};

// The desktop image as the engine should hold it. A copy whose box does not lie wholly inside
// both textures is dropped whole: that is what Wine's Direct3D does with the engine's unclipped
// boxes (DuplicationImageTest pins it).
class TDesktopModel {
public:
    TDesktopModel(uint32_t ui32Width, uint32_t ui32Height);
    void Fill(uint32_t tag);
    void Move(const DXGI_OUTDUPL_MOVE_RECT& move);
    void Dirty(const RECT& rect, uint32_t tag);
    const TImage& Image() const { return image; }

private:
    bool Fits(LONG left, LONG top, LONG right, LONG bottom) const;
    TImage image;
    std::vector<uint32_t> vecScratch;  // the engine's move surface
};

// Maps the surface, copies `ui32Width` pixels of each of its Height(id) rows, unmaps. An empty
// image when the mapping fails.
TImage ReadSurface(TDXGIDuplication& engine, uint32_t id, uint32_t ui32Width);

// The whole of a B8G8R8A8 texture of `engine`'s device, read through a staging copy; an empty image
// when that fails.
TImage ReadTexture(TDXGIDuplication& engine, ID3D11Texture2D* pTexture);
// Width x height of a texture.
std::pair<uint32_t, uint32_t> TextureSize(ID3D11Texture2D* pTexture);

// `native` turned upright for an output rotated by `rotation` (2: 90, 3: 180, 4: 270 degrees): at
// 90 degrees its top-left pixel lands at the top-right corner (a clockwise quarter turn), at 180 at
// the bottom-right, at 270 at the bottom-left.
TImage Rotated(const TImage& native, uint32_t rotation);

// Every pixel equal; otherwise the count of differing pixels and the first one.
::testing::AssertionResult SameImage(const TImage& actual, const TImage& expected);

// The scaled draw as the GPU computes it: the source region (sx, sy) of srcW x srcH of `desktop`
// drawn into the viewport (vx, vy, vw, vh) of a dstW x dstH image cleared to 0, sampled at pixel
// centres with bilinear filtering and wrap addressing. Each channel is compared within ±tolerance.
::testing::AssertionResult MatchesScaledDraw(const TImage& actual, const TImage& desktop, uint32_t sx, uint32_t sy,
                                             uint32_t srcW, uint32_t srcH, uint32_t vx, uint32_t vy, uint32_t vw,
                                             uint32_t vh, int tolerance);

}  // namespace duptest
