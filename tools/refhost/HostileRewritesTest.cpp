// The hostile host's rewrites: reproducible from the seed, reaching every group and the boundary
// values, and landing only in the fields they name (or the cursor bitmap header they name, inside
// the view); a restore puts back exactly the restorable fields.
#include "HostileRewrites.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <set>
#include <utility>
#include <vector>

namespace {

using hostile::TField;
using hostile::TKind;
using hostile::TRewrite;
using hostile::TRewriter;

constexpr uint64_t kSectionSize = kFirstImageAreaOffset + 2 * kCursorBitmapAreaSize;

// A heap section: the header with sane values, the two cursor blocks right behind it.
struct TSection {
    std::vector<uint8_t> vecBytes = std::vector<uint8_t>(kSectionSize, 0);
    TSection()
    {
        TFrameBufferHeader& header = Header();
        header.iRequestedWidth = -1;
        header.iRequestedHeight = -1;
        header.iMaxWidth = 1920;
        header.iMaxHeight = 1080;
        header.ui32CursorColorBitmapOffset = kFirstImageAreaOffset;
        header.ui32CursorMaskBitmapOffset = kFirstImageAreaOffset + kCursorBitmapAreaSize;
    }
    TFrameBufferHeader& Header() { return *reinterpret_cast<TFrameBufferHeader*>(vecBytes.data()); }
    TFrameBufferView View() { return TFrameBufferView(vecBytes.data(), vecBytes.size()); }
};

uint32_t SizeOf(const TField& field)
{
    switch (field.kind) {
    case TKind::U8:
        return 1;
    case TKind::U64:
    case TKind::F64:
        return 8;
    case TKind::Wide:
        return 520;
    default:
        return 4;
    }
}

TEST(HostileRewrites, TheSeedDecidesTheSequence)
{
    TSection section;
    TRewriter first(42, kSectionSize);
    TRewriter again(42, kSectionSize);
    TRewriter other(43, kSectionSize);
    int differences = 0;
    for (int i = 0; i < 500; ++i) {
        const TRewrite a = first.Next(section.Header(), i % 3 == 0);
        const TRewrite b = again.Next(section.Header(), i % 3 == 0);
        const TRewrite c = other.Next(section.Header(), i % 3 == 0);
        ASSERT_EQ(a.ui32Field, b.ui32Field) << i;
        ASSERT_EQ(a.vecBytes, b.vecBytes) << i;
        ASSERT_EQ(a.strValue, b.strValue) << i;
        differences += a.ui32Field != c.ui32Field || a.vecBytes != c.vecBytes ? 1 : 0;
    }
    EXPECT_GT(differences, 400);
}

TEST(HostileRewrites, ReachEveryGroupAndTheBoundaries)
{
    TSection section;
    TRewriter rewriter(7, kSectionSize);
    std::set<hostile::TGroup> groups;
    bool bOffsetPastEnd = false, bIntMax = false, bUnterminated = false, bNaN = false, bMinusOne = false;
    for (int i = 0; i < 5000; ++i) {
        const TRewrite rewrite = rewriter.Next(section.Header(), false);
        const TField& field = hostile::Fields()[rewrite.ui32Field];
        ASSERT_EQ(rewrite.vecBytes.size(), SizeOf(field)) << field.pszName;
        groups.insert(field.group);
        uint32_t u32 = 0;
        if (rewrite.vecBytes.size() == 4) {
            std::memcpy(&u32, rewrite.vecBytes.data(), 4);
        }
        bOffsetPastEnd |= field.kind == TKind::Offset && u32 >= kSectionSize;
        bIntMax |= field.kind == TKind::I32 && u32 == 0x7FFFFFFFu;
        bMinusOne |= field.kind == TKind::I32 && rewrite.strValue == "-1";
        if (field.kind == TKind::Wide && rewrite.strValue == "unterminated") {
            const char16_t* pUnits = reinterpret_cast<const char16_t*>(rewrite.vecBytes.data());
            bool bZero = false;
            for (size_t unit = 0; unit < kWideFieldUnits; ++unit) {
                bZero |= pUnits[unit] == 0;
            }
            EXPECT_FALSE(bZero) << "an unterminated name has no zero unit";
            bUnterminated = true;
        }
        if (field.kind == TKind::F64) {
            double value = 0;
            std::memcpy(&value, rewrite.vecBytes.data(), 8);
            bNaN |= std::isnan(value);
        }
    }
    EXPECT_EQ(groups.size(), hostile::kGroupCount);
    EXPECT_TRUE(bOffsetPastEnd);
    EXPECT_TRUE(bIntMax);
    EXPECT_TRUE(bMinusOne);
    EXPECT_TRUE(bUnterminated);
    EXPECT_TRUE(bNaN);
}

TEST(HostileRewrites, StartUpRewritesTouchOnlyStartUpFields)
{
    TSection section;
    TRewriter rewriter(11, kSectionSize);
    for (int i = 0; i < 1000; ++i) {
        const TField& field = hostile::Fields()[rewriter.Next(section.Header(), true).ui32Field];
        ASSERT_TRUE(field.bStartUp) << field.pszName;
    }
}

// Every byte a rewrite changes lies in its field, or in the bitmap header of the cursor block the
// header pointed at when it was written; a restore brings back the restorable fields and leaves
// the rest (requests, time stamps, the blocks) as the rewrites left them.
TEST(HostileRewrites, WritesStayInTheirFieldsAndRestoreIsExact)
{
    TSection section;
    for (size_t i = kFrameBufferHeaderSize; i < kSectionSize; ++i) {
        section.vecBytes[i] = static_cast<uint8_t>(i * 7);
    }
    section.Header().ui32FrameTimestamps[3] = 0x12345678;
    const std::vector<uint8_t> before = section.vecBytes;
    TFrameBufferHeader sane;
    std::memcpy(static_cast<void*>(&sane), section.vecBytes.data(), sizeof(sane));

    std::vector<bool> allowed(kSectionSize, false);
    for (const TField& field : hostile::Fields()) {
        if (field.kind != TKind::CursorDib) {
            std::fill(allowed.begin() + field.ui32Offset, allowed.begin() + field.ui32Offset + SizeOf(field), true);
        }
    }
    TRewriter rewriter(99, kSectionSize);
    int dibWrites = 0;
    for (int i = 0; i < 20000; ++i) {
        const TRewrite rewrite = rewriter.Next(sane, false);
        const TField& field = hostile::Fields()[rewrite.ui32Field];
        const TFrameBufferView view = section.View();
        const TAreaView block = field.bMaskBlock ? view.CursorMaskBitmap() : view.CursorColorBitmap();
        const bool bApplied = hostile::Apply(view, rewrite);
        if (field.kind == TKind::CursorDib) {
            ASSERT_EQ(bApplied, block.IsValid()) << field.pszName;
            if (bApplied) {
                std::fill(allowed.begin() + block.ui64Offset + field.ui32Offset,
                          allowed.begin() + block.ui64Offset + field.ui32Offset + 4, true);
                ++dibWrites;
            }
        } else {
            ASSERT_TRUE(bApplied) << field.pszName;
        }
    }
    EXPECT_GT(dibWrites, 0);
    for (size_t i = 0; i < kSectionSize; ++i) {
        if (!allowed[i]) {
            ASSERT_EQ(section.vecBytes[i], before[i]) << "byte " << i << " changed outside every field";
        }
    }

    const std::vector<uint8_t> rewritten = section.vecBytes;
    ASSERT_TRUE(hostile::Restore(section.View(), sane, false));
    for (const TField& field : hostile::Fields()) {
        if (field.kind == TKind::CursorDib) {
            continue;
        }
        const std::vector<uint8_t>& expected = field.bRestorable ? before : rewritten;
        for (uint32_t i = field.ui32Offset; i < field.ui32Offset + SizeOf(field); ++i) {
            ASSERT_EQ(section.vecBytes[i], expected[i]) << field.pszName;
        }
    }
    EXPECT_EQ(section.Header().ui32FrameTimestamps[3], 0x12345678u);
    EXPECT_TRUE(std::equal(section.vecBytes.begin() + kFrameBufferHeaderSize, section.vecBytes.end(),
                           rewritten.begin() + kFrameBufferHeaderSize));
}

TEST(HostileRewrites, NothingIsWrittenWithoutAPlaceInTheView)
{
    std::vector<uint8_t> small(kFrameBufferHeaderSize - 1, 0xAB);
    const TFrameBufferView view(small.data(), small.size());
    TSection section;
    TRewriter rewriter(5, kSectionSize);
    for (int i = 0; i < 200; ++i) {
        EXPECT_FALSE(hostile::Apply(view, rewriter.Next(section.Header(), false)));
    }
    TFrameBufferHeader sane{};
    EXPECT_FALSE(hostile::Restore(view, sane, false));
    EXPECT_TRUE(std::all_of(small.begin(), small.end(), [](uint8_t byte) { return byte == 0xAB; }));
}

}  // namespace
