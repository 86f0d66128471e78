// Parsing d88cut's command line, and the help that documents it. Not with
// getopt_long: it is POSIX's and GNU's, not the C++ library's, which is all
// the command line may need on every platform; it says usage errors in its
// own words, and keeps its place in a global that the fuzzer's many runs in
// one process would each have to reset.
#include "tool/options.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "text/messages.h"

namespace d88cut {

const char kHelp[] =
    "Usage: d88cut [OPTION]... IMAGE\n"
    "  or:  d88cut --merge [OPTION]... IMAGE...\n"
    "Cut the blocks of one known disk out of a D88 disk-image file.\n"
    "\n"
    "Every disk image in IMAGE whose boot sector carries the known signature is\n"
    "cut into sixteen raw files: IPL2, IPL3, OPMDRV, OPMTBL, OPMMUS0 to OPMMUS8,\n"
    "PSGDRV, PSGTBL and PSGMUS. Each replaces a file of that name whole; the image\n"
    "itself is never written. Progress goes to standard output; anything short of\n"
    "a full cut is said on standard error.\n"
    "\n"
    "  -C, --directory=DIR  write the files into DIR, made when missing, not here\n"
    "      --disk=N         cut or list disk image N of the file only (1: the first)\n"
    "  -l, --list           write nothing; list the disk images and the files a cut\n"
    "                         would write\n"
    "      --json           the listing as one JSON document (implies --list)\n"
    "      --map            under each known disk, a map of its sectors, a line a\n"
    "                         track (implies --list)\n"
    "      --sync           push each file to the disk before it has its name, so\n"
    "                         that a power cut cannot leave it empty\n"
    "      --merge          every known disk image in every IMAGE is a dump of one\n"
    "                         disk: cut each sector from the best copy any holds,\n"
    "                         and say where their clean copies differ (contested)\n"
    "      --put=NEW        put the files in DIR back into a copy of IMAGE, NEW,\n"
    "                         where a cut takes them from; with -l, say what it\n"
    "                         would put\n"
    "  -h, --help           show this help and exit\n"
    "      --version        show the version and exit\n"
    "  --                   end the options: what follows is IMAGE\n"
    "\n"
    "The listing has one line per disk image:\n"
    "  disk N MEDIA BYTES known \"NAME\"\n"
    "  disk N MEDIA BYTES other \"NAME\" boot \"TEXT\"   (or no-boot-sector)\n"
    "MEDIA is 2D, 2DD, 2HD, 1D, 1DD or the byte in hex; TEXT is what the boot\n"
    "sector holds where the signature would be; a boot sector of another size\n"
    "shows as boot-sector-1024-bytes \"TEXT\" or the like. Under a known disk,\n"
    "one line per file, in the order a cut writes them:\n"
    "  FILE BYTES STATE CRC32 [WHERE]\n"
    "STATE is whole; partial (written, but a sector is missing or short: WHERE\n"
    "says which, or how many PSGMUS slots); flagged (a sector was recorded with an\n"
    "error status or a deleted-data mark: WHERE says which); missing (not\n"
    "written: its first sector is missing or short; CRC32 is -); or, of a merge,\n"
    "contested (dumps' clean copies of a sector differ: WHERE says which). CRC32\n"
    "is that of\n"
    "the bytes a cut writes. Quoted text shows \\\" \\\\ and other bytes as \\xHH\n"
    "(on a terminal that shows UTF-8, a disk's Shift_JIS text as itself).\n"
    "\n"
    "Exit status, the same for a cut and a listing:\n"
    "  0  a known disk was cut (or would be) and every file left is whole\n"
    "  1  a usage error, an image that cannot be opened or read, a file that\n"
    "     could not be written, an image that changed or asks too much work\n"
    "  2  the image was read to its end, but leaves less: a file partial,\n"
    "     flagged or missing, no known disk, no D88 disk image, or a part of\n"
    "     the file that is no disk image\n"
    "A file named like an option is reached as ./-l or after --.";

namespace {

// The value of --disk: a whole number from 1 to the most disk images a file
// is read for, digits only.
bool parseDisk(const char* text, std::int32_t& disk) {
    if (text[0] == '\0') return false;
    std::int32_t value = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') return false;
        value = value * 10 + (*c - '0');
        if (value > d88::kMaxDisks) return false;
    }
    if (value == 0) return false;
    disk = value;
    return true;
}

// After a usage error's line: how many images were named, and the first few.
constexpr int kImagesShown = 3;

enum class Option {
    kDirectory,
    kDisk,
    kList,
    kJson,
    kMap,
    kSync,
    kPut,
    kMerge,
    kHelp,
    kVersion,
    kUnknown
};

Option longOption(const char* name, std::size_t length) {
    struct Long {
        const char* name;
        Option option;
    };
    static constexpr Long kLong[] = {
        {"directory", Option::kDirectory}, {"disk", Option::kDisk}, {"list", Option::kList},
        {"json", Option::kJson},           {"sync", Option::kSync}, {"put", Option::kPut},
        {"merge", Option::kMerge},         {"map", Option::kMap},   {"help", Option::kHelp},
        {"version", Option::kVersion},
    };
    for (const Long& entry : kLong) {
        if (std::strlen(entry.name) == length && std::strncmp(entry.name, name, length) == 0) {
            return entry.option;
        }
    }
    return Option::kUnknown;
}

Option shortOption(char letter) {
    switch (letter) {
        case 'C': return Option::kDirectory;
        case 'l': return Option::kList;
        case 'h': return Option::kHelp;
        default: return Option::kUnknown;
    }
}

bool takesValue(Option option) {
    return option == Option::kDirectory || option == Option::kDisk || option == Option::kPut;
}

// Takes one option and its value into `options`; false, said, when the
// value is not one.
bool apply(Option option, const char* shown, const char* value, Options& options,
           Command& command) {
    switch (option) {
        // Both name a path, which cannot be empty.
        case Option::kDirectory:
        case Option::kPut:
            if (value[0] == '\0') {
                warn("option '", Name{shown}, "' needs ",
                     option == Option::kPut ? "the name of the new image" : "a directory");
                return false;
            }
            (option == Option::kPut ? options.put : options.directory) = value;
            return true;
        case Option::kDisk:
            if (!parseDisk(value, options.disk)) {
                warn("option '", Name{shown}, "' takes a whole number from 1 to ", d88::kMaxDisks,
                     ", not '", Name{value}, "'");
                return false;
            }
            return true;
        case Option::kList: options.list = true; return true;
        case Option::kJson:
            options.list = true;
            options.json = true;
            return true;
        case Option::kSync: options.sync = true; return true;
        case Option::kMerge: options.merge = true; return true;
        case Option::kMap:
            options.map = true;
            options.list = true;
            return true;
        case Option::kHelp: command = Command::kHelp; return true;
        case Option::kVersion: command = Command::kVersion; return true;
        case Option::kUnknown: break;
    }
    return false;
}

}  // namespace

