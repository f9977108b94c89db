// Frame acquisition: GetFrame folds each duplicated frame into the desktop image by replaying its
// move rectangles, then its dirty rectangles (and turns a rotated output's image upright);
// ReleaseFrame hands the frame back.
//
// Per frame nothing is allocated (the metadata buffer only grows) and nothing is logged unless a
// call fails; the replay never logs per rectangle.
#include "duplication/TDXGIDuplication.h"

#include "duplication/D3D11Helpers.h"

#include "duplication/DuplicationGeometry.h"
#include "log/Log.h"

#include <cstring>

namespace {

using d3dhelp::Hex;

constexpr const char kGetFrameName[] = "TDXGIDuplication::GetFrame";

// The rectangle as a copy box. Coordinates are used as the platform reported them: a negative one
// becomes a huge unsigned value, and the device decides what such a box does (the engine does not
// clip).
D3D11_BOX Box(const THooksRect& rect)
{
    return D3D11_BOX{static_cast<UINT>(rect.left), static_cast<UINT>(rect.top), 0,
                     static_cast<UINT>(rect.right), static_cast<UINT>(rect.bottom), 1};
}

}  // namespace

TDuplicationResult TDXGIDuplication::GetFrame()
{
    if (!bInitialized) {
        return drError;
    }
    // Released on every way out; pAcquiredDesktopImage keeps the frame's texture.
    TComPtr<IDXGIResource> pResource;
    TDuplicationResult result = AcquireFrame(pResource);
    if (result == drOk) {
        result = KeepAcquiredTexture(pResource.Get());
    }
    if (result != drOk || frameInfo.TotalMetadataBufferSize == 0) {
        return result;  // a frame without metadata changed nothing: no copy at all
    }
    result = ReadMetaData();
    if (result != drOk) {
        return result;  // before any copy: this frame's changes are dropped
    }
    ID3D11Texture2D* pDesktopImage = DesktopImage();
    ApplyMoveRects(pDesktopImage);
    ApplyDirtyRects(pDesktopImage);
    if (pBeforeRotateStagingDesktopImage) {
        RotateDesktopImage();
    }
    return drOk;
}

TDuplicationResult TDXGIDuplication::ReleaseFrame()
{
    if (!bInitialized) {
        return drError;
    }
    // Passed on even when no frame is held: the platform's answer decides.
    const HRESULT hr = pOutputDuplication->ReleaseFrame();
    switch (hr) {
    case S_OK:
        pAcquiredDesktopImage.Reset();
        return drOk;
    case DXGI_ERROR_ACCESS_LOST:
        LogError("%s DXGI_ERROR_ACCESS_LOST", "TDXGIDuplication::ReleaseFrame");
        return drAccessLost;
    default:
        LogError("%s Failed to release frame in DUPLICATIONMANAGER %x", "TDXGIDuplication::ReleaseFrame", Hex(hr));
        return drError;
    }
}

TDuplicationResult TDXGIDuplication::AcquireFrame(TComPtr<IDXGIResource>& pResource)
{
    frameInfo = {};
    // Timeout 0: pacing and retries belong to the caller.
    const HRESULT hr = pOutputDuplication->AcquireNextFrame(0, &frameInfo, pResource.ReleaseAndGetAddressOf());
    switch (hr) {
    case S_OK:
        return drOk;
    case DXGI_ERROR_WAIT_TIMEOUT:
        return drTimeout;
    case DXGI_ERROR_ACCESS_LOST:
        LogInfo("%s AcquireNextFrame DXGI_ERROR_ACCESS_LOST %x", kGetFrameName, Hex(hr));
        return drAccessLost;
    default:
        LogError("%s Failed to acquire next frame in DUPLICATIONMANAGER %x", kGetFrameName, Hex(hr));
        return drError;
    }
}

TDuplicationResult TDXGIDuplication::KeepAcquiredTexture(IDXGIResource* pResource)
{
    pAcquiredDesktopImage.Reset();
    const HRESULT hr = pResource != nullptr
                           ? pResource->QueryInterface(IID_PPV_ARGS(pAcquiredDesktopImage.ReleaseAndGetAddressOf()))
                           : E_POINTER;
    if (hr != S_OK) {
        LogError("%s Failed to QI for ID3D11Texture2D from acquired IDXGIResource in DUPLICATIONMANAGER %x",
                 kGetFrameName, Hex(hr));
        return drError;
    }
    return drOk;
}

