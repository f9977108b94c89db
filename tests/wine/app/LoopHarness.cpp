#include "LoopHarness.h"

#include "app/CapturePlan.h"
#include "ipc/WideText.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <stdexcept>

namespace looptest {

namespace {

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

uint32_t FirstPixel(const uint8_t* pImage)
{
    uint32_t pixel = 0;
    std::memcpy(&pixel, pImage, 4);
    return pixel;
}

class FakeCapturer final : public TBaseFullscreenCapturer {
public:
    explicit FakeCapturer(Probe& rProbe) : TBaseFullscreenCapturer(::GetModuleHandleW(nullptr)), probe(rProbe) {}
    ~FakeCapturer() override { probe.bDestroyed.store(true); }

    // As both capture methods: the base resolves the name, the display with that name is selected.
    bool Initialize(std::wstring wsName) override
    {
        {
            std::lock_guard<std::mutex> guard(probe.lock);
            probe.initializeNames.push_back(wsName);
        }
        TBaseFullscreenCapturer::Initialize(wsName);
        for (const TDisplayInfo& display : vecDisplays) {
            if (!probe.bFailInitialize && wsDisplayName == display.wszDeviceName) {
                vecSelectedDisplays.push_back(display);
                return true;
            }
        }
        return false;
    }
    SIZE GetMonitorDimensions() override
    {
        const TDisplayInfo& display = vecSelectedDisplays.front();
        return SIZE{display.iWidth, display.iHeight};
    }
    SIZE GetCurrentMonitorDimensions() override
    {
        probe.nSizeQueries.fetch_add(1);
        const uint64_t size = probe.ui64CurrentSize.load();
        return size == 0 ? GetMonitorDimensions() : SIZE{LONG(size >> 32), LONG(uint32_t(size))};
    }
    std::vector<TDisplayInfo> GetDisplays() override { return probe.displays; }
    void SetCaptureParameters(int32_t iWidth, int32_t iHeight, THooksRect source, bool bKeep,
                              bool bDrawOverlays) override
    {
        TBaseFullscreenCapturer::SetCaptureParameters(iWidth, iHeight, source, bKeep, bDrawOverlays);
        std::lock_guard<std::mutex> guard(probe.lock);
        probe.parameterCalls.push_back(
            ParametersCall{iWidth, iHeight, ToRect(source), ToRect(SourceRect()), bKeep, bDrawOverlays});
    }
    void GetScreenImageInternal(const TAreaView& destination, bool, ID3D11Texture2D*) override
    {
        const uint32_t frame = probe.nStarted.fetch_add(1) + 1;
        WriteRows(destination, frame, 0, destination.ui32Rows / 2);
        if (probe.bGateArmed.exchange(false)) {
            ::SetEvent(probe.hGateEntered.Get());
            ::WaitForSingleObject(probe.hGateRelease.Get(), kWaitMs);
        }
        WriteRows(destination, frame, destination.ui32Rows / 2, destination.ui32Rows);
        probe.nCompleted.store(frame);
    }
    void UpdateWebCam(const uint8_t* pImage, int32_t iWidth, int32_t iHeight, uint32_t ui32Stride, THooksRect target,
                      const void* pShaderData, uint32_t ui32ShaderDataSize) override
    {
        const float* pFloats = static_cast<const float*>(pShaderData);
        Record(WebCamCall{false, FirstPixel(pImage), iWidth, iHeight, ui32Stride, ToRect(target),
                          std::vector<float>(pFloats, pFloats + ui32ShaderDataSize / sizeof(float)),
                          InUse(HDR(WebCamImage.ui32InUse))});
    }
    void UpdateWebCamBackground(const uint8_t* pImage, int32_t iWidth, int32_t iHeight, uint32_t ui32Stride,
                                THooksRect target) override
    {
        Record(WebCamCall{true, FirstPixel(pImage), iWidth, iHeight, ui32Stride, ToRect(target), {},
                          InUse(HDR(WebCamBackgroundImage.ui32InUse))});
    }
    // Records the handle and hands out no texture: the slot then goes through shared memory.
    void OpenSharedHandle(HANDLE hShared, ID3D11Texture2D** ppTexture) override
    {
        {
            std::lock_guard<std::mutex> guard(probe.lock);
            probe.sharedHandles.push_back(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(hShared)));
        }
        TBaseFullscreenCapturer::OpenSharedHandle(hShared, ppTexture);
    }

private:
    uint32_t InUse(size_t offset) const
    {
        return std::atomic_ref<const uint32_t>(*reinterpret_cast<const uint32_t*>(probe.pHeader + offset)).load();
    }
    void Record(WebCamCall call)
    {
        std::lock_guard<std::mutex> guard(probe.lock);
        probe.webCamCalls.push_back(std::move(call));
    }
    static void WriteRows(const TAreaView& destination, uint32_t frame, uint32_t firstRow, uint32_t endRow)
    {
        for (uint32_t y = firstRow; y < endRow && destination.IsValid(); ++y) {
            uint32_t* pRow = reinterpret_cast<uint32_t*>(destination.pData + static_cast<size_t>(y) * destination.ui32Stride);
            for (uint32_t x = 0; x < destination.ui32Width; ++x) {
                pRow[x] = PatternPixel(frame, x, y);
            }
        }
    }

