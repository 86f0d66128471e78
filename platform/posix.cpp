// The tool's system calls on Linux and other POSIX systems.
#include "platform/platform.h"

#include <fcntl.h>
#include <langinfo.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>

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

void stateFrom(const struct stat& info, FileState& state) {
    state.id = idOf(info);
    state.size = static_cast<std::int64_t>(info.st_size);
    state.modified =
        static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

// A standard stream was closed when the tool started, and a new file took
// its number: a message would land in it. Moves the file higher and leaves
// the number to /dev/null, read-only, so that such messages fail. On
// failure, closes the file, removes `path` when given, and returns -1.
int aboveStandardStreams(int fd, const char* path) {
    if (fd < 0 || fd > STDERR_FILENO) return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const bool parked = moved >= 0 && null >= 0 && ::dup2(null, fd) == fd;
    if (null >= 0) ::close(null);
    if (parked) return moved;
    const int reason = errno;
    if (moved >= 0) ::close(moved);
    ::close(fd);
    if (path != nullptr) ::unlink(path);
    errno = reason;
    return -1;
}

// The permission bits the system takes from new files, asked once, when a
// file first has to keep an earlier one's bits.
int creationMask = -1;

// The lock on the output directory, held until the process ends; -1 when
// none is.
int directoryLock = -1;

// The user the system checks permissions for, asked at the first earlier file;
// -1 before. (A function's static would need the C++ run-time library.)
long long effectiveUser = -1;

// The signals held while a temporary name exists, and the mask before.
sigset_t savedMask;

// True when a locale name (as in LANG=en_US.UTF-8) names UTF-8.
bool namesUtf8(const char* locale) {
    const char* dot = std::strchr(locale, '.');
    if (dot == nullptr) return false;
    const char* codeset = dot + 1;
    const std::size_t length = std::strcspn(codeset, "@");
    return (length == 5 && ::strncasecmp(codeset, "UTF-8", 5) == 0) ||
           (length == 4 && ::strncasecmp(codeset, "utf8", 4) == 0);
}

// A wait for a lock polls at this interval; after kPollsBeforeSaying polls
// (half a second), the user is told that the run is waiting.
constexpr long kLockPollNanoseconds = 20 * 1000 * 1000;
constexpr int kPollsBeforeSaying = 25;

}  // namespace

OpenResult openImage(const char* path, File& file, FileState& state) {
    // Never waits: a FIFO without a writer opens at once, and is refused
    // below, as is a terminal, which never becomes the controlling one.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return OpenResult::kCannotOpen;
    struct stat info;
    if (::fstat(fd, &info) != 0) {
        const int reason = errno;
        ::close(fd);
        errno = reason;
        return OpenResult::kCannotRead;
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        errno = S_ISDIR(info.st_mode) ? EISDIR : ESPIPE;
        return S_ISDIR(info.st_mode) ? OpenResult::kCannotOpen : OpenResult::kNotAFile;
    }
    stateFrom(info, state);
    file = fd;
    return OpenResult::kOpened;
}

std::int64_t readAt(File file, std::int64_t position, std::uint8_t* out, std::int32_t count) {
    static_assert(sizeof(off_t) >= sizeof(std::int64_t), "64-bit file positions");
    for (;;) {
        const ssize_t got = ::pread(static_cast<int>(file), out, static_cast<std::size_t>(count),
                                    static_cast<off_t>(position));
        if (got >= 0 || errno != EINTR) return got;
    }
}

bool stateOf(File file, FileState& state) {
    struct stat info;
    if (::fstat(static_cast<int>(file), &info) != 0) return false;
    stateFrom(info, state);
    return true;
}

void closeImage(File file) { ::close(static_cast<int>(file)); }

std::int32_t readSmallFile(const char* path, std::uint8_t* out, std::int32_t room) {
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    const std::int64_t got = readAt(fd, 0, out, room);
    const int reason = errno;
    ::close(fd);
    errno = reason;
    return static_cast<std::int32_t>(got);
}

