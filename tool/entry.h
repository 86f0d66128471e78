// The entry routine of d88cut, apart from main so that the fuzzer can drive
// the whole tool too.
#ifndef D88CUT_TOOL_ENTRY_H
#define D88CUT_TOOL_ENTRY_H

namespace d88cut {

// Runs d88cut on its command line; returns the exit status, as the manual
// page gives it: 0 when every file the run leaves is whole (or, for a put,
// every file given was put), 1 for an error, 2 when the image was read to
// its end but the run leaves less.
int runEntry(int argc, char** argv);

}  // namespace d88cut

#endif
