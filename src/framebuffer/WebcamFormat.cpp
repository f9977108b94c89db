// Chooses the webcam capture format that serves the webcam's size in the recorded frame: large
// enough not to be enlarged, and of the aspect ratio the user chose.
#include "framebuffer/WebcamFormat.h"

#include "log/Log.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

namespace zyrlayout {

namespace {

constexpr const char* kName = "TFrameBufferHeader::UpdateWebcamFormat";
// Single-precision constant compared in double precision.
constexpr double kMatchTolerance = static_cast<double>(0.05f);
// Pass 3 starts its running minimum here and replaces it only by a strictly smaller diff.
constexpr double kInitialClosestDiff = 100.0;

// Sizes of the valid entries, each read once from the shared table.
struct TFormatTable {
    uint32_t ui32Count;
    uint32_t widths[kWebCamFormatCapacity];
    uint32_t heights[kWebCamFormatCapacity];
};

struct TDesiredSize {
    uint32_t ui32Width;
    uint32_t ui32Height;
};

TFormatTable ReadFormatTable(const TFrameBufferHeader& header)
{
    TFormatTable table{};
    const uint32_t count = header.ui32WebCamFormatCount;
    // Only kWebCamFormatCapacity entries exist, whatever the count says.
    table.ui32Count = count < kWebCamFormatCapacity ? count : static_cast<uint32_t>(kWebCamFormatCapacity);
    for (uint32_t k = 0; k < table.ui32Count; ++k) {
        table.widths[k] = header.WebCamFormats[k].ui32Width;
        table.heights[k] = header.WebCamFormats[k].ui32Height;
    }
    return table;
}

void LogWebcamValues(uint32_t width, uint32_t height, const TLayoutSettings& s)
{
    LogDetail("%s webcamWidth: %d, webcamHeight: %d, left: %f, top: %f, width: %f, height: %f", kName,
              static_cast<int>(width), static_cast<int>(height), s.dWebCamLeft, s.dWebCamTop, s.dWebCamWidth,
              s.dWebCamHeight);
}

// |target - fw / fh|; a zero height gives an infinite ratio (or NaN for 0 / 0), which never
// qualifies, without dividing by zero.
double Diff(double target, uint32_t fw, uint32_t fh)
{
    double ratio = std::numeric_limits<double>::quiet_NaN();
    if (fh != 0) {
        ratio = static_cast<double>(fw) / static_cast<double>(fh);
    } else if (fw != 0) {
        ratio = std::numeric_limits<double>::infinity();
    }
    return std::fabs(target - ratio);
}

double LogEntry(const TFormatTable& t, uint32_t k, double target)
{
    const double diff = Diff(target, t.widths[k], t.heights[k]);
    LogDetail("%s Format %dx%d, diff %f", kName, static_cast<int>(t.widths[k]), static_cast<int>(t.heights[k]), diff);
    return diff;
}

// The webcam's size in the frame; its height follows the UI format's aspect ratio when the
// placement's own ratio is off. nullopt when a quotient would divide by zero or a product does
// not fit an unsigned 32-bit value.
std::optional<TDesiredSize> DesiredSize(const TLayoutSettings& s)
{
    if (s.webcamWidth == 0 || s.webcamHeight == 0) {
        return std::nullopt;
    }
    const double aspect = static_cast<double>(s.webcamWidth) / static_cast<double>(s.webcamHeight);
    const auto dw = TruncToU32(s.iSourceWidth * s.dWebCamWidth);
    auto dh = TruncToU32(s.iSourceHeight * s.dWebCamHeight);
    if (!dw || !dh) {
        return std::nullopt;
    }
    if (AspectDiffers(*dw, *dh, aspect)) {
        dh = TruncToU32(*dw / aspect);
        if (!dh) {
            return std::nullopt;
        }
    }
    return TDesiredSize{*dw, *dh};
}

// Pass 1: in table order, the first entry at least as large as desired with the right shape.
std::optional<uint32_t> FirstLargeEnough(const TFormatTable& t, const TDesiredSize& d, double target)
{
    LogDetail("%s Check formats (higher with aspect ratio)", kName);
    for (uint32_t k = 0; k < t.ui32Count; ++k) {
        const double diff = LogEntry(t, k, target);
        if (t.widths[k] >= d.ui32Width && t.heights[k] >= d.ui32Height && diff <= kMatchTolerance) {
            return k;
        }
    }
    return std::nullopt;
}

// Pass 2: from the last entry down, the first one of the right shape.
std::optional<uint32_t> LastOfShape(const TFormatTable& t, double target)
{
    LogDetail("%s Check formats (biggest with aspect ratio)", kName);
    for (uint32_t k = t.ui32Count; k-- > 0;) {
        if (LogEntry(t, k, target) <= kMatchTolerance) {
            return k;
        }
    }
    return std::nullopt;
}

// Pass 3: from the last entry down, the entry with the smallest diff below 100 (the first met
// among equals). Nothing when no diff is below 100 (for example only zero heights).
std::optional<uint32_t> ClosestShape(const TFormatTable& t, double target)
{
    LogDetail("%s Check formats", kName);
    double closest = kInitialClosestDiff;
    std::optional<uint32_t> chosen;
    for (uint32_t k = t.ui32Count; k-- > 0;) {
        const double diff = LogEntry(t, k, target);
        if (diff < closest) {
            closest = diff;
            chosen = k;
        }
    }
    return chosen;
}

std::optional<uint32_t> SelectEntry(const TFormatTable& t, const TDesiredSize& d)
{
    const double target = static_cast<double>(d.ui32Width) / static_cast<double>(d.ui32Height);
    std::optional<uint32_t> chosen = FirstLargeEnough(t, d, target);
    if (!chosen) {
        chosen = LastOfShape(t, target);
    }
    if (!chosen) {
        chosen = ClosestShape(t, target);
    }
    return chosen;
}

}  // namespace

TWebcamFormatChoice ChooseWebcamFormat(const TFrameBufferHeader& header, const TLayoutSettings& s)
{
    LogInfo("%s", kName);
    LogWebcamValues(s.webcamWidth, s.webcamHeight, s);
    TWebcamFormatChoice choice{false, 0, s.webcamWidth, s.webcamHeight};
    const std::optional<TDesiredSize> desired = DesiredSize(s);
    if (desired) {
        LogInfo("%s Selecting format for recording video %dx%d", kName, s.iSourceWidth, s.iSourceHeight);
        LogInfo("%s Webcam format from UI %dx%d", kName, static_cast<int>(s.webcamWidth),
                static_cast<int>(s.webcamHeight));
        LogInfo("%s Webcam size desired %dx%d", kName, static_cast<int>(desired->ui32Width),
                static_cast<int>(desired->ui32Height));
    }
    // A zero desired size makes every quotient infinite or undefined: no selection then.
    if (desired && desired->ui32Width != 0 && desired->ui32Height != 0) {
        const TFormatTable table = ReadFormatTable(header);
        const std::optional<uint32_t> index = SelectEntry(table, *desired);
        if (index) {
            choice = TWebcamFormatChoice{true, *index, table.widths[*index], table.heights[*index]};
            LogInfo("%s Selected format %dx%d", kName, static_cast<int>(choice.ui32Width),
                    static_cast<int>(choice.ui32Height));
        }
    }
    LogWebcamValues(choice.ui32Width, choice.ui32Height, s);
    LogInfo("%s Exit", kName);
    return choice;
}

void ApplyWebcamFormat(TFrameBufferHeader& header, const TWebcamFormatChoice& choice)
{
    if (!choice.bChosen || choice.ui32Index >= kWebCamFormatCapacity) {
        return;
    }
    header.webcamWidth = choice.ui32Width;
    header.webcamHeight = choice.ui32Height;
    // The record is bytes 4..1671 of the entry; addressed through the header's bytes so that no
    // pointer to a packed member is formed.
    uint8_t* const base = reinterpret_cast<uint8_t*>(&header);
    const size_t entryAt = offsetof(TFrameBufferHeader, WebCamFormats) + choice.ui32Index * sizeof(TWebCamFormatEntry);
    std::memcpy(base + offsetof(TFrameBufferHeader, SelectedWebCamFormat), base + entryAt + 4,
                kWebCamFormatRecordSize);
}

}  // namespace zyrlayout

void TFrameBufferHeader::UpdateWebcamFormat()
{
    const zyrlayout::TLayoutSettings settings = zyrlayout::ReadLayoutSettings(*this);
    zyrlayout::ApplyWebcamFormat(*this, zyrlayout::ChooseWebcamFormat(*this, settings));
}
