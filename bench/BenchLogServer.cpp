#include "BenchLogServer.h"

#include "log/Log.h"
#include "log/LogDirectory.h"
#include "log/LogFormat.h"

#include <windows.h>

#include <cstdio>
#include <string>

bool TBenchLogServer::Start()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::u16string modulePath(path, path + length);
    const std::u16string directory = zyrlog::ModuleDirectoryOf(modulePath);
    TLogServerConfig config;
    config.wsDirectoryPrefix.assign(directory.begin(), directory.end());
    config.wsLogName = L"bench";
    config.modules = {{1, modulePath}};
    std::wstring error;
    if (!server.Start(config, &error)) {
        std::fprintf(stderr, "log server: %ls\n", error.c_str());
        return false;
    }
    server.SetLevel(0);
    LogInfo("%s", "benchmark connected");
    discarder = std::thread(&TBenchLogServer::Discard, this);
    return true;
}

TBenchLogServer::~TBenchLogServer()
{
    bStop.store(true);
    if (discarder.joinable()) {
        discarder.join();
    }
}

// Empties the ring without decoding it, in batches as the project's server drains: wake on the
// log-ready event, let 10 ms of records gather, take them all.
void TBenchLogServer::Discard()
{
    while (!bStop.load()) {
        server.WaitReady(10);
        ::Sleep(10);
        ::WaitForSingleObject(server.WriteAccessMutex(), INFINITE);
        uint8_t* control = server.RingControl();
        zyrlog::StoreU32(control + zyrlog::kRingReadOffset, zyrlog::LoadU32(control + zyrlog::kRingWriteOffset));
        ::ReleaseMutex(server.WriteAccessMutex());
    }
}
