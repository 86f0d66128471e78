// What d88cut tells its user, end to end: one line on standard error for
// every outcome short of a full cut, --help and --version, and the Japanese
// lines in the encoding of whoever reads them.
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include <gtest/gtest.h>

#include "image_builder.h"
#include "known_disk_blocks.h"
#include "tool_runner.h"

namespace {

using d88test::Bytes;
using d88test::Disk;

using d88test::sectorOf;

// A disk image that is not the known disk: its boot sector says otherwise.
Disk stranger() {
    Disk disk;
    disk.tracks[0].push_back(d88test::sectorWithId(0, 0, 1, 1, Bytes(256, 0x20)));
    return disk;
}

Bytes knownDiskWith(void (*change)(Disk&)) {
    Disk disk = d88test::knownDisk();
    change(disk);
    return d88test::buildImage({disk});
}

TEST(Diagnostics, EveryOutcomeShortOfAFullCutIsSaidOnce) {
    struct Case {
        const char* what;
        Bytes image;
        std::vector<std::string> lines;  // words each line of standard error holds
    };
    const std::string text = "not a disk image\n";
    std::vector<Disk> sixtyFive(64, stranger());
    sixtyFive.push_back(d88test::knownDisk());
    Disk sizeZero = stranger();
    sizeZero.diskSize = 0;
    const Case cases[] = {
        {"one header whose disk size is 0",
         d88test::buildImage({stranger(), sizeZero}),
         {"disk image 2 gives its size as 0, so the listing repeats its header up to the limit "
          "of 64 disk images",
          // The repeats are one header, not disk images.
          "looked at 2 disk images; none is the known disk"}},
        {"two known disks, the second without OPMMUS5",
         d88test::buildImage({d88test::knownDisk(),
                              [] {
                                  Disk disk = d88test::knownDisk();
                                  sectorOf(disk, 40, 1).r = 99;
                                  return disk;
                              }()}),
         {"image.d88: disk image 2 is the known disk as well; its files replace those cut from "
          "disk image 1 (--disk=N cuts one disk image alone)",
          "OPMMUS5: not cut: its first sector (track 40, C 20, H 0, R 1) is missing or short; "
          "the OPMMUS5 there was cut from disk image 1 of this image"}},
        {"a text file", Bytes(text.begin(), text.end()), {"holds no D88 disk image"}},
        {"another disk",
         d88test::buildImage({stranger(), stranger()}),
         {"looked at 2 disk images; none is the known disk"}},
        {"the known disk as the 65th",
         d88test::buildImage(sixtyFive),
         {"holds more than 64 disk images; only the first 64 were read",
          "looked at 64 disk images; none is the known disk"}},
        {"sector 17 only on tracks 10 to 21",
         knownDiskWith([](Disk& disk) {
             for (int t = 22; t <= 74; ++t) sectorOf(disk, t, 17).r = 18;
         }),
         {"PSGMUS: 52 of its 64 sectors (sector 17 of tracks 10 to 74, but 56) were not found "
          "whole: track 22 sector 17 missing, track 23 sector 17 missing, track 24 sector 17 "
          "missing, track 25 sector 17 missing, and 48 more; the bytes not found are written as "
          "zero"}},
        {"a data CRC error in OPMMUS1",
         knownDiskWith([](Disk& disk) { sectorOf(disk, 47, 3).status = 0xB0; }),
         {"OPMMUS1: sector (track 47, C 23, H 1, R 3) is recorded with a data CRC error; its "
          "bytes are written as recorded"}},
        {"two flagged sectors in IPL3",
         knownDiskWith([](Disk& disk) {
             sectorOf(disk, 3, 2).status = 0xA0;
             sectorOf(disk, 3, 5).status = 0xE0;
         }),
         {"IPL3: sector (track 3, C 1, H 1, R 2) is recorded with an ID CRC error, and 1 more"}},
        {"a deleted-data mark in a PSGMUS slot",
         knownDiskWith([](Disk& disk) { sectorOf(disk, 20, 17).deletedMark = 0x10; }),
         {"PSGMUS: sector (track 20, C 10, H 0, R 17) is recorded with a deleted-data mark"}},
    };
    for (const Case& c : cases) {
        d88test::Scratch scratch;
        const d88test::RunResult run = scratch.runOn(c.image);
        // Each leaves less than a full cut.
        EXPECT_EQ(run.status, 2) << c.what;
        ASSERT_EQ(static_cast<std::size_t>(std::count(run.err.begin(), run.err.end(), '\n')), c.lines.size())
            << c.what << ":\n"
            << run.err;
        std::size_t from = 0;
        for (const std::string& words : c.lines) {
            const std::size_t end = run.err.find('\n', from);
            EXPECT_NE(run.err.substr(from, end - from).find(words), std::string::npos) << c.what << ": " << run.err;
            from = end + 1;
        }
    }
}

TEST(Diagnostics, HelpAndVersionGoToStandardOutput) {
    d88test::Scratch scratch;
    // -h answers at once, whatever follows it in its word.
    for (const char* option : {"-h", "--help", "-hx", "-hC"}) {
        const d88test::RunResult run = scratch.run({"d88cut", option});
        EXPECT_EQ(run.status, 0) << option;
        EXPECT_EQ(run.out.rfind("Usage: d88cut [OPTION]... IMAGE\n", 0), 0u) << option;
        EXPECT_NE(run.out.find("Exit status"), std::string::npos) << option;
        EXPECT_EQ(run.err, "") << option;
    }
    const d88test::RunResult version = scratch.run({"d88cut", "--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "d88cut " D88CUT_VERSION "\n");
    EXPECT_TRUE(scratch.files().empty());

    // A file really named so is reached by its path.
    ASSERT_TRUE(d88test::writeFile(scratch.work() + "/--help", d88test::readFile(D88CUT_SAMPLE).value()));
    const d88test::RunResult cut = scratch.run({"d88cut", "./--help"});
    EXPECT_EQ(cut.status, 0);
    EXPECT_EQ(cut.out, d88test::knownDiskLines());
}

TEST(Diagnostics, AnImageWithAJapaneseNameIsCutAndNamedReadably) {
    d88test::Scratch scratch;
    const std::string image = scratch.root() + "/\u30B5\u30F3\u30D7\u30EB \u30C7\u30A3\u30B9\u30AF.d88";
    ASSERT_TRUE(d88test::writeFile(image, d88test::readFile(D88CUT_SAMPLE).value()));
    const d88test::RunResult run = scratch.run({"d88cut", image});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, d88test::knownDiskLines());
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(scratch.files(), d88test::knownDiskFiles());
    // A message names it as it was given.
    const d88test::RunResult missing = scratch.run({"d88cut", image + ".missing"});
    EXPECT_EQ(missing.err,
              d88test::kOpenFailed + ("d88cut: cannot open " + image + ".missing: No such file or directory\n"));
}

// What a terminal in this locale shows of a run, standard output and error
// both; the terminal passes bytes through unchanged.
std::string onTerminal(const std::vector<std::string>& argv, const char* locale, const char* variable = "LC_ALL") {
    int master = -1, slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return "no terminal";
    struct termios raw;
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);
    d88test::Scratch scratch;
    scratch.run(argv, [&] {
        for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) ::unsetenv(name);
        ::setenv(variable, locale, 1);
        ::dup2(slave, 1);
        ::dup2(slave, 2);
    });
    ::close(slave);
    std::string shown;
    char chunk[4096];
    for (ssize_t got; (got = ::read(master, chunk, sizeof chunk)) > 0;) shown.append(chunk, got);
    ::close(master);
    return shown;
}

