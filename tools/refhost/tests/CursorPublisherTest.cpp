// The host's cursor publisher over a real section laid out by the frame buffer's own layout, with
// the pointer over the scene, whose class cursor is the live one (SceneEnvironment.h): what it
// writes (bytes of the pictures at the header's offsets, the live handle and position, the hot
// spot), when it writes (layout, each cursor event, PublishNow), the cursor mutex it waits for,
// and offsets that point outside the section.
#include "RefHostTestSupport.h"
#include "SceneEnvironment.h"
#include "TCursorPublisher.h"

#include "framebuffer/FrameBufferView.h"
#include "ipc/WideText.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

namespace {

using namespace refhost_test;
using refcursor::TCursorPicture;

// Bound of every wait: generous for a loaded two-core machine under Wine.
constexpr DWORD kWaitMs = 30000;
constexpr POINT kPointer = kScenePointer;

// Waits (bounded) until GetCursorInfo shows a cursor at the scene's pointer: the scene's thread
// takes the move from its queue, and only then is its class cursor the current one. False with
// what was seen in *pSeen.
bool WaitSceneCursor(std::string* pSeen)
{
    const ULONGLONG ullStart = ::GetTickCount64();
    for (;;) {
        CURSORINFO info{};
        info.cbSize = sizeof info;
        const bool bRead = ::GetCursorInfo(&info) != FALSE;
        if (bRead && info.hCursor != nullptr && info.ptScreenPos.x == kPointer.x && info.ptScreenPos.y == kPointer.y) {
            return true;
        }
        *pSeen = "GetCursorInfo " + std::string(bRead ? "read" : "failed") + ", handle " +
                 std::to_string(reinterpret_cast<uintptr_t>(info.hCursor)) + " at (" +
                 std::to_string(info.ptScreenPos.x) + ", " + std::to_string(info.ptScreenPos.y) + "), flags " +
                 std::to_string(info.flags);
        if (::GetTickCount64() - ullStart >= kWaitMs) {
            return false;
        }
        ::Sleep(5);
    }
}

CURSORINFO LiveCursor()
{
    CURSORINFO info{};
    info.cbSize = sizeof info;
    EXPECT_TRUE(::GetCursorInfo(&info)) << "error " << ::GetLastError();
    return info;
}

uint64_t KeyOf(HCURSOR hCursor)
{
    return static_cast<uint64_t>(static_cast<int64_t>(reinterpret_cast<intptr_t>(hCursor)));
}

// The layout a capturer writes after its start, done on the host's own view.
void LayOut(TRefHost& host)
{
    TFrameBufferHeader& header = *host.Header();
    header.iSourceWidth = 1920;
    header.iSourceHeight = 1080;
    header.iImageWidth = 64;
    header.iImageHeight = 48;
    uint32_t ui32Total = 0;
    ASSERT_EQ(header.CalculateImagesOffsets(ui32Total), TLayoutResult::Ok);
    ASSERT_LE(ui32Total, host.SectionSize());
    ASSERT_NE(header.ui32CursorColorBitmapOffset, 0u);
}

// The cursor block's fields, copied out of the packed header.
struct Block {
    uint64_t ui64Handle;
    int32_t iX, iY;
    uint32_t ui32Flags;
    uint8_t bColour, bMask;
    int32_t iHotX, iHotY;
    bool operator==(const Block&) const = default;
};

Block ReadBlock(const TRefHost& host)
{
    const TFrameBufferHeader& h = *host.Header();
    return Block{h.ui64CursorHandle, h.iCursorX, h.iCursorY, h.ui32CursorFlags, h.bCursorColorBitmap,
                 h.bCursorMaskBitmap, h.iCursorHotspotX, h.iCursorHotspotY};
}

// Every field of the block set to a value no publication writes.
void ScribbleBlock(TRefHost& host)
{
    TFrameBufferHeader& h = *host.Header();
    h.ui64CursorHandle = 0x5A5A5A5A5A5A5A5Aull;
    h.iCursorX = h.iCursorY = -77;
    h.ui32CursorFlags = 0xA5A5A5A5u;
    h.bCursorColorBitmap = h.bCursorMaskBitmap = 0x33;
    h.iCursorHotspotX = h.iCursorHotspotY = -99;
}

// Both offsets in one store, as one layout change: the two fields are neighbours on an 8-byte
// boundary, so the publisher never sees one changed without the other.
void SetOffsets(TRefHost& host, uint32_t ui32Colour, uint32_t ui32Mask)
{
    static_assert(offsetof(TFrameBufferHeader, ui32CursorMaskBitmapOffset) ==
                  offsetof(TFrameBufferHeader, ui32CursorColorBitmapOffset) + 4);
    static_assert(offsetof(TFrameBufferHeader, ui32CursorColorBitmapOffset) % 8 == 0);
    auto* pPair = reinterpret_cast<uint64_t*>(host.SectionBytes() + offsetof(TFrameBufferHeader, ui32CursorColorBitmapOffset));
    std::atomic_ref<uint64_t>(*pPair).store(uint64_t{ui32Mask} << 32 | ui32Colour);
}

// The bytes at an area of the host's section, through the checked view.
std::vector<uint8_t> AreaBytes(const TAreaView& area, size_t count)
{
    EXPECT_TRUE(area.IsValid());
    return area.IsValid() ? std::vector<uint8_t>(area.pData, area.pData + count) : std::vector<uint8_t>{};
}

void FillArea(const TAreaView& area, uint8_t value)
{
    ASSERT_TRUE(area.IsValid());
    std::memset(area.pData, value, static_cast<size_t>(area.ui64Size));
}

// Signals the cursor event as the capturer does: opened by the name the header gives.
void SignalCursorEvent(const TRefHost& host)
{
    const std::wstring name = ToWide(ReadHeaderWideString(*host.Header(), ZYR_WIDE_FIELD(wszCursorEventName)));
    const TKernelHandle event(::OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str()));
    ASSERT_TRUE(event.IsValid()) << "error " << ::GetLastError();
    ASSERT_TRUE(::SetEvent(event.Get()));
}

