// The client side of the overlay command channel against real Wine kernel objects, with its exact
// log lines read back from the log server, and against the stand-in overlay server in a thread.
#include "OverlayServer.h"
#include "OverlayTestSupport.h"
#include "ProcessLogServer.h"

#include "ipc/HostObjectNames.h"
#include "ipc/TFullscreenOverlayCommands.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string kBase = "TFullscreenOverlayCommandsBase::TFullscreenOverlayCommandsBase";
const std::string kOpenOrCreate = "TFullscreenOverlayCommandsBase::OpenOrCreateEvent";
const std::string kClient = "TFullscreenOverlayCommandsClient::TFullscreenOverlayCommandsClient";
const std::string kSend = "TFullscreenOverlayCommandsClient::SendCommand";
constexpr uint32_t kTypeInfo = 0;
constexpr uint32_t kTypeError = 2;

std::string Narrow(const wchar_t* text)
{
    std::string narrow;
    for (; *text != 0; ++text) {
        narrow.push_back(static_cast<char>(*text));
    }
    return narrow;
}

// The lines of OpenOrCreateEvent when the event does not exist yet and is created.
std::vector<std::string> CreatedEventLines(const wchar_t* name)
{
    const std::string quoted = " '" + Narrow(name) + "'";
    return {"TZYREvent::TZYREvent OpenEvent error 2",
            kOpenOrCreate + quoted + " event can't be opened -> try to create",
            "TZYRSecurityAttributes::TZYRSecurityAttributes",
            "TZYRSecurityAttributes::TZYRSecurityAttributes exit",
            "TZYRSecurityAttributes::~TZYRSecurityAttributes",
            "TZYRSecurityAttributes::~TZYRSecurityAttributes exit",
            kOpenOrCreate + quoted + " event has been created"};
}

std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

class OverlayChannel : public ::testing::Test {
protected:
    void SetUp() override
    {
        // No earlier test may leave the channel's events behind: they are created by the client.
        ASSERT_FALSE(EventExists(kOverlayNewCommandEventName));
        ASSERT_FALSE(EventExists(kOverlayCommandProcessedEventName));
    }
    void CreateHost(const TRefHostOptions& options = FrameBufferOnlyOptions())
    {
        std::wstring error;
        ASSERT_TRUE(host.CreateObjects(options, &error)) << Narrow(error.c_str());
    }
    TRefHost host;
};

