// Linked only into ZYRFullscreenCapturerTestDup.exe, never into the library: before WinMain runs,
// this object points the capturer's one DuplicateOutput call at the screen-backed duplication, so
// that the desktop duplication method can run where the platform has none (Wine). The seam's
// default is constant-initialised, so this dynamic initialisation always comes after it.
#include "TScreenOutputDuplication.h"

#include "duplication/DuplicationSeams.h"

namespace {

const TScopedDuplicateOutput g_screenDuplication(&testdup::TScreenOutputDuplication::DuplicateOutputHook);

}  // namespace
