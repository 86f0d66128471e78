// The lower bound of d88cut's job, for the benchmark to compare with: read
// the image once, write sixteen files of the same sizes, print sixteen
// lines. It interprets nothing.
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
    std::fclose(in);
    std::size_t at = 0;
    for (const Output& o : kOutputs) {
        std::printf("cutting ... %s\n", o.name);
        std::FILE* out = std::fopen(o.name, "wb");
        if (out == nullptr) return 1;
        std::setvbuf(out, nullptr, _IONBF, 0);
        if (at + o.size > got) at = 0;
        std::fwrite(image + at, 1, o.size, out);
        std::fclose(out);
        at += o.size;
    }
    return 0;
}
