#include "ProcessLogServer.h"

#include "TLogServer.h"
#include "TestProgramEnd.h"
#include "log/Log.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>

namespace {
TLogServerDrainer* g_pDrainer = nullptr;
}  // namespace

size_t LogMark()
{
    g_pDrainer->Flush();
    return g_pDrainer->Records().size();
}

std::vector<TLoggedLine> LinesSince(size_t mark)
{
    g_pDrainer->Flush();
    const std::vector<TLogRecord> records = g_pDrainer->Records();
    std::vector<TLoggedLine> lines;
    for (size_t i = mark; i < records.size(); ++i) {
        if (records[i].record.fields.ui32ProcessId == ::GetCurrentProcessId()) {
            lines.push_back({records[i].record.fields.ui32Type, records[i].record.strText});
        }
    }
    return lines;
}

std::vector<std::string> TextsSince(size_t mark)
{
    std::vector<std::string> texts;
    for (TLoggedLine& line : LinesSince(mark)) {
        texts.push_back(std::move(line.strText));
    }
    return texts;
}

namespace {

int RunWithLogServer()
{
    wchar_t path[MAX_PATH] = {};
    const std::u16string modulePath(path, path + ::GetModuleFileNameW(nullptr, path, MAX_PATH));
    const std::u16string directory = zyrlog::ModuleDirectoryOf(modulePath);
    TLogServerConfig config;
    config.wsDirectoryPrefix.assign(directory.begin(), directory.end());
    config.wsLogName = L"wine-tests";
    config.modules = {{1, modulePath}};
    config.ui8Level = 2;
    TLogServer server;
    std::wstring error;
    if (!server.Start(config, &error)) {
        std::fprintf(stderr, "log server: %ls\n", error.c_str());
        return 1;
    }
    TLogServerDrainer drainer(server);
    g_pDrainer = &drainer;
    LogInfo("%s", "test program connected");  // verbose lines alone never connect
    const int result = RUN_ALL_TESTS();
    g_pDrainer = nullptr;
    return result;
}

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    EndTestProgram(RunWithLogServer());  // the server and its drainer have ended
}
