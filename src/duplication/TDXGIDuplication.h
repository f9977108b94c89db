// The desktop duplication engine: one Direct3D 11 device on one adapter, the duplication of one
// output of it, and the GPU resources that turn duplicated frames into CPU-readable images.
//
// The engine keeps one desktop image on the GPU (pStagingDesktopImage, desktop-sized, staging) and
// brings it up to date from each frame's move and dirty rectangles. The owner reads it directly
// (surface ID kDesktopSurfaceId) or through a surface set: the source region is copied into a
// texture, drawn scaled (linear filtering) into a render target inside a viewport, overlays drawn
// over it, and the result copied into a staging texture the CPU maps.
//
// Construction either completes (bInitialized) or leaves a dead object that the owner deletes;
// nothing is repaired in place. After GetFrame/ReleaseFrame answer drAccessLost the owner deletes
// the engine and builds a new one. Of a dead engine only IsInitialized, GetFrame and ReleaseFrame
// (drError, without calling the platform) may be used; the surface operations need its device.
//
// A rotated output's frames arrive in its native orientation: they are folded into
// pBeforeRotateStagingDesktopImage, and every frame that changed anything is turned upright into
// pStagingDesktopImage by a textured quad (the rotation pass, whose two shaders are compiled at
// construction by the platform's shader compiler, loaded on demand and kept for the engine's life).
// Without a compiler the engine still works, but that image never receives a rotated frame.
//
// Thread: one thread at a time (the capture thread, or the main thread for TryToCreate); the
// immediate context is never shared. Nothing here locks.
#pragma once

#include "duplication/TDuplicationResult.h"

#include <d3d11.h>
#include <d3dcompiler.h>
#include <dxgi1_2.h>
#include <windows.h>
#include <wrl/client.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

template <class T>
using TComPtr = Microsoft::WRL::ComPtr<T>;

namespace dupgeo {
struct TImageSize;
}

// A loaded library, freed when the holder goes.
struct TModuleDeleter {
    void operator()(HMODULE hModule) const { ::FreeLibrary(hModule); }
};
using TModuleHolder = std::unique_ptr<std::remove_pointer_t<HMODULE>, TModuleDeleter>;

// The desktop image itself; every other surface ID names a surface set.
constexpr uint32_t kDesktopSurfaceId = 0xFFFFFFFFu;

struct TDisplayOutputInfo {
    std::wstring wsDeviceName;  // empty when the output's GetDesc failed
    HMONITOR hMonitor = nullptr;
    TComPtr<IDXGIOutput1> pOutput;
    RECT rcDesktopCoordinates = {};
    DXGI_MODE_ROTATION eRotation = DXGI_MODE_ROTATION_UNSPECIFIED;
};

struct TDisplayAdapterInfo {
    std::wstring wsDescription;  // empty when the adapter's GetDesc failed
    TComPtr<IDXGIAdapter1> pAdapter;
    std::vector<TDisplayOutputInfo> vecOutputs;  // never empty in an enumerated record
};

// One overlay of a surface set, drawn over its scaled frame.
struct TOverlay {
    TComPtr<ID3D11Texture2D> pTexture;
    D3D11_TEXTURE2D_DESC descTexture = {};
    const void* pVertexShaderBytecode = nullptr;  // inside the module's locked resource
    uint32_t ui32VertexShaderBytecodeSize = 0;
    TComPtr<ID3D11VertexShader> pVertexShader;
    TComPtr<ID3D11InputLayout> pInputLayout;
    TComPtr<ID3D11PixelShader> pPixelShader;
    TComPtr<ID3D11ShaderResourceView> pTextureView;
    RECT rcDestination = {};
    TComPtr<ID3D11Buffer> pConstantBuffer;  // none without custom shader data
    TComPtr<ID3D11BlendState> pBlendState;  // none: the overlay replaces its rectangle
};

