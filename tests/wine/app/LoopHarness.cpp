#include "LoopHarness.h"

#include "app/CapturePlan.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace looptest {

namespace {

class FakeCapturer final : public TBaseFullscreenCapturer {
public:
    explicit FakeCapturer(Fakes& rFake) : TBaseFullscreenCapturer(::GetModuleHandleW(nullptr)), fake(rFake) {}
    ~FakeCapturer() override { fake.bDestroyed = true; }

    // As both capture methods: the base resolves the name (the primary's when none matches).
    bool Initialize(std::wstring wsName) override
    {
        return TBaseFullscreenCapturer::Initialize(wsName) && !fake.bFailInitialize;
    }
    SIZE GetMonitorDimensions() override
    {
        for (const TDisplayInfo& display : vecDisplays) {
            if (wsDisplayName == display.wszDeviceName) {
                return SIZE{display.iWidth, display.iHeight};
            }
        }
        return SIZE{0, 0};
    }
    SIZE GetCurrentMonitorDimensions() override
    {
        const uint64_t size = fake.ui64CurrentSize;
        return size == 0 ? GetMonitorDimensions() : SIZE{LONG(size >> 32), LONG(uint32_t(size))};
    }
    std::vector<TDisplayInfo> GetDisplays() override { return fake.displays; }
    void SetCaptureParameters(int32_t iWidth, int32_t iHeight, THooksRect source, bool bKeep, bool bOverlays) override
    {
        TBaseFullscreenCapturer::SetCaptureParameters(iWidth, iHeight, source, bKeep, bOverlays);
        fake.parameterCalls.push_back(ParametersCall{iWidth, iHeight, ToRect(source), ToRect(SourceRect()), bOverlays});
    }
    // With a texture, as the real capturers: the frame goes there and the slot is not touched.
    void GetScreenImageInternal(const TAreaView& destination, bool, ID3D11Texture2D* pTexture) override
    {
        const uint32_t frame = fake.nCompleted + 1;
        fake.captures.push_back(CaptureCall{destination.pData, pTexture});
        pRepeatedFrom = nullptr;
        if (pTexture != nullptr) {
            fake.nCompleted = frame;
            return;
        }
        if (fake.bRepeatFrames && pLastDestination != nullptr) {
            // As a capturer whose transfer failed: the image written before, copied (same layout).
            if (pLastDestination != destination.pData) {
                std::memcpy(destination.pData, pLastDestination, size_t(destination.ui32Rows) * destination.ui32Stride);
            }
            pRepeatedFrom = pLastDestination;
            pLastDestination = destination.pData;
            return;
        }
        pLastDestination = destination.pData;
        for (uint32_t y = 0; y < destination.ui32Rows; ++y) {
            if (y == destination.ui32Rows / 2 && fake.bGateArmed.exchange(false)) {
                ::SetEvent(fake.hGateEntered.Get());
                ::WaitForSingleObject(fake.hGateRelease.Get(), kWaitMs);
            }
            uint32_t* pRow = reinterpret_cast<uint32_t*>(destination.pData + size_t(y) * destination.ui32Stride);
            for (uint32_t x = 0; x < destination.ui32Width; ++x) {
                pRow[x] = PatternPixel(frame, x, y);
            }
        }
        fake.nCompleted = frame;
    }
    void UpdateWebCam(const uint8_t* pImage, int32_t iWidth, int32_t iHeight, uint32_t ui32Stride, THooksRect target,
                      const void* pShaderData, uint32_t ui32ShaderDataSize) override
    {
        const float* pFloats = static_cast<const float*>(pShaderData);
        fake.webCamCalls.push_back(WebCamCall{false, *reinterpret_cast<const uint32_t*>(pImage), iWidth, iHeight,
                                              ui32Stride, ToRect(target), {pFloats, pFloats + ui32ShaderDataSize / 4},
                                              InUse(HDR(WebCamImage.ui32InUse))});
    }
    void UpdateWebCamBackground(const uint8_t* pImage, int32_t iWidth, int32_t iHeight, uint32_t ui32Stride,
                                THooksRect target) override
    {
        fake.webCamCalls.push_back(WebCamCall{true, *reinterpret_cast<const uint32_t*>(pImage), iWidth, iHeight,
                                              ui32Stride, ToRect(target), {},
                                              InUse(HDR(WebCamBackgroundImage.ui32InUse))});
    }
    const uint8_t* RepeatedFrameSource() const override { return pRepeatedFrom; }
    // Records the handle; hands out fake.pTexture (with a reference) for kOpenableHandle, else no
    // texture: the slot then goes through shared memory.
    void OpenSharedHandle(HANDLE hShared, ID3D11Texture2D** ppTexture) override
    {
        fake.sharedHandles.push_back(uint64_t(reinterpret_cast<uintptr_t>(hShared)));
        TBaseFullscreenCapturer::OpenSharedHandle(hShared, ppTexture);
        if (reinterpret_cast<uintptr_t>(hShared) == kOpenableHandle && fake.pTexture != nullptr) {
            fake.pTexture->AddRef();
            *ppTexture = fake.pTexture;
        }
    }

private:
    uint32_t InUse(size_t offset) const
    {
        return std::atomic_ref<const uint32_t>(*reinterpret_cast<const uint32_t*>(fake.pHeader + offset)).load();
    }

    Fakes& fake;
    const uint8_t* pLastDestination = nullptr;
    const uint8_t* pRepeatedFrom = nullptr;
};

}  // namespace

