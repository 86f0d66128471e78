// What d88cut says: its lines on standard output and standard error. Every
// English line on standard error begins with "d88cut: " and ends whole with
// its newline, whatever the length of the names in it; a name is shown
// escaped, so that a crafted one can neither split a line nor drive the
// terminal. A line that could not be written is remembered, so that the run
// does not end as if all had been said.
#ifndef D88CUT_TEXT_MESSAGES_H
#define D88CUT_TEXT_MESSAGES_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

namespace d88cut {

// A name in a message (a path, an option as given): control characters and
// bytes that are not UTF-8 are shown as \n, \t, \r or \xHH.
struct Name {
    const char* text;
};
// Raw bytes in double quotes, as the listing shows a disk's name: printable
// ASCII as it is, `"` and `\` after a backslash, any other byte as \xHH.
struct Quoted {
    const std::uint8_t* bytes;
    std::size_t length;
};
// A disk's name, or other text of a disk, in double quotes: as Quoted, but
// where `readable` is set (standard output shows UTF-8), the Shift_JIS
// characters that decode cleanly are shown as themselves.
struct DiskText {
    const std::uint8_t* bytes;
    std::size_t length;
    bool readable;
};
// Text padded with blanks to a width, numbers on the right, text on the left.
struct Right {
    long long value;
    int width;
};
struct Left {
    const char* text;
    int width;
};

// A line being written: pieces gather in `buffer` and go out in chunks, so
// that a line of any length goes out whole; to `stream`, or without one into
// `text`, a NUL-terminated string of `room` bytes, cut where it is full.
struct LineWriter {
    std::FILE* stream = nullptr;
    char* text = nullptr;
    std::size_t room = 0;
    std::size_t textUsed = 0;
    std::size_t used = 0;
    char buffer[1024];
};

void put(LineWriter& line, const char* text);
void put(LineWriter& line, std::string_view bytes);
void put(LineWriter& line, Name name);
void put(LineWriter& line, Quoted quoted);
void put(LineWriter& line, DiskText text);
void put(LineWriter& line, Right right);
void put(LineWriter& line, Left left);
void put(LineWriter& line, long long number);
// Sends what is gathered; the line ends where the caller's text put "\n".
void flushLine(LineWriter& line);

// Puts each piece in turn; a part of a line made of several pieces puts
// them this way.
template <typename... Pieces>
void putAll(LineWriter& line, const Pieces&... pieces) {
    (put(line, pieces), ...);
}

// The pieces as one string in `out`, for text said later or elsewhere (the
// listing's words about a file); cut short, never overrun, where too long.
template <std::size_t Size, typename... Pieces>
void render(char (&out)[Size], const Pieces&... pieces) {
    LineWriter line;
    line.text = out;
    line.room = Size;
    out[0] = '\0';
    (put(line, pieces), ...);
    flushLine(line);
}

// A line on standard output: the pieces, then a newline.
template <typename... Pieces>
void say(const Pieces&... pieces) {
    LineWriter line;
    line.stream = stdout;
    (put(line, pieces), ...);
    put(line, "\n");
    flushLine(line);
}

// Pushes out the lines printed so far on standard output, before a line on
// standard error or a file that they announce; remembers the first failure.
void flushProgress();

// A line on standard error, begun with "d88cut: " after the lines printed
// before it on standard output, for pieces put one by one; endLine ends it.
LineWriter startWarning();
void endLine(LineWriter& line);

// "d88cut: ", the pieces and a newline on standard error.
template <typename... Pieces>
void warn(const Pieces&... pieces) {
    LineWriter line = startWarning();
    (put(line, pieces), ...);
    endLine(line);
}

// "Usage: PROGRAM [d88file]", with the program name as it was started.
void printUsage(std::FILE* stream, const char* program);

// "Try 'd88cut --help' for more information." on standard error, after a
// usage error's lines.
void printTryHelp();

// "cutting ... NAME" on standard output.
void printCutting(const char* name);
// The tool's two Japanese messages, "Disk A を認識しました." on standard
// output and "ファイルをオープンできません." on standard error: in UTF-8 to a
// terminal that shows UTF-8, as wide characters to a Windows console, and
// anywhere else (a pipe, a file) as the Shift_JIS bytes scripts match.
void printRecognised();
void warnCannotOpen();
// Whether standard output is a terminal that shows UTF-8; asked once a run.
bool stdoutShowsUtf8();

// Before a run's first line: standard output gets a buffer of the tool's
// own, and nothing has failed yet.
void beginMessages();
// False once a line on standard error could not be written.
bool linesSaid();
// After the last line: false when a line could not be written. A failure on
// standard output is said once on standard error.
bool endMessages();

}  // namespace d88cut

#endif
