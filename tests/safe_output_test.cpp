// How d88cut replaces its output files, end to end: a name ends up holding
// either the earlier file, untouched, or the complete new one, whatever
// happens to the run; links are replaced, never written through; the input
// image is never replaced; no temporary file is left behind.
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include <gtest/gtest.h>

#include "image_builder.h"
#include "known_disk_blocks.h"
#include "tool_runner.h"

namespace {

using d88test::Bytes;
using d88test::Scratch;

const Bytes kOlder = {'o', 'l', 'd'};

d88test::RunResult runSample(const Scratch& scratch,
                             const std::function<void()>& inChild = {}) {
    return scratch.run({"d88cut", D88CUT_SAMPLE}, inChild);
}

// The sixteen files of the sample, but for `name`, which holds `bytes`.
std::map<std::string, Bytes> sampleFilesWith(const std::string& name, const Bytes& bytes) {
    std::map<std::string, Bytes> files = d88test::knownDiskFiles();
    files[name] = bytes;
    return files;
}

TEST(SafeOutput, LinksOfAnOutputNameAreReplacedNotWrittenThrough) {
    Scratch scratch;
    const std::string outside = scratch.root() + "/outside";
    const std::string other = scratch.root() + "/other";
    const std::string nowhere = scratch.root() + "/nowhere";
    ASSERT_TRUE(d88test::writeFile(outside, kOlder));
    ASSERT_TRUE(d88test::writeFile(other, kOlder));
    ASSERT_EQ(::symlink(outside.c_str(), (scratch.work() + "/IPL2").c_str()), 0);
    ASSERT_EQ(::symlink(nowhere.c_str(), (scratch.work() + "/IPL3").c_str()), 0);
    ASSERT_EQ(::link(other.c_str(), (scratch.work() + "/OPMTBL").c_str()), 0);

    const d88test::RunResult run = runSample(scratch);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, d88test::knownDiskLines());
    EXPECT_EQ(run.err, "");
    // files() lists regular files only: every name is one now.
    EXPECT_EQ(scratch.files(), d88test::knownDiskFiles());
    EXPECT_EQ(d88test::readFile(outside), kOlder);
    EXPECT_EQ(d88test::readFile(other), kOlder);
    EXPECT_FALSE(d88test::readFile(nowhere).has_value());
}

TEST(SafeOutput, ALinkToADeviceIsReplacedNotWrittenThrough) {
    D88CUT_NOT_UNDER_WINE("wine refuses to replace a link to a Unix device");
    Scratch scratch;
    ASSERT_EQ(::symlink("/dev/full", (scratch.work() + "/OPMDRV").c_str()), 0);
    const d88test::RunResult run = runSample(scratch);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(scratch.files(), d88test::knownDiskFiles());
}

TEST(SafeOutput, TheInputImageIsNeverReplaced) {
    // Run in the image's own directory, under an output's name and behind a
    // link of another output's name.
    Scratch scratch;
    const Bytes image = d88test::readFile(D88CUT_SAMPLE).value();
    ASSERT_TRUE(d88test::writeFile(scratch.work() + "/OPMDRV", image));
    ASSERT_EQ(::symlink("OPMDRV", (scratch.work() + "/IPL3").c_str()), 0);

    const d88test::RunResult run = scratch.run({"d88cut", "OPMDRV"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, d88test::knownDiskLines());
    EXPECT_EQ(run.err, "cannot write IPL3: it is the input image\n"
                       "cannot write OPMDRV: it is the input image\n");
    std::map<std::string, Bytes> expected = sampleFilesWith("OPMDRV", image);
    expected.erase("IPL3");  // a link, still to the image
    EXPECT_EQ(scratch.files(), expected);
}

TEST(SafeOutput, AFifoOfAnOutputNameIsReplacedWithoutBeingOpened) {
    D88CUT_NOT_UNDER_WINE("wine refuses to replace a FIFO, which Windows does not have");
    Scratch scratch;
    ASSERT_EQ(::mkfifo((scratch.work() + "/OPMTBL").c_str(), 0644), 0);
    // Opening the FIFO would wait for a reader for ever: the alarm ends it.
    const d88test::RunResult run = runSample(scratch, [] { ::alarm(20); });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(scratch.files(), d88test::knownDiskFiles());
}

TEST(SafeOutput, AWriteCutShortByAFileSizeLimitKeepsTheEarlierFile) {
    // PSGMUS, 16,384 bytes, is the one file above the limit. With SIGXFSZ
    // ignored the write fails and the run goes on; at its default the signal
    // ends the run.
    D88CUT_NOT_UNDER_WINE("a file-size limit and its signal are POSIX's");
    for (const bool ignored : {true, false}) {
        Scratch scratch;
        ASSERT_TRUE(d88test::writeFile(scratch.work() + "/PSGMUS", kOlder));
        const d88test::RunResult run = runSample(scratch, [ignored] {
            ::signal(SIGXFSZ, ignored ? SIG_IGN : SIG_DFL);
            const struct rlimit limit = {8192, 8192};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        });
        if (ignored) {
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(run.err, "cannot write PSGMUS: File too large\n");
        } else {
            EXPECT_EQ(run.signal, SIGXFSZ);
        }
        // No temporary file either: it would be listed.
        EXPECT_EQ(scratch.files(), sampleFilesWith("PSGMUS", kOlder)) << ignored;
    }
}

TEST(SafeOutput, AFullFileSystemKeepsTheEarlierFile) {
    Scratch scratch;
    // Room for the fifteen blocks (17 pages) and the earlier PSGMUS, but not
    // for a new one beside it.
    if (::mount("tmpfs", scratch.work().c_str(), "tmpfs", 0, "size=80k") != 0) {
        GTEST_SKIP() << "no small file system can be mounted here: " << std::strerror(errno);
    }
    struct Unmount {
        std::string at;
        ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
    } unmount{scratch.work()};
    ASSERT_TRUE(d88test::writeFile(scratch.work() + "/PSGMUS", kOlder));

    const d88test::RunResult run = runSample(scratch);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "cannot write PSGMUS: No space left on device\n");
    EXPECT_EQ(scratch.files(), sampleFilesWith("PSGMUS", kOlder));
}

