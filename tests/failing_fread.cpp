// Makes one read of a d88cut built for tests fail as a bad disk does: the
// program is linked with -Wl,--wrap=fread, so its every fread comes here
// first. With D88CUT_FAIL_FREAD=N in the environment, the Nth call fails
// with EIO and the stream's error flag set; every other call is the real one.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

extern "C" std::size_t __real_fread(void* out, std::size_t size, std::size_t count,
                                    std::FILE* stream);

extern "C" std::size_t __wrap_fread(void* out, std::size_t size, std::size_t count,
                                    std::FILE* stream) {
    static long calls = 0;
    const char* failing = std::getenv("D88CUT_FAIL_FREAD");
    if (failing == nullptr || ++calls != std::atol(failing)) {
        return __real_fread(out, size, count, stream);
    }
    // The real fread on a directory in the stream's place fails and sets the
    // stream's error flag as any failed read does.
    const int fd = ::fileno(stream);
    const int saved = ::dup(fd);
    const int directory = ::open("/", O_RDONLY | O_DIRECTORY);
    ::dup2(directory, fd);
    const std::size_t got = __real_fread(out, size, count, stream);
    ::dup2(saved, fd);
    ::close(saved);
    ::close(directory);
    errno = EIO;
    return got;
}