TEST(Encoding, JapaneseLinesAreUtf8OnAUtf8TerminalAndShiftJisElsewhere) {
    D88CUT_NOT_UNDER_WINE("a Unix terminal is not a Windows console");
    const std::string recognisedUtf8 = "Disk A \u3092\u8A8D\u8B58\u3057\u307E\u3057\u305F.\n";
    const std::string cannotOpenUtf8 =
        "\u30D5\u30A1\u30A4\u30EB\u3092\u30AA\u30FC\u30D7\u30F3\u3067\u304D\u307E\u305B\u3093.\n";
    std::string lines;
    for (const d88test::Block& block : d88test::kBlocks) lines += d88test::cuttingLine(block.name);
    lines += d88test::cuttingLine("PSGMUS");

    EXPECT_EQ(onTerminal({"d88cut", D88CUT_SAMPLE}, "C.UTF-8"), recognisedUtf8 + lines);
    EXPECT_EQ(onTerminal({"d88cut", D88CUT_SAMPLE}, "C"), d88test::kRecognised + lines);
    // A locale the C library does not have still says what the terminal shows.
    EXPECT_EQ(onTerminal({"d88cut", D88CUT_SAMPLE}, "xx_YY.utf8", "LANG"), recognisedUtf8 + lines);
    EXPECT_EQ(onTerminal({"d88cut", "/absent.d88"}, "C.UTF-8"),
              cannotOpenUtf8 + "d88cut: cannot open /absent.d88: No such file or directory\n");
    // Into a file, whatever the locale: the Shift_JIS bytes scripts match.
    d88test::Scratch scratch;
    const d88test::RunResult piped = scratch.run({"d88cut", D88CUT_SAMPLE}, [] { ::setenv("LC_ALL", "C.UTF-8", 1); });
    EXPECT_EQ(piped.out, d88test::knownDiskLines());
}

}  // namespace
