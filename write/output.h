// d88cut's output files: each is replaced whole, never written through a
// link, never over the input image and never over a file the user may not
// write; two runs in one directory never mix their files.
#ifndef D88CUT_WRITE_OUTPUT_H
#define D88CUT_WRITE_OUTPUT_H

#include <cstdint>

#include "platform/platform.h"
#include "text/messages.h"

namespace d88cut {

// Before the first output of a run: makes the output directory `directory`
// (null: the current one) when it is missing and `make` is set, waits for any other run there
// to end and holds it until the process ends, and keeps the identity of the
// input, so that no output ever replaces it. False, said on standard error,
// when the directory cannot be made or locked. With `sync`, each file's data
// is pushed to the disk before it has its name.
bool beginOutputs(const char* directory, const platform::FileId& input, bool sync,
                  bool make = true);
// After the last output: with sync, the directory's names pushed to the disk
// too. False, said on standard error, when the system fails it.
bool endOutputs();

// An output's path in the output directory, as a piece of a message.
struct OutputPath {
    const char* name;
};
void put(LineWriter& line, OutputPath path);

// Puts a new file of `size` bytes in the place of `name`, cut from disk
// image `disk` (counted from 1). False, said on standard error with the
// reason, when it could not; whatever had that name before is then left as
// it was.
bool replaceOutput(const char* name, std::int32_t disk, const std::uint8_t* data,
                   std::int32_t size);

// What fills a new file that is read back before it has its name.
enum class Filled {
    kDone,
    kFailed,   // a write failed; errno says why
    kRefused,  // what was written must not have the name; it is said
};
using Fill = Filled (*)(const platform::OutputFile& file, const void* context);

// Puts a new file that `fill` writes in the place of `path`, a path as given
// (not in the output directory), as replaceOutput puts an output: made whole
// under a temporary name beside it, which `fill` may read back, then given
// its name. False, said, when it could not or `fill` refused it.
bool replaceFile(const char* path, Fill fill, const void* context);

// The disk image (counted from 1) this run last wrote `name` from; 0 when it
// wrote no such file.
std::int32_t diskWritten(const char* name);
// True when something of that name is in the output directory, or when the
// system cannot say.
bool outputExists(const char* name);

}  // namespace d88cut

#endif
