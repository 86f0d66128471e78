// Output files: a name only ever holds the earlier file, untouched, or the
// complete new one, whatever happens to the run.
#include "tool/output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tool/messages.h"

namespace d88cut {

namespace {

// A temporary name is ".NAME.d88cut-PID", or with "-K" added when a file of
// that name is already there (left by a killed run whose number came back).
constexpr char kTempFormat[] = ".%s.d88cut-%lu";
constexpr char kTempRetryFormat[] = ".%s.d88cut-%lu-%d";
constexpr int kTempTries = 100;
// Room for ".OPMMUS0.d88cut-" with any process number and retry count.
constexpr std::size_t kTempNameSize = 64;

// The output directory; null for the current one.
const char* directory = nullptr;
platform::FileId inputId;
// Taken at the first temporary name of a run.
unsigned long processId = 0;
// False once the system has refused a file without a name: every later file
// goes by a temporary name at once.
bool unnamedWorks = true;

char pathBuffer[platform::kMaxPathBytes];
char tempPath[platform::kMaxPathBytes];

// The names this run wrote, and the disk image each came from last.
struct Written {
    const char* name;
    std::int32_t disk;
};
// The block table's fifteen names and PSGMUS.
constexpr int kMaxOutputs = 16;
Written written[kMaxOutputs];
int writtenCount = 0;

void noteWritten(const char* name, std::int32_t disk) {
    for (int i = 0; i < writtenCount; ++i) {
        if (std::strcmp(written[i].name, name) == 0) {
            written[i].disk = disk;
            return;
        }
    }
    if (writtenCount < kMaxOutputs) written[writtenCount++] = {name, disk};
}

void sayWaiting(const char* path) {
    if (path == nullptr) {
        warn("waiting for another d88cut run in the current directory to end");
    } else {
        warn("waiting for another d88cut run in ", Name{path}, " to end");
    }
}

enum class Unnamed {
    kWritten,
    kFailed,       // said on standard error
    kNameTaken,    // the name appeared meanwhile
    kUnsupported,  // the system makes no such files here
};

// Writes the file without a name and then names it: nothing is left behind
// if the run ends before.
Unnamed writeUnnamed(const char* path, const std::uint8_t* data, std::int32_t size) {
    const int fd = platform::createUnnamed(directory);
    if (fd < 0) {
        // A directory where this fails is written the other way, which says
        // why when that fails too.
        unnamedWorks = false;
        return Unnamed::kUnsupported;
    }
    if (!platform::writeAll(fd, data, size)) {
        const int reason = errno;
        platform::closeFile(fd);
        warn("cannot write ", Name{path}, ": ", std::strerror(reason));
        return Unnamed::kFailed;
    }
    if (!platform::nameUnnamed(fd, path)) {
        const bool taken = errno == EEXIST;
        // A system that cannot name such a file is not asked again.
        if (!taken) unnamedWorks = false;
        platform::closeFile(fd);
        return taken ? Unnamed::kNameTaken : Unnamed::kUnsupported;
    }
    if (platform::closeFile(fd)) return Unnamed::kWritten;
    // The name is the new file's own: where its close fails, the name goes
    // again, as it was.
    const int reason = errno;
    platform::removeName(path);
    warn("cannot write ", Name{path}, ": ", std::strerror(reason));
    return Unnamed::kFailed;
}

// Creates a new temporary file beside `name`, its path in tempPath; returns
// its descriptor, or -1 with errno set.
int createTemp(const char* name, const platform::NameStatus& status) {
    if (processId == 0) processId = platform::processId();
    char temp[kTempNameSize];
    for (int k = 0; k < kTempTries; ++k) {
        const int length = k == 0 ? std::snprintf(temp, sizeof temp, kTempFormat, name, processId)
                                  : std::snprintf(temp, sizeof temp, kTempRetryFormat, name,
                                                  processId, k);
        if (length < 0 || length >= static_cast<int>(sizeof temp) ||
            !platform::joinPath(directory, temp, tempPath, sizeof tempPath)) {
            errno = ENAMETOOLONG;
            return -1;
        }
        // A file of this name that is there already can only be a temporary
        // file a killed run left.
        const int fd = platform::createNew(tempPath, status.keepsMode, status.mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// Writes the file under a temporary name and renames it over `path`, with
// the signals that end a run held meanwhile, so that none leaves the
// temporary name behind.
bool writeThroughTemp(const char* name, const char* path, const platform::NameStatus& status,
                      const std::uint8_t* data, std::int32_t size) {
    platform::holdTermination();
    const int fd = createTemp(name, status);
    if (fd < 0) {
        const int reason = errno;
        platform::allowTermination();
        warn("cannot create ", Name{path}, ": ", std::strerror(reason));
        return false;
    }
    const bool wrote = platform::writeAll(fd, data, size);
    int reason = errno;
    // Closing can fail too, where the system reports a write only then.
    const bool closed = platform::closeFile(fd);
    if (wrote && !closed) reason = errno;
    const bool replaced = wrote && closed && platform::replaceName(tempPath, path);
    if (wrote && closed && !replaced) reason = errno;
    const bool left = !replaced && !platform::removeName(tempPath);
    const int leftReason = errno;
    platform::allowTermination();
    if (replaced) return true;
    // A name that cannot take the new file (a directory, say) is a failure
    // to create it; a short write or a failed close, a failure to write it.
    warn("cannot ", wrote && closed ? "create " : "write ", Name{path}, ": ",
         std::strerror(reason));
    if (left) {
        warn("left the temporary file ", Name{tempPath}, " behind: cannot remove it: ",
             std::strerror(leftReason));
    }
    return false;
}

}  // namespace

bool beginOutputs(const char* outputDirectory, const platform::FileId& input) {
    directory = outputDirectory;
    inputId = input;
    processId = 0;
    unnamedWorks = true;
    writtenCount = 0;
    if (directory != nullptr && !platform::makeDirectories(directory)) {
        warn("cannot make the directory ", Name{directory}, ": ", std::strerror(errno));
        return false;
    }
    if (platform::lockDirectory(directory, sayWaiting) != platform::LockResult::kHeld) {
        const int reason = errno;
        if (directory == nullptr) {
            warn("cannot lock the current directory against other runs: ",
                 std::strerror(reason));
        } else {
            warn("cannot lock ", Name{directory}, " against other runs: ",
                 std::strerror(reason));
        }
        return false;
    }
    return true;
}

const char* outputPath(const char* name) {
    if (!platform::joinPath(directory, name, pathBuffer, sizeof pathBuffer)) return name;
    return pathBuffer;
}

bool replaceOutput(const char* name, std::int32_t disk, const std::uint8_t* data,
                   std::int32_t size) {
    const char* path = outputPath(name);
    // Its line goes out before the file is made: the log of a killed run
    // names every file it replaced.
    flushProgress();
    // A second look when a name appeared between the first and the write.
    for (int look = 0; look < 2; ++look) {
        platform::NameStatus status;
        // The image may sit in the output directory under an output's name,
        // or behind a link of that name: it is never replaced, and a name
        // whose identity cannot be told is left alone too.
        if (!platform::statusOfName(path, status)) {
            warn("cannot write ", Name{path}, ": cannot tell whether it is the input image: ",
                 std::strerror(errno));
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
        Unnamed unnamed = Unnamed::kUnsupported;
        if (!status.exists && unnamedWorks) unnamed = writeUnnamed(path, data, size);
        if (unnamed == Unnamed::kNameTaken) continue;
        const bool done = unnamed == Unnamed::kWritten ||
                          (unnamed == Unnamed::kUnsupported &&
                           writeThroughTemp(name, path, status, data, size));
        if (done) noteWritten(name, disk);
        return done;
    }
    warn("cannot create ", Name{path}, ": ", std::strerror(EEXIST));
    return false;
}

std::int32_t diskWritten(const char* name) {
    for (int i = 0; i < writtenCount; ++i) {
        if (std::strcmp(written[i].name, name) == 0) return written[i].disk;
    }
    return 0;
}

bool outputExists(const char* name) {
    platform::NameStatus status;
    return !platform::statusOfName(outputPath(name), status) || status.exists;
}

}  // namespace d88cut
