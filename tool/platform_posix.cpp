// The tool's system calls on Linux and other POSIX systems.
#include "tool/platform.h"

#include <fcntl.h>
#include <langinfo.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstring>

namespace d88cut {
namespace platform {

namespace {

FileId idOf(const struct stat& info) {
    FileId id;
    id.known = true;
    id.volume = static_cast<std::uint64_t>(info.st_dev);
    id.index = static_cast<std::uint64_t>(info.st_ino);
    return id;
}

int directoryLock = -1;

}  // namespace

FileState stateOfStream(std::FILE* stream) {
    struct stat info;
    FileState state;
    if (stream == nullptr || ::fstat(::fileno(stream), &info) != 0) return state;
    state.id = idOf(info);
    state.size = static_cast<std::int64_t>(info.st_size);
    state.modified = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 +
                     info.st_mtim.tv_nsec;
    return state;
}

FileId idOfName(const char* name) {
    struct stat info;
    if (::stat(name, &info) != 0) return {};
    return idOf(info);
}

void lockWorkingDirectory() {
    if (directoryLock >= 0) ::close(directoryLock);
    directoryLock = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directoryLock < 0) return;
    // Released by the system if the process dies: never a stale lock.
    while (::flock(directoryLock, LOCK_EX) != 0 && errno == EINTR) {
    }
}

unsigned long processId() { return static_cast<unsigned long>(::getpid()); }

int createNew(const char* name) {
    // 0666 less the umask, as for any file the user creates.
    const int fd = ::open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 || fd > STDERR_FILENO) return fd;
    // A standard stream was closed when the tool started, and the file took
    // its number: a message would land in it. Move the file higher and leave
    // the number to /dev/null, read-only, so that such messages fail.
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const bool parked = moved >= 0 && null >= 0 && ::dup2(null, fd) == fd;
    if (null >= 0) ::close(null);
    if (parked) return moved;
    const int reason = errno;
    if (moved >= 0) ::close(moved);
    ::close(fd);
    ::unlink(name);
    errno = reason;
    return -1;
}

bool writeAll(int fd, const std::uint8_t* data, std::int32_t size) {
    std::int32_t done = 0;
    while (done < size) {
        const ssize_t wrote = ::write(fd, data + done, static_cast<std::size_t>(size - done));
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
            if (wrote == 0) errno = ENOSPC;
            return false;
        }
        done += static_cast<std::int32_t>(wrote);
    }
    return true;
}

bool closeFile(int fd) { return ::close(fd) == 0; }

bool replaceName(const char* from, const char* to) { return ::rename(from, to) == 0; }

bool removeName(const char* name) { return ::unlink(name) == 0; }

bool showsUtf8(std::FILE* stream) {
    if (::isatty(::fileno(stream)) != 1) return false;
    // The user's locale says what the terminal shows.
    std::setlocale(LC_CTYPE, "");
    const char* codeset = ::nl_langinfo(CODESET);
    return codeset != nullptr &&
           (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0);
}

bool writeConsoleUtf8(std::FILE*, const char*) { return false; }

char** utf8Arguments(int, wchar_t**) { return nullptr; }

SignalList terminatingSignals() {
    static const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGXFSZ};
    return {signals, static_cast<int>(sizeof signals / sizeof signals[0])};
}

}  // namespace platform
}  // namespace d88cut
