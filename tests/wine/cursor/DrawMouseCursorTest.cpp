// The cursor drawer against the real platform: the live pointer over the scene, icons made from
// the DIBs a host publishes, real pixels of frames in both row orders, the host's named mutex and
// event, and the lines the drawer logs.
#include "CursorTestSupport.h"
#include "ProcessLogServer.h"
#include "SceneTestSupport.h"

#include "cursor/TDrawMouseCursor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>

namespace {

using cursortest::CursorHost;
using cursortest::PointAt;
using refcursor::TCursorPicture;

const std::string kIconError = "TDrawMouseCursor::DrawCursor CreateIconIndirect error ";

// Coordinates in blue and green, red below 0x40: never a cursor's colour.
uint32_t Background(int32_t x, int32_t y)
{
    return static_cast<uint32_t>((x & 0xFF) | (y & 0xFF) << 8 | ((x >> 8 & 3) | (y >> 8 & 3) << 2) << 16);
}

// A 320 x 240 frame of the background.
struct Frame {
    explicit Frame(bool bTopDown) : image{reinterpret_cast<uint8_t*>(pixels.data()), 320, 240, 320 * 4, bTopDown}
    {
        for (int32_t y = 0; y < 240; ++y) {
            for (int32_t x = 0; x < 320; ++x) {
                image.At(x, y) = Background(x, y);
            }
        }
    }
    ::testing::AssertionResult Shows(TCursorPicture picture, int32_t left, int32_t top) const
    {
        return cursortest::ShowsCursorAt(image, Background, picture, left, top, 32, 32);
    }
    ::testing::AssertionResult ShowsNothing() const
    {
        return cursortest::ShowsCursorAt(image, Background, TCursorPicture::Colour, 0, 0, 0, 0);
    }

    std::vector<uint32_t> pixels = std::vector<uint32_t>(320 * 240);
    cursortest::Image image;
};

class DrawMouseCursor : public ::testing::Test {
protected:
    static void SetUpTestSuite() { pScene = scenetest::StartSuiteScene(scene::Pattern::Coords); }
    static void TearDownTestSuite() { scenetest::QuitSuiteScene(pScene); }
    void SetUp() override { ASSERT_NE(pScene, nullptr); }

    // On a thread of its own, as the capture thread draws: the test thread can hold the host's
    // mutex meanwhile (a mutex is recursive for its owner thread).
    static void Draw(TDrawMouseCursor& drawer, Frame& frame)
    {
        const cursortest::Image& i = frame.image;
        std::thread([&] { drawer.DrawCursor(i.pData, i.iWidth, i.iHeight, i.ui32Stride, 0, 0, i.bTopDown, 1.0, 1.0); })
            .join();
    }
    // The pointer at `at`, and the host publishing the live cursor there: the returned handle (0
    // after a failure).
    static uint64_t PublishLive(const CursorHost& host, POINT at, POINT hotspot, TCursorPicture picture)
    {
        const uint64_t handle = PointAt(at);
        if (handle != 0) {
            host.Publish(handle, at, hotspot, picture);
        }
        return handle;
    }
    size_t Count(const std::string& part) const
    {
        const std::vector<std::string> texts = TextsSince(mark);
        return static_cast<size_t>(std::count_if(texts.begin(), texts.end(), [&](const std::string& text) {
            return text.find(part) != std::string::npos;
        }));
    }

