// What the hostile host (THostileHost.h) writes into a running capturer's header: the table of
// header fields the capturer reads, grouped as a host could get them wrong, and a generator that
// turns a seed into a reproducible sequence of rewrites of those fields with plausible, boundary
// and random values.
//
// Platform-free. Every write goes through a TFrameBufferView: header fields are written only when
// the view holds the header, cursor bitmap headers only inside the checked cursor blocks.
#pragma once

#include "framebuffer/FrameBufferView.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hostile {

// What a host under Wine names as a shared texture (no device opens it); the slot is added.
constexpr uint64_t kStandInSharedHandleBase = 0x40000100;

// splitmix64: the same seed gives the same numbers on every build.
class TRandom {
public:
    explicit TRandom(uint64_t ui64Seed) : ui64State(ui64Seed) {}
    uint64_t Next();
    // Uniform in [0, n); 0 for n = 0.
    uint32_t Below(uint32_t n);
    // Uniform in [lo, hi].
    uint32_t Between(uint32_t lo, uint32_t hi) { return lo + Below(hi - lo + 1); }
    bool OneIn(uint32_t n) { return Below(n) == 0; }

private:
    uint64_t ui64State;
};

enum class TGroup : uint8_t {
    Sizes,
    Capacity,
    OffsetsStrides,
    Region,
    MonitorName,
    WebCam,
    Cursor,
    SharedTextures,
    Flags,
    Requests,
};
constexpr uint32_t kGroupCount = 10;
const char* GroupName(TGroup group);

enum class TKind : uint8_t {
    I32,
    U32,
    Offset,     // u32 byte offset of an area in the section
    Stride,     // u32 bytes per row
    U8,
    U64,
    F32,
    F64,
    Wide,       // wchar[260]
    CursorDib,  // i32 inside the BITMAPINFOHEADER at the start of a cursor bitmap block
};

struct TField {
    const char* pszName;
    uint32_t ui32Offset;  // in the header; for CursorDib: in the block's bitmap header
    TKind kind;
    TGroup group;
    bool bStartUp;    // read only while the capturer starts (layout, region, monitor, method)
    bool bRestorable; // put back from the sane copy (requests and cursor pictures are not: their
                      // owners, the frame pump and the cursor publisher, write them anew)
    bool bMaskBlock = false;  // CursorDib: the mask block instead of the colour block
};

// Every field the hostile host rewrites.
const std::vector<TField>& Fields();

struct TRewrite {
    uint32_t ui32Field = 0;          // index into Fields()
    std::vector<uint8_t> vecBytes;   // little-endian value, the field's size
    std::string strValue;            // the value as the capturer would log it (decimal, %g, ...)
    bool bInteger = false;           // strValue is an integer a log line could name
};

// Writes the rewrite into the view; false (nothing written) when its place is not inside the view.
bool Apply(const TFrameBufferView& view, const TRewrite& rewrite);
// Copies every restorable field (only the start-up ones with bStartUpOnly) from `sane`, a copy of
// a header, into the view's header. False when the view holds no header.
bool Restore(const TFrameBufferView& view, const TFrameBufferHeader& sane, bool bStartUpOnly);

class TRewriter {
public:
    // ui64SectionSize: the host's section, for offsets just inside, at and past its end.
    TRewriter(uint64_t ui64Seed, uint64_t ui64SectionSize);

    // A rewrite of a field of a group chosen uniformly (then a field of it uniformly); with
    // bStartUpOnly only fields the capturer reads while it starts. `sane` gives the plausible
    // values their base.
    TRewrite Next(const TFrameBufferHeader& sane, bool bStartUpOnly);

    TRandom& Random() { return random; }

private:
    uint32_t PickField(bool bStartUpOnly);
    TRewrite Make(uint32_t field, const TFrameBufferHeader& sane);
    int64_t IntegerValue(const TField& field, int64_t saneValue);
    double FloatValue();
    std::u16string WideValue(const std::u16string& sane, bool* pUnterminated);

    TRandom random;
    uint64_t ui64SectionSize;
};

}  // namespace hostile
