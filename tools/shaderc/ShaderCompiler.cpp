#include "ShaderCompiler.h"

#include <wrl/client.h>

#include <cstdio>

using Microsoft::WRL::ComPtr;

TShaderCompiler::TShaderCompiler()
{
    hCompilerModule = TModule(::LoadLibraryW(L"d3dcompiler_47.dll"));
    if (!hCompilerModule) {
        dwLoadError = ::GetLastError();
        return;
    }
    // GetProcAddress answers a generic FARPROC; the cast through void* names the real signature.
    pfnD3DCompile = reinterpret_cast<pD3DCompile>(
        reinterpret_cast<void*>(::GetProcAddress(hCompilerModule.Get(), "D3DCompile")));
    if (pfnD3DCompile == nullptr) {
        dwLoadError = ::GetLastError();
    }
}

bool TShaderCompiler::Compile(const std::string& source, const std::string& sourceName,
                              const std::string& entryPoint, const std::string& profile,
                              std::vector<uint8_t>* pBytecode, std::string* pMessages) const
{
    pBytecode->clear();
    pMessages->clear();
    if (pfnD3DCompile == nullptr) {
        *pMessages = "d3dcompiler_47.dll is not loaded (error " + std::to_string(dwLoadError) + ")";
        return false;
    }
    ComPtr<ID3DBlob> pCode;
    ComPtr<ID3DBlob> pErrors;
    const HRESULT hr = pfnD3DCompile(source.data(), source.size(), sourceName.c_str(), nullptr,
                                     D3D_COMPILE_STANDARD_FILE_INCLUDE,
                                     entryPoint.c_str(), profile.c_str(), kShaderCompileFlags, 0,
                                     pCode.GetAddressOf(), pErrors.GetAddressOf());
    if (pErrors != nullptr) {
        pMessages->assign(static_cast<const char*>(pErrors->GetBufferPointer()), pErrors->GetBufferSize());
    }
    if (hr != S_OK || pCode == nullptr) {
        char code[32];
        std::snprintf(code, sizeof(code), "D3DCompile error %lx", static_cast<unsigned long>(hr));
        *pMessages = pMessages->empty() ? std::string(code) : std::string(code) + ":\n" + *pMessages;
        return false;
    }
    const auto* pBytes = static_cast<const uint8_t*>(pCode->GetBufferPointer());
    pBytecode->assign(pBytes, pBytes + pCode->GetBufferSize());
    return true;
}

bool TShaderCompiler::CompileFile(const std::wstring& path, const std::string& entryPoint,
                                  const std::string& profile, std::vector<uint8_t>* pBytecode,
                                  std::string* pMessages) const
{
    std::string source;
    DWORD dwError = 0;
    if (!ReadWholeFile(path, &source, &dwError)) {
        pBytecode->clear();
        *pMessages = "cannot read " + Utf8(path) + ": error " + std::to_string(dwError);
        return false;
    }
    // Wine's standard include handler finds "#include" files beside the source only when the
    // source's name is a full path with backslashes ("Z:/dir/a.hlsl" fails with E4002, measured),
    // so the name handed on is the normalised full path.
    wchar_t fullPath[MAX_PATH];
    const DWORD length = ::GetFullPathNameW(path.c_str(), MAX_PATH, fullPath, nullptr);
    const std::wstring sourceName = (length > 0 && length < MAX_PATH) ? std::wstring(fullPath, length) : path;
    return Compile(source, Utf8(sourceName), entryPoint, profile, pBytecode, pMessages);
}

bool ReadWholeFile(const std::wstring& path, std::string* pContents, DWORD* pError)
{
    // Shader sources are a few KiB; a file past this is not one.
    constexpr LONGLONG kMaxBytes = 16 << 20;
    pContents->clear();
    TFileHandle hFile(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!hFile || !::GetFileSizeEx(hFile.Get(), &size)) {
        *pError = ::GetLastError();
        return false;
    }
    if (size.QuadPart > kMaxBytes) {
        *pError = ERROR_FILE_TOO_LARGE;
        return false;
    }
    pContents->resize(static_cast<size_t>(size.QuadPart));
    DWORD dwRead = 0;
    if (!pContents->empty() &&
        !::ReadFile(hFile.Get(), pContents->data(), static_cast<DWORD>(pContents->size()), &dwRead, nullptr)) {
        *pError = ::GetLastError();
        pContents->clear();
        return false;
    }
    if (dwRead != pContents->size()) {
        *pError = ERROR_HANDLE_EOF;
        pContents->clear();
        return false;
    }
    return true;
}

std::string Utf8(const std::wstring& text)
{
    if (text.empty()) {
        return {};
    }
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                             nullptr, nullptr);
    std::string result(static_cast<size_t>(length > 0 ? length : 0), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), length, nullptr,
                          nullptr);
    return result;
}
