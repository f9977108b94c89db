// The client side of the command channel to the fullscreen overlay process. A command travels
// through two words of the frame buffer header (ui32OverlayCommand, ui32OverlayCommandStatus) and
// two named events: the client writes the words, sets the new-command event and waits 200 ms for
// the command-processed event.
//
// Threads: one object is used by one thread (the capture thread). Objects live on the heap and are
// destroyed through a client or base pointer.
#pragma once

#include "ipc/THandle.h"
#include "ipc/TZYREvent.h"

#include <windows.h>

#include <cstdint>
#include <memory>

inline constexpr wchar_t kOverlayNewCommandEventName[] = L"ZYRFullscreenOverlayNewCommandEvent";
inline constexpr wchar_t kOverlayCommandProcessedEventName[] = L"ZYRFullscreenOverlayCommandProcessedEvent";

// Opens the frame buffer mapping, its own view of the header and the two events. A failed open or
// map leaves the object without a view and without events; nothing here throws.
class TFullscreenOverlayCommandsBase {
public:
    // bServerRole is false for the client, the only role this program uses.
    explicit TFullscreenOverlayCommandsBase(bool bServerRole);
    virtual ~TFullscreenOverlayCommandsBase();
    TFullscreenOverlayCommandsBase(const TFullscreenOverlayCommandsBase&) = delete;
    TFullscreenOverlayCommandsBase& operator=(const TFullscreenOverlayCommandsBase&) = delete;

    // Replaces *pEvent (closing the event it held) by the named event opened with SYNCHRONIZE and
    // EVENT_MODIFY_STATE, or, when that fails, created auto-reset and not signalled with the
    // product's security attributes. A failed create leaves a null handle inside *pEvent.
    static void OpenOrCreateEvent(std::unique_ptr<TZYREvent>& pEvent, const wchar_t* name);

protected:
    // Members in this order; the destructor unmaps the view and closes the mapping itself, then the
    // implicit destruction closes the command-processed event before the new-command event.
    TKernelHandle hFileMapping;
    TMappedView pView;
    bool bServer = false;
    std::unique_ptr<TZYREvent> pNewCommandEvent;
    std::unique_ptr<TZYREvent> pCommandProcessedEvent;
};

class TFullscreenOverlayCommandsClient : private TFullscreenOverlayCommandsBase {
public:
    TFullscreenOverlayCommandsClient();
    ~TFullscreenOverlayCommandsClient() override;

    // Writes the command and a zero status into the header (skipped without a view), sets the
    // new-command event and waits up to 200 ms for the command-processed event. The outcome is
    // only logged: a missing overlay process costs the 200 ms.
    void SendCommand(uint32_t command);
};
