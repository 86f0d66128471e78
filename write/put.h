// d88cut --put=NEW: the cut's inverse. The files in the output directory go
// back into a copy of the image, into the sectors a cut takes them from and
// nowhere else; the copy is read back as a cut would read it before it has
// its name.
#ifndef D88CUT_WRITE_PUT_H
#define D88CUT_WRITE_PUT_H

#include "tool/options.h"

namespace d88cut {

// Puts the files of options.directory back into a copy of the open image,
// options.put, or with options.list says what it would put. Returns the exit
// status: 0 when every file given was put and verified (or would be), 1 for
// any refusal or error, said.
int runPut(const Options& options);

}  // namespace d88cut

#endif
