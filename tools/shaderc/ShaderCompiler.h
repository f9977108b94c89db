// HLSL to DXBC with the platform's d3dcompiler_47.dll, loaded at run time: no import library, so
// a program using this starts on a machine without the DLL and says so. Shared by the build tool
// (ZYRShaderCompiler.exe) and the suite that recompiles the capturer's shaders, so both compile
// with the same flags.
#pragma once

#include "ipc/THandle.h"

#include <windows.h>
#include <d3dcompiler.h>

#include <cstdint>
#include <string>
#include <vector>

// Every compilation of the capturer's shaders uses these flags: the bytes in the exe are compared
// with a fresh compilation, so the two must never differ in them.
inline constexpr UINT kShaderCompileFlags = D3DCOMPILE_ENABLE_STRICTNESS | D3DCOMPILE_OPTIMIZATION_LEVEL3;

class TShaderCompiler {
public:
    // Loads d3dcompiler_47.dll and finds D3DCompile. Failure leaves IsLoaded() false and the
    // system error of the failed call in LoadError(); Compile then refuses every source.
    TShaderCompiler();
    TShaderCompiler(const TShaderCompiler&) = delete;
    TShaderCompiler& operator=(const TShaderCompiler&) = delete;

    bool IsLoaded() const { return pfnD3DCompile != nullptr; }
    DWORD LoadError() const { return dwLoadError; }

    // Compiles HLSL text. `sourceName` names the source in the compiler's messages, and its folder
    // is where "#include" files are looked for.
    // True: *pBytecode holds the DXBC container, *pMessages the compiler's warnings (often empty).
    // False: *pBytecode is empty and *pMessages says why (the compiler's errors, or the HRESULT).
    bool Compile(const std::string& source, const std::string& sourceName, const std::string& entryPoint,
                 const std::string& profile, std::vector<uint8_t>* pBytecode, std::string* pMessages) const;

    // As Compile, with the text read from a file (its includes beside it); a file that cannot be
    // read is a failure whose message carries the system error.
    bool CompileFile(const std::wstring& path, const std::string& entryPoint, const std::string& profile,
                     std::vector<uint8_t>* pBytecode, std::string* pMessages) const;

private:
    TModule hCompilerModule;
    pD3DCompile pfnD3DCompile = nullptr;
    DWORD dwLoadError = 0;
};

// The whole file at `path`; false with the system error in *pError.
bool ReadWholeFile(const std::wstring& path, std::string* pContents, DWORD* pError);

// `text` in UTF-8, for messages and the compiler's source name.
std::string Utf8(const std::wstring& text);
