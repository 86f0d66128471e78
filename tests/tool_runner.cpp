// Starting d88cut as a child process for end-to-end tests.
#include "tool_runner.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/personality.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <filesystem>

#include "platform/platform.h"

namespace d88test {

namespace {

std::string slurp(const std::string& path) {
    const std::optional<Bytes> bytes = readFile(path);
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
}

// A Windows program's console lines end in CR LF.
std::string withoutCarriageReturns(const std::string& text) {
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) plain += text[i];
    }
    return plain;
}

// Wine names the program by its Windows path; the usage line names it as the
// test started it.
std::string withProgramName(const std::string& text, const std::string& name) {
    const std::string usage = "Usage: ";
    const std::size_t from = text.find(usage);
    const std::size_t to = text.find(" [d88file]", from);
    if (from == std::string::npos || to == std::string::npos) return text;
    return text.substr(0, from + usage.size()) + name + text.substr(to);
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

std::map<std::string, Bytes> Scratch::files(const std::string& below) const {
    std::map<std::string, Bytes> found;
    std::error_code missing;
    for (const auto& entry : std::filesystem::directory_iterator(work() + "/" + below, missing)) {
        if (!entry.is_regular_file() || entry.is_symlink()) continue;
        const std::string name = entry.path().filename().string();
        found[name] = readFile(entry.path().string()).value_or(Bytes());
    }
    return found;
}

RunResult Scratch::run(const std::vector<std::string>& argv, const std::function<void()>& inChild, int signal,
                       int afterMicroseconds) const {
    const std::string outPath = root_ + "/stdout";
    const std::string errPath = root_ + "/stderr";
    // Under wine the program is wine, and its first argument the exe.
    const bool wine = windowsExe() != nullptr && program_ == D88CUT_EXE;
    std::vector<std::string> line = argv;
    if (wine) {
        line.at(0) = windowsExe();
        line.insert(line.begin(), "wine");
    }
    std::vector<char*> args;
    for (const std::string& a : line) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0 || ::chdir(work().c_str()) != 0) {
            ::_exit(127);
        }
        if (inChild) inChild();
        if (wine) {
            // Wine's own notes would mix with the tool's standard error. With
            // the address space laid out at random, wine now and then cannot
            // map the page it shares with its programs, and fails to start.
            ::setenv("WINEDEBUG", "-all", 1);
            ::personality(ADDR_NO_RANDOMIZE);
            ::execvp("wine", args.data());
        }
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
    if (wine) {
        for (std::string* text : {&result.out, &result.err}) {
            *text = withoutCarriageReturns(*text);
            *text = withProgramName(*text, argv.at(0));
        }
    }
    return result;
}

RunResult Scratch::runOn(const Bytes& bytes) const { return run({"d88cut", image(bytes)}); }

LockHolder::LockHolder(const std::string& dir, int milliseconds, const std::function<void()>& beforeRelease) {
    int ready[2];
    if (::pipe(ready) != 0) return;
    std::fflush(nullptr);
    child_ = ::fork();
    if (child_ == 0) {
        // The tool's own lock, as another run takes it.
        if (d88cut::platform::lockDirectory(dir.c_str(), [](const char*) {}) != d88cut::platform::LockResult::kHeld ||
            ::write(ready[1], "x", 1) != 1) {
            ::_exit(1);
        }
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

std::set<std::string> entriesOf(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

}  // namespace d88test
