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

// A Windows path (Z:\...) for a path of this machine.
std::wstring WindowsPath(const char* unixPath);
inline std::wstring CapturerPath() { return WindowsPath(ZYR_CAPTURER_EXE); }
// The test variant beside it, whose DuplicateOutput is answered by screen grabs.
inline std::wstring TestDupCapturerPath() { return WindowsPath(ZYR_CAPTURER_TESTDUP_EXE); }
uint64_t NowMs();

struct TCapturerRun {
    bool bExited = false;
    int iExitCode = 0;
    bool bStartedCorrectly = false;
    DWORD dwProcessId = 0;
    std::vector<zyrlog::TDecodedRecord> records;       // the capturer's own, in ring order
    std::vector<zyrlog::TDecodedRecord> otherRecords;  // other processes' (the overlay program)

    std::vector<std::string> Texts() const;
    // Index of the first record whose text equals `text`, or -1.
    int Find(const std::string& text) const;
    size_t Count(const std::string& text) const;
};

class EndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;

    // Creates the host's objects and starts wsCapturer (for `hostPid`, 0 = the host itself, or
    // with `argsOverride` as its whole command line); false on a host failure.
    bool Start(const TRefHostOptions& options, DWORD hostPid = 0, const std::wstring* argsOverride = nullptr);
    // Waits for the capturer to end, then collects its records.
    TCapturerRun Finish();
    TCapturerRun RunToExit(const TRefHostOptions& options, const std::wstring* argsOverride = nullptr)
    {
        return Start(options, 0, argsOverride) ? Finish() : TCapturerRun{};
    }
    void SetLogLevel(uint8_t level) { pServer->SetLevel(level); }

    std::unique_ptr<TRefHost> pHost;
    std::wstring wsCapturer = CapturerPath();  // the exe that Start runs

    static TLogServer* pServer;
    static TLogServerDrainer* pDrainer;
};
