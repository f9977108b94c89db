#include "CursorTestSupport.h"

#include "ipc/WideText.h"

#include <atomic>
#include <cstring>
#include <sstream>

namespace cursortest {

CursorHost::CursorHost(uint8_t* pSection, uint64_t ui64SectionSize)
    : block(pSection ? 0 : kFirstImageAreaOffset + 2 * kCursorBitmapAreaSize),
      pBytes(pSection ? pSection : block.data()),
      ui64Size(pSection ? ui64SectionSize : block.size())
{
    static std::atomic<uint32_t> counter{0};
    const std::wstring name = L"ZYRCursorTest" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
                              std::to_wstring(counter.fetch_add(1));
    hMutex.Reset(::CreateMutexW(nullptr, FALSE, (name + L"Mutex").c_str()));
    hEvent.Reset(::CreateEventW(nullptr, FALSE, FALSE, (name + L"Event").c_str()));
    EXPECT_TRUE(hMutex && hEvent);
    WriteHeaderWideString(Header(), ZYR_WIDE_FIELD(wszCursorMutexName), ToU16(name + L"Mutex"));
    WriteHeaderWideString(Header(), ZYR_WIDE_FIELD(wszCursorEventName), ToU16(name + L"Event"));
    if (!pSection) {
        Header().ui32CursorColorBitmapOffset = kFirstImageAreaOffset;
        Header().ui32CursorMaskBitmapOffset = kFirstImageAreaOffset + kCursorBitmapAreaSize;
    }
}

void CursorHost::Publish(uint64_t ui64Handle, POINT position, POINT hotspot, refcursor::TCursorPicture picture) const
{
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(hMutex.Get(), kWaitMs));
    TFrameBufferHeader& header = Header();
    const std::vector<uint8_t> colour = refcursor::ColourBitmapOf(picture);
    const std::vector<uint8_t> mask = refcursor::MaskBitmapOf(picture);
    header.ui64CursorHandle = mask.empty() ? 0 : ui64Handle;
    header.iCursorX = position.x;
    header.iCursorY = position.y;
    header.ui32CursorFlags = CURSOR_SHOWING;
    header.iCursorHotspotX = hotspot.x;
    header.iCursorHotspotY = hotspot.y;
    header.bCursorColorBitmap = colour.empty() ? 0 : 1;
    header.bCursorMaskBitmap = mask.empty() ? 0 : 1;
    for (const auto& [area, dib] : {std::pair{View().CursorColorBitmap(), colour}, {View().CursorMaskBitmap(), mask}}) {
        EXPECT_TRUE(area.IsValid() && area.ui64Size >= dib.size());
        if (area.IsValid() && area.ui64Size >= dib.size() && !dib.empty()) {
            std::memcpy(area.pData, dib.data(), dib.size());
        }
    }
    ::ReleaseMutex(hMutex.Get());
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

::testing::AssertionResult ShowsCursorAt(const Image& image, const std::function<uint32_t(int32_t, int32_t)>& backdrop,
                                         refcursor::TCursorPicture picture, int32_t left, int32_t top, int32_t columns,
                                         int32_t rows)
{
    size_t mismatches = 0;
    std::ostringstream first;
    for (int32_t y = 0; y < image.iHeight; ++y) {
        for (int32_t x = 0; x < image.iWidth; ++x) {
            const int32_t cx = x - left;
            const int32_t cy = y - top;
            const bool inside = cx >= 0 && cx < columns && cy >= 0 && cy < rows;
            const uint32_t back = backdrop(x, y);
            const uint32_t expected = inside ? refcursor::ExpectedPixel(picture, cx, cy, back) : back;
            if (((expected ^ image.At(x, y)) & refcursor::kRgbMask) != 0 && mismatches++ == 0) {
                first << " first (" << x << ", " << y << "): 0x" << std::hex << image.At(x, y) << " not 0x" << expected;
            }
        }
    }
    return ::testing::AssertionResult(mismatches == 0) << mismatches << " pixels differ," << first.str();
}

}  // namespace cursortest
