// Writing each file of a recognised disk as its account has it, and saying
// what the account says of it.
#include "write/cut.h"

#include "text/messages.h"

namespace d88cut {

namespace {

// The line for a block that is not cut, with what is there instead: a file
// of that name must not pass for one of this disk image.
void reportNotCut(Outputs& outputs, const char* image, const FileAccount& file) {
    const std::int32_t from = diskWritten(outputs, file.name);
    if (from != 0) {
        warn(Name{image}, ": ", file.said, "; the ", OutputPath{outputs, file.name},
             " there was cut from disk image ", from, " of this image");
    } else if (outputExists(outputs, file.name)) {
        warn(Name{image}, ": ", file.said, "; the ", OutputPath{outputs, file.name},
             " there was left as it was, not written by this run");
    } else {
        warn(Name{image}, ": ", file.said);
    }
}

}  // namespace

bool cutKnownDisk(Outputs& outputs, const char* image, const DiskAccount& disk) {
    bool allWritten = true;
    for (std::int32_t i = 0; i < disk.filesRead; ++i) {
        const FileAccount& file = disk.files[i];
        if (file.state == FileState::kMissing) {
            reportNotCut(outputs, image, file);
            continue;
        }
        printCutting(file.name);
        if (file.said[0] != '\0') warn(Name{image}, ": ", file.said);
        if (!replaceOutput(outputs, file.name, disk.number, bytesOf(disk, i), file.size)) {
            allWritten = false;
        }
    }
    return allWritten;
}

}  // namespace d88cut
