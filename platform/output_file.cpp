// The life of one output file, on every platform: without a name where the
// system can make one so, otherwise under a temporary name beside its place.
#include <cerrno>
#include <cstdio>

#include "platform/platform.h"

namespace d88cut {
namespace platform {

namespace {

// A temporary name is ".NAME.d88cut-PID", or with "-K" added when a file of
// that name is already there (left by a killed run whose number came back):
// such a file is never written into.
constexpr char kTempFormat[] = ".%s.d88cut-%lu";
constexpr char kTempRetryFormat[] = ".%s.d88cut-%lu-%d";
constexpr int kTempTries = 100;

// False once the system has refused a file without a name: every later file
// goes by a temporary name at once.
bool unnamedWorks = true;
// The process number in temporary names, asked at the first of them.
unsigned long processNumber = 0;

// Creates a new temporary file beside `name` in `directory`, its path in
// file.temp; returns its descriptor, or -1 with errno set.
int createTemp(OutputFile& file, const char* directory, const char* name,
               const NameStatus& status) {
    if (processNumber == 0) processNumber = processId();
    const unsigned long pid = processNumber;
    char temp[kTempNameBytes];
    for (int k = 0; k < kTempTries; ++k) {
        const int length = k == 0
                               ? std::snprintf(temp, sizeof temp, kTempFormat, name, pid)
                               : std::snprintf(temp, sizeof temp, kTempRetryFormat, name, pid, k);
        if (length < 0 || length >= static_cast<int>(sizeof temp) ||
            !joinPath(directory, temp, file.temp, sizeof file.temp)) {
            file.temp[0] = '\0';
            errno = ENAMETOOLONG;
            return -1;
        }
        const int fd = createNew(file.temp, status.keepsMode, status.mode);
        if (fd >= 0 || errno != EEXIST) {
            if (fd < 0) file.temp[0] = '\0';
            return fd;
        }
    }
    file.temp[0] = '\0';
    return -1;
}

void letGo(OutputFile& file) {
    if (!file.holding) return;
    file.holding = false;
    allowTermination();
}

}  // namespace

bool createOutput(OutputFile& file, const char* directory, const char* name, const char* path,
                  const NameStatus& status) {
    file.path = path;
    file.temp[0] = '\0';
    file.fd = -1;
    if (!status.exists && unnamedWorks && !file.named) {
        file.fd = createUnnamed(directory);
        if (file.fd >= 0) return true;
        // A directory where this fails is written the other way, which says
        // why when that fails too.
        unnamedWorks = false;
    }
    holdTermination();
    file.holding = true;
    file.fd = createTemp(file, directory, name, status);
    if (file.fd >= 0) return true;
    const int reason = errno;
    letGo(file);
    errno = reason;
    return false;
}

Commit commitOutput(OutputFile& file) {
    const int fd = file.fd;
    file.fd = -1;
    // The data first: a name that a power cut keeps never leads to less.
    if (file.sync && !syncFile(fd)) {
        const int reason = errno;
        closeFile(fd);
        errno = reason;
        return Commit::kCannotWrite;
    }
    if (file.temp[0] == '\0') {
        if (!nameUnnamed(fd, file.path)) {
            // A system that cannot name such a file is not asked again.
            if (errno != EEXIST) unnamedWorks = false;
            closeFile(fd);
            return Commit::kAgain;
        }
        if (closeFile(fd)) return Commit::kDone;
        // The name is the new file's own: where its close fails, the name
        // goes again, as it was.
        const int reason = errno;
        removeName(file.path);
        errno = reason;
        return Commit::kCannotWrite;
    }
    // Closing can fail too, where the system reports a write only then.
    if (!closeFile(fd)) return Commit::kCannotWrite;
    if (!replaceName(file.temp, file.path)) return Commit::kCannotCreate;
    file.temp[0] = '\0';
    letGo(file);
    return Commit::kDone;
}

bool rollbackOutput(OutputFile& file) {
    int reason = 0;
    if (file.fd >= 0) closeFile(file.fd);
    file.fd = -1;
    const bool removed = file.temp[0] == '\0' || removeName(file.temp);
    if (!removed) reason = errno;
    letGo(file);
    errno = reason;
    return removed;
}

}  // namespace platform
}  // namespace d88cut
