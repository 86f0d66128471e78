// The lower bound of d88cut's job done safely, for the benchmark to compare
// with: read the image once and take its identity once; then for each of the
// sixteen files, one line pushed out to standard output, one status call
// that the name is not the input, a new temporary file created exclusively,
// one write, close, and a rename over the name. It interprets nothing.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

namespace {

// Large enough for the benchmark's images.
std::uint8_t image[4 << 20];

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

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 1;
    std::FILE* in = std::fopen(argv[1], "rb");
    if (in == nullptr) return 1;
    // Unbuffered: one read straight into the image, no stdio buffer.
    std::setvbuf(in, nullptr, _IONBF, 0);
    const std::size_t got = std::fread(image, 1, sizeof image, in);
    struct stat input;
    if (::fstat(::fileno(in), &input) != 0) return 1;
    std::fclose(in);
    std::size_t at = 0;
    for (const Output& o : kOutputs) {
        std::printf("cutting ... %s\n", o.name);
        std::fflush(stdout);
        struct stat existing;
        if (::stat(o.name, &existing) == 0 && existing.st_dev == input.st_dev &&
            existing.st_ino == input.st_ino) {
            return 1;
        }
        char temp[64];
        std::snprintf(temp, sizeof temp, ".%s.tmp", o.name);
        const int out = ::open(temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (out < 0) return 1;
        if (at + o.size > got) at = 0;
        if (::write(out, image + at, o.size) != static_cast<ssize_t>(o.size)) return 1;
        if (::close(out) != 0 || ::rename(temp, o.name) != 0) return 1;
        at += o.size;
    }
    return 0;
}
