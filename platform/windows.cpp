// The tool's system calls on Windows (built with MinGW-w64).
#include "platform/platform.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <cwchar>

namespace d88cut {
namespace platform {

namespace {

// The longest path Windows takes, in wide characters.
constexpr int kWidePathSize = 32768;
static_assert(kMaxPathBytes >= 3 * (kWidePathSize - 1), "any wide path fits in UTF-8");

// The lock on an output directory is a named mutex of this login session,
// named after the directory's volume and file index, so that it leaves no
// file behind, any path to the directory finds it, and an owner that dies
// gives it up.
constexpr int kLockNameSize = 64;
// A wait for the lock goes on this long before the user is told of it.
constexpr DWORD kWaitBeforeSayingMs = 500;

// A UTF-8 name as wide characters, in `out`; false (errno set) when it is
// not UTF-8 or too long.
bool toWide(const char* name, wchar_t (&out)[kWidePathSize]) {
    if (::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, out, kWidePathSize) > 0) {
        return true;
    }
    errno = ::GetLastError() == ERROR_INSUFFICIENT_BUFFER ? ENAMETOOLONG : EINVAL;
    return false;
}

// The one wide name each call below needs, and a second for a rename: the
// tool runs in one thread.
wchar_t wideName[kWidePathSize];
wchar_t wideTarget[kWidePathSize];

// The errno closest to a Windows error, for strerror.
int errnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH: return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION: return EACCES;
        case ERROR_ALREADY_EXISTS:
        case ERROR_FILE_EXISTS: return EEXIST;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return ENOSPC;
        case ERROR_WRITE_PROTECT: return EROFS;
        case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
        case ERROR_DIRECTORY: return ENOTDIR;
        default: return EIO;
    }
}

bool isDirectory(const wchar_t* path) {
    const DWORD attributes = ::GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

FileId idOf(const BY_HANDLE_FILE_INFORMATION& info) {
    FileId id;
    id.known = true;
    id.volume = info.dwVolumeSerialNumber;
    id.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return id;
}

void stateFrom(const BY_HANDLE_FILE_INFORMATION& info, FileState& state) {
    state.id = idOf(info);
    state.size = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) |
                                           info.nFileSizeLow);
    state.modified = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
        info.ftLastWriteTime.dwLowDateTime);
}

// Opens any file or directory without reading or writing it, following
// links, only to ask what it is.
HANDLE openToAsk(const wchar_t* path) {
    return ::CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// The mutex of the output directory's lock, held until the process ends.
HANDLE directoryLock = nullptr;

// Held while a temporary name exists, and taken for good by the console's
// handler, which runs on a thread of its own: the run then ends only after
// the name is gone, and no later one is made.
SRWLOCK window = SRWLOCK_INIT;

BOOL WINAPI onConsoleEvent(DWORD) {
    ::AcquireSRWLockExclusive(&window);
    // Not handled: the system ends the process, as the event would have.
    return FALSE;
}

bool isConsole(DWORD which) {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(which), &mode) != 0;
}

}  // namespace

OpenResult openImage(const char* path, File& file, FileState& state) {
    if (!toWide(path, wideName)) {
        errno = ENOENT;
        return OpenResult::kCannotOpen;
    }
    const HANDLE handle = ::CreateFileW(wideName, GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        // Said as on other systems: a directory, not "permission denied".
        errno = isDirectory(wideName) ? EISDIR : errnoOf(::GetLastError());
        return OpenResult::kCannotOpen;
    }
    // A pipe, the console or a device: never a file of disk images.
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        ::CloseHandle(handle);
        errno = ESPIPE;
        return OpenResult::kNotAFile;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(handle, &info)) {
        errno = errnoOf(::GetLastError());
        ::CloseHandle(handle);
        return OpenResult::kCannotRead;
    }
    stateFrom(info, state);
    file = reinterpret_cast<File>(handle);
    return OpenResult::kOpened;
}

std::int64_t readAt(File file, std::int64_t position, std::uint8_t* out, std::int32_t count) {
    // The offset in the OVERLAPPED of a synchronous handle says where to read.
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(position) & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(position) >> 32);
    DWORD got = 0;
    if (::ReadFile(reinterpret_cast<HANDLE>(file), out, static_cast<DWORD>(count), &got, &at)) {
        return got;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_HANDLE_EOF) return 0;
    errno = errnoOf(error);
    return -1;
}

bool stateOf(File file, FileState& state) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(reinterpret_cast<HANDLE>(file), &info)) {
        errno = errnoOf(::GetLastError());
        return false;
    }
    stateFrom(info, state);
    return true;
}

void closeImage(File file) { ::CloseHandle(reinterpret_cast<HANDLE>(file)); }

std::int32_t readSmallFile(const char* path, std::uint8_t* out, std::int32_t room) {
    if (!toWide(path, wideName)) return -1;
    const HANDLE handle = ::CreateFileW(wideName, GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = isDirectory(wideName) ? EISDIR : errnoOf(::GetLastError());
        return -1;
    }
    const std::int64_t got = readAt(reinterpret_cast<File>(handle), 0, out, room);
    const int reason = errno;
    ::CloseHandle(handle);
    errno = reason;
    return static_cast<std::int32_t>(got);
}

