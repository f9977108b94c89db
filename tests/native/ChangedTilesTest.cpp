// The screen-backed test duplication's dirty rectangles: which tiles of two grabs differ and how
// they merge, on images held in vectors of exactly their size (rows a stride apart).
#include "ChangedTiles.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

namespace {

using testdup::FindChangedRects;
using testdup::MaxChangedRects;
using testdup::TPixelView;
using Rect = std::array<int32_t, 4>;

struct Image {
    uint32_t width;
    uint32_t height;
    size_t stride;
    std::vector<uint8_t> bytes;

    Image(uint32_t w, uint32_t h, size_t strideBytes) : width(w), height(h), stride(strideBytes), bytes(h * strideBytes)
    {
        for (size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<uint8_t>(i * 13 + 5);
        }
    }
    TPixelView View() const { return {bytes.data(), width, height, stride}; }
};

std::vector<Rect> Changed(const Image& previous, const Image& current, uint32_t capacity)
{
    std::vector<THooksRect> rects(capacity);
    const uint32_t count = FindChangedRects(previous.View(), current.View(), rects.data(), capacity);
    std::vector<Rect> result;
    for (uint32_t i = 0; i < count; ++i) {
        result.push_back({rects[i].left, rects[i].top, rects[i].right, rects[i].bottom});
    }
    return result;
}

TEST(ChangedTiles, TilesThatDifferMergePerBand)
{
    // 200 x 130: tiles of 64 with a last column 8 wide and a last row 2 high.
    struct Case {
        const char* name;
        std::vector<std::pair<uint32_t, uint32_t>> changedPixels;
        size_t byteInPixel;  // which of the pixel's four bytes changes
        std::vector<Rect> expected;
    };
    const Case cases[] = {
        {"identical", {}, 0, {}},
        {"one pixel in the first tile", {{0, 0}}, 0, {{0, 0, 64, 64}}},
        {"the top byte alone counts", {{63, 63}}, 3, {{0, 0, 64, 64}}},
        {"the last partial tile is clipped to the image", {{199, 129}}, 1, {{192, 128, 200, 130}}},
        {"neighbours in a band merge", {{70, 10}, {130, 63}}, 2, {{64, 0, 192, 64}}},
        {"a run reaching the right edge", {{130, 70}, {195, 127}}, 0, {{128, 64, 200, 128}}},
        {"runs apart stay apart", {{10, 10}, {150, 10}}, 0, {{0, 0, 64, 64}, {128, 0, 192, 64}}},
        {"bands are not merged", {{10, 70}, {10, 10}}, 0, {{0, 0, 64, 64}, {0, 64, 64, 128}}},
        {"a whole band, both ends of one, the last band",
         {{0, 0}, {64, 0}, {128, 0}, {192, 0}, {0, 64}, {199, 64}, {5, 129}},
         0,
         {{0, 0, 200, 64}, {0, 64, 64, 128}, {192, 64, 200, 128}, {0, 128, 64, 130}}},
    };
    for (const size_t stride : {size_t{800}, size_t{832}}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + ", stride " + std::to_string(stride));
            const Image previous(200, 130, stride);
            Image current = previous;
            for (const auto& [x, y] : c.changedPixels) {
                current.bytes[y * stride + x * 4 + c.byteInPixel] ^= 0x40;
            }
            EXPECT_EQ(Changed(previous, current, MaxChangedRects(200, 130)), c.expected);
        }
    }
}

TEST(ChangedTiles, PaddingIsIgnoredAndOverflowGivesTheWholeImage)
{
    const Image previous(130, 70, 600);
    Image current = previous;
    current.bytes[130 * 4 + 7] ^= 1;  // behind the first row's last pixel
    EXPECT_EQ(Changed(previous, current, 4), std::vector<Rect>{});

    // A checkerboard of changed tiles needs every rectangle MaxChangedRects allows.
    const Image big(1920, 1080, 1920 * 4);
    Image checker = big;
    for (uint32_t ty = 0; ty < 17; ++ty) {
        for (uint32_t tx = ty % 2; tx < 30; tx += 2) {
            checker.bytes[(ty * 64) * big.stride + tx * 64 * 4] ^= 1;
        }
    }
    const uint32_t most = MaxChangedRects(1920, 1080);
    EXPECT_EQ(most, 17u * 15u);
    EXPECT_EQ(Changed(big, checker, most).size(), most);
    EXPECT_EQ(Changed(big, checker, most - 1), (std::vector<Rect>{{0, 0, 1920, 1080}}));
    EXPECT_EQ(Changed(big, checker, 0), std::vector<Rect>{});

    const Image other(1920, 1079, 1920 * 4);
    EXPECT_EQ(Changed(big, other, 1), (std::vector<Rect>{{0, 0, 1920, 1079}}));
}

}  // namespace
