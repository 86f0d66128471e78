#!/usr/bin/env python3
"""Writes text/shift_jis_table.bin: the Unicode code point of every
double-byte Shift_JIS character (Windows code page 932, which disk names of
the era use), as big-endian 16-bit values, 0 where a pair does not decode or
decodes to a private-use code point. Lead bytes 0x81-0x9F and 0xE0-0xFC, in
that order; for each, trail bytes 0x40-0xFC."""
import struct
import sys

LEADS = list(range(0x81, 0xA0)) + list(range(0xE0, 0xFD))
TRAILS = range(0x40, 0xFD)


def code_point(lead, trail):
    try:
        text = bytes([lead, trail]).decode("cp932")
    except UnicodeDecodeError:
        return 0
    if len(text) != 1 or 0xE000 <= ord(text) <= 0xF8FF:
        return 0
    return ord(text)


def main():
    table = b"".join(struct.pack(">H", code_point(lead, trail))
                     for lead in LEADS for trail in TRAILS)
    with open(sys.argv[1] if len(sys.argv) > 1 else "text/shift_jis_table.bin", "wb") as out:
        out.write(table)


if __name__ == "__main__":
    main()
