// The duplication engine's pictures on Wine's Direct3D 11, read back and compared with CPU
// references: the desktop image replayed from move and dirty rectangles (order, overlapping moves,
// the metadata buffer, rectangles outside the image), and surface sets that crop, scale with
// linear filtering and keep their bars.
#include "DuplicationTestSupport.h"
#include "ProcessLogServer.h"
#include "FakeOutputDuplication.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using duptest::Pattern;

// One frame of a script: the picture it acquires (by tag) and its rectangles.
struct TFramePlan {
    uint32_t tag;
    std::vector<DXGI_OUTDUPL_MOVE_RECT> moves;
    std::vector<RECT> dirties;
    std::optional<uint32_t> metadataSize;
    size_t bufferSize = 0;  // the metadata buffer's size afterwards; 0: not checked
};

DXGI_OUTDUPL_MOVE_RECT Move(LONG x, LONG y, LONG left, LONG top, LONG right, LONG bottom)
{
    return DXGI_OUTDUPL_MOVE_RECT{POINT{x, y}, RECT{left, top, right, bottom}};
}

class DuplicationImage : public ::testing::Test {
protected:
    static void SetUpTestSuite() { output = duptest::FirstOutput(); }
    void SetUp() override { ASSERT_TRUE(output.pOutput) << "no adapter with an output"; }

    static fakedup::TFrame Frame(const TFramePlan& plan)
    {
        fakedup::TFrame frame;
        frame.pixel = [tag = plan.tag](int x, int y) { return Pattern(tag, x, y); };
        frame.moves = plan.moves;
        frame.dirties = plan.dirties;
        frame.metadataSize = plan.metadataSize;
        return frame;
    }
    // The first frame: the whole desktop is dirty.
    static TFramePlan WholeDesktop(uint32_t tag)
    {
        return TFramePlan{tag, {}, {RECT{0, 0, LONG(output.ui32Width), LONG(output.ui32Height)}}, std::nullopt, 16};
    }
    // Plays `frames` through a fresh engine and the model; each frame is acquired and released.
    void Play(TDXGIDuplication& engine, fakedup::TFakeDuplicationFactory& factory, duptest::TDesktopModel& model,
              const std::vector<TFramePlan>& frames) const
    {
        for (size_t i = 0; i < frames.size(); ++i) {
            SCOPED_TRACE("frame " + std::to_string(i));
            const TFramePlan& plan = frames[i];
            factory.Push(fakedup::Frame(Frame(plan)));
            ASSERT_EQ(engine.GetFrame(), drOk);
            ASSERT_EQ(engine.ReleaseFrame(), drOk);
            if (plan.metadataSize.value_or(1) != 0) {  // a frame without metadata changes nothing
                std::for_each(plan.moves.begin(), plan.moves.end(), [&](const auto& m) { model.Move(m); });
                std::for_each(plan.dirties.begin(), plan.dirties.end(), [&](const auto& d) { model.Dirty(d, plan.tag); });
            }
            if (plan.bufferSize != 0) {
                EXPECT_EQ(engine.MetaDataBuffer().size(), plan.bufferSize);
            }
        }
    }
    static void ExpectFakeLeftClean(const fakedup::TFakeDuplicationFactory& factory)
    {
        EXPECT_EQ(factory.OutstandingReferences(), 0u);
        EXPECT_EQ(factory.OutstandingTextureReferences(), 0u);
        EXPECT_TRUE(factory.Stats().vecRefusals.empty()) << factory.Stats().vecRefusals.front();
    }

    static duptest::TRealOutput output;
};
duptest::TRealOutput DuplicationImage::output;

