// The stand-in for the product's fullscreen overlay program: the server side of the overlay
// command channel. It opens its own view of the frame buffer header and the two channel events,
// waits for the new-command event, reads ui32OverlayCommand once, answers through
// ui32OverlayCommandStatus and sets the command-processed event.
//
// Status words it writes (the client writes 0 with every command):
//   1  the command was carried out (command 1, "start", is the only one known);
//   2  the command id is unknown.
// bOverlayStatus is set to 1 once the server is ready to serve (the capturer clears it just before
// it starts the overlay), so a host or a test can wait for the overlay to be up.
//
// Used from one thread.
#pragma once

#include "ipc/THandle.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace overlay {

constexpr uint32_t kCommandStart = 1;
constexpr uint32_t kStatusDone = 1;
constexpr uint32_t kStatusUnknownCommand = 2;
constexpr uint8_t kOverlayRunning = 1;

enum class OpenResult { Ok, NoMapping, NoView, NoEvents };
const char* OpenResultName(OpenResult result);

// The status word answering a command id.
uint32_t StatusForCommand(uint32_t command);

class OverlayServer {
public:
    using CommandCallback = std::function<void(uint32_t command, uint32_t status)>;

    // Opens the mapping, maps the header and opens (or creates, auto-reset) both events. On
    // failure the thread's last error holds the failed call's code and the server serves nothing.
    OpenResult Open();
    // Sets bOverlayStatus: the overlay is up.
    void MarkRunning();
    // Serves commands until hEnd is signalled (the capturer process ends) or a wait fails; the
    // callback sees each command and its status. Returns the commands served, in order.
    std::vector<uint32_t> Serve(HANDLE hEnd, const CommandCallback& onCommand);

private:
    uint32_t ServeOne(const CommandCallback& onCommand);

    // Released in reverse: the events, then the view, then the mapping.
    TKernelHandle hMapping;
    TMappedView view;
    TKernelHandle hNewCommandEvent;
    TKernelHandle hCommandProcessedEvent;
};

}  // namespace overlay
