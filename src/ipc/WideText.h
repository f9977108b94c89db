// Conversions at the Windows edge between wchar_t strings (16-bit on Windows) and the char16_t
// strings of the platform-free core.
#pragma once

#include <string>

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 units");

inline std::u16string ToU16(const std::wstring& text)
{
    return std::u16string(text.begin(), text.end());
}

inline std::wstring ToWide(const std::u16string& text)
{
    return std::wstring(text.begin(), text.end());
}
