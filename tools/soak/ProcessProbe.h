// What the system says about another process's resources, for the soak's samples.
//
// Under Windows: private bytes and working set (GetProcessMemoryInfo), handles
// (GetProcessHandleCount), GDI and USER objects (GetGuiResources). Wine 8 answers private bytes,
// the handle count and both object counts with 0. So the probe also counts the process's entries
// in the system's handle table (NtQuerySystemInformation, extended handle information, which Wine
// answers from its server) and reads the process's anonymous resident memory and its open file
// count from Linux's /proc (reached through Wine's Z: drive), where Wine's process keeps its heap.
// GDI and USER objects have no stand-in under Wine; a leak of them would show as memory.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct TProcessFigures {
    bool bAlive = false;
    uint64_t ui64PrivateBytes = 0;
    uint64_t ui64WorkingSet = 0;
    uint64_t ui64Handles = 0;
    uint64_t ui64TableHandles = 0;  // the process's entries in the system handle table
    uint64_t ui64GdiObjects = 0;
    uint64_t ui64UserObjects = 0;
    uint64_t ui64RssAnonBytes = 0;  // 0 when there is no /proc entry
    uint64_t ui64OpenFiles = 0;     // Linux file descriptors, 0 likewise
    // The memory figure to judge: private bytes where the system reports them, else the
    // anonymous resident memory.
    uint64_t JudgedMemory() const { return ui64PrivateBytes != 0 ? ui64PrivateBytes : ui64RssAnonBytes; }
};

class TProcessProbe {
public:
    // hProcess needs PROCESS_QUERY_INFORMATION and PROCESS_VM_READ. The /proc entry is the Linux
    // process whose command line names a file ending in wsExeName and, when wsArgument is not
    // empty, has that argument too.
    TProcessProbe(HANDLE hProcess, std::wstring wsExeName, std::wstring wsArgument);
    TProcessFigures Sample();

private:
    bool FindLinuxProcess();
    uint64_t CountTableHandles();

    HANDLE hProcess;
    DWORD dwProcessId;
    std::vector<uint8_t> vecHandleTable;  // grown until the table fits, then reused
    std::wstring wsExeName;
    std::wstring wsArgument;
    std::wstring wsProcDirectory;  // e.g. Z:\proc\1234, empty until found
};
