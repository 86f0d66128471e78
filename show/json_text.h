// Pieces of JSON for the lines of a JSON document: text is UTF-8, with a
// byte that decodes to no character written as U+FFFD.
#ifndef D88CUT_SHOW_JSON_TEXT_H
#define D88CUT_SHOW_JSON_TEXT_H

#include <cstddef>
#include <cstdint>

#include "text/messages.h"

namespace d88cut {

// A JSON string of text in the tool's own encoding (a path as given: UTF-8,
// or bytes that are not).
struct JsonText {
    const char* text;
};
// A JSON string of bytes of a disk, decoded from Shift_JIS.
struct JsonShiftJis {
    const std::uint8_t* bytes;
    std::size_t length;
};
// A JSON string of bytes as lower-case hex digits.
struct JsonHex {
    const std::uint8_t* bytes;
    std::size_t length;
};
struct JsonBool {
    bool value;
};

void put(LineWriter& line, JsonText json);
void put(LineWriter& line, JsonShiftJis json);
void put(LineWriter& line, JsonHex json);
void put(LineWriter& line, JsonBool json);

}  // namespace d88cut

#endif