bool statusOfName(const char* path, NameStatus& status) {
    status = NameStatus();
    if (!toWide(path, wideName)) return false;
    const HANDLE handle = openToAsk(wideName);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        // Nothing there, or a link that leads nowhere, which cannot be the
        // image and is replaced.
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            status.exists = ::GetFileAttributesW(wideName) != INVALID_FILE_ATTRIBUTES;
            return true;
        }
        errno = errnoOf(error);
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = ::GetFileInformationByHandle(handle, &info) != 0;
    const DWORD error = ::GetLastError();
    ::CloseHandle(handle);
    if (!known) {
        errno = errnoOf(error);
        return false;
    }
    status.exists = true;
    status.id = idOf(info);
    // A link is replaced, never written through, whatever it leads to: the
    // name's own attributes, not its target's, say whether it is one.
    const DWORD own = ::GetFileAttributesW(wideName);
    const bool link = own != INVALID_FILE_ATTRIBUTES && (own & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    // Windows's one permission bit: a read-only file is not replaced, as a
    // plain overwrite would not be.
    if (!link && (info.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) ==
                     FILE_ATTRIBUTE_READONLY) {
        status.writable = false;
        status.reason = EACCES;
    }
    return true;
}

bool makeDirectories(const char* path, std::size_t& madeFrom) {
    // NTFS keeps a new directory's name by its own journal: nothing to push.
    madeFrom = 0;
    if (!toWide(path, wideName)) return false;
    if (isDirectory(wideName)) return true;
    const std::size_t length = std::wcslen(wideName);
    // Each parent in turn, then the directory itself; parents the system
    // cannot tell of (a drive, a server's name) are passed over.
    for (std::size_t i = 1; i <= length; ++i) {
        const wchar_t c = wideName[i];
        if (i < length && c != L'/' && c != L'\\') continue;
        wideName[i] = L'\0';
        const DWORD attributes = ::GetFileAttributesW(wideName);
        const DWORD asked = ::GetLastError();
        if (attributes == INVALID_FILE_ATTRIBUTES &&
            (asked == ERROR_FILE_NOT_FOUND || asked == ERROR_PATH_NOT_FOUND) &&
            !::CreateDirectoryW(wideName, nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
            errno = errnoOf(::GetLastError());
            return false;
        }
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            errno = ENOTDIR;
            return false;
        }
        wideName[i] = c;
    }
    if (isDirectory(wideName)) return true;
    errno = ENOTDIR;
    return false;
}

// A drive's colon ends a path as a separator does: "D:" + "IPL2" is D:IPL2.
bool isSeparator(char c) { return c == '/' || c == '\\' || c == ':'; }

// Windows has no file without a name: every file goes by a temporary one.
int createUnnamed(const char*) {
    errno = EINVAL;
    return -1;
}

bool nameUnnamed(int, const char*) {
    errno = EINVAL;
    return false;
}

int createNew(const char* path, bool, unsigned) {
    if (!toWide(path, wideName)) return -1;
    return ::_wopen(wideName, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                    _S_IREAD | _S_IWRITE);
}

bool writeAll(int fd, const std::uint8_t* data, std::int32_t size) {
    // The system's own write, so that its reason (a full disk) is kept.
    const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    std::int32_t done = 0;
    while (done < size) {
        DWORD wrote = 0;
        if (!::WriteFile(handle, data + done, static_cast<DWORD>(size - done), &wrote, nullptr)) {
            errno = errnoOf(::GetLastError());
            return false;
        }
        if (wrote == 0) {
            errno = ENOSPC;
            return false;
        }
        done += static_cast<std::int32_t>(wrote);
    }
    return true;
}

bool closeFile(int fd) { return ::_close(fd) == 0; }

bool syncFile(int fd) {
    if (::FlushFileBuffers(reinterpret_cast<HANDLE>(::_get_osfhandle(fd)))) return true;
    errno = errnoOf(::GetLastError());
    return false;
}

bool syncDirectory(const char*) { return true; }

bool replaceName(const char* from, const char* to) {
    if (!toWide(from, wideName) || !toWide(to, wideTarget)) return false;
    // The C library's rename refuses to replace an existing file here.
    if (::MoveFileExW(wideName, wideTarget, MOVEFILE_REPLACE_EXISTING)) return true;
    const DWORD error = ::GetLastError();
    // Said as on other systems: a directory in the way, not "access denied".
    errno = isDirectory(wideTarget) ? EISDIR : errnoOf(error);
    return false;
}

bool removeName(const char* path) {
    if (!toWide(path, wideName)) return false;
    if (::DeleteFileW(wideName)) return true;
    errno = errnoOf(::GetLastError());
    return false;
}

unsigned long processId() { return ::GetCurrentProcessId(); }

