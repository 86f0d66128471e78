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

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <regex>

#include <gtest/gtest.h>

#include "image_builder.h"
#include "known_disk_blocks.h"
#include "tool_runner.h"

namespace {

using d88test::Bytes;
using d88test::Scratch;

const Bytes kOlder = {'o', 'l', 'd'};
// Another user, whom the tests become where they run as root.
constexpr int kNobody = 65534;

d88test::RunResult runSample(const Scratch& scratch, const std::function<void()>& inChild = {}) {
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

    // The new image of a put, over a link of its name and over an earlier
    // file another name shares.
    ASSERT_EQ(::symlink(outside.c_str(), (scratch.work() + "/linked.d88").c_str()), 0);
    ASSERT_EQ(::link(other.c_str(), (scratch.work() + "/shared.d88").c_str()), 0);
    for (const std::string name : {"linked.d88", "shared.d88"}) {
        EXPECT_EQ(scratch.run({"d88cut", "--put=" + name, D88CUT_SAMPLE}).status, 0) << name;
        EXPECT_EQ(d88test::readFile(scratch.work() + "/" + name), d88test::readFile(D88CUT_SAMPLE));
    }
    EXPECT_EQ(d88test::readFile(outside), kOlder);
    EXPECT_EQ(d88test::readFile(other), kOlder);
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
    EXPECT_EQ(run.err,
              "d88cut: cannot write IPL3: it is the input image\n"
              "d88cut: cannot write OPMDRV: it is the input image\n");
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
    // PSGMUS, 16,384 bytes, is the one file above the limit. Whether SIGXFSZ
    // is ignored or not, the write fails, is said, and the run goes on.
    D88CUT_NOT_UNDER_WINE("a file-size limit and its signal are POSIX's");
    for (const bool ignored : {true, false}) {
        Scratch scratch;
        ASSERT_TRUE(d88test::writeFile(scratch.work() + "/PSGMUS", kOlder));
        const d88test::RunResult run = runSample(scratch, [ignored] {
            ::signal(SIGXFSZ, ignored ? SIG_IGN : SIG_DFL);
            const struct rlimit limit = {8192, 8192};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        });
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "d88cut: cannot write PSGMUS: File too large\n");
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
    EXPECT_EQ(run.err, "d88cut: cannot write PSGMUS: No space left on device\n");
    EXPECT_EQ(scratch.files(), sampleFilesWith("PSGMUS", kOlder));
}

TEST(SafeOutput, AnInterruptedRunLeavesEachNameOldOrNewAndAnnounced) {
    // Signals that end a run, at times spread over it, into a directory of
    // earlier files and into an empty one: every name holds the earlier file
    // or the new one, a new one was announced before it was made, and no
    // temporary file is left.
    D88CUT_NOT_UNDER_WINE("a POSIX signal does not reach a program under wine as Ctrl-C would");
    const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM};
    Scratch scratch;
    const std::map<std::string, Bytes> newer = d88test::knownDiskFiles();
    for (int i = 0; i < 56; ++i) {
        const int sig = signals[i % 7];
        const bool earlier = i % 2 == 0;
        for (const auto& [name, bytes] : newer) {
            const std::string path = scratch.work() + "/" + name;
            ASSERT_TRUE(earlier ? d88test::writeFile(path, kOlder) : (::unlink(path.c_str()), true));
        }
        const d88test::RunResult run = scratch.run({"d88cut", D88CUT_SAMPLE}, {}, sig, 70 * i);
        EXPECT_TRUE(run.signal == sig || run.status == 0) << i;
        const std::map<std::string, Bytes> files = scratch.files();
        std::string names;
        for (const auto& [name, bytes] : files) names += name + " ";
        // In an empty directory, the names not yet made are absent.
        ASSERT_TRUE(earlier ? files.size() == newer.size() : files.size() <= newer.size())
            << "after signal " << sig << " at " << 70 * i << " us: " << names;
        for (const auto& [name, bytes] : files) {
            if (bytes == kOlder) continue;
            ASSERT_EQ(bytes, newer.at(name)) << name << " after signal " << sig;
            EXPECT_NE(run.out.find(d88test::cuttingLine(name)), std::string::npos) << name;
        }
    }
}

TEST(SafeOutput, ASecondRunInTheDirectoryWaitsForTheFirst) {
    D88CUT_NOT_UNDER_WINE("the other run holds Linux's lock, which a Windows program does not see");
    Scratch scratch;
    std::chrono::steady_clock::duration waited;
    d88test::RunResult run;
    {
        const d88test::LockHolder other(scratch.work(), 800);
        const auto start = std::chrono::steady_clock::now();
        run = runSample(scratch);
        waited = std::chrono::steady_clock::now() - start;
    }
    EXPECT_GE(waited, std::chrono::milliseconds(750));
    EXPECT_EQ(run.status, 0);
    // Said once, after a moment: a run that waits less is silent.
    EXPECT_EQ(run.err, "d88cut: waiting for the lock on the current directory, held by another process\n");
    EXPECT_EQ(scratch.files(), d88test::knownDiskFiles());
}