// Waits (bounded) until the publisher has taken `count` cursor events off the event.
bool WaitEvents(const TCursorPublisher& publisher, uint32_t count)
{
    const ULONGLONG ullStart = ::GetTickCount64();
    while (publisher.EventsReceived() < count) {
        if (::GetTickCount64() - ullStart >= kWaitMs) {
            return false;
        }
        ::Sleep(1);
    }
    return true;
}

class CursorPublisher : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        bPointed = SceneIsUp() && WaitSceneCursor(&strSeen);
        if (!SceneIsUp()) {
            strSeen = "the scene is not shown";
        }
    }

    void SetUp() override
    {
        ASSERT_TRUE(bPointed) << "no cursor at the scene's pointer: " << strSeen;
        std::wstring error;
        ASSERT_TRUE(host.CreateObjects(options, &error)) << Narrow(error);
    }

    TFrameBufferView View() const { return TFrameBufferView(host.SectionBytes(), host.SectionSize()); }

    static bool bPointed;
    static std::string strSeen;
    TRefHostOptions options;
    TRefHost host;
};

bool CursorPublisher::bPointed = false;
std::string CursorPublisher::strSeen;

TEST_F(CursorPublisher, PublishesOnceTheLayoutAppearsWithoutAnEvent)
{
    TCursorPublisher publisher(host, TCursorPublisherOptions{});
    ASSERT_TRUE(publisher.Start());
    publisher.PublishNow();
    ASSERT_TRUE(publisher.WaitRefused(1, kWaitMs)) << "no layout yet: no areas";
    EXPECT_EQ(publisher.Publications(), 0u);
    EXPECT_EQ(host.Header()->ui64CursorHandle, 0u);
    EXPECT_EQ(host.Header()->bCursorColorBitmap, 0u);
    LayOut(host);
    ASSERT_TRUE(publisher.WaitPublished(1, kWaitMs));
    EXPECT_EQ(publisher.EventsReceived(), 0u);
    EXPECT_EQ(host.Header()->ui64CursorHandle, KeyOf(LiveCursor().hCursor));
    EXPECT_EQ(host.Header()->bCursorColorBitmap, 1u);
}

