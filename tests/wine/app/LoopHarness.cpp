#include "LoopHarness.h"

#include "app/CapturePlan.h"
#include "ipc/HostObjectNames.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <cwchar>

namespace looptest {

namespace {

std::atomic<uint32_t> g_nSection{0};

std::wstring PrivateName(const wchar_t* kind, uint32_t n)
{
    return std::wstring(L"ZyrLoopTest") + kind + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(n);
}

TDisplayInfo MakeDisplay(const wchar_t* name, int32_t x, int32_t width, int32_t height, bool bPrimary)
{
    TDisplayInfo display;
    display.hMonitor = reinterpret_cast<HMONITOR>(static_cast<uintptr_t>(0x2000 + (x & 0xFFFF)));
    std::wcsncpy(display.wszDeviceName, name, kDisplayDeviceNameUnits - 1);
    display.iX = x;
    display.iWidth = width;
    display.iHeight = height;
    display.bPrimary = bPrimary;
    return display;
}

}  // namespace

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    while (!condition()) {
        if (::GetTickCount64() >= deadline) {
            return condition();
        }
        ::Sleep(1);
    }
    return true;
}

uint32_t CounterMilliseconds()
{
    LARGE_INTEGER frequency{};
    LARGE_INTEGER counter{};
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&counter);
    return capplan::CounterToMilliseconds(static_cast<uint64_t>(counter.QuadPart),
                                          static_cast<uint64_t>(frequency.QuadPart));
}

std::string LoopLine(const std::string& text)
{
    return std::string(kLoopName) + " " + text;
}

size_t CountLines(const std::vector<TLoggedLine>& lines, uint32_t type, const std::string& text)
{
    return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const TLoggedLine& line) {
        return line.ui32Type == type && line.strText == text;
    }));
}

size_t CountText(const std::vector<TLoggedLine>& lines, const std::string& text)
{
    return static_cast<size_t>(
        std::count_if(lines.begin(), lines.end(), [&](const TLoggedLine& line) { return line.strText == text; }));
}

LoopHarness::LoopHarness(const std::wstring& sectionName)
    : probe(std::make_shared<CapturerProbe>()),
      env(probe),
      pFirstFrameEvent(std::make_unique<TZYREvent>(nullptr, true, false, nullptr)),
      hEnded(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
    const uint32_t n = g_nSection.fetch_add(1);
    wsSectionName = sectionName.empty() ? PrivateName(L"Section", n) : sectionName;
    hSection.Reset(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                        static_cast<DWORD>(kSectionSize >> 32), static_cast<DWORD>(kSectionSize),
                                        wsSectionName.c_str()));
    const bool bExisted = ::GetLastError() == ERROR_ALREADY_EXISTS;
    EXPECT_TRUE(hSection.IsValid()) << "CreateFileMapping error " << ::GetLastError();
    EXPECT_FALSE(bExisted) << "a section of that name was left behind";
    if (!hSection.IsValid() || bExisted) {
        return;
    }
    view = TMappedView(::MapViewOfFile(hSection.Get(), FILE_MAP_ALL_ACCESS, 0, 0, 0), kSectionSize);
    EXPECT_TRUE(static_cast<bool>(view)) << "MapViewOfFile error " << ::GetLastError();
    for (int key = 0; key < 4 && view; ++key) {
        const std::wstring name = PrivateName(L"Mutex", n * 4 + static_cast<uint32_t>(key));
        hMutexes.emplace_back(::CreateMutexW(nullptr, FALSE, name.c_str()));
        mutexes[key] = std::make_shared<TZYRMutex>(name.c_str());
        EXPECT_NE(nullptr, mutexes[key]->Get()) << "access mutex " << key;
    }
    EXPECT_NE(nullptr, pFirstFrameEvent->Get());
    bMade = view && mutexes.size() == 4 && pFirstFrameEvent->Get() != nullptr &&
            std::all_of(mutexes.begin(), mutexes.end(), [](const auto& entry) { return entry.second->Get(); });
    if (!bMade) {
        return;
    }
    TFrameBufferHeader& header = Header();
    header.iRequestedWidth = -1;
    header.iMaxWidth = 1920;
    header.iMaxHeight = 1080;
    header.ui32CaptureMethod = 1;
    header.bOverlayStatus = 0x5A;  // the loop writes 0 only when it starts the overlay
    SetMonitorName(u"\\\\.\\DISPLAY1");
    probe->displays = {MakeDisplay(L"\\\\.\\DISPLAY1", 0, 1920, 1080, true),
                       MakeDisplay(L"\\\\.\\DISPLAY2", -1280, 1280, 1024, false)};
}

