// The host's frame buffer section as this process maps it: first the header only, then, once the
// frame size is known, the whole laid-out section. Owns the section handle and the view.
//
// Threads: Open/MapHeader run on the main thread before the capture thread exists; the re-map runs
// on the capture thread; Close runs after the capture thread was joined.
#pragma once

#include "framebuffer/FrameBufferView.h"
#include "framebuffer/TFrameBufferHeader.h"
#include "ipc/THandle.h"
#include "ipc/TZYRMutex.h"

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>

// What a re-map left behind. LaidOut: the view covers a layout of the asked size. Refused: the size
// was refused (capacity, 32-bit overflow, a section too small); the header shows 0 x 0. NotLocked:
// an overlay mutex could not be taken and nothing was changed. NoView: nothing is mapped any more.
enum class TReallocOutcome { LaidOut, Refused, NotLocked, NoView };

class TSharedFrameBuffer {
public:
    using TAccessMutexes = std::map<int, std::shared_ptr<TZYRMutex>>;

    // OpenFileMappingW(all access). False with the thread's last error set on failure.
    bool OpenSection(const wchar_t* name);
    // Maps the header (198,632 bytes). False with the thread's last error set on failure.
    bool MapHeader();
    // Unmaps the view, then closes the section.
    void Close();

    // The current view's header; null when nothing is mapped.
    TFrameBufferHeader* Header() const { return pFrameBufferHeader.As<TFrameBufferHeader>(); }
    // Bounds-checked access to the image areas of the current view.
    TFrameBufferView View() const { return TFrameBufferView(pFrameBufferHeader.Bytes(), pFrameBufferHeader.Size()); }
    size_t ViewSize() const { return pFrameBufferHeader.Size(); }
    // The section (owned here); views of it start at its first byte.
    HANDLE Section() const { return hFrameBufferFileMapping.Get(); }

    // Takes the four overlay area mutexes (keys 0, 2, 3, 1, unlimited waits; the first failure
    // stops the locking), lays the section out again and maps all of it when (width, height) is
    // new or the current view does not cover the layout, and releases every mutex in the same
    // order whatever happened. Afterwards Header() may be null (the map failed): callers reload it.
    TReallocOutcome TestAndReallocSharedBuffers(int32_t width, int32_t height, const TAccessMutexes& mutexes);

private:
    TReallocOutcome TestAndReallocSharedBuffersInternal(int32_t width, int32_t height);
    bool NeedsNewLayout(const TFrameBufferHeader& header, int32_t width, int32_t height) const;
    void RefuseLayout(TFrameBufferHeader& header);
    void Remap(uint32_t ui32Size);
    uint64_t QuerySectionSize() const;

    TKernelHandle hFrameBufferFileMapping;
    TMappedView pFrameBufferHeader;  // declared after the section: unmapped before it is closed
};
