// Delivery into a host's texture on Wine's Direct3D 11: CopySubresource with textures made on the
// engine's own device (Wine 8 shares no resources between devices or processes), checked pixel by
// pixel; OpenSharedHandle's answers without a device and for a handle Wine cannot open.
#include "DuplicationTestSupport.h"
#include "FakeOutputDuplication.h"
#include "ProcessLogServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

using duptest::Pattern;
using duptest::TImage;

constexpr uint32_t kUntouched = 0x11223344;

bool Has(const std::vector<std::string>& texts, const std::string& wanted)
{
    return std::find(texts.begin(), texts.end(), wanted) != texts.end();
}

// References on `p` besides the caller's own.
ULONG OtherReferences(IUnknown* p)
{
    p->AddRef();
    return p->Release() - 1;
}

class DuplicationSharedTexture : public ::testing::Test {
protected:
    static void SetUpTestSuite() { output = duptest::FirstOutput(); }
    void SetUp() override
    {
        ASSERT_TRUE(output.pOutput) << "no adapter with an output";
        factory = std::make_unique<fakedup::TFakeDuplicationFactory>(output.ui32Width, output.ui32Height);
        engine = std::make_unique<TDXGIDuplication>(output.pAdapter, output.pOutput, ::GetModuleHandleW(nullptr), 129,
                                                    130);
        ASSERT_TRUE(engine->IsInitialized());
        fakedup::TFrame frame;
        frame.pixel = [](int x, int y) { return Pattern(0, x, y); };
        frame.dirties = {RECT{0, 0, LONG(output.ui32Width), LONG(output.ui32Height)}};
        factory->Push(fakedup::Frame(frame));
        ASSERT_EQ(engine->GetFrame(), drOk);
        ASSERT_EQ(engine->ReleaseFrame(), drOk);
    }
    // A host-like destination: a default-usage texture every pixel of which is kUntouched.
    TComPtr<ID3D11Texture2D> Destination(uint32_t width, uint32_t height) const
    {
        D3D11_TEXTURE2D_DESC desc = {};
        desc.Width = width;
        desc.Height = height;
        desc.MipLevels = desc.ArraySize = 1;
        desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
        desc.SampleDesc = {1, 0};
        desc.Usage = D3D11_USAGE_DEFAULT;
        desc.BindFlags = D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET;
        const std::vector<uint32_t> fill(size_t{width} * height, kUntouched);
        const D3D11_SUBRESOURCE_DATA data{fill.data(), width * 4, 0};
        TComPtr<ID3D11Texture2D> pTexture;
        EXPECT_EQ(engine->Device()->CreateTexture2D(&desc, &data, pTexture.GetAddressOf()), S_OK);
        return pTexture;
    }
    static TImage Filled(uint32_t width, uint32_t height, uint32_t value)
    {
        return TImage{width, height, std::vector<uint32_t>(size_t{width} * height, value)};
    }

    static duptest::TRealOutput output;
    std::unique_ptr<fakedup::TFakeDuplicationFactory> factory;
    std::unique_ptr<TDXGIDuplication> engine;
};
duptest::TRealOutput DuplicationSharedTexture::output;

TEST_F(DuplicationSharedTexture, CopiesTheFramesRegionToTheTexturesOrigin)
{
    {
        SCOPED_TRACE("the desktop image, cropped by the copy");
        TComPtr<ID3D11Texture2D> pDestination = Destination(1280, 720);
        engine->CopySubresource(kDesktopSurfaceId, 100, 50, pDestination.Get(), 1280, 720);
        TImage expected = Filled(1280, 720, 0);
        for (uint32_t y = 0; y < 720; ++y) {
            for (uint32_t x = 0; x < 1280; ++x) {
                expected.vecPixels[size_t{y} * 1280 + x] = Pattern(0, int(x + 100), int(y + 50));
            }
        }
        EXPECT_TRUE(duptest::SameImage(duptest::ReadTexture(*engine, pDestination.Get()), expected));
        EXPECT_EQ(OtherReferences(pDestination.Get()), 0u) << "the engine kept a reference to the host's texture";
    }
    {
        SCOPED_TRACE("a surface set, from its origin");
        ASSERT_TRUE(engine->CreateTemporarySurface(0, 640, 360, 320, 180));
        engine->TransferToSurface(0, 10, 20, 0, 0, 320, 180);
        TComPtr<ID3D11Texture2D> pDestination = Destination(320, 180);
        engine->CopySubresource(0, 0, 0, pDestination.Get(), 320, 180);
        const TImage scaled = duptest::ReadSurface(*engine, 0, 320);
        EXPECT_TRUE(duptest::SameImage(duptest::ReadTexture(*engine, pDestination.Get()), scaled));
    }
    {
        SCOPED_TRACE("an ID without a set copies nothing");
        TComPtr<ID3D11Texture2D> pDestination = Destination(64, 64);
        const size_t mark = LogMark();
        engine->CopySubresource(7, 0, 0, pDestination.Get(), 64, 64);
        const std::vector<std::string> texts = TextsSince(mark);
        EXPECT_TRUE(Has(texts, "TDXGIDuplication::CopySubresource invalid surface ID 7"));
        EXPECT_TRUE(Has(texts, "TDXGIDuplication::CopySubresource exit pSrcSurface is null"));
        EXPECT_TRUE(duptest::SameImage(duptest::ReadTexture(*engine, pDestination.Get()), Filled(64, 64, kUntouched)));
    }
}

