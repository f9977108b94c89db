#include "ipc/TZYRSecurityAttributes.h"

#include "ipc/PermissiveSecurity.h"
#include "log/Log.h"

TZYRSecurityAttributes::TZYRSecurityAttributes()
{
    LogInfo("%s", "TZYRSecurityAttributes::TZYRSecurityAttributes");
    pDescriptor = BuildPermissiveSecurityDescriptor();
    if (!pDescriptor.Get()) {
        LogError("%s ConvertStringSecurityDescriptorToSecurityDescriptor error %d",
                 "TZYRSecurityAttributes::TZYRSecurityAttributes", static_cast<int>(::GetLastError()));
    }
    saAttributes = MakeSecurityAttributes(pDescriptor.Get());
    LogInfo("%s exit", "TZYRSecurityAttributes::TZYRSecurityAttributes");
}

TZYRSecurityAttributes::~TZYRSecurityAttributes()
{
    LogInfo("%s", "TZYRSecurityAttributes::~TZYRSecurityAttributes");
    pDescriptor.Reset();
    LogInfo("%s exit", "TZYRSecurityAttributes::~TZYRSecurityAttributes");
}
