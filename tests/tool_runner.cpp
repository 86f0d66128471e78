// Starting d88cut as a child process for end-to-end tests.
#include "tool_runner.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

namespace d88test {

namespace {

std::string slurp(const std::string& path) {
    const std::optional<Bytes> bytes = readFile(path);
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
}

}  // namespace

Scratch::Scratch() {
    char pattern[] = "/tmp/d88cut-test-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    root_ = made != nullptr ? made : "";
    ::mkdir(work().c_str(), 0755);
}

Scratch::~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

std::string Scratch::image(const Bytes& bytes) const {
    const std::string path = root_ + "/image.d88";
    writeFile(path, bytes);
    return path;
}

std::map<std::string, Bytes> Scratch::files() const {
    std::map<std::string, Bytes> found;
    for (const auto& entry : std::filesystem::directory_iterator(work())) {
        if (!entry.is_regular_file() || entry.is_symlink()) continue;
        const std::string name = entry.path().filename().string();
        found[name] = readFile(entry.path().string()).value_or(Bytes());
    }
    return found;
}

RunResult Scratch::run(const std::vector<std::string>& argv,
                       const std::function<void()>& inChild, int signal,
                       int afterMicroseconds) const {
    const std::string outPath = root_ + "/stdout";
    const std::string errPath = root_ + "/stderr";
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0 ||
            ::chdir(work().c_str()) != 0) {
            ::_exit(127);
        }
        if (inChild) inChild();
        ::execv(program_.c_str(), args.data());
        ::_exit(127);
    }
    if (child > 0 && signal != 0) {
        ::usleep(static_cast<useconds_t>(afterMicroseconds));
        ::kill(child, signal);
    }
    RunResult result;
    int status = 0;
    if (child > 0 && ::waitpid(child, &status, 0) == child) {
        if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
        if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    }
    result.out = slurp(outPath);
    result.err = slurp(errPath);
    return result;
}

RunResult Scratch::runOn(const Bytes& bytes) const {
    return run({"d88cut", image(bytes)});
}

LockHolder::LockHolder(const std::string& dir, int milliseconds,
                       const std::function<void()>& beforeRelease) {
    int ready[2];
    if (::pipe(ready) != 0) return;
    std::fflush(nullptr);
    child_ = ::fork();
    if (child_ == 0) {
        const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
        if (fd < 0 || ::flock(fd, LOCK_EX) != 0 || ::write(ready[1], "x", 1) != 1) ::_exit(1);
        ::usleep(static_cast<useconds_t>(milliseconds) * 1000);
        if (beforeRelease) beforeRelease();
        ::_exit(0);
    }
    char byte = 0;
    if (child_ > 0 && ::read(ready[0], &byte, 1) != 1) child_ = -1;
    ::close(ready[0]);
    ::close(ready[1]);
}

LockHolder::~LockHolder() {
    if (child_ > 0) ::waitpid(child_, nullptr, 0);
}

}  // namespace d88test
