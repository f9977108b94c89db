// The duplication engine's life and results on Wine's Direct3D 11: adapter enumeration, the probe,
// each construction step's failure line (through the DuplicateOutput seam or stand-ins that fail
// the real calls), a dead engine that never calls the platform, and GetFrame/ReleaseFrame turning
// every duplication answer into its result and line. Wine has no desktop duplication
// (DuplicateOutput answers E_NOTIMPL), so frames come from the test duplication; after every case
// it must hold no reference the engine took and must have refused nothing.
#include "DuplicationTestSupport.h"
#include "ProcessLogServer.h"
#include "FakeOutputDuplication.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using duptest::TStandInOutput;

constexpr int32_t kVertexShaderId = 129;
constexpr int32_t kPixelShaderId = 130;
constexpr uint32_t kInfo = 0, kError = 2;

using TLine = std::pair<uint32_t, std::string>;

std::vector<TLine> Lines(size_t mark)
{
    std::vector<TLine> lines;
    for (TLoggedLine& line : LinesSince(mark)) {
        lines.emplace_back(line.ui32Type, std::move(line.strText));
    }
    return lines;
}

bool Contains(const std::vector<TLine>& lines, const TLine& wanted)
{
    return std::find(lines.begin(), lines.end(), wanted) != lines.end();
}

HINSTANCE ThisModule()
{
    return ::GetModuleHandleW(nullptr);
}

// The fake let go of everything the engine took, saw only zero time-outs, and refused nothing.
void ExpectFakeLeftClean(const fakedup::TFakeDuplicationFactory& factory)
{
    EXPECT_EQ(factory.OutstandingReferences(), 0u);
    EXPECT_EQ(factory.OutstandingTextureReferences(), 0u);
    const fakedup::TFakeStats stats = factory.Stats();
    for (const std::string& refusal : stats.vecRefusals) {
        ADD_FAILURE() << "the fake refused: " << refusal;
    }
    for (const UINT timeout : stats.vecAcquireTimeouts) {
        EXPECT_EQ(timeout, 0u);
    }
}

class Duplication : public ::testing::Test {
protected:
    static void SetUpTestSuite() { output = duptest::FirstOutput(); }
    void SetUp() override { ASSERT_TRUE(output.pOutput) << "no adapter with an output"; }

    std::unique_ptr<TDXGIDuplication> Engine(HINSTANCE hInstance = ThisModule(), int32_t vs = kVertexShaderId) const
    {
        return std::make_unique<TDXGIDuplication>(output.pAdapter, output.pOutput, hInstance, vs, kPixelShaderId);
    }
    fakedup::TFrame WholeDesktop(uint32_t tag) const
    {
        fakedup::TFrame frame;
        frame.pixel = [tag](int x, int y) { return duptest::Pattern(tag, x, y); };
        frame.dirties = {RECT{0, 0, LONG(output.ui32Width), LONG(output.ui32Height)}};
        return frame;
    }

    static duptest::TRealOutput output;
};
duptest::TRealOutput Duplication::output;

TEST_F(Duplication, EnumerationListsWinesOneAdapterAndOutput)
{
    const size_t mark = LogMark();
    const std::vector<TDisplayAdapterInfo> adapters = TDXGIDuplication::EnumerateDisplayAdapters();
    ASSERT_EQ(adapters.size(), 1u);
    EXPECT_FALSE(adapters[0].wsDescription.empty());
    ASSERT_EQ(adapters[0].vecOutputs.size(), 1u);
    const TDisplayOutputInfo& first = adapters[0].vecOutputs[0];
    EXPECT_EQ(first.wsDeviceName, L"\\\\.\\DISPLAY1");
    EXPECT_NE(first.hMonitor, nullptr);
    EXPECT_EQ(first.eRotation, DXGI_MODE_ROTATION_IDENTITY);
    EXPECT_EQ(std::make_pair(first.rcDesktopCoordinates.right, first.rcDesktopCoordinates.bottom),
              std::make_pair(LONG(1920), LONG(1080)));
    const std::vector<TLine> lines = Lines(mark);
    const std::vector<TLine> tail(lines.end() - std::min<size_t>(lines.size(), 3), lines.end());
    EXPECT_EQ(tail, (std::vector<TLine>{{kInfo, "TDXGIDuplication::EnumerateDisplayAdapters no more outputs"},
                                        {kInfo, "TDXGIDuplication::EnumerateDisplayAdapters no more adapters"},
                                        {kInfo, "TDXGIDuplication::EnumerateDisplayAdapters exit with 1"}}));
}