// Temporary names carry the process number: compared as "PID". strace's
// own notes are not the tool's.
std::string withoutPid(std::string text) {
    if (text.rfind("strace: ", 0) == 0) text.erase(0, text.find('\n') + 1);
    for (std::size_t at = 0; (at = text.find("d88cut-", at)) != std::string::npos;) {
        at += 7;
        std::size_t end = at;
        while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
        if (end > at) text.replace(at, end - at, "PID");
    }
    return text;
}

TEST(SafeOutput, EveryPromiseHoldsAtItsEdge) {
    // Faults the system may throw at a run (injected by strace), earlier
    // files the user may not write, and standard error that cannot be
    // written: each is said, or at least ends the run with status 1, and
    // every other file is still cut.
    D88CUT_NOT_UNDER_WINE("strace, file modes and closed streams are Linux's");
    const std::string strace = "/usr/bin/strace";
    struct Case {
        const char* what;
        std::vector<std::string> injected;  // strace's options; IMAGE stands for the image
        std::function<void()> inChild;
        bool earlier;       // earlier files of every name
        std::size_t cutAt;  // the image cut to this length; 0: whole
        std::string err;    // IMAGE stands for the image's path
        bool cut;           // the files are there, new but for those kept
        std::vector<std::string> kept;
    };
    const Case cases[] = {
        {"the image's identity cannot be read",
         {"inject=newfstatat:error=EIO:when=1", "-P", "IMAGE"},
         {},
         false,
         0,
         "d88cut: cannot read IMAGE: Input/output error\n",
         false,
         {}},
        {"an output's identity cannot be read",
         {"inject=newfstatat:error=EIO:when=1", "-P", "IPL3"},
         {},
         true,
         0,
         "d88cut: cannot write IPL3: cannot tell whether it is the input image: Input/output error\n",
         true,
         {"IPL3"}},
        {"a temporary file cannot be removed",
         {"inject=rename:error=EXDEV:when=1", "-e", "inject=unlink:error=EPERM:when=1"},
         {},
         true,
         0,
         "d88cut: cannot create IPL2: Invalid cross-device link\n"
         "d88cut: left the temporary file .IPL2.d88cut-PID behind: cannot remove it: Operation not "
         "permitted\n",
         true,
         {"IPL2"}},
        {"an earlier file the user may not write",
         {},
         [] {
             if (::geteuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) ::_exit(126);
         },
         true,
         0,
         "d88cut: cannot create IPL2: Permission denied\n",
         true,
         {"IPL2"}},
        {"the lock is refused",
         {"inject=flock:error=ENOLCK"},
         {},
         false,
         0,
         "d88cut: cannot lock the current directory against other runs: No locks available\n",
         false,
         {}},
        {"standard error closed", {}, [] { ::close(2); }, false, 300000, "", false, {}},
        {"standard error full", {}, [] { ::dup2(::open("/dev/full", O_WRONLY), 2); }, false, 300000, "", false, {}},
    };
    for (const Case& c : cases) {
        // Only the portable lock asks flock.
        if (std::string(c.what) == "the lock is refused" && !D88CUT_TESTS_PORTABLE_LOCK) continue;
        Scratch scratch;
        Bytes bytes = d88test::readFile(D88CUT_SAMPLE).value();
        if (c.cutAt > 0) bytes.resize(c.cutAt);
        const std::string image = scratch.image(bytes);
        const std::string ipl3 = scratch.work() + "/IPL3";
        // Open to another user, who may read the image and write here.
        ::chmod(scratch.root().c_str(), 0755);
        ::chmod(scratch.work().c_str(), 0777);
        if (c.earlier) {
            // The other user's files; one of them read-only, and one that
            // keeps its permission bits when it is replaced.
            for (const auto& [name, data] : d88test::knownDiskFiles()) {
                const std::string path = scratch.work() + "/" + name;
                ASSERT_TRUE(d88test::writeFile(path, kOlder));
                ASSERT_EQ(::chown(path.c_str(), kNobody, kNobody), 0);
            }
            ::chmod((scratch.work() + "/IPL2").c_str(), 0444);
            ::chmod(ipl3.c_str(), 0604);
        }
        std::vector<std::string> argv = {"d88cut", image};
        if (!c.injected.empty()) {
            if (::access(strace.c_str(), X_OK) != 0) {
                ADD_FAILURE() << c.what << ": needs " << strace;
                continue;
            }
            argv = {"strace", "-qqq", "-o", "/dev/null", "-e"};
            for (std::string option : c.injected) {
                if (option == "IMAGE") option = image;
                argv.push_back(option);
            }
            argv.insert(argv.end(), {D88CUT_EXE, image});
            scratch.useProgram(strace);
        }
        // LeakSanitizer, in a sanitizer build, cannot work under strace.
        const std::function<void()> underStrace = [] { ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1); };
        const d88test::RunResult run = scratch.run(argv, c.injected.empty() ? c.inChild : underStrace);
        EXPECT_EQ(run.status, 1) << c.what;
        std::string err = c.err;
        if (err.find("IMAGE") != std::string::npos) err.replace(err.find("IMAGE"), 5, image);
        EXPECT_EQ(withoutPid(run.err), err) << c.what;
        if (c.cutAt > 0) continue;
        std::map<std::string, Bytes> expected;
        if (c.cut) expected = d88test::knownDiskFiles();
        for (const std::string& name : c.kept) expected[name] = kOlder;
        std::map<std::string, Bytes> files = scratch.files();
        // A temporary file left behind is named in its line.
        for (auto it = files.begin(); it != files.end();) {
            it = it->first[0] == '.' ? files.erase(it) : std::next(it);
        }
        EXPECT_EQ(files, expected) << c.what;
        struct stat info;
        if (c.cut && ::stat(ipl3.c_str(), &info) == 0) {
            EXPECT_EQ(info.st_mode & 0777, 0604u) << c.what;
        }
    }
}

