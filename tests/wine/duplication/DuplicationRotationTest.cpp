// The rotation pass on Wine's Direct3D 11: a portrait output (desktop 1080 x 1920) reported rotated
// by a stand-in output, frames fed in its native orientation by the test duplication, and the
// staging image compared with a CPU rotation of the native image; and the compiler search through
// the loader seam (nothing found, a library without the entry, a compiler that fails).
#include "DuplicationTestSupport.h"
#include "FakeOutputDuplication.h"
#include "ProcessLogServer.h"

#include "duplication/DuplicationSeams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using duptest::Pattern;
using duptest::TImage;

constexpr int32_t kVertexShaderId = 129;
constexpr int32_t kPixelShaderId = 130;
constexpr LONG kDesktopWidth = 1080;
constexpr LONG kDesktopHeight = 1920;
constexpr wchar_t kNoCompilerLibrary[] = L"zyr_test_nocompiler.dll";
constexpr wchar_t kFailingCompilerLibrary[] = L"zyr_test_failcompiler.dll";
constexpr const char kRotateEntry[] = "TDXGIDuplication::RotateDesktopImage";

// The compiler search's loads: every name asked for, and which library each name really loads
// (a name not listed loads nothing).
struct TLoaderScript {
    std::vector<std::wstring> vecNames;
    std::map<std::wstring, std::wstring> mapAnswers;
};
TLoaderScript* g_pLoader = nullptr;

HMODULE ScriptedLoad(const wchar_t* pszName)
{
    g_pLoader->vecNames.push_back(pszName);
    const auto it = g_pLoader->mapAnswers.find(pszName);
    return it == g_pLoader->mapAnswers.end() ? nullptr : ::LoadLibraryW(it->second.c_str());
}

// Installs ScriptedLoad over `script` for its lifetime.
class TScriptedLoader {
public:
    explicit TScriptedLoader(TLoaderScript& script) : seam(&ScriptedLoad) { g_pLoader = &script; }
    ~TScriptedLoader() { g_pLoader = nullptr; }

private:
    TScopedLoadCompilerLibrary seam;
};

std::vector<std::wstring> CompilerNames(int newest, int oldest)
{
    std::vector<std::wstring> names;
    for (int n = newest; n >= oldest; --n) {
        names.push_back(L"d3dcompiler_" + std::to_wstring(n) + L".dll");
    }
    return names;
}

size_t Count(const std::vector<std::string>& texts, const std::string& wanted)
{
    return static_cast<size_t>(std::count(texts.begin(), texts.end(), wanted));
}

bool Has(const std::vector<std::string>& texts, const std::string& wanted)
{
    return Count(texts, wanted) != 0;
}

DXGI_OUTPUT_DESC PortraitDesc(DXGI_MODE_ROTATION rotation)
{
    DXGI_OUTPUT_DESC desc = {};
    wcscpy(desc.DeviceName, L"\\\\.\\DISPLAY1");
    desc.DesktopCoordinates = RECT{0, 0, kDesktopWidth, kDesktopHeight};
    desc.AttachedToDesktop = TRUE;
    desc.Rotation = rotation;
    return desc;
}

// The size in which a portrait output rotated by `rotation` delivers frames.
std::pair<uint32_t, uint32_t> NativeSize(DXGI_MODE_ROTATION rotation)
{
    const bool bQuarter = rotation == DXGI_MODE_ROTATION_ROTATE90 || rotation == DXGI_MODE_ROTATION_ROTATE270;
    return bQuarter ? std::make_pair(uint32_t(kDesktopHeight), uint32_t(kDesktopWidth))
                    : std::make_pair(uint32_t(kDesktopWidth), uint32_t(kDesktopHeight));
}

fakedup::TFrame Frame(uint32_t tag, std::vector<DXGI_OUTDUPL_MOVE_RECT> moves, std::vector<RECT> dirties)
{
    fakedup::TFrame frame;
    frame.pixel = [tag](int x, int y) { return Pattern(tag, x, y); };
    frame.moves = std::move(moves);
    frame.dirties = std::move(dirties);
    return frame;
}

class DuplicationRotation : public ::testing::Test {
protected:
    static void SetUpTestSuite() { output = duptest::FirstOutput(); }
    void SetUp() override { ASSERT_TRUE(output.pOutput) << "no adapter with an output"; }

