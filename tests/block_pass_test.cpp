// d88cut's block pass end to end: the files a recognised disk gives, byte for
// byte, with blocks missing, damaged dumps, and files that cannot be written.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "image_builder.h"
#include "known_disk_blocks.h"
#include "tool_runner.h"

namespace {

using d88test::Bytes;
using d88test::Disk;
using d88test::sectorBytes;

using d88test::Block;
using d88test::kBlocks;

void append(Bytes& to, const Bytes& bytes) { to.insert(to.end(), bytes.begin(), bytes.end()); }

// What a block's run holds on the known disk, cut to `size` bytes when that
// is given; `transform` changes every sector's bytes.
Bytes blockBytes(const Block& block, int size = -1, Bytes (*transform)(Bytes) = nullptr) {
    Bytes bytes;
    for (const auto& [track, sector] : d88test::runSectors(block)) {
        append(bytes, transform ? transform(sectorBytes(track, sector)) : sectorBytes(track, sector));
    }
    if (size >= 0) bytes.resize(static_cast<std::size_t>(size));
    return bytes;
}

Bytes psgmusBytes() {
    Bytes bytes;
    for (const int t : d88test::psgmusTracks()) append(bytes, sectorBytes(t, 17));
    return bytes;
}

// The announcement and the cutting lines of every block but those named.
std::string linesWithout(std::vector<std::string> missing = {}) {
    std::string lines = d88test::kRecognised;
    for (const Block& block : kBlocks) {
        if (std::find(missing.begin(), missing.end(), block.name) == missing.end()) {
            lines += d88test::cuttingLine(block.name);
        }
    }
    return lines + d88test::cuttingLine("PSGMUS");
}

d88test::Sector* findSector(Disk& disk, int track, int r) {
    for (d88test::Sector& s : disk.tracks[track]) {
        if (s.r == r) return &s;
    }
    return nullptr;
}

void removeSector(Disk& disk, int track, int r) {
    auto& sectors = disk.tracks[track];
    sectors.erase(std::remove_if(sectors.begin(), sectors.end(), [r](const d88test::Sector& s) { return s.r == r; }),
                  sectors.end());
}

bool exists(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

// Every file but those named holds its block of the known disk.
void expectBlocksExcept(const d88test::Scratch& scratch, std::vector<std::string> except) {
    const auto files = scratch.files();
    for (const Block& block : kBlocks) {
        if (std::find(except.begin(), except.end(), block.name) != except.end()) continue;
        ASSERT_EQ(files.count(block.name), 1u) << block.name;
        EXPECT_EQ(files.at(block.name), blockBytes(block)) << block.name;
    }
    if (std::find(except.begin(), except.end(), "PSGMUS") == except.end()) {
        ASSERT_EQ(files.count("PSGMUS"), 1u);
        EXPECT_EQ(files.at("PSGMUS"), psgmusBytes());
    }
}

TEST(FullDisk, SampleImageGivesSixteenFilesByteForByte) {
    d88test::Scratch scratch;
    const d88test::RunResult run = scratch.run({"d88cut", D88CUT_SAMPLE});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, linesWithout());
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(scratch.files().size(), 16u);
    expectBlocksExcept(scratch, {});

    const auto files = scratch.files();
    // OPMMUS1 crosses from cylinder 23 head 0 over head 1 to cylinder 24.
    const Bytes& mus1 = files.at("OPMMUS1");
    EXPECT_EQ(Bytes(mus1.begin() + 5 * 256, mus1.begin() + 6 * 256), sectorBytes(47, 1));
    EXPECT_EQ(Bytes(mus1.end() - 256, mus1.end()), sectorBytes(48, 4));
    // Track 56 is passed over: slot 46 holds track 57's sector 17.
    const Bytes& psgmus = files.at("PSGMUS");
    EXPECT_EQ(Bytes(psgmus.begin() + 46 * 256, psgmus.begin() + 47 * 256), sectorBytes(57, 17));
}

TEST(MissingBlocks, MissingOrShortFirstSectorPassesTheBlockOver) {
    d88test::Scratch scratch;
    Disk disk = d88test::knownDisk();
    removeSector(disk, 40, 1);                 // OPMMUS5
    findSector(disk, 3, 1)->data.resize(128);  // IPL3
    const Bytes older = {'o', 'l', 'd'};
    ASSERT_TRUE(d88test::writeFile(scratch.work() + "/OPMMUS5", older));

    const d88test::RunResult run = scratch.runOn(d88test::buildImage({disk}));
    const std::string image = "d88cut: " + scratch.root() + "/image.d88: ";
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, linesWithout({"IPL3", "OPMMUS5"}));
    EXPECT_EQ(run.err, image +
                           "IPL3: not cut: its first sector (track 3, C 1, H 1, R 1) is missing or "
                           "short\n" +
                           image +
                           "OPMMUS5: not cut: its first sector (track 40, C 20, H 0, R 1) is missing "
                           "or short; the OPMMUS5 there was left as it was, not written by this run\n");
    EXPECT_FALSE(exists(scratch.work() + "/IPL3"));
    EXPECT_EQ(scratch.files().at("OPMMUS5"), older);
    expectBlocksExcept(scratch, {"IPL3", "OPMMUS5"});
}

