// The named-object wrappers and the frame buffer re-map against real Wine kernel objects, with
// their exact log lines read back from the log server's ring. The re-map runs against a section
// and the four overlay mutexes made by the reference host.
#include "ProcessLogServer.h"

#include "TRefHost.h"
#include "framebuffer/TSharedFrameBuffer.h"
#include "ipc/HostObjectNames.h"
#include "ipc/PermissiveSecurity.h"
#include "ipc/TZYREvent.h"
#include "ipc/TZYRMutex.h"
#include "ipc/TZYRMutexLock.h"
#include "ipc/TZYRSecurityAttributes.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace {

const std::string kError288 = "TZYRMutex::Unlock ReleaseMutex error 288";

std::wstring UniqueName(const wchar_t* base)
{
    static std::atomic<int> counter{0};
    return std::wstring(base) + L"-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(counter++);
}

size_t Count(const std::vector<std::string>& texts, const std::string& text)
{
    return static_cast<size_t>(std::count(texts.begin(), texts.end(), text));
}

// Whether another thread can take the mutex now (it gives it back at once).
bool FreeForOthers(HANDLE hMutex)
{
    bool bFree = false;
    std::thread([&] { bFree = ::WaitForSingleObject(hMutex, 0) == WAIT_OBJECT_0 && ::ReleaseMutex(hMutex); }).join();
    return bFree;
}

