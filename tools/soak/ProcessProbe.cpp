#include "ProcessProbe.h"

#include <psapi.h>

#include "ipc/THandle.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// /proc files report no size: read until the end.
std::string ReadSmallFile(const std::wstring& path)
{
    const TFileHandle hFile(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
    std::string text;
    if (!hFile) {
        return text;
    }
    char buffer[4096];
    DWORD read = 0;
    while (text.size() < 65536 && ::ReadFile(hFile.Get(), buffer, sizeof buffer, &read, nullptr) && read > 0) {
        text.append(buffer, read);
    }
    return text;
}

// "RssAnon:	   13824 kB" -> bytes; 0 when missing.
uint64_t StatusKilobytes(const std::string& status, const char* key)
{
    const size_t at = status.find(key);
    if (at == std::string::npos) {
        return 0;
    }
    return std::strtoull(status.c_str() + at + std::strlen(key), nullptr, 10) * 1024;
}

std::vector<std::string> SplitNul(const std::string& text)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\0', start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return parts;
}

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());  // names and numbers only: ASCII
}

bool EndsWithNoCase(const std::string& text, const std::string& tail)
{
    if (tail.size() > text.size()) {
        return false;
    }
    for (size_t i = 0; i < tail.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[text.size() - tail.size() + i])) !=
            std::tolower(static_cast<unsigned char>(tail[i]))) {
            return false;
        }
    }
    return true;
}

}  // namespace

TProcessProbe::TProcessProbe(HANDLE hProcessToProbe, std::wstring wsExe, std::wstring wsArg)
    : hProcess(hProcessToProbe), dwProcessId(::GetProcessId(hProcessToProbe)), wsExeName(std::move(wsExe)),
      wsArgument(std::move(wsArg))
{
}

namespace {

// SystemExtendedHandleInformation (64): the layout is the system's, not in the SDK headers.
struct TTableEntry {
    void* pObject;
    ULONG_PTR ulProcessId;
    ULONG_PTR ulHandleValue;
    ULONG ulGrantedAccess;
    USHORT usCreatorBackTraceIndex;
    USHORT usObjectTypeIndex;
    ULONG ulHandleAttributes;
    ULONG ulReserved;
};
struct TTableHeader {
    ULONG_PTR ulNumberOfHandles;
    ULONG_PTR ulReserved;
};
constexpr ULONG kSystemExtendedHandleInformation = 64;
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);
using TQuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);

}  // namespace

uint64_t TProcessProbe::CountTableHandles()
{
    static const auto query = reinterpret_cast<TQuerySystemInformation>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr) {
        return 0;
    }
    if (vecHandleTable.empty()) {
        vecHandleTable.resize(1 << 20);
    }
    for (int attempt = 0; attempt < 8; ++attempt) {
        ULONG length = 0;
        const LONG status = query(kSystemExtendedHandleInformation, vecHandleTable.data(),
                                  static_cast<ULONG>(vecHandleTable.size()), &length);
        if (status == kStatusInfoLengthMismatch) {
            vecHandleTable.resize(std::max<size_t>(vecHandleTable.size() * 2, length + 65536));
            continue;
        }
        if (status != 0) {
            return 0;
        }
        const auto* pHeader = reinterpret_cast<const TTableHeader*>(vecHandleTable.data());
        const size_t capacity = (vecHandleTable.size() - sizeof(TTableHeader)) / sizeof(TTableEntry);
        const size_t count = std::min<size_t>(pHeader->ulNumberOfHandles, capacity);
        const auto* pEntries = reinterpret_cast<const TTableEntry*>(vecHandleTable.data() + sizeof(TTableHeader));
        uint64_t mine = 0;
        for (size_t i = 0; i < count; ++i) {
            mine += pEntries[i].ulProcessId == dwProcessId ? 1 : 0;
        }
        return mine;
    }
    return 0;
}

bool TProcessProbe::FindLinuxProcess()
{
    WIN32_FIND_DATAW data{};
    const HANDLE hFind = ::FindFirstFileW(L"Z:\\proc\\*", &data);
    if (hFind == INVALID_HANDLE_VALUE) {
        return false;
    }
    const std::string exe = Narrow(wsExeName);
    const std::string argument = Narrow(wsArgument);
    do {
        if (data.cFileName[0] < L'0' || data.cFileName[0] > L'9') {
            continue;
        }
        const std::wstring directory = std::wstring(L"Z:\\proc\\") + data.cFileName;
        const std::vector<std::string> args = SplitNul(ReadSmallFile(directory + L"\\cmdline"));
        if (args.empty() || !EndsWithNoCase(args[0], exe)) {
            continue;
        }
        bool bArgumentFound = argument.empty();
        for (size_t i = 1; i < args.size() && !bArgumentFound; ++i) {
            bArgumentFound = args[i] == argument;
        }
        if (bArgumentFound) {
            wsProcDirectory = directory;
            break;
        }
    } while (::FindNextFileW(hFind, &data));
    ::FindClose(hFind);
    return !wsProcDirectory.empty();
}

TProcessFigures TProcessProbe::Sample()
{
    TProcessFigures figures;
    figures.bAlive = ::WaitForSingleObject(hProcess, 0) == WAIT_TIMEOUT;
    if (!figures.bAlive) {
        return figures;
    }
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (::GetProcessMemoryInfo(hProcess, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters)) {
        figures.ui64PrivateBytes = counters.PrivateUsage;
        figures.ui64WorkingSet = counters.WorkingSetSize;
    }
    DWORD handles = 0;
    if (::GetProcessHandleCount(hProcess, &handles)) {
        figures.ui64Handles = handles;
    }
    figures.ui64TableHandles = CountTableHandles();
    figures.ui64GdiObjects = ::GetGuiResources(hProcess, GR_GDIOBJECTS);
    figures.ui64UserObjects = ::GetGuiResources(hProcess, GR_USEROBJECTS);
    if (wsProcDirectory.empty() && !FindLinuxProcess()) {
        return figures;
    }
    const std::string status = ReadSmallFile(wsProcDirectory + L"\\status");
    figures.ui64RssAnonBytes = StatusKilobytes(status, "RssAnon:");
    WIN32_FIND_DATAW data{};
    const HANDLE hFind = ::FindFirstFileW((wsProcDirectory + L"\\fd\\*").c_str(), &data);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            figures.ui64OpenFiles += data.cFileName[0] != L'.' ? 1 : 0;
        } while (::FindNextFileW(hFind, &data));
        ::FindClose(hFind);
    }
    return figures;
}