using d88test::inverted;

using Json = nlohmann::json;
using d88test::sectorOf;

TEST(DamagedDisks, EveryByteTheDumpHoldsIsCutAndSaidOnceAlike) {
    // Track 79 holds sector 2 twice, the copy recorded first inverted.
    auto twice = [](std::uint8_t first, std::uint8_t second) {
        return [=](Disk& d) {
            d88test::Sector copy = sectorOf(d, 79, 2);
            copy.data = inverted(copy.data);
            copy.status = first;
            sectorOf(d, 79, 2).status = second;
            d.tracks[79].insert(d.tracks[79].begin(), copy);
        };
    };
    struct Case {
        const char* what;
        const char* file;
        std::function<void(Disk&)> change;
        const char* state;
        int status;
    };
    const Case cases[] = {
        {"a gap in the middle of a block", "OPMMUS3", [](Disk& d) { removeSector(d, 78, 5); }, "partial", 2},
        {"a gap where a block crosses tracks", "OPMMUS1", [](Disk& d) { removeSector(d, 47, 3); }, "partial", 2},
        {"two gaps", "IPL3", [](Disk& d) { removeSector(d, 3, 5), removeSector(d, 3, 9); }, "partial", 2},
        {"a short sector", "OPMMUS4", [](Disk& d) { sectorOf(d, 76, 2).data.resize(100); }, "partial", 2},
        {"missing and short slots", "PSGMUS",
         [](Disk& d) {
             for (int t = 22; t <= 30; ++t) removeSector(d, t, 17);
             sectorOf(d, 31, 17).data.resize(100);
         },
         "partial", 2},
        {"a sector twice, flagged then clean", "OPMDRV", twice(0xB0, 0), "whole", 0},
        {"a sector twice, clean then flagged", "OPMDRV", twice(0, 0xB0), "whole", 0},
        {"a sector twice, both flagged", "OPMDRV", twice(0xB0, 0xA0), "flagged", 2},
        // After a header-only disk image, its size field wrong.
        {"a known disk behind a wrong size", "IPL3", [](Disk& d) { d.diskSize = INT32_MAX; }, "whole", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Disk disk = d88test::knownDisk();
        c.change(disk);
        const Bytes bytes =
            d88test::buildImage(disk.diskSize ? std::vector<Disk>{Disk(), disk} : std::vector<Disk>{disk});
        d88test::Scratch scratch;
        const std::string path = scratch.image(bytes);
        const d88test::RunResult cut = scratch.run({"d88cut", path});
        const std::string listing = scratch.run({"d88cut", "-l", path}).out;
        const Json doc = Json::parse(scratch.run({"d88cut", "--json", path}).out);
        Json file;
        for (const Json& f : doc["disks"].back()["files"]) {
            if (f["name"] == c.file) file = f;
        }
        EXPECT_EQ(cut.status, c.status);
        if (disk.diskSize) {
            EXPECT_EQ(cut.err, "d88cut: " + path +
                                   ": disk image 2 gives its size as 2147483647 bytes "
                                   "from offset 688; the file ends at " +
                                   std::to_string(bytes.size()) + "\n");
        }
        // The test disk's file: each sector from its first copy without an
        // error (the first when all have one), its bytes up to 256, zero after.
        Bytes expected;
        Json gaps = Json::array();
        for (const auto& [track, r] : d88test::fileSectors(c.file)) {
            const d88test::Sector* taken = nullptr;
            for (const d88test::Sector& s : disk.tracks[track]) {
                if (s.r == r && (taken == nullptr || (taken->status != 0 && s.status == 0))) taken = &s;
            }
            Bytes data = taken != nullptr ? taken->data : Bytes();
            if (data.size() < 256) gaps.push_back({{"track", track}, {"sector", r}, {"found", data.size()}});
            data.resize(256, 0);
            append(expected, data);
        }
        EXPECT_EQ(scratch.files().at(c.file), expected);
        EXPECT_EQ(file["state"], c.state);
        EXPECT_EQ(file["gaps"], gaps);
        // A block's stop is its first gap.
        if (c.file != std::string("PSGMUS") && !gaps.empty()) {
            EXPECT_EQ(
                file["stop"],
                Json({{"track", gaps[0]["track"]}, {"sector", gaps[0]["sector"]}, {"short", gaps[0]["found"] != 0}}));
        }
        // The listing's line ends in `where`; the cut's line is `said`.
        const std::size_t at = listing.find("\n  " + std::string(c.file) + " ");
        const std::string line = listing.substr(at + 1, listing.find('\n', at + 1) - at - 1);
        EXPECT_NE(line.find(std::string(" ") + c.state + " "), std::string::npos) << line;
        EXPECT_EQ(line.substr(line.size() - file["where"].get<std::string>().size()), file["where"]);
        const std::string said = file["said"].is_null() ? "" : file["said"];
        EXPECT_EQ(cut.err.find(path + ": " + said + "\n") != std::string::npos, !said.empty() && c.status != 0)
            << cut.err;
    }
}

TEST(Gathering, OnlyTrack56WithSector17GivesZeroPsgmus) {
    d88test::Scratch scratch;
    Disk disk = d88test::knownDisk();
    for (int t = 10; t <= 74; ++t) {
        if (t != 56) removeSector(disk, t, 17);
    }
    const d88test::RunResult run = scratch.runOn(d88test::buildImage({disk}));
    EXPECT_EQ(run.out, linesWithout());
    EXPECT_EQ(scratch.files().at("PSGMUS"), Bytes(16384, 0));
    expectBlocksExcept(scratch, {"PSGMUS"});
}

TEST(TwoKnownDisks, TheLaterDisksFilesReplaceTheEarlier) {
    d88test::Scratch scratch;
    Disk later = d88test::knownDisk();
    for (auto& [track, sectors] : later.tracks) {
        for (d88test::Sector& s : sectors) {
            if (track != 0) s.data = inverted(s.data);
        }
    }
    removeSector(later, 40, 1);  // OPMMUS5 is kept from the first disk

    const d88test::RunResult run = scratch.runOn(d88test::buildImage({d88test::knownDisk(), later}));
    // The later disk could not be cut whole.
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, linesWithout() + linesWithout({"OPMMUS5"}));
    const auto files = scratch.files();
    for (const Block& block : kBlocks) {
        const bool kept = std::string(block.name) == "OPMMUS5";
        EXPECT_EQ(files.at(block.name), blockBytes(block, -1, kept ? nullptr : inverted)) << block.name;
    }
}

