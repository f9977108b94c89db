// Arithmetic of the frame buffer layout, kept apart from the header so that it works on a snapshot
// of the settings instead of the shared memory: other processes may rewrite the header while a
// layout runs, so each setting is read once into TLayoutSettings and only the copy is used.
//
// Every conversion of a double or a 64-bit value to a 32-bit field goes through the checked
// helpers below; a value that does not fit is reported, never converted.
#pragma once

#include "framebuffer/TFrameBufferHeader.h"

#include <cstdint>
#include <optional>

namespace zyrlayout {

// Truncation toward zero; nullopt for NaN, infinities and values whose truncation does not fit.
std::optional<int32_t> TruncToI32(double value);
std::optional<uint32_t> TruncToU32(double value);
std::optional<int32_t> NarrowToI32(int64_t value);

// n rounded up to a multiple of 64; n must be at most 2^64 - 64.
constexpr uint64_t Align64(uint64_t n)
{
    return (n + 63) & ~uint64_t{63};
}

// The aspect test of the webcam placement and of the format selection: does a / b differ from
// `aspect` by more than the single-precision 0.01? A zero b counts as "differs" unless a is 0 too
// (a / 0 is infinite, 0 / 0 is not a number), so no division by zero is made.
bool AspectDiffers(uint32_t a, uint32_t b, double aspect);

// The settings a layout reads, each loaded once from the shared header.
struct TLayoutSettings {
    int32_t iSourceWidth;
    int32_t iSourceHeight;
    int32_t iImageWidth;
    int32_t iImageHeight;
    bool bStretch;
    uint32_t ui32HUDWidth;
    uint32_t ui32HUDHeight;
    int32_t iHUDPosition;
    int32_t iHUDMargin;
    uint32_t webcamWidth;
    uint32_t webcamHeight;
    double dWebCamLeft;
    double dWebCamTop;
    double dWebCamWidth;
    double dWebCamHeight;
    bool bWebCamEnabled;  // WebCamVisibilityState was 0
    bool bAutoSelectWebCamFormat;
    uint8_t ui8UseChromaKeying;  // raw byte, logged as it is
    bool bUseWebCamBackground;
    bool bUseCustomShaderData;
    // What the previous layout left: the webcam area keeps it while the webcam is hidden, and the
    // webcam background starts as a copy of the webcam descriptor.
    THooksRect previousWebCamSourceRect;
    TOverlayImageInfo previousWebCamImage;
};

TLayoutSettings ReadLayoutSettings(const TFrameBufferHeader& header);

// The inputs of the game frame rectangle.
struct TGameFrameInputs {
    int32_t iSourceWidth;
    int32_t iSourceHeight;
    int32_t iImageWidth;
    int32_t iImageHeight;
    bool bStretch;
};

TGameFrameInputs GameFrameInputsOf(const TLayoutSettings& settings);
THooksRect GameFrameRect(const TGameFrameInputs& in);

struct TPoint {
    int32_t x;
    int32_t y;
};

// HUD anchor in source frame coordinates, clamped to 0..INT32_MAX per axis.
TPoint HUDPosition(int32_t sourceWidth, int32_t sourceHeight, int32_t position, int32_t margin,
                   uint32_t hudWidth, uint32_t hudHeight);

// Radial menu centred on the source frame; an axis shorter than the menu gets 0.
TPoint RadialMenuPosition(int32_t sourceWidth, int32_t sourceHeight);

// The webcam descriptor as the target rectangle reads it (unsigned sizes taken as signed).
struct TWebCamTargetInputs {
    TGameFrameInputs frame;
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
};

THooksRect WebCamTargetRect(const TWebCamTargetInputs& in, int32_t mode);

}  // namespace zyrlayout
