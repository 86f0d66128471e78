// Writes the sample image: one synthetic known disk, every block and every
// sector 17 of the gathering present, made by the tests' image builder.
#include <cstdio>

#include "image_builder.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.d88\n", argv[0]);
        return 1;
    }
    if (!d88test::writeFile(argv[1], d88test::buildImage({d88test::knownDisk()}))) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