TEST(SafeOutput, AnInterruptedRunLeavesEachNameOldOrNewAndAnnounced) {
    // SIGINT at times spread over a run: every name holds the earlier file or
    // the new one, a new one was announced before it was made, and no
    // temporary file is left.
    D88CUT_NOT_UNDER_WINE("a POSIX signal does not reach a program under wine as Ctrl-C would");
    Scratch scratch;
    const std::map<std::string, Bytes> newer = d88test::knownDiskFiles();
    for (int i = 0; i < 40; ++i) {
        for (const auto& [name, bytes] : newer) {
            ASSERT_TRUE(d88test::writeFile(scratch.work() + "/" + name, kOlder));
        }
        const d88test::RunResult run =
            scratch.run({"d88cut", D88CUT_SAMPLE}, {}, SIGINT, 100 * i);
        EXPECT_TRUE(run.signal == SIGINT || run.status == 0) << i;
        const std::map<std::string, Bytes> files = scratch.files();
        std::string names;
        for (const auto& [name, bytes] : files) names += name + " ";
        ASSERT_EQ(files.size(), newer.size()) << "after SIGINT at " << 100 * i << " us: " << names;
        for (const auto& [name, bytes] : files) {
            if (bytes == kOlder) continue;
            ASSERT_EQ(bytes, newer.at(name)) << name;
            EXPECT_NE(run.out.find(d88test::cuttingLine(name)), std::string::npos) << name;
        }
    }
}

TEST(SafeOutput, ASecondRunInTheDirectoryWaitsForTheFirst) {
    D88CUT_NOT_UNDER_WINE("on Windows the lock is a named mutex, not a lock on the directory");
    Scratch scratch;
    std::chrono::steady_clock::duration waited;
    d88test::RunResult run;
    {
        const d88test::LockHolder other(scratch.work(), 300);
        const auto start = std::chrono::steady_clock::now();
        run = runSample(scratch);
        waited = std::chrono::steady_clock::now() - start;
    }
    EXPECT_GE(waited, std::chrono::milliseconds(250));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(scratch.files(), d88test::knownDiskFiles());
}

TEST(SafeOutput, ABrokenPipeEndsTheRunBeforeAFileIsMade) {
    // The first line goes out before the first file is made: the run ends
    // there, as SIGPIPE ends it, with nothing half-written.
    D88CUT_NOT_UNDER_WINE("SIGPIPE is POSIX's");
    Scratch scratch;
    const d88test::RunResult run = runSample(scratch, [] {
        int ends[2];
        if (::pipe(ends) != 0 || ::dup2(ends[1], 1) < 0) ::_exit(126);
        ::close(ends[0]);
        ::signal(SIGPIPE, SIG_DFL);
    });
    EXPECT_EQ(run.signal, SIGPIPE);
    EXPECT_TRUE(scratch.files().empty());
}

TEST(SafeOutput, AFailedWriteToStandardOutputIsReported) {
    D88CUT_NOT_UNDER_WINE("the Windows C library gives its own reason for a failed write");
    struct Case {
        void (*inChild)();
        const char* reason;
    };
    const Case cases[] = {
        {[] { ::close(1); }, "Bad file descriptor"},
        {[] { ::dup2(::open("/dev/full", O_WRONLY), 1); }, "No space left on device"},
    };
    for (const Case& c : cases) {
        Scratch scratch;
        const d88test::RunResult run = runSample(scratch, c.inChild);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, std::string("cannot write to standard output: ") + c.reason + "\n");
        EXPECT_EQ(scratch.files(), d88test::knownDiskFiles());
    }
}

}  // namespace