    Probe& probe;
};

}  // namespace

bool WaitUntil(const std::function<bool()>& condition)
{
    const ULONGLONG deadline = ::GetTickCount64() + kWaitMs;
    while (!condition()) {
        if (::GetTickCount64() >= deadline) {
            return condition();
        }
        ::Sleep(1);
    }
    return true;
}

std::string LoopLine(const std::string& text)
{
    return "TZYRFullscreenCapturer::CaptureScreenThread " + text;
}

size_t CountLines(const std::vector<TLoggedLine>& lines, uint32_t type, const std::string& text)
{
    return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const TLoggedLine& line) {
        return line.ui32Type == type && line.strText == text;
    }));
}

uint32_t PatternPixel(uint32_t frame, uint32_t x, uint32_t y)
{
    return ((frame & 0xFFu) << 24) | ((y & 0xFFFu) << 12) | (x & 0xFFFu);
}

Rect ToRect(const THooksRect& rect)
{
    return Rect{rect.left, rect.top, rect.right, rect.bottom};
}

std::unique_ptr<TBaseFullscreenCapturer> FakeEnvironment::CreateCapturer(uint32_t)
{
    ++nCreateCapturer;
    return bNoCapturer ? nullptr : std::make_unique<FakeCapturer>(probe);
}

std::wstring FakeEnvironment::GetMonitorForActiveApplication()
{
    ++nActiveMonitorQueries;
    std::lock_guard<std::mutex> guard(lock);
    return wsActiveMonitor;
}

void FakeEnvironment::SetActiveMonitor(const std::wstring& name)
{
    std::lock_guard<std::mutex> guard(lock);
    wsActiveMonitor = name;
}

std::unique_ptr<TFullscreenOverlayCommandsClient> FakeEnvironment::CreateOverlayCommandsClient()
{
    ++nCommandsClients;
    return bRealCommandsClient ? std::make_unique<TFullscreenOverlayCommandsClient>() : nullptr;
}

void FakeEnvironment::Sleep(uint32_t ms)
{
    ++(ms == 1 ? nPollSleeps : nLongSleeps);
    ::SetEvent(hLooping.Get());
    ::Sleep(std::max<uint32_t>(1, ms / 10));
}

LoopHarness::LoopHarness(const std::wstring& sectionName)
{
    static std::atomic<uint32_t> counter{0};
    const std::wstring prefix =
        L"ZyrLoopTest" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(counter.fetch_add(1));
    wsSectionName = sectionName.empty() ? prefix + L"Section" : sectionName;
    hSection.Reset(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                        static_cast<DWORD>(kSectionSize >> 32), static_cast<DWORD>(kSectionSize),
                                        wsSectionName.c_str()));
    if (!hSection || ::GetLastError() == ERROR_ALREADY_EXISTS) {
        throw std::runtime_error("no new section, error " + std::to_string(::GetLastError()));
    }
    view = TMappedView(::MapViewOfFile(hSection.Get(), FILE_MAP_ALL_ACCESS, 0, 0, 0), kSectionSize);
    for (int key = 0; key < 4; ++key) {
        const std::wstring name = prefix + L"Mutex" + std::to_wstring(key);
        hMutexes.emplace_back(::CreateMutexW(nullptr, FALSE, name.c_str()));
        mutexes[key] = std::make_shared<TZYRMutex>(name.c_str());
    }
    if (!view || !firstFrameEvent.Get() || !mutexes[3]->Get()) {
        throw std::runtime_error("no view, mutex or event");
    }
    probe.pHeader = view.Bytes();
    TFrameBufferHeader& header = Header();
    header.iRequestedWidth = -1;
    header.iMaxWidth = 1920;
    header.iMaxHeight = 1080;
    header.ui32CaptureMethod = 1;
    header.bOverlayStatus = 0x5A;  // the loop writes 0 only when it starts the overlay
    WriteHeaderWideString(header, ZYR_WIDE_FIELD(wszMonitorName), u"\\\\.\\DISPLAY1");
    probe.displays = {MakeDisplay(L"\\\\.\\DISPLAY1", 0, 1920, 1080, true),
                      MakeDisplay(L"\\\\.\\DISPLAY2", -1280, 1280, 1024, false)};
}

