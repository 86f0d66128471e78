// libFuzzer target: the fuzzer's bytes as a D88 file, driven through the
// reader's whole interface and then through d88cut itself, in a scratch
// directory: a cut, a listing, and a put of files it changed. Any crash, sanitizer report or broken
// promise of a result ends the run.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "d88/d88_reader.h"
#include "tool/entry.h"

namespace {

std::string scratchDir;
std::string inputPath;
// The fuzzer's own directory, where its corpus and findings live.
int startDir = -1;
// Room for the longest sector (65,535 data bytes) and the longest run below.
std::uint8_t out[65536];
std::uint8_t ids[4 * 64];

// The sixteen files a cut writes, which a put takes back.
const char* const kFiles[] = {"IPL2",    "IPL3",    "OPMDRV",  "OPMTBL",  "OPMMUS0", "OPMMUS1",
                              "OPMMUS2", "OPMMUS3", "OPMMUS4", "OPMMUS5", "OPMMUS6", "OPMMUS7",
                              "OPMMUS8", "PSGDRV",  "PSGTBL",  "PSGMUS"};

// The disk images driven in full: a size of 0 repeats one header 64 times.
constexpr std::int32_t kDisksDriven = 4;

void check(bool promise) {
    if (!promise) std::abort();
}

void driveTrack(d88::D88Reader& reader, std::int32_t track, std::uint8_t knob) {
    const std::int32_t listed = reader.readTrackIds(track, ids, sizeof ids);
    check(listed >= 0 && listed <= static_cast<std::int32_t>(sizeof ids) && listed % 4 == 0);
    for (std::int32_t i = 0; i < listed / 4 && i < 4; ++i) {
        const std::uint8_t* id = ids + 4 * i;
        const std::int32_t maxLen = (knob & 1) ? 65535 : 256;
        const std::int32_t got = reader.readSector(track, id[0], id[1], id[2], id[3], out, maxLen);
        check(got >= 0 && got <= maxLen);
    }
    // The tool's run, and runs of other ranges and size codes.
    reader.setSectorRange(1, 16);
    std::int32_t got = reader.readSectors(track, track / 2, track % 2, 1, 1, out, 4096);
    check(got >= 0 && got <= 4096 && got % 256 == 0);
    reader.setSectorRange(knob % 5, (knob >> 3) % 20);
    const std::int32_t n = knob % 4;
    got = reader.readSectors(track, track / 2, track % 2, knob % 18, n, out, sizeof out);
    check(got >= 0 && got <= static_cast<std::int32_t>(sizeof out) &&
          (got == static_cast<std::int32_t>(sizeof out) || got % (128 << n) == 0));
}

void driveReader(std::uint8_t knob) {
    // On the heap: the reader carries its 2 MiB buffer.
    auto owned = std::make_unique<d88::D88Reader>();
    d88::D88Reader& reader = *owned;
    check(reader.open(inputPath.c_str()));
    const std::int32_t count = reader.diskCount();
    check(count >= 0 && count <= d88::kMaxDisks);
    check(!reader.selectDisk(-1) && !reader.selectDisk(count));
    check(reader.currentDisk() == -1 && reader.mediaType() == -1);
    for (std::int32_t d = 0; d < count; ++d) {
        if (d >= kDisksDriven && d != count - 1) continue;
        // The file does not change during the run: a listed disk selects.
        check(reader.selectDisk(d) && reader.currentDisk() == d);
        check(reader.mediaType() >= 0 && reader.mediaType() <= 255);
        check(std::strlen(reader.diskName()) <= static_cast<std::size_t>(d88::kMaxNameSize));
        for (std::int32_t track = -1; track <= d88::kTrackCount; ++track) {
            driveTrack(reader, track, knob);
        }
    }
    check(reader.open(nullptr));
    check(reader.readSector(0, 0, 0, 1, 1, out, 256) == 0);
}

void removeScratch() {
    std::error_code ignored;
    std::filesystem::remove_all(scratchDir, ignored);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/d88cut-fuzz-XXXXXX";
    startDir = ::open(".", O_RDONLY | O_DIRECTORY);
    if (startDir < 0 || ::mkdtemp(pattern) == nullptr) std::abort();
    scratchDir = pattern;
    inputPath = scratchDir + "/input.d88";
    std::atexit(removeScratch);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(inputPath.c_str(), "wb");
    if (file == nullptr) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
    if (std::fclose(file) != 0) std::abort();

    driveReader(size > 0 ? data[size - 1] : 0);
    char program[] = "d88cut";
    char json[] = "--json";
    char* cut[] = {program, inputPath.data(), nullptr};
    char* list[] = {program, json, inputPath.data(), nullptr};
    // The tool writes its files into the current directory; the JSON
    // listing goes where the fuzzer sends standard output.
    if (::chdir(scratchDir.c_str()) != 0) std::abort();
    const int cutStatus = d88cut::runEntry(2, cut);
    const int listStatus = d88cut::runEntry(3, list);
    check(cutStatus >= 0 && cutStatus <= 2 && listStatus >= 0 && listStatus <= 2);
    // The files put back: those the cut wrote, changed by the fuzzer's bytes,
    // or of sizes and bytes of its own where it wrote none.
    for (std::size_t i = 0; i < sizeof kFiles / sizeof kFiles[0]; ++i) {
        std::FILE* given = std::fopen(kFiles[i], "r+b");
        const std::uint8_t knob = size > i ? data[size - 1 - i] : 0;
        if (given == nullptr && knob % 2 == 0) continue;
        if (given == nullptr) given = std::fopen(kFiles[i], "wb");
        if (given == nullptr) std::abort();
        std::fseek(given, (knob % 64) * 256, SEEK_SET);
        std::fwrite(data, 1, size < knob ? size : knob, given);
        if (std::fclose(given) != 0) std::abort();
    }
    char put[] = "--put=new.d88";
    char* putBack[] = {program, put, inputPath.data(), nullptr};
    char* listPut[] = {program, json, put, inputPath.data(), nullptr};
    const int putStatus = d88cut::runEntry(3, putBack);
    const int listPutStatus = d88cut::runEntry(4, listPut);
    check(putStatus >= 0 && putStatus <= 1 && listPutStatus >= 0 && listPutStatus <= 1);
    for (const char* name : kFiles) std::remove(name);
    std::remove("new.d88");
    if (::fchdir(startDir) != 0) std::abort();
    return 0;
}
