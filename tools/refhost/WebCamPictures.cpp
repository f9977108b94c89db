#include "WebCamPictures.h"

namespace refwebcam {

uint32_t WebCamPixel(uint32_t x, uint32_t y, uint32_t generation)
{
    const bool bTransparent = x >= 32 && x < 48 && y >= 32 && y < 48;
    const uint32_t alpha = bTransparent ? 0u : 0xFFu;
    const uint32_t red = 0x40u + 0x40u * (generation & 3u);
    return alpha << 24 | (red & 0xFFu) << 16 | (y & 0xFFu) << 8 | (x & 0xFFu);
}

uint32_t BackgroundPixel(uint32_t x, uint32_t /*y*/)
{
    return x % 8 == 0 ? 0xFF000000u : 0xFF006000u;
}

}  // namespace refwebcam
