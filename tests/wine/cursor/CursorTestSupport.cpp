#include "CursorTestSupport.h"

#include "framebuffer/TFrameBufferHeader.h"
#include "ipc/WideText.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <sstream>

namespace cursortest {

namespace {

std::wstring UniqueName(const wchar_t* kind)
{
    static std::atomic<uint32_t> counter{0};
    return std::wstring(L"ZYRCursorTest") + kind + std::to_wstring(::GetCurrentProcessId()) + L"_" +
           std::to_wstring(counter.fetch_add(1));
}

void WriteArea(const TAreaView& area, const std::vector<uint8_t>& dib)
{
    ASSERT_TRUE(area.IsValid() && area.ui64Size >= dib.size());
    std::memcpy(area.pData, dib.data(), dib.size());
}

}  // namespace

CursorHost::CursorHost()
    : ui64Size(kFirstImageAreaOffset + 2ull * kCursorBitmapAreaSize), block(new uint8_t[ui64Size]()),
      pBytes(block.get())
{
    CreateObjects();
    Header().ui32CursorColorBitmapOffset = kFirstImageAreaOffset;
    Header().ui32CursorMaskBitmapOffset = kFirstImageAreaOffset + kCursorBitmapAreaSize;
}

CursorHost::CursorHost(uint8_t* pSection, uint64_t ui64SectionSize) : ui64Size(ui64SectionSize), pBytes(pSection)
{
    CreateObjects();
}

void CursorHost::CreateObjects()
{
    const std::wstring mutexName = UniqueName(L"Mutex");
    const std::wstring eventName = UniqueName(L"Event");
    hMutex.Reset(::CreateMutexW(nullptr, FALSE, mutexName.c_str()));
    hEvent.Reset(::CreateEventW(nullptr, FALSE, FALSE, eventName.c_str()));
    EXPECT_TRUE(hMutex && hEvent);
    TFrameBufferHeader& header = Header();
    WriteHeaderWideString(header, ZYR_WIDE_FIELD(wszCursorMutexName), ToU16(mutexName));
    WriteHeaderWideString(header, ZYR_WIDE_FIELD(wszCursorEventName), ToU16(eventName));
}

void CursorHost::Publish(uint64_t ui64Handle, POINT position, POINT hotspot, refcursor::TCursorPicture picture) const
{
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(hMutex.Get(), kWaitMs));
    TFrameBufferHeader& header = Header();
    const bool bNone = picture == refcursor::TCursorPicture::None;
    header.ui64CursorHandle = bNone ? 0 : ui64Handle;
    header.iCursorX = position.x;
    header.iCursorY = position.y;
    header.ui32CursorFlags = CURSOR_SHOWING;
    header.iCursorHotspotX = hotspot.x;
    header.iCursorHotspotY = hotspot.y;
    header.bCursorColorBitmap = picture == refcursor::TCursorPicture::Colour ? 1 : 0;
    header.bCursorMaskBitmap = bNone ? 0 : 1;
    if (picture == refcursor::TCursorPicture::Colour) {
        WriteArea(View().CursorColorBitmap(), refcursor::ColourDib());
        WriteArea(View().CursorMaskBitmap(), refcursor::ColourMaskDib());
    } else if (picture == refcursor::TCursorPicture::Monochrome) {
        WriteArea(View().CursorMaskBitmap(), refcursor::MonochromeMaskDib());
    }
    ::ReleaseMutex(hMutex.Get());
}

bool CursorHost::TakeEvent() const
{
    return ::WaitForSingleObject(hEvent.Get(), 0) == WAIT_OBJECT_0;
}

void CursorHost::HoldMutex()
{
    struct Holder {
        HANDLE hMutex;
        HANDLE hRelease;
        HANDLE hHeld;
    };
    hHolderRelease.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    TKernelHandle hHeld(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    Holder holder{hMutex.Get(), hHolderRelease.Get(), hHeld.Get()};
    auto proc = [](void* p) -> DWORD {
        const Holder h = *static_cast<Holder*>(p);
        const bool bHeld = ::WaitForSingleObject(h.hMutex, kWaitMs) == WAIT_OBJECT_0;
        ::SetEvent(h.hHeld);
        ::WaitForSingleObject(h.hRelease, kWaitMs);
        if (bHeld) {
            ::ReleaseMutex(h.hMutex);
        }
        return 0;
    };
    hHolderThread.Reset(::CreateThread(nullptr, 0, proc, &holder, 0, nullptr));
    ASSERT_TRUE(hHolderThread);
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(hHeld.Get(), kWaitMs));
}

