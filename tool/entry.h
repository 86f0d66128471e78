// The entry routine of d88cut, apart from main so that the fuzzer can drive
// the whole tool too.
#ifndef D88CUT_TOOL_ENTRY_H
#define D88CUT_TOOL_ENTRY_H

namespace d88cut {

// Runs d88cut on its command line; returns the exit status: 1 for a usage
// error, an image that cannot be opened or read, an output file that could
// not be written whole (or that is the input), or a line that could not be
// written; with --list, 2 when no known disk would be cut whole; 0
// otherwise.
int runEntry(int argc, char** argv);

}  // namespace d88cut

#endif
