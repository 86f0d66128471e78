// Progress lines and output files: a name only ever holds the earlier file,
// untouched, or the complete new one, whatever happens to the run.
#include "tool/output.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace d88cut {

namespace {

// A temporary name is ".NAME.d88cut-PID", or with "-K" added when a file of
// that name is already there (left by a killed run whose number came back).
constexpr char kTempFormat[] = ".%s.d88cut-%lu";
constexpr char kTempRetryFormat[] = ".%s.d88cut-%lu-%d";
constexpr int kTempTries = 100;
// Room for ".OPMMUS0.d88cut-" with any process number and retry count.
constexpr std::size_t kTempNameSize = 64;

// The temporary file a terminating signal removes: the name is whole before
// `guarding` is set.
char guardedName[kTempNameSize];
volatile std::sig_atomic_t guarding = 0;

extern "C" void removeGuardedAndDie(int sig) {
    if (guarding) platform::removeName(guardedName);
    // The default action, with the signal blocked until this handler returns:
    // the process then ends as the signal would have ended it.
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

void guard(const char* name) {
    guarding = 0;
    if (name == nullptr) return;
    std::strncpy(guardedName, name, sizeof guardedName - 1);
    guardedName[sizeof guardedName - 1] = '\0';
    std::atomic_signal_fence(std::memory_order_seq_cst);
    guarding = 1;
}

platform::FileId inputId;
// Taken once a run: it names the run's temporary files.
unsigned long processId = 0;
// The reason of the first write to standard output that failed; 0 when none.
int progressError = 0;

// Creates a new temporary file beside `name`, its name in `temp`, and has a
// terminating signal remove it; returns its descriptor, or -1 with errno set.
int createTemp(const char* name, char (&temp)[kTempNameSize]) {
    for (int k = 0; k < kTempTries; ++k) {
        const int length = k == 0 ? std::snprintf(temp, sizeof temp, kTempFormat, name, processId)
                                  : std::snprintf(temp, sizeof temp, kTempRetryFormat, name,
                                                  processId, k);
        if (length < 0 || length >= static_cast<int>(sizeof temp)) {
            errno = ENAMETOOLONG;
            return -1;
        }
        // Guarded before it exists: a signal that arrives while the system
        // creates the file finds it named. A file of this name that is there
        // already can only be a temporary file a killed run left.
        guard(temp);
        const int fd = platform::createNew(temp);
        if (fd >= 0) return fd;
        guard(nullptr);
        if (errno != EEXIST) return -1;
    }
    return -1;
}

// A Japanese message in each encoding it may be written in; a Windows
// console is given the UTF-8 one as wide characters.
struct JapaneseText {
    const char* shiftJis;
    const char* utf8;
};

// "Disk A を認識しました.\n": disk A recognised.
constexpr JapaneseText kRecognised = {
    "Disk A \x82\xF0\x94\x46\x8E\xAF\x82\xB5\x82\xDC\x82\xB5\x82\xBD.\n",
    "Disk A \xE3\x82\x92\xE8\xAA\x8D\xE8\xAD\x98\xE3\x81\x97\xE3\x81\xBE\xE3\x81\x97"
    "\xE3\x81\x9F.\n",
};
// "ファイルをオープンできません.\n": the file cannot be opened.
constexpr JapaneseText kCannotOpen = {
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76\x83\x93"
    "\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1.\n",
    "\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB\xE3\x82\x92\xE3\x82\xAA\xE3\x83"
    "\xBC\xE3\x83\x97\xE3\x83\xB3\xE3\x81\xA7\xE3\x81\x8D\xE3\x81\xBE\xE3\x81\x9B"
    "\xE3\x82\x93.\n",
};

// Whether standard output shows UTF-8: asked once a run, at its first
// Japanese line.
bool stdoutAsked = false;
bool stdoutShowsUtf8 = false;

void writeJapanese(std::FILE* stream, bool utf8, const JapaneseText& text) {
    if (platform::writeConsoleUtf8(stream, text.utf8)) return;
    std::fputs(utf8 ? text.utf8 : text.shiftJis, stream);
}

// Room for any line the tool says: a path Windows takes, in UTF-8, and words.
char lineBuffer[3 * 32768 + 256];

void sayLine(std::FILE* stream, const char* format, std::va_list args) {
    std::vsnprintf(lineBuffer, sizeof lineBuffer, format, args);
    if (!platform::writeConsoleUtf8(stream, lineBuffer)) std::fputs(lineBuffer, stream);
}

// Pushes out the lines printed so far; remembers the first failure.
void flushProgress() {
    if (std::fflush(stdout) != 0 && progressError == 0) progressError = errno;
}

}  // namespace

void beginOutputs(const platform::FileId& input) {
    std::clearerr(stdout);
    progressError = 0;
    stdoutAsked = false;
    inputId = input;
    processId = platform::processId();
    platform::lockWorkingDirectory();
}

bool endOutputs() {
    flushProgress();
    if (progressError == 0 && !std::ferror(stdout)) return true;
    warn("cannot write to standard output: %s\n",
         std::strerror(progressError != 0 ? progressError : EIO));
    return false;
}

void printCutting(const char* name) { std::printf("cutting ... %s\n", name); }

void printRecognised() {
    if (!stdoutAsked) {
        stdoutShowsUtf8 = platform::showsUtf8(stdout);
        stdoutAsked = true;
    }
    writeJapanese(stdout, stdoutShowsUtf8, kRecognised);
}

void warnCannotOpen() {
    flushProgress();
    writeJapanese(stderr, platform::showsUtf8(stderr), kCannotOpen);
}

void warn(const char* format, ...) {
    flushProgress();
    std::va_list args;
    va_start(args, format);
    sayLine(stderr, format, args);
    va_end(args);
}

void say(std::FILE* stream, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    sayLine(stream, format, args);
    va_end(args);
}

void installSignalCleanup() {
    const platform::SignalList list = platform::terminatingSignals();
    for (int i = 0; i < list.count; ++i) {
        // A signal ignored when the tool started (nohup, a background job)
        // stays ignored.
        if (std::signal(list.signals[i], removeGuardedAndDie) == SIG_IGN) {
            std::signal(list.signals[i], SIG_IGN);
        }
    }
}

bool replaceOutput(const char* name, const std::uint8_t* data, std::int32_t size) {
    // The image may sit in the working directory under an output's name, or
    // behind a link of that name: it is never replaced.
    if (platform::sameFile(platform::idOfName(name), inputId)) {
        warn("cannot write %s: it is the input image\n", name);
        return false;
    }
    // Its line goes out before the file is made: the log of a killed run
    // names every file it replaced.
    flushProgress();
    char temp[kTempNameSize];
    const int fd = createTemp(name, temp);
    if (fd < 0) {
        warn("cannot create %s: %s\n", name, std::strerror(errno));
        return false;
    }
    const bool written = platform::writeAll(fd, data, size);
    int reason = errno;
    // Closing can fail too, where the system reports a write only then.
    const bool closed = platform::closeFile(fd);
    if (written && !closed) reason = errno;
    const bool replaced = written && closed && platform::replaceName(temp, name);
    if (written && closed && !replaced) reason = errno;
    if (!replaced) platform::removeName(temp);
    guard(nullptr);
    if (replaced) return true;
    // A name that cannot take the new file (a directory, say) is a failure
    // to create it; a short write or a failed close, a failure to write it.
    warn("cannot %s %s: %s\n", written && closed ? "create" : "write", name,
         std::strerror(reason));
    return false;
}

}  // namespace d88cut
