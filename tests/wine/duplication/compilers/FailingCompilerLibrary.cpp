// A shader compiler library whose D3DCompile fails every compilation with E_FAIL and a diagnostic
// text (without a terminating zero, as a compiler may hand it out), and remembers what it was
// asked, for ZyrLastCompile.
#include <windows.h>

#include <d3dcommon.h>

#include <atomic>
#include <cstring>
#include <string>

namespace {

constexpr char kDiagnostic[] = "fake(1,1): error X0000: no compiler here";

class TTextBlob final : public ID3DBlob {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppObject) override
    {
        if (riid == __uuidof(IUnknown) || riid == __uuidof(ID3DBlob)) {
            *ppObject = this;
            AddRef();
            return S_OK;
        }
        *ppObject = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++ulReferences; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG ul = --ulReferences;
        if (ul == 0) {
            delete this;
        }
        return ul;
    }
    LPVOID STDMETHODCALLTYPE GetBufferPointer() override { return const_cast<char*>(kDiagnostic); }
    SIZE_T STDMETHODCALLTYPE GetBufferSize() override { return sizeof(kDiagnostic) - 1; }

private:
    std::atomic<ULONG> ulReferences{1};
};

struct TLastCompile {
    std::string strSource, strEntry, strTarget;
    UINT uiFlags1 = 0, uiFlags2 = 0;
    bool bSourceName = false, bDefines = false, bInclude = false;
};
TLastCompile g_last;

}  // namespace

extern "C" __declspec(dllexport) HRESULT WINAPI D3DCompile(const void* pData, SIZE_T nSize, const char* pszName,
                                                           const D3D_SHADER_MACRO* pDefines, ID3DInclude* pInclude,
                                                           const char* pszEntry, const char* pszTarget, UINT uiFlags1,
                                                           UINT uiFlags2, ID3DBlob** ppCode, ID3DBlob** ppErrors)
{
    g_last.strSource.assign(static_cast<const char*>(pData), nSize);
    g_last.strEntry = pszEntry != nullptr ? pszEntry : "";
    g_last.strTarget = pszTarget != nullptr ? pszTarget : "";
    g_last.uiFlags1 = uiFlags1;
    g_last.uiFlags2 = uiFlags2;
    g_last.bSourceName = pszName != nullptr;
    g_last.bDefines = pDefines != nullptr;
    g_last.bInclude = pInclude != nullptr;
    if (ppCode != nullptr) {
        *ppCode = nullptr;
    }
    if (ppErrors != nullptr) {
        *ppErrors = new TTextBlob();
    }
    return E_FAIL;
}

// What the last D3DCompile call was given, as "<target> <entry> <flags1> <flags2> <source size>"
// followed by " name", " defines", " include" for each of those that was not null.
extern "C" __declspec(dllexport) const char* ZyrLastCompile()
{
    static std::string strText;
    strText = g_last.strTarget + " " + g_last.strEntry + " " + std::to_string(g_last.uiFlags1) + " " +
              std::to_string(g_last.uiFlags2) + " " + std::to_string(g_last.strSource.size());
    strText += g_last.bSourceName ? " name" : "";
    strText += g_last.bDefines ? " defines" : "";
    strText += g_last.bInclude ? " include" : "";
    return strText.c_str();
}