LoopHarness::~LoopHarness()
{
    // A test that failed while the capturer was held half way must not leave it waiting.
    probe->ReleaseGate();
    Stop();
}

void LoopHarness::SetMonitorName(const std::u16string& name) const
{
    TFrameBufferHeader& header = Header();
    const size_t units = std::min(name.size(), kWideFieldUnits - 1);
    for (size_t i = 0; i < kWideFieldUnits; ++i) {
        header.wszMonitorName[i] = i < units ? name[i] : u'\0';
    }
}

std::u16string LoopHarness::MonitorName() const
{
    const TFrameBufferHeader& header = Header();
    std::u16string name;
    for (size_t i = 0; i < kWideFieldUnits && header.wszMonitorName[i] != u'\0'; ++i) {
        name.push_back(header.wszMonitorName[i]);
    }
    return name;
}

void LoopHarness::UseFirstFrameEventWithoutHandle()
{
    const std::wstring name = PrivateName(L"NoSuchEvent", g_nSection.fetch_add(1));
    pFirstFrameEvent = std::make_unique<TZYREvent>(EVENT_MODIFY_STATE, name.c_str());
    EXPECT_EQ(nullptr, pFirstFrameEvent->Get());
}

bool LoopHarness::HoldAccessMutex(int key) const
{
    return ::WaitForSingleObject(hMutexes.at(static_cast<size_t>(key)).Get(), 0) == WAIT_OBJECT_0;
}

void LoopHarness::ReleaseAccessMutex(int key) const
{
    ::ReleaseMutex(hMutexes.at(static_cast<size_t>(key)).Get());
}

void LoopHarness::Start(uint32_t nCaptureMethod)
{
    ASSERT_TRUE(bMade);
    ASSERT_TRUE(frameBuffer.OpenSection(wsSectionName.c_str())) << "OpenSection error " << ::GetLastError();
    ASSERT_TRUE(frameBuffer.MapHeader()) << "MapHeader error " << ::GetLastError();
    TCaptureLoopResources resources;
    resources.nCaptureMethod = nCaptureMethod;
    resources.pFrameBuffer = &frameBuffer;
    resources.pAccessMutexes = &mutexes;
    resources.pTheFirstFrameCapturedEvent = pFirstFrameEvent.get();
    resources.pTerminate = &bTerminate;
    logMark = LogMark();
    pLoop = std::make_unique<TCaptureScreenLoop>(resources, env);
    thread = std::thread([this] {
        pLoop->Run();
        ::SetEvent(hEnded.Get());
    });
}

bool LoopHarness::WaitLooping() const
{
    const HANDLE handles[] = {env.LoopingEvent(), hEnded.Get()};
    return ::WaitForMultipleObjects(2, handles, FALSE, kWaitMs) != WAIT_TIMEOUT;
}

bool LoopHarness::WaitEnded() const
{
    return ::WaitForSingleObject(hEnded.Get(), kWaitMs) == WAIT_OBJECT_0;
}

void LoopHarness::Stop()
{
    if (!thread.joinable()) {
        return;
    }
    bTerminate.store(true);
    // A run that does not end would hang the join: report it first (the suite's time-out ends it).
    EXPECT_TRUE(WaitEnded()) << "the capture loop did not stop within " << kWaitMs << " ms";
    thread.join();
}

void LoopHarness::Request(size_t slot) const
{
    std::atomic_ref<uint8_t>(*Field<uint8_t>(offsetof(TFrameBufferHeader, bFrameRequested) + slot)).store(1);
}

uint8_t LoopHarness::Requested(size_t slot) const
{
    return std::atomic_ref<uint8_t>(*Field<uint8_t>(offsetof(TFrameBufferHeader, bFrameRequested) + slot)).load();
}

uint8_t LoopHarness::Ready(size_t slot) const
{
    return std::atomic_ref<uint8_t>(*Field<uint8_t>(offsetof(TFrameBufferHeader, bFrameReady) + slot)).load();
}

void LoopHarness::ClearReady(size_t slot) const
{
    std::atomic_ref<uint8_t>(*Field<uint8_t>(offsetof(TFrameBufferHeader, bFrameReady) + slot)).store(0);
}

uint32_t LoopHarness::Timestamp(size_t slot) const
{
    const size_t offset = offsetof(TFrameBufferHeader, ui32FrameTimestamps) + slot * sizeof(uint32_t);
    return std::atomic_ref<uint32_t>(*Field<uint32_t>(offset)).load();
}

int32_t LoopHarness::SingleFrameState() const
{
    return std::atomic_ref<int32_t>(*Field<int32_t>(offsetof(TFrameBufferHeader, iSingleFrameState))).load();
}

