// Output files: a name only ever holds the earlier file, untouched, or the
// complete new one, whatever happens to the run.
#include "write/output.h"

#include <cerrno>
#include <cstring>

#include "known/account.h"

namespace d88cut {

namespace {

// The output directory; null for the current one.
const char* directory = nullptr;
// --sync: data, then names, pushed to the disk.
bool syncOutputs = false;
// The length of the prefix of `directory` naming the first directory this
// run made; 0 when it made none.
std::size_t madeFrom = 0;
platform::FileId inputId;
// The output file being written, and the path of an output: kept out of the
// stack, which is 64 KiB in the browser, as each is about 96 KiB.
platform::OutputFile file;
char outputPath[platform::kMaxPathBytes];
// The directory of a file replaced by its path, whose names --sync pushes:
// empty for the current one; null when none was.
char fileDirectory[platform::kMaxPathBytes];
const char* replacedIn = nullptr;

// What a new file holds: `size` bytes at `data`, or what `fill` writes.
struct Content {
    const std::uint8_t* data;
    std::int32_t size;
    Fill fill;
    const void* context;
};

// The names this run wrote, and the disk image each came from last: at most
// one entry for each file of the known disk.
struct Written {
    const char* name;
    std::int32_t disk;
};
Written written[kFileCount];
int writtenCount = 0;

void noteWritten(const char* name, std::int32_t disk) {
    for (int i = 0; i < writtenCount; ++i) {
        if (std::strcmp(written[i].name, name) == 0) {
            written[i].disk = disk;
            return;
        }
    }
    // Only the known disk's names are written.
    if (writtenCount < kFileCount) written[writtenCount++] = {name, disk};
}

// The lock's name can be held by any process of any local user, not only
// another run: the line says what is known.
void sayWaiting(const char* path) {
    if (path == nullptr) {
        warn("waiting for the lock on the current directory, held by another process");
    } else {
        warn("waiting for the lock on ", Name{path}, ", held by another process");
    }
}

// Writes the new file `name` of `dir` and gives it its name; false, said,
// when it could not. `again` is set when the name appeared meanwhile and
// nothing was written.
bool writeOutput(const char* dir, const char* name, const char* path,
                 const platform::NameStatus& status, const Content& content, bool& again) {
    again = false;
    file.sync = syncOutputs;
    file.named = content.fill != nullptr;
    if (!platform::createOutput(file, dir, name, path, status)) {
        warn("cannot create ", Name{path}, ": ", std::strerror(errno));
        return false;
    }
    const char* failed = "write ";
    int reason = 0;
    Filled filled = Filled::kDone;
    if (content.fill != nullptr) {
        filled = content.fill(file, content.context);
    } else if (!platform::writeAll(file.fd, content.data, content.size)) {
        filled = Filled::kFailed;
    }
    // What refused it said why; what it leaves is removed all the same.
    if (filled == Filled::kRefused) {
        platform::rollbackOutput(file);
        return false;
    }
    if (filled == Filled::kDone) {
        switch (platform::commitOutput(file)) {
            case platform::Commit::kDone: return true;
            case platform::Commit::kAgain: again = true; return false;
            // A name that cannot take the new file (a directory, say) is a
            // failure to create it; a short write or a failed close, a
            // failure to write it.
            case platform::Commit::kCannotCreate: failed = "create "; break;
            case platform::Commit::kCannotWrite: break;
        }
    }
    reason = errno;
    const bool removed = platform::rollbackOutput(file);
    const int leftReason = errno;
    warn("cannot ", failed, Name{path}, ": ", std::strerror(reason));
    if (!removed) {
        warn("left the temporary file ", Name{file.temp},
             " behind: cannot remove it: ", std::strerror(leftReason));
    }
    return false;
}

// Puts `content` in the place of `path`, the file `name` of `dir`; false,
// said, when it could not.
bool replaceAt(const char* dir, const char* name, const char* path, const Content& content) {
    // A second look when a name appeared between the first and the write.
    for (int look = 0; look < 2; ++look) {
        platform::NameStatus status;
        // The image may sit in the output directory under an output's name,
        // or behind a link of that name: it is never replaced, and a name
        // whose identity cannot be told is left alone too.
        if (!platform::statusOfName(path, status)) {
            warn("cannot write ", Name{path},
                 ": cannot tell whether it is the input image: ", std::strerror(errno));
            return false;
        }
        if (status.exists && platform::sameFile(status.id, inputId)) {
            warn("cannot write ", Name{path}, ": it is the input image");
            return false;
        }
        // As a plain overwrite would be refused, and the earlier file kept.
        if (!status.writable) {
            warn("cannot create ", Name{path}, ": ", std::strerror(status.reason));
            return false;
        }
        bool again = false;
        if (writeOutput(dir, name, path, status, content, again)) return true;
        if (!again) return false;
    }
    warn("cannot create ", Name{path}, ": ", std::strerror(EEXIST));
    return false;
}

}  // namespace

bool beginOutputs(const char* outputDirectory, const platform::FileId& input, bool sync,
                  bool make) {
    directory = outputDirectory;
    syncOutputs = sync;
    inputId = input;
    writtenCount = 0;
    madeFrom = 0;
    replacedIn = nullptr;
    if (make && directory != nullptr && !platform::makeDirectories(directory, madeFrom)) {
        warn("cannot make the directory ", Name{directory}, ": ", std::strerror(errno));
        return false;
    }
    if (platform::lockDirectory(directory, sayWaiting) != platform::LockResult::kHeld) {
        const int reason = errno;
        if (directory == nullptr) {
            warn("cannot lock the current directory against other runs: ", std::strerror(reason));
        } else {
            warn("cannot lock ", Name{directory}, " against other runs: ", std::strerror(reason));
        }
        return false;
    }
    return true;
}

// Pushes a directory's names to the disk (null: the current directory);
// false, said, when the system fails it.
bool syncNames(const char* path) {
    if (platform::syncDirectory(path)) return true;
    const int reason = errno;
    if (path == nullptr) {
        warn("cannot sync the current directory: ", std::strerror(reason));
    } else {
        warn("cannot sync ", Name{path}, ": ", std::strerror(reason));
    }
    return false;
}

bool endOutputs() {
    if (!syncOutputs) return true;
    if (replacedIn != nullptr) return syncNames(replacedIn[0] == '\0' ? nullptr : replacedIn);
    if (!syncNames(directory)) return false;
    if (madeFrom == 0) return true;
    // Each directory the run made is a name in its parent: for -C new/dir,
    // new/dir is named in new, and new in the directory that holds it.
    static char parent[platform::kMaxPathBytes];
    std::size_t end = std::strlen(directory);
    if (end >= sizeof parent) return true;
    std::memcpy(parent, directory, end + 1);
    while (end > 1 && platform::isSeparator(parent[end - 1])) --end;
    for (;;) {
        const std::size_t named = end;
        // Its last name goes, and the separators before it; "new" is named
        // in the current directory, "/new" in "/".
        while (end > 0 && !platform::isSeparator(parent[end - 1])) --end;
        while (end > 1 && platform::isSeparator(parent[end - 1])) --end;
        parent[end] = '\0';
        if (!syncNames(end == 0 ? nullptr : parent)) return false;
        if (named <= madeFrom) return true;
    }
}

void put(LineWriter& line, OutputPath path) {
    if (directory != nullptr && directory[0] != '\0') {
        put(line, Name{directory});
        if (!platform::isSeparator(directory[std::strlen(directory) - 1])) put(line, "/");
    }
    put(line, Name{path.name});
}

bool replaceOutput(const char* name, std::int32_t disk, const std::uint8_t* data,
                   std::int32_t size) {
    // Its line goes out before the file is made: the log of a killed run
    // names every file it replaced.
    flushProgress();
    char(&path)[platform::kMaxPathBytes] = outputPath;
    // Never the bare name instead: the file would land outside the directory.
    if (!platform::joinPath(directory, name, path, sizeof path)) {
        warn("cannot create ", OutputPath{name}, ": the path is too long");
        return false;
    }
    if (!replaceAt(directory, name, path, Content{data, size, nullptr, nullptr})) return false;
    noteWritten(name, disk);
    return true;
}

bool replaceFile(const char* path, Fill fill, const void* context) {
    flushProgress();
    // The temporary name stands beside the file, in its directory.
    const std::size_t length = std::strlen(path);
    std::size_t base = length;
    while (base > 0 && !platform::isSeparator(path[base - 1])) --base;
    if (base == length || length >= sizeof fileDirectory) {
        warn("cannot create ", Name{path}, ": ",
             std::strerror(base == length ? EISDIR : ENAMETOOLONG));
        return false;
    }
    std::memcpy(fileDirectory, path, base);
    fileDirectory[base] = '\0';
    const char* dir = base == 0 ? nullptr : fileDirectory;
    if (!replaceAt(dir, path + base, path, Content{nullptr, 0, fill, context})) return false;
    replacedIn = fileDirectory;
    return true;
}

std::int32_t diskWritten(const char* name) {
    for (int i = 0; i < writtenCount; ++i) {
        if (std::strcmp(written[i].name, name) == 0) return written[i].disk;
    }
    return 0;
}

bool outputExists(const char* name) {
    char(&path)[platform::kMaxPathBytes] = outputPath;
    platform::NameStatus status;
    return !platform::joinPath(directory, name, path, sizeof path) ||
           !platform::statusOfName(path, status) || status.exists;
}

}  // namespace d88cut
