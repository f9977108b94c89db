#include "RefHostFrames.h"

#include "RefHostSession.h"

#include <memory>
#include <string>

namespace {

void Line(std::ostream& out, const std::string& text)
{
    out << text << '\n';
    out.flush();
}

TPumpOptions PumpOptions(const TRefHostCommand& command, const TRefHost& host)
{
    TPumpOptions options;
    options.mode = command.bSingleFrame ? TPumpMode::SingleFrame
                                        : (command.bPipeline ? TPumpMode::Pipelined : TPumpMode::Sequential);
    options.ui32Frames = command.ui32Frames;
    options.dFramesPerSecond = command.dFramesPerSecond;
    options.ui32TimeoutMs = command.ui32TimeoutMs;
    options.hCapturerProcess = host.CapturerProcess();
    return options;
}

// The sinks the command names; false when a stream is asked for without a writer.
bool BuildSinks(const TRefHostCommand& command, const TByteWriter& streamWriter, TSinkList* pSinks)
{
    if (!command.wsPngDirectory.empty()) {
        pSinks->Add(std::make_unique<TPngDirectorySink>(command.wsPngDirectory));
    }
    if (command.streamFormat != TStreamFormat::None && !streamWriter) {
        return false;
    }
    if (command.streamFormat == TStreamFormat::Raw) {
        pSinks->Add(std::make_unique<TRawStreamSink>(streamWriter));
    } else if (command.streamFormat == TStreamFormat::Y4m) {
        pSinks->Add(std::make_unique<TY4mStreamSink>(streamWriter, command.dFramesPerSecond));
    }
    return true;
}

std::string FailureText(const TRefHostCommand& command, const TPumpResult& result)
{
    std::string text = "ZYRRefHost: frames stopped after " + std::to_string(result.Delivered()) + " of " +
                       std::to_string(command.ui32Frames) + ": " + FrameResultName(result.result);
    if (result.result == TFrameResult::TimedOut) {
        text += " (no frame within " + std::to_string(command.ui32TimeoutMs) + " ms)";
    } else if (result.result == TFrameResult::SinkFailed) {
        text += " (" + result.strSinkError + ")";
    }
    return text;
}

}  // namespace

int ReadRefHostFrames(const TRefHostCommand& command, const TRefHost& host, std::ostream& out, std::ostream& err,
                      const TByteWriter& streamWriter, const TCursorPublisher* pCursorPublisher)
{
    TSinkList sinks;
    if (!BuildSinks(command, streamWriter, &sinks)) {
        Line(err, "ZYRRefHost: a frame stream was asked for, but there is no writer for it");
        return 1;
    }
    TFrameClient client(host);
    if (!client.IsUsable()) {
        Line(err, "ZYRRefHost: frames need the frame buffer (it was left out or is undersized)");
        return kExitFramesFailed;
    }
    const TPumpResult result = RunFramePump(client, PumpOptions(command, host), sinks);
    if (result.result == TFrameResult::SizeRefused) {
        const TRefHostOptions& options = command.options;
        Line(out, "frame-size refused: the capturer set the image size to 0 x 0 (requested " +
                      std::to_string(options.iRequestedWidth) + "x" + std::to_string(options.iRequestedHeight) +
                      ", capacity " + std::to_string(options.iMaxWidth) + "x" + std::to_string(options.iMaxHeight) + ")");
        return kExitSizeRefused;
    }
    if (client.Width() != 0) {
        Line(out, "frame-size " + std::to_string(client.Width()) + "x" + std::to_string(client.Height()));
    }
    std::string stats = FormatStatsLine(result.Stats());
    if (pCursorPublisher != nullptr) {
        stats += " cursor_events=" + std::to_string(pCursorPublisher->EventsReceived());
    }
    Line(out, stats);
    if (result.result != TFrameResult::Ok) {
        Line(err, FailureText(command, result));
        return kExitFramesFailed;
    }
    return 0;
}
