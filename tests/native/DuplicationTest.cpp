// The duplication engine's arithmetic: move sources, record counts, metadata growth, the quad
// every scaled draw uses, the native size of rotated outputs, and the result names.
#include "duplication/DuplicationGeometry.h"
#include "duplication/TDuplicationResult.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>

namespace {

using Rect = std::array<int32_t, 4>;
constexpr int32_t kMax = INT32_MAX;
constexpr int32_t kMin = INT32_MIN;

Rect R(const THooksRect& r) { return {r.left, r.top, r.right, r.bottom}; }

TEST(DuplicationGeometry, MoveSourceHasTheDestinationsSizeAtTheSourcePoint)
{
    struct Case {
        const char* name;
        int32_t x, y;
        Rect destination;
        Rect source;
    };
    const Case cases[] = {
        {"(10, 20) into (0, 0, 100, 50)", 10, 20, {0, 0, 100, 50}, {10, 20, 110, 70}},
        {"moved up-left", 0, 0, {300, 200, 400, 260}, {0, 0, 100, 60}},
        {"negative origins", -50, -8, {-10, 5, 30, 25}, {-50, -8, -10, 12}},
        {"empty destination", 7, 9, {40, 40, 40, 40}, {7, 9, 7, 9}},
        {"inverted destination keeps its negative size", 100, 100, {50, 50, 40, 45}, {100, 100, 90, 95}},
        {"clamped at the top of int32", kMax - 5, 0, {0, 0, 100, 1}, {kMax - 5, 0, kMax, 1}},
        {"widest destination from the lowest source", kMin, kMin, {kMin, kMin, kMax, kMax}, {kMin, kMin, kMax, kMax}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const dupgeo::TMoveRect move{c.x, c.y, {c.destination[0], c.destination[1], c.destination[2], c.destination[3]}};
        EXPECT_EQ(R(dupgeo::MoveSourceRect(move)), c.source);
    }
}

TEST(DuplicationGeometry, MetadataRecordLayoutsMatchThePlatforms)
{
    // Source point, then the destination: the bytes as the platform writes them.
    const int32_t raw[6] = {10, 20, 0, 1, 100, 51};
    dupgeo::TMoveRect move{};
    std::memcpy(&move, raw, sizeof(raw));
    EXPECT_EQ(std::make_pair(move.iSourceX, move.iSourceY), std::make_pair(10, 20));
    EXPECT_EQ(R(move.destination), (Rect{0, 1, 100, 51}));
}

TEST(DuplicationGeometry, RecordCountsAndRemainingBytes)
{
    struct Case {
        const char* name;
        uint32_t bytes;
        uint32_t moves, dirties;
    };
    const Case cases[] = {
        {"none", 0, 0, 0},         {"one dirty", 16, 0, 1},     {"one move", 24, 1, 1},
        {"partial move", 47, 1, 2}, {"two moves", 48, 2, 3},    {"largest", UINT32_MAX, 178956970, 268435455},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(dupgeo::MoveRectCount(c.bytes), c.moves);
        EXPECT_EQ(dupgeo::DirtyRectCount(c.bytes), c.dirties);
    }
    EXPECT_EQ(dupgeo::BytesBehind(200, 48), 152u);
    EXPECT_EQ(dupgeo::BytesBehind(48, 48), 0u);
    EXPECT_EQ(dupgeo::BytesBehind(48, 72), 0u);  // a count reported beyond the buffer leaves nothing
}

TEST(DuplicationGeometry, MetadataBufferGrowsToExactlyTheFrameSizeAndNeverShrinks)
{
    struct Case {
        const char* name;
        std::array<uint32_t, 4> frames;
        std::array<size_t, 4> sizes;
    };
    const Case cases[] = {
        {"200, 100, 300, 0", {200, 100, 300, 0}, {200, 200, 300, 300}},
        {"rising by one", {1, 2, 3, 4}, {1, 2, 3, 4}},
        {"largest first", {UINT32_MAX, 24, 0, 16}, {UINT32_MAX, UINT32_MAX, UINT32_MAX, UINT32_MAX}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        size_t current = 0;
        for (size_t i = 0; i < c.frames.size(); ++i) {
            current = dupgeo::GrownMetaDataSize(current, c.frames[i]);
            EXPECT_EQ(current, c.sizes[i]) << "frame " << i;
        }
    }
}

// Each vertex maps the viewport's corner to the same texture corner (top-left to (0, 0)), the two
// triangles cover the square once, and both wind clockwise on the screen, the front face of the
// default rasterizer state, so neither is culled.
TEST(DuplicationGeometry, FullSurfaceQuadCoversTheViewportOnceFrontFacing)
{
    const auto& q = dupgeo::kFullSurfaceQuad;
    for (uint32_t v = 0; v < dupgeo::kQuadVertexCount; ++v) {
        SCOPED_TRACE(v);
        const float* p = &q[v * dupgeo::kVertexFloats];
        EXPECT_EQ(p[2], 0.0f);
        EXPECT_EQ(p[3], (p[0] + 1.0f) / 2.0f);
        EXPECT_EQ(p[4], (1.0f - p[1]) / 2.0f);
    }
    double area = 0.0;
    for (uint32_t t = 0; t < 2; ++t) {
        SCOPED_TRACE(t);
        // Screen space: x right, y down, which is what u and v are.
        const float* a = &q[(3 * t + 0) * dupgeo::kVertexFloats + 3];
        const float* b = &q[(3 * t + 1) * dupgeo::kVertexFloats + 3];
        const float* c = &q[(3 * t + 2) * dupgeo::kVertexFloats + 3];
        const double cross = double{b[0] - a[0]} * (c[1] - a[1]) - double{b[1] - a[1]} * (c[0] - a[0]);
        EXPECT_GT(cross, 0.0);  // clockwise with y down
        area += cross / 2.0;
    }
    EXPECT_EQ(area, 1.0);  // the unit square, no overlap
    // The two triangles share the diagonal from top-left to bottom-right.
    EXPECT_EQ(std::memcmp(&q[0], &q[15], 5 * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(&q[5], &q[25], 5 * sizeof(float)), 0);
}

TEST(DuplicationGeometry, NativeSizeExchangesWidthAndHeightForQuarterTurnsOnly)
{
    struct Case {
        const char* name;
        uint32_t rotation;
        Rect desktop;
        uint32_t width, height;
        bool rotated;
    };
    const Case cases[] = {
        {"unspecified", 0, {0, 0, 1920, 1080}, 1920, 1080, false},
        {"identity", 1, {0, 0, 1920, 1080}, 1920, 1080, false},
        {"90 portrait", 2, {0, 0, 1080, 1920}, 1920, 1080, true},
        {"180", 3, {0, 0, 1080, 1920}, 1080, 1920, true},
        {"270 left of the primary", 4, {-1080, -200, 0, 1720}, 1920, 1080, true},
        {"unknown value as 180", 9, {0, 0, 800, 600}, 800, 600, true},
        {"inverted desktop is empty", 2, {100, 100, 50, 300}, 200, 0, true},
        {"widest", 1, {kMin, kMin, kMax, kMax}, UINT32_MAX, UINT32_MAX, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const THooksRect desktop{c.desktop[0], c.desktop[1], c.desktop[2], c.desktop[3]};
        EXPECT_EQ(dupgeo::NativeSize(c.rotation, desktop), (dupgeo::TImageSize{c.width, c.height}));
        EXPECT_EQ(dupgeo::IsRotated(c.rotation), c.rotated);
    }
}

TEST(DuplicationGeometry, ResultNames)
{
    const std::pair<int32_t, const char*> cases[] = {
        {drOk, "drOk"}, {drTimeout, "drTimeout"}, {drAccessLost, "drAccessLost"}, {drError, "drError"},
        {4, "dr?"},     {-1, "dr?"},
    };
    for (const auto& [value, name] : cases) {
        EXPECT_STREQ(DuplicationResultName(value), name) << value;
    }
}

}  // namespace
