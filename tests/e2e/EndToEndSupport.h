// Runs the capturer exe through the reference host, with the log server draining the capturer's
// ring, and hands back the exit code, whether started-correctly was set and the capturer's lines.
#pragma once

#include "TLogServer.h"
#include "TRefHost.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

// Generous bound for anything the capturer does on a loaded machine.
constexpr DWORD kWaitMs = 30000;

std::wstring CapturerPath();
std::wstring RefHostPath();
uint64_t NowMs();

struct TCapturerRun {
    bool bExited = false;
    int iExitCode = 0;
    bool bStartedCorrectly = false;
    DWORD dwProcessId = 0;
    std::vector<zyrlog::TDecodedRecord> records;  // the capturer's own, in ring order
    // Records of other processes served by the same log server (the overlay program beside the
    // capturer), in ring order.
    std::vector<zyrlog::TDecodedRecord> otherRecords;

    std::vector<std::string> Texts() const;
    // Index of the first record whose text equals `text`, or -1.
    int Find(const std::string& text) const;
    size_t Count(const std::string& text) const;
};

// A process that only exists to be a host pid (ZYRRefHost.exe --idle), ended on demand.
class TStandInHost {
public:
    TStandInHost();
    ~TStandInHost();
    DWORD ProcessId() const { return dwProcessId; }
    void End();

private:
    TKernelHandle hProcess;
    DWORD dwProcessId = 0;
};

class EndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;

    // Creates the host's objects, starts the capturer and waits for it to end by itself.
    TCapturerRun RunToExit(const TRefHostOptions& options, const std::wstring* argsOverride = nullptr);
    // Creates the objects and starts the capturer; false on a host failure.
    bool Start(const TRefHostOptions& options, DWORD hostPid = 0);
    // Waits for the capturer to end, then collects its records.
    TCapturerRun Finish();
    void SetLogLevel(uint8_t level) { pServer->SetLevel(level); }

    std::unique_ptr<TRefHost> pHost;

    static TLogServer* pServer;
    static TLogServerDrainer* pDrainer;
};
