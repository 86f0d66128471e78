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

// Held open with no sharing while a run lasts, deleted by the system when the
// last handle closes, also when the process dies: never a stale lock.
constexpr char kLockName[] = ".d88cut.lock";
// How often, and how long apart, a lock file that is being deleted is asked
// for again before the run goes on without it (a read-only directory).
constexpr int kLockDeniedTries = 100;
constexpr DWORD kLockRetryMs = 20;

HANDLE directoryLock = INVALID_HANDLE_VALUE;

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
    // No access asked, so nothing is read or written, and any file, also a
    // directory, can be asked about.
    const HANDLE handle =
        ::CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = infoOf(handle, info);
    if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
    return known ? idOf(info) : FileId{};
}

void lockWorkingDirectory() {
    if (directoryLock != INVALID_HANDLE_VALUE) ::CloseHandle(directoryLock);
    directoryLock = INVALID_HANDLE_VALUE;
    for (int denied = 0; denied < kLockDeniedTries;) {
        directoryLock = ::CreateFileA(kLockName, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE,
                                      nullptr);
        if (directoryLock != INVALID_HANDLE_VALUE) return;
        const DWORD error = ::GetLastError();
        // Another run holds it: wait for it as long as it takes.
        if (error == ERROR_SHARING_VIOLATION) {
            ::Sleep(kLockRetryMs);
            continue;
        }
        // A lock file being deleted answers "access denied" for a moment.
        if (error != ERROR_ACCESS_DENIED) return;
        ++denied;
        ::Sleep(kLockRetryMs);
    }
}

unsigned long processId() { return ::GetCurrentProcessId(); }

int createNew(const char* name) {
    return ::_open(name, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                   _S_IREAD | _S_IWRITE);
}

bool writeAll(int fd, const std::uint8_t* data, std::int32_t size) {
    std::int32_t done = 0;
    while (done < size) {
        const int wrote = ::_write(fd, data + done, static_cast<unsigned>(size - done));
        if (wrote <= 0) {
            if (wrote == 0) errno = ENOSPC;
            return false;
        }
        done += wrote;
    }
    return true;
}

bool closeFile(int fd) { return ::_close(fd) == 0; }

bool replaceName(const char* from, const char* to) {
    // The C library's rename refuses to replace an existing file here.
    if (::MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING)) return true;
    errno = errnoOf(::GetLastError());
    return false;
}

bool removeName(const char* name) { return ::_unlink(name) == 0; }

Reader readerOf(std::FILE* stream) {
    DWORD mode = 0;
    const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    return ::GetConsoleMode(handle, &mode) ? Reader::kWindowsConsole : Reader::kOther;
}

bool writeConsole(std::FILE* stream, const wchar_t* text) {
    // What the stream holds goes first, in its order.
    std::fflush(stream);
    const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    DWORD written = 0;
    return ::WriteConsoleW(handle, text, static_cast<DWORD>(std::wcslen(text)), &written,
                           nullptr) != 0;
}

SignalList terminatingSignals() {
    static const int signals[] = {SIGINT, SIGTERM, SIGBREAK};
    return {signals, static_cast<int>(sizeof signals / sizeof signals[0])};
}

}  // namespace platform
}  // namespace d88cut
