// Makes one read of a d88cut built for tests fail as a bad disk does: the
// program is linked with -Wl,--wrap=pread, so its every pread comes here
// first. With D88CUT_FAIL_READ=N in the environment, the Nth call fails with
// EIO; every other call is the real one.
#include <sys/types.h>

#include <cerrno>
#include <cstdlib>

extern "C" ssize_t __real_pread(int fd, void* out, std::size_t count, off_t position);

extern "C" ssize_t __wrap_pread(int fd, void* out, std::size_t count, off_t position) {
    static long calls = 0;
    const char* failing = std::getenv("D88CUT_FAIL_READ");
    if (failing == nullptr || ++calls != std::atol(failing)) {
        return __real_pread(fd, out, count, position);
    }
    errno = EIO;
    return -1;
}
