// The built capturer as a file: GUI subsystem, and the manifest embedded as resource 1 of type
// RT_MANIFEST with administrator rights, PerMonitorV2 DPI awareness and Windows 10 compatibility.
#include "EndToEndSupport.h"

#include <string>

namespace {

TEST(CapturerExecutable, IsAGuiProgramWithItsManifestEmbedded)
{
    const std::wstring path = CapturerPath();
    HMODULE hImage = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(hImage, nullptr) << "error " << ::GetLastError();
    HRSRC hResource = ::FindResourceW(hImage, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(hResource, nullptr) << "no RT_MANIFEST resource 1";
    const DWORD size = ::SizeofResource(hImage, hResource);
    const char* data = static_cast<const char*>(::LockResource(::LoadResource(hImage, hResource)));
    ASSERT_NE(data, nullptr);
    const std::string manifest(data, size);
    EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos);
    EXPECT_NE(manifest.find(">PerMonitorV2<"), std::string::npos);
    EXPECT_NE(manifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos) << "Windows 10";
    ::FreeLibrary(hImage);

    // The subsystem field of the PE optional header.
    HANDLE hFile = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hFile, INVALID_HANDLE_VALUE);
    TFileHandle file(hFile);
    char header[4096];
    DWORD read = 0;
    ASSERT_TRUE(::ReadFile(file.Get(), header, sizeof header, &read, nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(header);
    ASSERT_EQ(dos->e_magic, IMAGE_DOS_SIGNATURE);
    ASSERT_LT(static_cast<DWORD>(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS64), read);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(header + dos->e_lfanew);
    EXPECT_EQ(nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
}

}  // namespace
