// d88cut --put end to end: edited files go back into a copy of the image,
// into the sectors a cut takes them from and nowhere else, and a put that
// cannot be done writes nothing.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

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
        bool flagged = false;        // track 78 sector 5 (in OPMMUS3) recorded with a data CRC error
        std::string firstOnly = {};  // PSGDRV, changed in its first sector alone
    };
    const Case cases[] = {
        {"one file", 1, {"OPMMUS3"}},
        {"all sixteen", 1, all},
        {"PSGMUS", 1, {"PSGMUS"}},
        {"a sector IPL2 shares with PSGDRV", 1, {"IPL2"}},
        {"the second of two disk images", 2, {"OPMMUS1"}},
        {"over a sector recorded with an error", 1, {"OPMMUS3"}, true},
        // PSGDRV's sectors 7 to 10 are IPL2's: IPL2's change of them is put.
        {"a shared sector one file changes and another leaves", 1, {"PSGDRV", "IPL2"}, false, "PSGDRV"},
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
        const std::map<std::string, Bytes> cut = scratch.files("game");
        // Only the data of the edited files' sectors on that disk may change.
        std::vector<bool> theirs(before.size());
        for (const std::string& name : c.edited) {
            Bytes edit = inverted(cut.at(name));
            if (name == c.firstOnly) std::copy(cut.at(name).begin() + 256, cut.at(name).end(), edit.begin() + 256);
            d88test::writeFile(scratch.work() + "/game/" + name, edit);
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
        // Each file edited comes back as given; PSGDRV, changed in its
        // first sector alone, holds IPL2's change in its sectors 7 to 10.
        for (const std::string& name : c.edited) {
            Bytes expected = scratch.files("game").at(name);
            if (name == c.firstOnly) {
                const Bytes ipl2 = scratch.files("game").at("IPL2");
                std::copy(ipl2.begin(), ipl2.end(), expected.begin() + 6 * 256);
            }
            EXPECT_EQ(scratch.files("check").at(name), expected) << name;
        }
        const Bytes after = d88test::readFile(scratch.work() + "/new.d88").value();
        ASSERT_EQ(after.size(), before.size());
        for (std::size_t i = 0; i < before.size(); ++i) ASSERT_TRUE(after[i] == before[i] || theirs[i]) << i;
        EXPECT_NE(after, before);
        EXPECT_EQ(d88test::readFile(image), before);
    }
}

// The other disk image of a layout: its boot sector blank, where IPL2's
// first sector stood in the transfer buffer that once held every file.
Disk blankBoot() {
    Disk disk;
    disk.tracks[0].push_back(d88test::sectorWithId(0, 0, 1, 1, Bytes(256, 0)));
    return disk;
}

