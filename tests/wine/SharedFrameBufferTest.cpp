// The re-map of the frame buffer against a section made by the reference host: new size, same
// size, capacity refusal, a producer holding an overlay mutex, an abandoned mutex, a pre-filled
// image size and a layout larger than the section.
#include "ProcessLogServer.h"

#include "TRefHost.h"
#include "framebuffer/TSharedFrameBuffer.h"
#include "ipc/HostObjectNames.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

namespace {

const std::string kRealloc = "TZYRFullscreenCapturer::TestAndReallocSharedBuffers";
const std::string kInternal = "TZYRFullscreenCapturer::TestAndReallocSharedBuffersInternal";

class SharedFrameBuffer : public ::testing::Test {
protected:
    void SetUp() override
    {
        options.iMaxWidth = 1920;
        options.iMaxHeight = 1080;
        std::wstring error;
        ASSERT_TRUE(host.CreateObjects(options, &error)) << std::string(error.begin(), error.end());
        ASSERT_TRUE(frameBuffer.OpenSection(kFrameBufferMappingName));
        ASSERT_TRUE(frameBuffer.MapHeader());
        mutexes = {
            {kAccessMutexHUD, std::make_shared<TZYRMutex>(kHUDAccessMutexName)},
            {kAccessMutexWebCamBackground, std::make_shared<TZYRMutex>(kWebCamBackgroundAccessMutexName)},
            {kAccessMutexWebCam, std::make_shared<TZYRMutex>(kWebCamAccessMutexName)},
            {kAccessMutexRadialMenu, std::make_shared<TZYRMutex>(kRadialMenuAccessMutexName)},
        };
    }

    void Realloc(int32_t width, int32_t height) { frameBuffer.TestAndReallocSharedBuffers(width, height, mutexes); }

    TRefHostOptions options;
    TRefHost host;
    TSharedFrameBuffer frameBuffer;
    TSharedFrameBuffer::TAccessMutexes mutexes;
};

size_t Count(const std::vector<std::string>& texts, const std::string& text)
{
    return static_cast<size_t>(std::count(texts.begin(), texts.end(), text));
}

// Takes a named mutex on a thread of its own and keeps it until Release (or abandons it).
class Holder {
public:
    Holder(const wchar_t* name, bool bAbandon) : hMutex(::OpenMutexW(SYNCHRONIZE, FALSE, name))
    {
        HANDLE hHeld = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        hRelease.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        thread = std::thread([this, hHeld, bAbandon] {
            ::WaitForSingleObject(hMutex.Get(), INFINITE);
            ::SetEvent(hHeld);
            if (!bAbandon) {
                ::WaitForSingleObject(hRelease.Get(), INFINITE);
                ::ReleaseMutex(hMutex.Get());
            }
        });
        EXPECT_EQ(::WaitForSingleObject(hHeld, 10000), WAIT_OBJECT_0);
        ::CloseHandle(hHeld);
        if (bAbandon) {
            thread.join();  // the thread ends owning the mutex: abandoned
        }
    }
    void Release()
    {
        ::SetEvent(hRelease.Get());
        if (thread.joinable()) {
            thread.join();
        }
    }
    ~Holder() { Release(); }

private:
    TKernelHandle hMutex;
    TKernelHandle hRelease;
    std::thread thread;
};

TEST_F(SharedFrameBuffer, NewSizeMapsTheWholeLayoutClearsReadyFlagsAndKeepsRequests)
{
    TFrameBufferHeader* hostView = host.Header();
    std::fill(hostView->bFrameReady, hostView->bFrameReady + 6, 1);
    hostView->bFrameRequested[2] = 1;
    hostView->bLayoutValid = 1;
    const size_t mark = LogMark();
    Realloc(1280, 720);

    TFrameBufferHeader* header = frameBuffer.Header();
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->iImageWidth, 1280);
    EXPECT_EQ(header->iImageHeight, 720);
    EXPECT_EQ(header->ui32FrameImageStride, 5120u);
    const uint32_t total = header->ui32TotalSize;
    EXPECT_EQ(frameBuffer.ViewSize(), total);
    EXPECT_EQ(header->ui32FrameImageOffsets[5] + 720u * 5120u + 835200u + 1048576u, total) << "no HUD, no webcam";
    // The last byte of the new view is the host's byte at the same offset.
    reinterpret_cast<uint8_t*>(header)[total - 1] = 0xA5;
    EXPECT_EQ(reinterpret_cast<uint8_t*>(hostView)[total - 1], 0xA5);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(header->bFrameReady[i], 0) << i;
    }
    EXPECT_EQ(header->bFrameRequested[2], 1) << "requests survive the re-map";
    EXPECT_EQ(header->bLayoutValid, 0);
    for (size_t slot = 0; slot < 6; ++slot) {
        const TAreaView area = frameBuffer.View().FrameSlot(slot);
        ASSERT_TRUE(area.Holds(1280, 720)) << slot;
        EXPECT_EQ(area.pData, reinterpret_cast<uint8_t*>(header) + header->ui32FrameImageOffsets[slot]);
    }
    EXPECT_EQ(Count(TextsSince(mark), kInternal + " frame slot 0 lies outside the mapped " + std::to_string(total) + " bytes"), 0u);

    const std::vector<std::string> texts = TextsSince(mark);
    EXPECT_EQ(texts.front(), kRealloc + " old dim (0, 0), new dim (1280, 720)");
    EXPECT_EQ(Count(texts, kInternal + " trying to map " + std::to_string(total) + " bytes"), 1u);
    EXPECT_EQ(texts.back(), kRealloc + " exit");
    EXPECT_EQ(Count(texts, "TZYRMutex::Unlock ReleaseMutex error 288"), 0u);
}

