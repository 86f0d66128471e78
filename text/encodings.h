// The two encodings of d88cut's text, decoded one character at a time, so
// that text shows readably where it decodes cleanly and byte by byte where it
// does not: Shift_JIS, in which disk names of the era are written, and UTF-8,
// in which the tool takes and writes names.
#ifndef D88CUT_TEXT_ENCODINGS_H
#define D88CUT_TEXT_ENCODINGS_H

#include <cstddef>
#include <cstdint>

namespace d88cut {

// What the decoders give for a byte that begins no character.
constexpr std::uint32_t kNotShiftJis = 0xFFFFFFFF;
constexpr std::uint32_t kNotUtf8 = 0xFFFFFFFF;

// The character at the start of `bytes` (`length` of them, at least 1):
// its code point, with `used` set to its bytes (1 or 2); kNotShiftJis, with
// `used` 1, for a byte that begins no character (a lead byte without its
// trail, an unassigned pair, a byte no character begins with).
std::uint32_t decodeShiftJis(const std::uint8_t* bytes, std::size_t length, std::size_t& used);

// The well-formed UTF-8 character at `s` (NUL-terminated): its code point,
// with `used` set to its bytes (1 to 4); kNotUtf8, with `used` 1, for a byte
// that begins none (overlong forms and surrogates begin none).
std::uint32_t decodeUtf8(const unsigned char* s, std::size_t& used);

// The UTF-8 bytes of a code point below 0x10000 in `out`; returns how many.
std::size_t encodeUtf8(std::uint32_t codePoint, char (&out)[4]);

}  // namespace d88cut

#endif
