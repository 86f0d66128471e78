// d88cut end to end: the command line, its messages and statuses byte for
// byte, and the recognition of the known disk.
#include <cstring>

#include <gtest/gtest.h>

#include "image_builder.h"
#include "tool_runner.h"

namespace {

using d88test::Bytes;
using d88test::Disk;

// What a recognised disk without any block prints: the announcement and the
// PSGMUS line, which is written on every pass.
const std::string kBareDisk = std::string(d88test::kRecognised) + "cutting ... PSGMUS\n";

// A disk whose only record is a boot sector with these bytes and identity.
Disk bootOnly(Bytes data, int c = 0, int h = 0, int n = 1) {
    Disk disk;
    disk.tracks[0].push_back(d88test::sectorWithId(c, h, 1, n, std::move(data)));
    return disk;
}

Bytes bootWithSignatureAt(std::size_t at, const char* signature = d88test::kSignature) {
    Bytes data(256, 0);
    std::memcpy(&data[at], signature, 16);
    return data;
}

Disk knownBootOnly() { return bootOnly(bootWithSignatureAt(1)); }

TEST(CommandLine, WrongArgumentCountPrintsUsage) {
    d88test::Scratch scratch;
    const std::string image = scratch.image(d88test::buildImage({knownBootOnly()}));
    // Why, the usage line as it stands, and where to look.
    const std::string tail = std::string(d88test::kUsage) + d88test::kTryHelp;
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"d88cut"}, "no image given"},
        {{"d88cut", image, image},
         "one image at a time, or several dumps with --merge; given 2: " + image + ", " + image},
        {{"d88cut", image, "x\ny", "z", "w"},
         "one image at a time, or several dumps with --merge; given 4: " + image + ", x\\ny, z, ..."},
    };
    for (const auto& [argv, why] : cases) {
        const d88test::RunResult run = scratch.run(argv);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "d88cut: " + why + "\n" + tail);
        EXPECT_EQ(run.out, "");
    }
    const d88test::RunResult named = scratch.run({"/opt/bin/cutter"});
    EXPECT_EQ(named.err, "d88cut: no image given\nUsage: /opt/bin/cutter [d88file]\n" + std::string(d88test::kTryHelp));
    EXPECT_TRUE(scratch.files().empty());
}

TEST(CommandLine, UnopenableFileIsReportedInJapaneseThenWithItsReason) {
    d88test::Scratch scratch;
    // A directory opens on some systems, but cannot be read.
    const std::pair<std::string, std::string> cases[] = {
        {scratch.root() + "/absent.d88", "No such file or directory"},
        {scratch.root(), "Is a directory"},
        // Longer than any buffer: the line still ends whole.
        {"/" + std::string(120000, 'a'), "File name too long"},
    };
    for (const auto& [path, reason] : cases) {
        // A Windows command line holds no more than 32,767 characters.
        if (d88test::windowsExe() != nullptr && path.size() > 32767) continue;
        const d88test::RunResult run = scratch.run({"d88cut", path});
        EXPECT_EQ(run.status, 1) << path;
        EXPECT_EQ(run.err, d88test::kOpenFailed + ("d88cut: cannot open " + path + ": " + reason + "\n"));
        EXPECT_EQ(run.out, "") << path;
    }
}

TEST(CommandLine, FileWithoutDiskImagesIsSaidSo) {
    d88test::Scratch scratch;
    for (const Bytes& image : {Bytes(), Bytes(687, 0)}) {
        const d88test::RunResult run = scratch.runOn(image);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "d88cut: " + scratch.root() +
                               "/image.d88: holds no D88 disk image: it is "
                               "shorter than one 688-byte disk header\n");
    }
    EXPECT_TRUE(scratch.files().empty());
}

TEST(Recognition, EachDiskCarryingTheSignatureIsAnnounced) {
    d88test::Scratch scratch;
    const Disk other = bootOnly(Bytes(256, 0x20));
    EXPECT_EQ(scratch.runOn(d88test::buildImage({other, knownBootOnly()})).out, kBareDisk);
    const d88test::RunResult twice = scratch.runOn(d88test::buildImage({knownBootOnly(), other, knownBootOnly()}));
    EXPECT_EQ(twice.out, kBareDisk + kBareDisk);
    // Its blocks are missing.
    EXPECT_EQ(twice.status, 2);
}

TEST(Recognition, OnlyTheExactSignatureAtByteOneMatches) {
    d88test::Scratch scratch;
    const std::vector<Disk> strangers = {
        bootOnly(bootWithSignatureAt(1, "vorlu        sys")),
        bootOnly(bootWithSignatureAt(0)),
        bootOnly(bootWithSignatureAt(2)),
        bootOnly(bootWithSignatureAt(1, "VORLU       Sys ")),
        bootOnly(bootWithSignatureAt(1), 0, 0, 0),  // recorded with N 0
        bootOnly(bootWithSignatureAt(1), 0, 1, 1),  // recorded on head 1
        bootOnly(bootWithSignatureAt(1), 1, 0, 1),  // recorded as cylinder 1
    };
    for (const Disk& disk : strangers) {
        const d88test::RunResult run = scratch.runOn(d88test::buildImage({disk}));
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err,
                  "d88cut: " + scratch.root() + "/image.d88: looked at 1 disk image; none is the known disk\n");
    }
}

TEST(Recognition, NeverComparesBytesAnEarlierDiskLeft) {
    // After a known disk, one without a boot sector, or with one too short to
    // hold the signature, must not pass for the known disk.
    d88test::Scratch scratch;
    const Disk noBoot;
    const Bytes known = bootWithSignatureAt(1);
    const Disk shortBoot = bootOnly(Bytes(known.begin(), known.begin() + 16));
    const Disk n0Boot = bootOnly(known, 0, 0, 0);
    for (const Disk& later : {noBoot, shortBoot, n0Boot}) {
        EXPECT_EQ(scratch.runOn(d88test::buildImage({knownBootOnly(), later})).out, kBareDisk);
    }
    // Seventeen bytes are enough: byte 0 and the whole signature.
    const Disk justEnough = bootOnly(Bytes(known.begin(), known.begin() + 17));
    EXPECT_EQ(scratch.runOn(d88test::buildImage({justEnough})).out, kBareDisk);
}

TEST(Recognition, BootSectorCutByTheEndOfFileIsNotRecognised) {
    d88test::Scratch scratch;
    Bytes image = d88test::buildImage({knownBootOnly(), knownBootOnly()});
    image.resize(image.size() - 256 + 10);  // the second boot sector has 10 bytes
    EXPECT_EQ(scratch.runOn(image).out, kBareDisk);
}

}  // namespace
