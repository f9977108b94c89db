// The command-line tool's two line formats.
#include "TLogServer.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace {

// Narrow records carry text in the writer's ANSI code page (the C runtime converts %S arguments
// into it); the writer runs on this machine, so this machine's code page reads it back. Plain ASCII
// passes unchanged.
std::string NarrowToUtf8(const std::string& text)
{
    const bool bAscii = std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (bAscii || text.size() > static_cast<size_t>(INT32_MAX)) {
        return text;
    }
    const int length = static_cast<int>(text.size());
    const int units = ::MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    if (units <= 0) {
        return text;
    }
    std::u16string wide(static_cast<size_t>(units), u'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), length, reinterpret_cast<wchar_t*>(wide.data()), units);
    return zyrlog::Utf16ToUtf8(wide);
}

std::string RecordTextUtf8(const TLogRecord& entry)
{
    if (entry.bMalformed) {
        return "malformed: " + entry.strProblem;
    }
    if (zyrlog::IsWideRecordType(entry.record.fields.ui32Type)) {
        return entry.record.strText;  // already UTF-8
    }
    return NarrowToUtf8(entry.record.strText);
}

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (u < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", u);
            out += escape;
        } else {
            out.push_back(c);
        }
    }
    out.push_back('"');
    return out;
}

}  // namespace

std::string FormatRecordText(const TLogRecord& entry)
{
    const zyrlog::TRecordFields& f = entry.record.fields;
    std::string line = std::to_string(f.ui64Timestamp) + " " + std::to_string(f.ui32ProcessId) + " " +
                       std::to_string(f.ui32ModuleId) + " " + std::to_string(f.ui32ThreadId) + " " +
                       std::to_string(f.ui32Type) + " ";
    // One record, one line: line breaks inside the text are shown as \r and \n.
    for (const char c : RecordTextUtf8(entry)) {
        if (c == '\n') {
            line += "\\n";
        } else if (c == '\r') {
            line += "\\r";
        } else {
            line.push_back(c);
        }
    }
    return line;
}

std::string FormatRecordJson(const TLogRecord& entry)
{
    const zyrlog::TRecordFields& f = entry.record.fields;
    std::string line = "{\"ts\":" + std::to_string(f.ui64Timestamp) + ",\"pid\":" + std::to_string(f.ui32ProcessId) +
                       ",\"module\":" + std::to_string(f.ui32ModuleId) + ",\"tid\":" + std::to_string(f.ui32ThreadId) +
                       ",\"type\":" + std::to_string(f.ui32Type) + ",\"stop\":" +
                       std::to_string(static_cast<unsigned>(f.bStopSeen)) + ",\"size\":" +
                       std::to_string(entry.record.ui32Size) + ",\"text\":" + JsonString(RecordTextUtf8(entry));
    if (entry.bMalformed) {
        line += ",\"malformed\":true";
    }
    line.push_back('}');
    return line;
}