Command parseOptions(int argc, char** argv, Options& options) {
    options = Options();
    Command command = Command::kRun;
    int operands = 0;
    // The first few images named, for the line that says there are too many.
    const char* images[kImagesShown] = {};
    bool optionsEnded = false;
    // --help and --version answer at once, as the first of them asks.
    for (int i = 1; i < argc && command == Command::kRun; ++i) {
        const char* arg = argv[i];
        if (arg == nullptr) return Command::kUsageError;
        if (optionsEnded || arg[0] != '-' || arg[1] == '\0') {
            // "-" is a file of that name, not standard input: the image
            // must be a file that can be read in any order.
            if (operands < kImagesShown) images[operands] = arg;
            if (operands < kMaxImages) options.images[operands] = arg;
            if (++operands == 1) options.image = arg;
            continue;
        }
        if (std::strcmp(arg, "--") == 0) {
            optionsEnded = true;
            continue;
        }
        if (arg[1] == '-') {
            const char* name = arg + 2;
            const char* equals = std::strchr(name, '=');
            const std::size_t length =
                equals != nullptr ? static_cast<std::size_t>(equals - name) : std::strlen(name);
            const Option option = longOption(name, length);
            if (option == Option::kUnknown) {
                warn("unknown option '", Name{arg}, "'");
                return Command::kUsageError;
            }
            // A known name is short: its words without the value.
            char shown[16];
            std::snprintf(shown, sizeof shown, "--%.*s", static_cast<int>(length), name);
            const char* value = equals != nullptr ? equals + 1 : nullptr;
            if (takesValue(option) && value == nullptr) {
                if (i + 1 >= argc || argv[i + 1] == nullptr) {
                    warn("option '", shown, "' needs a value");
                    return Command::kUsageError;
                }
                value = argv[++i];
            } else if (!takesValue(option) && value != nullptr) {
                warn("option '", shown, "' takes no value");
                return Command::kUsageError;
            }
            if (!apply(option, shown, value, options, command)) return Command::kUsageError;
            continue;
        }
        // One or more short options; one that takes a value takes the rest
        // of the word, or the next word.
        for (const char* letter = arg + 1; *letter != '\0'; ++letter) {
            const Option option = shortOption(*letter);
            const char shown[3] = {'-', *letter, '\0'};
            if (option == Option::kUnknown) {
                warn("unknown option '", Name{shown}, "'");
                return Command::kUsageError;
            }
            const char* value = "";
            if (takesValue(option)) {
                if (letter[1] != '\0') {
                    value = letter + 1;
                } else if (i + 1 < argc && argv[i + 1] != nullptr) {
                    value = argv[++i];
                } else {
                    warn("option '", Name{shown}, "' needs a value");
                    return Command::kUsageError;
                }
            }
            if (!apply(option, shown, value, options, command)) return Command::kUsageError;
            // -h answers at once, whatever follows it in the word (-hx).
            if (takesValue(option) || command != Command::kRun) break;
        }
    }
    if (command != Command::kRun) return command;
    if (operands == 0) {
        warn("no image given");
        return Command::kUsageError;
    }
    options.imageCount = operands < kMaxImages ? operands : kMaxImages;
    if (options.merge && (options.disk != 0 || options.put != nullptr)) {
        warn("option '--merge' cannot go with '", options.put != nullptr ? "--put" : "--disk",
             "': a merge takes every known disk image of every IMAGE, and writes no image");
        return Command::kUsageError;
    }
    if (options.merge && operands > kMaxImages) {
        warn("option '--merge' takes at most ", kMaxImages, " images; given ", operands);
        return Command::kUsageError;
    }
    if (operands > 1 && !options.merge) {
        LineWriter line = startWarning();
        putAll(line, "one image at a time, or several dumps with --merge; given ", operands, ": ");
        for (int i = 0; i < operands && i < kImagesShown; ++i) {
            putAll(line, i == 0 ? "" : ", ", Name{images[i]});
        }
        if (operands > kImagesShown) put(line, ", ...");
        endLine(line);
        return Command::kUsageError;
    }
    return Command::kRun;
}

}  // namespace d88cut
