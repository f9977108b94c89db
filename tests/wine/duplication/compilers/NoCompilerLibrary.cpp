// A library that stands where a shader compiler is looked for but has no D3DCompile entry.
extern "C" __declspec(dllexport) int ZyrNotACompiler()
{
    return 0;
}