    // An engine on the real adapter for a stand-in output that reports `desc`.
    static std::unique_ptr<TDXGIDuplication> Engine(duptest::TStandInOutput& standIn)
    {
        return std::make_unique<TDXGIDuplication>(output.pAdapter, TComPtr<IDXGIOutput1>(&standIn),
                                                  ::GetModuleHandleW(nullptr), kVertexShaderId, kPixelShaderId);
    }
    // Acquires and releases the next scripted frame; the texts it logged.
    static std::vector<std::string> Step(TDXGIDuplication& engine, fakedup::TFakeDuplicationFactory& factory,
                                         fakedup::TFrame frame)
    {
        factory.Push(fakedup::Frame(std::move(frame)));
        const size_t mark = LogMark();
        EXPECT_EQ(engine.GetFrame(), drOk);
        EXPECT_EQ(engine.ReleaseFrame(), drOk);
        return TextsSince(mark);
    }

    static duptest::TRealOutput output;
};
duptest::TRealOutput DuplicationRotation::output;

TEST_F(DuplicationRotation, PortraitOutputIsTurnedUprightAtEveryAngle)
{
    for (const DXGI_MODE_ROTATION rotation :
         {DXGI_MODE_ROTATION_ROTATE90, DXGI_MODE_ROTATION_ROTATE180, DXGI_MODE_ROTATION_ROTATE270}) {
        SCOPED_TRACE("rotation " + std::to_string(rotation));
        const auto [nativeW, nativeH] = NativeSize(rotation);
        fakedup::TFakeDuplicationFactory factory(nativeW, nativeH);
        duptest::TStandInOutput standIn(S_OK, PortraitDesc(rotation));
        TLoaderScript loads;
        loads.mapAnswers[L"d3dcompiler_47.dll"] = L"d3dcompiler_47.dll";
        {
            TScriptedLoader loader(loads);
            const size_t mark = LogMark();
            auto engine = Engine(standIn);
            ASSERT_TRUE(engine->IsInitialized());
            const std::vector<std::string> built = TextsSince(mark);
            EXPECT_TRUE(Has(built, "TDXGIDuplication::TDXGIDuplication Found D3DCompile"));
            EXPECT_TRUE(Has(built, "TDXGIDuplication::InitRotation exit with 1"));
            EXPECT_EQ(loads.vecNames, CompilerNames(47, 47));

            // Frames update the native image; the pass draws desktop-sized.
            const std::pair<uint32_t, uint32_t> native{nativeW, nativeH};
            const std::pair<uint32_t, uint32_t> desktop{kDesktopWidth, kDesktopHeight};
            EXPECT_EQ(duptest::TextureSize(engine->BeforeRotateDesktopImage()), native);
            EXPECT_EQ(duptest::TextureSize(engine->MoveSurface()), native);
            EXPECT_EQ(duptest::TextureSize(engine->RotatedDesktopImage()), desktop);
            EXPECT_EQ(duptest::TextureSize(engine->StagingDesktopImage()), desktop);

            duptest::TDesktopModel model(nativeW, nativeH);
            model.Fill(0);
            std::vector<std::string> texts =
                Step(*engine, factory, Frame(0, {}, {RECT{0, 0, LONG(nativeW), LONG(nativeH)}}));
            EXPECT_EQ(Count(texts, kRotateEntry), 1u);
            TImage staging = duptest::ReadSurface(*engine, kDesktopSurfaceId, kDesktopWidth);
            ASSERT_TRUE(duptest::SameImage(staging, duptest::Rotated(model.Image(), rotation)));
            const uint32_t corner = rotation == DXGI_MODE_ROTATION_ROTATE90    ? staging.At(kDesktopWidth - 1, 0)
                                    : rotation == DXGI_MODE_ROTATION_ROTATE180 ? staging.At(kDesktopWidth - 1,
                                                                                            kDesktopHeight - 1)
                                                                               : staging.At(0, kDesktopHeight - 1);
            EXPECT_EQ(corner, Pattern(0, 0, 0)) << "the native top-left pixel";

            // Moves and dirty rectangles are in native coordinates, then the whole image turns.
            const DXGI_OUTDUPL_MOVE_RECT move{POINT{10, 20}, RECT{300, 200, 700, 500}};
            const RECT dirty{900, 40, 1050, 1000};
            texts = Step(*engine, factory, Frame(1, {move}, {dirty}));
            model.Move(move);
            model.Dirty(dirty, 1);
            EXPECT_EQ(Count(texts, kRotateEntry), 1u);
            EXPECT_TRUE(Has(texts, "TDXGIDuplication::RotateDesktopImage exit"));
            staging = duptest::ReadSurface(*engine, kDesktopSurfaceId, kDesktopWidth);
            EXPECT_TRUE(duptest::SameImage(staging, duptest::Rotated(model.Image(), rotation)));

            // A frame without metadata runs no pass and changes nothing.
            fakedup::TFrame empty = Frame(2, {}, {});
            empty.metadataSize = 0;
            texts = Step(*engine, factory, empty);
            EXPECT_EQ(Count(texts, kRotateEntry), 0u);
            EXPECT_TRUE(duptest::SameImage(duptest::ReadSurface(*engine, kDesktopSurfaceId, kDesktopWidth), staging));
        }
        EXPECT_EQ(factory.OutstandingReferences(), 0u);
        EXPECT_EQ(standIn.References(), 1u) << "the engine kept a reference to its output";
    }
}

