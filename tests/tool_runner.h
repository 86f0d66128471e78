// Runs the built d88cut in a scratch directory of its own and captures what
// it printed, its exit status and the files it left there.
#ifndef D88CUT_TESTS_TOOL_RUNNER_H
#define D88CUT_TESTS_TOOL_RUNNER_H

#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "image_builder.h"

namespace d88test {

// The tool's messages, byte for byte; the Japanese two in Shift_JIS.
inline constexpr char kUsage[] = "Usage: d88cut [d88file]\n";
inline constexpr char kTryHelp[] = "Try 'd88cut --help' for more information.\n";
inline constexpr char kOpenFailed[] =
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76\x83\x93"
    "\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1\x2E\x0A";
inline constexpr char kRecognised[] =
    "\x44\x69\x73\x6B\x20\x41\x20\x82\xF0\x94\x46\x8E\xAF\x82\xB5\x82\xDC\x82"
    "\xB5\x82\xBD\x2E\x0A";

// Set in the environment, the path of d88cut.exe: run() then runs it under
// wine, and the tests meet the same expectations as on Linux, CR LF line ends
// and the program name in the usage line aside.
inline const char* windowsExe() { return std::getenv("D88CUT_WINDOWS_EXE"); }

// What cannot be done to a program under wine is skipped, and says why.
#define D88CUT_NOT_UNDER_WINE(why) \
    if (d88test::windowsExe() != nullptr) GTEST_SKIP() << "not under wine: " << (why)

struct RunResult {
    int status = -1;  // exit status, or -1 when the tool did not exit
    int signal = 0;   // the signal that ended the tool, 0 when it exited
    std::string out;
    std::string err;
};

// A fresh directory, removed with everything in it at the end of the test.
// The tool runs in work(); the image and the captured streams live beside it.
class Scratch {
public:
    Scratch();
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    const std::string& root() const { return root_; }
    std::string work() const { return root_ + "/work"; }
    // Writes the image beside the work directory and returns its path.
    std::string image(const Bytes& bytes) const;
    // Every regular file in work(), or in a directory below it, by name.
    std::map<std::string, Bytes> files(const std::string& below = ".") const;
    // Runs d88cut with these arguments (the program name comes first) in
    // work(); `inChild` runs in the child just before the tool starts. With
    // `signal`, the tool is sent that signal `afterMicroseconds` after it
    // was started.
    RunResult run(const std::vector<std::string>& argv, const std::function<void()>& inChild = {}, int signal = 0,
                  int afterMicroseconds = 0) const;
    // d88cut IMAGE, on an image written beside work().
    RunResult runOn(const Bytes& image) const;
    // The program run() starts; the built d88cut unless changed.
    void useProgram(std::string path) { program_ = std::move(path); }

private:
    std::string root_;
    std::string program_ = D88CUT_EXE;
};

// The names of the entries of `dir`.
std::set<std::string> entriesOf(const std::string& dir);

// Another run in a directory, as d88cut sees one: a child process that holds
// the lock on `dir` for `milliseconds`, then runs `beforeRelease` and ends.
// Constructed once the lock is held; destroyed once the child has ended.
class LockHolder {
public:
    LockHolder(const std::string& dir, int milliseconds, const std::function<void()>& beforeRelease = {});
    ~LockHolder();
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

private:
    int child_ = -1;
};

}  // namespace d88test

#endif
