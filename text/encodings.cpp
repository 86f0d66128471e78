// Decoding Shift_JIS (ASCII and half-width katakana by rule, double-byte
// characters from the table made by make_shift_jis_table.py and built into
// the program: shift_jis_table.cpp, generated), and UTF-8.
#include "text/encodings.h"

namespace d88cut {

// Generated from text/shift_jis_table.bin: for each lead byte of
// kLeadRanges, in order, the code points of trail bytes kFirstTrail to
// kLastTrail, 0 where none.
extern const std::uint16_t kShiftJisTable[];

namespace {

constexpr std::uint8_t kFirstTrail = 0x40;
constexpr std::uint8_t kLastTrail = 0xFC;
constexpr std::size_t kTrails = kLastTrail - kFirstTrail + 1;
// Lead bytes 0x81-0x9F, then 0xE0-0xFC.
constexpr std::uint8_t kFirstLowLead = 0x81;
constexpr std::uint8_t kLastLowLead = 0x9F;
constexpr std::uint8_t kFirstHighLead = 0xE0;
constexpr std::uint8_t kLastHighLead = 0xFC;
// Half-width katakana 0xA1-0xDF are U+FF61-U+FF9F.
constexpr std::uint8_t kFirstKana = 0xA1;
constexpr std::uint8_t kLastKana = 0xDF;
constexpr std::uint32_t kKanaBase = 0xFF61;

// The row of a lead byte in the table, or -1.
int leadRow(std::uint8_t b) {
    if (b >= kFirstLowLead && b <= kLastLowLead) return b - kFirstLowLead;
    if (b >= kFirstHighLead && b <= kLastHighLead) {
        return (kLastLowLead - kFirstLowLead + 1) + (b - kFirstHighLead);
    }
    return -1;
}

}  // namespace

std::uint32_t decodeShiftJis(const std::uint8_t* bytes, std::size_t length, std::size_t& used) {
    used = 1;
    const std::uint8_t b = bytes[0];
    // ASCII, control bytes too, as code page 932 has it.
    if (b < 0x80) return b;
    if (b >= kFirstKana && b <= kLastKana) return kKanaBase + (b - kFirstKana);
    const int row = leadRow(b);
    if (row < 0 || length < 2 || bytes[1] < kFirstTrail || bytes[1] > kLastTrail) {
        return kNotShiftJis;
    }
    const std::uint32_t code =
        kShiftJisTable[static_cast<std::size_t>(row) * kTrails + (bytes[1] - kFirstTrail)];
    if (code == 0) return kNotShiftJis;
    used = 2;
    return code;
}

std::uint32_t decodeUtf8(const unsigned char* s, std::size_t& used) {
    used = 1;
    const unsigned char b = s[0];
    if (b < 0x80) return b;
    const std::size_t length = b >= 0xC2 && b <= 0xDF   ? 2
                               : b >= 0xE0 && b <= 0xEF ? 3
                               : b >= 0xF0 && b <= 0xF4 ? 4
                                                        : 0;
    if (length == 0) return kNotUtf8;
    std::uint32_t code = b & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((s[i] & 0xC0) != 0x80) return kNotUtf8;
        code = (code << 6) | (s[i] & 0x3F);
    }
    // Overlong forms, surrogates and code points past Unicode's end.
    if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) ||
        (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
        return kNotUtf8;
    }
    used = length;
    return code;
}

std::size_t encodeUtf8(std::uint32_t codePoint, char (&out)[4]) {
    if (codePoint < 0x80) {
        out[0] = static_cast<char>(codePoint);
        return 1;
    }
    if (codePoint < 0x800) {
        out[0] = static_cast<char>(0xC0 | (codePoint >> 6));
        out[1] = static_cast<char>(0x80 | (codePoint & 0x3F));
        return 2;
    }
    out[0] = static_cast<char>(0xE0 | (codePoint >> 12));
    out[1] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (codePoint & 0x3F));
    return 3;
}

}  // namespace d88cut
