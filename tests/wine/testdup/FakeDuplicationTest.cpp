// The scripted duplication's own rules, so that it cannot silently stop refusing what the real
// interface refuses: one table of call sequences with their answers and refusals, and one frame
// followed through the seam (texture, frame information, reference counts on both objects).
#include "D3DTestSupport.h"
#include "FakeOutputDuplication.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Microsoft::WRL::ComPtr;
using namespace fakedup;

enum class Op { Acquire, AcquireWithoutInfo, Release, Moves, Dirties };

struct Call {
    Op op;
    HRESULT hr;
    UINT bufferBytes = 0;  // Moves/Dirties: the buffer handed over
    UINT required = 0;     // Moves/Dirties: *pRequiredSize expected
};

// Two moves (48 bytes) and three dirty rectangles (48 bytes).
TStep RectFrame(HRESULT hrMoves = S_OK, HRESULT hrDirties = S_OK)
{
    TFrame frame;
    frame.moves = {{{1, 2}, {3, 4, 5, 6}}, {{7, 8}, {9, 10, 11, 12}}};
    frame.dirties = {{0, 0, 1, 1}, {2, 2, 3, 3}, {4, 4, 5, 5}};
    frame.hrMoveRects = hrMoves;
    frame.hrDirtyRects = hrDirties;
    return Frame(frame);
}

HRESULT Play(IDXGIOutputDuplication* pDuplication, const Call& call, UINT* pRequired)
{
    DXGI_OUTDUPL_FRAME_INFO info = {};
    ComPtr<IDXGIResource> pResource;
    std::vector<uint8_t> buffer(call.bufferBytes + 1);
    switch (call.op) {
    case Op::Acquire:
        return pDuplication->AcquireNextFrame(0, &info, pResource.GetAddressOf());
    case Op::AcquireWithoutInfo:
        return pDuplication->AcquireNextFrame(0, nullptr, pResource.GetAddressOf());
    case Op::Release:
        return pDuplication->ReleaseFrame();
    case Op::Moves:
        return pDuplication->GetFrameMoveRects(call.bufferBytes,
                                               reinterpret_cast<DXGI_OUTDUPL_MOVE_RECT*>(buffer.data()), pRequired);
    case Op::Dirties:
        return pDuplication->GetFrameDirtyRects(call.bufferBytes, reinterpret_cast<RECT*>(buffer.data()), pRequired);
    }
    return E_UNEXPECTED;
}

TEST(FakeDuplication, RefusesWhatTheRealInterfaceRefuses)
{
    const HRESULT kInvalid = DXGI_ERROR_INVALID_CALL;
    const HRESULT kLost = DXGI_ERROR_ACCESS_LOST;
    struct Case {
        const char* name;
        std::vector<TStep> steps;
        std::vector<Call> calls;
        std::vector<std::string> refusals;
        size_t stepsLeft;
    };
    const Case cases[] = {
        {"nothing held: rectangles and release refused",
         {},
         {{Op::Moves, kInvalid, 48}, {Op::Dirties, kInvalid, 48}, {Op::Release, kInvalid}},
         {"move rects without a frame", "dirty rects without a frame", "release without a frame"},
         0},
        {"acquire while held refused without using a step",
         {RectFrame(), RectFrame()},
         {{Op::Acquire, S_OK}, {Op::Acquire, kInvalid}, {Op::Release, S_OK}, {Op::Acquire, S_OK},
          {Op::Release, S_OK}, {Op::Release, kInvalid}},
         {"acquire while held", "release without a frame"},
         0},
        {"short buffers answer the bytes needed",
         {RectFrame()},
         {{Op::Acquire, S_OK}, {Op::Moves, DXGI_ERROR_MORE_DATA, 47, 48}, {Op::Moves, S_OK, 48, 48},
          {Op::Dirties, DXGI_ERROR_MORE_DATA, 0, 48}, {Op::Dirties, S_OK, 64, 48}, {Op::Release, S_OK}},
         {"short move buffer", "short dirty buffer"},
         0},
        {"access lost sticks",
         {AccessLost(), RectFrame()},
         {{Op::Acquire, kLost}, {Op::Acquire, kLost}, {Op::Moves, kLost, 48}, {Op::Release, kLost}},
         {"call after access lost", "call after access lost", "call after access lost"},
         1},
        {"access lost from the dirty rectangles sticks",
         {RectFrame(S_OK, kLost), RectFrame()},
         {{Op::Acquire, S_OK}, {Op::Moves, S_OK, 48, 48}, {Op::Dirties, kLost, 48}, {Op::Release, kLost}},
         {"call after access lost"},
         1},
        {"scripted failures and an empty script are answered, not refused",
         {Timeout(), Failure(E_FAIL), RectFrame(E_OUTOFMEMORY)},
         {{Op::Acquire, DXGI_ERROR_WAIT_TIMEOUT}, {Op::Acquire, E_FAIL}, {Op::Acquire, S_OK},
          {Op::Moves, E_OUTOFMEMORY, 48}, {Op::Release, S_OK}, {Op::Acquire, DXGI_ERROR_WAIT_TIMEOUT}},
         {},
         0},
        {"a null argument",
         {RectFrame()},
         {{Op::AcquireWithoutInfo, E_INVALIDARG}, {Op::Acquire, S_OK}, {Op::Release, S_OK}},
         {"acquire with a null argument"},
         0},
    };
    const ComPtr<ID3D11Device> pDevice = testdup_test::MakeDevice();
    ASSERT_TRUE(pDevice);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TFakeDuplicationFactory factory(64, 32);
        for (const TStep& step : c.steps) {
            factory.Push(step);
        }
        ComPtr<IDXGIOutputDuplication> pDuplication;
        ASSERT_EQ(CallDuplicateOutput(nullptr, pDevice.Get(), pDuplication.GetAddressOf()), S_OK);
        for (size_t i = 0; i < c.calls.size(); ++i) {
            SCOPED_TRACE("call " + std::to_string(i));
            UINT required = 12345;
            EXPECT_EQ(Play(pDuplication.Get(), c.calls[i], &required), c.calls[i].hr);
            if (c.calls[i].op == Op::Moves || c.calls[i].op == Op::Dirties) {
                EXPECT_EQ(required, c.calls[i].required);
            }
        }
        EXPECT_EQ(factory.Stats().vecRefusals, c.refusals);
        EXPECT_EQ(factory.StepsLeft(), c.stepsLeft);
    }
}