TEST_F(OverlayChannel, ConstructionCreatesBothMissingEventsAutoResetAndNotSignalled)
{
    CreateHost();
    const size_t mark = LogMark();
    auto client = std::make_unique<TFullscreenOverlayCommandsClient>();
    const std::vector<std::string> expected =
        Concat({{kBase + " 0"}, CreatedEventLines(kOverlayNewCommandEventName),
                CreatedEventLines(kOverlayCommandProcessedEventName),
                {kBase + " exit", kClient, kClient + " exit"}});
    const std::vector<TLoggedLine> lines = LinesSince(mark);
    // Wine 8 refuses the permissive descriptor's string (error 1336): that line belongs to the
    // attributes and the platform, not to the channel, and is left out of the comparison.
    std::vector<std::string> texts;
    for (const TLoggedLine& line : lines) {
        if (!StartsWith(line.strText, "TZYRSecurityAttributes::TZYRSecurityAttributes ConvertString")) {
            texts.push_back(line.strText);
        }
    }
    ASSERT_EQ(texts, expected);
    EXPECT_EQ(lines[1].ui32Type, kTypeInfo) << "the first open may fail: an ordinary line";

    for (const wchar_t* name : {kOverlayNewCommandEventName, kOverlayCommandProcessedEventName}) {
        SCOPED_TRACE(Narrow(name));
        TKernelHandle hEvent = OpenNamedEvent(name);
        ASSERT_TRUE(hEvent);
        EXPECT_EQ(::WaitForSingleObject(hEvent.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "not signalled";
        ASSERT_TRUE(::SetEvent(hEvent.Get()));
        EXPECT_EQ(::WaitForSingleObject(hEvent.Get(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
        EXPECT_EQ(::WaitForSingleObject(hEvent.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "auto-reset";
    }
}

TEST_F(OverlayChannel, ConstructionOpensExistingEventsWithOneLineEach)
{
    CreateHost();
    TKernelHandle hNew(::CreateEventW(nullptr, FALSE, FALSE, kOverlayNewCommandEventName));
    TKernelHandle hProcessed(::CreateEventW(nullptr, FALSE, FALSE, kOverlayCommandProcessedEventName));
    const size_t mark = LogMark();
    auto client = std::make_unique<TFullscreenOverlayCommandsClient>();
    const std::vector<std::string> expected = {
        kBase + " 0",
        kOpenOrCreate + " '" + Narrow(kOverlayNewCommandEventName) + "' event has been created",
        kOpenOrCreate + " '" + Narrow(kOverlayCommandProcessedEventName) + "' event has been created",
        kBase + " exit", kClient, kClient + " exit"};
    EXPECT_EQ(TextsSince(mark), expected);
    // The client uses the events it opened: its command reaches the event made here.
    ASSERT_TRUE(::SetEvent(hProcessed.Get()));
    client->SendCommand(1);
    EXPECT_EQ(::WaitForSingleObject(hNew.Get(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
}

TEST_F(OverlayChannel, SendWithoutOverlayWritesTheWordsSignalsAndTimesOut)
{
    CreateHost();
    host.Header()->ui32OverlayCommand = 77;
    host.Header()->ui32OverlayCommandStatus = 99;
    host.Header()->bOverlayStatus = 5;
    auto client = std::make_unique<TFullscreenOverlayCommandsClient>();
    TKernelHandle hNew = OpenNamedEvent(kOverlayNewCommandEventName);
    ASSERT_TRUE(hNew);
    const size_t mark = LogMark();
    const ULONGLONG started = ::GetTickCount64();
    client->SendCommand(1);
    const ULONGLONG elapsed = ::GetTickCount64() - started;
    EXPECT_GE(elapsed, 180u) << "the wait for the processed event lasts 200 ms";
    EXPECT_EQ(host.Header()->ui32OverlayCommand, 1u);
    EXPECT_EQ(host.Header()->ui32OverlayCommandStatus, 0u);
    EXPECT_EQ(host.Header()->bOverlayStatus, 5) << "the neighbouring flag belongs to the capture thread";
    EXPECT_EQ(::WaitForSingleObject(hNew.Get(), 0), static_cast<DWORD>(WAIT_OBJECT_0)) << "new-command event set";
    const std::vector<std::string> expected = {kSend + " new command 1", kSend + " command timeout", kSend + " exit"};
    EXPECT_EQ(TextsSince(mark), expected);
}

TEST_F(OverlayChannel, LateProcessedSignalSatisfiesTheNextSend)
{
    CreateHost();
    auto client = std::make_unique<TFullscreenOverlayCommandsClient>();
    TKernelHandle hProcessed = OpenNamedEvent(kOverlayCommandProcessedEventName);
    ASSERT_TRUE(hProcessed);
    size_t mark = LogMark();
    client->SendCommand(1);
    EXPECT_EQ(CountText(TextsSince(mark), kSend + " command timeout"), 1u);
    // The answer arrives after the client stopped waiting: the event keeps it for the next wait.
    ASSERT_TRUE(::SetEvent(hProcessed.Get()));
    mark = LogMark();
    client->SendCommand(3);
    const std::vector<std::string> expected = {kSend + " new command 3", kSend + " command processed", kSend + " exit"};
    EXPECT_EQ(TextsSince(mark), expected);
    EXPECT_EQ(host.Header()->ui32OverlayCommand, 3u);
}

TEST_F(OverlayChannel, DestructionLogsBothDestructorsAndClosesTheEvents)
{
    CreateHost();
    auto client = std::make_unique<TFullscreenOverlayCommandsClient>();
    ASSERT_TRUE(EventExists(kOverlayNewCommandEventName));
    const size_t mark = LogMark();
    client.reset();
    const std::string clientDtor = "TFullscreenOverlayCommandsClient::~TFullscreenOverlayCommandsClient";
    const std::string baseDtor = "TFullscreenOverlayCommandsBase::~TFullscreenOverlayCommandsBase";
    const std::vector<std::string> expected = {clientDtor, clientDtor + " exit", baseDtor, baseDtor + " exit"};
    EXPECT_EQ(TextsSince(mark), expected);
    EXPECT_FALSE(EventExists(kOverlayNewCommandEventName)) << "the last handle was the client's";
    EXPECT_FALSE(EventExists(kOverlayCommandProcessedEventName));
}

// Without a header view the client has no events and must not write anywhere.
TEST_F(OverlayChannel, MissingOrUndersizedFrameBufferLeavesNoViewNoEventsAndNoWrites)
{
    struct Case {
        const char* name;
        bool bCreateSection;
        const char* failureLine;
    };
    const Case cases[] = {
        {"no section", false, " OpenFileMapping error 2"},
        {"section smaller than the header", true, " MapViewOfFile error "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        constexpr uint64_t kSmallSection = 64 * 1024;
        TRefHost smallHost;
        TKernelHandle hSection;
        TMappedView sectionView;
        if (c.bCreateSection) {
            TRefHostOptions options = FrameBufferOnlyOptions();
            options.bUndersizedSection = true;
            options.ui64SectionSize = kSmallSection;
            std::wstring error;
            ASSERT_TRUE(smallHost.CreateObjects(options, &error)) << Narrow(error.c_str());
            hSection.Reset(::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, kFrameBufferMappingName));
            ASSERT_TRUE(hSection);
            sectionView = TMappedView(::MapViewOfFile(hSection.Get(), FILE_MAP_ALL_ACCESS, 0, 0, kSmallSection), kSmallSection);
            ASSERT_TRUE(sectionView);
            std::memset(sectionView.Bytes(), 0xA5, kSmallSection);
        }
        const size_t mark = LogMark();
        auto client = std::make_unique<TFullscreenOverlayCommandsClient>();
        std::vector<TLoggedLine> lines = LinesSince(mark);
        ASSERT_EQ(lines.size(), 5u);
        EXPECT_EQ(lines[0].strText, kBase + " 0");
        EXPECT_TRUE(StartsWith(lines[1].strText, kBase + c.failureLine)) << lines[1].strText;
        EXPECT_EQ(lines[1].ui32Type, kTypeError);
        EXPECT_EQ(lines[2].strText, kBase + " exit");
        EXPECT_FALSE(EventExists(kOverlayNewCommandEventName));
        EXPECT_FALSE(EventExists(kOverlayCommandProcessedEventName));

        const size_t sendMark = LogMark();
        client->SendCommand(1);
        const std::vector<std::string> expected = {kSend + " new command 1", "TZYREvent::SetEvent hEvent is null",
                                                   "TZYREvent::WaitForSingleObject hEvent is null",
                                                   kSend + " command timeout", kSend + " exit"};
        EXPECT_EQ(TextsSince(sendMark), expected);
        if (sectionView) {
            std::vector<uint8_t> pattern(kSmallSection, 0xA5);
            EXPECT_EQ(std::memcmp(sectionView.Bytes(), pattern.data(), kSmallSection), 0) << "nothing was written";
        }
    }
}

// The stand-in overlay's server in a thread of this process: each command is answered with its
// status word, and the server ends when its end handle (the capturer process) is signalled.
TEST_F(OverlayChannel, RoundTripWithTheStandInServer)
{
    CreateHost();
    host.Header()->bOverlayStatus = 0;
    auto client = std::make_unique<TFullscreenOverlayCommandsClient>();
    TKernelHandle hEnd(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    overlay::OverlayServer server;
    ASSERT_EQ(server.Open(), overlay::OpenResult::Ok);
    server.MarkRunning();
    EXPECT_EQ(host.Header()->bOverlayStatus, overlay::kOverlayRunning);
    std::vector<std::pair<uint32_t, uint32_t>> seen;
    std::vector<uint32_t> served;
    std::thread serverThread([&] {
        served = server.Serve(hEnd.Get(), [&](uint32_t command, uint32_t status) { seen.emplace_back(command, status); });
    });
    struct Case {
        uint32_t command;
        uint32_t status;
    };
    for (const Case& c : {Case{1, overlay::kStatusDone}, Case{7, overlay::kStatusUnknownCommand},
                          Case{1, overlay::kStatusDone}}) {
        SCOPED_TRACE(c.command);
        const size_t mark = LogMark();
        client->SendCommand(c.command);
        EXPECT_EQ(CountText(TextsSince(mark), kSend + " command processed"), 1u);
        EXPECT_EQ(host.Header()->ui32OverlayCommandStatus, c.status);
    }
    ::SetEvent(hEnd.Get());
    serverThread.join();
    EXPECT_EQ(served, (std::vector<uint32_t>{1, 7, 1}));
    const std::vector<std::pair<uint32_t, uint32_t>> expectedSeen = {
        {1, overlay::kStatusDone}, {7, overlay::kStatusUnknownCommand}, {1, overlay::kStatusDone}};
    EXPECT_EQ(seen, expectedSeen);
}

TEST(OverlayServerStandIn, WithoutFrameBufferServesNothing)
{
    overlay::OverlayServer server;
    EXPECT_EQ(server.Open(), overlay::OpenResult::NoMapping);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    TKernelHandle hEnd(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    EXPECT_TRUE(server.Serve(hEnd.Get(), nullptr).empty()) << "returns at once without blocking";
    EXPECT_STREQ(overlay::OpenResultName(overlay::OpenResult::NoView), "NoView");
}

}  // namespace
