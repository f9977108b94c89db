#include "FrameEncoding.h"

#include <cmath>
#include <cstdio>
#include <numeric>

// The writer's file functions are left out: files are written by the caller (wide paths on Windows).
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

namespace {

bool IsConsistent(const TFramePicture& picture)
{
    return picture.ui32Width != 0 && picture.ui32Height != 0 &&
           picture.vecPixels.size() == uint64_t{picture.ui32Width} * picture.ui32Height;
}

uint8_t Blue(uint32_t bgra)
{
    return static_cast<uint8_t>(bgra);
}

uint8_t Green(uint32_t bgra)
{
    return static_cast<uint8_t>(bgra >> 8);
}

uint8_t Red(uint32_t bgra)
{
    return static_cast<uint8_t>(bgra >> 16);
}

void AppendBytes(std::vector<uint8_t>* pBytes, const void* pData, size_t size)
{
    const uint8_t* const p = static_cast<const uint8_t*>(pData);
    pBytes->insert(pBytes->end(), p, p + size);
}

// Average chroma of the block of up to 2x2 pixels whose top-left pixel is (x, y).
void BlockChroma(const TFramePicture& picture, uint32_t x, uint32_t y, uint8_t* pU, uint8_t* pV)
{
    int sums[3] = {0, 0, 0};
    int count = 0;
    for (uint32_t row = y; row < y + 2 && row < picture.ui32Height; ++row) {
        for (uint32_t column = x; column < x + 2 && column < picture.ui32Width; ++column) {
            const uint32_t bgra = picture.vecPixels[size_t{row} * picture.ui32Width + column];
            sums[0] += Red(bgra);
            sums[1] += Green(bgra);
            sums[2] += Blue(bgra);
            ++count;
        }
    }
    const int red = (sums[0] + count / 2) / count;
    const int green = (sums[1] + count / 2) / count;
    const int blue = (sums[2] + count / 2) / count;
    *pU = ChromaUOf(red, green, blue);
    *pV = ChromaVOf(red, green, blue);
}

}  // namespace

uint8_t LumaOf(uint32_t bgra)
{
    return static_cast<uint8_t>(((66 * Red(bgra) + 129 * Green(bgra) + 25 * Blue(bgra) + 128) >> 8) + 16);
}

// The right shift of a negative sum rounds toward minus infinity (arithmetic shift, as C++20
// defines it), which the formula expects.
uint8_t ChromaUOf(int red, int green, int blue)
{
    return static_cast<uint8_t>(((-38 * red - 74 * green + 112 * blue + 128) >> 8) + 128);
}

uint8_t ChromaVOf(int red, int green, int blue)
{
    return static_cast<uint8_t>(((112 * red - 94 * green - 18 * blue + 128) >> 8) + 128);
}

std::vector<uint8_t> BgraToRgb(const TFramePicture& picture)
{
    std::vector<uint8_t> rgb;
    rgb.reserve(picture.vecPixels.size() * 3);
    for (uint32_t bgra : picture.vecPixels) {
        rgb.push_back(Red(bgra));
        rgb.push_back(Green(bgra));
        rgb.push_back(Blue(bgra));
    }
    return rgb;
}

std::vector<uint8_t> EncodePng(const TFramePicture& picture)
{
    // stb takes int sizes and a row length of width * 3 bytes.
    if (!IsConsistent(picture) || picture.ui32Width > 0x7FFFFFFFu / 3 || picture.ui32Height > 0x7FFFFFFFu) {
        return {};
    }
    const std::vector<uint8_t> rgb = BgraToRgb(picture);
    std::vector<uint8_t> png;
    auto append = [](void* pContext, void* pData, int size) {
        AppendBytes(static_cast<std::vector<uint8_t>*>(pContext), pData, static_cast<size_t>(size));
    };
    const int width = static_cast<int>(picture.ui32Width);
    if (stbi_write_png_to_func(append, &png, width, static_cast<int>(picture.ui32Height), 3, rgb.data(), width * 3) == 0) {
        return {};
    }
    return png;
}

void AppendRawFrame(const TFramePicture& picture, std::vector<uint8_t>* pBytes)
{
    // The pixels are the capturer's bytes read as little-endian values; written back byte by
    // byte so the stream does not depend on the host's byte order.
    pBytes->reserve(pBytes->size() + picture.vecPixels.size() * 4);
    for (uint32_t bgra : picture.vecPixels) {
        const uint8_t bytes[4] = {Blue(bgra), Green(bgra), Red(bgra), static_cast<uint8_t>(bgra >> 24)};
        AppendBytes(pBytes, bytes, sizeof bytes);
    }
}

std::string Y4mHeader(uint32_t ui32Width, uint32_t ui32Height, double dFramesPerSecond)
{
    uint64_t numerator = 30;
    uint64_t denominator = 1;
    if (dFramesPerSecond > 0 && dFramesPerSecond < 1e6) {
        const uint64_t thousandths = static_cast<uint64_t>(std::llround(dFramesPerSecond * 1000.0));
        if (thousandths != 0) {
            const uint64_t divisor = std::gcd(thousandths, uint64_t{1000});
            numerator = thousandths / divisor;
            denominator = 1000 / divisor;
        }
    }
    char text[128];
    std::snprintf(text, sizeof text, "YUV4MPEG2 W%u H%u F%llu:%llu Ip A1:1 C420jpeg\n", ui32Width, ui32Height,
                  static_cast<unsigned long long>(numerator), static_cast<unsigned long long>(denominator));
    return text;
}

void AppendY4mFrame(const TFramePicture& picture, std::vector<uint8_t>* pBytes)
{
    static const char kFrameMarker[] = "FRAME\n";
    AppendBytes(pBytes, kFrameMarker, sizeof kFrameMarker - 1);
    for (uint32_t bgra : picture.vecPixels) {
        pBytes->push_back(LumaOf(bgra));
    }
    const uint32_t chromaWidth = (picture.ui32Width + 1) / 2;
    const uint32_t chromaHeight = (picture.ui32Height + 1) / 2;
    std::vector<uint8_t> planeV;
    planeV.reserve(size_t{chromaWidth} * chromaHeight);
    for (uint32_t y = 0; y < picture.ui32Height; y += 2) {
        for (uint32_t x = 0; x < picture.ui32Width; x += 2) {
            uint8_t u = 0;
            uint8_t v = 0;
            BlockChroma(picture, x, y, &u, &v);
            pBytes->push_back(u);
            planeV.push_back(v);
        }
    }
    pBytes->insert(pBytes->end(), planeV.begin(), planeV.end());
}

std::string PngFileName(uint32_t index)
{
    char name[32];
    std::snprintf(name, sizeof name, "frame_%04u.png", index);
    return name;
}
