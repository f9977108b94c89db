#include "OverlayServer.h"

#include "framebuffer/TFrameBufferHeader.h"
#include "ipc/HostObjectNames.h"
#include "ipc/PermissiveSecurity.h"
#include "ipc/TFullscreenOverlayCommands.h"

#include <cstddef>
#include <cstring>

namespace overlay {

namespace {

// Fixed offsets inside the header; the view always spans the whole header.
constexpr size_t kCommandOffset = offsetof(TFrameBufferHeader, ui32OverlayCommand);
constexpr size_t kStatusOffset = offsetof(TFrameBufferHeader, ui32OverlayCommandStatus);
constexpr size_t kOverlayStatusOffset = offsetof(TFrameBufferHeader, bOverlayStatus);
static_assert(kStatusOffset + sizeof(uint32_t) <= kFrameBufferHeaderSize);

HANDLE OpenOrCreateEvent(SECURITY_ATTRIBUTES* pAttributes, const wchar_t* name)
{
    // Opens the client's event when it exists; otherwise creates it as the client would.
    return ::CreateEventW(pAttributes, FALSE, FALSE, name);
}

}  // namespace

const char* OpenResultName(OpenResult result)
{
    switch (result) {
    case OpenResult::Ok: return "Ok";
    case OpenResult::NoMapping: return "NoMapping";
    case OpenResult::NoView: return "NoView";
    case OpenResult::NoEvents: return "NoEvents";
    }
    return "?";
}

uint32_t StatusForCommand(uint32_t command)
{
    return command == kCommandStart ? kStatusDone : kStatusUnknownCommand;
}

OpenResult OverlayServer::Open()
{
    hMapping.Reset(::OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, kFrameBufferMappingName));
    if (!hMapping) {
        return OpenResult::NoMapping;
    }
    view = TMappedView(::MapViewOfFile(hMapping.Get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, kFrameBufferHeaderSize),
                       kFrameBufferHeaderSize);
    if (!view) {
        return OpenResult::NoView;
    }
    TLocalMemory<PSECURITY_DESCRIPTOR> descriptor = BuildPermissiveSecurityDescriptor();
    SECURITY_ATTRIBUTES attributes = MakeSecurityAttributes(descriptor.Get());
    hNewCommandEvent.Reset(OpenOrCreateEvent(&attributes, kOverlayNewCommandEventName));
    hCommandProcessedEvent.Reset(OpenOrCreateEvent(&attributes, kOverlayCommandProcessedEventName));
    if (!hNewCommandEvent || !hCommandProcessedEvent) {
        return OpenResult::NoEvents;
    }
    return OpenResult::Ok;
}

void OverlayServer::MarkRunning()
{
    if (view) {
        view.Bytes()[kOverlayStatusOffset] = kOverlayRunning;
    }
}

std::vector<uint32_t> OverlayServer::Serve(HANDLE hEnd, const CommandCallback& onCommand)
{
    std::vector<uint32_t> served;
    if (!view || !hNewCommandEvent || !hCommandProcessedEvent) {
        return served;
    }
    // The end handle comes first: once the capturer is gone, a pending command has no reader.
    const HANDLE handles[2] = {hEnd, hNewCommandEvent.Get()};
    for (;;) {
        const DWORD wait = ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
        if (wait != WAIT_OBJECT_0 + 1) {
            return served;
        }
        served.push_back(ServeOne(onCommand));
    }
}

uint32_t OverlayServer::ServeOne(const CommandCallback& onCommand)
{
    // The header is written by other processes: the command word is read once, into a local.
    uint32_t command = 0;
    std::memcpy(&command, view.Bytes() + kCommandOffset, sizeof(command));
    const uint32_t status = StatusForCommand(command);
    // Answer first: the client waits only 200 ms, and the first console write of a fresh Wine
    // process can take longer than that.
    std::memcpy(view.Bytes() + kStatusOffset, &status, sizeof(status));
    ::SetEvent(hCommandProcessedEvent.Get());
    if (onCommand) {
        onCommand(command, status);
    }
    return command;
}

}  // namespace overlay
