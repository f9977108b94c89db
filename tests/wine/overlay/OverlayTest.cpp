// The overlay command channel from both sides (the client against the stand-in overlay's server),
// what the client does when the frame buffer is missing or too small, and the overlay program
// ending with the capturer process it was given. (The capturer starting and ending the overlay
// program, and its lines for a missing one, are checked end to end.)
#include "OverlayServer.h"
#include "ProcessLogServer.h"
#include "SceneTestSupport.h"

#include "TRefHost.h"
#include "ipc/HostObjectNames.h"
#include "ipc/TFullscreenOverlayCommands.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string kSend = "TFullscreenOverlayCommandsClient::SendCommand";
constexpr DWORD kBoundMs = 30000;

// Polls until the condition holds or the bound passes.
bool WaitUntil(const std::function<bool()>& condition)
{
    const ULONGLONG deadline = ::GetTickCount64() + kBoundMs;
    while (!condition() && ::GetTickCount64() < deadline) {
        ::Sleep(5);
    }
    return condition();
}

TKernelHandle OpenEvent(const wchar_t* name)
{
    return TKernelHandle(::OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, name));
}

std::wstring ProgramPath(const wchar_t* file)
{
    wchar_t path[MAX_PATH] = {};
    std::wstring directory(path, ::GetModuleFileNameW(nullptr, path, MAX_PATH));
    return directory.substr(0, directory.find_last_of(L'\\') + 1) + file;
}

// A host with the frame buffer section (of `size` bytes) and nothing else.
class Overlay : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A handle leaked by an earlier test would keep the channel's events alive.
        ASSERT_FALSE(OpenEvent(kOverlayNewCommandEventName));
        ASSERT_FALSE(OpenEvent(kOverlayCommandProcessedEventName));
    }
    void CreateHost(uint64_t size = 1024 * 1024)
    {
        TRefHostOptions options;
        for (THostObject object : {THostObject::UninstallEvent, THostObject::InstanceMutex,
                                   THostObject::StartedCorrectlyEvent, THostObject::FirstFrameEvent,
                                   THostObject::HUDMutex, THostObject::WebCamMutex, THostObject::RadialMenuMutex,
                                   THostObject::WebCamBackgroundMutex}) {
            options.Omit(object);
        }
        options.ui64SectionSize = size;
        options.bUndersizedSection = size < 1024 * 1024;
        std::wstring error;
        ASSERT_TRUE(host.CreateObjects(options, &error));
    }
    TRefHost host;
};

