// A disk image's account in the test's own process: each file's state, its
// gaps and its bytes, for variants of the test disk, and accounts held side
// by side while the reader reads on.
#include <memory>

#include <gtest/gtest.h>

#include "image_builder.h"
#include "known/account.h"
#include "known_disk_blocks.h"
#include "tool_runner.h"

namespace {

using d88test::Bytes;
using d88test::Disk;
using d88test::Gap;
using d88test::sectorOf;

Bytes fileBytes(const d88cut::DiskAccount& disk, int file) {
    const std::uint8_t* bytes = d88cut::bytesOf(disk, file);
    return Bytes(bytes, bytes + disk.files[file].size);
}

TEST(Account, EachFileHasTheStateGapsAndBytesItsSectorsGive) {
    struct Case {
        const char* what;
        const char* file;
        const char* state;
        std::vector<Gap> gaps;
        std::function<void(Disk&)> change;
    };
    const Case cases[] = {
        {"a gap", "OPMMUS3", "partial", {{78, 5, 0}}, [](Disk& d) { sectorOf(d, 78, 5).r = 99; }},
        // Only its first sector is read and named.
        {"a short first sector, then a gap",
         "IPL3",
         "missing",
         {{3, 1, 100}},
         [](Disk& d) { sectorOf(d, 3, 1).data.resize(100), sectorOf(d, 3, 5).r = 99; }},
        {"a deleted-data mark in a slot",
         "PSGMUS",
         "flagged",
         {},
         [](Disk& d) { sectorOf(d, 20, 17).deletedMark = 0x10; }},
    };
    d88test::Scratch scratch;
    // On the heap: an account holds every file's bytes.
    auto first = std::make_unique<d88cut::DiskAccount>();
    auto second = std::make_unique<d88cut::DiskAccount>();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Disk damaged = d88test::knownDisk();
        c.change(damaged);
        // The test disk, then the damaged one: its account is taken while
        // the first one's is held, and changes nothing of it.
        ASSERT_TRUE(d88cut::reader.open(scratch.image(d88test::buildImage({d88test::knownDisk(), damaged})).c_str()));
        d88cut::takeAccount(*first, 0, d88cut::Depth::kFiles);
        const Bytes before(first->bytes, first->bytes + sizeof first->bytes);
        d88cut::takeAccount(*second, 1, d88cut::Depth::kFiles);
        EXPECT_EQ(Bytes(first->bytes, first->bytes + sizeof first->bytes), before);
        ASSERT_EQ(second->filesRead, 16);
        const std::map<std::string, Bytes> whole = d88test::knownDiskFiles();
        for (int i = 0; i < 16; ++i) {
            const d88cut::FileAccount& file = second->files[i];
            EXPECT_EQ(fileBytes(*first, i), whole.at(file.name)) << file.name;
            if (file.name != std::string(c.file)) {
                EXPECT_EQ(d88cut::stateWord(file.state), std::string("whole")) << file.name;
                continue;
            }
            EXPECT_EQ(d88cut::stateWord(file.state), std::string(c.state));
            EXPECT_EQ(d88test::gapsOf(*second, file), c.gaps);
            // Every byte the damaged disk holds in its place, zero where it
            // holds none; of a file not cut, its first sector's alone.
            Bytes expected;
            for (const auto& [track, r] : d88test::fileSectors(file.name)) {
                Bytes data(256, 0);
                for (const d88test::Sector& s : damaged.tracks[track]) {
                    const bool read = file.state != d88cut::FileState::kMissing || expected.empty();
                    if (s.r == r && read) std::copy(s.data.begin(), s.data.end(), data.begin());
                }
                expected.insert(expected.end(), data.begin(), data.end());
            }
            EXPECT_EQ(fileBytes(*second, i), expected);
        }
    }
    d88cut::reader.open(nullptr);
}

}  // namespace
