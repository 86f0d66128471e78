// What a run tells, end to end: the exit status of a cut and of a listing of
// the same image, the lines about the file's shape, and the JSON listing read
// back with a JSON parser and held against the text listing and the cut.
#include <unistd.h>

#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "image_builder.h"
#include "known_disk_blocks.h"
#include "tool_runner.h"

namespace {

using d88test::Bytes;
using d88test::Disk;
using d88test::Scratch;
using d88test::sectorOf;
using Json = nlohmann::json;

Bytes image(const std::vector<Disk>& disks, std::size_t length = 0, std::size_t more = 0) {
    Bytes bytes = d88test::buildImage(disks);
    if (length != 0) bytes.resize(length);
    bytes.resize(bytes.size() + more, 0);
    return bytes;
}

Disk knownWith(void (*change)(Disk&)) {
    Disk disk = d88test::knownDisk();
    change(disk);
    return disk;
}

// A disk image whose boot sector has size code `n` and is `fill` throughout.
Disk bootOnly(int n, std::uint8_t fill, const std::string& name = "OTHER") {
    Disk disk;
    disk.name = name;
    disk.tracks[0].push_back(d88test::sectorWithId(0, 0, 1, n, Bytes(128u << n, fill)));
    return disk;
}

Bytes text(std::size_t size) { return Bytes(size, 'x'); }

TEST(Statuses, ACutAndAListingOfOneImageSayTheSame) {
    const Disk whole = d88test::knownDisk();
    const Disk damaged = knownWith([](Disk& d) { sectorOf(d, 78, 5).r = 99; });
    // 64 recognised disk images whose every walk runs 65,535 records.
    Bytes exhausting = d88test::sharedWalkPrefix();
    for (int i = 0; i < 65535; ++i) {
        const Bytes record = d88test::runRecordHeader(0);
        exhausting.insert(exhausting.end(), record.begin(), record.end());
    }
    struct Case {
        const char* what;
        Bytes image;
        std::vector<std::string> options;
        int status;
    };
    const Case cases[] = {
        {"a whole known disk", image({whole}), {}, 0},
        {"a flagged sector only", image({knownWith([](Disk& d) { sectorOf(d, 3, 2).status = 0xB0; })}), {}, 2},
        {"no known disk", image({bootOnly(1, ' '), bootOnly(1, ' ')}), {}, 2},
        {"not a D88 image", text(800), {}, 2},
        {"the known disk twice, the later damaged", image({whole, damaged}), {}, 2},
        {"the known disk twice, the later whole", image({damaged, whole}), {}, 0},
        {"--disk on another disk", image({bootOnly(1, ' '), whole}), {"--disk=1"}, 2},
        {"an image built to exhaust the work budget", exhausting, {}, 1},
        {"a whole known disk, then bytes that make no disk image", image({whole}, 0, 100), {}, 2},
        {"a known disk cut short", image({whole}, 183952), {}, 2},
        {"a whole known disk whose size runs past the end of the file",
         image({knownWith(
             [](Disk& d) { d.diskSize = static_cast<std::int32_t>(d88test::buildImage({d}).size()) + 256; })}),
         {},
         2},
        {"a boot sector of no data bytes", image({knownWith([](Disk& d) { sectorOf(d, 0, 1).data.clear(); })}), {}, 2},
        // After a known disk, whose boot sector's 17th byte is the
        // signature's last; the 16 bytes are its others.
        {"a boot sector of 16 bytes",
         image({whole, knownWith([](Disk& d) { sectorOf(d, 0, 1).data.resize(16); })}),
         {"--disk=2"},
         2},
        {"a disk name of control bytes", image({knownWith([](Disk& d) { d.name = "\x01\x1f\x7f\"\\"; })}), {}, 0},
    };
    for (const Case& c : cases) {
        Scratch scratch;
        const std::string path = scratch.image(c.image);
        for (const std::string mode : {"", "--list", "--json"}) {
            std::vector<std::string> argv = {"d88cut", path};
            if (!mode.empty()) argv.push_back(mode);
            argv.insert(argv.end(), c.options.begin(), c.options.end());
            const d88test::RunResult run = scratch.run(argv);
            EXPECT_EQ(run.status, c.status) << c.what << " " << mode << "\n" << run.err;
            // A cut that leaves less says so; a document ends well, whatever
            // stopped the run.
            EXPECT_TRUE(!mode.empty() || c.status == 0 || !run.err.empty()) << c.what;
            EXPECT_TRUE(mode != "--json" || Json::parse(run.out).at("status") == c.status) << c.what;
        }
    }
}

TEST(Shape, WhatTheFileHoldsBeyondItsDiskImagesIsSaidOnce) {
    const Bytes one = image({d88test::knownDisk()});
    const std::string size = std::to_string(one.size());
    // Two files joined, the first's size field one byte too large: the second
    // header is read one byte late.
    Bytes joined = one;
    joined[28] = static_cast<std::uint8_t>(joined[28] + 1);
    joined.insert(joined.end(), one.begin(), one.end());
    Disk headerOnly;
    headerOnly.mediaType = 0x20;
    const std::string none = "IMAGE: looked at 1 disk image; none is the known disk\n";
    struct Case {
        const char* what;
        Bytes image;
        std::string err;      // a cut's first line; IMAGE stands for the path
        std::string listing;  // words the text listing holds
    };
    const Case cases[] = {
        {"a truncated download", image({d88test::knownDisk()}, 183952),
         "IMAGE: disk image 1 runs past the end of the file: it gives its size as " + size +
             " bytes from offset 0, the file ends at 183952\n",
         "known"},
        // Its tracks end where the second header begins: read from there.
        {"two files joined", joined,
         "IMAGE: disk image 1 gives its size as " + std::to_string(one.size() + 1) +
             " bytes from offset 0; its tracks end at " + size + "\n",
         "disk  2"},
        {"100 bytes after", image({d88test::knownDisk()}, 0, 100),
         "IMAGE: the 100 bytes from offset " + size + " on make no disk image\n", "known"},
        {"a text file", text(800), "IMAGE: does not look like a D88 disk image\n", ""},
        // Real files vary in ways that are not flagged.
        {"one byte after, as some writers add", image({d88test::knownDisk()}, 0, 1), "", "known"},
        {"a header-only image", image({headerOnly}), none, "2HD         688  other"},
        {"a 1024-byte boot sector", image({bootOnly(3, 'B')}), none, "boot-sector-1024-bytes \"BBBBBBBBBBBBBBBB\""},
    };
    for (const Case& c : cases) {
        Scratch scratch;
        const std::string path = scratch.image(c.image);
        std::string err = c.err;
        if (err.find("IMAGE") != std::string::npos) err.replace(0, 5, "d88cut: " + path);
        const std::string cut = scratch.run({"d88cut", path}).err;
        EXPECT_EQ(cut.substr(0, cut.find('\n') + 1), err) << c.what;
        const std::string listing = scratch.run({"d88cut", "-l", path}).out;
        EXPECT_NE(listing.find(c.listing), std::string::npos) << c.what << "\n" << listing;
        EXPECT_EQ(listing.empty(), c.listing.empty()) << c.what;
    }
}

TEST(Shape, TheJsonListingSaysTheFilesShapeTrue) {
    Bytes raw;
    for (const auto& [track, sectors] : d88test::knownDisk().tracks) {
        for (const d88test::Sector& s : sectors) raw.insert(raw.end(), s.data.begin(), s.data.end());
    }
    Disk zeroSize = bootOnly(1, ' ');
    zeroSize.diskSize = 0;
    Disk tooSmall = bootOnly(1, ' ');
    tooSmall.diskSize = 100;
    const Bytes sixtyFour = image(std::vector<Disk>(64, bootOnly(1, ' ')));
    Bytes thenText = sixtyFour;
    thenText.resize(sixtyFour.size() + 1040, 'x');
    const Json trailing = {{"offset", sixtyFour.size()}, {"bytes", 1040}};
    struct Case {
        const char* what;
        Bytes image;
        bool looksLikeD88;
        Json trailing;
        bool closeStderr;
    };
    const Case cases[] = {
        {"an empty file", {}, false, nullptr, false},
        {"33 bytes of text", text(33), false, nullptr, false},
        {"zeros", Bytes(5000, 0), false, nullptr, false},
        {"a raw sector dump", raw, false, nullptr, false},
        {"one header of size 0", image({zeroSize}), true, nullptr, false},
        {"a header of a size below a header's", image({tooSmall}), false, nullptr, false},
        {"64 disk images, then text", thenText, true, trailing, false},
        {"the same, standard error closed", thenText, true, trailing, true},
    };
    for (const Case& c : cases) {
        // Wine's own standard error is not the tool's.
        if (c.closeStderr && d88test::windowsExe() != nullptr) continue;
        Scratch scratch;
        const d88test::RunResult run = scratch.run({"d88cut", "--json", scratch.image(c.image)}, [&c] {
            if (c.closeStderr) ::close(2);
        });
        const Json doc = Json::parse(run.out);
        EXPECT_EQ(doc.at("looksLikeD88"), c.looksLikeD88) << c.what;
        EXPECT_EQ(doc.at("moreDisks"), false) << c.what;
        EXPECT_EQ(doc.at("trailing"), c.trailing) << c.what;
        // A line that could not be said is an error, in the document too.
        EXPECT_EQ(doc.at("status"), run.status) << c.what;
        EXPECT_EQ(run.status, c.closeStderr ? 1 : 2) << c.what;
    }
}

TEST(JsonListing, ReadsBackAsTheTextListingAndTheCutSayIt) {
    // Names with quotes, backslashes, control bytes, Shift_JIS and bytes
    // that decode to nothing; a damaged known disk; an odd image name.
    Disk known = knownWith([](Disk& d) {
        sectorOf(d, 78, 5).r = 99;
        sectorOf(d, 40, 1).r = 99;
        sectorOf(d, 47, 3).status = 0xB0;
        for (int t = 22; t <= 30; ++t) sectorOf(d, t, 17).r = 99;
    });
    known.name = std::string("\x83Q\x81[\x83\x80\"\\\x01\xff", 11);
    // Its boot text ends in a Shift_JIS lead byte, whose trail byte is the
    // 17th: no part of the text.
    Disk first = bootOnly(1, ' ', "a\"b\\c\td");
    first.tracks[0][0].data[16] = 0x82;
    first.tracks[0][0].data[17] = 0xA0;
    D88CUT_NOT_UNDER_WINE("Windows takes no quote, backslash or byte that is not UTF-8 in a name");
    Scratch scratch;
    const std::string path = scratch.root() + "/\"odd\" \\name\x7f\xfe.d88";
    ASSERT_TRUE(d88test::writeFile(path, image({first, known})));
    const d88test::RunResult json = scratch.run({"d88cut", "--json", path});
    const std::string text = scratch.run({"d88cut", "--list", path}).out;
    scratch.run({"d88cut", path});
    const auto files = scratch.files();
    EXPECT_EQ(json.status, 2);
    const Json doc = Json::parse(json.out);
    EXPECT_EQ(doc.at("image"), scratch.root() + "/\"odd\" \\name\x7f\xEF\xBF\xBD.d88");
    ASSERT_EQ(doc.at("disks").size(), 2u);
    EXPECT_EQ(doc.at("disks")[0].at("name"), "a\"b\\c\td");
    EXPECT_EQ(doc.at("disks")[0].at("boot").at("text"), std::string(15, ' ') + "\xEF\xBF\xBD");
    const Json& second = doc.at("disks")[1];
    EXPECT_EQ(second.at("name"), "\xE3\x82\xB2\xE3\x83\xBC\xE3\x83\xA0\"\\\x01\xEF\xBF\xBD");
    EXPECT_EQ(second.at("nameHex"), "8351815b8380225c01ff");
    EXPECT_EQ(second.at("offset"), image({first}).size());
    // Every file against its line of the text listing (whose CRCs are those
    // of the cut's files) and the cut's file.
    const Json& listed = second.at("files");
    ASSERT_EQ(listed.size(), 16u);
    for (const Json& file : listed) {
        const std::string name = file.at("name");
        const std::string state = file.at("state");
        const std::string crc = file.at("crc32").is_null() ? "-" : file.at("crc32");
        std::istringstream row(text.substr(text.find("  " + name + " ")));
        std::string words[4];
        for (std::string& word : words) row >> word;
        EXPECT_EQ(words[2] + " " + words[3], state + " " + crc) << name;
        EXPECT_EQ(files.count(name), state == "missing" ? 0u : 1u) << name;
        EXPECT_TRUE(files.count(name) == 0 || file.at("size") == files.at(name).size()) << name;
    }
    EXPECT_EQ(listed[5].at("flagged").at("trouble"), "a data CRC error");
    EXPECT_EQ(listed[7].at("stop"), Json::parse(R"({"track":78,"sector":5,"short":false})"));
    EXPECT_EQ(listed[9].at("crc32"), nullptr);
    EXPECT_EQ(listed[15].at("slots"), Json::parse(R"({"missing":9,"short":0})"));
}

}  // namespace
