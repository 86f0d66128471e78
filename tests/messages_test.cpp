// How names and quoted bytes are shown in d88cut's lines, in the test's own
// process: nothing in them can split a line or drive a terminal.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "text/messages.h"

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
        const char* readable;  // the same on a terminal that shows UTF-8; null: not asked
    };
    const Case cases[] = {
        {"a\\b\"c\x7f\t", "a\\b\"c\\x7f\\t", "\"a\\\\b\\\"c\\x7f\\x09\"", "\"a\\\\b\\\"c\\x7f\\x09\""},
        // U+0085, a C1 control; a lone continuation byte; an overlong slash.
        {"c1\xc2\x85 \x80\xc0\xaf", "c1\\xc2\\x85 \\x80\\xc0\\xaf", "\"c1\\xc2\\x85 \\x80\\xc0\\xaf\"", nullptr},
        // Overlong slashes of three and four bytes.
        {"\xe0\x80\xaf\xf0\x80\x80\xaf", "\\xe0\\x80\\xaf\\xf0\\x80\\x80\\xaf",
         "\"\\xe0\\x80\\xaf\\xf0\\x80\\x80\\xaf\"", nullptr},
        // Shift_JIS: a game's name, half-width kana, a lead byte at the end
        // (in a path, DE 81 is UTF-8).
        {"\x83Q\x81[\x83\x80 \xb6\xde\x81", "\\x83Q\\x81[\\x83\\x80 \\xb6\xde\x81",
         "\"\\x83Q\\x81[\\x83\\x80 \\xb6\\xde\\x81\"",
         "\"\xe3\x82\xb2\xe3\x83\xbc\xe3\x83\xa0 \xef\xbd\xb6\xef\xbe\x9e\\x81\""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(shown(d88cut::Name{c.bytes.c_str()}), c.asName) << c.bytes;
        const d88cut::Quoted quoted = {reinterpret_cast<const std::uint8_t*>(c.bytes.data()), c.bytes.size()};
        EXPECT_EQ(shown(quoted), c.asQuoted) << c.bytes;
        if (c.readable == nullptr) continue;
        const d88cut::DiskText text = {quoted.bytes, quoted.length, true};
        EXPECT_EQ(shown(text), c.readable) << c.bytes;
    }
}

}  // namespace
