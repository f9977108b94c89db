// The header the host writes, read back as raw bytes through a second mapping of the section (as
// the capturer maps it): each setting at its byte offset, and every other header byte zero.
#include "RefHostTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace refhost_test;

struct TField {
    size_t offset;
    std::vector<uint8_t> bytes;
};

std::vector<uint8_t> LittleEndian(uint32_t value)
{
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 24)};
}

std::vector<uint8_t> Int32s(std::initializer_list<int32_t> values)
{
    std::vector<uint8_t> bytes;
    for (int32_t value : values) {
        const std::vector<uint8_t> one = LittleEndian(static_cast<uint32_t>(value));
        bytes.insert(bytes.end(), one.begin(), one.end());
    }
    return bytes;
}

// UTF-16LE units and the terminator; the rest of the 520-byte field is zero anyway.
std::vector<uint8_t> Utf16z(const std::wstring& text)
{
    std::vector<uint8_t> bytes;
    for (wchar_t unit : text) {
        bytes.push_back(static_cast<uint8_t>(unit));
        bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(unit) >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

struct HeaderCase {
    const char* name;
    TRefHostOptions options;
    std::vector<TField> fields;  // every non-zero byte of the header lies in one of these
};

TRefHostOptions CustomOptions()
{
    TRefHostOptions options;
    options.wsInstanceMutexName = L"Instance\u00e9Name";
    options.ui32CaptureMethod = 0;
    options.captureRegion = THooksRect{-1920, -8, 1280, 1032};
    options.wsMonitorName = L"\\\\.\\DISPLAY2";
    options.iRequestedWidth = 1280;
    options.iRequestedHeight = 720;
    options.iMaxWidth = 2560;
    options.iMaxHeight = 1441;
    options.bStretch = true;
    options.bDontMirrorFrames = true;
    options.bCaptureEnabled = false;
    options.bDrawMouseCursor = true;
    options.bSuppressOverlayCommand = true;
    options.wsCursorEventName = L"Cursor\u00c9vent";
    options.wsCursorMutexName = L"CursorMutex";
    return options;
}

std::vector<HeaderCase> Cases()
{
    return {
        {"defaults",
         TRefHostOptions{},
         {{8, Int32s({-1, -1})},
          {32, Int32s({1920, 1080})},
          {624, {1}},
          {26688, Utf16z(L"ZYRRefHostCaptureFrameInstance67777777773")},
          {197004, LittleEndian(1)},
          {197546, Utf16z(L"ZYRRefHostCursorEvent-" + std::to_wstring(::GetCurrentProcessId()))},
          {198066, Utf16z(L"ZYRRefHostCursorMutex-" + std::to_wstring(::GetCurrentProcessId()))}}},
        {"custom",
         CustomOptions(),
         {{8, Int32s({1280, 720})},
          {28, {1}},
          {32, Int32s({2560, 1441})},
          {680, {1}},
          {26688, Utf16z(L"Instance\u00e9Name")},
          {27393, {1}},
          {27496, {1}},
          {197004, LittleEndian(0)},
          {197008, Int32s({-1920, -8, 1280, 1032})},
          {197024, Utf16z(L"\\\\.\\DISPLAY2")},
          {197546, Utf16z(L"Cursor\u00c9vent")},
          {198066, Utf16z(L"CursorMutex")}}},
    };
}

void PrintTo(const HeaderCase& c, std::ostream* pStream)
{
    *pStream << c.name;
}

class HostHeader : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HostHeader, FieldsLandAtTheirOffsetsAndNothingElseIsWritten)
{
    const HeaderCase& c = GetParam();
    TRefHost host;
    std::wstring error;
    ASSERT_TRUE(host.CreateObjects(c.options, &error)) << Narrow(error);

    const TKernelHandle mapping(::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, kFrameBufferMappingName));
    ASSERT_TRUE(mapping.IsValid());
    const TMappedView view(::MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, kFrameBufferHeaderSize),
                           kFrameBufferHeaderSize);
    ASSERT_TRUE(view);
    ASSERT_NE(view.Get(), static_cast<void*>(host.Header())) << "a second view, not the host's";

    std::vector<uint8_t> expected(kFrameBufferHeaderSize, 0);
    for (const TField& field : c.fields) {
        ASSERT_LE(field.offset + field.bytes.size(), expected.size());
        std::memcpy(expected.data() + field.offset, field.bytes.data(), field.bytes.size());
    }
    for (const TField& field : c.fields) {
        SCOPED_TRACE("field at " + std::to_string(field.offset));
        EXPECT_EQ(std::vector<uint8_t>(view.Bytes() + field.offset, view.Bytes() + field.offset + field.bytes.size()),
                  field.bytes);
    }
    size_t differences = 0;
    for (size_t i = 0; i < kFrameBufferHeaderSize; ++i) {
        if (view.Bytes()[i] != expected[i] && ++differences <= 5) {
            ADD_FAILURE() << "byte " << i << " is " << int(view.Bytes()[i]) << ", expected " << int(expected[i]);
        }
    }
    EXPECT_EQ(differences, 0u);
}

INSTANTIATE_TEST_SUITE_P(Options, HostHeader, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<HeaderCase>& paramInfo) { return std::string(paramInfo.param.name); });

TEST(HostSection, HasTheAskedSizeAndTheHostViewCoversIt)
{
    TRefHostOptions options;
    options.ui64SectionSize = 3 * 1024 * 1024 + 4096;
    TRefHost host;
    std::wstring error;
    ASSERT_TRUE(host.CreateObjects(options, &error)) << Narrow(error);
    ASSERT_NE(host.Header(), nullptr);
    // The last byte of the section is writable through the host's view and seen by a second one.
    uint8_t* pLast = reinterpret_cast<uint8_t*>(host.Header()) + options.ui64SectionSize - 1;
    *pLast = 0x5A;
    const TKernelHandle mapping(::OpenFileMappingW(FILE_MAP_READ, FALSE, kFrameBufferMappingName));
    ASSERT_TRUE(mapping.IsValid());
    const TMappedView view(::MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 0), 0);
    ASSERT_TRUE(view);
    MEMORY_BASIC_INFORMATION info{};
    ASSERT_NE(::VirtualQuery(view.Get(), &info, sizeof info), 0u);
    EXPECT_GE(info.RegionSize, options.ui64SectionSize);
    EXPECT_LT(info.RegionSize, options.ui64SectionSize + 65536) << "the section is not larger than asked";
    EXPECT_EQ(view.Bytes()[options.ui64SectionSize - 1], 0x5A);
}

TEST(HostSection, TheHostsHeaderPointerIsTheSectionStart)
{
    TRefHostOptions options;
    options.iRequestedWidth = 640;
    TRefHost host;
    std::wstring error;
    ASSERT_TRUE(host.CreateObjects(options, &error)) << Narrow(error);
    ASSERT_NE(host.Header(), nullptr);
    EXPECT_EQ(host.Header()->iRequestedWidth, 640);
    host.Header()->iSingleFrameState = 1;
    const TKernelHandle mapping(::OpenFileMappingW(FILE_MAP_READ, FALSE, kFrameBufferMappingName));
    const TMappedView view(::MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, kFrameBufferHeaderSize),
                           kFrameBufferHeaderSize);
    ASSERT_TRUE(view);
    EXPECT_EQ(std::vector<uint8_t>(view.Bytes() + 27500, view.Bytes() + 27504), LittleEndian(1));
}

}  // namespace
