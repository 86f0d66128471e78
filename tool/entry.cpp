// d88cut's entry routine: takes the command line, opens the image,
// recognises the known disk among its disk images by the boot-sector
// signature, and cuts each one, lists what a cut would write, or puts edited
// files back; then decides the exit status.
#include "tool/entry.h"

#include <cerrno>
#include <cstring>

#include "known/choice.h"
#include "known/disk_map.h"
#include "platform/platform.h"
#include "show/put_listing.h"
#include "text/messages.h"
#include "tool/options.h"
#include "tool/run.h"
#include "write/cut.h"

namespace d88cut {

namespace {

// The run of this process: one value, large (a disk's account, the put's
// buffers), so never on the stack.
Run theRun;

// What a run starts from; the large parts are set as they are used.
void startRun(Run& run) {
    run.shape = ImageShape();
    run.survey = Survey();
    run.outputsBegun = false;
    run.outputs.directory = run.options.directory;
    run.outputs.writtenCount = 0;
    run.listing = Listing();
    run.failed = false;
    run.less = false;
    run.leftWhole = false;
    run.stopped = false;
    run.lastKnown = -1;
}

// The one place a run's exit status is decided, for a cut, a listing and a
// put alike. A line on standard error that could not be said is an error of
// the run.
int exitStatus(const Run& run) {
    if (run.failed || !linesSaid()) return 1;
    if (run.options.put != nullptr) return 0;
    return !run.less && run.leftWhole ? 0 : 2;
}

Use useOf(const Options& options) {
    if (options.put != nullptr) return Use::kPut;
    return options.list ? Use::kList : Use::kCut;
}

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

// Cuts the known disk of this account; false when the run must stop.
bool cutDisk(Run& run, const DiskAccount& disk) {
    // The output directory is made and locked at the first disk to cut.
    if (!run.outputsBegun) {
        if (!beginOutputs(run.outputs, run.options.directory, reader.openedState().id,
                          run.options.sync, true)) {
            run.failed = true;
            run.stopped = true;
            return false;
        }
        run.outputsBegun = true;
    }
    // A header of size 0 repeats itself: the same disk image, said once.
    const std::int32_t index = disk.number - 1;
    const bool repeated = run.shape.zeroSizeDisk >= 0 && index > run.shape.zeroSizeDisk;
    if (run.lastKnown >= 0 && !repeated) {
        warn(Name{run.options.image}, ": disk image ", disk.number,
             " is the known disk as well; its files replace those cut from disk image ",
             run.lastKnown + 1, " (--disk=N cuts one disk image alone)");
    }
    printRecognised();
    if (!cutKnownDisk(run.outputs, run.options.image, disk)) run.failed = true;
    return true;
}

// The lines about a known disk image's header and records, said as it is
// visited: its size field, a writer's data-size fault.
void sayDiskLines(Run& run, const char* image, const DiskAccount& disk) {
    if (disk.known && disk.followed) {
        // Read by its track table: the field and where the disk ends.
        if (disk.end == reader.fileSize()) {
            warn(Name{image}, ": disk image ", disk.number, " gives its size as ", disk.size,
                 " bytes from offset ", disk.offset, "; the file ends at ", reader.fileSize());
        } else {
            warn(Name{image}, ": disk image ", disk.number, " gives its size as ", disk.size,
                 " bytes from offset ", disk.offset, "; its tracks end at ", disk.end);
        }
        run.less = true;
    } else if (disk.runsPastEnd) {
        warn(Name{image}, ": disk image ", disk.number,
             " runs past the end of the file: it gives its size as ", disk.size,
             " bytes from offset ", disk.offset, ", the file ends at ", reader.fileSize());
        run.less = true;
    }
    if (disk.stepFixes > 0) {
        const d88::StepFix& fix = disk.firstFix;
        const bool one = disk.stepFixes == 1;
        warn(Name{image}, ": disk image ", disk.number, ": the data-size field of ", disk.stepFixes,
             one ? " record" : " records",
             " does not lead to the next record, and the size code does; ",
             one ? "it was" : "they were", " read by the size code (the first: track ", fix.track,
             ", C ", fix.c, ", H ", fix.h, ", R ", fix.r, ", N ", fix.n, ", data size ",
             fix.dataSize, ")");
        run.less = true;
    }
}

// Visits disk image `index`; false when the run must stop.
bool visitDisk(Run& run, std::int32_t index) {
    DiskAccount& disk = run.disk;
    takeAccount(disk, index, Depth::kFiles);
    if (!disk.selected) return true;
    sayDiskLines(run, run.options.image, disk);
    if (run.listing.map && disk.known) mapAccount(disk);
    // Where the reader stopped, the run does; the caller says why.
    if (run.options.list) {
        listDisk(run.listing, disk);
    } else if (disk.known && !cutDisk(run, disk)) {
        return false;
    }
    noteDisk(run.survey, disk);
    if (disk.known) run.lastKnown = index;
    return true;
}

// After the last read of the image: why the reader stopped, or a change of
// the file while it was read. False when there was either.
bool imageReadWhole(const char* image) {
    platform::FileState now;
    if (reader.failure() != d88::ReadFailure::kNone) return false;
    if (!reader.currentState(now)) {
        warn("cannot read ", Name{image}, ": ", std::strerror(errno));
        return false;
    }
    if (platform::changedBetween(reader.openedState(), now)) {
        warn(Name{image},
             ": the file changed while it was read; the files cut from it may mix old and new "
             "content");
        return false;
    }
    return true;
}

// The cut or the listing of the open image.
void walkImage(Run& run) {
    const Options& options = run.options;
    const char* image = options.image;
    const Use use = useOf(options);
    run.shape = shapeOfImage();
    run.survey = surveyOf(run.shape);
    if (options.list) {
        beginListing(run.listing, options.json ? ListFormat::kJson : ListFormat::kText, image,
                     reader.fileSize(), reader.format());
        run.listing.map = options.map && !options.json;
    }
    // A shape said at the start of a cut; after the disk lines of a listing.
    if (!options.list && reportShape(image, run.shape)) run.less = true;
    std::int32_t first = 0;
    std::int32_t end = run.shape.disks;
    if (options.disk != 0) {
        const Choice asked = chooseDisk(run.survey, options.disk, use);
        if (asked.refusal == Refusal::kNoSuchDisk) {
            sayRefusal(image, asked, options.disk, run.survey, run.shape, use);
            run.failed = true;
            end = 0;
        } else {
            first = options.disk - 1;
            end = options.disk;
        }
    }
    std::int32_t index = first;
    for (; index < end; ++index) {
        if (!visitDisk(run, index)) break;
        if (reader.failure() != d88::ReadFailure::kNone) break;
    }
    if (options.list && reportShape(image, run.shape)) run.less = true;
    if (run.outputsBegun && !endOutputs(run.outputs)) run.failed = true;
    if (reader.failure() != d88::ReadFailure::kNone) reportReaderFailure(image, index);
    if (!imageReadWhole(image)) {
        run.failed = true;
    } else if (!run.failed) {
        const Choice left = chooseDisk(run.survey, options.disk, use);
        sayRefusal(image, left, options.disk, run.survey, run.shape, use);
        for (std::int32_t i = 0; i < run.survey.knownCount; ++i) {
            if (run.survey.known[i] == left.disk) run.leftWhole = run.survey.whole[i];
        }
    }
    if (options.list) {
        endListing(run.listing, run.shape, chooseDisk(run.survey, options.disk, Use::kBest).disk,
                   exitStatus(run));
    }
}

// Ends a put that goes no further: its listing, when asked for, says so.
void endPut(Run& run, const DiskAccount* disk) {
    const Options& options = run.options;
    if (!options.list) return;
    listPut(options.image, options.put, disk, run.put.plan.report, options.json, exitStatus(run));
}

// The put, or its listing, into the open image.
void runPut(Run& run) {
    const Options& options = run.options;
    const char* image = options.image;
    run.shape = shapeOfImage();
    run.survey = surveyOf(run.shape);
    std::int32_t index = 0;
    for (; index < run.shape.distinct && reader.failure() == d88::ReadFailure::kNone; ++index) {
        takeAccount(run.disk, index, Depth::kBoot);
        noteDisk(run.survey, run.disk);
    }
    if (reader.failure() != d88::ReadFailure::kNone) {
        reportReaderFailure(image, index - 1);
        run.failed = true;
        return endPut(run, nullptr);
    }
    const Choice choice = chooseDisk(run.survey, options.disk, Use::kPut);
    if (choice.disk == 0) {
        sayRefusal(image, choice, options.disk, run.survey, run.shape, Use::kPut);
        run.failed = true;
        return endPut(run, nullptr);
    }
    takeAccount(run.disk, choice.disk - 1, Depth::kFiles);
    if (reader.failure() != d88::ReadFailure::kNone) {
        reportReaderFailure(image, choice.disk - 1);
        run.failed = true;
        return endPut(run, nullptr);
    }
    // A put reads the directory under its lock, so that no cut writes into
    // it meanwhile; it is not made. A listing takes no lock, as a cut's.
    if (!options.list && !beginOutputs(run.outputs, options.directory, reader.openedState().id,
                                       options.sync, false)) {
        run.failed = true;
        return;
    }
    planPut(run.put, options.directory, run.disk);
    // A listing refuses what the put refuses, with the same line; the put
    // finds a copy it may not replace when it makes it.
    if (sayPutRefused(run.put, options.directory) ||
        (options.list && !mayReplace(options.put, reader.openedState().id))) {
        run.failed = true;
    }
    if (options.list || run.failed) return endPut(run, &run.disk);
    if (!putCopy(run.put, run.outputs, image, options.put, run.disk) || !endOutputs(run.outputs)) {
        run.failed = true;
    }
}

// Reads the dumps of one IMAGE of a merge into the run; false when the run
// must stop.
bool readDumps(Run& run, std::int32_t which) {
    const char* image = run.options.images[which];
    if (!reader.open(image)) {
        reportOpenFailure(image);
        run.failed = true;
        return false;
    }
    run.imageIds[which] = reader.openedState().id;
    const ImageShape shape = shapeOfImage();
    if (reportShape(image, shape)) run.less = true;
    bool any = false;
    std::int32_t index = 0;
    for (; index < shape.distinct && reader.failure() == d88::ReadFailure::kNone; ++index) {
        DiskAccount& dump = run.dumps[run.dumpCount];
        takeAccount(dump, index, Depth::kEvery);
        if (!dump.known || reader.failure() != d88::ReadFailure::kNone) continue;
        any = true;
        if (run.dumpCount == kMaxDumps) {
            warn(Name{image}, ": disk image ", index + 1, " is a dump beyond the ", kMaxDumps,
                 " that d88cut merges; the first ", kMaxDumps, " are taken");
            run.less = true;
            break;
        }
        sayDiskLines(run, image, dump);
        if (run.listing.map) mapAccount(dump);
        run.dumpImages[run.dumpCount] = image;
        run.dumpDisks[run.dumpCount] = index + 1;
        ++run.dumpCount;
    }
    if (reader.failure() != d88::ReadFailure::kNone) {
        reportReaderFailure(image, index - 1);
        run.failed = true;
        return false;
    }
    if (!imageReadWhole(image)) {
        run.failed = true;
        return false;
    }
    if (!any && !shape.notD88) {
        warn(Name{image}, ": looked at ", shape.distinct,
             shape.distinct == 1 ? " disk image" : " disk images",
             "; none is the known disk, so it is not merged");
        run.less = true;
    }
    return true;
}

// --merge: every known disk image of every IMAGE a dump; the merge cut or
// listed as one disk's account.
void runMerge(Run& run) {
    const Options& options = run.options;
    run.dumpCount = 0;
    run.listing.format = options.json ? ListFormat::kJson : ListFormat::kText;
    run.listing.map = options.map && !options.json;
    for (std::int32_t i = 0; i < options.imageCount; ++i) {
        if (!readDumps(run, i)) {
            reader.open(nullptr);
            return;
        }
    }
    reader.open(nullptr);
    // The line names no image: it is the merge's.
    const char* merge = "the merge";
    const DiskAccount* dumps[kMaxDumps];
    for (std::int32_t d = 0; d < run.dumpCount; ++d) dumps[d] = &run.dumps[d];
    if (run.dumpCount == 0) {
        warn("none of the ", options.imageCount, options.imageCount == 1 ? " image" : " images",
             " holds the known disk; nothing was merged");
        run.less = true;
    } else {
        mergeDumps(dumps, run.dumpCount, run.merged);
        if (run.listing.map) mapMerge(dumps, run.dumpCount, run.merged);
        DumpsApart apart;
        if (dumpsApart(dumps, run.dumpCount, apart)) {
            warn(merge, ": dumps ", apart.first, " and ", apart.second, " differ in ", apart.differ,
                 " of the ", apart.both,
                 " sectors both hold clean; they may be dumps of different disks or releases");
        }
        run.leftWhole = allWhole(run.merged);
    }
    if (options.list) {
        listMerge(run.listing, run.dumpImages, run.dumpDisks, run.dumpCount, run.merged,
                  exitStatus(run));
        return;
    }
    if (run.dumpCount == 0) return;
    if (!beginOutputs(run.outputs, options.directory, run.imageIds[0], options.sync, true)) {
        run.failed = true;
        return;
    }
    for (std::int32_t i = 1; i < options.imageCount; ++i) addInput(run.outputs, run.imageIds[i]);
    printRecognised();
    if (!cutKnownDisk(run.outputs, merge, run.merged) || !endOutputs(run.outputs)) {
        run.failed = true;
    }
}

}  // namespace

int runEntry(int argc, char** argv) {
    beginMessages();
    Run& run = theRun;
    // argv[0] may be missing when the program is started without one.
    const char* program = argc > 0 && argv[0] != nullptr ? argv[0] : "d88cut";
    switch (parseOptions(argc, argv, run.options)) {
        case Command::kRun: break;
        case Command::kHelp: say(kHelp); return endMessages() ? 0 : 1;
        case Command::kVersion: say("d88cut ", D88CUT_VERSION); return endMessages() ? 0 : 1;
        case Command::kUsageError:
            printUsage(stderr, program);
            printTryHelp();
            endMessages();
            return 1;
    }
    startRun(run);
    if (run.options.merge) {
        runMerge(run);
        const int status = exitStatus(run);
        return endMessages() ? status : 1;
    }
    if (!reader.open(run.options.image)) {
        reportOpenFailure(run.options.image);
        endMessages();
        return 1;
    }
    if (run.options.put != nullptr) {
        runPut(run);
    } else {
        walkImage(run);
    }
    const int status = exitStatus(run);
    // A line that could not be said is an error of the run.
    return endMessages() ? status : 1;
}

}  // namespace d88cut