bool WaitUntil(const std::function<bool()>& condition)
{
    const ULONGLONG deadline = ::GetTickCount64() + kWaitMs;
    while (!condition() && ::GetTickCount64() < deadline) {
        ::Sleep(1);
    }
    return condition();
}

size_t CountLines(const std::vector<TLoggedLine>& lines, uint32_t type, const std::string& text)
{
    return size_t(std::count_if(lines.begin(), lines.end(), [&](const TLoggedLine& line) {
        return line.ui32Type == type && line.strText == text;
    }));
}

std::unique_ptr<TBaseFullscreenCapturer> Fakes::CreateCapturer(uint32_t)
{
    ++nCreateCapturer;
    return bNoCapturer ? nullptr : std::make_unique<FakeCapturer>(*this);
}

void Fakes::Sleep(uint32_t ms)
{
    ++(ms == 1 ? nPollSleeps : nLongSleeps);
    ::SetEvent(hLooping.Get());
    ::Sleep(std::max<uint32_t>(1, ms / 10));
}

LoopHarness::LoopHarness(const std::wstring& sectionName)
{
    static std::atomic<uint32_t> counter{0};
    const std::wstring prefix = L"ZyrLoopTest" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                std::to_wstring(counter.fetch_add(1));
    wsSectionName = sectionName.empty() ? prefix + L"Section" : sectionName;
    hSection.Reset(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, DWORD(kSectionSize >> 32),
                                        DWORD(kSectionSize), wsSectionName.c_str()));
    if (!hSection || ::GetLastError() == ERROR_ALREADY_EXISTS) {
        throw std::runtime_error("no new section, error " + std::to_string(::GetLastError()));
    }
    view = TMappedView(::MapViewOfFile(hSection.Get(), FILE_MAP_ALL_ACCESS, 0, 0, 0), kSectionSize);
    bool bMutexes = true;
    for (int key = 0; key < 4; ++key) {
        const std::wstring name = prefix + L"Mutex" + std::to_wstring(key);
        const TKernelHandle hCreated(::CreateMutexW(nullptr, FALSE, name.c_str()));  // the loop's handle keeps it
        mutexes[key] = std::make_shared<TZYRMutex>(name.c_str());
        bMutexes = bMutexes && mutexes[key]->Get() != nullptr;
    }
    if (!view || !firstFrameEvent.Get() || !bMutexes) {
        throw std::runtime_error("no view, first-frame event or access mutex");
    }
    fake.pHeader = view.Bytes();
    TFrameBufferHeader& header = Header();
    header.iRequestedWidth = -1;
    header.iMaxWidth = 1920;
    header.iMaxHeight = 1080;
    header.ui32CaptureMethod = 1;
    header.bOverlayStatus = 0x5A;  // the loop writes 0 only when it starts the overlay
    SetMonitorName(L"\\\\.\\DISPLAY1");
    fake.displays = {TDisplayInfo{reinterpret_cast<HMONITOR>(1), L"\\\\.\\DISPLAY1", 0, 0, 1920, 1080, true},
                     TDisplayInfo{reinterpret_cast<HMONITOR>(2), L"\\\\.\\DISPLAY2", -1280, 0, 1280, 1024, false}};
}

LoopHarness::~LoopHarness()
{
    ::SetEvent(fake.hGateRelease.Get());  // a failed test must not leave the capturer held
    Stop();
}

::testing::AssertionResult LoopHarness::Start(uint32_t nCaptureMethod)
{
    if (!frameBuffer.OpenSection(wsSectionName.c_str()) || !frameBuffer.MapHeader()) {
        return ::testing::AssertionFailure() << "OpenSection/MapHeader error " << ::GetLastError();
    }
    logMark = LogMark();
    pLoop = std::make_unique<TCaptureScreenLoop>(
        TCaptureLoopResources{nCaptureMethod, &frameBuffer, &mutexes, &firstFrameEvent, &bTerminate}, fake);
    thread = std::thread([this] {
        pLoop->Run();
        ::SetEvent(hEnded.Get());
    });
    const HANDLE handles[] = {fake.hLooping.Get(), hEnded.Get()};
    return ::testing::AssertionResult(::WaitForMultipleObjects(2, handles, FALSE, kWaitMs) != WAIT_TIMEOUT)
           << "the run neither looped nor ended";
}

void LoopHarness::Stop()
{
    if (thread.joinable()) {
        bTerminate = true;
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
    const uint32_t captures = fake.nCompleted;
    Request(slot);
    if (!WaitUntil([&] { return fake.nCompleted > captures; })) {
        return ::testing::AssertionFailure() << "no capture inside the warm-up";
    }
    fake.tick += capplan::kWarmUpMs;
    return Serve(slot);
}

::testing::AssertionResult LoopHarness::SlotHoldsFrame(size_t slot, uint32_t frame) const
{
    const TAreaView area = View().FrameSlot(slot);
    for (uint32_t y = 0; y < area.ui32Rows && area.IsValid(); ++y) {
        const uint32_t* pRow = reinterpret_cast<const uint32_t*>(area.pData + size_t(y) * area.ui32Stride);
        for (uint32_t x = 0; x < area.ui32Width; ++x) {
            if (pRow[x] != PatternPixel(frame, x, y)) {
                return ::testing::AssertionFailure() << "slot " << slot << " (" << x << ", " << y << ") is 0x"
                                                     << std::hex << pRow[x] << ", not frame " << std::dec << frame;
            }
        }
    }
    return ::testing::AssertionResult(area.IsValid()) << "slot " << slot << " is no valid area";
}

}  // namespace looptest
