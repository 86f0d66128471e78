// Reading that stays bounded and honest: a walk through headers whose counts
// disagree ends, an image built to make a run take hours stops at the work
// budget, and a read the system fails, input that cannot seek or an image
// that changes during the run are said as such, never taken for a damaged
// image.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "d88/d88_reader.h"
#include "image_builder.h"
#include "known_disk_blocks.h"
#include "tool_runner.h"

namespace {

using d88test::Bytes;
using d88test::Disk;
using d88test::Scratch;

// The known disk with 2.6 MiB of records no block uses on track 2, so that
// the blocks lie beyond the 2 MiB the reader reads when it selects the disk.
Disk paddedKnownDisk() {
    Disk padded = d88test::knownDisk();
    for (int i = 0; i < 40; ++i) {
        padded.tracks[2].push_back(d88test::sectorWithId(1, 0, 100 + i, 1, Bytes(65535, 0)));
    }
    return padded;
}

TEST(BoundedWalk, AWalkThroughDisagreeingCountsEndsAfter65535Records) {
    // The first header says two records, every later one says one: no count
    // ends the walk, only its bound. A record is found at the bound's last
    // place, not one beyond it.
    for (const int at : {65534, 65535}) {
        Disk disk;
        std::vector<d88test::Sector>& track = disk.tracks[0];
        for (int i = 0; i <= 65536; ++i) {
            track.push_back(d88test::sectorWithId(0, 0, i == at ? 9 : 0, 1, Bytes(i == at ? 4 : 0, 7)));
            track.back().sectorCount = i == 0 ? 2 : 1;
        }
        Scratch scratch;
        const std::string path = scratch.image(d88test::buildImage({disk}));
        d88::D88Reader reader;
        ASSERT_TRUE(reader.open(path.c_str()));
        ASSERT_TRUE(reader.selectDisk(0));
        std::uint8_t out[4];
        EXPECT_EQ(reader.readSector(0, 0, 0, 9, 1, out, 4) == 0, at == 65535) << at;
        EXPECT_EQ(reader.recordsWalked(), at == 65535 ? 65535 : at + 1);
        static std::uint8_t ids[4 * 70000];
        EXPECT_EQ(reader.readTrackIds(0, ids, sizeof ids), 4 * 65535);
        EXPECT_EQ(reader.failure(), d88::ReadFailure::kNone);
    }
}

TEST(BoundedWalk, AnImageBuiltToExhaustTheBudgetStopsWithOneLine) {
    // 64 recognised disk images whose every walk runs on to the end of the
    // file: through 65,535 records of 16 bytes, about 1.2 billion records in
    // all, or through 256 MiB of records of 65,535 holes, about 16 GiB read.
    // The files written before it stopped stay: PSGMUS, all zero, once the
    // records run out; none, where the bytes run out first.
    struct Row {
        std::uint16_t dataSize;
        std::int64_t fileSize;
        std::map<std::string, Bytes> files;
    };
    const Row rows[] = {{0, 688 * 64 + 16 + 256 + 16 * 65535, {{"PSGMUS", Bytes(16384, 0)}}},
                        {65535, std::int64_t{256} << 20, {}}};
    for (const Row& row : rows) {
        const Bytes prefix = d88test::sharedWalkPrefix();
        const Bytes record = d88test::runRecordHeader(row.dataSize);
        std::vector<std::pair<std::int64_t, Bytes>> pieces = {{0, prefix}};
        for (std::int64_t at = prefix.size(); at + 16 + row.dataSize <= row.fileSize; at += 16 + row.dataSize) {
            pieces.emplace_back(at, record);
        }
        Scratch scratch;
        const std::string path = scratch.root() + "/image.d88";
        ASSERT_TRUE(d88test::writeSparse(path, pieces));
        const d88test::RunResult run = scratch.run({"d88cut", path});
        EXPECT_EQ(run.status, 1) << row.dataSize;
        EXPECT_EQ(run.out.rfind(d88test::kRecognised, 0), 0u);
        // Its last line, and the only one of its kind; those before it tell
        // of the blocks the disk images lack.
        const std::string prefixLine = "d88cut: " + path + ": stopped reading disk image ";
        const std::size_t at = run.err.find(prefixLine);
        ASSERT_NE(at, std::string::npos) << run.err;
        EXPECT_EQ(run.err.find('\n', at), run.err.size() - 1);
        EXPECT_NE(run.err.find(" of 64: ", at), std::string::npos);
        EXPECT_EQ(run.err.find(prefixLine, at + 1), std::string::npos);
        EXPECT_EQ(scratch.files(), row.files) << row.dataSize;
    }
}

TEST(LargeFiles, ADiskImagePastTwoGiBIsCutOnEveryPlatform) {
    // A first disk image of nearly 2 GiB, all of it a hole of a sparse file,
    // then the padded known disk, whose blocks lie past 2 GiB, beyond what
    // the reader reads when it selects the disk.
    constexpr std::int32_t kFirstDiskSize = 0x7FFFF000;
    Disk first;
    first.diskSize = kFirstDiskSize;
    Scratch scratch;
    const std::string path = scratch.root() + "/large.d88";
    ASSERT_TRUE(d88test::writeSparse(
        path, {{0, d88test::buildImage({first})}, {kFirstDiskSize, d88test::buildImage({paddedKnownDisk()})}}));
    const d88test::RunResult run = scratch.run({"d88cut", path});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, d88test::knownDiskLines());
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(scratch.files(), d88test::knownDiskFiles());
}

