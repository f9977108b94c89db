// Webcam format selection as a pure step: the choice is computed (and logged) from a snapshot of
// the settings and the format table, and applied to the header separately, so that a layout can
// decide whether it writes anything at all.
#pragma once

#include "framebuffer/LayoutMath.h"
#include "framebuffer/TFrameBufferHeader.h"

#include <cstdint>

namespace zyrlayout {

struct TWebcamFormatChoice {
    bool bChosen;
    uint32_t ui32Index;   // entry of WebCamFormats, below kWebCamFormatCapacity (when chosen)
    uint32_t ui32Width;   // webcamWidth after the selection (the snapshot's value when not chosen)
    uint32_t ui32Height;  // webcamHeight likewise
};

// Runs the three passes with all their log lines, on `settings` and on the table of `header`
// (its count, clamped to kWebCamFormatCapacity, and each entry's width and height read once).
// Writes nothing.
TWebcamFormatChoice ChooseWebcamFormat(const TFrameBufferHeader& header, const TLayoutSettings& settings);

// Writes webcamWidth, webcamHeight and the chosen entry's format record into SelectedWebCamFormat;
// nothing when no entry was chosen.
void ApplyWebcamFormat(TFrameBufferHeader& header, const TWebcamFormatChoice& choice);

}  // namespace zyrlayout