// --- files that cannot be written ------------------------------------------

class WriteFailure : public ::testing::Test {
protected:
    d88test::RunResult runSample(const std::function<void()>& inChild = {}) {
        return scratch_.run({"d88cut", D88CUT_SAMPLE}, inChild);
    }
    d88test::Scratch scratch_;
};

TEST_F(WriteFailure, DirectoryInTheWayIsReportedAndThePassGoesOn) {
    ASSERT_EQ(::mkdir((scratch_.work() + "/OPMTBL").c_str(), 0755), 0);
    const d88test::RunResult run = runSample();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, linesWithout());
    EXPECT_EQ(run.err, "d88cut: cannot create OPMTBL: Is a directory\n");
    expectBlocksExcept(scratch_, {"OPMTBL"});
}

TEST_F(WriteFailure, FileSizeLimitCuttingPsgmusLeavesNoTruncatedFile) {
    D88CUT_NOT_UNDER_WINE("a file-size limit and its signal are POSIX's");
    const d88test::RunResult run = runSample([] {
        ::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit = {8192, 8192};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, linesWithout());
    EXPECT_EQ(run.err, "d88cut: cannot write PSGMUS: File too large\n");
    EXPECT_FALSE(exists(scratch_.work() + "/PSGMUS"));
    expectBlocksExcept(scratch_, {"PSGMUS"});
}

}  // namespace
