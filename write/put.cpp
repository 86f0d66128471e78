// Putting edited files back: which disk image, the files given, what each
// sector will hold, the copy written with them, and the copy read back.
#include "write/put.h"

#include <cerrno>
#include <cstring>

#include "platform/platform.h"
#include "known/account.h"
#include "show/json_listing.h"
#include "text/messages.h"
#include "write/output.h"
#include "known/known_disk.h"

namespace d88cut {

namespace {

enum class Action {
    kLeft,       // no file of its name in the directory: the image's stays
    kUnchanged,  // given, and the same bytes as the image holds
    kPut,        // given, and put
    kRefused,    // given, and cannot be put; the whole put is refused
};

const char* actionWord(Action action) {
    switch (action) {
        case Action::kLeft: return "left";
        case Action::kUnchanged: return "unchanged";
        case Action::kPut: return "put";
        case Action::kRefused: break;
    }
    return "refused";
}

// One sector of a file given, as the put leaves it.
struct Chunk {
    std::int64_t offset;        // of its data in the image
    const std::uint8_t* bytes;  // the file's 256 bytes for it
    const std::uint8_t* after;  // what the sector holds after the put
    std::int32_t file;
    std::int32_t sector;  // its note in the disk's account
    bool changed;         // the file's bytes are not the image's
};

// Room for the words of a refusal: two names and a sector.
constexpr std::size_t kRefusalSize = 256;

struct Plan {
    std::int32_t disk;  // index of the disk image put into
    Action action[kFileCount];
    char refusal[kFileCount][kRefusalSize];
    std::int32_t firstChunk[kFileCount];
    Chunk chunks[kFileSectors];
    std::int32_t chunkCount;
    std::int32_t given;
    std::int32_t refused;  // the first file refused; -1 when none is
};

Plan plan;
// The files read from the directory, each where the transfer buffer holds
// the file a cut reads; one byte more, where the last is seen too long.
std::uint8_t given[kFileBytes + 1];
char givenPath[platform::kMaxPathBytes];
const char* image = nullptr;

// The disk image to put into, its files read: the known disk, or disk image
// --disk=N, which must be it. Null, said, when there is none, or more than
// one to choose from.
const DiskAccount* chooseDisk(std::int32_t asked) {
    std::int32_t distinct = 0;
    disksRead(distinct);
    if (asked > distinct) {
        warn(Name{image}, ": has no disk image ", asked, "; it holds ", distinct,
             distinct == 1 ? " disk image" : " disk images");
        return nullptr;
    }
    if (asked != 0) {
        const DiskAccount& disk = accountDisk(asked - 1, Depth::kFiles);
        plan.disk = asked - 1;
        if (disk.known) return &disk;
        warn(Name{image}, ": disk image ", asked, " is not the known disk; nothing was put");
        return nullptr;
    }
    std::int32_t count = 0;
    const DiskAccount* chosen = nullptr;
    std::int32_t second = -1;
    for (std::int32_t i = 0; i < distinct && reader.failure() == d88::ReadFailure::kNone; ++i) {
        const DiskAccount& disk = accountDisk(i, Depth::kFiles);
        if (!disk.known) continue;
        if (++count == 1) plan.disk = i;
        if (count == 2) second = i;
        chosen = &disk;
    }
    if (reader.failure() != d88::ReadFailure::kNone) return nullptr;
    if (count == 0) {
        warn(Name{image}, ": looked at ", distinct, distinct == 1 ? " disk image" : " disk images",
             "; none is the known disk");
        return nullptr;
    }
    if (count > 1) {
        warn(Name{image}, ": holds the known disk ", count, " times (disk images ", plan.disk + 1,
             ", ", second + 1, count > 2 ? ", ..." : "", "); --disk=N says which to put into");
        return nullptr;
    }
    return chosen;
}

// Reads the files of the directory that bear the sixteen names; false, said,
// when one cannot be read. A name that is not there is left; a file of
// another size is refused.
bool readGiven(const char* directory, const DiskAccount& disk) {
    plan.given = 0;
    for (std::int32_t i = 0; i < kFileCount; ++i) {
        const FileAccount& file = disk.files[i];
        plan.action[i] = Action::kLeft;
        plan.refusal[i][0] = '\0';
        if (!platform::joinPath(directory, file.name, givenPath, sizeof givenPath)) {
            warn("cannot read ", OutputPath{file.name}, ": the path is too long");
            return false;
        }
        // One byte more than the file's own: a file too long is seen.
        std::uint8_t* bytes = given + (file.bytes - transferBuffer);
        const std::int32_t got = platform::readSmallFile(givenPath, bytes, file.size + 1);
        if (got < 0 && (errno == ENOENT || errno == ENOTDIR)) continue;
        if (got < 0) {
            warn("cannot read ", Name{givenPath}, ": ", std::strerror(errno));
            return false;
        }
        ++plan.given;
        plan.action[i] = Action::kUnchanged;
        if (got == file.size) continue;
        // Its size in full, for the line that refuses it.
        platform::File opened = platform::kNoFile;
        platform::FileState state;
        state.size = got;
        if (platform::openImage(givenPath, opened, state) == platform::OpenResult::kOpened) {
            platform::closeImage(opened);
        }
        plan.action[i] = Action::kRefused;
        render(plan.refusal[i], Name{givenPath}, ": it has ", state.size, " bytes, and ", file.name,
               " has ", file.size);
    }
    return true;
}

void refuse(std::int32_t file) {
    plan.action[file] = Action::kRefused;
    if (plan.refused < 0 || file < plan.refused) plan.refused = file;
}

// What every sector of the files given will hold, and what cannot be put:
// a file over a sector the image lacks whole, or two files that change a
// sector they share each its own way.
void planPut(const DiskAccount& disk) {
    plan.chunkCount = 0;
    plan.refused = -1;
    for (std::int32_t i = 0; i < kFileCount; ++i) {
        const FileAccount& file = disk.files[i];
        plan.firstChunk[i] = plan.chunkCount;
        if (plan.action[i] == Action::kRefused) refuse(i);
        if (plan.action[i] != Action::kUnchanged) continue;
        const std::uint8_t* bytes = given + (file.bytes - transferBuffer);
        // A put never adds a sector or makes one longer: a block not cut
        // has only its first noted, which is the one missing or short.
        for (std::int32_t k = 0; k < file.sectorCount; ++k) {
            const SectorNote& note = sectorOf(disk, file, k);
            if (note.found == kSectorSize) continue;
            render(plan.refusal[i], file.name, ": its sector ", SectorPlace{note},
                   " is missing or short in the image, and a put adds or lengthens no sector");
            refuse(i);
            break;
        }
        if (plan.action[i] == Action::kRefused) continue;
        for (std::int32_t k = 0; k < file.sectorCount; ++k) {
            const std::uint8_t* mine = bytes + k * kSectorSize;
            plan.chunks[plan.chunkCount++] = {
                sectorOf(disk, file, k).dataOffset,
                mine,
                mine,
                i,
                file.firstSector + k,
                std::memcmp(mine, file.bytes + k * kSectorSize, kSectorSize) != 0};
        }
    }
    // Files that share a sector: a change of one is put, two changes that
    // differ are refused.
    for (std::int32_t a = 0; a < plan.chunkCount; ++a) {
        Chunk& one = plan.chunks[a];
        for (std::int32_t b = 0; b < plan.chunkCount; ++b) {
            const Chunk& other = plan.chunks[b];
            if (a == b || one.offset != other.offset || !other.changed) continue;
            if (!one.changed) {
                one.after = other.bytes;
            } else if (a < b && std::memcmp(one.bytes, other.bytes, kSectorSize) != 0) {
                render(plan.refusal[other.file], disk.files[other.file].name, " and ",
                       disk.files[one.file].name, ": they change sector ",
                       SectorPlace{disk.sectors[one.sector]}, " each its own way");
                refuse(other.file);
            }
        }
    }
    for (std::int32_t a = 0; a < plan.chunkCount; ++a) {
        const Chunk& chunk = plan.chunks[a];
        if (chunk.changed && plan.action[chunk.file] == Action::kUnchanged) {
            plan.action[chunk.file] = Action::kPut;
        }
    }
}

// Says each file put, and over which sectors the dump recorded as read
// badly: their records keep those marks.
void sayPutting(const DiskAccount& disk) {
    printRecognised();
    for (std::int32_t i = 0; i < kFileCount; ++i) {
        if (plan.action[i] != Action::kPut) continue;
        say("putting ... ", disk.files[i].name);
        std::int32_t flagged = 0;
        const SectorNote* first = nullptr;
        for (std::int32_t a = plan.firstChunk[i]; a < plan.chunkCount && plan.chunks[a].file == i;
             ++a) {
            const SectorNote& note = disk.sectors[plan.chunks[a].sector];
            if (!plan.chunks[a].changed || !note.flagged) continue;
            if (flagged++ == 0) first = &note;
        }
        if (first == nullptr) continue;
        char other[32];
        warn(Name{image}, ": ", disk.files[i].name, ": put over sector ", SectorPlace{*first},
             ", recorded with ", troubleOf(*first, other),
             flagged > 1 ? ", and more of its sectors recorded with errors or deleted-data marks"
                         : "",
             "; the records keep their marks");
    }
}

// Reads the copy back as a cut reads an image: every file put gives back
// what the put left in its sectors. False, said, when one does not.
bool readBack(const char* copy) {
    bool same = reader.open(copy);
    std::int32_t distinct = 0;
    if (same) disksRead(distinct);
    same = same && plan.disk < distinct;
    const DiskAccount& disk = accountDisk(same ? plan.disk : 0, Depth::kFiles);
    same = same && disk.known && disk.filesRead == kFileCount;
    std::int32_t wrong = -1;
    for (std::int32_t a = 0; same && a < plan.chunkCount && wrong < 0; ++a) {
        const Chunk& chunk = plan.chunks[a];
        if (plan.action[chunk.file] != Action::kPut) continue;
        const FileAccount& file = disk.files[chunk.file];
        const std::int32_t k = a - plan.firstChunk[chunk.file];
        if (std::memcmp(file.bytes + k * kSectorSize, chunk.after, kSectorSize) != 0) {
            wrong = chunk.file;
        }
    }
    reader.open(nullptr);
    if (same && wrong < 0) return true;
    warn("cannot put into ", Name{image}, "'s copy: read back, it does not give ",
         wrong >= 0 ? disk.files[wrong].name : "the known disk", " as put; nothing was written");
    return false;
}

// The copy of the image: its bytes as they stand, but for the sectors the
// files change; then read back before it has its name.
Filled writeCopy(const platform::OutputFile& file, const void* context) {
    sayPutting(*static_cast<const DiskAccount*>(context));
    flushProgress();
    const std::int64_t size = reader.fileSize();
    for (std::int64_t at = 0; at < size;) {
        const std::int32_t want = size - at < kTransferBufferSize
                                      ? static_cast<std::int32_t>(size - at)
                                      : kTransferBufferSize;
        const std::int32_t got = reader.readRaw(at, transferBuffer, want);
        if (got != want) {
            // A read that failed, or a file cut short since it was listed.
            if (reader.failure() != d88::ReadFailure::kNone) {
                reportReaderFailure(image, plan.disk);
            } else {
                warn(Name{image}, ": the file changed while it was read; nothing was written");
            }
            return Filled::kRefused;
        }
        for (std::int32_t a = 0; a < plan.chunkCount; ++a) {
            const Chunk& chunk = plan.chunks[a];
            const std::int64_t from = chunk.offset > at ? chunk.offset : at;
            const std::int64_t to =
                chunk.offset + kSectorSize < at + got ? chunk.offset + kSectorSize : at + got;
            if (!chunk.changed || from >= to) continue;
            std::memcpy(transferBuffer + (from - at), chunk.bytes + (from - chunk.offset),
                        static_cast<std::size_t>(to - from));
        }
        if (!platform::writeAll(file.fd, transferBuffer, got)) return Filled::kFailed;
        at += got;
    }
    platform::FileState now;
    if (!reader.currentState(now) || platform::changedBetween(reader.openedState(), now)) {
        warn(Name{image}, ": the file changed while it was read; nothing was written");
        return Filled::kRefused;
    }
    return readBack(file.temp) ? Filled::kDone : Filled::kRefused;
}

// --put with --list or --json: what the put would do, writing nothing.
void listPut(const Options& options, const DiskAccount* disk) {
    const int status = plan.refused >= 0 || disk == nullptr || plan.given == 0 ? 1 : 0;
    if (!options.json) {
        if (disk != nullptr) say("disk ", plan.disk + 1, " put into ", Name{options.put});
        for (std::int32_t i = 0; disk != nullptr && i < kFileCount; ++i) {
            if (plan.refusal[i][0] == '\0') {
                say("  ", Left{disk->files[i].name, 8}, actionWord(plan.action[i]));
            } else {
                say("  ", Left{disk->files[i].name, 8}, Left{actionWord(plan.action[i]), 9},
                    plan.refusal[i]);
            }
        }
        return;
    }
    LineWriter head;
    head.stream = stdout;
    putAll(head, "{\"image\": ", JsonText{image}, ", \"put\": ", JsonText{options.put},
           ", \"disk\": ");
    if (disk != nullptr) {
        putAll(head, plan.disk + 1, ",\n");
    } else {
        put(head, "null,\n");
    }
    flushLine(head);
    say(" \"files\": [");
    for (std::int32_t i = 0; disk != nullptr && i < kFileCount; ++i) {
        LineWriter line;
        line.stream = stdout;
        putAll(line, i == 0 ? "  {" : " ,{", "\"name\": ", JsonText{disk->files[i].name},
               ", \"action\": \"", actionWord(plan.action[i]), "\", \"refusal\": ");
        if (plan.refusal[i][0] != '\0') {
            putAll(line, JsonText{plan.refusal[i]}, "}\n");
        } else {
            put(line, "null}\n");
        }
        flushLine(line);
    }
    say(" ],");
    say(" \"status\": ", status, "}");
}

}  // namespace

int runPut(const Options& options) {
    image = options.image;
    plan.disk = 0;
    plan.given = 0;
    plan.refused = -1;
    const DiskAccount* chosen = chooseDisk(options.disk);
    if (reader.failure() != d88::ReadFailure::kNone) {
        reportReaderFailure(image, plan.disk);
        return 1;
    }
    if (chosen == nullptr) {
        if (options.list) listPut(options, nullptr);
        return 1;
    }
    const DiskAccount& disk = *chosen;
    // A put reads the directory under its lock, so that no cut writes into
    // it meanwhile; it is not made. A listing takes no lock, as a cut's.
    if ((!options.list &&
         !beginOutputs(options.directory, reader.openedState().id, options.sync, false)) ||
        !readGiven(options.directory, disk)) {
        return 1;
    }
    planPut(disk);
    if (options.list) {
        listPut(options, &disk);
        return plan.refused >= 0 || plan.given == 0 ? 1 : 0;
    }
    if (plan.given == 0) {
        if (options.directory == nullptr) {
            warn("nothing to put: the current directory holds none of the sixteen files");
        } else {
            warn("nothing to put: ", Name{options.directory}, " holds none of the sixteen files");
        }
        return 1;
    }
    if (plan.refused >= 0) {
        warn("cannot put ", plan.refusal[plan.refused], "; nothing was written");
        return 1;
    }
    return replaceFile(options.put, writeCopy, &disk) && endOutputs() ? 0 : 1;
}

}  // namespace d88cut
