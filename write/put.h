// d88cut --put=NEW: the cut's inverse. The files in the output directory go
// back into a copy of the image, into the sectors a cut takes them from and
// nowhere else; the copy is read back as a cut would read it before it has
// its name. One value, held by the run, carries the put: the files given,
// the plan of what every sector will hold, a buffer of its own for the copy
// and the account of the copy read back.
#ifndef D88CUT_WRITE_PUT_H
#define D88CUT_WRITE_PUT_H

#include <cstdint>

#include "known/account.h"
#include "platform/platform.h"
#include "show/put_listing.h"
#include "write/output.h"

namespace d88cut {

// One sector of a file given, as the put leaves it; its bytes are at
// offsets into PutJob::given.
struct Chunk {
    std::int64_t offset;  // of its data in the image
    std::int32_t bytes;   // the file's 256 bytes for it
    std::int32_t after;   // what the sector holds after the put
    std::int32_t file;
    std::int32_t sector;  // its note in the disk's account
    bool changed;         // the file's bytes are not the image's
    // An IMD record of one fill byte: changed, it is written as a record
    // of its data, of the same mark.
    bool compressed;
};

struct PutPlan {
    PutReport report;
    std::int32_t firstChunk[kFileCount] = {};
    Chunk chunks[kFileSectors] = {};
    std::int32_t chunkCount = 0;
    std::int32_t given = 0;        // files given
    std::int32_t refused = -1;     // the first file refused; -1 when none is
    std::int32_t unreadable = -1;  // the first file that could not be read; -1
};

// The copy is read and written in pieces of this size: six for an image of
// the disks handled. A larger buffer costs a put more in the pages it
// touches than it saves in writes.
constexpr std::int32_t kCopyBufferSize = 64 << 10;

// Its buffers are written before they are read, and have no initializer
// (see Run).
struct PutJob {
    PutPlan plan;
    // The files read from the directory, each at its place among the
    // files' bytes; one byte more, where the last is seen too long.
    std::uint8_t given[kFileBytes + 1];
    char givenPath[platform::kMaxPathBytes];
    std::uint8_t buffer[kCopyBufferSize];
    DiskAccount readBack;
};

// Reads the files of `directory` (null: the current one) that bear the
// sixteen names, and plans what every sector of `disk` will hold; what
// cannot be put is in the plan.
void planPut(PutJob& job, const char* directory, const DiskAccount& disk);

// Says, once, why the plan cannot be put; false when it can.
bool sayPutRefused(const PutJob& job, const char* directory);

// Puts the plan into a copy of `image`, the open image, named `copy`: said,
// written with the job's buffer, read back into the job's own account, and
// given its name. False, said, when it was not.
bool putCopy(PutJob& job, Outputs& outputs, const char* image, const char* copy,
             const DiskAccount& disk);

}  // namespace d88cut

#endif