TEST(ReadErrors, AFailedReadIsReportedAndNeverTakenForAMissingSector) {
    D88CUT_NOT_UNDER_WINE("the failing read is built into a Linux build of the tool");
    // The sample, read whole once, at the listing (call 1).
    const Bytes sample = d88test::readFile(D88CUT_SAMPLE).value();
    // The padded known disk's calls: 1 the listing (which selection reuses),
    // 2 the walk to IPL2 (track 44), 3 the walk to IPL3 (track 3).
    struct Case {
        Bytes image;
        const char* failingCall;
        std::string out;
        std::map<std::string, Bytes> files;
    };
    const std::map<std::string, Bytes> all = d88test::knownDiskFiles();
    const Case cases[] = {
        {sample, "1", "", {}},
        {d88test::buildImage({paddedKnownDisk()}),
         "3",
         std::string(d88test::kRecognised) + d88test::cuttingLine("IPL2"),
         {{"IPL2", all.at("IPL2")}}},
    };
    for (const Case& c : cases) {
        Scratch scratch;
        scratch.useProgram(D88CUT_FAILING_CALLS_EXE);
        const std::string path = scratch.image(c.image);
        const d88test::RunResult run =
            scratch.run({"d88cut", path}, [&c] { ::setenv("D88CUT_FAIL_READ", c.failingCall, 1); });
        EXPECT_EQ(run.status, 1) << c.failingCall;
        EXPECT_EQ(run.out, c.out) << c.failingCall;
        EXPECT_EQ(run.err, "d88cut: cannot read " + path + ": Input/output error\n") << c.failingCall;
        EXPECT_EQ(scratch.files(), c.files) << c.failingCall;
    }
}

TEST(ReadErrors, InputThatIsNotAFileIsRefusedAtOnce) {
    // A FIFO with a writer and one without, which would hold the open for
    // ever, and a device that never ends: refused before anything is read.
    Scratch scratch;
    const Bytes image = d88test::readFile(D88CUT_SAMPLE).value();
    const std::string fifo = scratch.root() + "/image.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    for (const bool writer : {true, false}) {
        for (const std::string& path : {fifo, std::string("/dev/zero")}) {
            // A writer for the FIFO, the test's own child, ended with the
            // case whether or not the tool ever opened the FIFO.
            const pid_t writerPid = writer ? ::fork() : -1;
            if (writerPid == 0) {
                const int fd = ::open(fifo.c_str(), O_WRONLY);
                if (fd >= 0 && ::write(fd, image.data(), image.size()) < 0) ::_exit(1);
                ::_exit(0);
            }
            const d88test::RunResult run = scratch.run({"d88cut", path}, [] { ::alarm(20); });
            if (writerPid > 0) {
                ::kill(writerPid, SIGKILL);
                ::waitpid(writerPid, nullptr, 0);
            }
            EXPECT_EQ(run.status, 1) << path;
            EXPECT_EQ(run.out, "");
            EXPECT_EQ(run.err, "d88cut: cannot read " + path +
                                   ": a pipe or a device cannot be read in the order the disk "
                                   "images need; give the path of a file\n");
            EXPECT_TRUE(scratch.files().empty());
        }
    }
}

TEST(ReadErrors, AnImageChangedDuringTheRunIsReported) {
    D88CUT_NOT_UNDER_WINE("the run is held back by a lock on the directory, which Windows lacks");
    // The tool opens the image, then waits for the directory; meanwhile the
    // image grows, or header bytes no reader looks at are written over in
    // place, which moves only its modification time.
    for (const int flags : {O_WRONLY | O_APPEND, O_WRONLY}) {
        Scratch scratch;
        const std::string path = scratch.image(d88test::readFile(D88CUT_SAMPLE).value());
        d88test::RunResult run;
        {
            const d88test::LockHolder other(scratch.work(), 300, [&path, flags] {
                // Appended, whatever the offset, or at byte 16 of the header.
                const int fd = ::open(path.c_str(), flags);
                if (fd < 0 || ::pwrite(fd, "more", 4, 16) != 4) {
                    ::_exit(1);
                }
            });
            run = scratch.run({"d88cut", path});
        }
        EXPECT_EQ(run.status, 1) << flags;
        EXPECT_EQ(run.out, d88test::knownDiskLines());
        EXPECT_EQ(run.err, "d88cut: " + path +
                               ": the file changed while it was read; the files "
                               "cut from it may mix old and new content\n");
        EXPECT_EQ(scratch.files(), d88test::knownDiskFiles());
    }
}

}  // namespace
