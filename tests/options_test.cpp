// d88cut's options end to end: where the files go, which disk image is cut,
// what a usage error says, and the listing, whose figures agree with what a
// cut of the same image writes.
#include <cstdio>
#include <filesystem>

#include <gtest/gtest.h>

#include "image_builder.h"
#include "known_disk_blocks.h"
#include "tool_runner.h"

namespace {

using d88test::Bytes;
using d88test::Disk;
using d88test::Scratch;

Disk diskWithBoot(const std::string& name, const std::string& boot) {
    Disk disk;
    disk.name = name;
    Bytes data(256, 0);
    std::copy(boot.begin(), boot.end(), data.begin() + 1);
    disk.tracks[0].push_back(d88test::sectorWithId(0, 0, 1, 1, data));
    return disk;
}

// Every entry below work(), so that a test can tell nothing else was made.
std::size_t entriesBelow(const Scratch& scratch) {
    std::size_t count = 0;
    for (auto it = std::filesystem::recursive_directory_iterator(scratch.work());
         it != std::filesystem::recursive_directory_iterator(); ++it) {
        ++count;
    }
    return count;
}

TEST(Options, EachOptionDoesWhatItSaysWithItsStatus) {
    const Bytes sample = d88test::readFile(D88CUT_SAMPLE).value();
    const Bytes two = d88test::buildImage({diskWithBoot("OTHER", "nothing here"), d88test::knownDisk()});
    const std::string usage = std::string(d88test::kUsage) + d88test::kTryHelp;
    struct Case {
        std::vector<std::string> args;  // IMAGE: the sample; TWO: another disk, then the known one
        int status;
        std::string err;      // TWO stands for its path
        const char* cutInto;  // the directory the sixteen files are cut into; null: none
    };
    const Case cases[] = {
        {{"-C", "out/new", "IMAGE"}, 0, "", "out/new"},
        {{"--directory", "\u51FA\u529B", "IMAGE"}, 0, "", "\u51FA\u529B"},
        {{"--directory=out", "--", "IMAGE"}, 0, "", "out"},
        {{"IMAGE", "-Cout"}, 0, "", "out"},
        {{"-C", "afile", "IMAGE"}, 1, "d88cut: cannot make the directory afile: Not a directory\n", nullptr},
        {{"-C", "d", "d/IPL3"}, 1, "d88cut: cannot write d/IPL3: it is the input image\n", "d"},
        {{"--", "-odd.d88"}, 0, "", "."},
        {{"--disk=2", "TWO"}, 0, "", "."},
        // The run worked; there was nothing to cut.
        {{"--disk", "1", "TWO"},
         2,
         "d88cut: TWO: disk image 1 is not the known disk; nothing was cut (--list shows what it "
         "holds)\n",
         nullptr},
        {{"--disk=3", "TWO"}, 1, "d88cut: TWO: has no disk image 3; it holds 2 disk images\n", nullptr},
        {{"--disk=x", "IMAGE"},
         1,
         "d88cut: option '--disk' takes a whole number from 1 to 64, not 'x'\n" + usage,
         nullptr},
        {{"-x", "IMAGE"}, 1, "d88cut: unknown option '-x'\n" + usage, nullptr},
        // Refusals, and no number wrapped round to a small one.
        {{"--disk=0", "TWO"},
         1,
         "d88cut: option '--disk' takes a whole number from 1 to 64, not '0'\n" + usage,
         nullptr},
        {{"--disk=4294967297", "TWO"},
         1,
         "d88cut: option '--disk' takes a whole number from 1 to 64, not '4294967297'\n" + usage,
         nullptr},
        {{"--list=yes", "IMAGE"}, 1, "d88cut: option '--list' takes no value\n" + usage, nullptr},
        {{"--li", "IMAGE"}, 1, "d88cut: unknown option '--li'\n" + usage, nullptr},
        {{"--=out", "IMAGE"}, 1, "d88cut: unknown option '--=out'\n" + usage, nullptr},
        {{"-C", "", "IMAGE"}, 1, "d88cut: option '-C' needs a directory\n" + usage, nullptr},
        {{"IMAGE", "-C"}, 1, "d88cut: option '-C' needs a value\n" + usage, nullptr},
        {{"IMAGE", "IMAGE"},
         1,
         "d88cut: one image at a time, or several dumps with --merge; given 2: " D88CUT_SAMPLE ", " D88CUT_SAMPLE "\n" +
             usage,
         nullptr},
        {{"--merge", "--put=new.d88", "IMAGE", "IMAGE"},
         1,
         "d88cut: option '--merge' cannot go with '--put': a merge takes every known disk image of every IMAGE, and "
         "writes no image\n" +
             usage,
         nullptr},
        {{"--merge", "IMAGE", "IMAGE", "IMAGE", "IMAGE", "IMAGE", "IMAGE", "IMAGE", "IMAGE", "IMAGE", "IMAGE", "IMAGE",
          "IMAGE", "IMAGE", "IMAGE", "IMAGE", "IMAGE", "IMAGE"},
         1,
         "d88cut: option '--merge' takes at most 16 images; given 17\n" + usage,
         nullptr},
        {{"no\nsuch\x1b.d88"},
         1,
         d88test::kOpenFailed + std::string("d88cut: cannot open no\\nsuch\\x1b.d88: No such file "
                                            "or directory\n"),
         nullptr},
    };
    for (const Case& c : cases) {
        Scratch scratch;
        // Files the case may need, there before the run.
        ASSERT_TRUE(d88test::writeFile(scratch.work() + "/afile", {'x'}));
        ASSERT_TRUE(d88test::writeFile(scratch.work() + "/-odd.d88", sample));
        std::filesystem::create_directory(scratch.work() + "/d");
        ASSERT_TRUE(d88test::writeFile(scratch.work() + "/d/IPL3", sample));
        const std::size_t before = entriesBelow(scratch);
        const std::string twoPath = scratch.image(two);
        std::vector<std::string> argv = {"d88cut"};
        for (const std::string& arg : c.args) {
            argv.push_back(arg == "IMAGE" ? D88CUT_SAMPLE : arg == "TWO" ? twoPath : arg);
        }
        const d88test::RunResult run = scratch.run(argv);
        std::string what;
        for (const std::string& arg : c.args) what += arg + " ";
        EXPECT_EQ(run.status, c.status) << what;
        std::string err = c.err;
        if (err.find("TWO") != std::string::npos) err.replace(err.find("TWO"), 3, twoPath);
        EXPECT_EQ(run.err, err) << what;
        EXPECT_EQ(run.out, c.cutInto != nullptr ? d88test::knownDiskLines() : "") << what;
        if (c.cutInto == nullptr) {
            EXPECT_EQ(entriesBelow(scratch), before) << what;
            continue;
        }
        std::map<std::string, Bytes> files = scratch.files(c.cutInto);
        // What the case put there is not the cut's.
        for (const char* prepared : {"afile", "-odd.d88"}) files.erase(prepared);
        std::map<std::string, Bytes> expected = d88test::knownDiskFiles();
        if (std::string(c.cutInto) == "d") expected["IPL3"] = sample;
        EXPECT_EQ(files, expected) << what;
    }
}

// The common CRC-32, bit by bit.
std::uint32_t crcOf(const Bytes& bytes) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (const std::uint8_t b : bytes) {
        c ^= b;
        for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return ~c;
}

TEST(Listing, StatesAndCrcsAgreeWithWhatACutWrites) {
    const std::string check = "123456789";
    ASSERT_EQ(crcOf(Bytes(check.begin(), check.end())), 0xCBF43926u);
    // A near miss, a disk without a boot sector, and the known disk with a
    // block whose first sector is missing, one cut short, one flagged, and
    // PSGMUS slots missing and short.
    Disk nearMiss = diskWithBoot("NEAR", "VORLU        SYS");
    Disk empty;
    empty.name = "EMPTY\x01";
    empty.mediaType = 0x20;
    Disk known = d88test::knownDisk();
    auto sector = [&known](int track, int r) -> d88test::Sector& {
        for (d88test::Sector& s : known.tracks[track]) {
            if (s.r == r) return s;
        }
        throw std::out_of_range("no such sector");
    };
    sector(40, 1).r = 99;         // OPMMUS5: missing
    sector(78, 5).r = 99;         // OPMMUS3: partial
    sector(47, 3).status = 0xB0;  // OPMMUS1: flagged
    for (int t = 22; t <= 30; ++t) sector(t, 17).r = 99;
    sector(31, 17).data.resize(100);  // PSGMUS: 9 slots missing, 1 short
    const Bytes image = d88test::buildImage({nearMiss, empty, known});

    Scratch cut;
    ASSERT_EQ(cut.runOn(image).status, 2);
    const std::map<std::string, Bytes> files = cut.files();

    auto diskLine = [](int n, const char* media, const Disk& disk, const std::string& rest) {
        char head[64];
        std::snprintf(head, sizeof head, "disk %2d  %-4s%11zu  ", n, media, d88test::buildImage({disk}).size());
        return head + rest + "\n";
    };
    auto fileLine = [&files](const char* name, int size, const std::string& state, const std::string& where) {
        char crc[12] = "-";
        if (files.count(name) != 0) std::snprintf(crc, sizeof crc, "%08x", crcOf(files.at(name)));
        char line[256];
        std::snprintf(line, sizeof line, "  %-8s%6d  %-8s%-*s%s\n", name, size, state.c_str(), where.empty() ? 0 : 9,
                      crc, where.c_str());
        return std::string(line);
    };
    std::string known3 = diskLine(3, "2D", known, "known  \"D88CUT SAMPLE\"");
    for (const d88test::Block& b : d88test::kBlocks) {
        const std::string name = b.name;
        known3 += name == "OPMMUS5"   ? fileLine(b.name, b.size, "missing", "track 40 sector 1 missing")
                  : name == "OPMMUS3" ? fileLine(b.name, b.size, "partial", "track 78 sector 5 missing")
                  : name == "OPMMUS1" ? fileLine(b.name, b.size, "flagged", "track 47 sector 3: a data CRC error")
                                      : fileLine(b.name, b.size, "whole", "");
    }
    known3 += fileLine("PSGMUS", 16384, "partial",
                       "track 22 sector 17 missing, track 23 sector 17 missing, track 24 sector 17 "
                       "missing, track 25 sector 17 missing, and 6 more");

    Scratch scratch;
    const std::string path = scratch.image(image);
    const d88test::RunResult all = scratch.run({"d88cut", "-l", path});
    EXPECT_EQ(all.out, diskLine(1, "2D", nearMiss, "other  \"NEAR\"  boot \"VORLU        SYS\"") +
                           diskLine(2, "2HD", empty, "other  \"EMPTY\\x01\"  no-boot-sector") + known3);
    EXPECT_EQ(all.err, "");
    EXPECT_EQ(all.status, 2);  // no known disk would be cut whole
    const d88test::RunResult one = scratch.run({"d88cut", "--list", "--disk=3", "-C", "out", path});
    EXPECT_EQ(one.out, known3);
    EXPECT_EQ(one.status, 2);
    EXPECT_EQ(entriesBelow(scratch), 0u);  // nothing written, not even the directory

    const d88test::RunResult whole = scratch.run({"d88cut", "-l", D88CUT_SAMPLE});
    EXPECT_EQ(whole.status, 0);
    EXPECT_NE(whole.out.find("  PSGMUS   16384  whole   "), std::string::npos);
}

}  // namespace