void LoopHarness::SetSingleFrameState(int32_t state) const
{
    std::atomic_ref<int32_t>(*Field<int32_t>(offsetof(TFrameBufferHeader, iSingleFrameState))).store(state);
}

void LoopHarness::SetCaptureEnabled(bool bEnabled) const
{
    std::atomic_ref<uint8_t>(*Field<uint8_t>(offsetof(TFrameBufferHeader, bCaptureEnabled))).store(bEnabled ? 1 : 0);
}

void LoopHarness::SetSuppressOverlayCommand(bool bSuppress) const
{
    std::atomic_ref<uint8_t>(*Field<uint8_t>(offsetof(TFrameBufferHeader, bSuppressOverlayCommand)))
        .store(bSuppress ? 1 : 0);
}

uint8_t LoopHarness::CaptureInvalidated() const
{
    return std::atomic_ref<uint8_t>(*Field<uint8_t>(offsetof(TFrameBufferHeader, bCaptureInvalidated))).load();
}

uint32_t LoopHarness::OverlayCommand() const
{
    return std::atomic_ref<uint32_t>(*Field<uint32_t>(offsetof(TFrameBufferHeader, ui32OverlayCommand))).load();
}

void LoopHarness::SetOverlayCommand(uint32_t command) const
{
    std::atomic_ref<uint32_t>(*Field<uint32_t>(offsetof(TFrameBufferHeader, ui32OverlayCommand))).store(command);
}

uint32_t LoopHarness::OverlayCommandStatus() const
{
    return std::atomic_ref<uint32_t>(*Field<uint32_t>(offsetof(TFrameBufferHeader, ui32OverlayCommandStatus)))
        .load();
}

void LoopHarness::SetSharedTextureHandle(size_t slot, uint64_t handle) const
{
    const size_t offset = offsetof(TFrameBufferHeader, ui64SharedTextureHandles) + slot * sizeof(uint64_t);
    std::atomic_ref<uint64_t>(*Field<uint64_t>(offset)).store(handle);
}

bool LoopHarness::FirstFrameEventSet() const
{
    return ::WaitForSingleObject(pFirstFrameEvent->Get(), 0) == WAIT_OBJECT_0;
}

::testing::AssertionResult LoopHarness::Serve(size_t slot) const
{
    Request(slot);
    if (!WaitUntil([&] { return Ready(slot) != 0; })) {
        return ::testing::AssertionFailure() << "slot " << slot << " was not published within " << kWaitMs << " ms";
    }
    ClearReady(slot);
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult LoopHarness::PassWarmUp(size_t slot)
{
    const uint32_t captures = probe->Captures();
    Request(slot);
    if (!WaitUntil([&] { return probe->Captures() > captures; })) {
        return ::testing::AssertionFailure() << "no capture inside the warm-up within " << kWaitMs << " ms";
    }
    env.AdvanceClock(capplan::kWarmUpMs);
    if (!WaitUntil([&] { return Ready(slot) != 0; })) {
        return ::testing::AssertionFailure() << "slot " << slot << " was not published after the warm-up";
    }
    ClearReady(slot);
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult LoopHarness::SlotHoldsFrame(size_t slot, uint32_t frame) const
{
    const TAreaView area = View().FrameSlot(slot);
    if (!area.IsValid()) {
        return ::testing::AssertionFailure() << "slot " << slot << " is not a valid area of the view";
    }
    for (uint32_t y = 0; y < area.ui32Rows; ++y) {
        const uint8_t* pRow = area.pData + static_cast<size_t>(y) * area.ui32Stride;
        for (uint32_t x = 0; x < area.ui32Width; ++x) {
            uint32_t pixel = 0;
            std::memcpy(&pixel, pRow + x * 4u, 4);
            if (pixel != PatternPixel(frame, x, y)) {
                return ::testing::AssertionFailure() << "slot " << slot << " pixel (" << x << ", " << y << ") is 0x"
                                                     << std::hex << pixel << ", frame " << std::dec << frame
                                                     << " has 0x" << std::hex << PatternPixel(frame, x, y);
            }
        }
    }
    return ::testing::AssertionSuccess();
}

uint32_t LoopHarness::FrameInSlot(size_t slot) const
{
    const TAreaView area = View().FrameSlot(slot);
    if (!area.IsValid()) {
        return 0;
    }
    uint32_t pixel = 0;
    std::memcpy(&pixel, area.pData, 4);
    uint32_t found = 0;
    for (const FrameCall& call : probe->Frames()) {
        if ((call.ui32Frame & 0xFFu) == pixel >> 24) {
            found = call.ui32Frame;  // the latest frame with that low byte
        }
    }
    return found;
}

}  // namespace looptest
