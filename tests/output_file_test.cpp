// The record of a file being written, in the test's own process: each way
// through it leaves the name holding the earlier file or the whole new one,
// no temporary name behind, and the signals let go.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "image_builder.h"
#include "platform/platform.h"
#include "tool_runner.h"

namespace {

using d88test::Bytes;

bool termHeld() {
    sigset_t now;
    ::sigprocmask(SIG_BLOCK, nullptr, &now);
    return sigismember(&now, SIGTERM) == 1;
}

TEST(OutputFileRecord, EveryWayThroughLeavesTheOldFileOrTheNewOne) {
    namespace platform = d88cut::platform;
    const Bytes older = {'o', 'l', 'd'};
    const Bytes newer = {'n', 'e', 'w', '!'};
    const std::string stale = ".IPL2.d88cut-" + std::to_string(::getpid());
    struct Case {
        const char* what;
        bool earlier;    // an earlier IPL2, mode 0666
        bool staleTemp;  // a temporary name an earlier process of this number left
        bool commit;     // commit, or roll back
        const char* into;  // the directory, below the scratch's work()
    };
    const Case cases[] = {
        {"a new name", false, false, true, "."},
        {"over an earlier file", true, false, true, "."},
        {"past a stale temporary name", true, true, true, "."},
        {"rolled back", true, false, false, "."},
        {"into a missing directory", true, false, true, "missing"},
    };
    const mode_t mask = ::umask(022);
    for (const Case& c : cases) {
        d88test::Scratch scratch;
        const std::string dir = scratch.work() + "/" + c.into;
        const std::string path = dir + "/IPL2";
        const bool missing = std::string(c.into) == "missing";
        if (c.earlier && !missing) {
            ASSERT_TRUE(d88test::writeFile(path, older));
            ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
        }
        if (c.staleTemp) {
            ASSERT_TRUE(d88test::writeFile(dir + "/" + stale, {'s'}));
        }
        platform::NameStatus status;
        status.exists = c.earlier;
        if (c.earlier && !missing) {
            ASSERT_TRUE(platform::statusOfName(path.c_str(), status)) << c.what;
        }

        platform::OutputFile file;
        const bool created =
            platform::createOutput(file, dir.c_str(), "IPL2", path.c_str(), status);
        if (missing) {
            EXPECT_FALSE(created) << c.what;
            EXPECT_FALSE(termHeld()) << c.what << ": the signals are let go after a failure";
            continue;
        }
        ASSERT_TRUE(created) << c.what;
        // Held exactly while a temporary name exists.
        EXPECT_EQ(termHeld(), c.earlier) << c.what;
        ASSERT_TRUE(platform::writeAll(file.fd, newer.data(), static_cast<int>(newer.size())));
        if (c.commit) {
            EXPECT_EQ(platform::commitOutput(file), platform::Commit::kDone) << c.what;
        } else {
            EXPECT_TRUE(platform::rollbackOutput(file)) << c.what;
        }
        EXPECT_FALSE(termHeld()) << c.what;
        EXPECT_EQ(d88test::readFile(path), c.commit ? newer : older) << c.what;
        struct stat info;
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        // An earlier file's bits are kept, even those the umask would drop.
        EXPECT_EQ(info.st_mode & 0777, c.earlier ? 0666u : 0644u) << c.what;
        std::map<std::string, Bytes> expected = {{"IPL2", c.commit ? newer : older}};
        if (c.staleTemp) expected[stale] = {'s'};
        EXPECT_EQ(scratch.files(), expected) << c.what;
    }
    ::umask(mask);
}

}  // namespace