TEST(Put, EveryLayoutPutsIntoItsKnownDiskAlone) {
    const Disk known = d88test::knownDisk();
    struct Layout {
        const char* what;
        std::vector<Disk> disks;
        int known;  // the known disk put into, from 1, with --disk; without it too, unless it is there twice
        bool twice;
    };
    const Layout layouts[] = {
        {"[known]", {known}, 1, false},
        {"[known, other]", {known, blankBoot()}, 1, false},
        {"[other, known]", {blankBoot(), known}, 2, false},
        {"[known, known]", {known, known}, 2, true},
    };
    struct Edit {
        const char* what;
        const char* file;  // the file edited; null: none
        int at;            // the byte of it that changes
        std::function<void(Bytes&)> change;
    };
    const Edit edits[] = {
        {"nothing edited", nullptr, 0, {}},
        // PSGDRV's seventh sector is IPL2's first; IPL2 is given as it was.
        {"PSGDRV where it shares a sector with IPL2", "PSGDRV", 6 * 256, [](Bytes& b) { b[6 * 256] ^= 0xFF; }},
        {"IPL2's first sector as the other disk's boot sector", "IPL2", 0,
         [](Bytes& b) { std::fill(b.begin(), b.begin() + 256, 0); }},
    };
    for (const Layout& layout : layouts) {
        for (const bool withDisk : {false, true}) {
            for (const Edit& edit : edits) {
                SCOPED_TRACE(std::string(layout.what) + (withDisk ? " --disk, " : ", ") + edit.what);
                std::vector<d88test::Placed> places;
                const Bytes before = d88test::buildImage(layout.disks, &places);
                Scratch scratch;
                const std::string image = scratch.image(before);
                const std::string disk = "--disk=" + std::to_string(layout.known);
                ASSERT_EQ(scratch.run({"d88cut", "-C", "game", disk, image}).status, 0);
                Bytes edited = edit.file ? scratch.files("game").at(edit.file) : Bytes();
                if (edit.file) {
                    edit.change(edited);
                    d88test::writeFile(scratch.work() + "/game/" + edit.file, edited);
                }
                std::vector<std::string> args = {"d88cut", "-C", "game", "--put=new.d88", image};
                if (withDisk) args.push_back(disk);
                const bool refused = layout.twice && !withDisk;
                std::vector<std::string> listing = args;
                listing.insert(listing.begin() + 1, "--json");
                const d88test::RunResult listed = scratch.run(listing);
                const d88test::RunResult put = scratch.run(args);
                EXPECT_EQ(listed.status, refused ? 1 : 0) << listed.err;
                EXPECT_EQ(put.status, refused ? 1 : 0) << put.err;
                // Each file's action as the listing of the put gives it.
                const nlohmann::json doc = nlohmann::json::parse(listed.out);
                for (const nlohmann::json& file : doc.at("files")) {
                    const bool edited = edit.file && file.at("name") == edit.file;
                    EXPECT_EQ(file.at("action"), refused ? "unchanged" : edited ? "put" : "unchanged") << file;
                }
                if (refused) {
                    EXPECT_FALSE(d88test::readFile(scratch.work() + "/new.d88").has_value());
                    continue;
                }
                // The copy is the image but for the edited sector of the
                // known disk put into, which holds the edit.
                Bytes expected = before;
                for (const d88test::Placed& p : places) {
                    if (!edit.file || p.disk != layout.known - 1 ||
                        std::make_pair(p.track, int{p.r}) != d88test::fileSectors(edit.file)[edit.at / 256]) {
                        continue;
                    }
                    std::copy_n(edited.begin() + edit.at / 256 * 256, 256, expected.begin() + p.dataAt);
                }
                EXPECT_EQ(d88test::readFile(scratch.work() + "/new.d88").value(), expected);
            }
        }
    }
}