TEST_F(Duplication, ProbeAnswersWhetherDuplicationCanBeMade)
{
    {
        SCOPED_TRACE("Wine's own DuplicateOutput");
        const size_t mark = LogMark();
        EXPECT_FALSE(TDXGIDuplication::TryToCreate());
        const std::vector<TLine> lines = Lines(mark);
        EXPECT_TRUE(Contains(lines, {kError, "TDXGIDuplication::TryToCreate DuplicateOutput error 80004001"}));
        EXPECT_EQ(lines.back(), TLine(kInfo, "TDXGIDuplication::TryToCreate exit with 0"));
    }
    {
        SCOPED_TRACE("test duplication");
        fakedup::TFakeDuplicationFactory factory(output.ui32Width, output.ui32Height);
        const size_t mark = LogMark();
        EXPECT_TRUE(TDXGIDuplication::TryToCreate());
        EXPECT_EQ(Lines(mark).back(), TLine(kInfo, "TDXGIDuplication::TryToCreate exit with 1"));
        EXPECT_EQ(factory.DuplicateOutputCalls(), 1u);
        ExpectFakeLeftClean(factory);
    }
}

// Each step that fails ends construction with its error line; the exit line follows in every case.
// Not reachable here: creating pMoveSurf fails only for sizes that already fail the staging image
// before it (Wine refuses an empty texture, and accepts even 16385-pixel-wide ones of both kinds).
TEST_F(Duplication, EachConstructionStepsFailureLeavesADeadEngineWithItsLine)
{
    enum TOutput { Real, FailingDesc, EmptyDesktop };
    struct Case {
        const char* name;
        TOutput output;
        bool bAdapter;
        HRESULT hrDuplicate;                // S_OK: the test duplication answers
        bool bHook;                         // false: Wine's own DuplicateOutput
        HINSTANCE hInstance;
        int32_t iVertexShader;
        const char* line;                   // after "TDXGIDuplication::TDXGIDuplication "
        uint32_t type;
        bool bInitialized;
    };
    const Case cases[] = {
        {"output description", FailingDesc, true, S_OK, true, ThisModule(), 129, " Output GetDesc error 887a0022", kError,
         false},
        {"device on no adapter", Real, false, S_OK, true, ThisModule(), 129, "D3D11CreateDevice error 80004005", kError, false},
        {"empty desktop: staging image", EmptyDesktop, true, S_OK, true, ThisModule(), 129,
         "CreateTexture2D pStagingDesktopImage error 80070057", kError, false},
        {"duplication refused through the seam", Real, true, DXGI_ERROR_UNSUPPORTED, true, ThisModule(), 129,
         "DuplicateOutput error 887a0004", kError, false},
        {"Wine's own DuplicateOutput", Real, true, S_OK, false, ThisModule(), 129, "DuplicateOutput error 80004001", kError,
         false},
        {"module without shaders", Real, true, S_OK, true, ::GetModuleHandleW(L"kernel32.dll"), 129,
         "CreatePixelShader IDR_SHADER_Texture11BGR error", kError, false},
        {"pixel shader bytes as the vertex shader", Real, true, S_OK, true, ThisModule(), kPixelShaderId,
         "CreateVertexShader 130 error", kError, false},
        {"no module", Real, true, S_OK, true, nullptr, 129, "do not load shaders because hInstance is null", kInfo, true},
        {"complete", Real, true, S_OK, true, ThisModule(), 129, "An input layout for the texture has been created.", kInfo,
         true},
    };
    DXGI_OUTPUT_DESC emptyDesktop = {};
    emptyDesktop.DesktopCoordinates = RECT{100, 100, 100, 100};
    emptyDesktop.Rotation = DXGI_MODE_ROTATION_IDENTITY;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto pFactory = c.bHook ? std::make_unique<fakedup::TFakeDuplicationFactory>(output.ui32Width, output.ui32Height)
                                : nullptr;
        if (pFactory && c.hrDuplicate != S_OK) {
            pFactory->FailNextDuplicateOutput(c.hrDuplicate);
        }
        TStandInOutput standIn(c.output == FailingDesc ? DXGI_ERROR_NOT_CURRENTLY_AVAILABLE : S_OK, emptyDesktop);
        const size_t mark = LogMark();
        auto engine = std::make_unique<TDXGIDuplication>(
            c.bAdapter ? output.pAdapter : nullptr, c.output == Real ? output.pOutput : TComPtr<IDXGIOutput1>(&standIn),
            c.hInstance, c.iVertexShader, kPixelShaderId);
        EXPECT_EQ(engine->IsInitialized(), c.bInitialized);
        const std::vector<TLine> lines = Lines(mark);
        EXPECT_TRUE(Contains(lines, {c.type, std::string("TDXGIDuplication::TDXGIDuplication ") + c.line}));
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const TLine& l) {
                      return l.first == kError && l.second.rfind("TDXGIDuplication::TDXGIDuplication ", 0) == 0;
                  }),
                  c.bInitialized ? 0 : 1);
        EXPECT_EQ(lines.back(), TLine(kInfo, "TDXGIDuplication::TDXGIDuplication exit"));
        engine.reset();
        EXPECT_EQ(standIn.References(), 1u);  // only the test's own
        if (pFactory) {
            ExpectFakeLeftClean(*pFactory);
        }
    }
}

