// The security descriptor that every named object this product creates carries, so that processes
// of any integrity level can open it. Shared by the log client (which must not log while building
// it) and by TZYRSecurityAttributes.
#pragma once

#include "ipc/THandle.h"

#include <windows.h>

extern const wchar_t kPermissiveSddl[];

// Converts kPermissiveSddl (SDDL revision 1). Empty on failure; the thread's last error then
// holds the conversion's error code.
TLocalMemory<PSECURITY_DESCRIPTOR> BuildPermissiveSecurityDescriptor();

// SECURITY_ATTRIBUTES over a descriptor (null descriptor = default security), not inheritable.
SECURITY_ATTRIBUTES MakeSecurityAttributes(PSECURITY_DESCRIPTOR pDescriptor);