LoopHarness::~LoopHarness()
{
    ::SetEvent(probe.hGateRelease.Get());  // a failed test must not leave the capturer held
    Stop();
}

bool LoopHarness::HoldAccessMutex(int key) const
{
    return ::WaitForSingleObject(hMutexes.at(static_cast<size_t>(key)).Get(), 0) == WAIT_OBJECT_0;
}

void LoopHarness::ReleaseAccessMutex(int key) const
{
    ::ReleaseMutex(hMutexes.at(static_cast<size_t>(key)).Get());
}

::testing::AssertionResult LoopHarness::Start(uint32_t nCaptureMethod)
{
    if (!frameBuffer.OpenSection(wsSectionName.c_str()) || !frameBuffer.MapHeader()) {
        return ::testing::AssertionFailure() << "OpenSection/MapHeader error " << ::GetLastError();
    }
    TCaptureLoopResources resources;
    resources.nCaptureMethod = nCaptureMethod;
    resources.pFrameBuffer = &frameBuffer;
    resources.pAccessMutexes = &mutexes;
    resources.pTheFirstFrameCapturedEvent = &firstFrameEvent;
    resources.pTerminate = &bTerminate;
    logMark = LogMark();
    pLoop = std::make_unique<TCaptureScreenLoop>(resources, env);
    thread = std::thread([this] {
        pLoop->Run();
        ::SetEvent(hEnded.Get());
    });
    const HANDLE handles[] = {env.hLooping.Get(), hEnded.Get()};
    if (::WaitForMultipleObjects(2, handles, FALSE, kWaitMs) == WAIT_TIMEOUT) {
        return ::testing::AssertionFailure() << "the run neither looped nor ended";
    }
    return ::testing::AssertionSuccess();
}

void LoopHarness::Stop()
{
    if (thread.joinable()) {
        bTerminate.store(true);
        // A run that does not end would hang the join: report it first (the suite's time-out ends it).
        EXPECT_TRUE(WaitEnded()) << "the capture loop did not stop within " << kWaitMs << " ms";
        thread.join();
    }
}

::testing::AssertionResult LoopHarness::Serve(size_t slot) const
{
    Request(slot);
    if (!WaitUntil([&] { return Ready(slot) != 0; })) {
        return ::testing::AssertionFailure() << "slot " << slot << " was not published";
    }
    Set<uint8_t>(HDR(bFrameReady) + slot, 0);
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult LoopHarness::PassWarmUp(size_t slot)
{
    const uint32_t captures = probe.nCompleted.load();
    Request(slot);
    if (!WaitUntil([&] { return probe.nCompleted.load() > captures; })) {
        return ::testing::AssertionFailure() << "no capture inside the warm-up";
    }
    env.tick += capplan::kWarmUpMs;
    return Serve(slot);
}

::testing::AssertionResult LoopHarness::SlotHoldsFrame(size_t slot, uint32_t frame) const
{
    const TAreaView area = View().FrameSlot(slot);
    for (uint32_t y = 0; y < area.ui32Rows && area.IsValid(); ++y) {
        const uint32_t* pRow = reinterpret_cast<const uint32_t*>(area.pData + static_cast<size_t>(y) * area.ui32Stride);
        for (uint32_t x = 0; x < area.ui32Width; ++x) {
            if (pRow[x] != PatternPixel(frame, x, y)) {
                return ::testing::AssertionFailure() << "slot " << slot << " (" << x << ", " << y << ") is 0x"
                                                     << std::hex << pRow[x] << ", not frame " << std::dec << frame;
            }
        }
    }
    return area.IsValid() ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << "slot " << slot;
}

}  // namespace looptest
