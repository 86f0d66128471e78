// The choice of a disk image, and its refusals.
#include "known/choice.h"

#include "text/messages.h"

namespace d88cut {

namespace {

struct DiskCount {
    std::int32_t count;
};

void put(LineWriter& line, DiskCount disks) {
    putAll(line, disks.count, disks.count == 1 ? " disk image" : " disk images");
}

}  // namespace

Survey surveyOf(const ImageShape& shape) {
    Survey survey;
    survey.distinct = shape.distinct;
    survey.moreDisks = shape.moreDisks;
    return survey;
}

void noteDisk(Survey& survey, const DiskAccount& disk) {
    // A header of size 0 repeats one disk image: it is counted once.
    if (!disk.known || disk.number > survey.distinct) return;
    const std::int32_t at = survey.knownCount++;
    survey.known[at] = disk.number;
    survey.whole[at] = allWhole(disk);
}

Choice chooseDisk(const Survey& survey, std::int32_t asked, Use use) {
    Choice choice;
    if (asked > survey.distinct) {
        choice.refusal = Refusal::kNoSuchDisk;
        return choice;
    }
    if (asked != 0) {
        for (std::int32_t i = 0; i < survey.knownCount; ++i) {
            if (survey.known[i] == asked) choice.disk = asked;
        }
        if (choice.disk == 0) choice.refusal = Refusal::kNotKnown;
        return choice;
    }
    if (survey.knownCount == 0) {
        choice.refusal = Refusal::kNoKnownDisk;
        return choice;
    }
    switch (use) {
        case Use::kCut:
        case Use::kList: choice.disk = survey.known[survey.knownCount - 1]; break;
        case Use::kPut:
            if (survey.knownCount > 1) {
                choice.refusal = Refusal::kKnownTwice;
            } else {
                choice.disk = survey.known[0];
            }
            break;
        case Use::kBest:
            choice.disk = survey.known[0];
            for (std::int32_t i = 0; i < survey.knownCount; ++i) {
                if (!survey.whole[i]) continue;
                choice.disk = survey.known[i];
                break;
            }
            break;
    }
    return choice;
}

void sayRefusal(const char* image, const Choice& choice, std::int32_t asked, const Survey& survey,
                const ImageShape& shape, Use use) {
    const char* done = use == Use::kPut ? "nothing was put" : "nothing was cut";
    switch (choice.refusal) {
        case Refusal::kNone: return;
        case Refusal::kNoSuchDisk:
            warn(Name{image}, ": has no disk image ", asked, "; it holds ",
                 DiskCount{survey.distinct},
                 survey.moreDisks ? " that d88cut reads (the first 64)" : "");
            return;
        case Refusal::kNotKnown:
            if (use == Use::kList) return;
            warn(Name{image}, ": disk image ", asked, " is not the known disk; ", done,
                 " (--list shows what it holds)");
            return;
        case Refusal::kNoKnownDisk:
            // A file that is no D88 image is said as such, once.
            if (shape.notD88) {
                if (use == Use::kPut) sayNotD88(image, shape);
            } else if (shape.format == d88::Format::kRaw2D) {
                warn(Name{image}, ": has the size of a raw 2D image (", d88::kRaw2DImageSize,
                     " bytes), but its boot sector does not carry the known disk's signature; ",
                     done);
            } else if (shape.disks == 0) {
                warn(Name{image}, ": holds no D88 disk image: it is shorter than one ",
                     d88::kDiskHeaderSize, "-byte disk header");
            } else {
                warn(Name{image}, ": looked at ", DiskCount{survey.distinct},
                     "; none is the known disk");
            }
            return;
        case Refusal::kKnownTwice:
            warn(Name{image}, ": holds the known disk ", survey.knownCount, " times (disk images ",
                 survey.known[0], ", ", survey.known[1], survey.knownCount > 2 ? ", ..." : "",
                 "); --disk=N says which to put into");
            return;
    }
}

}  // namespace d88cut
