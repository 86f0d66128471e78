// d88cut --put with --list or --json: what a put would do with each file,
// writing nothing.
#ifndef D88CUT_SHOW_PUT_LISTING_H
#define D88CUT_SHOW_PUT_LISTING_H

#include <cstddef>
#include <cstdint>

#include "known/account.h"

namespace d88cut {

enum class PutAction {
    kLeft,       // no file of its name in the directory: the image's stays
    kUnchanged,  // given, and the same bytes as the image holds
    kPut,        // given, and put
    kRefused,    // given, and cannot be put; the whole put is refused
};

// Room for the words of a refusal: two names and a sector.
constexpr std::size_t kRefusalSize = 256;

// What a put does with each file of the disk it puts into.
struct PutReport {
    std::int32_t disk = 0;  // the disk image put into, from 1; 0 for none
    PutAction action[kFileCount] = {};
    char refusal[kFileCount][kRefusalSize] = {};
};

// Lists the put of the files of `disk` (null when there is none to put
// into) into `copy`, a copy of `image`, with the put's exit status.
void listPut(const char* image, const char* copy, const DiskAccount* disk, const PutReport& report,
             bool json, int status);

}  // namespace d88cut

#endif
