// How names and quoted bytes are shown in d88cut's lines, in the test's own
// process: nothing in them can split a line or drive a terminal.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "tool/messages.h"

namespace {

// What one piece puts into a line.
template <typename Piece>
std::string shown(const Piece& piece) {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* stream = ::open_memstream(&text, &size);
    d88cut::LineWriter line;
    line.stream = stream;
    d88cut::put(line, piece);
    d88cut::flushLine(line);
    std::fclose(stream);
    std::string result(text, size);
    std::free(text);
    return result;
}

TEST(Escaping, NamesAndQuotedBytesShowEveryByteUnambiguously) {
    struct Case {
        std::string bytes;
        const char* asName;    // a path in a message: UTF-8 kept
        const char* asQuoted;  // a disk's name in the listing: ASCII only
    };
    const Case cases[] = {
        {"plain.d88", "plain.d88", "\"plain.d88\""},
        {"a\\b\"c", "a\\b\"c", "\"a\\\\b\\\"c\""},
        {"del\x7f", "del\\x7f", "\"del\\x7f\""},
        {"nl\ntab\tcr\r", "nl\\ntab\\tcr\\r", "\"nl\\x0atab\\x09cr\\x0d\""},
        {"esc\x1b[2J", "esc\\x1b[2J", "\"esc\\x1b[2J\""},
        // U+0085, a C1 control, and a lone continuation byte.
        {"c1\xc2\x85 \x80", "c1\\xc2\\x85 \\x80", "\"c1\\xc2\\x85 \\x80\""},
        // U+51FA U+529B, and an overlong slash.
        {"\xe5\x87\xba\xe5\x8a\x9b\xc0\xaf", "\xe5\x87\xba\xe5\x8a\x9b\\xc0\\xaf",
         "\"\\xe5\\x87\\xba\\xe5\\x8a\\x9b\\xc0\\xaf\""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(shown(d88cut::Name{c.bytes.c_str()}), c.asName) << c.bytes;
        const d88cut::Quoted quoted = {reinterpret_cast<const std::uint8_t*>(c.bytes.data()),
                                       c.bytes.size()};
        EXPECT_EQ(shown(quoted), c.asQuoted) << c.bytes;
    }
}

}  // namespace
