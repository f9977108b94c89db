// fullscreenoverlay.exe, the project's stand-in for the product's overlay program (console
// subsystem, so its record of commands can be read on stdout):
//   fullscreenoverlay.exe <capturer process id>
// It serves the overlay command channel until the capturer process ends, printing one line per
// command ("command <id> status <status>") and logging the same through the product's log server
// (it lives in the capturer's folder, so a server that serves the capturer serves it too).
// Exit code: the number of commands served, or
//   -1 bad arguments, -2 the capturer process cannot be opened, -3 no frame buffer mapping,
//   -4 the header cannot be mapped, -5 the channel events cannot be opened or created.
#include "OverlayServer.h"
#include "log/Log.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int kExitBadArguments = -1;
constexpr int kExitNoCapturer = -2;

// A decimal process id: digits only, not zero, fits 32 bits.
bool ParseProcessId(const char* text, DWORD* pId)
{
    const std::string digits(text);
    if (digits.empty() || digits.size() > 10 || digits.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const unsigned long long value = std::strtoull(digits.c_str(), nullptr, 10);
    if (value == 0 || value > 0xFFFFFFFFull) {
        return false;
    }
    *pId = static_cast<DWORD>(value);
    return true;
}

int OpenFailureExitCode(overlay::OpenResult result)
{
    switch (result) {
    case overlay::OpenResult::NoMapping: return -3;
    case overlay::OpenResult::NoView: return -4;
    default: return -5;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    DWORD capturerId = 0;
    if (argc != 2 || !ParseProcessId(argv[1], &capturerId)) {
        std::fprintf(stderr, "usage: fullscreenoverlay <capturer process id>\n");
        return kExitBadArguments;
    }
    LogInfo("fullscreenoverlay started for capturer %lu", static_cast<unsigned long>(capturerId));
    TKernelHandle hCapturer(::OpenProcess(SYNCHRONIZE, FALSE, capturerId));
    if (!hCapturer) {
        const unsigned long error = ::GetLastError();
        LogError("fullscreenoverlay OpenProcess %lu error %lu", static_cast<unsigned long>(capturerId), error);
        std::fprintf(stderr, "fullscreenoverlay: OpenProcess %lu error %lu\n", capturerId, error);
        return kExitNoCapturer;
    }
    overlay::OverlayServer server;
    const overlay::OpenResult opened = server.Open();
    if (opened != overlay::OpenResult::Ok) {
        const unsigned long error = ::GetLastError();
        LogError("fullscreenoverlay %s error %lu", overlay::OpenResultName(opened), error);
        std::fprintf(stderr, "fullscreenoverlay: %s error %lu\n", overlay::OpenResultName(opened), error);
        return OpenFailureExitCode(opened);
    }
    server.MarkRunning();
    const auto served = server.Serve(hCapturer.Get(), [](uint32_t command, uint32_t status) {
        LogInfo("fullscreenoverlay command %u status %u", command, status);
        std::printf("command %u status %u\n", command, status);
        std::fflush(stdout);
    });
    LogInfo("fullscreenoverlay exit, the capturer ended after %u commands", static_cast<unsigned>(served.size()));
    return static_cast<int>(served.size());
}