// An image in which track 45's entry points into the data of OPMTBL's
// sector, where bytes that read as the header of its sector 17 begin: that
// PSGMUS slot overlaps OPMTBL's sector without being it.
Bytes overlappingSlot() {
    Disk disk = d88test::knownDisk();
    Bytes& data = d88test::sectorOf(disk, 44, 15).data;
    const std::uint8_t header[16] = {22, 1, 17, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    std::copy(header, header + 16, data.begin());
    std::vector<d88test::Placed> places;
    d88test::buildImage({disk}, &places);
    for (const d88test::Placed& p : places) {
        if (p.track == 44 && p.r == 15) disk.trackOffsets[45] = static_cast<std::int32_t>(p.dataAt);
    }
    return d88test::buildImage({disk});
}

void invertFile(const std::string& path) { d88test::writeFile(path, inverted(d88test::readFile(path).value())); }

TEST(Put, ARefusalOrAFailureWritesNothing) {
    const Bytes sample = d88test::readFile(D88CUT_SAMPLE).value();
    Disk gap = d88test::knownDisk();
    d88test::sectorOf(gap, 3, 5).r = 99;
    Disk shortSector = d88test::knownDisk();
    d88test::sectorOf(shortSector, 3, 5).data.resize(128);
    Disk other;
    other.tracks[0].push_back(d88test::sectorWithId(0, 0, 1, 1, Bytes(256, ' ')));
    struct Case {
        const char* what;
        Bytes image;
        std::string prepare;  // a shell command run in the work directory
        // The --put value and any more arguments; IMAGE: the image's path;
        // STRACE, FAIL_READ, FAIL_STAT, LOCKED: see below.
        std::string put;
        std::string err;  // words of the one line on standard error
        // A listing of the put refuses it too, and names this file's refusal
        // ("" for a refusal of the whole put); null: only the put can see it.
        const char* listed = "";
        std::function<void(const std::string& game)> edit = {};
    };
    const char* const name = "cannot write new.d88: it is the input image";
    const Case cases[] = {
        {"a file of another size", sample, "truncate -s 1000 game/IPL2;", "new.d88",
         "cannot put game/IPL2: it has 1000 bytes, and IPL2 has 1024", "IPL2"},
        {"a file one byte longer", sample, "truncate -s 1025 game/IPL2;", "new.d88",
         "cannot put game/IPL2: it has 1025 bytes, and IPL2 has 1024", "IPL2"},
        {"two changes of one sector", sample,
         "printf A | dd of=game/IPL2 conv=notrunc; printf B | dd of=game/PSGDRV seek=1536 bs=1 conv=notrunc;",
         "new.d88", "cannot put PSGDRV and IPL2: they change sector (track 44, C 22, H 0, R 11) each its own way",
         "PSGDRV"},
        {"a file over a missing sector", d88test::buildImage({gap}), "", "new.d88",
         "cannot put IPL3: its sector (track 3, C 1, H 1, R 5) is missing or short", "IPL3"},
        {"a file over a short sector", d88test::buildImage({shortSector}), "", "new.d88",
         "cannot put IPL3: its sector (track 3, C 1, H 1, R 5) is missing or short", "IPL3"},
        {"a directory of a file's name", sample, "rm game/IPL2; mkdir game/IPL2;", "new.d88",
         "cannot read game/IPL2: Is a directory", "IPL2"},
        {"the known disk twice", d88test::buildImage({d88test::knownDisk(), d88test::knownDisk()}), "", "new.d88",
         "holds the known disk 2 times (disk images 1, 2); --disk=N says which"},
        {"--disk of another disk", d88test::buildImage({other, d88test::knownDisk()}), "", "new.d88 --disk=1",
         "disk image 1 is not the known disk; nothing was put"},
        {"the image by its name", sample, "", "IMAGE", "it is the input image"},
        {"the image by a link", sample, "ln -s ../image.d88 new.d88;", "new.d88", name},
        {"the image by a hard link", sample, "ln ../image.d88 new.d88;", "new.d88", name},
        {"no file", sample, "rm game/*;", "new.d88", "nothing to put: game holds none of the sixteen files"},
        {"a write that fails", sample, "", "STRACE", "cannot write new.d88: No space left on device", nullptr},
        {"a copy that reads back wrong", overlappingSlot(), "", "new.d88",
         "read back, it does not give PSGMUS as put; nothing was written", nullptr,
         [](const std::string& game) {
             invertFile(game + "/OPMTBL");
             invertFile(game + "/PSGMUS");
         }},
        // The image once, then the sixteen files, then the copy read back.
        {"a read of the copy that fails", sample, "", "FAIL_READ=18", "cannot read new.d88: Input/output error",
         nullptr},
        // At its opening, at its disk's boot sector and files, then at its end.
        {"a status of the image that fails", sample, "", "FAIL_STAT=4", "image.d88: Input/output error", nullptr},
        {"the image changed while the put waits for the lock", sample, "", "LOCKED",
         "the file changed while it was read; nothing was written", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const bool linux = c.put == "STRACE" || c.put.rfind("FAIL_", 0) == 0 || c.put == "LOCKED";
        if (linux && d88test::windowsExe() != nullptr) continue;
        Scratch scratch;
        const std::string image = scratch.image(c.image);
        scratch.run({"d88cut", "-C", "game", "--disk=1", image});
        ASSERT_EQ(std::system(("cd " + scratch.work() + " && { " + c.prepare + " :; } 2>/dev/null").c_str()), 0);
        if (c.edit) c.edit(scratch.work() + "/game");
        const std::set<std::string> before = d88test::entriesOf(scratch.work());
        std::vector<std::string> argv = {"d88cut", "-C", "game", "--put=" + (c.put == "IMAGE" ? image : "new.d88"),
                                         image};
        if (c.put.find(' ') != std::string::npos) argv.push_back(c.put.substr(c.put.find(' ') + 1));
        // What a listing of the put says, and its document.
        for (const char* mode : {"-l", "--json"}) {
            if (c.listed == nullptr) break;
            std::vector<std::string> listing = argv;
            listing.insert(listing.begin() + 1, mode);
            const d88test::RunResult listed = scratch.run(listing);
            EXPECT_EQ(listed.status, 1) << mode;
            EXPECT_NE(listed.err.find(c.err), std::string::npos) << mode << ": " << listed.err;
            if (mode == std::string("-l")) continue;
            const nlohmann::json doc = nlohmann::json::parse(listed.out);
            EXPECT_EQ(doc.at("status"), 1);
            for (const nlohmann::json& file : doc.at("files")) {
                EXPECT_EQ(file.at("refusal").is_null(), file.at("name") != c.listed) << file;
            }
        }
        std::function<void()> inChild = [] { ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1); };
        if (c.put == "STRACE") {
            scratch.useProgram("/usr/bin/strace");
            argv.insert(argv.begin(),
                        {"strace", "-qqq", "-o", "/dev/null", "-e", "inject=write:error=ENOSPC:when=2", D88CUT_EXE});
            argv.erase(argv.begin() + 7);
        } else if (c.put.rfind("FAIL_", 0) == 0) {
            scratch.useProgram(D88CUT_FAILING_CALLS_EXE);
            const std::string variable = "D88CUT_" + c.put.substr(0, c.put.find('='));
            const std::string nth = c.put.substr(c.put.find('=') + 1);
            inChild = [variable, nth] { ::setenv(variable.c_str(), nth.c_str(), 1); };
        }
        // Another run holds the directory, and appends to the image as it lets go.
        std::optional<d88test::LockHolder> other;
        if (c.put == "LOCKED") {
            other.emplace(scratch.work() + "/game", 300, [&image] {
                const int fd = ::open(image.c_str(), O_WRONLY | O_APPEND);
                if (fd < 0 || ::write(fd, "more", 4) != 4) ::_exit(1);
            });
        }
        const d88test::RunResult run = scratch.run(argv, inChild);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        // No new image, no temporary file; the image as it was.
        EXPECT_EQ(d88test::entriesOf(scratch.work()), before);
        EXPECT_TRUE(c.put == "LOCKED" || d88test::readFile(image) == c.image);
    }
}

TEST(Put, ACopyIsNoWalk) {
    D88CUT_NOT_UNDER_WINE("a copy of over 1 GiB takes minutes under wine");
    // The known disk, then a disk image of 1.1 GiB of which nothing is read
    // but its header, in a sparse file: the cut reads it whole, the put
    // copies it whole.
    Disk huge;
    huge.diskSize = (1 << 30) + (100 << 20);
    Scratch scratch;
    const std::string path = scratch.root() + "/huge.d88";
    const Bytes known = d88test::buildImage({d88test::knownDisk()});
    ASSERT_TRUE(d88test::writeSparse(
        path,
        {{0, known}, {known.size(), d88test::buildImage({huge})}, {known.size() + *huge.diskSize - 1, Bytes(1, 0)}}));
    ASSERT_EQ(scratch.run({"d88cut", "-C", "game", path}).status, 0);
    invertFile(scratch.work() + "/game/OPMMUS3");
    const d88test::RunResult put = scratch.run({"d88cut", "-C", "game", "--put=new.d88", path});
    EXPECT_EQ(put.status, 0) << put.err;
    EXPECT_EQ(put.err, "");
    ASSERT_EQ(scratch.run({"d88cut", "-C", "check", "new.d88"}).status, 0);
    EXPECT_EQ(scratch.files("check").at("OPMMUS3"), scratch.files("game").at("OPMMUS3"));
    std::filesystem::remove(scratch.work() + "/new.d88");
}

}  // namespace
