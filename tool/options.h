// d88cut's command line: d88cut [OPTION]... IMAGE, in the usual form.
// Short options may stand apart or together (-l -C out, -lC out, -Cout);
// long ones take their value as --directory=DIR or --directory DIR; --
// ends the options.
#ifndef D88CUT_TOOL_OPTIONS_H
#define D88CUT_TOOL_OPTIONS_H

#include <cstdint>

#include "d88/d88_reader.h"

namespace d88cut {

// The most images a merge is given: each holds one dump or more.
constexpr std::int32_t kMaxImages = 16;

struct Options {
    const char* image = nullptr;
    // --merge: every IMAGE given, a dump each of the known disk, or more.
    bool merge = false;
    const char* images[kMaxImages] = {};
    std::int32_t imageCount = 0;
    // -C DIR, --directory=DIR: where the files go; null for the current
    // directory.
    const char* directory = nullptr;
    // --disk=N: the one disk image to cut or list, counted from 1; 0 for all.
    std::int32_t disk = 0;
    // -l, --list: look without cutting.
    bool list = false;
    // --json: the listing as one JSON document (implies --list).
    bool json = false;
    // --map: a map of each known disk's sectors under its files (implies
    // --list; not in the JSON document).
    bool map = false;
    // --sync: each file's data, then the directory, pushed to the disk.
    bool sync = false;
    // --put=NEW: the files in the directory put back into a copy of the
    // image, NEW; null for a cut.
    const char* put = nullptr;
};

enum class Command {
    kRun,
    kHelp,
    kVersion,
    kUsageError,  // a line saying what is wrong, if anything, is already out
};

Command parseOptions(int argc, char** argv, Options& options);

// What --help prints, its synopsis first, but for the last newline.
extern const char kHelp[];

}  // namespace d88cut

#endif
