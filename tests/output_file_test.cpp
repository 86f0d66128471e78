// The record of a file being written, in the test's own process, where the
// signals it holds can be seen.
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

TEST(OutputFileRecord, AReplacementKeepsTheModeNeverUsesAStaleNameAndLetsTheSignalsGo) {
    // Over an earlier file of mode 0666, which the umask would cut: past a
    // temporary name an earlier process of this number left, and into a
    // directory that is not there.
    namespace platform = d88cut::platform;
    const Bytes newer = {'n', 'e', 'w'};
    const std::string stale = ".IPL2.d88cut-" + std::to_string(::getpid());
    const mode_t mask = ::umask(022);
    for (const bool missing : {false, true}) {
        d88test::Scratch scratch;
        const std::string dir = scratch.work() + (missing ? "/missing" : "");
        const std::string path = dir + "/IPL2";
        ASSERT_TRUE(missing || (d88test::writeFile(path, {'o'}) && ::chmod(path.c_str(), 0666) == 0 &&
                                d88test::writeFile(dir + "/" + stale, {'s'})));
        platform::NameStatus status;
        ASSERT_TRUE(platform::statusOfName(path.c_str(), status));
        status.exists = true;
        platform::OutputFile file;
        const bool created = platform::createOutput(file, dir.c_str(), "IPL2", path.c_str(), status);
        EXPECT_EQ(created, !missing);
        // Held exactly while a temporary name exists.
        EXPECT_EQ(termHeld(), !missing);
        if (missing) continue;
        ASSERT_TRUE(platform::writeAll(file.fd, newer.data(), static_cast<int>(newer.size())));
        EXPECT_EQ(platform::commitOutput(file), platform::Commit::kDone);
        EXPECT_FALSE(termHeld());
        struct stat info;
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0666u);
        EXPECT_EQ(scratch.files(), (std::map<std::string, Bytes>{{"IPL2", newer}, {stale, {'s'}}}));
    }
    ::umask(mask);
}

}  // namespace
