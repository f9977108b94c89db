#include "THostChild.h"

#include <chrono>

THostChild::~THostChild()
{
    if (hProcess && ::WaitForSingleObject(hProcess.Get(), 0) == WAIT_TIMEOUT) {
        ::TerminateProcess(hProcess.Get(), 1);
        ::WaitForSingleObject(hProcess.Get(), 5000);
    }
    if (reader.joinable()) {
        // The child's end closes its side of the pipe; a grandchild that inherited none cannot keep
        // it open, so the read ends.
        reader.join();
    }
}

bool THostChild::Start(const std::wstring& exePath, const std::wstring& commandLine, std::wstring* pError)
{
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE hRead = nullptr;
    HANDLE hWrite = nullptr;
    if (!::CreatePipe(&hRead, &hWrite, &inheritable, 0)) {
        *pError = L"CreatePipe: error " + std::to_wstring(::GetLastError());
        return false;
    }
    hPipe.Reset(hRead);
    TKernelHandle hChildEnd(hWrite);
    ::SetHandleInformation(hPipe.Get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = hChildEnd.Get();
    startup.hStdError = hChildEnd.Get();
    PROCESS_INFORMATION info{};
    std::wstring line = commandLine;
    if (!::CreateProcessW(exePath.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
        *pError = L"CreateProcess '" + exePath + L"': error " + std::to_wstring(::GetLastError());
        return false;
    }
    TKernelHandle hThread(info.hThread);
    hProcess.Reset(info.hProcess);
    dwProcessId = info.dwProcessId;
    hChildEnd.Reset();  // the child holds the only write end now
    reader = std::thread([this] { ReadPipe(); });
    return true;
}

void THostChild::ReadPipe()
{
    std::string pending;
    char buffer[512];
    DWORD dwRead = 0;
    while (::ReadFile(hPipe.Get(), buffer, sizeof(buffer), &dwRead, nullptr) && dwRead > 0) {
        pending.append(buffer, dwRead);
        std::vector<std::string> complete;
        for (size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
            std::string text = pending.substr(0, end);
            if (!text.empty() && text.back() == '\r') {
                text.pop_back();
            }
            complete.push_back(std::move(text));
            pending.erase(0, end + 1);
        }
        if (!complete.empty()) {
            std::lock_guard<std::mutex> lock(mutexLines);
            vecLines.insert(vecLines.end(), complete.begin(), complete.end());
        }
        conditionLines.notify_all();
    }
    std::lock_guard<std::mutex> lock(mutexLines);
    if (!pending.empty()) {
        vecLines.push_back(pending);
    }
    bPipeClosed = true;
    conditionLines.notify_all();
}

const std::string* THostChild::FindLine(const std::vector<std::string>& prefixes) const
{
    for (const std::string& line : vecLines) {
        for (const std::string& prefix : prefixes) {
            if (line.compare(0, prefix.size(), prefix) == 0) {
                return &line;
            }
        }
    }
    return nullptr;
}

std::string THostChild::WaitLine(const std::vector<std::string>& prefixes, DWORD timeoutMs)
{
    std::unique_lock<std::mutex> lock(mutexLines);
    conditionLines.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [&] { return FindLine(prefixes) != nullptr || bPipeClosed; });
    const std::string* pLine = FindLine(prefixes);
    return pLine != nullptr ? *pLine : std::string();
}

bool THostChild::WaitPipeClosed(DWORD timeoutMs)
{
    std::unique_lock<std::mutex> lock(mutexLines);
    return conditionLines.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return bPipeClosed; });
}

std::vector<std::string> THostChild::Lines()
{
    std::lock_guard<std::mutex> lock(mutexLines);
    return vecLines;
}