TEST_F(CursorPublisher, EachCursorEventIsCountedAndAnsweredWithAPublication)
{
    LayOut(host);
    TCursorPublisher publisher(host, TCursorPublisherOptions{});
    ASSERT_TRUE(publisher.Start());
    ASSERT_TRUE(publisher.WaitPublished(1, kWaitMs)) << "the layout was there before the start";
    const Block published = ReadBlock(host);
    for (uint32_t signal = 1; signal <= 5; ++signal) {
        SCOPED_TRACE(signal);
        ScribbleBlock(host);
        SignalCursorEvent(host);
        ASSERT_TRUE(publisher.WaitPublished(1 + signal, kWaitMs));
        EXPECT_EQ(publisher.EventsReceived(), signal);
        EXPECT_TRUE(ReadBlock(host) == published) << "the publication wrote the whole block again";
    }
    EXPECT_EQ(publisher.Refusals(), 0u);
}

struct PictureCase {
    const char* name;
    TCursorPicture picture;
    int32_t iHotX, iHotY;
};

TEST_F(CursorPublisher, BlockHoldsThePictureTheLiveCursorAndTheHotSpot)
{
    LayOut(host);
    const PictureCase cases[] = {
        {"colour", TCursorPicture::Colour, 0, 0},
        {"monochrome", TCursorPicture::Monochrome, 5, 7},
        {"none", TCursorPicture::None, 31, 2},
        {"colour again", TCursorPicture::Colour, 16, 16},
    };
    for (const PictureCase& c : cases) {
        SCOPED_TRACE(c.name);
        FillArea(View().CursorColorBitmap(), 0xC3);
        FillArea(View().CursorMaskBitmap(), 0xC3);
        ScribbleBlock(host);
        TCursorPublisher publisher(host, TCursorPublisherOptions{c.picture, c.iHotX, c.iHotY});
        ASSERT_TRUE(publisher.Start());
        ASSERT_TRUE(publisher.WaitPublished(1, kWaitMs));
        publisher.Stop();
        const CURSORINFO live = LiveCursor();
        const Block block = ReadBlock(host);
        const bool bNone = c.picture == TCursorPicture::None;
        EXPECT_EQ(block.ui64Handle, bNone ? 0u : KeyOf(live.hCursor));
        EXPECT_NE(live.hCursor, nullptr);
        EXPECT_EQ(block.iX, kPointer.x);
        EXPECT_EQ(block.iY, kPointer.y);
        EXPECT_EQ(block.ui32Flags, live.flags);
        EXPECT_EQ(block.ui32Flags & CURSOR_SHOWING, static_cast<DWORD>(CURSOR_SHOWING));
        EXPECT_EQ(block.iHotX, c.iHotX);
        EXPECT_EQ(block.iHotY, c.iHotY);
        const std::vector<uint8_t> colour = refcursor::ColourBitmapOf(c.picture);
        const std::vector<uint8_t> mask = refcursor::MaskBitmapOf(c.picture);
        EXPECT_EQ(block.bColour, colour.empty() ? 0u : 1u);
        EXPECT_EQ(block.bMask, mask.empty() ? 0u : 1u);
        EXPECT_EQ(AreaBytes(View().CursorColorBitmap(), colour.size()), colour);
        EXPECT_EQ(AreaBytes(View().CursorMaskBitmap(), mask.size()), mask);
        // Nothing beyond the DIBs was written: the fill is still there.
        EXPECT_EQ(AreaBytes(View().CursorColorBitmap(), colour.size() + 1).back(), 0xC3);
        EXPECT_EQ(AreaBytes(View().CursorMaskBitmap(), mask.size() + 1).back(), 0xC3);
    }
}

TEST_F(CursorPublisher, SetPictureTakesEffectAtTheNextPublication)
{
    LayOut(host);
    TCursorPublisher publisher(host, TCursorPublisherOptions{TCursorPicture::Colour, 1, 2});
    ASSERT_TRUE(publisher.Start());
    ASSERT_TRUE(publisher.WaitPublished(1, kWaitMs));
    EXPECT_NE(host.Header()->ui64CursorHandle, 0u);
    publisher.SetPicture(TCursorPicture::None);
    publisher.PublishNow();
    ASSERT_TRUE(publisher.WaitPublished(2, kWaitMs));
    EXPECT_EQ(host.Header()->ui64CursorHandle, 0u);
    EXPECT_EQ(host.Header()->bCursorColorBitmap, 0u);
    EXPECT_EQ(host.Header()->bCursorMaskBitmap, 0u);
    publisher.SetPicture(TCursorPicture::Monochrome);
    SignalCursorEvent(host);
    ASSERT_TRUE(publisher.WaitPublished(3, kWaitMs));
    EXPECT_EQ(host.Header()->ui64CursorHandle, KeyOf(LiveCursor().hCursor));
    EXPECT_EQ(host.Header()->bCursorColorBitmap, 0u);
    EXPECT_EQ(host.Header()->bCursorMaskBitmap, 1u);
    const std::vector<uint8_t> mono = refcursor::MonochromeMaskDib();
    EXPECT_EQ(AreaBytes(View().CursorMaskBitmap(), mono.size()), mono);
}