TEST(FakeDuplication, HandsOutTheScriptedTextureAndCountsReferences)
{
    const ComPtr<ID3D11Device> pDevice = testdup_test::MakeDevice();
    ASSERT_TRUE(pDevice);
    TFakeDuplicationFactory factory(40, 24);
    factory.FailNextDuplicateOutput(E_OUTOFMEMORY);
    TFrame frame;
    frame.pixel = [](int x, int y) { return 0x80000000u | static_cast<uint32_t>(y << 8 | x); };
    frame.dirties = {{1, 2, 3, 4}};
    frame.metadataSize = 100;
    factory.Push(Frame(frame));

    ComPtr<IDXGIOutputDuplication> pDuplication;
    EXPECT_EQ(CallDuplicateOutput(nullptr, pDevice.Get(), pDuplication.GetAddressOf()), E_OUTOFMEMORY);
    EXPECT_FALSE(pDuplication);
    EXPECT_EQ(factory.Last(), nullptr);
    ASSERT_EQ(CallDuplicateOutput(nullptr, pDevice.Get(), pDuplication.GetAddressOf()), S_OK);
    EXPECT_EQ(factory.DuplicateOutputCalls(), 2u);
    EXPECT_EQ(factory.OutstandingReferences(), 1u);
    DXGI_OUTDUPL_DESC desc = {};
    pDuplication->GetDesc(&desc);
    EXPECT_EQ(desc.ModeDesc.Width, 40u);
    EXPECT_EQ(desc.ModeDesc.Height, 24u);

    DXGI_OUTDUPL_FRAME_INFO info = {};
    ComPtr<IDXGIResource> pResource;
    ASSERT_EQ(pDuplication->AcquireNextFrame(17, &info, pResource.GetAddressOf()), S_OK);
    EXPECT_EQ(info.TotalMetadataBufferSize, 100u);
    EXPECT_EQ(info.AccumulatedFrames, 1u);
    EXPECT_NE(info.LastPresentTime.QuadPart, 0);
    ComPtr<ID3D11Texture2D> pTexture;
    ASSERT_EQ(pResource.As(&pTexture), S_OK);
    EXPECT_EQ(factory.OutstandingTextureReferences(), 2u);
    D3D11_TEXTURE2D_DESC texture = {};
    pTexture->GetDesc(&texture);
    EXPECT_EQ(texture.Format, DXGI_FORMAT_B8G8R8A8_UNORM);
    EXPECT_EQ(texture.Usage, D3D11_USAGE_DEFAULT);
    const std::vector<uint32_t> pixels = testdup_test::ReadTexture(pDevice.Get(), pTexture.Get());
    ASSERT_EQ(pixels.size(), 40u * 24u);
    size_t mismatches = 0;
    for (size_t i = 0; i < pixels.size(); ++i) {
        mismatches += pixels[i] != frame.pixel(static_cast<int>(i % 40), static_cast<int>(i / 40)) ? 1 : 0;
    }
    EXPECT_EQ(mismatches, 0u);

    pResource.Reset();
    pTexture.Reset();
    EXPECT_EQ(factory.OutstandingTextureReferences(), 0u);
    EXPECT_EQ(pDuplication->ReleaseFrame(), S_OK);
    pDuplication.Reset();
    EXPECT_EQ(factory.OutstandingReferences(), 0u);
    const TFakeStats stats = factory.Stats();
    EXPECT_EQ(stats.ui32Acquires, 1u);
    EXPECT_EQ(stats.ui32Releases, 1u);
    EXPECT_EQ(stats.vecAcquireTimeouts, std::vector<UINT>{17});
    EXPECT_TRUE(stats.vecRefusals.empty());
}

}  // namespace
