// The tool's lines: chunked writing, escaping, the Japanese messages in the
// reader's encoding, and the failures of the standard streams.
#include "text/messages.h"

#include <cerrno>
#include <cstring>

#include "platform/platform.h"
#include "text/encodings.h"

namespace d88cut {

namespace {

// A Japanese message in each encoding it may be written in; a Windows
// console is given the UTF-8 one as wide characters.
struct JapaneseText {
    const char* shiftJis;
    const char* utf8;
};

// "Disk A を認識しました.\n": disk A recognised.
constexpr JapaneseText kRecognised = {
    "Disk A \x82\xF0\x94\x46\x8E\xAF\x82\xB5\x82\xDC\x82\xB5\x82\xBD.\n",
    "Disk A \xE3\x82\x92\xE8\xAA\x8D\xE8\xAD\x98\xE3\x81\x97\xE3\x81\xBE\xE3\x81\x97"
    "\xE3\x81\x9F.\n",
};
// "ファイルをオープンできません.\n": the file cannot be opened.
constexpr JapaneseText kCannotOpen = {
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76\x83\x93"
    "\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1.\n",
    "\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB\xE3\x82\x92\xE3\x82\xAA\xE3\x83"
    "\xBC\xE3\x83\x97\xE3\x83\xB3\xE3\x81\xA7\xE3\x81\x8D\xE3\x81\xBE\xE3\x81\x9B"
    "\xE3\x82\x93.\n",
};

// Standard output's buffer: the tool's own, so that the C library neither
// allocates one nor asks the system what the stream is.
char stdoutBuffer[4096];
// The reason of the first write to standard output that failed; 0 when none.
int progressError = 0;
// A line on standard error that could not be written.
bool lineLost = false;
// Whether standard output shows UTF-8: asked once a run, at its first
// Japanese line.
bool stdoutAsked = false;
bool stdoutUtf8 = false;

// Writes `length` bytes to the line's stream, to a Windows console as wide
// characters; remembers a failure on standard error.
void send(std::FILE* stream, const char* text, std::size_t length) {
    if (length == 0 || platform::writeConsoleUtf8(stream, text, length)) return;
    if (std::fwrite(text, 1, length, stream) != length && stream == stderr) lineLost = true;
}

void writeJapanese(std::FILE* stream, bool utf8, const JapaneseText& text) {
    const char* bytes = utf8 ? text.utf8 : text.shiftJis;
    if (platform::writeConsoleUtf8(stream, text.utf8, std::strlen(text.utf8))) return;
    send(stream, bytes, std::strlen(bytes));
}

void putBytes(LineWriter& line, const char* bytes, std::size_t length) {
    while (length > 0) {
        if (line.used == sizeof line.buffer) flushLine(line);
        const std::size_t room = sizeof line.buffer - line.used;
        const std::size_t take = length < room ? length : room;
        std::memcpy(line.buffer + line.used, bytes, take);
        line.used += take;
        bytes += take;
        length -= take;
    }
}

// A piece that must not be split between chunks (a UTF-8 sequence, so that
// a Windows console is given whole characters).
void putWhole(LineWriter& line, const char* bytes, std::size_t length) {
    if (sizeof line.buffer - line.used < length) flushLine(line);
    putBytes(line, bytes, length);
}

void putEscapedByte(LineWriter& line, unsigned char byte) {
    static const char kDigits[] = "0123456789abcdef";
    const char escape[4] = {'\\', 'x', kDigits[byte >> 4], kDigits[byte & 15]};
    putWhole(line, escape, sizeof escape);
}

}  // namespace

void put(LineWriter& line, const char* text) { putBytes(line, text, std::strlen(text)); }

void put(LineWriter& line, std::string_view bytes) { putWhole(line, bytes.data(), bytes.size()); }

void put(LineWriter& line, Name name) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(name.text);
    while (*s != 0) {
        const unsigned char b = *s;
        if (b >= 0x20 && b < 0x7F) {
            putBytes(line, reinterpret_cast<const char*>(s), 1);
            ++s;
            continue;
        }
        const char* named = b == '\n' ? "\\n" : b == '\t' ? "\\t" : b == '\r' ? "\\r" : nullptr;
        if (named != nullptr) {
            putWhole(line, named, 2);
            ++s;
            continue;
        }
        std::size_t length = 0;
        if (b >= 0x80 && decodeUtf8(s, length) == kNotUtf8) length = 0;
        // C1 controls (U+0080 to U+009F) drive a terminal as ESC does.
        const bool control = length == 2 && b == 0xC2 && s[1] < 0xA0;
        if (length == 0 || control) {
            putEscapedByte(line, b);
            ++s;
            continue;
        }
        putWhole(line, reinterpret_cast<const char*>(s), length);
        s += length;
    }
}

