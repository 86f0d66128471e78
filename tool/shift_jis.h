// Shift_JIS, as disk names of the era are written: decoded one character at
// a time, so that a name shows readably where it decodes cleanly and byte by
// byte where it does not.
#ifndef D88CUT_TOOL_SHIFT_JIS_H
#define D88CUT_TOOL_SHIFT_JIS_H

#include <cstddef>
#include <cstdint>

namespace d88cut {

// What decodeShiftJis gives for a byte that begins no character.
constexpr std::uint32_t kNotShiftJis = 0xFFFFFFFF;

// The character at the start of `bytes` (`length` of them, at least 1):
// its code point, with `used` set to its bytes (1 or 2); kNotShiftJis, with
// `used` 1, for a byte that begins no character (a lead byte without its
// trail, an unassigned pair, a byte no character begins with).
std::uint32_t decodeShiftJis(const std::uint8_t* bytes, std::size_t length, std::size_t& used);

// The UTF-8 bytes of a code point below 0x10000 in `out`; returns how many.
std::size_t encodeUtf8(std::uint32_t codePoint, char (&out)[4]);

}  // namespace d88cut

#endif