LockResult lockDirectory(const char* path, void (*onWait)(const char* path)) {
    // A process runs the tool once, but one that runs it again lets go of the
    // directory it held first.
    if (directoryLock != nullptr) {
        ::ReleaseMutex(directoryLock);
        ::CloseHandle(directoryLock);
        directoryLock = nullptr;
    }
    if (!toWide(path != nullptr ? path : ".", wideName)) return LockResult::kCannotLock;
    const HANDLE directory = openToAsk(wideName);
    BY_HANDLE_FILE_INFORMATION info;
    const bool known =
        directory != INVALID_HANDLE_VALUE && ::GetFileInformationByHandle(directory, &info);
    const DWORD error = ::GetLastError();
    if (directory != INVALID_HANDLE_VALUE) ::CloseHandle(directory);
    if (!known) {
        errno = errnoOf(error);
        return LockResult::kCannotLock;
    }
    wchar_t name[kLockNameSize];
    std::swprintf(name, kLockNameSize, L"Local\\d88cut-lock-%08lx-%08lx%08lx",
                  static_cast<unsigned long>(info.dwVolumeSerialNumber),
                  static_cast<unsigned long>(info.nFileIndexHigh),
                  static_cast<unsigned long>(info.nFileIndexLow));
    // Held until the process ends: the system lets it go then.
    const HANDLE lock = ::CreateMutexW(nullptr, FALSE, name);
    if (lock == nullptr) {
        errno = errnoOf(::GetLastError());
        return LockResult::kCannotLock;
    }
    DWORD waited = ::WaitForSingleObject(lock, kWaitBeforeSayingMs);
    if (waited == WAIT_TIMEOUT) {
        onWait(path);
        waited = ::WaitForSingleObject(lock, INFINITE);
    }
    // An owner that died leaves the mutex abandoned, and ours all the same.
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
        directoryLock = lock;
        return LockResult::kHeld;
    }
    errno = errnoOf(::GetLastError());
    ::CloseHandle(lock);
    return LockResult::kCannotLock;
}

void prepareProcess() { ::SetConsoleCtrlHandler(onConsoleEvent, TRUE); }

void holdTermination() { ::AcquireSRWLockExclusive(&window); }

void allowTermination() { ::ReleaseSRWLockExclusive(&window); }

bool showsUtf8(std::FILE*) { return false; }

bool writeConsoleUtf8(std::FILE* stream, const char* text, std::size_t length) {
    DWORD mode = 0;
    const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    if (!::GetConsoleMode(handle, &mode)) return false;
    // The tool's lines come in pieces of whole characters, far shorter than
    // this.
    static wchar_t wide[kWidePathSize];
    const int count =
        ::MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(length), wide, kWidePathSize);
    if (count <= 0) return false;
    // What the stream holds goes first, in its order.
    std::fflush(stream);
    DWORD written = 0;
    return ::WriteConsoleW(handle, wide, static_cast<DWORD>(count), &written, nullptr) != 0;
}

char** utf8Arguments(int count, wchar_t** arguments) {
    // A command line holds at most 32,767 wide characters, so that many
    // arguments, and as many UTF-8 bytes as they need, at the most.
    static char storage[kMaxPathBytes + kWidePathSize];
    static char* converted[kWidePathSize + 1];
    std::size_t used = 0;
    for (int i = 0; i < count && i < kWidePathSize; ++i) {
        const int length =
            ::WideCharToMultiByte(CP_UTF8, 0, arguments[i], -1, storage + used,
                                  static_cast<int>(sizeof storage - used), nullptr, nullptr);
        converted[i] = length > 0 ? storage + used : nullptr;
        used += length > 0 ? static_cast<std::size_t>(length) : 0;
    }
    converted[count < kWidePathSize ? count : kWidePathSize] = nullptr;
    return converted;
}

void holdConsoleWindow() {
    // Only when the console is a window of its own that no other process
    // shares: made for this run (Explorer), and closing with it. A script, a
    // pipe, a command prompt, or a terminal that wine runs the tool in (its
    // console has no window) never waits.
    DWORD processes[2];
    const HWND window = ::GetConsoleWindow();
    if (window == nullptr || ::GetConsoleProcessList(processes, 2) != 1 ||
        !isConsole(STD_INPUT_HANDLE) || !isConsole(STD_OUTPUT_HANDLE)) {
        return;
    }
    // The window Windows made for this process reports it as its owner.
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (!::IsWindowVisible(window) || owner != ::GetCurrentProcessId()) return;
    std::fflush(stdout);
    static const wchar_t kPrompt[] = L"Press Enter to close this window.";
    DWORD written = 0;
    ::WriteConsoleW(::GetStdHandle(STD_OUTPUT_HANDLE), kPrompt,
                    static_cast<DWORD>(std::wcslen(kPrompt)), &written, nullptr);
    wchar_t typed[64];
    DWORD got = 0;
    while (::ReadConsoleW(::GetStdHandle(STD_INPUT_HANDLE), typed, 64, &got, nullptr) && got > 0) {
        if (std::wmemchr(typed, L'\r', got) != nullptr ||
            std::wmemchr(typed, L'\n', got) != nullptr) {
            break;
        }
    }
}

}  // namespace platform
}  // namespace d88cut
