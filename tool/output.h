// What d88cut writes: its progress lines on standard output, each pushed out
// before the file it announces is created, and its output files, each
// replaced whole through a temporary file, never written through a link and
// never over the input image.
#ifndef D88CUT_TOOL_OUTPUT_H
#define D88CUT_TOOL_OUTPUT_H

#include <cstdint>
#include <cstdio>

#include "tool/platform.h"

namespace d88cut {

// Before the first output of a run: waits for any other run in the working
// directory to end and holds the directory until the process ends, and keeps
// the identity of the input, so that no output ever replaces it.
void beginOutputs(const platform::FileId& input);
// After the last output: false, said once on standard error, when a progress
// line could not be written.
bool endOutputs();

// "cutting ... NAME" on standard output. Lines there go out before the next
// file is created and before the next line on standard error, also into a
// pipe or a file.
void printCutting(const char* name);
// The tool's two Japanese messages, "Disk A を認識しました." on standard
// output and "ファイルをオープンできません." on standard error: in UTF-8 to a
// terminal that shows UTF-8, as wide characters to a Windows console, and
// anywhere else (a pipe, a file) as the Shift_JIS bytes scripts match.
void printRecognised();
void warnCannotOpen();
#if defined(__GNUC__)
#define D88CUT_PRINTF(formatAt, firstAt) __attribute__((format(printf, formatAt, firstAt)))
#else
#define D88CUT_PRINTF(formatAt, firstAt)
#endif

// A line on standard error, printf-style, after the lines before it.
void warn(const char* format, ...) D88CUT_PRINTF(1, 2);
// Text on `stream`, printf-style; UTF-8 in it (a path) reads right on a
// Windows console too.
void say(std::FILE* stream, const char* format, ...) D88CUT_PRINTF(2, 3);

// From now on, a signal that ends the run (SIGINT, SIGTERM, SIGHUP, SIGXFSZ)
// removes the temporary file being written, if any, before the process ends
// with the signal's usual status. Signals that were ignored stay ignored.
void installSignalCleanup();

// Puts a new file of `size` bytes in the place of `name` in the working
// directory. False, said on standard error with the reason, when it could
// not; whatever had that name before is then left as it was.
bool replaceOutput(const char* name, const std::uint8_t* data, std::int32_t size);

}  // namespace d88cut

#endif
