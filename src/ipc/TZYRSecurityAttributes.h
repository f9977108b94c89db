// SECURITY_ATTRIBUTES with the product's permissive descriptor, for every named object this
// process creates. A failed conversion leaves a null descriptor: objects created with these
// attributes then get the default security.
#pragma once

#include "ipc/THandle.h"

#include <windows.h>

class TZYRSecurityAttributes {
public:
    TZYRSecurityAttributes();
    ~TZYRSecurityAttributes();
    TZYRSecurityAttributes(const TZYRSecurityAttributes&) = delete;
    TZYRSecurityAttributes& operator=(const TZYRSecurityAttributes&) = delete;

    SECURITY_ATTRIBUTES* Get() { return &saAttributes; }
    bool HasDescriptor() const { return saAttributes.lpSecurityDescriptor != nullptr; }

private:
    TLocalMemory<PSECURITY_DESCRIPTOR> pDescriptor;
    SECURITY_ATTRIBUTES saAttributes{};
};