// Takes the mutex on a new thread and returns once it is held. The thread lets it go when
// hRelease is set; without hRelease it ends at once owning it: the mutex is abandoned.
std::thread Hold(HANDLE hMutex, HANDLE hRelease)
{
    TKernelHandle hHeld(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread thread([=, h = hHeld.Get()] {
        ::WaitForSingleObject(hMutex, INFINITE);
        ::SetEvent(h);
        if (hRelease != nullptr && ::WaitForSingleObject(hRelease, INFINITE) == WAIT_OBJECT_0) {
            ::ReleaseMutex(hMutex);
        }
    });
    EXPECT_EQ(::WaitForSingleObject(hHeld.Get(), 30000), WAIT_OBJECT_0);
    return thread;
}

TEST(ZYRMutex, MissingNameLogsItsLinesAndLeavesTheOpenErrorAsLastError)
{
    const std::wstring name = UniqueName(L"zyr-missing-mutex");
    const size_t mark = LogMark();
    ::SetLastError(0);
    auto mutex = std::make_unique<TZYRMutex>(name.c_str());
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(mutex->Get(), nullptr);
    EXPECT_FALSE(mutex->Lock(0));
    mutex->Unlock();  // harmless on a null handle: no line
    mutex.reset();
    const std::vector<std::string> expected = {
        "TZYRMutex::TZYRMutex", "TZYRMutex::TZYRMutex mutex name '" + std::string(name.begin(), name.end()) + "'",
        "TZYRMutex::TZYRMutex CreateMutex error 2", "TZYRMutex::TZYRMutex exit", "TZYRMutex::~TZYRMutex",
        "TZYRMutex::~TZYRMutex exit"};
    EXPECT_EQ(TextsSince(mark), expected);
}

TEST(ZYRMutexLock, ReleasesWhatItTookAndTriesTheReleaseEvenAfterATimeOut)
{
    const std::wstring name = UniqueName(L"zyr-lock");
    TKernelHandle owner(::CreateMutexW(nullptr, FALSE, name.c_str()));
    auto mutex = std::make_shared<TZYRMutex>(name.c_str());
    {
        TZYRMutexLock lock(true, 0, mutex);
        EXPECT_TRUE(lock.bLocked);
        EXPECT_FALSE(FreeForOthers(owner.Get()));
    }
    EXPECT_TRUE(FreeForOthers(owner.Get())) << "released at the end of the scope";

    TKernelHandle hRelease(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread holder = Hold(owner.Get(), hRelease.Get());
    const size_t mark = LogMark();
    EXPECT_FALSE(TZYRMutexLock(true, 0, mutex).bLocked);
    ::SetEvent(hRelease.Get());
    holder.join();
    EXPECT_EQ(mutex.use_count(), 1) << "the lock drops its reference";
    // Its one failure line: the release of the mutex it never got.
    std::vector<std::string> failures;
    for (const TLoggedLine& line : LinesSince(mark)) {
        if (line.ui32Type != 0) {
            failures.push_back(std::to_string(line.ui32Type) + " " + line.strText);
        }
    }
    EXPECT_EQ(failures, std::vector<std::string>{"2 " + kError288});
}

TEST(ZYREvent, FailedOpenLogsAtItsLevelAndLeavesANullHandle)
{
    for (const auto level : {TZYREvent::TOpenFailureLevel::Error, TZYREvent::TOpenFailureLevel::Info}) {
        const size_t mark = LogMark();
        TZYREvent event(SYNCHRONIZE | EVENT_MODIFY_STATE, UniqueName(L"zyr-missing-event").c_str(), level);
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        EXPECT_EQ(event.Get(), nullptr);
        EXPECT_FALSE(event.SetEvent());
        EXPECT_FALSE(event.WaitForSingleObject(0));
        const std::vector<TLoggedLine> lines = LinesSince(mark);
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[0].ui32Type, level == TZYREvent::TOpenFailureLevel::Error ? 2u : 0u);
        const std::vector<std::string> expected = {"TZYREvent::TZYREvent OpenEvent error 2", "TZYREvent::SetEvent hEvent is null",
                                                   "TZYREvent::WaitForSingleObject hEvent is null"};
        EXPECT_EQ(TextsSince(mark), expected);
    }
}

TEST(ZYREvent, TimeOutIsSilentAndSetWithoutTheModifyRightLogsItsError)
{
    const std::wstring name = UniqueName(L"zyr-event");
    TZYREvent created(nullptr, false, false, name.c_str());
    TZYREvent syncOnly(SYNCHRONIZE, name.c_str());
    const size_t mark = LogMark();
    EXPECT_FALSE(syncOnly.WaitForSingleObject(0));
    EXPECT_FALSE(syncOnly.SetEvent());
    EXPECT_EQ(TextsSince(mark), std::vector<std::string>{"TZYREvent::SetEvent SetEvent error 5"});
}

// Wine 8 refuses the permissive descriptor (ERROR_INVALID_ACL) where Windows accepts it: the
// expected outcome is what the platform itself answers for the same string.
TEST(ZYRSecurityAttributes, DescriptorOrDefaultSecurityWithItsLines)
{
    PSECURITY_DESCRIPTOR pProbe = nullptr;
    const bool bConverts =
        ::ConvertStringSecurityDescriptorToSecurityDescriptorW(kPermissiveSddl, SDDL_REVISION_1, &pProbe, nullptr);
    const DWORD dwProbeError = bConverts ? 0 : ::GetLastError();
    ::LocalFree(pProbe);
    const size_t mark = LogMark();
    {
        TZYRSecurityAttributes attributes;
        EXPECT_EQ(attributes.HasDescriptor(), bConverts);
        EXPECT_EQ(attributes.Get()->nLength, sizeof(SECURITY_ATTRIBUTES));
        EXPECT_FALSE(attributes.Get()->bInheritHandle);
        const std::wstring name = UniqueName(L"zyr-sa-mutex");
        TKernelHandle mutex(::CreateMutexW(attributes.Get(), FALSE, name.c_str()));
        EXPECT_TRUE(TKernelHandle(::OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()))) << "usable either way";
    }
    const std::string ctor = "TZYRSecurityAttributes::TZYRSecurityAttributes";
    std::vector<std::string> expected = {ctor};
    if (!bConverts) {
        expected.push_back(ctor + " ConvertStringSecurityDescriptorToSecurityDescriptor error " +
                           std::to_string(dwProbeError));
    }
    expected.insert(expected.end(), {ctor + " exit", "TZYRSecurityAttributes::~TZYRSecurityAttributes",
                                     "TZYRSecurityAttributes::~TZYRSecurityAttributes exit"});
    EXPECT_EQ(TextsSince(mark), expected);
}

const std::string kRealloc = "TZYRFullscreenCapturer::TestAndReallocSharedBuffers";
const std::string kInternal = kRealloc + "Internal";
const std::string kTooLarge = "The frame dimensions are too large.";

class SharedFrameBuffer : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::wstring error;
        ASSERT_TRUE(host.CreateObjects(options, &error));
        ASSERT_TRUE(frameBuffer.OpenSection(kFrameBufferMappingName));
        ASSERT_TRUE(frameBuffer.MapHeader());
        mutexes = {{kAccessMutexHUD, std::make_shared<TZYRMutex>(kHUDAccessMutexName)},
                   {kAccessMutexWebCamBackground, std::make_shared<TZYRMutex>(kWebCamBackgroundAccessMutexName)},
                   {kAccessMutexWebCam, std::make_shared<TZYRMutex>(kWebCamAccessMutexName)},
                   {kAccessMutexRadialMenu, std::make_shared<TZYRMutex>(kRadialMenuAccessMutexName)}};
    }
    void Realloc(int32_t width, int32_t height) { frameBuffer.TestAndReallocSharedBuffers(width, height, mutexes); }
    TFrameBufferHeader* Header() { return frameBuffer.Header(); }

    TRefHostOptions options;  // capacity 1920 x 1080
    TRefHost host;
    TSharedFrameBuffer frameBuffer;
    TSharedFrameBuffer::TAccessMutexes mutexes;
};