TEST_F(SharedFrameBuffer, SameSizeDoesNothingButTheLocks)
{
    Realloc(1280, 720);
    const TFrameBufferHeader* before = frameBuffer.Header();
    frameBuffer.Header()->bFrameReady[1] = 1;
    const size_t mark = LogMark();
    Realloc(1280, 720);
    EXPECT_EQ(frameBuffer.Header(), before) << "no unmap, no map";
    EXPECT_EQ(frameBuffer.Header()->bFrameReady[1], 1);
    const std::vector<std::string> expected = {
        kRealloc + " old dim (1280, 720), new dim (1280, 720)",
        kInternal,
        kInternal + " exit",
        kRealloc + " exit",
    };
    std::vector<std::string> texts;
    for (const std::string& text : TextsSince(mark)) {
        if (text.rfind("TZYRMutex", 0) != 0) {  // the mutexes' own verbose lines aside
            texts.push_back(text);
        }
    }
    EXPECT_EQ(texts, expected);
}

TEST_F(SharedFrameBuffer, CapacityIsComparedAsProductsAndRefusalClearsTheSlots)
{
    Realloc(1080, 1920);  // same area, other shape: accepted
    EXPECT_EQ(frameBuffer.Header()->iImageWidth, 1080);
    const size_t viewBefore = frameBuffer.ViewSize();
    TFrameBufferHeader* header = frameBuffer.Header();
    std::fill(header->bFrameReady, header->bFrameReady + 6, 1);
    std::fill(header->bFrameRequested, header->bFrameRequested + 6, 1);
    header->bLayoutValid = 1;
    const size_t mark = LogMark();
    Realloc(1921, 1080);

    EXPECT_EQ(frameBuffer.ViewSize(), viewBefore) << "the old view is kept";
    header = frameBuffer.Header();
    EXPECT_EQ(header->iImageWidth, 0);
    EXPECT_EQ(header->iImageHeight, 0);
    EXPECT_EQ(header->bLayoutValid, 0);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(header->bFrameReady[i], 0);
        EXPECT_EQ(header->bFrameRequested[i], 0);
    }
    const auto lines = LinesSince(mark);
    const auto warning = std::find_if(lines.begin(), lines.end(),
                                      [](const TLoggedLine& l) { return l.strText == "The frame dimensions are too large."; });
    ASSERT_NE(warning, lines.end());
    EXPECT_EQ(warning->ui32Type, 1u) << "a warning";
}

