// Joining an output directory and a file name: the same on every platform
// but for what counts as a separator.
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace d88cut {
namespace platform {

bool joinPath(const char* directory, const char* name, char* out, std::size_t size) {
    const std::size_t dirLength = directory == nullptr ? 0 : std::strlen(directory);
    // A directory that already ends in a separator takes no second one.
    const bool slash = dirLength > 0 && !isSeparator(directory[dirLength - 1]);
    const int length = std::snprintf(out, size, "%.*s%s%s", static_cast<int>(dirLength),
                                     directory == nullptr ? "" : directory, slash ? "/" : "", name);
    return length >= 0 && static_cast<std::size_t>(length) < size;
}

}  // namespace platform
}  // namespace d88cut