// The surface set of one surface ID. Movable, not copyable; destroying it releases its textures
// and overlays.
struct TTempSurface {
    D3D11_MAPPED_SUBRESOURCE mapped = {};  // all zero unless pStagingSurface is mapped
    D3D11_TEXTURE2D_DESC descStagingSurface = {};
    D3D11_TEXTURE2D_DESC descRenderTargetSurface = {};
    D3D11_TEXTURE2D_DESC descTextureSurface = {};
    TComPtr<ID3D11Texture2D> pTextureSurface;
    TComPtr<ID3D11Texture2D> pStagingSurface;
    TComPtr<ID3D11Texture2D> pRenderTargetSurface;
    TComPtr<ID3D11RenderTargetView> pRenderTargetView;
    TComPtr<ID3D11Buffer> pQuadVertexBuffer;
    TComPtr<ID3D11SamplerState> pSamplerState;
    TComPtr<ID3D11ShaderResourceView> pTextureView;
    std::map<uint32_t, TOverlay> mapOverlays;

    TTempSurface() = default;
    TTempSurface(TTempSurface&&) = default;
    TTempSurface& operator=(TTempSurface&&) = default;
    TTempSurface(const TTempSurface&) = delete;
    TTempSurface& operator=(const TTempSurface&) = delete;
};

class TDXGIDuplication {
public:
    // Builds the device on `pAdapter`, the desktop textures, the duplication of `pOutput` and (with a
    // non-null hInstance) the frame shaders from the module's "SHADER" resources. Each failing step
    // logs its error line and leaves bInitialized false.
    TDXGIDuplication(TComPtr<IDXGIAdapter1> pAdapterArg, TComPtr<IDXGIOutput1> pOutputArg, HINSTANCE hInstanceArg,
                     int32_t iVertexShaderResourceIdArg, int32_t iPixelShaderResourceIdArg);
    ~TDXGIDuplication();
    TDXGIDuplication(const TDXGIDuplication&) = delete;
    TDXGIDuplication& operator=(const TDXGIDuplication&) = delete;

    // Adapters with at least one IDXGIOutput1 output, in enumeration order; empty on failure.
    static std::vector<TDisplayAdapterInfo> EnumerateDisplayAdapters();
    // Whether duplication of the first output of the first adapter can be created; keeps nothing.
    static bool TryToCreate();

    bool IsInitialized() const { return bInitialized; }

    // Acquires the next frame without waiting and folds its moves, then its dirty rectangles, into
    // the desktop image. drError without calling the platform when not initialised.
    TDuplicationResult GetFrame();
    TDuplicationResult ReleaseFrame();

    // Builds (or rebuilds, dropping its overlays) the surface set `id` for a source region of
    // srcW x srcH and a destination of dstW x dstH. kDesktopSurfaceId: true, nothing made.
    bool CreateTemporarySurface(uint32_t id, uint32_t srcW, uint32_t srcH, uint32_t dstW, uint32_t dstH);
    // Copies the source box at (sx, sy) of the set's source size out of the desktop image, draws it
    // scaled into the viewport (vx, vy, vw, vh) of the cleared render target, draws the overlays,
    // and copies the result to the set's staging texture. Does nothing for kDesktopSurfaceId.
    void TransferToSurface(uint32_t id, uint32_t sx, uint32_t sy, uint32_t vx, uint32_t vy, uint32_t vw,
                           uint32_t vh);
    bool MapSurface(uint32_t id);
    void UnmapSurface(uint32_t id);
    // Valid between MapSurface and UnmapSurface; 0 when not mapped or for an unknown ID.
    const uint8_t* DataPointer(uint32_t id);
    uint32_t DataStride(uint32_t id);
    // Rows of the surface (desktop height for kDesktopSurfaceId), mapped or not; 0 for an unknown ID.
    uint32_t Height(uint32_t id);
    bool HasTempSurface(uint32_t id) const { return mapTempSurfaces.count(id) != 0; }

    // Overlays (webcam background 0, webcam 1) of a surface set.
    bool DoesOverlayExist(uint32_t surfaceId, uint32_t overlayId);
    // Makes (or remakes) overlay `overlayId` of set `surfaceId`: a width x height dynamic BGRA
    // texture drawn into rcDestination with the pixel shader of resource `pixelShaderResourceId`,
    // the custom data (if any) as constant buffer slot 0, and alpha blending if asked. A failing
    // step logs its error line and leaves no overlay of that ID. No set: nothing happens.
    // `reserved` is not read.
    void CreateOverlay(uint32_t surfaceId, uint32_t overlayId, uint32_t width, uint32_t height, int32_t reserved,
                       int32_t pixelShaderResourceId, RECT rcDestination, const void* pCustomShaderData,
                       uint32_t ui32CustomShaderDataSize, bool bUseBlending);
    // Uploads a width x height BGRA picture, rows `stride` bytes apart, into the overlay's texture;
    // a size other than the overlay's is refused with an error line and the old pixels stay.
    void UpdateOverlayData(uint32_t surfaceId, uint32_t overlayId, const uint8_t* pPixels, int32_t width,
                           int32_t height, int32_t stride);

