// Writes the small seed corpus of the fuzz targets: meaningful starting points built with the
// same packers a server and a client use. Usage: fuzz_seed_writer <corpus directory>
#include "log/LogDirectory.h"
#include "log/LogFormat.h"

#include "FuzzInputs.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace zyrlog;
using Bytes = std::vector<uint8_t>;

namespace {

bool WriteFile(const std::filesystem::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

Bytes DirectorySeed(uint8_t pathSelector, uint32_t count, const std::vector<Bytes>& entries)
{
    Bytes seed{pathSelector, 0, 0, 0, 0};
    StoreU32(seed.data() + 1, count);
    for (const Bytes& entry : entries) {
        seed.insert(seed.end(), entry.begin(), entry.end());
    }
    return seed;
}

std::vector<Bytes> DirectorySeeds()
{
    const std::u16string tool(fuzzinput::kModulePaths[0]);
    const std::vector<TDirectoryModule> modules = {{5, u"C:\\Apps\\other.exe"}, {9, tool}};
    const Bytes other = BuildDirectoryEntry(2, u"C:\\", u"NotALog", nullptr, 0);
    const Bytes apps = BuildDirectoryEntry(3, u"C:\\Apps\\", u"AppsLog", modules.data(), modules.size());
    const Bytes drive = BuildDirectoryEntry(3, u"D:\\", u"DriveD", nullptr, 0);
    Bytes cut = apps;
    cut.resize(4120 + 2052 + 100);  // the second module runs into the end of the view
    StoreU32(cut.data(), 0x7FFFFFFF);
    Bytes zeroSized = drive;
    StoreU32(zeroSized.data(), 0);
    return {
        DirectorySeed(0, 3, {other, drive, apps}),
        DirectorySeed(1, 1, {cut}),
        DirectorySeed(3, 0xFFFFFFFF, {drive, zeroSized, apps}),
    };
}

Bytes NarrowRecord(const std::string& text, uint32_t type)
{
    Bytes record(RecordSize(text.size() + 1, false));
    TRecordFields fields;
    fields.ui32Type = type;
    fields.ui32ProcessId = 1234;
    fields.ui64Timestamp = 987654321;
    PackRecord(record.data(), fields, text.c_str(), text.size() + 1, false);
    return record;
}

Bytes WideRecord(const std::u16string& text, uint32_t type)
{
    const size_t bytes = 2 * (text.size() + 1);
    Bytes record(RecordSize(bytes, true));
    TRecordFields fields;
    fields.ui32Type = type;
    fields.bStopSeen = 1;
    PackRecord(record.data(), fields, text.c_str(), bytes, true);
    return record;
}

Bytes WithMode(uint8_t mode, const Bytes& rest)
{
    Bytes seed{mode};
    seed.insert(seed.end(), rest.begin(), rest.end());
    return seed;
}

// A 160-byte ring whose records wrap around its end.
Bytes RingSeed()
{
    constexpr uint32_t kCapacity = 160;
    Bytes ring(kCapacity, 0);
    TRingState state{kCapacity, 100, 100};
    for (const Bytes& record : {NarrowRecord("first line", 0), WideRecord(u"WinMain", 6), NarrowRecord("x", 2)}) {
        uint32_t newWrite = 0;
        if (RingWrite(ring.data(), state, record.data(), static_cast<uint32_t>(record.size()), newWrite) ==
            TRingWriteResult::Written) {
            state.ui32Write = newWrite;
        }
    }
    Bytes rest(12);
    StoreU32(rest.data(), state.ui32Capacity);
    StoreU32(rest.data() + 4, state.ui32Read);
    StoreU32(rest.data() + 8, state.ui32Write);
    rest.insert(rest.end(), ring.begin(), ring.end());
    return WithMode(fuzzinput::kRingWalk, rest);
}

std::vector<Bytes> RecordSeeds()
{
    return {
        WithMode(fuzzinput::kDecode, NarrowRecord("abc", 0)),
        WithMode(fuzzinput::kDecode, WideRecord(u"CaptureScreenThread", 6)),
        RingSeed(),
        WithMode(fuzzinput::kConversation, {40, 10, 0x85, 60, 3, fuzzinput::kDrain, 0x7F, 1, 0xBF, 20}),
    };
}

bool WriteAll(const std::filesystem::path& folder, const std::vector<Bytes>& seeds)
{
    std::filesystem::create_directories(folder);
    for (size_t i = 0; i < seeds.size(); ++i) {
        if (!WriteFile(folder / ("seed" + std::to_string(i)), seeds[i])) {
            std::fprintf(stderr, "cannot write %s\n", folder.string().c_str());
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus directory>\n", argv[0]);
        return 2;
    }
    const std::filesystem::path root(argv[1]);
    const bool ok = WriteAll(root / "log_directory", DirectorySeeds()) && WriteAll(root / "log_record", RecordSeeds());
    return ok ? 0 : 1;
}
