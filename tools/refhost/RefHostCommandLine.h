// ZYRRefHost.exe's command line: what a run asks for, and the parser that turns the arguments
// into it.
#pragma once

#include "TCursorPublisher.h"
#include "TRefHost.h"

#include <cstdint>
#include <string>
#include <vector>

// --raw / --y4m: a frame stream on standard output (see FrameEncoding.h).
enum class TStreamFormat { None, Raw, Y4m };

struct TRefHostCommand {
    TRefHostOptions options;
    std::wstring wsCapturerPath;
    bool bArgsOverride = false;     // --args given: wsArgs replaces the capturer's arguments
    std::wstring wsArgs;
    TStopMethod stopMethod = TStopMethod::UninstallEvent;
    uint32_t ui32RunMs = 1000;      // how long the capturer runs after started-correctly
    uint32_t ui32TimeoutMs = 20000; // bound of each wait
    bool bIdle = false;             // --idle: only sleep ui32IdleMs, a stand-in host process
    uint32_t ui32IdleMs = 0;
    std::wstring wsWaitEvent;       // --wait-event: start the capturer only once this event is set
    std::wstring wsSignalEvent;     // --signal-event: set this event when the run is over
    // Frames: with ui32Frames > 0 the capturer runs until that many frames were read (ui32RunMs
    // then plays no part), without it only for ui32RunMs.
    uint32_t ui32Frames = 0;        // --frames (--single-frame alone: 1)
    double dFramesPerSecond = 0;    // --fps; 0: as fast as the capturer serves
    bool bPipeline = false;         // --pipeline: all six slots requested
    bool bSingleFrame = false;      // --single-frame: single-frame requests, capture disabled
    std::wstring wsPngDirectory;    // --png-dir
    TStreamFormat streamFormat = TStreamFormat::None;
    // --cursor-picture (which also sets options.bDrawMouseCursor) and --cursor-hotspot: the host
    // publishes the cursor block (TCursorPublisher) from the creation of its objects to the end.
    bool bPublishCursor = false;
    bool bCursorHotspotGiven = false;  // --cursor-hotspot needs --cursor-picture
    TCursorPublisherOptions cursorOptions;
    // --webcam M (options.bWebCam, the shader parameter M), --chroma-key, --webcam-fps R: the host
    // feeds the webcam (TWebCamProducer) from the creation of its objects to the end.
    double dWebCamFramesPerSecond = 0;
    // --hostile SEED, --hostile-ms N: after started-correctly the host requests frames and rewrites
    // the header under the capturer for N ms (THostileHost.h), then stops it with the uninstall event
    // and measures the time to its exit.
    bool bHostile = false;
    uint64_t ui64HostileSeed = 0;
    uint32_t ui32HostileMs = 60000;
};

enum class TRefHostParseResult { Run, Help, Bad };

// Parses the arguments after the program name. Bad: *pError says why; the command holds what was
// parsed so far.
TRefHostParseResult ParseRefHostArguments(const std::vector<std::wstring>& args, TRefHostCommand* pCommand,
                                          std::wstring* pError);

// "uninstall", "instance-mutex", "end-host": the --stop values and the "stop" output line.
const char* StopMethodText(TStopMethod method);

// The text --help prints.
const char* RefHostUsage();