TDuplicationResult TDXGIDuplication::ReadMetaData()
{
    const uint32_t ui32Total = frameInfo.TotalMetadataBufferSize;
    // Grows to exactly this frame's size, never shrinks: after the largest frame, no allocation.
    const size_t nSize = dupgeo::GrownMetaDataSize(vecMetaDataBuffer.size(), ui32Total);
    if (nSize != vecMetaDataBuffer.size()) {
        vecMetaDataBuffer.resize(nSize);
    }
    ui32MetaDataSize = ui32Total;
    uint8_t* pBuffer = vecMetaDataBuffer.data();
    UINT uiMoveBytes = 0;
    HRESULT hr = pOutputDuplication->GetFrameMoveRects(
        ui32Total, reinterpret_cast<DXGI_OUTDUPL_MOVE_RECT*>(pBuffer), &uiMoveBytes);
    if (hr == DXGI_ERROR_ACCESS_LOST) {
        LogInfo("%s GetFrameMoveRects DXGI_ERROR_ACCESS_LOST %x", kGetFrameName, Hex(hr));
        return drAccessLost;
    }
    if (hr != S_OK) {
        LogError("%s Failed to get frame move rects in DUPLICATIONMANAGER %x", kGetFrameName, Hex(hr));
        ui32MoveCount = ui32DirtyCount = 0;
        return drError;
    }
    // A byte count beyond the buffer is not believed: the dirty rectangles start behind the whole
    // move records that fit.
    ui32MoveCount = dupgeo::MoveRectCount(uiMoveBytes <= ui32Total ? uiMoveBytes : ui32Total);
    const uint32_t ui32MoveBytes = ui32MoveCount * dupgeo::kMoveRectBytes;
    UINT uiDirtyBytes = 0;
    hr = pOutputDuplication->GetFrameDirtyRects(dupgeo::BytesBehind(ui32Total, ui32MoveBytes),
                                                reinterpret_cast<RECT*>(pBuffer + ui32MoveBytes), &uiDirtyBytes);
    if (hr == DXGI_ERROR_ACCESS_LOST) {
        LogInfo("%s GetFrameDirtyRects DXGI_ERROR_ACCESS_LOST %x", kGetFrameName, Hex(hr));
        return drAccessLost;
    }
    if (hr != S_OK) {
        LogError("%s Failed to get frame dirty rects in DUPLICATIONMANAGER %x", kGetFrameName, Hex(hr));
        ui32MoveCount = ui32DirtyCount = 0;
        return drError;
    }
    const uint32_t ui32DirtySpace = dupgeo::BytesBehind(ui32Total, ui32MoveBytes);
    ui32DirtyCount = dupgeo::DirtyRectCount(uiDirtyBytes <= ui32DirtySpace ? uiDirtyBytes : ui32DirtySpace);
    return drOk;
}

// Each move goes through pMoveSurf: the source box is copied out at its own coordinates and then
// back to the destination, so a move whose source and destination overlap reads the old pixels
// (a copy within one resource with overlapping boxes is undefined).
void TDXGIDuplication::ApplyMoveRects(ID3D11Texture2D* pDesktopImage)
{
    const uint8_t* pRecord = vecMetaDataBuffer.data();
    for (uint32_t i = 0; i < ui32MoveCount; ++i, pRecord += dupgeo::kMoveRectBytes) {
        dupgeo::TMoveRect move;
        std::memcpy(&move, pRecord, sizeof(move));
        const THooksRect source = dupgeo::MoveSourceRect(move);
        const D3D11_BOX box = Box(source);
        pContext->CopySubresourceRegion(pMoveSurf.Get(), 0, box.left, box.top, 0, pDesktopImage, 0, &box);
        pContext->CopySubresourceRegion(pDesktopImage, 0, static_cast<UINT>(move.destination.left),
                                        static_cast<UINT>(move.destination.top), 0, pMoveSurf.Get(), 0, &box);
    }
}

void TDXGIDuplication::ApplyDirtyRects(ID3D11Texture2D* pDesktopImage)
{
    const uint8_t* pRecord = vecMetaDataBuffer.data() + size_t{ui32MoveCount} * dupgeo::kMoveRectBytes;
    for (uint32_t i = 0; i < ui32DirtyCount; ++i, pRecord += dupgeo::kDirtyRectBytes) {
        THooksRect dirty;
        std::memcpy(&dirty, pRecord, sizeof(dirty));
        const D3D11_BOX box = Box(dirty);
        pContext->CopySubresourceRegion(pDesktopImage, 0, box.left, box.top, 0, pAcquiredDesktopImage.Get(), 0, &box);
    }
}

ID3D11Texture2D* TDXGIDuplication::DesktopImage() const
{
    return pBeforeRotateStagingDesktopImage ? pBeforeRotateStagingDesktopImage.Get() : pStagingDesktopImage.Get();
}