    static std::unique_ptr<scenetest::SceneRun> pScene;
    size_t mark = LogMark();
};

std::unique_ptr<scenetest::SceneRun> DrawMouseCursor::pScene;

TEST_F(DrawMouseCursor, MissAsksTheHostOnceAndHitDrawsTheCachedPictureAtTheLivePointerWithoutLock)
{
    for (const TCursorPicture picture : {TCursorPicture::Colour, TCursorPicture::Monochrome}) {
        SCOPED_TRACE(refcursor::CursorPictureName(picture));
        mark = LogMark();
        CursorHost host;
        const uint64_t handle = PublishLive(host, POINT{100, 80}, POINT{2, 3}, picture);
        ASSERT_NE(0u, handle);
        TDrawMouseCursor drawer(host.View());
        Frame bottomUp(false);
        Draw(drawer, bottomUp);
        EXPECT_TRUE(bottomUp.Shows(picture, 98, 77));
        EXPECT_TRUE(host.TakeEvent()) << "a miss asks the host";

        // The host holds its mutex, its block says something else, the pointer moved.
        const TCursorPicture other =
            picture == TCursorPicture::Colour ? TCursorPicture::Monochrome : TCursorPicture::Colour;
        host.Publish(handle, POINT{0, 0}, POINT{0, 0}, other);
        ASSERT_NE(0u, PointAt(POINT{200, 150}));
        ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(host.Mutex(), 0));
        Frame topDown(true);
        Draw(drawer, topDown);
        ::ReleaseMutex(host.Mutex());
        // Top-down rows: the cursor covers image rows y + 1 .. y + 32.
        EXPECT_TRUE(topDown.Shows(picture, 198, 148)) << "cached picture and hot spot, live position";
        EXPECT_FALSE(host.TakeEvent()) << "a hit asks nothing";
        EXPECT_EQ(1u, drawer.CachedCursors());
        EXPECT_EQ(1u, Count(" inserted in the cache"));
        EXPECT_EQ(0u, Count("TZYRMutex::Unlock ReleaseMutex error"));
    }
}

struct NoCursorCase {
    const char* name;
    TCursorPicture picture;
    bool bHeld, bUntrusted;
    std::vector<std::string> lines;  // error lines of the frame besides the failed icon's
};

TEST_F(DrawMouseCursor, HeldMutexCostsThatFrameItsCursorAndHandle0OrAnUntrustedBlockBuildsNothing)
{
    const NoCursorCase cases[] = {
        // The lock that timed out is still released, and that fails once.
        {"mutex held past 200 ms", TCursorPicture::Colour, true, false, {"TZYRMutex::Unlock ReleaseMutex error "}},
        {"handle 0 published", TCursorPicture::None, false, false, {}},
        // The colour area lies past the end of the frame buffer; the mask DIB claims 4096 x 4096
        // pixels (2 MiB at 1 bit), more than its 512 KiB area holds.
        {"untrusted block", TCursorPicture::Colour, false, true,
         {"TDrawMouseCursor::DrawCursor the cursor colour bitmap area lies outside",
          "TZYRWindowsBitmap::CreateBitmapFromMemory the bitmap (4096x4096"}},
    };
    for (const NoCursorCase& c : cases) {
        SCOPED_TRACE(c.name);
        mark = LogMark();
        CursorHost host;
        ASSERT_NE(0u, PublishLive(host, POINT{60, 50}, POINT{0, 0}, c.picture));
        if (c.bUntrusted) {
            host.Header().ui32CursorColorBitmapOffset = 0xFFFFFF00u;
            const uint32_t side = 4096;
            uint8_t* pMask = reinterpret_cast<uint8_t*>(&host.Header()) + host.Header().ui32CursorMaskBitmapOffset;
            std::memcpy(pMask + 4, &side, 4);
            std::memcpy(pMask + 8, &side, 4);
        }
        TDrawMouseCursor drawer(host.View());
        Frame frame(false);
        ASSERT_TRUE(!c.bHeld || ::WaitForSingleObject(host.Mutex(), 0) == WAIT_OBJECT_0);
        Draw(drawer, frame);
        if (c.bHeld) {
            ::ReleaseMutex(host.Mutex());
        }
        EXPECT_TRUE(frame.ShowsNothing());
        EXPECT_TRUE(host.TakeEvent());
        EXPECT_EQ(0u, drawer.CachedCursors());
        EXPECT_EQ(1u, Count(kIconError));
        for (const std::string& line : c.lines) {
            EXPECT_EQ(1u, Count(line)) << line;
        }
        // The next frame: a held mutex cost one frame only.
        Draw(drawer, frame);
        EXPECT_TRUE(c.bHeld ? frame.Shows(TCursorPicture::Colour, 60, 50) : frame.ShowsNothing());
        EXPECT_EQ(c.bHeld ? 1u : 0u, drawer.CachedCursors());
    }
}

}  // namespace