bool statusOfName(const char* path, NameStatus& status) {
    status = NameStatus();
    struct stat info;
    if (::lstat(path, &info) != 0) return errno == ENOENT || errno == ENOTDIR;
    status.exists = true;
    if (S_ISLNK(info.st_mode)) {
        // A link is replaced, never written through; where it leads matters
        // only if that is the image. A link that leads nowhere cannot be.
        if (::stat(path, &info) == 0) {
            status.id = idOf(info);
            return true;
        }
        return errno == ENOENT || errno == ENOTDIR || errno == ELOOP;
    }
    status.id = idOf(info);
    if (!S_ISREG(info.st_mode)) return true;
    status.keepsMode = true;
    status.mode = static_cast<unsigned>(info.st_mode & 0777);
    // The owner's own write bit answers without a system call; anything else
    // (another owner, a group, an ACL, root) is the system's to say.
    if (effectiveUser < 0) effectiveUser = static_cast<long long>(::geteuid());
    if (static_cast<long long>(info.st_uid) == effectiveUser && (info.st_mode & S_IWUSR) != 0) {
        return true;
    }
    if (::faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) != 0 && (errno == EACCES || errno == EPERM)) {
        status.writable = false;
        status.reason = errno;
    }
    return true;
}

bool makeDirectories(const char* path, std::size_t& madeFrom) {
    madeFrom = 0;
    struct stat info;
    if (::stat(path, &info) == 0) {
        if (S_ISDIR(info.st_mode)) return true;
        errno = ENOTDIR;
        return false;
    }
    if (errno != ENOENT) return false;
    static char prefix[kMaxPathBytes];
    const std::size_t length = std::strlen(path);
    if (length >= sizeof prefix) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(prefix, path, length + 1);
    // Each parent in turn, then the directory itself.
    for (std::size_t i = 1; i <= length; ++i) {
        if (i < length && prefix[i] != '/') continue;
        prefix[i] = '\0';
        if (::mkdir(prefix, 0777) == 0) {
            if (madeFrom == 0) madeFrom = i;
        } else if (errno != EEXIST) {
            return false;
        }
        prefix[i] = path[i];
    }
    if (::stat(path, &info) != 0) return false;
    if (S_ISDIR(info.st_mode)) return true;
    errno = ENOTDIR;
    return false;
}

bool isSeparator(char c) { return c == '/'; }

