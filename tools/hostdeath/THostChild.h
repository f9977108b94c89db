// A child process whose standard output and error come back through a pipe, read line by line on a
// thread of this object's own, so the owner can wait for a line while it watches other processes.
//
// Used from one thread; the reader thread only appends lines. Destroying the object terminates a
// child that still runs and joins the reader.
#pragma once

#include "ipc/THandle.h"

#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class THostChild {
public:
    THostChild() = default;
    ~THostChild();
    THostChild(const THostChild&) = delete;
    THostChild& operator=(const THostChild&) = delete;

    // Starts `exePath` with the command line `commandLine` (which begins with the quoted program
    // name). False with *pError set when the pipe or the process cannot be made. Call once.
    bool Start(const std::wstring& exePath, const std::wstring& commandLine, std::wstring* pError);

    HANDLE Process() const { return hProcess.Get(); }
    DWORD Id() const { return dwProcessId; }

    // The first line starting with any of `prefixes`, waiting up to timeoutMs; empty when none came
    // before the bound or before the pipe closed.
    std::string WaitLine(const std::vector<std::string>& prefixes, DWORD timeoutMs);
    // Waits until the pipe has closed (every writer gone), at most timeoutMs; true when it has.
    bool WaitPipeClosed(DWORD timeoutMs);
    std::vector<std::string> Lines();

private:
    void ReadPipe();
    const std::string* FindLine(const std::vector<std::string>& prefixes) const;

    TKernelHandle hProcess;
    DWORD dwProcessId = 0;
    TKernelHandle hPipe;  // read end
    std::mutex mutexLines;  // guards the two below; conditionLines tells their changes
    std::condition_variable conditionLines;
    std::vector<std::string> vecLines;
    bool bPipeClosed = false;
    std::thread reader;  // last: joined before the pipe closes
};