TEST(SafeOutput, AFailedCloseOrSyncIsSaidAndLeavesTheEarlierFileOrNone) {
    // Where the system reports a failed write only at the close, or at the
    // flush --sync asks for: on the way without a name (a new name) and by a
    // temporary name (over a file).
    D88CUT_NOT_UNDER_WINE("the failing calls are made in a Linux build of the tool, or by strace");
    for (const int way : {0, 1, 2, 3}) {
        const bool sync = way >= 2;
        const bool earlier = way % 2 == 1;
        Scratch scratch;
        if (earlier) {
            for (const auto& [name, data] : d88test::knownDiskFiles()) {
                ASSERT_TRUE(d88test::writeFile(scratch.work() + "/" + name, kOlder));
            }
        }
        d88test::RunResult run;
        if (sync) {
            scratch.useProgram("/usr/bin/strace");
            run = scratch.run({"strace", "-qqq", "-o", "/dev/null", "-e", "inject=fdatasync:error=EIO:when=1",
                               D88CUT_EXE, "--sync", D88CUT_SAMPLE},
                              [] { ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1); });
        } else {
            scratch.useProgram(D88CUT_FAILING_CALLS_EXE);
            run = runSample(scratch, [] { ::setenv("D88CUT_FAIL_CLOSE", "1", 1); });
        }
        EXPECT_EQ(run.status, 1) << way;
        EXPECT_EQ(run.out, d88test::knownDiskLines()) << way;
        EXPECT_EQ(run.err, "d88cut: cannot write IPL2: Input/output error\n") << way;
        std::map<std::string, Bytes> expected = d88test::knownDiskFiles();
        if (earlier) {
            expected["IPL2"] = kOlder;
        } else {
            expected.erase("IPL2");
        }
        // No temporary name either.
        EXPECT_EQ(scratch.files(), expected) << way;
    }
}

TEST(SafeOutput, SyncPushesEveryDirectoryTheRunNamedSomethingIn) {
    D88CUT_NOT_UNDER_WINE("strace is Linux's");
    Scratch scratch;
    ASSERT_EQ(::mkdir((scratch.work() + "/old").c_str(), 0755), 0);
    const std::string trace = scratch.root() + "/trace";
    scratch.useProgram("/usr/bin/strace");
    EXPECT_EQ(scratch
                  .run({"strace", "-qqq", "-o", trace, "-e", "trace=openat,fsync", D88CUT_EXE, "--sync", "-C",
                        "old/new/dir", D88CUT_SAMPLE},
                       [] { ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1); })
                  .status,
              0);
    // The directories opened and pushed: the files' names, then the name of
    // each directory the run made, in the one that holds it.
    const Bytes bytes = d88test::readFile(trace).value();
    const std::string log(bytes.begin(), bytes.end());
    const std::regex pushed(R"re(openat\(AT_FDCWD, "([^"]*)", [^)]*O_DIRECTORY\) = (\d+)\nfsync\(\2\) *= 0)re");
    std::vector<std::string> dirs;
    for (std::sregex_iterator it(log.begin(), log.end(), pushed), end; it != end; ++it) dirs.push_back((*it)[1]);
    EXPECT_EQ(dirs, (std::vector<std::string>{"old/new/dir", "old/new", "old"}));
}

TEST(SafeOutput, ABrokenPipeStillCutsEveryFile) {
    // Standard output only reports the work: with its reader gone, every
    // file is still cut, and the run ends saying so.
    D88CUT_NOT_UNDER_WINE("SIGPIPE is POSIX's");
    Scratch scratch;
    const d88test::RunResult run = runSample(scratch, [] {
        int ends[2];
        if (::pipe(ends) != 0 || ::dup2(ends[1], 1) < 0) ::_exit(126);
        ::close(ends[0]);
        ::signal(SIGPIPE, SIG_DFL);
    });
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "d88cut: cannot write to standard output: Broken pipe\n");
    EXPECT_EQ(scratch.files(), d88test::knownDiskFiles());
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
        EXPECT_EQ(run.err, std::string("d88cut: cannot write to standard output: ") + c.reason + "\n");
        EXPECT_EQ(scratch.files(), d88test::knownDiskFiles());
    }
}

}  // namespace
