// Makes one system call of a d88cut built for tests fail as a bad disk or a
// full network share does: the program is linked with -Wl,--wrap=pread,
// -Wl,--wrap=fstat and -Wl,--wrap=close, so those calls of the tool come
// here first.
//  - D88CUT_FAIL_READ=N: the Nth pread fails with EIO.
//  - D88CUT_FAIL_STAT=N: the Nth fstat fails with EIO.
//  - D88CUT_FAIL_CLOSE=N: the Nth close of a file opened for writing closes
//    it, then says EIO, as a file system that reports a write only then.
// Every other call is the real one.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdlib>

extern "C" ssize_t __real_pread(int fd, void* out, std::size_t count, off_t position);
extern "C" int __real_close(int fd);
extern "C" int __real_fstat(int fd, struct stat* info);

namespace {

bool isNth(const char* variable, long& calls) {
    const char* failing = std::getenv(variable);
    return failing != nullptr && ++calls == std::atol(failing);
}

}  // namespace

extern "C" ssize_t __wrap_pread(int fd, void* out, std::size_t count, off_t position) {
    static long calls = 0;
    if (!isNth("D88CUT_FAIL_READ", calls)) return __real_pread(fd, out, count, position);
    errno = EIO;
    return -1;
}

extern "C" int __wrap_fstat(int fd, struct stat* info) {
    static long calls = 0;
    if (!isNth("D88CUT_FAIL_STAT", calls)) return __real_fstat(fd, info);
    errno = EIO;
    return -1;
}

extern "C" int __wrap_close(int fd) {
    static long calls = 0;
    const int flags = ::fcntl(fd, F_GETFL);
    const bool writing = flags >= 0 && (flags & O_ACCMODE) == O_WRONLY;
    if (!writing || !isNth("D88CUT_FAIL_CLOSE", calls)) return __real_close(fd);
    __real_close(fd);
    errno = EIO;
    return -1;
}
