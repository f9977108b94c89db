#include "EndToEndSupport.h"

#include "log/LogDirectory.h"

#include <algorithm>

std::wstring WindowsPath(const char* unixPath)
{
    std::wstring path = L"Z:";
    for (const char* p = unixPath; *p != '\0'; ++p) {
        path.push_back(*p == '/' ? L'\\' : static_cast<wchar_t>(*p));
    }
    return path;
}

uint64_t NowMs()
{
    LARGE_INTEGER counter{};
    LARGE_INTEGER frequency{};
    ::QueryPerformanceCounter(&counter);
    ::QueryPerformanceFrequency(&frequency);
    return zyrlog::CounterToMilliseconds(static_cast<uint64_t>(counter.QuadPart),
                                         static_cast<uint64_t>(frequency.QuadPart));
}

std::vector<std::string> TCapturerRun::Texts() const
{
    std::vector<std::string> texts;
    for (const auto& record : records) {
        texts.push_back(record.strText);
    }
    return texts;
}

int TCapturerRun::Find(const std::string& text) const
{
    const auto found = std::find_if(records.begin(), records.end(), [&](const auto& r) { return r.strText == text; });
    return found == records.end() ? -1 : static_cast<int>(found - records.begin());
}

size_t TCapturerRun::Count(const std::string& text) const
{
    return static_cast<size_t>(
        std::count_if(records.begin(), records.end(), [&](const auto& r) { return r.strText == text; }));
}

TLogServer* EndToEnd::pServer = nullptr;
TLogServerDrainer* EndToEnd::pDrainer = nullptr;

void EndToEnd::SetUpTestSuite()
{
    const std::wstring capturer = CapturerPath();
    const std::u16string directory = zyrlog::ModuleDirectoryOf(std::u16string(capturer.begin(), capturer.end()));
    TLogServerConfig config;
    config.wsDirectoryPrefix.assign(directory.begin(), directory.end());
    config.wsLogName = L"e2e";
    const std::wstring variant = TestDupCapturerPath();
    config.modules = {{5, std::u16string(capturer.begin(), capturer.end())},
                      {5, std::u16string(variant.begin(), variant.end())}};
    pServer = new TLogServer();
    std::wstring error;
    ASSERT_TRUE(pServer->Start(config, &error)) << std::string(error.begin(), error.end());
    pDrainer = new TLogServerDrainer(*pServer);
}

void EndToEnd::TearDownTestSuite()
{
    delete pDrainer;
    delete pServer;
    pDrainer = nullptr;
    pServer = nullptr;
}

void EndToEnd::SetUp()
{
    ASSERT_NE(pServer, nullptr);
    pServer->SetLevel(0);
    pHost = std::make_unique<TRefHost>();
}

bool EndToEnd::Start(const TRefHostOptions& options, DWORD hostPid, const std::wstring* argsOverride)
{
    std::wstring error;
    const bool bStarted = pHost->CreateObjects(options, &error) &&
                          pHost->StartCapturer(wsCapturer, hostPid, argsOverride, &error);
    EXPECT_TRUE(bStarted) << std::string(error.begin(), error.end());
    return bStarted;
}

TCapturerRun EndToEnd::Finish()
{
    if (pHost->StartRetries() != 0) {  // starts Wine's loader lost, repeated by the host
        RecordProperty("capturer_start_retries", static_cast<int>(pHost->StartRetries()));
    }
    TCapturerRun run;
    run.dwProcessId = pHost->CapturerProcessId();
    run.bExited = pHost->WaitCapturerExit(kWaitMs, &run.iExitCode);
    run.bStartedCorrectly = pHost->IsStartedCorrectlySet();
    // The capturer's last line precedes its exit, so one flush after the exit sees everything.
    pDrainer->Flush();
    for (const TLogRecord& entry : pDrainer->Records()) {
        EXPECT_FALSE(entry.bMalformed) << entry.strProblem;
        if (!entry.bMalformed) {
            (entry.record.fields.ui32ProcessId == run.dwProcessId ? run.records : run.otherRecords)
                .push_back(entry.record);
        }
    }
    pDrainer->Clear();
    return run;
}
