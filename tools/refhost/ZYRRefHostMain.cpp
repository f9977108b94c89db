// ZYRRefHost.exe: the reference host on the command line (see RefHostCommandLine.h for the
// options and RefHostSession.h for the output).
#include "CommandLineArguments.h"
#include "RefHostCommandLine.h"
#include "RefHostSession.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <iostream>

namespace {

// Frames on standard output: binary mode, or the C runtime would turn every 0x0A into 0x0D 0x0A.
// Flushed per frame so an encoder reading the pipe gets each frame at once.
TByteWriter StandardOutputWriter()
{
    ::_setmode(::_fileno(stdout), _O_BINARY);
    return [](const uint8_t* pData, size_t size) {
        return std::fwrite(pData, 1, size, stdout) == size && std::fflush(stdout) == 0;
    };
}

}  // namespace

int main()
{
    TRefHostCommand command;
    std::wstring error;
    switch (ParseRefHostArguments(toolargs::CommandLineArguments(), &command, &error)) {
    case TRefHostParseResult::Help:
        std::cout << RefHostUsage();
        return 0;
    case TRefHostParseResult::Bad:
        std::cerr << "ZYRRefHost: " << ToUtf8(error) << "\n" << RefHostUsage();
        return 2;
    case TRefHostParseResult::Run:
        break;
    }
    if (command.bIdle) {
        // A stand-in host: it only has to exist until it is ended or the time is up.
        ::Sleep(command.ui32IdleMs);
        return 0;
    }
    // With a frame stream on standard output, the lines go to standard error.
    const bool bStream = command.streamFormat != TStreamFormat::None;
    std::ostream& out = bStream ? std::cerr : std::cout;
    TRefHost host;
    const TRefHostSessionResult result =
        RunRefHostSession(command, host, out, std::cerr, bStream ? StandardOutputWriter() : TByteWriter{});
    if (result.bHostMustEnd) {
        // The host ends with its objects still open and the capturer running: the capturer has to
        // notice the host process's end by itself. The host object is deliberately not destroyed.
        out.flush();
        std::fflush(stdout);
        ::ExitProcess(static_cast<UINT>(result.iExitCode));
    }
    return result.iExitCode;
}
