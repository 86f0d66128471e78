// d88cut's output files: each is replaced whole, never written through a
// link, never over the input image and never over a file the user may not
// write; two runs in one directory never mix their files. One value, held by
// the run, carries the output directory, its lock and the names written.
#ifndef D88CUT_WRITE_OUTPUT_H
#define D88CUT_WRITE_OUTPUT_H

#include <cstddef>
#include <cstdint>

#include "known/known_disk.h"
#include "platform/platform.h"
#include "text/messages.h"

namespace d88cut {

// A name this run wrote, and the disk image it came from last.
struct Written {
    const char* name;
    std::int32_t disk;
};

// The most images a run reads: a merge's.
constexpr std::int32_t kMaxInputs = 16;

struct Outputs {
    // The output directory; null for the current one.
    const char* directory = nullptr;
    // --sync: data, then names, pushed to the disk.
    bool sync = false;
    // The length of the prefix of `directory` naming the first directory this
    // run made; 0 when it made none.
    std::size_t madeFrom = 0;
    // The images the run reads, which no output may replace: one, or a
    // merge's.
    platform::FileId inputIds[kMaxInputs];
    std::int32_t inputCount = 0;
    // Only the known disk's names are written: at most one entry each.
    Written written[kFileCount] = {};
    std::int32_t writtenCount = 0;
    // The directory of a file put in the place of a path (beginFile), whose
    // names --sync pushes: empty for the current one; null when none was.
    const char* replacedIn = nullptr;
    // The output file being written and the paths of one: each about 96 KiB,
    // so kept here, out of the stack, which is 64 KiB in the browser; written
    // before they are read, and without an initializer (see Run).
    platform::OutputFile file;
    char path[platform::kMaxPathBytes];
    char fileDirectory[platform::kMaxPathBytes];
    char parent[platform::kMaxPathBytes];
};

// One more image the run reads, beside the one beginOutputs was given.
void addInput(Outputs& outputs, const platform::FileId& input);

// Before the first output of a run: makes the output directory `directory`
// (null: the current one) when it is missing and `make` is set, waits for
// any other run there to end and holds it until the process ends, and keeps
// the identity of the input, so that no output ever replaces it. False, said
// on standard error, when the directory cannot be made or locked. With
// `sync`, each file's data is pushed to the disk before it has its name.
bool beginOutputs(Outputs& outputs, const char* directory, const platform::FileId& input, bool sync,
                  bool make);
// After the last output: with sync, the directory's names pushed to the disk
// too. False, said on standard error, when the system fails it.
bool endOutputs(Outputs& outputs);

// An output's path in the output directory, as a piece of a message.
struct OutputPath {
    const Outputs& outputs;
    const char* name;
};
void put(LineWriter& line, const OutputPath& path);

// Puts a new file of `size` bytes in the place of `name`, cut from disk
// image `disk` (counted from 1). False, said on standard error with the
// reason, when it could not; whatever had that name before is then left as
// it was.
bool replaceOutput(Outputs& outputs, const char* name, std::int32_t disk, const std::uint8_t* data,
                   std::int32_t size);

// True when `path`, a path as given, may be replaced by a new file: it is
// not the input image `input`, and the user may write it. False, said, when
// not.
bool mayReplace(const char* path, const platform::FileId& input);

// A new file in the place of `path`, a path as given (not in the output
// directory), made as an output is: whole under a temporary name beside it,
// outputs.file, which the caller writes and may read back before
// endFile gives it its name. False, said, when it cannot be made.
bool beginFile(Outputs& outputs, const char* path);

// What the caller made of the file begun.
enum class Filled {
    kDone,
    kFailed,   // a write failed; errno says why
    kRefused,  // what was written must not have the name; it is said
};
// Gives the file begun its name, when it was done, or removes it. False,
// said unless refused, when it does not have its name.
bool endFile(Outputs& outputs, Filled filled);

// The disk image (counted from 1) this run last wrote `name` from; 0 when it
// wrote no such file.
std::int32_t diskWritten(const Outputs& outputs, const char* name);
// True when something of that name is in the output directory, or when the
// system cannot say.
bool outputExists(Outputs& outputs, const char* name);

}  // namespace d88cut

#endif
