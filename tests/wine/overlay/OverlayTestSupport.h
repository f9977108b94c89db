// Helpers shared by the overlay suites: a host that creates only the frame buffer section, waits
// on flags with a deadline, named-event probes and the test program's own directory.
#pragma once

#include "TRefHost.h"
#include "ipc/THandle.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Options of a host that creates the frame buffer section and nothing else.
TRefHostOptions FrameBufferOnlyOptions();

// Polls the condition until it holds or timeoutMs has passed; true when it held.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);

// True when a named event of that name exists (it is opened and closed again).
bool EventExists(const wchar_t* name);
// Opens a named event for waiting and setting; null when it does not exist.
TKernelHandle OpenNamedEvent(const wchar_t* name);

// The directory of the running test program, ending in a backslash.
std::wstring TestProgramDirectory();

// Starts a program with a command line of its own; null on failure.
TKernelHandle StartProgram(const std::wstring& exePath, const std::wstring& arguments);

// Exit code of an ended process, waiting up to timeoutMs; false when it did not end.
bool WaitExitCode(HANDLE hProcess, DWORD timeoutMs, int* pExitCode);

size_t CountText(const std::vector<std::string>& texts, const std::string& text);
bool StartsWith(const std::string& text, const std::string& prefix);
