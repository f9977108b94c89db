// What the frame tests share: a sink that keeps every frame, the fake capturer's pattern as a
// whole picture, and a picture comparison that names the first difference.
#pragma once

#include "FakeCapturer.h"
#include "FramePump.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace refhost_test {

// Generous bound of a frame wait under Wine on a loaded two-core machine.
constexpr uint32_t kFrameWaitMs = 30000;

struct TCollectedFrame {
    uint32_t ui32Index = 0;
    uint32_t ui32Slot = 0;
    uint32_t ui32Timestamp = 0;
    TFrameTiming timing;
    TFramePicture picture;
};

class TCollectingSink : public IFrameSink {
public:
    bool Consume(const TDeliveredFrame& frame, std::string*) override
    {
        vecFrames.push_back(TCollectedFrame{frame.ui32Index, frame.ui32Slot, frame.ui32Timestamp, frame.timing, frame.picture});
        return true;
    }
    std::vector<TCollectedFrame> vecFrames;
};

inline TFramePicture PatternPicture(uint32_t width, uint32_t height, uint32_t frame)
{
    TFramePicture picture;
    picture.ui32Width = width;
    picture.ui32Height = height;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            picture.vecPixels.push_back(TFakeCapturer::PatternPixel(x, y, frame));
        }
    }
    return picture;
}

// Success when both pictures have the same size and pixels; otherwise the first difference.
inline ::testing::AssertionResult SamePicture(const TFramePicture& actual, const TFramePicture& expected)
{
    if (actual.ui32Width != expected.ui32Width || actual.ui32Height != expected.ui32Height ||
        actual.vecPixels.size() != expected.vecPixels.size()) {
        return ::testing::AssertionFailure() << "size " << actual.ui32Width << "x" << actual.ui32Height << " ("
                                             << actual.vecPixels.size() << " pixels), expected " << expected.ui32Width
                                             << "x" << expected.ui32Height;
    }
    for (size_t i = 0; i < actual.vecPixels.size(); ++i) {
        if (actual.vecPixels[i] != expected.vecPixels[i]) {
            return ::testing::AssertionFailure() << "pixel (" << i % actual.ui32Width << ", " << i / actual.ui32Width
                                                 << ") is 0x" << std::hex << actual.vecPixels[i] << ", expected 0x"
                                                 << expected.vecPixels[i];
        }
    }
    return ::testing::AssertionSuccess();
}

// A directory of its own under the temporary directory, removed with its files at the end.
class TTemporaryDirectory {
public:
    TTemporaryDirectory()
    {
        wchar_t base[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, base);
        wsPath = std::wstring(base) + L"zyr_refhost_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
                 std::to_wstring(++counter);
        ::CreateDirectoryW(wsPath.c_str(), nullptr);
    }
    ~TTemporaryDirectory()
    {
        WIN32_FIND_DATAW data{};
        HANDLE hFind = ::FindFirstFileW((wsPath + L"\\*").c_str(), &data);
        if (hFind != INVALID_HANDLE_VALUE) {
            do {
                ::DeleteFileW((wsPath + L"\\" + data.cFileName).c_str());
            } while (::FindNextFileW(hFind, &data));
            ::FindClose(hFind);
        }
        ::RemoveDirectoryW(wsPath.c_str());
    }
    TTemporaryDirectory(const TTemporaryDirectory&) = delete;
    TTemporaryDirectory& operator=(const TTemporaryDirectory&) = delete;

    const std::wstring& Path() const { return wsPath; }
    std::wstring File(const std::string& name) const { return wsPath + L"\\" + std::wstring(name.begin(), name.end()); }

private:
    static inline int counter = 0;
    std::wstring wsPath;
};

// The whole file, or an empty vector when it cannot be read.
inline std::vector<uint8_t> ReadWholeFile(const std::wstring& path)
{
    TFileHandle hFile(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size{};
    if (!hFile || !::GetFileSizeEx(hFile.Get(), &size) || size.QuadPart > (1 << 30)) {
        return {};
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(size.QuadPart));
    DWORD dwRead = 0;
    if (!bytes.empty() && (!::ReadFile(hFile.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &dwRead, nullptr) ||
                           dwRead != bytes.size())) {
        return {};
    }
    return bytes;
}

}  // namespace refhost_test
