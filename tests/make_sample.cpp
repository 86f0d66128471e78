// Writes the sample image: one synthetic known disk, every block and every
// sector 17 of the gathering present, made by the tests' image builder; and
// beside it, the same disk as a raw 2D image (.2d) and an IMD file (.imd).
#include <cstdio>
#include <string>

#include "image_builder.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.d88\n", argv[0]);
        return 1;
    }
    const std::string d88 = argv[1];
    const std::string base = d88.substr(0, d88.rfind('.'));
    if (!d88test::writeFile(d88, d88test::buildImage({d88test::knownDisk()})) ||
        !d88test::writeFile(base + ".2d", d88test::buildRaw2D(d88test::knownDisk())) ||
        !d88test::writeFile(base + ".imd", d88test::buildImd(d88test::knownDisk()))) {
        std::fprintf(stderr, "cannot write %s and its kin\n", argv[1]);
        return 1;
    }
    return 0;
}