struct OffsetCase {
    const char* name;
    uint64_t ui64Colour;
    uint64_t ui64Mask;
};

// Offsets that a capturer's corrupt layout could hold: the attempt writes nothing, not even the
// fields in the header, and a valid layout afterwards is published again.
TEST_F(CursorPublisher, OffsetsOutsideTheSectionPublishNothing)
{
    LayOut(host);
    TCursorPublisher publisher(host, TCursorPublisherOptions{});
    ASSERT_TRUE(publisher.Start());
    ASSERT_TRUE(publisher.WaitPublished(1, kWaitMs));
    const uint32_t ui32Colour = host.Header()->ui32CursorColorBitmapOffset;
    const uint32_t ui32Mask = host.Header()->ui32CursorMaskBitmapOffset;
    const uint64_t ui64End = host.SectionSize();
    const OffsetCase cases[] = {
        {"colour past the end", ui64End + 4096, ui32Mask},
        {"mask past the end", ui32Colour, ui64End + 4096},
        {"colour area across the end", ui64End - 1000, ui32Mask},
        {"mask at the last byte", ui32Colour, ui64End - 1},
        {"colour inside the header", 1000, ui32Mask},
        {"both at 4 GiB - 1", 0xFFFFFFFFull, 0xFFFFFFFFull},
        {"both zero", 0, 0},
    };
    uint32_t ui32Refusals = 0;
    uint32_t ui32Publications = 1;
    for (const OffsetCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScribbleBlock(host);
        const Block scribbled = ReadBlock(host);
        SetOffsets(host, static_cast<uint32_t>(c.ui64Colour), static_cast<uint32_t>(c.ui64Mask));
        ASSERT_TRUE(publisher.WaitRefused(++ui32Refusals, kWaitMs)) << "the changed offsets were noticed";
        SignalCursorEvent(host);
        ASSERT_TRUE(publisher.WaitRefused(++ui32Refusals, kWaitMs)) << "and an event meets them too";
        EXPECT_EQ(publisher.Publications(), ui32Publications);
        EXPECT_TRUE(ReadBlock(host) == scribbled) << "nothing written";
        SetOffsets(host, ui32Colour, ui32Mask);
        ASSERT_TRUE(publisher.WaitPublished(++ui32Publications, kWaitMs)) << "the valid layout again";
        EXPECT_EQ(host.Header()->bCursorColorBitmap, 1u);
    }
}

// Holds the cursor mutex on a thread of its own until told, as a capturer reading the block does.
class MutexHolder {
public:
    explicit MutexHolder(const std::wstring& name, bool bAbandon) : thread([this, name, bAbandon] { Hold(name, bAbandon); })
    {
    }
    ~MutexHolder()
    {
        ::SetEvent(hRelease.Get());
        if (thread.joinable()) {
            thread.join();
        }
    }
    MutexHolder(const MutexHolder&) = delete;
    MutexHolder& operator=(const MutexHolder&) = delete;