int createUnnamed(const char* directory) {
#ifdef O_TMPFILE
    const int fd =
        ::open(directory != nullptr ? directory : ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    return aboveStandardStreams(fd, nullptr);
#else
    (void)directory;
    errno = EOPNOTSUPP;
    return -1;
#endif
}

bool nameUnnamed(int fd, const char* path) {
    // The file's entry in /proc leads to it; following it links the file
    // itself. The name must be free: linkat never replaces one.
    char self[32];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    return ::linkat(AT_FDCWD, self, AT_FDCWD, path, AT_SYMLINK_FOLLOW) == 0;
}

int createNew(const char* path, bool keepMode, unsigned mode) {
    // Without an earlier file, 0666 less the umask, as for any file the user
    // creates.
    const mode_t bits = keepMode ? static_cast<mode_t>(mode & 0777) : 0666;
    const int fd = aboveStandardStreams(
        ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, bits), path);
    if (fd < 0 || !keepMode) return fd;
    if (creationMask < 0) {
        creationMask = static_cast<int>(::umask(0));
        ::umask(static_cast<mode_t>(creationMask));
    }
    // The umask took bits the earlier file had: they are given back.
    if ((bits & static_cast<mode_t>(creationMask)) != 0 && ::fchmod(fd, bits) != 0) {
        const int reason = errno;
        ::close(fd);
        ::unlink(path);
        errno = reason;
        return -1;
    }
    return fd;
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

bool syncFile(int fd) {
    for (;;) {
        if (::fdatasync(fd) == 0) return true;
        if (errno != EINTR) return false;
    }
}

bool syncDirectory(const char* directory) {
    const int fd =
        ::open(directory != nullptr ? directory : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = ::fsync(fd) == 0;
    const int reason = errno;
    ::close(fd);
    errno = reason;
    return synced;
}

bool replaceName(const char* from, const char* to) { return ::rename(from, to) == 0; }

bool removeName(const char* path) { return ::unlink(path) == 0; }

unsigned long processId() { return static_cast<unsigned long>(::getpid()); }

namespace {

// Linux's abstract socket names need no access to the directory and leave
// nothing behind; elsewhere (BSD, macOS, the browser), or when the build asks
// for it, the directory itself is locked with flock.
#if defined(__linux__) && !defined(D88CUT_PORTABLE_LOCK)
constexpr bool kLockBySocket = true;
#else
constexpr bool kLockBySocket = false;
#endif

// A name in Linux's abstract socket namespace, made of the directory's
// device and inode: it needs no access to the directory (a directory of mode
// 0333 locks as well as any), leaves nothing in the file system, and is gone
// the moment its process ends, however it ends.
LockResult lockBySocket(const char* path, const struct stat& info,
                        void (*onWait)(const char* path)) {
    const int lock = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (lock < 0) return LockResult::kCannotLock;
    struct sockaddr_un address;
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    // The leading NUL puts the name in the abstract namespace.
    const int length = std::snprintf(
        address.sun_path + 1, sizeof address.sun_path - 1, "d88cut-lock-%llx-%llx",
        static_cast<unsigned long long>(info.st_dev), static_cast<unsigned long long>(info.st_ino));
    const socklen_t size =
        static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) + 1 + length);
    const struct timespec poll = {0, kLockPollNanoseconds};
    for (int polls = 0;; ++polls) {
        if (::bind(lock, reinterpret_cast<const struct sockaddr*>(&address), size) == 0) {
            directoryLock = lock;
            return LockResult::kHeld;
        }
        if (errno != EADDRINUSE) {
            const int reason = errno;
            ::close(lock);
            errno = reason;
            return LockResult::kCannotLock;
        }
        if (polls == kPollsBeforeSaying) onWait(path);
        ::nanosleep(&poll, nullptr);
    }
}

// flock on the directory itself, which needs leave to read it; released
// when the process ends, as its descriptor closes.
LockResult lockByFlock(const char* path, void (*onWait)(const char* path)) {
    const int lock = ::open(path != nullptr ? path : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lock < 0) return LockResult::kCannotLock;
    // Polled for a moment, so that a short wait goes unsaid, as with the
    // socket; then said once, and waited for.
    const struct timespec poll = {0, kLockPollNanoseconds};
    int locked = ::flock(lock, LOCK_EX | LOCK_NB);
    for (int polls = 0; locked != 0 && errno == EWOULDBLOCK && polls < kPollsBeforeSaying;
         ++polls) {
        ::nanosleep(&poll, nullptr);
        locked = ::flock(lock, LOCK_EX | LOCK_NB);
    }
    if (locked != 0 && errno == EWOULDBLOCK) {
        onWait(path);
        do {
            locked = ::flock(lock, LOCK_EX);
        } while (locked != 0 && errno == EINTR);
    }
    // A lock the system refuses (ENOLCK, a file system without locks) is
    // not held: the run must not go on as if it were.
    if (locked != 0) {
        const int reason = errno;
        ::close(lock);
        errno = reason;
        return LockResult::kCannotLock;
    }
    directoryLock = lock;
    return LockResult::kHeld;
}

}  // namespace

LockResult lockDirectory(const char* path, void (*onWait)(const char* path)) {
    // A process runs the tool once, but one that runs it again (the fuzzer)
    // lets go of the directory it held first.
    if (directoryLock >= 0) ::close(directoryLock);
    directoryLock = -1;
    struct stat info;
    if (::stat(path != nullptr ? path : ".", &info) != 0) return LockResult::kCannotLock;
    return kLockBySocket ? lockBySocket(path, info, onWait) : lockByFlock(path, onWait);
}

void prepareProcess() {
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

void holdTermination() {
    sigset_t all;
    sigfillset(&all);
    ::sigprocmask(SIG_BLOCK, &all, &savedMask);
}

void allowTermination() { ::sigprocmask(SIG_SETMASK, &savedMask, nullptr); }

bool showsUtf8(std::FILE* stream) {
    if (::isatty(::fileno(stream)) != 1) return false;
    // The user's locale says what the terminal shows.
    if (std::setlocale(LC_CTYPE, "") != nullptr) {
        const char* codeset = ::nl_langinfo(CODESET);
        return codeset != nullptr &&
               (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0);
    }
    // A locale the C library does not have (forwarded by ssh, or set in a
    // slim container) still says what its owner's terminal shows.
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && value[0] != '\0') return namesUtf8(value);
    }
    return false;
}

bool writeConsoleUtf8(std::FILE*, const char*, std::size_t) { return false; }

char** utf8Arguments(int, wchar_t**) { return nullptr; }

void holdConsoleWindow() {}

}  // namespace platform
}  // namespace d88cut
