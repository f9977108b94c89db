#include "FrameSinks.h"

#include "ipc/THandle.h"

#include <algorithm>

namespace {

bool Emit(const TByteWriter& writer, const std::vector<uint8_t>& bytes, std::string* pError)
{
    if (!writer(bytes.data(), bytes.size())) {
        *pError = "the stream could not be written (" + std::to_string(bytes.size()) + " bytes)";
        return false;
    }
    return true;
}

}  // namespace

bool TPngDirectorySink::Consume(const TDeliveredFrame& frame, std::string* pError)
{
    const std::vector<uint8_t> png = EncodePng(frame.picture);
    if (png.empty()) {
        *pError = "frame " + std::to_string(frame.ui32Index) + " could not be encoded as PNG";
        return false;
    }
    const std::string name = PngFileName(frame.ui32Index);
    if (!WriteWholeFile(wsDirectory + L"\\" + std::wstring(name.begin(), name.end()), png, pError)) {
        *pError = name + ": " + *pError;
        return false;
    }
    return true;
}

bool TRawStreamSink::Consume(const TDeliveredFrame& frame, std::string* pError)
{
    vecBytes.clear();
    AppendRawFrame(frame.picture, &vecBytes);
    return Emit(writer, vecBytes, pError);
}

bool TY4mStreamSink::Consume(const TDeliveredFrame& frame, std::string* pError)
{
    vecBytes.clear();
    if (!bHeaderWritten) {
        ui32Width = frame.picture.ui32Width;
        ui32Height = frame.picture.ui32Height;
        const std::string header = Y4mHeader(ui32Width, ui32Height, dFramesPerSecond);
        vecBytes.assign(header.begin(), header.end());
        bHeaderWritten = true;
    } else if (frame.picture.ui32Width != ui32Width || frame.picture.ui32Height != ui32Height) {
        *pError = "frame " + std::to_string(frame.ui32Index) + " changes the stream's size";
        return false;
    }
    AppendY4mFrame(frame.picture, &vecBytes);
    return Emit(writer, vecBytes, pError);
}

bool TSinkList::Consume(const TDeliveredFrame& frame, std::string* pError)
{
    for (const std::unique_ptr<IFrameSink>& pSink : vecSinks) {
        if (!pSink->Consume(frame, pError)) {
            return false;
        }
    }
    return true;
}

bool EnsureDirectory(const std::wstring& wsDirectory, std::wstring* pError)
{
    if (::CreateDirectoryW(wsDirectory.c_str(), nullptr)) {
        return true;
    }
    const DWORD dwError = ::GetLastError();
    const DWORD dwAttributes = ::GetFileAttributesW(wsDirectory.c_str());
    if (dwError == ERROR_ALREADY_EXISTS && dwAttributes != INVALID_FILE_ATTRIBUTES &&
        (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return true;
    }
    *pError = L"directory '" + wsDirectory + L"' cannot be created: error " + std::to_wstring(dwError);
    return false;
}

bool WriteWholeFile(const std::wstring& wsPath, const std::vector<uint8_t>& bytes, std::string* pError)
{
    TFileHandle hFile(::CreateFileW(wsPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile) {
        *pError = "file cannot be created: error " + std::to_string(::GetLastError());
        return false;
    }
    size_t written = 0;
    while (written < bytes.size()) {
        const DWORD dwChunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - written, 1u << 30));
        DWORD dwDone = 0;
        if (!::WriteFile(hFile.Get(), bytes.data() + written, dwChunk, &dwDone, nullptr) || dwDone == 0) {
            *pError = "file cannot be written: error " + std::to_string(::GetLastError());
            return false;
        }
        written += dwDone;
    }
    return true;
}