// An engine whose construction failed after DuplicateOutput holds a duplication, and still answers
// drError without touching it.
TEST_F(Duplication, DeadEngineAnswersErrorWithoutCallingThePlatform)
{
    fakedup::TFakeDuplicationFactory factory(output.ui32Width, output.ui32Height);
    factory.Push(fakedup::Frame(WholeDesktop(0)));
    auto engine = Engine(::GetModuleHandleW(L"kernel32.dll"));
    ASSERT_FALSE(engine->IsInitialized());
    ASSERT_EQ(factory.DuplicateOutputCalls(), 1u);
    const size_t mark = LogMark();
    EXPECT_EQ(engine->GetFrame(), drError);
    EXPECT_EQ(engine->ReleaseFrame(), drError);
    EXPECT_TRUE(Lines(mark).empty());
    EXPECT_EQ(factory.Stats().ui32Acquires, 0u);
    EXPECT_EQ(factory.Stats().ui32Releases, 0u);
    engine.reset();
    ExpectFakeLeftClean(factory);
}

// After a first frame, one step of the test duplication; what GetFrame answers and logs, then (when
// a frame is held) what ReleaseFrame does. Failures after the acquisition keep the old desktop.
TEST_F(Duplication, FrameCallsTurnEachDuplicationAnswerIntoItsResultAndLine)
{
    constexpr const char* kGet = "TDXGIDuplication::GetFrame ";
    constexpr const char* kRelease = "TDXGIDuplication::ReleaseFrame ";
    static constexpr DXGI_OUTDUPL_MOVE_RECT kMove = {POINT{0, 0}, RECT{10, 10, 50, 50}};
    static constexpr RECT kDirty = {100, 100, 200, 200};
    auto changed = [this](HRESULT hrMoves, HRESULT hrDirties, HRESULT hrRelease) {
        fakedup::TFrame frame = WholeDesktop(1);
        frame.moves = {kMove};
        frame.dirties = {kDirty};
        frame.hrMoveRects = hrMoves;
        frame.hrDirtyRects = hrDirties;
        frame.hrRelease = hrRelease;
        return fakedup::Frame(frame);
    };
    struct Case {
        const char* name;
        fakedup::TStep step;
        TDuplicationResult get;
        std::vector<TLine> getLines;
        // ReleaseFrame is called: a frame is held and access was not lost (the owner deletes an
        // engine that answered drAccessLost; the duplication answers nothing else afterwards)
        bool bRelease;
        TDuplicationResult release;
        std::vector<TLine> releaseLines;
        bool bDesktopKept;
    };
    const std::string lost = " DXGI_ERROR_ACCESS_LOST 887a0026";
    const Case cases[] = {
        {"no new frame", fakedup::Timeout(), drTimeout, {}, false, drOk, {}, true},
        {"lost at acquisition", fakedup::AccessLost(), drAccessLost, {{kInfo, kGet + std::string("AcquireNextFrame") + lost}},
         false, drOk, {}, true},
        {"acquisition fails", fakedup::Failure(DXGI_ERROR_DEVICE_REMOVED), drError,
         {{kError, kGet + std::string("Failed to acquire next frame in DUPLICATIONMANAGER 887a0005")}}, false, drOk, {}, true},
        {"lost at the move rectangles", changed(DXGI_ERROR_ACCESS_LOST, S_OK, S_OK), drAccessLost,
         {{kInfo, kGet + std::string("GetFrameMoveRects") + lost}}, false, drOk, {}, true},
        {"move rectangles fail", changed(E_FAIL, S_OK, S_OK), drError,
         {{kError, kGet + std::string("Failed to get frame move rects in DUPLICATIONMANAGER 80004005")}}, true, drOk, {},
         true},
        {"lost at the dirty rectangles", changed(S_OK, DXGI_ERROR_ACCESS_LOST, S_OK), drAccessLost,
         {{kInfo, kGet + std::string("GetFrameDirtyRects") + lost}}, false, drOk, {}, true},
        {"dirty rectangles fail", changed(S_OK, E_OUTOFMEMORY, S_OK), drError,
         {{kError, kGet + std::string("Failed to get frame dirty rects in DUPLICATIONMANAGER 8007000e")}}, true, drOk, {},
         true},
        {"release fails", changed(S_OK, S_OK, DXGI_ERROR_INVALID_CALL), drOk, {}, true, drError,
         {{kError, kRelease + std::string("Failed to release frame in DUPLICATIONMANAGER 887a0001")}}, false},
        {"lost at release", changed(S_OK, S_OK, DXGI_ERROR_ACCESS_LOST), drOk, {}, true, drAccessLost,
         {{kError, kRelease + std::string("DXGI_ERROR_ACCESS_LOST")}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fakedup::TFakeDuplicationFactory factory(output.ui32Width, output.ui32Height);
        factory.Push(fakedup::Frame(WholeDesktop(0)));
        factory.Push(c.step);
        auto engine = Engine(nullptr);
        ASSERT_TRUE(engine->IsInitialized());
        ASSERT_EQ(engine->GetFrame(), drOk);
        ASSERT_EQ(engine->ReleaseFrame(), drOk);
        size_t mark = LogMark();
        const TDuplicationResult got = engine->GetFrame();
        EXPECT_EQ(got, c.get) << DuplicationResultName(got);
        EXPECT_EQ(Lines(mark), c.getLines);
        if (c.get == drError && c.step.hrAcquire == S_OK) {
            EXPECT_EQ(std::make_pair(engine->MoveCount(), engine->DirtyCount()), std::make_pair(0u, 0u));
        }
        if (c.bRelease) {
            mark = LogMark();
            EXPECT_EQ(engine->ReleaseFrame(), c.release);
            EXPECT_EQ(Lines(mark), c.releaseLines);
        }
        duptest::TDesktopModel model(output.ui32Width, output.ui32Height);
        model.Fill(0);
        if (!c.bDesktopKept) {
            model.Move(kMove);
            model.Dirty(kDirty, 1);
        }
        EXPECT_TRUE(duptest::SameImage(duptest::ReadSurface(*engine, kDesktopSurfaceId, output.ui32Width), model.Image()));
        engine.reset();
        ExpectFakeLeftClean(factory);
    }
}

}  // namespace
