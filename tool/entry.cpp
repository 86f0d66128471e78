// d88cut's entry routine: takes the command line, opens the image,
// recognises the known disk among its disk images by the boot-sector
// signature, and cuts each one, or lists what a cut would write.
#include "tool/entry.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "write/cut.h"
#include "show/listing.h"
#include "text/messages.h"
#include "tool/options.h"
#include "write/output.h"
#include "write/put.h"
#include "platform/platform.h"
#include "known/known_disk.h"

namespace d88cut {

d88::D88Reader reader;
std::uint8_t transferBuffer[kTransferBufferSize];

namespace {

// Says why the image could not be opened.
void reportOpenFailure(const char* image) {
    if (reader.failure() == d88::ReadFailure::kNotAFile) {
        warn("cannot read ", Name{image},
             ": a pipe or a device cannot be read in the order the disk images need; give "
             "the path of a file");
    } else if (reader.failure() == d88::ReadFailure::kReadError) {
        warn("cannot read ", Name{image}, ": ", std::strerror(reader.failureErrno()));
    } else {
        warnCannotOpen();
        warn("cannot open ", Name{image}, ": ", std::strerror(reader.failureErrno()));
    }
}

// The disk images a run reads, and what it says of the rest of the file.
struct Listed {
    std::int32_t count = 0;     // disk images, the first `count` listed
    std::int32_t distinct = 0;  // of them not repeats of a header of size 0
    ImageShape shape;
};

Listed shapeOf() {
    Listed listed;
    listed.count = disksRead(listed.distinct);
    listed.shape.empty = reader.diskCount() == 0;
    if (listed.count < reader.diskCount()) {
        // What is read ends at a header that cannot be one.
        const std::int64_t end = reader.diskOffsetAt(listed.count);
        listed.shape.notD88 = listed.count == 0;
        if (listed.count > 0) {
            listed.shape.trailingOffset = end;
            listed.shape.trailingBytes = reader.fileSize() - end;
        }
    } else {
        // A file shorter than one header is said as such, not as bytes after.
        if (reader.trailingOffset() > 0) {
            listed.shape.trailingOffset = reader.trailingOffset();
            listed.shape.trailingBytes = reader.trailingBytes();
        }
        listed.shape.moreDisks = reader.moreDisksThanListed();
        listed.shape.unreachableDisk = reader.unreachableDisk();
    }
    const std::int32_t zeroSize = reader.zeroSizeDisk();
    if (zeroSize >= 0 && zeroSize < listed.count) listed.shape.zeroSizeDisk = zeroSize;
    return listed;
}

// Says what the file holds beyond its disk images; false when nothing.
bool reportShape(const char* image, const ImageShape& shape) {
    if (shape.notD88) {
        warn(Name{image}, ": does not look like a D88 disk image");
        return true;
    }
    bool said = false;
    if (shape.zeroSizeDisk >= 0) {
        // What repeats is one header, not disk images beyond the limit.
        warn(Name{image}, ": disk image ", shape.zeroSizeDisk + 1,
             " gives its size as 0, so the listing repeats its header up to the limit of ",
             d88::kMaxDisks, " disk images");
        said = true;
    } else if (shape.moreDisks) {
        warn(Name{image}, ": holds more than ", d88::kMaxDisks, " disk images; only the first ",
             d88::kMaxDisks, " were read");
        said = true;
    }
    if (shape.trailingBytes > 0) {
        warn(Name{image}, ": the ", shape.trailingBytes,
             shape.trailingBytes == 1 ? " byte" : " bytes", " from offset ", shape.trailingOffset,
             " on make no disk image");
        said = true;
    }
    if (shape.unreachableDisk >= 0) {
        warn(Name{image}, ": a disk image at offset ", shape.unreachableDisk,
             " begins past 2 GiB, where the offsets of the D88 layout end; it was not read");
        said = true;
    }
    return said;
}

// The walk over the disk images of an open image, cutting or listing.
struct Walk {
    Walk(const Options& runOptions, const char* path) : options(runOptions), image(path) {}
    const Options& options;
    const char* image;
    // An error: usage, the image or an output file, a line not said.
    bool failed = false;
    // Something of the file is no disk image, or a disk asked for is not
    // the known disk: less than a full cut, whatever the files.
    bool less = false;
    FilesLeft left;
    std::int32_t lastKnown = -1;
    bool outputsBegun = false;
    // The output directory could not be made or locked: nothing was cut.
    bool stopped = false;
};

// The one place a run's exit status is decided.
int exitStatus(const Walk& walk) {
    if (walk.failed) return 1;
    return !walk.less && allWhole(walk.left) ? 0 : 2;
}

// Cuts the known disk of this account; false when the run must stop.
bool cutDisk(Walk& walk, const DiskAccount& disk) {
    // The output directory is made and locked at the first disk to cut.
    if (!walk.outputsBegun) {
        if (!beginOutputs(walk.options.directory, reader.openedState().id, walk.options.sync)) {
            walk.failed = true;
            walk.stopped = true;
            return false;
        }
        walk.outputsBegun = true;
    }
    // A header of size 0 repeats itself: the same disk image, said once.
    const std::int32_t index = disk.number - 1;
    const bool repeated = reader.zeroSizeDisk() >= 0 && index > reader.zeroSizeDisk();
    if (walk.lastKnown >= 0 && !repeated) {
        warn(Name{walk.image}, ": disk image ", disk.number,
             " is the known disk as well; its files replace those cut from disk image ",
             walk.lastKnown + 1, " (--disk=N cuts one disk image alone)");
    }
    printRecognised();
    if (!cutKnownDisk(walk.image, disk)) walk.failed = true;
    return true;
}

// Visits disk image `index`; false when the run must stop.
bool visitDisk(Walk& walk, std::int32_t index) {
    const DiskAccount& disk = accountDisk(index, Depth::kFiles);
    if (!disk.selected) return true;
    if (disk.known && !disk.plausible) {
        warn(Name{walk.image}, ": disk image ", disk.number, " gives its size as ", disk.size,
             " bytes from offset ", disk.offset, "; the file ends at ", reader.fileSize());
        walk.less = true;
    } else if (disk.runsPastEnd) {
        warn(Name{walk.image}, ": disk image ", disk.number,
             " runs past the end of the file: it gives its size as ", disk.size,
             " bytes from offset ", disk.offset, ", the file ends at ", reader.fileSize());
        walk.less = true;
    }
    // Where the reader stopped, the run does; the caller says why.
    if (walk.options.list) {
        listDisk(disk);
    } else if (disk.known && !cutDisk(walk, disk)) {
        return false;
    }
    if (disk.known) {
        noteKnownDisk(walk.left, disk);
        walk.lastKnown = index;
    } else if (walk.options.disk != 0 && !walk.options.list) {
        warn(Name{walk.image}, ": disk image ", disk.number,
             " is not the known disk; nothing was cut (--list shows what it holds)");
    }
    return true;
}

// After a walk that read the file to its end without cutting a known disk.
void reportNothingKnown(const Walk& walk, const Listed& listed) {
    if (listed.shape.notD88) return;
    if (listed.count == 0) {
        warn(Name{walk.image}, ": holds no D88 disk image: it is shorter than one ",
             d88::kDiskHeaderSize, "-byte disk header");
    } else if (walk.options.disk == 0) {
        warn(Name{walk.image}, ": looked at ", listed.distinct,
             listed.distinct == 1 ? " disk image" : " disk images", "; none is the known disk");
    }
}

// Runs the walk over the open image; returns the exit status.
int walkImage(const Options& options) {
    const char* image = options.image;
    Walk walk{options, image};
    const Listed listed = shapeOf();
    if (options.list) beginListing(options.json ? ListFormat::kJson : ListFormat::kText, image);
    // A shape said at the start of a cut; after the disk lines of a listing.
    if (!options.list && reportShape(image, listed.shape)) walk.less = true;
    std::int32_t first = 0;
    std::int32_t end = listed.count;
    if (options.disk != 0) {
        if (options.disk > listed.distinct) {
            warn(Name{image}, ": has no disk image ", options.disk, "; it holds ", listed.distinct,
                 listed.distinct == 1 ? " disk image" : " disk images",
                 listed.shape.moreDisks ? " that d88cut reads (the first 64)" : "");
            walk.failed = true;
            end = 0;
        } else {
            first = options.disk - 1;
            end = options.disk;
        }
    }
    std::int32_t index = first;
    for (; index < end; ++index) {
        if (!visitDisk(walk, index)) break;
        if (reader.failure() != d88::ReadFailure::kNone) break;
    }
    if (options.list && reportShape(image, listed.shape)) walk.less = true;
    if (walk.outputsBegun && !endOutputs()) walk.failed = true;
    platform::FileState now;
    if (reader.failure() != d88::ReadFailure::kNone) {
        reportReaderFailure(image, index);
        walk.failed = true;
    } else if (!reader.currentState(now)) {
        warn("cannot read ", Name{image}, ": ", std::strerror(errno));
        walk.failed = true;
    } else {
        if (platform::changedBetween(reader.openedState(), now)) {
            warn(Name{image},
                 ": the file changed while it was read; the files cut from it may "
                 "mix old and new content");
            walk.failed = true;
        }
        if (walk.left.knownDisks == 0 && !walk.stopped && !walk.failed) {
            reportNothingKnown(walk, listed);
        }
    }
    // A line on standard error that could not be said is an error of the
    // run, and the document's status says it too.
    if (!linesSaid()) walk.failed = true;
    if (options.list) endListing(listed.shape, exitStatus(walk));
    return exitStatus(walk);
}

}  // namespace

int runEntry(int argc, char** argv) {
    beginMessages();
    // argv[0] may be missing when the program is started without one.
    const char* program = argc > 0 && argv[0] != nullptr ? argv[0] : "d88cut";
    Options options;
    switch (parseOptions(argc, argv, options)) {
        case Command::kRun: break;
        case Command::kHelp: say(kHelp); return endMessages() ? 0 : 1;
        case Command::kVersion: say("d88cut ", D88CUT_VERSION); return endMessages() ? 0 : 1;
        case Command::kUsageError:
            printUsage(stderr, program);
            printTryHelp();
            endMessages();
            return 1;
    }
    if (!reader.open(options.image)) {
        reportOpenFailure(options.image);
        endMessages();
        return 1;
    }
    const int status = options.put != nullptr ? runPut(options) : walkImage(options);
    // A line that could not be said is an error of the run.
    return endMessages() ? status : 1;
}

}  // namespace d88cut