TEST_F(SharedFrameBuffer, NewSizeMapsTheWholeLayoutClearsReadyFlagsAndKeepsRequests)
{
    TFrameBufferHeader* hostView = host.Header();
    std::fill(hostView->bFrameReady, hostView->bFrameReady + 6, 1);
    hostView->bFrameRequested[2] = 1;
    hostView->bLayoutValid = 1;
    const size_t mark = LogMark();
    Realloc(1280, 720);

    EXPECT_EQ(Header()->iImageWidth, 1280);
    EXPECT_EQ(Header()->iImageHeight, 720);
    const uint32_t total = Header()->ui32TotalSize;
    EXPECT_EQ(frameBuffer.ViewSize(), total);
    reinterpret_cast<uint8_t*>(Header())[total - 1] = 0xA5;
    EXPECT_EQ(reinterpret_cast<uint8_t*>(hostView)[total - 1], 0xA5) << "the view's last byte is the section's";
    EXPECT_TRUE(std::all_of(Header()->bFrameReady, Header()->bFrameReady + 6, [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(Header()->bFrameRequested[2], 1) << "requests survive the re-map";
    EXPECT_EQ(Header()->bLayoutValid, 0);
    const TAreaView lastSlot = frameBuffer.View().FrameSlot(5);
    EXPECT_TRUE(lastSlot.Holds(1280, 720) && lastSlot.pData == reinterpret_cast<uint8_t*>(Header()) + Header()->ui32FrameImageOffsets[5]);
    const std::vector<std::string> texts = TextsSince(mark);
    EXPECT_EQ(texts.front(), kRealloc + " old dim (0, 0), new dim (1280, 720)");
    EXPECT_EQ(Count(texts, kInternal + " trying to map " + std::to_string(total) + " bytes"), 1u);
    EXPECT_EQ(texts.back(), kRealloc + " exit");
    EXPECT_EQ(Count(texts, kError288), 0u) << "all four mutexes were taken and released";
}

TEST_F(SharedFrameBuffer, SameSizeDoesNothingButTheLocksUnlessTheViewIsShort)
{
    Realloc(1280, 720);
    const TFrameBufferHeader* before = Header();
    Header()->bFrameReady[1] = 1;
    const size_t mark = LogMark();
    Realloc(1280, 720);
    EXPECT_EQ(Header(), before) << "no unmap, no map";
    EXPECT_EQ(Header()->bFrameReady[1], 1);
    std::vector<std::string> texts = TextsSince(mark);
    texts.erase(std::remove_if(texts.begin(), texts.end(), [](const std::string& t) { return t.rfind("TZYRMutex", 0) == 0; }),
                texts.end());
    const std::vector<std::string> expected = {kRealloc + " old dim (1280, 720), new dim (1280, 720)", kInternal,
                                               kInternal + " exit", kRealloc + " exit"};
    EXPECT_EQ(texts, expected);

    // A host that pre-filled the image size: same size, but the header-only view is re-mapped.
    TSharedFrameBuffer fresh;
    ASSERT_TRUE(fresh.OpenSection(kFrameBufferMappingName) && fresh.MapHeader());
    fresh.TestAndReallocSharedBuffers(1280, 720, mutexes);
    EXPECT_EQ(fresh.ViewSize(), fresh.Header()->ui32TotalSize);
}

TEST_F(SharedFrameBuffer, CapacityIsComparedAsAreasAndARefusalClearsTheSlots)
{
    Realloc(1080, 1920);  // same area as 1920 x 1080, other shape: accepted
    EXPECT_EQ(Header()->iImageWidth, 1080);
    const size_t viewBefore = frameBuffer.ViewSize();
    std::fill(Header()->bFrameReady, Header()->bFrameReady + 6, 1);
    std::fill(Header()->bFrameRequested, Header()->bFrameRequested + 6, 1);
    Header()->bLayoutValid = 1;
    const size_t mark = LogMark();
    Realloc(1921, 1080);

    EXPECT_EQ(frameBuffer.ViewSize(), viewBefore) << "the old view is kept";
    EXPECT_EQ(Header()->iImageWidth, 0);
    EXPECT_EQ(Header()->iImageHeight, 0);
    EXPECT_EQ(Header()->bLayoutValid, 0);
    const auto cleared = [](const uint8_t* flags) { return std::all_of(flags, flags + 6, [](uint8_t b) { return b == 0; }); };
    EXPECT_TRUE(cleared(Header()->bFrameReady) && cleared(Header()->bFrameRequested));
    const std::vector<TLoggedLine> lines = LinesSince(mark);
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                            [](const TLoggedLine& l) { return l.strText == kTooLarge && l.ui32Type == 1; }));
    EXPECT_EQ(Count(TextsSince(mark), kInternal + " the capacity 1920 x 1080 does not hold 1921 x 1080"), 1u);

    // A capacity whose product does not fit 32 bits is refused, and named.
    Header()->iMaxWidth = 0x7FFFFFFF;
    Header()->iMaxHeight = 2;
    const size_t overflowMark = LogMark();
    Realloc(1280, 720);
    EXPECT_EQ(Header()->iImageWidth, 0);
    EXPECT_EQ(Count(TextsSince(overflowMark), kInternal + " the capacity 2147483647 x 2 does not hold 1280 x 720"), 1u);
}

TEST_F(SharedFrameBuffer, LayoutLargerThanTheSectionIsRefusedWithoutMapping)
{
    host.Header()->iMaxWidth = 8000;
    host.Header()->iMaxHeight = 8000;
    const size_t mark = LogMark();
    // The layout fields as the host left them: a refused layout writes none of them.
    host.Header()->ui32FrameImageOffsets[3] = 0x5A5A5A5A;
    host.Header()->ui32FrameImageStride = 0x1234;
    host.Header()->ui32TotalSize = 0x4321;
    Realloc(4000, 4000);  // within the capacity, beyond the 64 MiB section
    EXPECT_EQ(frameBuffer.ViewSize(), kFrameBufferHeaderSize);
    EXPECT_EQ(Header()->iImageWidth, 0);
    EXPECT_EQ(host.Header()->ui32FrameImageOffsets[3], 0x5A5A5A5Au);
    EXPECT_EQ(host.Header()->ui32FrameImageStride, 0x1234u);
    EXPECT_EQ(host.Header()->ui32TotalSize, 0x4321u);
    const std::vector<std::string> texts = TextsSince(mark);
    EXPECT_EQ(Count(texts, kTooLarge), 1u);
    // The size is the section's own (asked of the section, nothing mapped for it).
    const auto holds = std::find_if(texts.begin(), texts.end(),
                                    [](const std::string& t) { return t.find("the section holds ") != std::string::npos; });
    ASSERT_NE(holds, texts.end());
    EXPECT_EQ(holds->rfind(kInternal + " the section holds " + std::to_string(options.ui64SectionSize) + " bytes, the layout needs ", 0), 0u)
        << *holds;
    EXPECT_TRUE(std::none_of(texts.begin(), texts.end(),
                             [](const std::string& t) { return t.find("trying to map") != std::string::npos; }));
}

TEST_F(SharedFrameBuffer, ProducerHoldingAnOverlayMutexDelaysTheRemapUntilItLetsGo)
{
    TKernelHandle radial(::OpenMutexW(SYNCHRONIZE, FALSE, kRadialMenuAccessMutexName));
    TKernelHandle hRelease(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread producer = Hold(radial.Get(), hRelease.Get());
    TKernelHandle hDone(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread remap([&] {
        Realloc(640, 480);
        ::SetEvent(hDone.Get());
    });
    // Nothing may move while the producer writes; a re-map that ignored the mutex ends well within this.
    EXPECT_EQ(::WaitForSingleObject(hDone.Get(), 500), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(host.Header()->iImageWidth, 0);
    ::SetEvent(hRelease.Get());
    producer.join();
    remap.join();
    EXPECT_EQ(Header()->iImageWidth, 640);
}

TEST_F(SharedFrameBuffer, AbandonedMutexFailsTheLockLeavesTheLayoutAndStillReleases)
{
    Realloc(1280, 720);
    const uint32_t total = Header()->ui32TotalSize;
    TKernelHandle webcam(::OpenMutexW(SYNCHRONIZE, FALSE, kWebCamAccessMutexName));
    Hold(webcam.Get(), nullptr).join();
    const size_t mark = LogMark();
    Realloc(640, 480);

    EXPECT_EQ(Header()->iImageWidth, 1280) << "layout untouched";
    EXPECT_EQ(Header()->ui32TotalSize, total);
    const std::vector<std::string> texts = TextsSince(mark);
    EXPECT_EQ(Count(texts, kInternal), 0u) << "no layout after a failed lock";
    // Order 0, 2, 3, 1: HUD and WebCam (abandoned, yet granted) are released; RadialMenu and
    // WebCamBackground were never taken, so their releases are refused.
    EXPECT_EQ(Count(texts, kError288), 2u);
    TKernelHandle hud(::OpenMutexW(SYNCHRONIZE, FALSE, kHUDAccessMutexName));
    EXPECT_TRUE(FreeForOthers(hud.Get()));
    EXPECT_TRUE(FreeForOthers(webcam.Get()));
}

}  // namespace