TEST_F(DuplicationRotation, UnrotatedOutputsHaveNoPassAndLookForNoCompiler)
{
    for (const DXGI_MODE_ROTATION rotation : {DXGI_MODE_ROTATION_UNSPECIFIED, DXGI_MODE_ROTATION_IDENTITY}) {
        SCOPED_TRACE("rotation " + std::to_string(rotation));
        fakedup::TFakeDuplicationFactory factory(kDesktopWidth, kDesktopHeight);
        duptest::TStandInOutput standIn(S_OK, PortraitDesc(rotation));
        TLoaderScript loads;
        TScriptedLoader loader(loads);
        auto engine = Engine(standIn);
        ASSERT_TRUE(engine->IsInitialized());
        EXPECT_EQ(engine->BeforeRotateDesktopImage(), nullptr);
        EXPECT_EQ(engine->RotatedDesktopImage(), nullptr);
        EXPECT_TRUE(loads.vecNames.empty());
        const std::vector<std::string> texts =
            Step(*engine, factory, Frame(0, {}, {RECT{0, 0, kDesktopWidth, kDesktopHeight}}));
        EXPECT_EQ(Count(texts, kRotateEntry), 0u);
    }
}

// A rotation value the platform does not define: the pass runs with the 0-degree quad (an error
// line per changed frame says so), so the image arrives as it was delivered.
TEST_F(DuplicationRotation, AnUnknownRotationValueDrawsTheImageUnturned)
{
    fakedup::TFakeDuplicationFactory factory(kDesktopWidth, kDesktopHeight);
    duptest::TStandInOutput standIn(S_OK, PortraitDesc(static_cast<DXGI_MODE_ROTATION>(5)));
    auto engine = Engine(standIn);
    ASSERT_TRUE(engine->IsInitialized());
    ASSERT_NE(engine->BeforeRotateDesktopImage(), nullptr);
    duptest::TDesktopModel model(kDesktopWidth, kDesktopHeight);
    model.Fill(2);
    const std::vector<std::string> texts =
        Step(*engine, factory, Frame(2, {}, {RECT{0, 0, kDesktopWidth, kDesktopHeight}}));
    EXPECT_EQ(Count(texts, "TDXGIDuplication::GetRotationVertexBuffer Invalid rotation mode"), 1u);
    EXPECT_TRUE(duptest::SameImage(duptest::ReadSurface(*engine, kDesktopSurfaceId, kDesktopWidth), model.Image()));
}