    bool WaitHeld() const { return ::WaitForSingleObject(hHeld.Get(), kWaitMs) == WAIT_OBJECT_0 && bOwned; }
    void Release() { ::SetEvent(hRelease.Get()); }
    void Join() { thread.join(); }

private:
    void Hold(const std::wstring& name, bool bAbandon)
    {
        const TKernelHandle mutex(::OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()));
        const DWORD dwWait = ::WaitForSingleObject(mutex.Get(), kWaitMs);
        bOwned = dwWait == WAIT_OBJECT_0;
        ::SetEvent(hHeld.Get());
        if (bAbandon) {
            return;  // the thread ends owning it: the mutex is abandoned
        }
        ::WaitForSingleObject(hRelease.Get(), kWaitMs);
        ::ReleaseMutex(mutex.Get());
    }

    TKernelHandle hHeld{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    TKernelHandle hRelease{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<bool> bOwned{false};
    std::thread thread;  // last: started once the events exist
};

TEST_F(CursorPublisher, PublicationWaitsForTheCursorMutex)
{
    LayOut(host);
    TCursorPublisher publisher(host, TCursorPublisherOptions{});
    ASSERT_TRUE(publisher.Start());
    ASSERT_TRUE(publisher.WaitPublished(1, kWaitMs));
    MutexHolder holder(options.wsCursorMutexName, false);
    ASSERT_TRUE(holder.WaitHeld());
    ScribbleBlock(host);
    const Block scribbled = ReadBlock(host);
    SignalCursorEvent(host);
    ASSERT_TRUE(WaitEvents(publisher, 1));
    // Longer than one try for the mutex (1 s): a try that failed must not give up the publication.
    EXPECT_FALSE(publisher.WaitPublished(2, 1500)) << "published while the mutex was held";
    EXPECT_TRUE(ReadBlock(host) == scribbled);
    holder.Release();
    ASSERT_TRUE(publisher.WaitPublished(2, kWaitMs));
    EXPECT_EQ(host.Header()->ui64CursorHandle, KeyOf(LiveCursor().hCursor));
}

TEST_F(CursorPublisher, AnAbandonedCursorMutexCountsAsTaken)
{
    LayOut(host);
    MutexHolder holder(options.wsCursorMutexName, true);
    ASSERT_TRUE(holder.WaitHeld());
    holder.Join();
    TCursorPublisher publisher(host, TCursorPublisherOptions{});
    ASSERT_TRUE(publisher.Start());
    ASSERT_TRUE(publisher.WaitPublished(1, kWaitMs));
    EXPECT_EQ(host.Header()->bCursorColorBitmap, 1u);
}

TEST_F(CursorPublisher, StopEndsAWaitForTheMutex)
{
    LayOut(host);
    MutexHolder holder(options.wsCursorMutexName, false);
    ASSERT_TRUE(holder.WaitHeld());
    TCursorPublisher publisher(host, TCursorPublisherOptions{});
    ASSERT_TRUE(publisher.Start());
    publisher.PublishNow();
    const ULONGLONG ullStart = ::GetTickCount64();
    publisher.Stop();
    EXPECT_LT(::GetTickCount64() - ullStart, 10000u);
    EXPECT_EQ(publisher.Publications(), 0u);
    EXPECT_EQ(publisher.Refusals(), 0u);
}

TEST(CursorPublisherObjects, WithoutCursorEventAndMutexItPublishesUnguarded)
{
    TRefHostOptions options;
    options.Omit(THostObject::CursorEvent);
    options.Omit(THostObject::CursorMutex);
    TRefHost host;
    std::wstring error;
    ASSERT_TRUE(host.CreateObjects(options, &error)) << Narrow(error);
    LayOut(host);
    TCursorPublisher publisher(host, TCursorPublisherOptions{TCursorPicture::Monochrome, 0, 0});
    ASSERT_TRUE(publisher.Start());
    EXPECT_FALSE(publisher.Start()) << "runs already";
    ASSERT_TRUE(publisher.WaitPublished(1, kWaitMs));
    publisher.PublishNow();
    ASSERT_TRUE(publisher.WaitPublished(2, kWaitMs));
    EXPECT_EQ(publisher.EventsReceived(), 0u);
    EXPECT_EQ(host.Header()->bCursorMaskBitmap, 1u);
    publisher.Stop();
    publisher.Stop();  // a second stop is harmless
    ASSERT_TRUE(publisher.Start()) << "started again";
    publisher.PublishNow();
    EXPECT_TRUE(publisher.WaitPublished(3, kWaitMs));
}

TEST(CursorPublisherObjects, NoSectionNoStart)
{
    TRefHostOptions options;
    options.Omit(THostObject::FrameBuffer);
    TRefHost host;
    std::wstring error;
    ASSERT_TRUE(host.CreateObjects(options, &error)) << Narrow(error);
    TCursorPublisher publisher(host, TCursorPublisherOptions{});
    EXPECT_FALSE(publisher.Start());
    publisher.PublishNow();  // harmless without a thread
    EXPECT_EQ(publisher.Publications(), 0u);
}

}  // namespace
