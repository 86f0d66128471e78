// The tool's system calls on Windows (built with MinGW-w64).
#include "tool/platform.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <csignal>
#include <cwchar>

namespace d88cut {
namespace platform {

namespace {

// A directory cannot be locked here as on POSIX: the lock is a named mutex
// of this login session, named after the working directory's full path, so
// that it leaves no file behind, and an owner that dies gives it up.
constexpr wchar_t kLockPrefix[] = L"Local\\d88cut-";
// The prefix and 16 hex digits of the path's hash, with room to spare.
constexpr int kLockNameSize = 64;
// FNV-1a, 64 bits: a well-spread hash in a few lines.
constexpr std::uint64_t kFnvOffset = 14695981039346656037ull;
constexpr std::uint64_t kFnvPrime = 1099511628211ull;

HANDLE directoryLock = nullptr;

// The longest path Windows takes, in wide characters, and in UTF-8 bytes.
constexpr int kWidePathSize = 32768;
constexpr int kUtf8PathSize = 3 * kWidePathSize;

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
        case ERROR_PATH_NOT_FOUND: return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION: return EACCES;
        case ERROR_ALREADY_EXISTS:
        case ERROR_FILE_EXISTS: return EEXIST;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return ENOSPC;
        case ERROR_WRITE_PROTECT: return EROFS;
        default: return EIO;
    }
}

bool infoOf(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info) {
    return handle != INVALID_HANDLE_VALUE && ::GetFileInformationByHandle(handle, &info);
}

FileId idOf(const BY_HANDLE_FILE_INFORMATION& info) {
    FileId id;
    id.known = true;
    id.volume = info.dwVolumeSerialNumber;
    id.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return id;
}

}  // namespace

FileState stateOfStream(std::FILE* stream) {
    FileState state;
    BY_HANDLE_FILE_INFORMATION info;
    if (stream == nullptr ||
        !infoOf(reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream))), info)) {
        return state;
    }
    state.id = idOf(info);
    state.size = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    state.modified = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
        info.ftLastWriteTime.dwLowDateTime);
    return state;
}

FileId idOfName(const char* name) {
    if (!toWide(name, wideName)) return {};
    // No access asked, so nothing is read or written, and any file, also a
    // directory, can be asked about.
    const HANDLE handle =
        ::CreateFileW(wideName, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = infoOf(handle, info);
    if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
    return known ? idOf(info) : FileId{};
}

void lockWorkingDirectory() {
    if (directoryLock != nullptr) {
        ::ReleaseMutex(directoryLock);
        ::CloseHandle(directoryLock);
        directoryLock = nullptr;
    }
    // The path in upper case, as Windows compares names, hashed into the
    // mutex's name, which may not hold backslashes.
    const DWORD length = ::GetCurrentDirectoryW(kWidePathSize, wideName);
    if (length == 0 || length >= static_cast<DWORD>(kWidePathSize)) return;
    ::CharUpperBuffW(wideName, length);
    std::uint64_t hash = kFnvOffset;
    for (DWORD i = 0; i < length; ++i) {
        hash = (hash ^ static_cast<std::uint16_t>(wideName[i])) * kFnvPrime;
    }
    wchar_t name[kLockNameSize];
    std::swprintf(name, kLockNameSize, L"%ls%016llx", kLockPrefix,
                  static_cast<unsigned long long>(hash));
    directoryLock = ::CreateMutexW(nullptr, FALSE, name);
    if (directoryLock == nullptr) return;
    // An owner that died leaves the mutex abandoned, and ours all the same.
    const DWORD waited = ::WaitForSingleObject(directoryLock, INFINITE);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        ::CloseHandle(directoryLock);
        directoryLock = nullptr;
    }
}

unsigned long processId() { return ::GetCurrentProcessId(); }

int createNew(const char* name) {
    if (!toWide(name, wideName)) return -1;
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

bool replaceName(const char* from, const char* to) {
    if (!toWide(from, wideName) || !toWide(to, wideTarget)) return false;
    // The C library's rename refuses to replace an existing file here.
    if (::MoveFileExW(wideName, wideTarget, MOVEFILE_REPLACE_EXISTING)) return true;
    const DWORD error = ::GetLastError();
    const DWORD attributes = ::GetFileAttributesW(wideTarget);
    // Said as on other systems: a directory in the way, not "access denied".
    const bool directory =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    errno = directory ? EISDIR : errnoOf(error);
    return false;
}

// Also from the signal handler: the temporary names are ASCII, and need no
// conversion, which could not be made safely there.
bool removeName(const char* name) { return ::_unlink(name) == 0; }

bool showsUtf8(std::FILE*) { return false; }

bool writeConsoleUtf8(std::FILE* stream, const char* text) {
    DWORD mode = 0;
    const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    if (!::GetConsoleMode(handle, &mode)) return false;
    static wchar_t wide[kWidePathSize];
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, kWidePathSize);
    if (length <= 0) return false;
    // What the stream holds goes first, in its order.
    std::fflush(stream);
    DWORD written = 0;
    // The length counts the terminating NUL, which is not shown.
    return ::WriteConsoleW(handle, wide, static_cast<DWORD>(length - 1), &written, nullptr) != 0;
}

char** utf8Arguments(int count, wchar_t** arguments) {
    static char storage[2][kUtf8PathSize];
    static char* converted[3] = {};
    for (int i = 0; i < count && i < 2; ++i) {
        converted[i] = ::WideCharToMultiByte(CP_UTF8, 0, arguments[i], -1, storage[i],
                                             kUtf8PathSize, nullptr, nullptr) > 0
                           ? storage[i]
                           : nullptr;
    }
    return converted;
}

SignalList terminatingSignals() {
    static const int signals[] = {SIGINT, SIGTERM, SIGBREAK};
    return {signals, static_cast<int>(sizeof signals / sizeof signals[0])};
}

}  // namespace platform
}  // namespace d88cut