TEST_F(SharedFrameBuffer, LayoutLargerThanTheSectionIsRefusedWithoutMapping)
{
    host.Header()->iMaxWidth = 8000;
    host.Header()->iMaxHeight = 8000;
    const size_t mark = LogMark();
    Realloc(4000, 4000);  // fits the capacity, not the 64 MiB section
    EXPECT_EQ(frameBuffer.ViewSize(), kFrameBufferHeaderSize);
    EXPECT_EQ(frameBuffer.Header()->iImageWidth, 0);
    const std::vector<std::string> texts = TextsSince(mark);
    EXPECT_EQ(Count(texts, "The frame dimensions are too large."), 1u);
    for (const std::string& text : texts) {
        EXPECT_EQ(text.find("trying to map"), std::string::npos) << text;
    }
}

TEST_F(SharedFrameBuffer, ProducerHoldingAnOverlayMutexDelaysTheRemap)
{
    Holder producer(kRadialMenuAccessMutexName, false);
    std::atomic<bool> done{false};
    std::thread remap([&] {
        Realloc(640, 480);
        done = true;
    });
    // While the producer holds its mutex the layout must not move; give the re-map every chance.
    for (int i = 0; i < 30 && !done; ++i) {
        ::Sleep(10);
    }
    EXPECT_FALSE(done.load());
    EXPECT_EQ(host.Header()->iImageWidth, 0) << "layout unchanged while the producer writes";
    producer.Release();
    remap.join();
    EXPECT_EQ(frameBuffer.Header()->iImageWidth, 640);
}

TEST_F(SharedFrameBuffer, AbandonedMutexFailsTheLockLeavesTheLayoutAndStillReleases)
{
    Realloc(1280, 720);
    const uint32_t total = frameBuffer.Header()->ui32TotalSize;
    Holder gone(kWebCamAccessMutexName, true);
    const size_t mark = LogMark();
    Realloc(640, 480);

    EXPECT_EQ(frameBuffer.Header()->iImageWidth, 1280) << "layout untouched";
    EXPECT_EQ(frameBuffer.Header()->ui32TotalSize, total);
    const std::vector<std::string> texts = TextsSince(mark);
    EXPECT_EQ(Count(texts, kInternal), 0u) << "no layout after a failed lock";
    // HUD and WebCam were granted and are released; RadialMenu and WebCamBackground were never
    // taken, so their releases are refused.
    EXPECT_EQ(Count(texts, "TZYRMutex::Unlock ReleaseMutex error 288"), 2u);
    TKernelHandle hud(::OpenMutexW(SYNCHRONIZE, FALSE, kHUDAccessMutexName));
    std::thread([&hud] {
        EXPECT_EQ(::WaitForSingleObject(hud.Get(), 0), static_cast<DWORD>(WAIT_OBJECT_0)) << "HUD was released";
        ::ReleaseMutex(hud.Get());
    }).join();
}

TEST_F(SharedFrameBuffer, PrefilledImageSizeStillMapsTheWholeLayout)
{
    host.Header()->iImageWidth = 800;
    host.Header()->iImageHeight = 600;
    Realloc(800, 600);
    ASSERT_NE(frameBuffer.Header(), nullptr);
    EXPECT_GT(frameBuffer.Header()->ui32TotalSize, kFirstImageAreaOffset);
    EXPECT_EQ(frameBuffer.ViewSize(), frameBuffer.Header()->ui32TotalSize);
}

}  // namespace
