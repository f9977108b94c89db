// ZYRShaderCompiler.exe: compiles HLSL files to DXBC containers with d3dcompiler_47.dll. The build
// runs it under Wine to make the capturer's "SHADER" resources; one start serves every shader,
// because each Wine process start costs about 0.7 s.
//   usage: ZYRShaderCompiler <source.hlsl> <entry point> <profile> <output> [four more ...]
// Exit codes: 0 all written; 1 a shader did not compile (the compiler's messages are on stderr);
// 2 bad arguments, the compiler is missing, or a file could not be read or written.
#include "CommandLineArguments.h"
#include "ShaderCompiler.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kExitCompileFailed = 1;
constexpr int kExitFailed = 2;
constexpr size_t kArgumentsPerShader = 4;

void PrintError(const std::string& message)
{
    std::fprintf(stderr, "ZYRShaderCompiler: %s\n", message.c_str());
    std::fflush(stderr);
}

// Writes beside the target and renames, so an interrupted build never leaves a cut blob that a
// later build would take for finished.
bool WriteWholeFile(const std::wstring& path, const std::vector<uint8_t>& bytes)
{
    const std::wstring temporary = path + L".part";
    {
        TFileHandle hFile(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD dwWritten = 0;
        if (!hFile || !::WriteFile(hFile.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &dwWritten, nullptr) ||
            dwWritten != bytes.size()) {
            PrintError("cannot write " + Utf8(temporary) + ": error " + std::to_string(::GetLastError()));
            return false;
        }
    }
    if (!::MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        PrintError("cannot replace " + Utf8(path) + ": error " + std::to_string(::GetLastError()));
        return false;
    }
    return true;
}

int CompileOne(const TShaderCompiler& compiler, const std::vector<std::wstring>& job)
{
    std::vector<uint8_t> bytecode;
    std::string messages;
    if (!compiler.CompileFile(job[0], Utf8(job[1]), Utf8(job[2]), &bytecode, &messages)) {
        PrintError(Utf8(job[0]) + " (" + Utf8(job[1]) + ", " + Utf8(job[2]) + "): " + messages);
        return kExitCompileFailed;
    }
    if (!messages.empty()) {
        std::fprintf(stderr, "%s\n", messages.c_str());
    }
    return WriteWholeFile(job[3], bytecode) ? 0 : kExitFailed;
}

}  // namespace

int main()
{
    const std::vector<std::wstring> args = toolargs::CommandLineArguments();
    if (args.empty() || args.size() % kArgumentsPerShader != 0) {
        PrintError("usage: ZYRShaderCompiler <source.hlsl> <entry point> <profile> <output> [...]");
        return kExitFailed;
    }
    const TShaderCompiler compiler;
    if (!compiler.IsLoaded()) {
        PrintError("d3dcompiler_47.dll or its D3DCompile is missing: error " + std::to_string(compiler.LoadError()));
        return kExitFailed;
    }
    for (size_t i = 0; i < args.size(); i += kArgumentsPerShader) {
        const std::vector<std::wstring> job(args.begin() + i, args.begin() + i + kArgumentsPerShader);
        if (const int status = CompileOne(compiler, job); status != 0) {
            return status;
        }
    }
    return 0;
}
