#include "OverlayTestSupport.h"

#include <algorithm>

TRefHostOptions FrameBufferOnlyOptions()
{
    TRefHostOptions options;
    for (THostObject object : {THostObject::UninstallEvent, THostObject::InstanceMutex,
                               THostObject::StartedCorrectlyEvent, THostObject::FirstFrameEvent, THostObject::HUDMutex,
                               THostObject::WebCamMutex, THostObject::RadialMenuMutex,
                               THostObject::WebCamBackgroundMutex}) {
        options.Omit(object);
    }
    options.ui64SectionSize = 1024 * 1024;
    return options;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    TKernelHandle hTick(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    while (!condition()) {
        if (::GetTickCount64() >= deadline) {
            return false;
        }
        ::WaitForSingleObject(hTick.Get(), 5);  // a short pause between polls, never a fixed wait
    }
    return true;
}

TKernelHandle OpenNamedEvent(const wchar_t* name)
{
    return TKernelHandle(::OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, name));
}

bool EventExists(const wchar_t* name)
{
    return static_cast<bool>(OpenNamedEvent(name));
}

std::wstring TestProgramDirectory()
{
    wchar_t path[MAX_PATH] = {};
    std::wstring directory(path, ::GetModuleFileNameW(nullptr, path, MAX_PATH));
    directory.resize(directory.find_last_of(L'\\') + 1);
    return directory;
}

TKernelHandle StartProgram(const std::wstring& exePath, const std::wstring& arguments)
{
    std::wstring commandLine = L"\"" + exePath + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(exePath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process)) {
        return TKernelHandle();
    }
    TKernelHandle hThread(process.hThread);
    return TKernelHandle(process.hProcess);
}

bool WaitExitCode(HANDLE hProcess, DWORD timeoutMs, int* pExitCode)
{
    if (::WaitForSingleObject(hProcess, timeoutMs) != WAIT_OBJECT_0) {
        return false;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(hProcess, &code);
    *pExitCode = static_cast<int>(code);
    return true;
}

size_t CountText(const std::vector<std::string>& texts, const std::string& text)
{
    return static_cast<size_t>(std::count(texts.begin(), texts.end(), text));
}

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}
