// Where the frame pump's frames go: PNG files in a directory, a raw BGRA or a YUV4MPEG2 stream
// through a byte writer (standard output in the tool), or several of them at once. The formats
// are described in FrameEncoding.h.
#pragma once

#include "FramePump.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

// Writes all `size` bytes or reports false (a closed pipe, a full disk).
using TByteWriter = std::function<bool(const uint8_t* pData, size_t size)>;

// <directory>\frame_0000.png, frame_0001.png, ... by frame index; existing files are replaced.
// The directory must exist (EnsureDirectory).
class TPngDirectorySink : public IFrameSink {
public:
    explicit TPngDirectorySink(std::wstring directory) : wsDirectory(std::move(directory)) {}
    bool Consume(const TDeliveredFrame& frame, std::string* pError) override;

private:
    std::wstring wsDirectory;
};

class TRawStreamSink : public IFrameSink {
public:
    explicit TRawStreamSink(TByteWriter streamWriter) : writer(std::move(streamWriter)) {}
    bool Consume(const TDeliveredFrame& frame, std::string* pError) override;

private:
    TByteWriter writer;
    std::vector<uint8_t> vecBytes;
};

// The stream header goes out with the first frame, which fixes the size; a frame of another size
// is refused (a Y4M stream cannot change size).
class TY4mStreamSink : public IFrameSink {
public:
    TY4mStreamSink(TByteWriter streamWriter, double framesPerSecond)
        : writer(std::move(streamWriter)), dFramesPerSecond(framesPerSecond)
    {
    }
    bool Consume(const TDeliveredFrame& frame, std::string* pError) override;

private:
    TByteWriter writer;
    double dFramesPerSecond;
    bool bHeaderWritten = false;
    uint32_t ui32Width = 0;
    uint32_t ui32Height = 0;
    std::vector<uint8_t> vecBytes;
};

// Hands each frame to every sink in the order they were added; the first refusal stops it. With no
// sink it accepts everything (a run that only measures).
class TSinkList : public IFrameSink {
public:
    void Add(std::unique_ptr<IFrameSink> pSink) { vecSinks.push_back(std::move(pSink)); }
    bool Consume(const TDeliveredFrame& frame, std::string* pError) override;

private:
    std::vector<std::unique_ptr<IFrameSink>> vecSinks;
};

// Creates the directory unless it exists (one level); false with *pError otherwise.
bool EnsureDirectory(const std::wstring& wsDirectory, std::wstring* pError);
// Creates or replaces the file with exactly `bytes`; false with *pError (the system error) otherwise.
bool WriteWholeFile(const std::wstring& wsPath, const std::vector<uint8_t>& bytes, std::string* pError);
