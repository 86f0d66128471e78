// Everything one run of d88cut holds, in one value: what it was asked, what
// the image holds, the output directory and its lock, the listing under way,
// the account of the disk image in hand, the put, and how the run went.
#ifndef D88CUT_TOOL_RUN_H
#define D88CUT_TOOL_RUN_H

#include <cstdint>

#include "known/account.h"
#include "known/choice.h"
#include "known/merge.h"
#include "known/shape.h"
#include "show/listing.h"
#include "tool/options.h"
#include "write/output.h"
#include "write/put.h"

namespace d88cut {

// The run is static, zero before main starts. Its large arrays (paths, the
// put's buffers) carry no initializer: with one, the compiler zeroes the
// whole value again at start-up, which cost a put more CPU than its work.
struct Run {
    Options options;
    ImageShape shape;
    Survey survey;
    Outputs outputs;
    bool outputsBegun = false;
    Listing listing;
    DiskAccount disk;
    PutJob put;
    // --merge: each dump's account, where it came from, and the merge.
    DiskAccount dumps[kMaxDumps];
    const char* dumpImages[kMaxDumps];
    platform::FileId imageIds[kMaxInputs];
    std::int32_t dumpDisks[kMaxDumps];
    std::int32_t dumpCount;
    DiskAccount merged;
    // An error: usage, the image or an output file.
    bool failed = false;
    // Something of the file is no disk image: less than a full cut,
    // whatever the files.
    bool less = false;
    // The files the run leaves (or would leave) are those of a known disk,
    // all whole.
    bool leftWhole = false;
    // The output directory could not be made or locked: nothing was cut.
    bool stopped = false;
    // The last known disk image cut (from 0); -1 before one.
    std::int32_t lastKnown = -1;
};

}  // namespace d88cut

#endif
