#include "ipc/TFullscreenOverlayCommands.h"

#include "framebuffer/TFrameBufferHeader.h"
#include "ipc/HostObjectNames.h"
#include "ipc/TZYRSecurityAttributes.h"
#include "log/Log.h"

#include <cstddef>
#include <cstring>

namespace {

constexpr const char kBaseName[] = "TFullscreenOverlayCommandsBase::TFullscreenOverlayCommandsBase";
constexpr const char kOpenOrCreateName[] = "TFullscreenOverlayCommandsBase::OpenOrCreateEvent";
constexpr const char kSendName[] = "TFullscreenOverlayCommandsClient::SendCommand";
constexpr DWORD kCommandProcessedWaitMs = 200;
constexpr DWORD kEventAccess = SYNCHRONIZE | EVENT_MODIFY_STATE;

// Both words lie well inside the header, which is exactly what the view maps.
static_assert(offsetof(TFrameBufferHeader, ui32OverlayCommandStatus) + sizeof(uint32_t) <= kFrameBufferHeaderSize);

// Stores one word at a fixed header offset, never past the end of the view.
void WriteHeaderWord(const TMappedView& view, size_t offset, uint32_t value)
{
    if (view && offset + sizeof(value) <= view.Size()) {
        std::memcpy(view.Bytes() + offset, &value, sizeof(value));
    }
}

}  // namespace

TFullscreenOverlayCommandsBase::TFullscreenOverlayCommandsBase(bool bServerRole) : bServer(bServerRole)
{
    LogInfo("%s %d", kBaseName, bServer ? 1 : 0);
    hFileMapping.Reset(::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, kFrameBufferMappingName));
    if (!hFileMapping) {
        LogError("%s OpenFileMapping error %d", kBaseName, static_cast<int>(::GetLastError()));
    } else {
        pView = TMappedView(::MapViewOfFile(hFileMapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, kFrameBufferHeaderSize),
                            kFrameBufferHeaderSize);
        if (!pView) {
            LogError("%s MapViewOfFile error %d", kBaseName, static_cast<int>(::GetLastError()));
        } else {
            OpenOrCreateEvent(pNewCommandEvent, kOverlayNewCommandEventName);
            OpenOrCreateEvent(pCommandProcessedEvent, kOverlayCommandProcessedEventName);
        }
    }
    LogInfo("%s exit", kBaseName);
}

TFullscreenOverlayCommandsBase::~TFullscreenOverlayCommandsBase()
{
    LogInfo("%s", "TFullscreenOverlayCommandsBase::~TFullscreenOverlayCommandsBase");
    pView.Reset();
    hFileMapping.Reset();
    LogInfo("%s exit", "TFullscreenOverlayCommandsBase::~TFullscreenOverlayCommandsBase");
}

void TFullscreenOverlayCommandsBase::OpenOrCreateEvent(std::unique_ptr<TZYREvent>& pEvent, const wchar_t* name)
{
    // The overlay process may not have created the events yet: the first attempt may fail.
    pEvent = std::make_unique<TZYREvent>(kEventAccess, name, TZYREvent::TOpenFailureLevel::Info);
    if (pEvent->Get() == nullptr) {
        LogInfo("%s '%S' event can't be opened -> try to create", kOpenOrCreateName, name);
        TZYRSecurityAttributes attributes;
        pEvent = std::make_unique<TZYREvent>(attributes.Get(), false, false, name);
        if (pEvent->Get() == nullptr) {
            LogError("%s '%S' event can't be created", kOpenOrCreateName, name);
        }
    }
    if (pEvent->Get() != nullptr) {
        LogInfo("%s '%S' event has been created", kOpenOrCreateName, name);
    }
}

TFullscreenOverlayCommandsClient::TFullscreenOverlayCommandsClient() : TFullscreenOverlayCommandsBase(false)
{
    LogInfo("%s", "TFullscreenOverlayCommandsClient::TFullscreenOverlayCommandsClient");
    LogInfo("%s exit", "TFullscreenOverlayCommandsClient::TFullscreenOverlayCommandsClient");
}

TFullscreenOverlayCommandsClient::~TFullscreenOverlayCommandsClient()
{
    LogInfo("%s", "TFullscreenOverlayCommandsClient::~TFullscreenOverlayCommandsClient");
    LogInfo("%s exit", "TFullscreenOverlayCommandsClient::~TFullscreenOverlayCommandsClient");
}

void TFullscreenOverlayCommandsClient::SendCommand(uint32_t command)
{
    LogVerbose("%s new command %d", kSendName, static_cast<int>(command));
    // Without a view (failed open or map) there is nowhere to write; the events are missing too.
    WriteHeaderWord(pView, offsetof(TFrameBufferHeader, ui32OverlayCommand), command);
    WriteHeaderWord(pView, offsetof(TFrameBufferHeader, ui32OverlayCommandStatus), 0);
    // Without a view no event was opened either; a missing event object reports exactly as an
    // event with a null handle does, so the lines are the same whichever way the open failed.
    TZYREvent* pNew = pNewCommandEvent.get();
    TZYREvent* pProcessed = pCommandProcessedEvent.get();
    if (pNew != nullptr) {
        pNew->SetEvent();
    } else {
        LogError("%s hEvent is null", "TZYREvent::SetEvent");
    }
    const bool bProcessed = pProcessed != nullptr && pProcessed->WaitForSingleObject(kCommandProcessedWaitMs);
    if (pProcessed == nullptr) {
        LogError("%s hEvent is null", "TZYREvent::WaitForSingleObject");
    }
    LogVerbose(bProcessed ? "%s command processed" : "%s command timeout", kSendName);
    LogVerbose("%s exit", kSendName);
}
