// The few things d88cut asks of the operating system beyond the C library:
// opening and reading the image, file identities, making directories,
// creating and replacing output files, the lock on an output directory, the
// signals (or console events) that end a run, and what a terminal shows. One
// implementation per platform (posix.cpp, windows.cpp); nothing else in the
// tool or the reader depends on the platform but the two mains
// (tool/main_posix.cpp, tool/main_windows.cpp), which are each the program's
// own.
//
// Names are UTF-8; the Windows side converts them to wide characters, so that
// any name Windows allows works on any Windows locale. Failures set errno, so
// that callers report them with strerror alike on every platform.
#ifndef D88CUT_PLATFORM_PLATFORM_H
#define D88CUT_PLATFORM_PLATFORM_H

#include <cstdint>
#include <cstdio>

namespace d88cut {
namespace platform {

// Which file a name or an open file is: device and inode on POSIX, volume
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

// True when the file's size or modification time differs between the two.
inline bool changedBetween(const FileState& before, const FileState& after) {
    return before.size != after.size || before.modified != after.modified;
}

// The longest path the tool takes, in UTF-8 bytes: Windows takes 32,767 wide
// characters, each at most three bytes here; POSIX systems take fewer.
constexpr std::size_t kMaxPathBytes = 3 * 32768;

// --- the image -------------------------------------------------------------

// An open file: a descriptor on POSIX, a handle on Windows.
using File = std::intptr_t;
constexpr File kNoFile = -1;

enum class OpenResult {
    kOpened,
    kCannotOpen,  // the system would not open it; errno says why
    kCannotRead,  // opened, but the system cannot say what it is
    kNotAFile,    // a FIFO, a pipe, a device or a socket: refused unread
};

// Opens a regular file for reading, without ever waiting (a FIFO with no
// writer) and before anything is read; `state` receives what the system
// says of it. A directory is kCannotOpen with EISDIR.
OpenResult openImage(const char* path, File& file, FileState& state);
// Reads up to `count` bytes at `position`; returns the bytes read, fewer only
// at the end of the file, or -1 with errno set.
std::int64_t readAt(File file, std::int64_t position, std::uint8_t* out, std::int32_t count);
// False, with errno set, when the system cannot say.
bool stateOf(File file, FileState& state);
void closeImage(File file);

// Reads up to `room` bytes of the file at `path` from its start, as files
// put back are read: without asking what it is (a pipe or a directory
// fails the read). Returns the bytes read, or -1 with errno set.
std::int32_t readSmallFile(const char* path, std::uint8_t* out, std::int32_t room);

// --- output files ----------------------------------------------------------

// What stands at a name that is about to be replaced.
struct NameStatus {
    bool exists = false;
    // The file it leads to, following a link; unknown for a link that leads
    // nowhere.
    FileId id;
    // A regular file (not a link) whose permission bits the new file keeps.
    bool keepsMode = false;
    unsigned mode = 0;
    // False when the user could not write the file in place (mode 0444, say),
    // with the system's reason in `reason`; root can write any.
    bool writable = true;
    int reason = 0;
};
// False, with errno set, when the system cannot say what stands there.
bool statusOfName(const char* path, NameStatus& status);

// Makes `path` a directory, with its parents, unless it is one already.
// `madeFrom` receives the length of the prefix of `path` that names the
// first directory it made, whose name a power cut keeps only once its
// parent is pushed to the disk (syncDirectory); 0 when it made none, or
// where the system keeps names without that (Windows).
bool makeDirectories(const char* path, std::size_t& madeFrom);
// True when `c` separates a directory from a name in a path.
bool isSeparator(char c);
// `directory`/`name` into `out` (or `name` alone when directory is null);
// false when it does not fit.
bool joinPath(const char* directory, const char* name, char* out, std::size_t size);

// A file that has no name until nameUnnamed gives it one, where the system
// can make such a file (Linux's O_TMPFILE): a run that ends before then
// leaves nothing. -1 with errno set where it cannot.
int createUnnamed(const char* directory);
// Gives the unnamed file its name; fails with EEXIST when the name is taken.
bool nameUnnamed(int fd, const char* path);

// Creates `path` for writing with `mode` (as an existing file's permission
// bits, or the default when `keepMode` is false); fails when anything of
// that name exists, and never follows a link. Returns a descriptor, or -1.
int createNew(const char* path, bool keepMode, unsigned mode);
// Writes all `size` bytes; false on a short write.
bool writeAll(int fd, const std::uint8_t* data, std::int32_t size);
bool closeFile(int fd);
// Pushes the file's data to the disk, so that a power cut after this keeps
// it; false, with errno set, when the system fails it.
bool syncFile(int fd);
// The same for a directory's entries (null: the current one): the names
// given since are kept by a power cut after this. Windows keeps names by its
// file system's own journal, and asks nothing.
bool syncDirectory(const char* directory);
// Puts `from` in the place of `to`, whatever `to` is now: an existing file or
// link of that name is replaced, not written through.
bool replaceName(const char* from, const char* to);
bool removeName(const char* path);

// A small number that differs between processes running at once.
unsigned long processId();

// --- a file being written --------------------------------------------------

// Room for a temporary name: ".NAME.d88cut-" with any process number and
// retry count, for a name as long as a file system takes (255 bytes).
constexpr std::size_t kTempNameBytes = 320;

// One output file from its creation until it has its name or is gone: the
// one object that owns it, so that a name only ever holds the earlier file
// or the complete new one. Where nothing has the name yet and the system can,
// the file has no name at all until it is committed, and a run that ends
// before leaves nothing. Otherwise it is written under a temporary name
// beside its place (".NAME.d88cut-PID"), with the signals that end a run held
// from its creation until it is committed or rolled back, so that no
// temporary name is left behind.
struct OutputFile {
    const char* path = nullptr;  // the name it takes when committed
    int fd = -1;
    // Its data is pushed to the disk before it has its name (--sync).
    bool sync = false;
    // Written under a temporary name always, so that it can be opened and
    // read back before it has its name.
    bool named = false;
    bool holding = false;  // the signals that end a run are held
    // Its temporary name; empty while it has none (set by createOutput).
    char temp[kMaxPathBytes + kTempNameBytes];
};

// Creates the file that is to take the place of `path`, the output `name`
// in `directory` (null: the current one), where `status` says what stands
// now. False, with errno set, when it cannot be created.
bool createOutput(OutputFile& file, const char* directory, const char* name, const char* path,
                  const NameStatus& status);

enum class Commit {
    kDone,          // the file has its name
    kAgain,         // nothing is left: the name appeared meanwhile, or the
                    // system cannot name a file without one; create it again
    kCannotWrite,   // the close failed, where a system reports a failed write
    kCannotCreate,  // the name could not take the file (a directory, say)
};
// Closes the file and gives it its name, errno set on failure. After
// kCannotWrite or kCannotCreate, rollbackOutput removes what is left.
Commit commitOutput(OutputFile& file);
// Closes and removes a file not committed, and lets held signals act. False,
// with errno set, when its temporary name could not be removed.
bool rollbackOutput(OutputFile& file);

// --- the lock on an output directory -----------------------------------------

enum class LockResult {
    kHeld,
    kCannotLock,  // errno says why
};
// Waits until no other d88cut run holds the directory `path`, then holds it
// until the process ends, when the system lets it go whatever ends it. The
// lock is keyed by the directory's identity, not its name or mode, and
// leaves nothing in it. `onWait` is called once if the wait goes on for
// more than a moment.
LockResult lockDirectory(const char* path, void (*onWait)(const char* path));

// --- signals ---------------------------------------------------------------

// At start: a broken pipe on standard output and a file-size limit become
// failed writes, which the tool reports, instead of ending the process.
void prepareProcess();
// While a temporary name exists (see OutputFile): the signals (on Windows,
// the console's events) that end a run are held, so that none ends it
// before the name is gone; allowTermination lets a held one end the process
// then, as it would have.
void holdTermination();
void allowTermination();

// --- the terminal ------------------------------------------------------------

// True when `stream` is a terminal whose locale shows UTF-8 (never on
// Windows, whose console writeConsoleUtf8 serves).
bool showsUtf8(std::FILE* stream);
// Writes `length` bytes of UTF-8 text to the Windows console behind
// `stream`, as wide characters, so that any code page shows it; false, with
// nothing written, where there is none.
bool writeConsoleUtf8(std::FILE* stream, const char* text, std::size_t length);

// Windows: the `count` arguments of wmain as UTF-8, in the tool's own
// storage; null where one cannot be converted or does not fit.
char** utf8Arguments(int count, wchar_t** arguments);

// Windows: when the tool has a console window of its own (started from
// Explorer), asks for Enter before the window closes; nothing otherwise.
void holdConsoleWindow();

}  // namespace platform
}  // namespace d88cut

#endif