void put(LineWriter& line, Quoted quoted) {
    put(line, DiskText{quoted.bytes, quoted.length, false});
}

void put(LineWriter& line, DiskText text) {
    putBytes(line, "\"", 1);
    for (std::size_t i = 0; i < text.length; ++i) {
        const unsigned char b = text.bytes[i];
        std::size_t used = 1;
        const std::uint32_t code =
            text.readable ? decodeShiftJis(text.bytes + i, text.length - i, used) : kNotShiftJis;
        if (code >= 0x80 && code != kNotShiftJis) {
            char utf8[4];
            putWhole(line, utf8, encodeUtf8(code, utf8));
            i += used - 1;
        } else if (b == '"' || b == '\\') {
            const char escape[2] = {'\\', static_cast<char>(b)};
            putWhole(line, escape, 2);
        } else if (b >= 0x20 && b < 0x7F) {
            putBytes(line, reinterpret_cast<const char*>(&b), 1);
        } else {
            putEscapedByte(line, b);
        }
    }
    putBytes(line, "\"", 1);
}

void put(LineWriter& line, Right right) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%*lld", right.width, right.value);
    put(line, digits);
}

void put(LineWriter& line, Left left) {
    put(line, left.text);
    for (int pad = left.width - static_cast<int>(std::strlen(left.text)); pad > 0; --pad) {
        put(line, " ");
    }
}

void put(LineWriter& line, long long number) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%lld", number);
    put(line, digits);
}

void flushLine(LineWriter& line) {
    if (line.stream != nullptr) {
        send(line.stream, line.buffer, line.used);
    } else if (line.text != nullptr && line.textUsed + 1 < line.room) {
        const std::size_t left = line.room - 1 - line.textUsed;
        const std::size_t take = line.used < left ? line.used : left;
        std::memcpy(line.text + line.textUsed, line.buffer, take);
        line.textUsed += take;
        line.text[line.textUsed] = '\0';
    }
    line.used = 0;
}

LineWriter startWarning() {
    flushProgress();
    LineWriter line;
    line.stream = stderr;
    put(line, "d88cut: ");
    return line;
}

void endLine(LineWriter& line) {
    put(line, "\n");
    flushLine(line);
}

void flushProgress() {
    if (std::fflush(stdout) != 0 && progressError == 0) progressError = errno;
}

void printUsage(std::FILE* stream, const char* program) {
    LineWriter line;
    line.stream = stream;
    put(line, "Usage: ");
    put(line, program);
    put(line, " [d88file]\n");
    flushLine(line);
}

void printTryHelp() {
    LineWriter line;
    line.stream = stderr;
    putAll(line, "Try 'd88cut --help' for more information.\n");
    flushLine(line);
}

void printCutting(const char* name) { say("cutting ... ", name); }

bool stdoutShowsUtf8() {
    if (!stdoutAsked) {
        stdoutUtf8 = platform::showsUtf8(stdout);
        stdoutAsked = true;
    }
    return stdoutUtf8;
}

void printRecognised() { writeJapanese(stdout, stdoutShowsUtf8(), kRecognised); }

void warnCannotOpen() {
    flushProgress();
    writeJapanese(stderr, platform::showsUtf8(stderr), kCannotOpen);
}

void beginMessages() {
    std::setvbuf(stdout, stdoutBuffer, _IOFBF, sizeof stdoutBuffer);
    std::clearerr(stdout);
    progressError = 0;
    lineLost = false;
    stdoutAsked = false;
}

bool linesSaid() { return !lineLost; }

bool endMessages() {
    flushProgress();
    if (progressError != 0 || std::ferror(stdout)) {
        warn("cannot write to standard output: ",
             std::strerror(progressError != 0 ? progressError : EIO));
        return false;
    }
    return !lineLost;
}

}  // namespace d88cut
