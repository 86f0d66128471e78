// The lower bound of d88cut's job done safely, for the benchmark to compare
// with: read the image once and take its identity once; a broken pipe and a
// file-size limit become failed writes; then for each of the sixteen files,
// one line pushed out to standard output, one status call that the name is
// not the input, and the file made whole before it has its name: where the
// name is free, written without a name and linked to it; where a file has
// it, written under a temporary name and renamed over it, with the signals
// that end a run held meanwhile. It interprets nothing. With --put NEW, the
// lower bound of a put instead.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// Large enough for the benchmark's images.
std::uint8_t image[4 << 20];
// Standard output's buffer, so that the C library allocates none.
char stdoutBuffer[4096];

struct Output {
    const char* name;
    std::size_t size;
};

const Output kOutputs[] = {
    {"IPL2", 1024},    {"IPL3", 4096},    {"OPMDRV", 2048},  {"OPMTBL", 256},
    {"OPMMUS0", 2048}, {"OPMMUS1", 6400}, {"OPMMUS2", 2048}, {"OPMMUS3", 1024},
    {"OPMMUS4", 2816}, {"OPMMUS5", 1792}, {"OPMMUS6", 4096}, {"OPMMUS7", 1792},
    {"OPMMUS8", 5376}, {"PSGDRV", 2560},  {"PSGTBL", 256},   {"PSGMUS", 16384},
};

bool writeNew(const char* name, const std::uint8_t* data, std::size_t size) {
    const int out = ::open(".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (out < 0 || ::write(out, data, size) != static_cast<ssize_t>(size)) return false;
    char self[32];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", out);
    return ::linkat(AT_FDCWD, self, AT_FDCWD, name, AT_SYMLINK_FOLLOW) == 0 && ::close(out) == 0;
}

bool replace(const char* name, const std::uint8_t* data, std::size_t size) {
    sigset_t all, saved;
    sigfillset(&all);
    ::sigprocmask(SIG_BLOCK, &all, &saved);
    char temp[64];
    std::snprintf(temp, sizeof temp, ".%s.tmp", name);
    const int out = ::open(temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    const bool done = out >= 0 && ::write(out, data, size) == static_cast<ssize_t>(size) &&
                      ::close(out) == 0 && ::rename(temp, name) == 0;
    ::sigprocmask(SIG_SETMASK, &saved, nullptr);
    return done;
}

// The lower bound of a put of the sixteen files: each read, then a copy of
// the image with them, made whole under a temporary name and renamed to
// NEW, with the signals that end a run held meanwhile.
int putBack(const char* path, const char* name) {
    const int in = ::open(path, O_RDONLY | O_CLOEXEC);
    const ssize_t got = in < 0 ? -1 : ::pread(in, image, sizeof image, 0);
    if (got <= 0 || ::close(in) != 0) return 1;
    std::size_t at = 0;
    for (const Output& o : kOutputs) {
        const int file = ::open(o.name, O_RDONLY | O_CLOEXEC);
        if (file < 0 || ::pread(file, image + at, o.size + 1, 0) != static_cast<ssize_t>(o.size) ||
            ::close(file) != 0) {
            return 1;
        }
        at += o.size;
    }
    return replace(name, image, static_cast<std::size_t>(got)) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--put") == 0) return putBack(argv[3], argv[2]);
    if (argc != 2) return 1;
    std::setvbuf(stdout, stdoutBuffer, _IOFBF, sizeof stdoutBuffer);
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
    const int in = ::open(argv[1], O_RDONLY | O_CLOEXEC);
    struct stat input;
    if (in < 0 || ::fstat(in, &input) != 0) return 1;
    const ssize_t got = ::pread(in, image, sizeof image, 0);
    ::close(in);
    if (got <= 0) return 1;
    std::size_t at = 0;
    for (const Output& o : kOutputs) {
        std::printf("cutting ... %s\n", o.name);
        std::fflush(stdout);
        struct stat existing;
        const bool exists = ::lstat(o.name, &existing) == 0;
        if (exists && existing.st_dev == input.st_dev && existing.st_ino == input.st_ino) return 1;
        if (at + o.size > static_cast<std::size_t>(got)) at = 0;
        if (!(exists ? replace : writeNew)(o.name, image + at, o.size)) return 1;
        at += o.size;
    }
    return 0;
}