// Each case builds a 90-degree engine with a scripted compiler search.
TEST_F(DuplicationRotation, CompilerSearchGoesDownTheVersionsAndKeepsOneWorkingLibrary)
{
    const auto [nativeW, nativeH] = NativeSize(DXGI_MODE_ROTATION_ROTATE90);
    const RECT whole{0, 0, LONG(nativeW), LONG(nativeH)};
    {
        SCOPED_TRACE("no library at all");
        fakedup::TFakeDuplicationFactory factory(nativeW, nativeH);
        duptest::TStandInOutput standIn(S_OK, PortraitDesc(DXGI_MODE_ROTATION_ROTATE90));
        TLoaderScript loads;
        TScriptedLoader loader(loads);
        const size_t mark = LogMark();
        auto engine = Engine(standIn);
        ASSERT_TRUE(engine->IsInitialized()) << "a missing compiler does not end construction";
        const std::vector<std::string> built = TextsSince(mark);
        EXPECT_EQ(loads.vecNames, CompilerNames(47, 33));
        EXPECT_EQ(Count(built, "TDXGIDuplication::TDXGIDuplication Unable to find the d3d compiler dll"), 1u);
        EXPECT_TRUE(Has(built, "TDXGIDuplication::FindD3DCompiler exit with 0"));
        EXPECT_FALSE(Has(built, "TDXGIDuplication::InitRotation"));
        for (int frame = 0; frame < 2; ++frame) {
            const std::vector<std::string> texts = Step(*engine, factory, Frame(0, {}, {whole}));
            EXPECT_EQ(Count(texts, "TDXGIDuplication::RotateDesktopImage pRotationVertexShader is null"), 1u);
        }
        fakedup::TFrame empty = Frame(1, {}, {});
        empty.metadataSize = 0;
        EXPECT_EQ(Count(Step(*engine, factory, empty), "TDXGIDuplication::RotateDesktopImage pRotationVertexShader is null"),
                  0u);
    }
    {
        SCOPED_TRACE("47 without D3DCompile, 43 present");
        fakedup::TFakeDuplicationFactory factory(nativeW, nativeH);
        duptest::TStandInOutput standIn(S_OK, PortraitDesc(DXGI_MODE_ROTATION_ROTATE90));
        TLoaderScript loads;
        loads.mapAnswers[L"d3dcompiler_47.dll"] = kNoCompilerLibrary;
        loads.mapAnswers[L"d3dcompiler_43.dll"] = L"d3dcompiler_43.dll";
        TScriptedLoader loader(loads);
        const size_t mark = LogMark();
        auto engine = Engine(standIn);
        ASSERT_TRUE(engine->IsInitialized());
        EXPECT_EQ(loads.vecNames, CompilerNames(47, 43));
        EXPECT_EQ(::GetModuleHandleW(kNoCompilerLibrary), nullptr) << "the library without the entry was kept";
        EXPECT_TRUE(Has(TextsSince(mark), "TDXGIDuplication::InitRotation exit with 1"));
        duptest::TDesktopModel model(nativeW, nativeH);
        model.Fill(3);
        Step(*engine, factory, Frame(3, {}, {whole}));
        EXPECT_TRUE(duptest::SameImage(duptest::ReadSurface(*engine, kDesktopSurfaceId, kDesktopWidth),
                                       duptest::Rotated(model.Image(), DXGI_MODE_ROTATION_ROTATE90)));
    }
    {
        SCOPED_TRACE("a compiler that fails");
        fakedup::TFakeDuplicationFactory factory(nativeW, nativeH);
        duptest::TStandInOutput standIn(S_OK, PortraitDesc(DXGI_MODE_ROTATION_ROTATE90));
        TLoaderScript loads;
        loads.mapAnswers[L"d3dcompiler_47.dll"] = kFailingCompilerLibrary;
        TScriptedLoader loader(loads);
        const size_t mark = LogMark();
        auto engine = Engine(standIn);
        ASSERT_TRUE(engine->IsInitialized());
        const std::vector<std::string> built = TextsSince(mark);
        EXPECT_TRUE(Has(built, "TDXGIDuplication::InitRotation D3DCompile simple vertex shader error 80004005"));
        EXPECT_TRUE(Has(built, "TDXGIDuplication::InitRotation D3DCompile simple vertex shader error text "
                               "'fake(1,1): error X0000: no compiler here'"));
        EXPECT_TRUE(Has(built, "TDXGIDuplication::InitRotation exit with 0"));
        EXPECT_TRUE(Has(built, "TDXGIDuplication::TDXGIDuplication InitRotation error"));
        const HMODULE hCompiler = ::GetModuleHandleW(kFailingCompilerLibrary);
        ASSERT_NE(hCompiler, nullptr) << "the compiler is kept for the engine's life";
        using TLastCompileFn = const char* (*)();
        const auto pfnLast =
            reinterpret_cast<TLastCompileFn>(reinterpret_cast<void*>(::GetProcAddress(hCompiler, "ZyrLastCompile")));
        ASSERT_NE(pfnLast, nullptr);
        EXPECT_STREQ(pfnLast(), "vs_5_0 main 32768 0 296");
        EXPECT_EQ(Count(Step(*engine, factory, Frame(0, {}, {whole})),
                        "TDXGIDuplication::RotateDesktopImage pRotationVertexShader is null"),
                  1u);
        engine.reset();
        EXPECT_EQ(::GetModuleHandleW(kFailingCompilerLibrary), nullptr) << "the compiler outlived its engine";
    }
}

}  // namespace
