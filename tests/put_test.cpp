// d88cut --put end to end: edited files go back into a copy of the image,
// into the sectors a cut takes them from and nowhere else, and a put that
// cannot be done writes nothing.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include <gtest/gtest.h>

#include "image_builder.h"
#include "known_disk_blocks.h"
#include "tool_runner.h"

namespace {

using d88test::Bytes;
using d88test::Disk;
using d88test::Scratch;

using d88test::inverted;

TEST(Put, EditedFilesComeBackAndNothingElseChanges) {
    std::vector<std::string> all;
    for (const auto& [name, bytes] : d88test::knownDiskFiles()) all.push_back(name);
    struct Case {
        const char* what;
        int disks;  // known disks in the image; the last is put into
        std::vector<std::string> edited;
        bool flagged = false;  // track 78 sector 5 (in OPMMUS3) recorded with a data CRC error
    };
    const Case cases[] = {
        {"one file", 1, {"OPMMUS3"}},
        {"all sixteen", 1, all},
        {"PSGMUS", 1, {"PSGMUS"}},
        {"a sector IPL2 shares with PSGDRV", 1, {"IPL2"}},
        {"the second of two disk images", 2, {"OPMMUS1"}},
        {"over a sector recorded with an error", 1, {"OPMMUS3"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<d88test::Placed> places;
        Disk known = d88test::knownDisk();
        if (c.flagged) d88test::sectorOf(known, 78, 5).status = 0xB0;
        const Bytes before = d88test::buildImage(std::vector<Disk>(c.disks, known), &places);
        Scratch scratch;
        const std::string image = scratch.image(before);
        const std::string disk = "--disk=" + std::to_string(c.disks);
        ASSERT_EQ(scratch.run({"d88cut", "-C", "game", disk, image}).status, c.flagged ? 2 : 0);
        // Only the data of the edited files' sectors on that disk may change.
        std::vector<bool> theirs(before.size());
        for (const std::string& name : c.edited) {
            d88test::writeFile(scratch.work() + "/game/" + name, inverted(scratch.files("game").at(name)));
            for (const d88test::Placed& p : places) {
                const auto sectors = d88test::fileSectors(name);
                if (p.disk == c.disks - 1 &&
                    std::count(sectors.begin(), sectors.end(), std::make_pair(p.track, int{p.r}))) {
                    std::fill(theirs.begin() + p.dataAt, theirs.begin() + p.dataAt + 256, true);
                }
            }
        }
        // What it would put, said and not done.
        const std::string listed = scratch.run({"d88cut", "-l", "-C", "game", "--put=new.d88", disk, image}).out;
        for (const std::string& name : c.edited) {
            EXPECT_NE(listed.find("  " + name + std::string(8 - name.size(), ' ') + "put\n"), std::string::npos);
        }
        EXPECT_FALSE(d88test::readFile(scratch.work() + "/new.d88").has_value());
        const d88test::RunResult put = scratch.run({"d88cut", "-C", "game", "--put=new.d88", disk, image});
        EXPECT_EQ(put.status, 0) << put.err;
        // Silent but for a sector the dump recorded as read badly.
        EXPECT_EQ(put.err.find("OPMMUS3: put over sector (track 78, C 39, H 0, R 5), recorded with a data CRC "
                               "error; the records keep their marks\n") != std::string::npos,
                  c.flagged)
            << put.err;
        EXPECT_EQ(put.err.empty(), !c.flagged);
        ASSERT_EQ(scratch.run({"d88cut", "-C", "check", disk, "new.d88"}).status, c.flagged ? 2 : 0);
        for (const std::string& name : c.edited) {
            EXPECT_EQ(scratch.files("check").at(name), scratch.files("game").at(name)) << name;
        }
        const Bytes after = d88test::readFile(scratch.work() + "/new.d88").value();
        ASSERT_EQ(after.size(), before.size());
        for (std::size_t i = 0; i < before.size(); ++i) ASSERT_TRUE(after[i] == before[i] || theirs[i]) << i;
        EXPECT_NE(after, before);
        EXPECT_EQ(d88test::readFile(image), before);
    }
}

TEST(Put, ARefusalOrAFailureWritesNothing) {
    const Bytes sample = d88test::readFile(D88CUT_SAMPLE).value();
    Disk gap = d88test::knownDisk();
    d88test::sectorOf(gap, 3, 5).r = 99;
    struct Case {
        const char* what;
        Bytes image;
        std::string prepare;  // a shell command run in the work directory
        std::string put;      // IMAGE stands for the image's path
        std::string err;      // words of the one line on standard error
    };
    const Case cases[] = {
        {"a file of another size", sample, "truncate -s 1000 game/IPL2;", "new.d88",
         "cannot put game/IPL2: it has 1000 bytes, and IPL2 has 1024"},
        {"two changes of one sector", sample,
         "printf A | dd of=game/IPL2 conv=notrunc; printf B | dd of=game/PSGDRV seek=1536 bs=1 conv=notrunc;",
         "new.d88", "cannot put PSGDRV and IPL2: they change sector (track 44, C 22, H 0, R 11) each its own way"},
        {"a file over a missing sector", d88test::buildImage({gap}), "", "new.d88",
         "cannot put IPL3: its sector (track 3, C 1, H 1, R 5) is missing or short"},
        {"the known disk twice", d88test::buildImage({d88test::knownDisk(), d88test::knownDisk()}), "", "new.d88",
         "holds the known disk 2 times (disk images 1, 2); --disk=N says which"},
        {"the image by its name", sample, "", "IMAGE", "it is the input image"},
        {"the image by a link", sample, "ln -s ../image.d88 new.d88;", "new.d88",
         "cannot write new.d88: it is the input image"},
        {"the image by a hard link", sample, "ln ../image.d88 new.d88;", "new.d88",
         "cannot write new.d88: it is the input image"},
        {"no file", sample, "rm game/*;", "new.d88", "nothing to put: game holds none of the sixteen files"},
        {"a write that fails", sample, "", "STRACE", "cannot write new.d88: No space left on device"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.put == "STRACE" && d88test::windowsExe() != nullptr) continue;
        Scratch scratch;
        const std::string image = scratch.image(c.image);
        scratch.run({"d88cut", "-C", "game", "--disk=1", image});
        ASSERT_EQ(std::system(("cd " + scratch.work() + " && { " + c.prepare + " :; } 2>/dev/null").c_str()), 0);
        const std::set<std::string> before = d88test::entriesOf(scratch.work());
        std::vector<std::string> argv = {"d88cut", "-C", "game", "--put=" + (c.put == "IMAGE" ? image : "new.d88"),
                                         image};
        if (c.put == "STRACE") {
            scratch.useProgram("/usr/bin/strace");
            argv.insert(argv.begin(),
                        {"strace", "-qqq", "-o", "/dev/null", "-e", "inject=write:error=ENOSPC:when=2", D88CUT_EXE});
            argv.erase(argv.begin() + 7);
        }
        const d88test::RunResult run = scratch.run(argv, [] { ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1); });
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        // No new image, no temporary file; the image as it was.
        EXPECT_EQ(d88test::entriesOf(scratch.work()), before);
        EXPECT_EQ(d88test::readFile(image), c.image);
    }
}

}  // namespace
