#include "ipc/PermissiveSecurity.h"

#include <sddl.h>

const wchar_t kPermissiveSddl[] =
    L"D:P(A;OICI;GA;;;SY)(A;OICI;GA;;;BA)(A;OICI;GA;;;IU)(A;OICI;GA;;;S-1-15-2-1)"
    L"(A;OICI;GA;;;S-1-15-2-2)(A;OICI;GA;;;BU)(A;OICI;GA;;;WD)(A;OICI;GA;;;AN)(A;OICI;GA;;;CO)"
    L"(A;OICI;GA;;;LG)(A;OICI;GA;;;RC)(A;OICI;GA;;;LW)(A;OICI;GA;;;ME)(A;OICI;GA;;;MP)"
    L"(A;OICI;GA;;;HI)(A;OICI;GA;;;SI)S:(ML;;NW;;;LW)";

TLocalMemory<PSECURITY_DESCRIPTOR> BuildPermissiveSecurityDescriptor()
{
    TLocalMemory<PSECURITY_DESCRIPTOR> descriptor;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kPermissiveSddl, SDDL_REVISION_1,
                                                                descriptor.Receive(), nullptr)) {
        const DWORD dwError = ::GetLastError();
        descriptor.Reset();
        ::SetLastError(dwError);
    }
    return descriptor;
}

SECURITY_ATTRIBUTES MakeSecurityAttributes(PSECURITY_DESCRIPTOR pDescriptor)
{
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = pDescriptor;
    attributes.bInheritHandle = FALSE;
    return attributes;
}
