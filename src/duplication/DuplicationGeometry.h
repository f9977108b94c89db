// Arithmetic of the duplication engine that needs no GPU: where a move rectangle reads from, how
// many rectangles a metadata byte count holds, how the metadata buffer grows, the full-surface quad
// every scaled draw uses, the rotation pass's quads, and the unrotated (native) size of a rotated output.
//
// Platform-free; the engine converts DXGI rectangles to THooksRect at its edge. Coordinates come
// from desktop duplication and are used as reported: nothing here clips a rectangle to an image.
#pragma once

#include "framebuffer/TFrameBufferHeader.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace dupgeo {

// Layouts of the platform's metadata records: a move rectangle is the source point (x, y) and
// the destination rectangle, all signed 32-bit; a dirty rectangle is one rectangle.
constexpr uint32_t kMoveRectBytes = 24;
constexpr uint32_t kDirtyRectBytes = 16;

struct TMoveRect {
    int32_t iSourceX;
    int32_t iSourceY;
    THooksRect destination;
};
static_assert(sizeof(TMoveRect) == kMoveRectBytes);
static_assert(sizeof(THooksRect) == kDirtyRectBytes);

// The rectangle a move reads: the destination's size with its top-left corner at the source
// point. Right and bottom are computed in 64 bits and clamped into int32.
THooksRect MoveSourceRect(const TMoveRect& move);

// Whole records in `bytes` (a partial record at the end is not counted).
uint32_t MoveRectCount(uint32_t bytes);
uint32_t DirtyRectCount(uint32_t bytes);
// What is left of a buffer of `total` bytes behind `used` bytes; 0 when `used` is not smaller.
uint32_t BytesBehind(uint32_t total, uint32_t used);

// The size the metadata buffer must have for a frame that reports `totalMetadataBytes`: the buffer
// only grows, to exactly the frame's size, and never shrinks.
size_t GrownMetaDataSize(size_t currentBytes, uint32_t totalMetadataBytes);

// A vertex is position (x, y, z) and texture coordinate (u, v): five floats, 20 bytes.
constexpr uint32_t kVertexFloats = 5;
constexpr uint32_t kVertexStride = kVertexFloats * sizeof(float);
constexpr uint32_t kQuadVertexCount = 6;
constexpr uint32_t kQuadBytes = kQuadVertexCount * kVertexStride;
static_assert(kQuadBytes == 120);

// Two triangles covering the whole viewport, texture top-left at the viewport's top-left.
// Also the 0-degree quad of the rotation pass.
constexpr std::array<float, kQuadVertexCount * kVertexFloats> kFullSurfaceQuad = {
    -1.0f, 1.0f,  0.0f, 0.0f, 0.0f,  //
    1.0f,  -1.0f, 0.0f, 1.0f, 1.0f,  //
    -1.0f, -1.0f, 0.0f, 0.0f, 1.0f,  //
    -1.0f, 1.0f,  0.0f, 0.0f, 0.0f,  //
    1.0f,  1.0f,  0.0f, 1.0f, 0.0f,  //
    1.0f,  -1.0f, 0.0f, 1.0f, 1.0f,  //
};

// The rotation pass's quads for 90, 180 and 270 degrees: the texture coordinates of the
// full-surface quad, positions turned so that the source's top-left corner lands at the target's
// top-right (90, a clockwise quarter turn), bottom-right (180) or bottom-left (270) corner.
constexpr std::array<float, kQuadVertexCount * kVertexFloats> kRotationQuad90 = {
    1.0f,  1.0f,  0.0f, 0.0f, 0.0f,  //
    -1.0f, -1.0f, 0.0f, 1.0f, 1.0f,  //
    -1.0f, 1.0f,  0.0f, 0.0f, 1.0f,  //
    1.0f,  1.0f,  0.0f, 0.0f, 0.0f,  //
    1.0f,  -1.0f, 0.0f, 1.0f, 0.0f,  //
    -1.0f, -1.0f, 0.0f, 1.0f, 1.0f,  //
};
constexpr std::array<float, kQuadVertexCount * kVertexFloats> kRotationQuad180 = {
    1.0f,  -1.0f, 0.0f, 0.0f, 0.0f,  //
    -1.0f, 1.0f,  0.0f, 1.0f, 1.0f,  //
    1.0f,  1.0f,  0.0f, 0.0f, 1.0f,  //
    1.0f,  -1.0f, 0.0f, 0.0f, 0.0f,  //
    -1.0f, -1.0f, 0.0f, 1.0f, 0.0f,  //
    -1.0f, 1.0f,  0.0f, 1.0f, 1.0f,  //
};
constexpr std::array<float, kQuadVertexCount * kVertexFloats> kRotationQuad270 = {
    -1.0f, -1.0f, 0.0f, 0.0f, 0.0f,  //
    1.0f,  1.0f,  0.0f, 1.0f, 1.0f,  //
    1.0f,  -1.0f, 0.0f, 0.0f, 1.0f,  //
    -1.0f, -1.0f, 0.0f, 0.0f, 0.0f,  //
    -1.0f, 1.0f,  0.0f, 1.0f, 0.0f,  //
    1.0f,  1.0f,  0.0f, 1.0f, 1.0f,  //
};

// Output rotations as the platform numbers them.
constexpr uint32_t kRotationUnspecified = 0;
constexpr uint32_t kRotationIdentity = 1;
constexpr uint32_t kRotation90 = 2;
constexpr uint32_t kRotation180 = 3;
constexpr uint32_t kRotation270 = 4;

// Neither unspecified nor identity: the output's frames arrive in another orientation than its
// desktop rectangle.
bool IsRotated(uint32_t rotation);

struct TImageSize {
    uint32_t ui32Width = 0;
    uint32_t ui32Height = 0;
    bool operator==(const TImageSize&) const = default;
};

// right - left by bottom - top; a negative extent counts as 0 (exact for any int32 coordinates).
TImageSize DesktopSize(const THooksRect& desktop);
// The size in which the output delivers frames: the desktop size with width and height exchanged
// for 90 and 270 degrees, the desktop size for any other value.
TImageSize NativeSize(uint32_t rotation, const THooksRect& desktop);

}  // namespace dupgeo
