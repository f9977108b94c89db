// ZYRRefHost.exe: the reference host on the command line (see RefHostCommandLine.h for the
// options and RefHostSession.h for the output).
#include "RefHostCommandLine.h"
#include "RefHostSession.h"

#include <shellapi.h>

#include <iostream>

namespace {

std::vector<std::wstring> Arguments()
{
    int count = 0;
    TLocalMemory<LPWSTR*> argv(::CommandLineToArgvW(::GetCommandLineW(), &count));
    std::vector<std::wstring> args;
    for (int i = 1; argv.Get() != nullptr && i < count; ++i) {
        args.emplace_back(argv.Get()[i]);
    }
    return args;
}

}  // namespace

int main()
{
    TRefHostCommand command;
    std::wstring error;
    switch (ParseRefHostArguments(Arguments(), &command, &error)) {
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
    TRefHost host;
    const TRefHostSessionResult result = RunRefHostSession(command, host, std::cout, std::cerr);
    if (result.bHostMustEnd) {
        // The host ends with its objects still open and the capturer running: the capturer has to
        // notice the host process's end by itself. The host object is deliberately not destroyed.
        std::cout.flush();
        ::ExitProcess(0);
    }
    return result.iExitCode;
}