// Each case starts a new engine with the whole desktop dirty (picture 0) and ends comparing the
// whole desktop image with the model, which applies a copy only when its box lies inside both
// textures. That is what Wine's Direct3D 11 does with the engine's unclipped boxes: a dirty or
// move rectangle reaching past the image's edge, or with a negative coordinate (a huge unsigned
// box), is dropped whole: nothing of it is copied, not even the part inside, and nothing else is
// touched. The "outside" case pins that.
TEST_F(DuplicationImage, FramesReplayMovesThenDirtiesInBufferOrder)
{
    const LONG w = LONG(output.ui32Width), h = LONG(output.ui32Height);
    struct Case {
        const char* name;
        std::vector<TFramePlan> frames;
        std::vector<std::pair<POINT, uint32_t>> pixels;  // spot checks besides the model
    };
    const Case cases[] = {
        {"first frame only", {}, {{POINT{0, 0}, Pattern(0, 0, 0)}, {POINT{w - 1, h - 1}, Pattern(0, w - 1, h - 1)}}},
        {"source point (10, 20) into (0, 0, 100, 50)",
         {{1, {Move(10, 20, 0, 0, 100, 50)}, {}, std::nullopt}},
         {{POINT{0, 0}, Pattern(0, 10, 20)}, {POINT{99, 49}, Pattern(0, 109, 69)}, {POINT{100, 50}, Pattern(0, 100, 50)}}},
        // The second move reads what the first wrote, and the dirty rectangles lie in the second
        // move's destination: any other order gives another picture.
        {"moves before dirties, each in buffer order",
         {{1, {Move(0, 0, 100, 0, 300, 100), Move(150, 0, 400, 0, 600, 100)}, {RECT{450, 20, 500, 60}, RECT{480, 40, 700, 200}}, std::nullopt}},
         {{POINT{450, 20}, Pattern(1, 450, 20)}, {POINT{400, 0}, Pattern(0, 50, 0)}}},
        {"overlapping moves through the scratch surface",
         {{1, {Move(0, 0, 50, 30, 850, 630), Move(60, 40, 0, 0, 800, 600)}, {}, std::nullopt}},
         {}},
        {"frames without metadata copy nothing",
         {{1, {}, {}, 0u}, {2, {Move(0, 0, 10, 10, 20, 20)}, {RECT{0, 0, 5, 5}}, 0u}},
         {{POINT{12, 12}, Pattern(0, 12, 12)}}},
        {"metadata of 200, 100 and 300 bytes",
         {{1, {}, {RECT{0, 0, 8, 8}}, 200u, 200}, {2, {}, {RECT{8, 0, 16, 8}}, 100u, 200}, {3, {}, {RECT{16, 0, 24, 8}}, 300u, 300}},
         {}},
        {"rectangles outside the image",
         {{1,
           {Move(w - 20, 0, 0, 0, 40, 40), Move(0, 0, w - 20, h - 10, w + 20, h + 10), Move(-5, 0, 0, 100, 10, 110),
            Move(0, 0, 700, 700, 720, 720)},
           {RECT{w - 20, h - 20, w + 20, h + 20}, RECT{-10, -10, 10, 10}, RECT{w, 0, w + 10, 10}, RECT{500, 500, 520, 520}},
           std::nullopt}},
         {{POINT{w - 1, h - 1}, Pattern(0, w - 1, h - 1)}, {POINT{0, 0}, Pattern(0, 0, 0)}, {POINT{700, 700}, Pattern(0, 0, 0)},
          {POINT{500, 500}, Pattern(1, 500, 500)}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fakedup::TFakeDuplicationFactory factory(output.ui32Width, output.ui32Height);
        auto engine = std::make_unique<TDXGIDuplication>(output.pAdapter, output.pOutput, nullptr, 129, 130);
        ASSERT_TRUE(engine->IsInitialized());
        duptest::TDesktopModel model(output.ui32Width, output.ui32Height);
        std::vector<TFramePlan> frames = {WholeDesktop(0)};
        frames.insert(frames.end(), c.frames.begin(), c.frames.end());
        Play(*engine, factory, model, frames);
        const duptest::TImage desktop = duptest::ReadSurface(*engine, kDesktopSurfaceId, output.ui32Width);
        EXPECT_TRUE(duptest::SameImage(desktop, model.Image()));
        for (const auto& [point, pixel] : c.pixels) {
            ASSERT_FALSE(desktop.vecPixels.empty());
            EXPECT_EQ(desktop.At(point.x, point.y), pixel) << point.x << ", " << point.y;
        }
        engine.reset();
        ExpectFakeLeftClean(factory);
    }
}

// Surface sets on one engine over the first frame. The picture is compared with bilinear filtering
// at pixel centres within ±2 per channel (llvmpipe's filter weights are fixed-point), the bands
// outside the viewport with (0, 0, 0, 0) exactly.
TEST_F(DuplicationImage, SurfaceSetsCropScaleIntoTheViewportAndKeepTheirBars)
{
    fakedup::TFakeDuplicationFactory factory(output.ui32Width, output.ui32Height);
    auto engine = std::make_unique<TDXGIDuplication>(output.pAdapter, output.pOutput, ::GetModuleHandleW(nullptr), 129, 130);
    ASSERT_TRUE(engine->IsInitialized());
    duptest::TDesktopModel model(output.ui32Width, output.ui32Height);
    Play(*engine, factory, model, {WholeDesktop(0)});
    struct Case {
        const char* name;
        uint32_t id, srcW, srcH, dstW, dstH;
        uint32_t sx, sy, vx, vy, vw, vh;
    };
    const Case cases[] = {
        {"crop (100, 50) 640 x 360 scaled to 1280 x 600 at y 60", 0, 640, 360, 1280, 720, 100, 50, 0, 60, 1280, 600},
        {"the same ID again with other sizes, bars left and right", 0, 320, 240, 400, 300, 1500, 800, 50, 0, 300, 300},
        {"whole desktop down to 1280 x 720", 7, 1920, 1080, 1280, 720, 0, 0, 0, 0, 1280, 720},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(engine->CreateTemporarySurface(c.id, c.srcW, c.srcH, c.dstW, c.dstH));
        EXPECT_EQ(engine->Height(c.id), c.dstH);
        EXPECT_EQ(engine->DataStride(c.id), 0u);  // not mapped
        EXPECT_EQ(engine->DataPointer(c.id), nullptr);
        engine->TransferToSurface(c.id, c.sx, c.sy, c.vx, c.vy, c.vw, c.vh);
        const duptest::TImage image = duptest::ReadSurface(*engine, c.id, c.dstW);
        ASSERT_EQ(image.vecPixels.size(), size_t{c.dstW} * c.dstH);
        EXPECT_TRUE(duptest::MatchesScaledDraw(image, model.Image(), c.sx, c.sy, c.srcW, c.srcH, c.vx, c.vy, c.vw, c.vh, 2));
    }
    engine.reset();
    ExpectFakeLeftClean(factory);
}

// ID -1 is the desktop image itself; an ID without a set answers 0 or false with its error line.
TEST_F(DuplicationImage, DesktopIdCreatesNothingAndUnknownIdsAnswerNothing)
{
    fakedup::TFakeDuplicationFactory factory(output.ui32Width, output.ui32Height);
    auto engine = std::make_unique<TDXGIDuplication>(output.pAdapter, output.pOutput, nullptr, 129, 130);
    ASSERT_TRUE(engine->IsInitialized());
    size_t mark = LogMark();
    EXPECT_TRUE(engine->CreateTemporarySurface(kDesktopSurfaceId, 640, 360, 1280, 720));
    EXPECT_FALSE(engine->HasTempSurface(kDesktopSurfaceId));
    EXPECT_EQ(TextsSince(mark), (std::vector<std::string>{
                                    "TDXGIDuplication::CreateTemporarySurface -1, 640x360, 1280x720",
                                    "TDXGIDuplication::CreateTemporarySurface will use pStagingDesktopImage as a final image",
                                    "TDXGIDuplication::CreateTemporarySurface exit with 1"}));
    EXPECT_EQ(engine->Height(kDesktopSurfaceId), output.ui32Height);
    EXPECT_EQ(engine->DataStride(kDesktopSurfaceId), 0u);
    ASSERT_TRUE(engine->MapSurface(kDesktopSurfaceId));
    EXPECT_GE(engine->DataStride(kDesktopSurfaceId), output.ui32Width * 4);
    EXPECT_EQ(engine->Height(kDesktopSurfaceId), output.ui32Height);
    engine->UnmapSurface(kDesktopSurfaceId);
    EXPECT_EQ(engine->DataPointer(kDesktopSurfaceId), nullptr);

    struct Case {
        const char* name;
        std::function<uint64_t(TDXGIDuplication&)> call;
        const char* operation;
    };
    const Case cases[] = {
        {"Height", [](TDXGIDuplication& e) { return e.Height(5); }, "Height"},
        {"DataStride", [](TDXGIDuplication& e) { return e.DataStride(5); }, "DataStride"},
        {"DataPointer", [](TDXGIDuplication& e) { return uint64_t(reinterpret_cast<uintptr_t>(e.DataPointer(5))); }, "DataPointer"},
        {"MapSurface", [](TDXGIDuplication& e) { return uint64_t{e.MapSurface(5)}; }, "MapSurface"},
        {"UnmapSurface", [](TDXGIDuplication& e) { e.UnmapSurface(5); return uint64_t{0}; }, "UnmapSurface"},
        {"TransferToSurface", [](TDXGIDuplication& e) { e.TransferToSurface(5, 0, 0, 0, 0, 10, 10); return uint64_t{0}; },
         "TransferToSurface"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        mark = LogMark();
        EXPECT_EQ(c.call(*engine), 0u);
        const std::vector<TLoggedLine> lines = LinesSince(mark);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].ui32Type, 2u);
        EXPECT_EQ(lines[0].strText, std::string("TDXGIDuplication::") + c.operation + " invalid surface ID 5");
    }
    EXPECT_FALSE(engine->DoesOverlayExist(5, 0));

    // Without a module the engine has no frame shaders: a set is made, and its draw leaves the
    // cleared render target as it is.
    ASSERT_TRUE(engine->CreateTemporarySurface(3, 64, 64, 64, 64));
    engine->TransferToSurface(3, 0, 0, 0, 0, 64, 64);
    const duptest::TImage image = duptest::ReadSurface(*engine, 3, 64);
    EXPECT_TRUE(duptest::SameImage(image, duptest::TImage{64, 64, std::vector<uint32_t>(64 * 64, 0)}));
    engine.reset();
    ExpectFakeLeftClean(factory);
}

}  // namespace
