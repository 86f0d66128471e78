// What both listings show of a disk image and its files, in the same words:
// a file's CRC-32, the media-type byte, and the boot sector's text.
#ifndef D88CUT_SHOW_FACTS_H
#define D88CUT_SHOW_FACTS_H

#include <cstddef>
#include <cstdint>

#include "known/account.h"

namespace d88cut {

// The CRC-32 of zlib, PNG and gzip (reflected polynomial 0xEDB88320) of the
// bytes a cut writes of file `file`, as 8 hex digits, or "-" for a file a
// cut does not write.
void crcText(const DiskAccount& disk, std::int32_t file, char (&out)[9]);
// The media-type byte in words (2D, 2DD, 2HD, 1D, 1DD, or 0xNN).
const char* mediaOf(std::int32_t type, char (&other)[8]);
// What the file is, as the JSON listing's "format" names it: "d88", "2d",
// "imd", "gzip" or "zip".
const char* formatWord(d88::Format format);
// The boot sector's bytes 1 to 16, where the signature would be, as many of
// them as it has.
const std::uint8_t* bootText(const BootSector& boot);
std::size_t bootTextLength(const BootSector& boot);

}  // namespace d88cut

#endif
