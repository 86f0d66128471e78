// Putting edited files back: the files given, what each sector will hold,
// the copy written with them, and the copy read back.
#include "write/put.h"

#include <cerrno>
#include <cstring>

#include "known/shape.h"
#include "known/words.h"
#include "text/messages.h"

namespace d88cut {

namespace {

void refuse(PutPlan& plan, std::int32_t file) {
    plan.report.action[file] = PutAction::kRefused;
    if (plan.refused < 0 || file < plan.refused) plan.refused = file;
}

// Reads the files of the directory that bear the sixteen names, each into
// its place. A name that is not there is left; a file that cannot be read,
// or is of another size, is refused.
void readGiven(PutJob& job, const char* directory, const DiskAccount& disk) {
    PutPlan& plan = job.plan;
    for (std::int32_t i = 0; i < kFileCount; ++i) {
        const FileAccount& file = disk.files[i];
        char(&refusal)[kRefusalSize] = plan.report.refusal[i];
        plan.report.action[i] = PutAction::kLeft;
        refusal[0] = '\0';
        if (!platform::joinPath(directory, file.name, job.givenPath, sizeof job.givenPath)) {
            render(refusal, "cannot read ", Name{directory == nullptr ? "" : directory}, "/",
                   file.name, ": the path is too long");
            ++plan.given;
            if (plan.unreadable < 0) plan.unreadable = i;
            refuse(plan, i);
            continue;
        }
        // One byte more than the file's own: a file too long is seen.
        std::uint8_t* bytes = job.given + filePlace(i).offset;
        const std::int32_t got = platform::readSmallFile(job.givenPath, bytes, file.size + 1);
        if (got < 0 && (errno == ENOENT || errno == ENOTDIR)) continue;
        ++plan.given;
        plan.report.action[i] = PutAction::kUnchanged;
        if (got < 0) {
            render(refusal, "cannot read ", Name{job.givenPath}, ": ", std::strerror(errno));
            if (plan.unreadable < 0) plan.unreadable = i;
            refuse(plan, i);
            continue;
        }
        if (got == file.size) continue;
        // Its size in full, for the line that refuses it.
        platform::File opened = platform::kNoFile;
        platform::FileState state;
        state.size = got;
        if (platform::openImage(job.givenPath, opened, state) == platform::OpenResult::kOpened) {
            platform::closeImage(opened);
        }
        render(refusal, Name{job.givenPath}, ": it has ", state.size, " bytes, and ", file.name,
               " has ", file.size);
        refuse(plan, i);
    }
}

// What every sector of the files given will hold, and what cannot be put:
// a file over a sector the image lacks whole, or two files that change a
// sector they share each its own way.
void planSectors(PutJob& job, const DiskAccount& disk) {
    PutPlan& plan = job.plan;
    for (std::int32_t i = 0; i < kFileCount; ++i) {
        const FileAccount& file = disk.files[i];
        plan.firstChunk[i] = plan.chunkCount;
        if (plan.report.action[i] != PutAction::kUnchanged) continue;
        // A put never adds a sector or makes one longer: a block not cut
        // has only its first noted, which is the one missing or short.
        for (std::int32_t k = 0; k < file.sectorCount; ++k) {
            const SectorNote& note = sectorOf(disk, file, k);
            if (note.found == kSectorSize) continue;
            render(plan.report.refusal[i], file.name, ": its sector ", SectorPlace{note},
                   " is missing or short in the image, and a put adds or lengthens no sector");
            refuse(plan, i);
            break;
        }
        if (plan.report.action[i] == PutAction::kRefused) continue;
        const std::uint8_t* image = bytesOf(disk, i);
        for (std::int32_t k = 0; k < file.sectorCount; ++k) {
            const std::int32_t mine = filePlace(i).offset + k * kSectorSize;
            plan.chunks[plan.chunkCount++] = {
                sectorOf(disk, file, k).dataOffset,
                mine,
                mine,
                i,
                file.firstSector + k,
                std::memcmp(job.given + mine, image + k * kSectorSize, kSectorSize) != 0,
                sectorOf(disk, file, k).compressed};
        }
    }
    // Files that share a sector: a change of one is put, two changes that
    // differ are refused. The chunks by offset, in chunk order where they
    // share one, so that only those of one sector are compared: comparing
    // every pair cost a put a third of its CPU time.
    // (An insertion sort, stable: std::sort cost the page more than a
    // kilobyte.)
    std::int16_t order[kFileSectors];
    for (std::int32_t a = 0; a < plan.chunkCount; ++a) {
        std::int32_t at = a;
        for (; at > 0 && plan.chunks[order[at - 1]].offset > plan.chunks[a].offset; --at) {
            order[at] = order[at - 1];
        }
        order[at] = static_cast<std::int16_t>(a);
    }
    for (std::int32_t first = 0, end = 0; first < plan.chunkCount; first = end) {
        const std::int64_t offset = plan.chunks[order[first]].offset;
        for (end = first + 1; end < plan.chunkCount && plan.chunks[order[end]].offset == offset;)
            ++end;
        for (std::int32_t x = first; x < end; ++x) {
            Chunk& one = plan.chunks[order[x]];
            for (std::int32_t y = first; y < end; ++y) {
                const Chunk& other = plan.chunks[order[y]];
                if (x == y || !other.changed) continue;
                if (!one.changed) {
                    one.after = other.bytes;
                } else if (x < y && std::memcmp(job.given + one.bytes, job.given + other.bytes,
                                                kSectorSize) != 0) {
                    render(plan.report.refusal[other.file], disk.files[other.file].name, " and ",
                           disk.files[one.file].name, ": they change sector ",
                           SectorPlace{disk.sectors[one.sector]}, " each its own way");
                    refuse(plan, other.file);
                }
            }
        }
    }
    for (std::int32_t a = 0; a < plan.chunkCount; ++a) {
        const Chunk& chunk = plan.chunks[a];
        if (chunk.changed && plan.report.action[chunk.file] == PutAction::kUnchanged) {
            plan.report.action[chunk.file] = PutAction::kPut;
        }
    }
}

// Says each file put, and over which sectors the dump recorded as read
// badly: their records keep those marks.
void sayPutting(const PutJob& job, const char* image, const DiskAccount& disk) {
    const PutPlan& plan = job.plan;
    printRecognised();
    for (std::int32_t i = 0; i < kFileCount; ++i) {
        if (plan.report.action[i] != PutAction::kPut) continue;
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
    flushProgress();
}

// Says why the image could not be read for its copy.
void sayCopyUnread(const char* image) {
    // A read that failed, or a file cut short since it was listed.
    if (reader.failure() != d88::ReadFailure::kNone) {
        warn("cannot read ", Name{image}, ": ", std::strerror(reader.failureErrno()));
    } else {
        warn(Name{image}, ": the file changed while it was read; nothing was written");
    }
}

// Copies the image's bytes from `from` to `to` into the copy, but for the
// sectors the files change in place, with the job's own buffer.
Filled copyRange(PutJob& job, int fd, const char* image, std::int64_t from, std::int64_t to) {
    const PutPlan& plan = job.plan;
    for (std::int64_t at = from; at < to;) {
        const std::int32_t want =
            to - at < kCopyBufferSize ? static_cast<std::int32_t>(to - at) : kCopyBufferSize;
        const std::int32_t got = reader.readRaw(at, job.buffer, want);
        if (got != want) {
            sayCopyUnread(image);
            return Filled::kRefused;
        }
        for (std::int32_t a = 0; a < plan.chunkCount; ++a) {
            const Chunk& chunk = plan.chunks[a];
            const std::int64_t first = chunk.offset > at ? chunk.offset : at;
            const std::int64_t last =
                chunk.offset + kSectorSize < at + got ? chunk.offset + kSectorSize : at + got;
            if (!chunk.changed || chunk.compressed || first >= last) continue;
            std::memcpy(job.buffer + (first - at), job.given + chunk.bytes + (first - chunk.offset),
                        static_cast<std::size_t>(last - first));
        }
        if (!platform::writeAll(fd, job.buffer, got)) return Filled::kFailed;
        at += got;
    }
    return Filled::kDone;
}

// The copy of the image: its bytes as they stand, but for the sectors the
// files change. A compressed IMD record that changes grows into a record of
// its data: its type byte one less (the same mark, not compressed), then
// the sector's bytes in the place of its fill byte.
Filled writeCopy(PutJob& job, int fd, const char* image) {
    const PutPlan& plan = job.plan;
    std::int64_t at = 0;
    for (;;) {
        // The next compressed record to grow, in file order.
        const Chunk* next = nullptr;
        for (std::int32_t a = 0; a < plan.chunkCount; ++a) {
            const Chunk& chunk = plan.chunks[a];
            if (chunk.changed && chunk.compressed && chunk.offset >= at &&
                (next == nullptr || chunk.offset < next->offset)) {
                next = &chunk;
            }
        }
        if (next == nullptr) break;
        std::uint8_t type = 0;
        Filled filled = copyRange(job, fd, image, at, next->offset - 1);
        if (filled != Filled::kDone) return filled;
        if (reader.readRaw(next->offset - 1, &type, 1) != 1) {
            sayCopyUnread(image);
            return Filled::kRefused;
        }
        type = static_cast<std::uint8_t>(type - 1);
        if (!platform::writeAll(fd, &type, 1) ||
            !platform::writeAll(fd, job.given + next->bytes, kSectorSize)) {
            return Filled::kFailed;
        }
        at = next->offset + 1;
    }
    const Filled filled = copyRange(job, fd, image, at, reader.fileSize());
    if (filled != Filled::kDone) return filled;
    platform::FileState now;
    if (!reader.currentState(now)) {
        warn("cannot read ", Name{image}, ": ", std::strerror(errno));
        return Filled::kRefused;
    }
    if (platform::changedBetween(reader.openedState(), now)) {
        warn(Name{image}, ": the file changed while it was read; nothing was written");
        return Filled::kRefused;
    }
    return Filled::kDone;
}

// Reads the copy, `temp`, back as a cut reads an image, into the job's own
// account: every file put gives back what the put left in its sectors.
// False, said, when one does not.
bool readBack(PutJob& job, const char* temp, const char* image, const char* copy,
              const DiskAccount& disk) {
    const PutPlan& plan = job.plan;
    if (!reader.open(temp)) {
        warn("cannot read ", Name{copy}, ": ", std::strerror(reader.failureErrno()));
        return false;
    }
    const ImageShape shape = shapeOfImage();
    DiskAccount& back = job.readBack;
    const std::int32_t index = disk.number - 1;
    bool same = index < shape.distinct;
    if (same) takeAccount(back, index, Depth::kFiles);
    if (reader.failure() != d88::ReadFailure::kNone) {
        reportReaderFailure(copy, index);
        reader.open(nullptr);
        return false;
    }
    reader.open(nullptr);
    same = same && back.known && back.filesRead == kFileCount;
    std::int32_t wrong = -1;
    for (std::int32_t a = 0; same && a < plan.chunkCount && wrong < 0; ++a) {
        const Chunk& chunk = plan.chunks[a];
        if (plan.report.action[chunk.file] != PutAction::kPut) continue;
        const std::int32_t k = a - plan.firstChunk[chunk.file];
        if (std::memcmp(bytesOf(back, chunk.file) + k * kSectorSize, job.given + chunk.after,
                        kSectorSize) != 0) {
            wrong = chunk.file;
        }
    }
    if (same && wrong < 0) return true;
    warn("cannot put into ", Name{image}, "'s copy: read back, it does not give ",
         wrong >= 0 ? back.files[wrong].name : "the known disk", " as put; nothing was written");
    return false;
}

}  // namespace

void planPut(PutJob& job, const char* directory, const DiskAccount& disk) {
    PutPlan& plan = job.plan;
    plan.report.disk = disk.number;
    plan.chunkCount = 0;
    plan.given = 0;
    plan.refused = -1;
    plan.unreadable = -1;
    readGiven(job, directory, disk);
    planSectors(job, disk);
}

bool sayPutRefused(const PutJob& job, const char* directory) {
    const PutPlan& plan = job.plan;
    if (plan.unreadable >= 0) {
        warn(plan.report.refusal[plan.unreadable]);
    } else if (plan.given == 0 && directory == nullptr) {
        warn("nothing to put: the current directory holds none of the sixteen files");
    } else if (plan.given == 0) {
        warn("nothing to put: ", Name{directory}, " holds none of the sixteen files");
    } else if (plan.refused >= 0) {
        warn("cannot put ", plan.report.refusal[plan.refused], "; nothing was written");
    } else {
        return false;
    }
    return true;
}

bool putCopy(PutJob& job, Outputs& outputs, const char* image, const char* copy,
             const DiskAccount& disk) {
    if (!beginFile(outputs, copy)) return false;
    sayPutting(job, image, disk);
    Filled filled = writeCopy(job, outputs.file.fd, image);
    const int reason = errno;
    if (filled == Filled::kDone && !readBack(job, outputs.file.temp, image, copy, disk)) {
        filled = Filled::kRefused;
    }
    errno = reason;
    return endFile(outputs, filled);
}

}  // namespace d88cut
