// d88cut --json: the listing as one JSON document on standard output, for
// programs. Its fields are the manual page's contract, kept from release to
// release.
#ifndef D88CUT_SHOW_JSON_LISTING_H
#define D88CUT_SHOW_JSON_LISTING_H

#include "show/listing.h"
#include "text/messages.h"

namespace d88cut {

// A JSON string of text in the tool's own encoding (a path as given: UTF-8,
// or bytes that are not), as a piece of a line.
struct JsonText {
    const char* text;
};
void put(LineWriter& line, JsonText json);

void beginJson(const char* image);
void listDiskJson(const DiskAccount& disk);
void endJson(const ImageShape& shape, int status);

}  // namespace d88cut

#endif