void CursorHost::ReleaseMutex()
{
    ::SetEvent(hHolderRelease.Get());
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(hHolderThread.Get(), kWaitMs));
    hHolderThread.Reset();
}

uint64_t PointAt(POINT position)
{
    if (!::SetCursorPos(position.x, position.y)) {
        ADD_FAILURE() << "SetCursorPos error " << ::GetLastError();
        return 0;
    }
    // The scene's thread sets its class cursor when it sees the pointer: wait for it.
    const ULONGLONG deadline = ::GetTickCount64() + kWaitMs;
    CURSORINFO info{};
    do {
        info = CURSORINFO{};
        info.cbSize = sizeof(info);
        if (::GetCursorInfo(&info) && info.hCursor != nullptr && (info.flags & CURSOR_SHOWING) != 0 &&
            info.ptScreenPos.x == position.x && info.ptScreenPos.y == position.y) {
            return static_cast<uint64_t>(reinterpret_cast<intptr_t>(info.hCursor));
        }
        ::Sleep(1);
    } while (::GetTickCount64() < deadline);
    ADD_FAILURE() << "no visible cursor at (" << position.x << ", " << position.y << "): handle " << info.hCursor
                  << ", flags " << info.flags << ", at (" << info.ptScreenPos.x << ", " << info.ptScreenPos.y << ")";
    return 0;
}

uint32_t Background(int32_t x, int32_t y)
{
    return static_cast<uint32_t>((x & 0xFF) | (y & 0xFF) << 8 | ((x >> 8 & 3) | (y >> 8 & 3) << 2) << 16);
}

Frame::Frame(int32_t width, int32_t height, bool topDown)
    : iWidth(width), iHeight(height), bTopDown(topDown), pixels(static_cast<size_t>(width) * height)
{
    FillBackground();
}

uint32_t& Frame::At(int32_t x, int32_t y)
{
    const int32_t row = bTopDown ? y : iHeight - 1 - y;
    return pixels[static_cast<size_t>(row) * iWidth + x];
}

uint32_t Frame::At(int32_t x, int32_t y) const
{
    return const_cast<Frame*>(this)->At(x, y);
}

void Frame::FillBackground()
{
    for (int32_t y = 0; y < iHeight; ++y) {
        for (int32_t x = 0; x < iWidth; ++x) {
            At(x, y) = Background(x, y);
        }
    }
}

::testing::AssertionResult ShowsCursorAt(const Frame& frame, refcursor::TCursorPicture picture, int32_t left,
                                         int32_t top, int32_t columns)
{
    size_t mismatches = 0;
    std::ostringstream first;
    for (int32_t y = 0; y < frame.Height(); ++y) {
        for (int32_t x = 0; x < frame.Width(); ++x) {
            const int32_t cx = x - left;
            const int32_t cy = y - top;
            const bool inside = cx >= 0 && cx < columns && cy >= 0 && cy < refcursor::kCursorSize;
            const uint32_t expected =
                inside ? refcursor::ExpectedPixel(picture, cx, cy, Background(x, y)) : Background(x, y);
            if (((expected ^ frame.At(x, y)) & refcursor::kRgbMask) != 0 && mismatches++ < 4) {
                first << " (" << x << ", " << y << "): 0x" << std::hex << frame.At(x, y) << " instead of 0x"
                      << expected << std::dec << (inside ? " in the cursor" : " outside") << ";";
            }
        }
    }
    if (mismatches == 0) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << mismatches << " pixels differ:" << first.str();
}

RECT ChangedArea(const Frame& frame)
{
    RECT area{frame.Width(), frame.Height(), 0, 0};
    for (int32_t y = 0; y < frame.Height(); ++y) {
        for (int32_t x = 0; x < frame.Width(); ++x) {
            if (((frame.At(x, y) ^ Background(x, y)) & refcursor::kRgbMask) != 0) {
                area.left = std::min<LONG>(area.left, x);
                area.top = std::min<LONG>(area.top, y);
                area.right = std::max<LONG>(area.right, x + 1);
                area.bottom = std::max<LONG>(area.bottom, y + 1);
            }
        }
    }
    return area.right == 0 ? RECT{0, 0, 0, 0} : area;
}

}  // namespace cursortest