TEST_F(DuplicationSharedTexture, OpenSharedHandleAnswersNoTextureWhenItCannotOpen)
{
    {
        SCOPED_TRACE("an engine without a device");
        duptest::TStandInOutput standIn(E_FAIL, DXGI_OUTPUT_DESC{});
        TDXGIDuplication dead(output.pAdapter, TComPtr<IDXGIOutput1>(&standIn), nullptr, 129, 130);
        ASSERT_FALSE(dead.IsInitialized());
        ID3D11Texture2D* pTexture = reinterpret_cast<ID3D11Texture2D*>(uintptr_t{0x1234});
        const size_t mark = LogMark();
        dead.OpenSharedHandle(reinterpret_cast<HANDLE>(uintptr_t{0x40000002}), &pTexture);
        EXPECT_EQ(pTexture, nullptr);
        EXPECT_TRUE(Has(TextsSince(mark), "TDXGIDuplication::OpenSharedHandle pDevice is null"));
    }
    {
        SCOPED_TRACE("a handle of a shareable texture of another device");
        // Made the way a host makes its texture, on a device of its own.
        TComPtr<ID3D11Device> pHostDevice;
        ASSERT_EQ(::D3D11CreateDevice(output.pAdapter.Get(), D3D_DRIVER_TYPE_UNKNOWN, nullptr, 0, nullptr, 0,
                                      D3D11_SDK_VERSION, pHostDevice.GetAddressOf(), nullptr, nullptr),
                  S_OK);
        D3D11_TEXTURE2D_DESC desc = {};
        desc.Width = 64;
        desc.Height = 32;
        desc.MipLevels = desc.ArraySize = 1;
        desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
        desc.SampleDesc = {1, 0};
        desc.BindFlags = D3D11_BIND_RENDER_TARGET | D3D11_BIND_SHADER_RESOURCE;
        desc.MiscFlags = D3D11_RESOURCE_MISC_SHARED;
        TComPtr<ID3D11Texture2D> pHostTexture;
        // Wine 8 makes the texture but hands out no handle for it; the value then stands in for one.
        HANDLE hShared = reinterpret_cast<HANDLE>(uintptr_t{0x40000002});
        TComPtr<IDXGIResource> pResource;
        if (pHostDevice->CreateTexture2D(&desc, nullptr, pHostTexture.GetAddressOf()) == S_OK &&
            pHostTexture.As(&pResource) == S_OK) {
            pResource->GetSharedHandle(&hShared);
        }

        TComPtr<ID3D11Texture2D> pTexture;
        const size_t mark = LogMark();
        engine->OpenSharedHandle(hShared, pTexture.GetAddressOf());
        const std::vector<std::string> texts = TextsSince(mark);
        if (pTexture) {
            // A platform that shares textures: the host's texture, as the engine's device sees it.
            EXPECT_EQ(duptest::TextureSize(pTexture.Get()), std::make_pair(64u, 32u));
            EXPECT_TRUE(Has(texts, "TDXGIDuplication::OpenSharedHandle QueryInterface OK, format is 87"));
        } else {
            // Wine 8: OpenSharedResource is not implemented.
            EXPECT_TRUE(Has(texts, "TDXGIDuplication::OpenSharedHandle OpenSharedResource error 80004001"))
                << ::testing::PrintToString(texts);
        }
    }
}

}  // namespace
