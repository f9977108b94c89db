// One run of ZYRRefHost.exe: create the host's objects, start the capturer, wait for
// started-correctly, let it run, stop it the chosen way and report its exit code.
//
// Lines written to `out`, each flushed at once (whoever started the tool reads them as they come):
//   capturer-pid <N>
//   started-correctly yes after <ms> ms    (or "... no after <ms> ms" when the wait timed out,
//                                           or "started-correctly no" when the capturer ended first)
//   with --frames / --single-frame, once the frames are read (RefHostFrames.h):
//     frame-size <W>x<H>                   (left out when no frame was read)
//     stats frames=<n> fps=<x.x> ...       (FrameStatistics.h; left out when the size was refused;
//                                           with --cursor-picture it ends in " cursor_events=<n>")
//     frame-size refused: ...              (instead of both when the capturer refused the size)
//   stop <uninstall|instance-mutex|end-host>   (left out when the capturer ended by itself)
//   exit-code <N>                          (left out after "stop end-host")
// The tool's own failures go to `err`.
#pragma once

#include "FrameSinks.h"
#include "RefHostCommandLine.h"
#include "TRefHost.h"

#include <ostream>
#include <string>

struct TRefHostSessionResult {
    // 0: ran as asked (the capturer's code is in the output), 1: own failure; with frames also
    // kExitSizeRefused and kExitFramesFailed (RefHostFrames.h).
    int iExitCode = 1;
    bool bHostMustEnd = false;  // --stop end-host: the process must end now, without stopping the capturer
};

// Runs the command's capturer with `host`, whose objects must not have been created yet. With
// --cursor-picture a TCursorPublisher publishes into the host's section from the creation of the
// objects until the session returns. After a
// result with bHostMustEnd the host object must not be destroyed: its destructor would stop the
// capturer, which is to notice the host's end by itself.
// With --raw or --y4m the frames go to streamWriter (the tool's standard output), which must then
// be set.
TRefHostSessionResult RunRefHostSession(const TRefHostCommand& command, TRefHost& host, std::ostream& out,
                                        std::ostream& err, const TByteWriter& streamWriter = {});

std::string ToUtf8(const std::wstring& text);
