// Output files: a name only ever holds the earlier file, untouched, or the
// complete new one, whatever happens to the run.
#include "write/output.h"

#include <cerrno>
#include <cstring>

namespace d88cut {

namespace {

void noteWritten(Outputs& outputs, const char* name, std::int32_t disk) {
    for (std::int32_t i = 0; i < outputs.writtenCount; ++i) {
        if (std::strcmp(outputs.written[i].name, name) == 0) {
            outputs.written[i].disk = disk;
            return;
        }
    }
    if (outputs.writtenCount < kFileCount) outputs.written[outputs.writtenCount++] = {name, disk};
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

// What stands at `path` may be replaced: `status` says what it is. False,
// said, when it must not be: the image may sit in the output directory
// under an output's name, or behind a link of that name, and a name whose
// identity cannot be told is left alone too.
bool checkName(const char* path, const platform::FileId* inputs, std::int32_t inputCount,
               platform::NameStatus& status) {
    if (!platform::statusOfName(path, status)) {
        warn("cannot write ", Name{path},
             ": cannot tell whether it is the input image: ", std::strerror(errno));
        return false;
    }
    for (std::int32_t i = 0; status.exists && i < inputCount; ++i) {
        if (!platform::sameFile(status.id, inputs[i])) continue;
        warn("cannot write ", Name{path}, ": it is the input image");
        return false;
    }
    // As a plain overwrite would be refused, and the earlier file kept.
    if (!status.writable) {
        warn("cannot create ", Name{path}, ": ", std::strerror(status.reason));
        return false;
    }
    return true;
}

// Says why the file being written does not have its name, and removes what
// is left of it. `failed` is what could not be done ("create ", "write ").
void sayFailed(platform::OutputFile& file, const char* failed, int reason) {
    const bool removed = platform::rollbackOutput(file);
    const int leftReason = errno;
    warn("cannot ", failed, Name{file.path}, ": ", std::strerror(reason));
    if (!removed) {
        warn("left the temporary file ", Name{file.temp},
             " behind: cannot remove it: ", std::strerror(leftReason));
    }
}

// Writes `size` bytes as the new file `name` of `dir` and gives it its
// name; false, said, when it could not. `again` is set when the name
// appeared meanwhile and nothing was written.
bool writeOutput(Outputs& outputs, const char* dir, const char* name,
                 const platform::NameStatus& status, const std::uint8_t* data, std::int32_t size,
                 bool& again) {
    platform::OutputFile& file = outputs.file;
    again = false;
    file.sync = outputs.sync;
    file.named = false;
    if (!platform::createOutput(file, dir, name, outputs.path, status)) {
        warn("cannot create ", Name{outputs.path}, ": ", std::strerror(errno));
        return false;
    }
    const char* failed = "write ";
    if (platform::writeAll(file.fd, data, size)) {
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
    sayFailed(file, failed, errno);
    return false;
}

}  // namespace

void addInput(Outputs& outputs, const platform::FileId& input) {
    if (outputs.inputCount < kMaxInputs) outputs.inputIds[outputs.inputCount++] = input;
}

bool beginOutputs(Outputs& outputs, const char* directory, const platform::FileId& input, bool sync,
                  bool make) {
    outputs.directory = directory;
    outputs.sync = sync;
    outputs.inputIds[0] = input;
    outputs.inputCount = 1;
    outputs.writtenCount = 0;
    outputs.madeFrom = 0;
    outputs.replacedIn = nullptr;
    if (make && directory != nullptr && !platform::makeDirectories(directory, outputs.madeFrom)) {
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

namespace {

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

}  // namespace

bool endOutputs(Outputs& outputs) {
    if (!outputs.sync) return true;
    if (outputs.replacedIn != nullptr) {
        return syncNames(outputs.replacedIn[0] == '\0' ? nullptr : outputs.replacedIn);
    }
    const char* directory = outputs.directory;
    if (!syncNames(directory)) return false;
    if (outputs.madeFrom == 0) return true;
    // Each directory the run made is a name in its parent: for -C new/dir,
    // new/dir is named in new, and new in the directory that holds it.
    char(&parent)[platform::kMaxPathBytes] = outputs.parent;
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
        if (named <= outputs.madeFrom) return true;
    }
}

void put(LineWriter& line, const OutputPath& path) {
    const char* directory = path.outputs.directory;
    if (directory != nullptr && directory[0] != '\0') {
        put(line, Name{directory});
        if (!platform::isSeparator(directory[std::strlen(directory) - 1])) put(line, "/");
    }
    put(line, Name{path.name});
}

bool replaceOutput(Outputs& outputs, const char* name, std::int32_t disk, const std::uint8_t* data,
                   std::int32_t size) {
    // Its line goes out before the file is made: the log of a killed run
    // names every file it replaced.
    flushProgress();
    // Never the bare name instead: the file would land outside the directory.
    if (!platform::joinPath(outputs.directory, name, outputs.path, sizeof outputs.path)) {
        warn("cannot create ", OutputPath{outputs, name}, ": the path is too long");
        return false;
    }
    // A second look when a name appeared between the first and the write.
    for (int look = 0; look < 2; ++look) {
        platform::NameStatus status;
        if (!checkName(outputs.path, outputs.inputIds, outputs.inputCount, status)) return false;
        bool again = false;
        if (writeOutput(outputs, outputs.directory, name, status, data, size, again)) {
            noteWritten(outputs, name, disk);
            return true;
        }
        if (!again) return false;
    }
    warn("cannot create ", Name{outputs.path}, ": ", std::strerror(EEXIST));
    return false;
}

bool mayReplace(const char* path, const platform::FileId& input) {
    platform::NameStatus status;
    return checkName(path, &input, 1, status);
}

bool beginFile(Outputs& outputs, const char* path) {
    flushProgress();
    // The temporary name stands beside the file, in its directory.
    const std::size_t length = std::strlen(path);
    std::size_t base = length;
    while (base > 0 && !platform::isSeparator(path[base - 1])) --base;
    if (base == length || length >= sizeof outputs.fileDirectory) {
        warn("cannot create ", Name{path}, ": ",
             std::strerror(base == length ? EISDIR : ENAMETOOLONG));
        return false;
    }
    std::memcpy(outputs.fileDirectory, path, base);
    outputs.fileDirectory[base] = '\0';
    platform::NameStatus status;
    if (!checkName(path, outputs.inputIds, outputs.inputCount, status)) return false;
    platform::OutputFile& file = outputs.file;
    file.sync = outputs.sync;
    // Always under a temporary name, so that it can be read back.
    file.named = true;
    if (!platform::createOutput(file, base == 0 ? nullptr : outputs.fileDirectory, path + base,
                                path, status)) {
        warn("cannot create ", Name{path}, ": ", std::strerror(errno));
        return false;
    }
    return true;
}

bool endFile(Outputs& outputs, Filled filled) {
    platform::OutputFile& file = outputs.file;
    // What refused it said why; what it leaves is removed all the same.
    if (filled == Filled::kRefused) {
        platform::rollbackOutput(file);
        return false;
    }
    const char* failed = "write ";
    if (filled == Filled::kDone) {
        switch (platform::commitOutput(file)) {
            case platform::Commit::kDone: outputs.replacedIn = outputs.fileDirectory; return true;
            // A file with a temporary name is renamed over whatever has the
            // name by then, never made again.
            case platform::Commit::kAgain:
            case platform::Commit::kCannotCreate: failed = "create "; break;
            case platform::Commit::kCannotWrite: break;
        }
    }
    sayFailed(file, failed, errno);
    return false;
}

std::int32_t diskWritten(const Outputs& outputs, const char* name) {
    for (std::int32_t i = 0; i < outputs.writtenCount; ++i) {
        if (std::strcmp(outputs.written[i].name, name) == 0) return outputs.written[i].disk;
    }
    return 0;
}

bool outputExists(Outputs& outputs, const char* name) {
    platform::NameStatus status;
    return !platform::joinPath(outputs.directory, name, outputs.path, sizeof outputs.path) ||
           !platform::statusOfName(outputs.path, status) || status.exists;
}

}  // namespace d88cut
