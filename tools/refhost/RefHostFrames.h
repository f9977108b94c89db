// The frame part of a ZYRRefHost.exe run: read the command's frames from a capturer that started
// correctly, hand them to the sinks the command names, and report the frame size and the stats
// line (FrameStatistics.h).
#pragma once

#include "FrameSinks.h"
#include "RefHostCommandLine.h"
#include "TCursorPublisher.h"
#include "TRefHost.h"

#include <ostream>

// Exit codes of a frame run besides 0 (all frames read) and 1 (the tool's own failure).
constexpr int kExitSizeRefused = 3;   // the capturer refused the frame size (image 0 x 0)
constexpr int kExitFramesFailed = 4;  // time-out, capturer ended, layout outside the section, sink

// Reads command.ui32Frames frames through host's section; lines to `out`, failures to `err`.
// Returns the exit code. The capturer is left running. With a cursor publisher, the stats line
// ends in " cursor_events=<n>", the cursor events it received so far.
int ReadRefHostFrames(const TRefHostCommand& command, const TRefHost& host, std::ostream& out, std::ostream& err,
                      const TByteWriter& streamWriter, const TCursorPublisher* pCursorPublisher = nullptr);