    // The host's shared texture behind `hShared`, opened on this engine's device, with one
    // reference for the caller in *ppTexture; null (and an error line) when it cannot be opened.
    void OpenSharedHandle(HANDLE hShared, ID3D11Texture2D** ppTexture);
    // Copies (x, y)-(x + width, y + height) of the surface's finished image (the desktop image for
    // kDesktopSurfaceId, else the set's staging texture) to (0, 0) of pDestination. Neither size
    // nor format is checked: the device decides what a copy that does not fit does.
    void CopySubresource(uint32_t id, uint32_t x, uint32_t y, ID3D11Texture2D* pDestination, uint32_t width,
                         uint32_t height);

    // The module's "SHADER" resource `id`, or null (with an error line); the bytes live as long as
    // the module.
    const void* LoadResource(int32_t id, uint32_t* pSize);
    bool CreatePixelShader(int32_t id, ID3D11Device* pDeviceArg, ID3D11PixelShader** ppShader);
    bool CreateVertexShader(int32_t id, ID3D11Device* pDeviceArg, ID3D11VertexShader** ppShader,
                            const void** ppBytecode, uint32_t* pBytecodeSize);

    // For tests and benchmarks: the engine's device, context and textures.
    ID3D11Device* Device() const { return pDevice.Get(); }
    ID3D11DeviceContext* Context() const { return pContext.Get(); }
    ID3D11Texture2D* StagingDesktopImage() const { return pStagingDesktopImage.Get(); }
    const std::vector<uint8_t>& MetaDataBuffer() const { return vecMetaDataBuffer; }
    uint32_t MoveCount() const { return ui32MoveCount; }
    uint32_t DirtyCount() const { return ui32DirtyCount; }
    const RECT& DesktopCoordinates() const { return rcDesktopCoordinates; }
    ID3D11Texture2D* BeforeRotateDesktopImage() const { return pBeforeRotateStagingDesktopImage.Get(); }
    ID3D11Texture2D* RotatedDesktopImage() const { return pRotatedDesktopImage.Get(); }
    ID3D11Texture2D* MoveSurface() const { return pMoveSurf.Get(); }

private:
    // Construction steps; each logs its own failure line and answers false.
    bool DescribeOutput();
    bool CreateDevice();
    bool CreateDesktopTextures();
    bool CreateRotationTextures(const dupgeo::TImageSize& native, const dupgeo::TImageSize& desktop);
    // The compiler search and the rotation pass's set-up; failures only log.
    void PrepareRotation();
    bool StartDuplication();
    bool CreateFrameShaders();

    // The two-element layout of every quad (POSITION float3 at 0, TEXCOORD float2 behind it,
    // slot 0, per vertex) against a vertex shader's bytecode.
    static HRESULT CreateQuadInputLayout(ID3D11Device* pDeviceArg, const void* pBytecode, uint32_t ui32Size,
                                         ID3D11InputLayout** ppLayout);

    // The rotation pass.
    bool FindD3DCompiler();
    bool InitRotation();
    // Compiles one of the pass's two sources into `bytecode`; false after logging the compiler's
    // HRESULT (and its text, if any) with `pszWhat` ("vertex" or "pixel").
    bool CompileRotationShader(const char* pszSource, size_t nLength, const char* pszTarget, const char* pszWhat,
                               std::vector<uint8_t>& bytecode);
    bool CreateRotationQuads();
    ID3D11Buffer* GetRotationVertexBuffer();
    void RotateDesktopImage();

    // GetFrame's steps.
    TDuplicationResult AcquireFrame(TComPtr<IDXGIResource>& pResource);
    TDuplicationResult KeepAcquiredTexture(IDXGIResource* pResource);
    TDuplicationResult ReadMetaData();
    void ApplyMoveRects(ID3D11Texture2D* pDesktopImage);
    void ApplyDirtyRects(ID3D11Texture2D* pDesktopImage);
    // The texture that move and dirty rectangles update.
    ID3D11Texture2D* DesktopImage() const;