TEST_F(Overlay, CommandsRoundTripThroughTheStandInServer)
{
    CreateHost();
    auto client = std::make_unique<TFullscreenOverlayCommandsClient>();
    overlay::OverlayServer server;
    ASSERT_EQ(server.Open(), overlay::OpenResult::Ok);
    TKernelHandle hEnd(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::vector<uint32_t> served;
    std::thread serverThread([&] { served = server.Serve(hEnd.Get(), nullptr); });
    for (const auto& [command, status] : {std::pair{1u, overlay::kStatusDone}, {7u, overlay::kStatusUnknownCommand}}) {
        SCOPED_TRACE(command);
        const size_t mark = LogMark();
        client->SendCommand(command);
        const std::vector<std::string> expected = {kSend + " new command " + std::to_string(command),
                                                   kSend + " command processed", kSend + " exit"};
        EXPECT_EQ(TextsSince(mark), expected);
        EXPECT_EQ(host.Header()->ui32OverlayCommandStatus, status);
    }
    ::SetEvent(hEnd.Get());
    serverThread.join();
    EXPECT_EQ(served, (std::vector<uint32_t>{1, 7})) << "each command served once, none before the first";
}

TEST_F(Overlay, UnansweredCommandTimesOutAndALateAnswerServesTheNextOne)
{
    CreateHost();
    host.Header()->ui32OverlayCommandStatus = 99;
    host.Header()->bOverlayStatus = 5;
    auto client = std::make_unique<TFullscreenOverlayCommandsClient>();
    TKernelHandle hNew = OpenEvent(kOverlayNewCommandEventName);
    size_t mark = LogMark();
    client->SendCommand(1);
    EXPECT_EQ(TextsSince(mark), (std::vector<std::string>{kSend + " new command 1", kSend + " command timeout", kSend + " exit"}));
    EXPECT_EQ(host.Header()->ui32OverlayCommand, 1u);
    EXPECT_EQ(host.Header()->ui32OverlayCommandStatus, 0u);
    EXPECT_EQ(host.Header()->bOverlayStatus, 5) << "the neighbouring flag belongs to the capture thread";
    EXPECT_EQ(::WaitForSingleObject(hNew.Get(), 0), static_cast<DWORD>(WAIT_OBJECT_0)) << "new-command event set";
    ASSERT_TRUE(::SetEvent(OpenEvent(kOverlayCommandProcessedEventName).Get()));
    mark = LogMark();
    client->SendCommand(3);
    EXPECT_EQ(TextsSince(mark), (std::vector<std::string>{kSend + " new command 3", kSend + " command processed", kSend + " exit"}));
}

// Without a header view the client makes no events and writes nowhere.
TEST_F(Overlay, MissingOrUndersizedFrameBufferIsRefusedWithoutWrites)
{
    for (const uint64_t size : {uint64_t{0}, uint64_t{64 * 1024}}) {
        SCOPED_TRACE(size);
        TKernelHandle hSection;
        TMappedView view;
        if (size != 0) {
            CreateHost(size);
            hSection.Reset(::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, kFrameBufferMappingName));
            view = TMappedView(::MapViewOfFile(hSection.Get(), FILE_MAP_ALL_ACCESS, 0, 0, size), size);
            ASSERT_TRUE(view);
            std::memset(view.Bytes(), 0xA5, size);
        }
        size_t mark = LogMark();
        auto client = std::make_unique<TFullscreenOverlayCommandsClient>();
        const std::vector<TLoggedLine> lines = LinesSince(mark);
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[1].ui32Type, 2u) << lines[1].strText;
        EXPECT_FALSE(OpenEvent(kOverlayNewCommandEventName));
        mark = LogMark();
        client->SendCommand(1);
        const std::vector<std::string> expected = {kSend + " new command 1", "TZYREvent::SetEvent hEvent is null",
                                                   "TZYREvent::WaitForSingleObject hEvent is null",
                                                   kSend + " command timeout", kSend + " exit"};
        EXPECT_EQ(TextsSince(mark), expected);
        if (view) {
            const std::vector<uint8_t> untouched(size, 0xA5);
            EXPECT_EQ(std::memcmp(view.Bytes(), untouched.data(), size), 0);
        }
    }
}

// The overlay program serves commands until the process it was given ends; its exit code counts
// the commands.
TEST_F(Overlay, ProgramEndsWithItsCapturerProcess)
{
    CreateHost();
    auto client = std::make_unique<TFullscreenOverlayCommandsClient>();
    const std::wstring endName = L"zyr-overlay-fake-capturer-end-" + std::to_wstring(::GetCurrentProcessId());
    TKernelHandle hEnd(::CreateEventW(nullptr, TRUE, FALSE, endName.c_str()));
    scenetest::ChildProcess capturer, overlayProgram;
    ASSERT_TRUE(capturer.Start(ProgramPath(L"overlay_fake_capturer.exe"), endName));
    ASSERT_TRUE(overlayProgram.Start(ProgramPath(L"fullscreenoverlay.exe"), std::to_wstring(capturer.Id())));
    ASSERT_TRUE(WaitUntil([&] { return host.Header()->bOverlayStatus == overlay::kOverlayRunning; }));
    for (const uint32_t command : {1u, 9u}) {
        client->SendCommand(command);
        EXPECT_TRUE(WaitUntil([&] { return host.Header()->ui32OverlayCommandStatus == overlay::StatusForCommand(command); }));
    }
    ASSERT_TRUE(::SetEvent(hEnd.Get()));
    int exitCode = -100;
    ASSERT_TRUE(capturer.WaitExit(kBoundMs, &exitCode));
    ASSERT_TRUE(overlayProgram.WaitExit(kBoundMs, &exitCode)) << "ends with its capturer";
    EXPECT_EQ(exitCode, 2);
}

}  // namespace
