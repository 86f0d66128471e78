// The few things d88cut asks of the operating system beyond the C library:
// file identities, exclusive creation, replacing a name, a lock on the
// working directory and the signals that end a run. One
// implementation per platform (platform_posix.cpp, platform_windows.cpp);
// nothing else in the tool depends on the platform.
//
// Names are UTF-8; the Windows side converts them to wide characters, so that
// any name Windows allows works on any Windows locale. Failures set errno, so
// that callers report them with strerror alike on every platform.
#ifndef D88CUT_TOOL_PLATFORM_H
#define D88CUT_TOOL_PLATFORM_H

#include <cstdint>
#include <cstdio>

namespace d88cut {
namespace platform {

// Which file a name or an open stream is: device and inode on POSIX, volume
// serial number and file index on Windows.
struct FileId {
    bool known = false;
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
};

inline bool sameFile(const FileId& a, const FileId& b) {
    return a.known && b.known && a.volume == b.volume && a.index == b.index;
}

// What the system says of an open file: which file it is, its size and
// when it was last modified, so that a change during a run can be seen.
struct FileState {
    FileId id;
    std::int64_t size = 0;
    std::int64_t modified = 0;  // in the platform's own units
};

// True when both states are known and the file's size or modification time
// differs between them.
inline bool changedBetween(const FileState& before, const FileState& after) {
    return before.id.known && after.id.known &&
           (before.size != after.size || before.modified != after.modified);
}

// The state of an open stream; an unknown id when the system cannot tell.
FileState stateOfStream(std::FILE* stream);
// The identity of the file a name leads to, following links; unknown when
// there is none.
FileId idOfName(const char* name);

// Lets go of the directory an earlier call held, waits until no other d88cut
// run holds the working directory, then holds it until the next call or the
// end of the process, when the system lets it go. A directory that cannot be
// locked is used unlocked.
void lockWorkingDirectory();

// A small number that differs between processes running at once.
unsigned long processId();

// Creates `name` for writing; fails when anything of that name exists, and
// never follows a link. Returns a descriptor, or -1.
int createNew(const char* name);
// Writes all `size` bytes; false on a short write.
bool writeAll(int fd, const std::uint8_t* data, std::int32_t size);
bool closeFile(int fd);
// Puts `from` in the place of `to`, whatever `to` is now: an existing file or
// link of that name is replaced, not written through.
bool replaceName(const char* from, const char* to);
// Safe inside a signal handler.
bool removeName(const char* name);

// True when `stream` is a terminal whose locale shows UTF-8 (never on
// Windows, whose console writeConsoleUtf8 serves).
bool showsUtf8(std::FILE* stream);
// Writes UTF-8 text to the Windows console behind `stream`, as wide
// characters, so that any code page shows it; false, with nothing written,
// where there is none.
bool writeConsoleUtf8(std::FILE* stream, const char* text);

// Windows: the first `count` (at most 2) arguments of wmain as UTF-8, in the
// tool's own storage; null where one cannot be converted.
char** utf8Arguments(int count, wchar_t** arguments);

// The signals by which a run is ended from outside, and that it catches to
// remove its temporary file first: SIGINT, SIGTERM, SIGHUP and SIGXFSZ, or
// those of them the platform has.
struct SignalList {
    const int* signals;
    int count;
};
SignalList terminatingSignals();

}  // namespace platform
}  // namespace d88cut

#endif