    // The set of `id`, or null after logging "<name> invalid surface ID <id>".
    TTempSurface* FindSurface(uint32_t id, const char* qualifiedName);
    bool BuildSurfaceSet(TTempSurface& set, uint32_t srcW, uint32_t srcH, uint32_t dstW, uint32_t dstH);
    bool CreateSurfaceTextures(TTempSurface& set);
    bool CreateSurfaceViews(TTempSurface& set);
    void DrawFrameQuad(TTempSurface& set, uint32_t vx, uint32_t vy, uint32_t vw, uint32_t vh);
    void DrawOverlays(TTempSurface& set);
    // CreateOverlay's steps; each failure logs its line and answers false.
    bool BuildOverlay(TOverlay& overlay, int32_t pixelShaderResourceId, const void* pCustomShaderData,
                      uint32_t ui32CustomShaderDataSize, bool bUseBlending);
    bool CreateOverlayConstants(TOverlay& overlay, const void* pData, uint32_t ui32Size);
    bool CreateOverlayBlendState(TOverlay& overlay);

    // Members in the specified declaration order: COM holders are released in reverse order.
    DXGI_MODE_ROTATION eRotation = DXGI_MODE_ROTATION_UNSPECIFIED;
    std::map<uint32_t, TTempSurface> mapTempSurfaces;
    D3D_FEATURE_LEVEL d3dFeatureLevel = D3D_FEATURE_LEVEL_11_0;
    TComPtr<IDXGIOutput1> pOutput;
    TComPtr<IDXGIAdapter1> pAdapter;
    TComPtr<ID3D11Device> pDevice;
    TComPtr<ID3D11DeviceContext> pContext;
    TComPtr<IDXGIOutputDuplication> pOutputDuplication;
    TComPtr<ID3D11Texture2D> pAcquiredDesktopImage;
    D3D11_TEXTURE2D_DESC descDesktopImage = {};
    TComPtr<ID3D11Texture2D> pBeforeRotateStagingDesktopImage;
    TComPtr<ID3D11Texture2D> pRotatedDesktopImage;
    TComPtr<ID3D11RenderTargetView> pRotatedDesktopImageRTV;
    TComPtr<ID3D11Texture2D> pStagingDesktopImage;
    D3D11_TEXTURE2D_DESC descMoveSurf = {};
    TComPtr<ID3D11Texture2D> pMoveSurf;
    D3D11_MAPPED_SUBRESOURCE mappedStagingDesktopImage = {};
    bool bInitialized = false;
    std::vector<uint8_t> vecMetaDataBuffer;
    uint32_t ui32MetaDataSize = 0;
    uint32_t ui32MoveCount = 0;
    uint32_t ui32DirtyCount = 0;
    DXGI_OUTDUPL_FRAME_INFO frameInfo = {};
    RECT rcDesktopCoordinates = {};
    HINSTANCE hInstance = nullptr;
    int32_t iVertexShaderResourceId = 0;
    int32_t iPixelShaderResourceId = 0;
    const void* pVertexShaderBytecode = nullptr;
    uint32_t ui32VertexShaderBytecodeSize = 0;
    TComPtr<ID3D11VertexShader> pVertexShader;
    TComPtr<ID3D11InputLayout> pInputLayout;
    TComPtr<ID3D11PixelShader> pPixelShader;
    TComPtr<ID3D11VertexShader> pRotationVertexShader;
    TComPtr<ID3D11PixelShader> pRotationPixelShader;
    TComPtr<ID3D11InputLayout> pRotationInputLayout;
    TComPtr<ID3D11Buffer> pQuadVertexBuffer0;
    TComPtr<ID3D11Buffer> pQuadVertexBuffer90;
    TComPtr<ID3D11Buffer> pQuadVertexBuffer180;
    TComPtr<ID3D11Buffer> pQuadVertexBuffer270;
    TComPtr<ID3D11SamplerState> pRotationSampler;
    TComPtr<ID3D11ShaderResourceView> pRotationShaderResourceView;
    std::vector<uint8_t> vecRotationVertexShaderBytecode;
    std::vector<uint8_t> vecRotationPixelShaderBytecode;
    TModuleHolder hD3DCompilerModule;
    pD3DCompile pfnD3DCompile = nullptr;
};
