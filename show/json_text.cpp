// Strings, hex and booleans of JSON.
#include "show/json_text.h"

#include <cstdio>
#include <string_view>

#include "text/encodings.h"

namespace d88cut {

namespace {

// U+FFFD, for a byte that begins no character.
constexpr char kReplacement[] = "\xEF\xBF\xBD";

// One code point, escaped as JSON requires.
void putCodePoint(LineWriter& line, std::uint32_t code) {
    if (code == '"' || code == '\\') {
        const char escape[2] = {'\\', static_cast<char>(code)};
        putAll(line, std::string_view(escape, 2));
    } else if (code < 0x20 || code == 0x7F) {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(code));
        put(line, escape);
    } else {
        char utf8[4];
        putAll(line, std::string_view(utf8, encodeUtf8(code, utf8)));
    }
}

}  // namespace

void put(LineWriter& line, JsonText json) {
    put(line, "\"");
    const unsigned char* s = reinterpret_cast<const unsigned char*>(json.text);
    while (*s != 0) {
        std::size_t used = 1;
        const std::uint32_t code = decodeUtf8(s, used);
        if (code == kNotUtf8) {
            put(line, kReplacement);
        } else if (code >= 0x10000) {
            // Written as it stands: JSON takes any UTF-8.
            putAll(line, std::string_view(reinterpret_cast<const char*>(s), used));
        } else {
            putCodePoint(line, code);
        }
        s += used;
    }
    put(line, "\"");
}

void put(LineWriter& line, JsonShiftJis json) {
    put(line, "\"");
    for (std::size_t i = 0; i < json.length;) {
        std::size_t used = 1;
        const std::uint32_t code = decodeShiftJis(json.bytes + i, json.length - i, used);
        if (code == kNotShiftJis) {
            put(line, kReplacement);
        } else {
            putCodePoint(line, code);
        }
        i += used;
    }
    put(line, "\"");
}

void put(LineWriter& line, JsonHex json) {
    static const char kDigits[] = "0123456789abcdef";
    put(line, "\"");
    for (std::size_t i = 0; i < json.length; ++i) {
        const char pair[2] = {kDigits[json.bytes[i] >> 4], kDigits[json.bytes[i] & 15]};
        putAll(line, std::string_view(pair, 2));
    }
    put(line, "\"");
}

void put(LineWriter& line, JsonBool json) { put(line, json.value ? "true" : "false"); }

}  // namespace d88cut
