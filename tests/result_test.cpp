// What a run tells, end to end: the exit status of a cut and of a listing of
// the same image, the lines about the file's shape, and the JSON listing read
// back with a JSON parser and held against the text listing and the cut.
#include <algorithm>
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

d88test::Sector& sectorOf(Disk& disk, int track, int r) {
    for (d88test::Sector& s : disk.tracks[track]) {
        if (s.r == r) return s;
    }
    throw std::out_of_range("no such sector in the test's disk");
}

Disk knownWith(void (*change)(Disk&)) {
    Disk disk = d88test::knownDisk();
    change(disk);
    return disk;
}

Disk other(const std::string& name = "OTHER") {
    Disk disk;
    disk.name = name;
    disk.tracks[0].push_back(d88test::sectorWithId(0, 0, 1, 1, Bytes(256, 0x20)));
    return disk;
}

Bytes cutShort(Bytes bytes, std::size_t length) {
    bytes.resize(length);
    return bytes;
}

// 64 recognised disk images whose every walk runs 65,535 records.
Bytes exhausting() {
    Bytes image = d88test::sharedWalkPrefix();
    const Bytes record = d88test::runRecordHeader(0);
    for (int i = 0; i < 65535; ++i) image.insert(image.end(), record.begin(), record.end());
    return image;
}

TEST(Statuses, ACutAndAListingOfOneImageSayTheSame) {
    const Disk whole = d88test::knownDisk();
    const Disk damaged = knownWith([](Disk& d) { sectorOf(d, 78, 5).r = 99; });
    const std::string text = "This is not a disk image. It is a text file. " + std::string(700, '.');
    struct Case {
        const char* what;
        Bytes image;
        std::vector<std::string> options;
        int status;
    };
    const Case cases[] = {
        {"a whole known disk", d88test::buildImage({whole}), {}, 0},
        {"a partial file", d88test::buildImage({damaged}), {}, 2},
        {"a flagged sector", d88test::buildImage({knownWith([](Disk& d) {
             sectorOf(d, 3, 2).status = 0xB0;
         })}), {}, 2},
        {"a missing block", d88test::buildImage({knownWith([](Disk& d) {
             sectorOf(d, 40, 1).r = 99;
         })}), {}, 2},
        {"no known disk", d88test::buildImage({other(), other()}), {}, 2},
        {"not a D88 image", Bytes(text.begin(), text.end()), {}, 2},
        {"a truncated download", cutShort(d88test::buildImage({whole}), 200000), {}, 2},
        {"the known disk twice, the later damaged", d88test::buildImage({whole, damaged}), {}, 2},
        {"the known disk twice, the later whole", d88test::buildImage({damaged, whole}), {}, 0},
        {"--disk on another disk", d88test::buildImage({other(), whole}), {"--disk=1"}, 2},
        {"--disk on the known disk", d88test::buildImage({other(), whole}), {"--disk=2"}, 0},
        {"--disk past the disk images", d88test::buildImage({whole}), {"--disk=2"}, 1},
        {"an image built to exhaust the work budget", exhausting(), {}, 1},
    };
    for (const Case& c : cases) {
        Scratch scratch;
        const std::string path = scratch.image(c.image);
        for (const char* mode : {"", "--list", "--json"}) {
            std::vector<std::string> argv = {"d88cut", path};
            if (mode[0] != '\0') argv.push_back(mode);
            argv.insert(argv.end(), c.options.begin(), c.options.end());
            const d88test::RunResult run = scratch.run(argv);
            EXPECT_EQ(run.status, c.status) << c.what << " " << mode << "\n" << run.err;
            // A cut that leaves less says so.
            if (mode[0] == '\0' && c.status != 0) {
                EXPECT_FALSE(run.err.empty()) << c.what;
            }
            // A document that ends well, whatever stopped the run.
            if (std::string(mode) == "--json") {
                EXPECT_EQ(nlohmann::json::parse(run.out).at("status"), c.status) << c.what;
            }
        }
    }
}

TEST(Shape, WhatTheFileHoldsBeyondItsDiskImagesIsSaidOnce) {
    const Bytes sample = d88test::buildImage({d88test::knownDisk()});
    const std::size_t size = sample.size();
    Bytes joined = sample;
    // The first disk's size field one byte too large: the second header is
    // read one byte late.
    joined[28] = static_cast<std::uint8_t>(joined[28] + 1);
    joined.insert(joined.end(), sample.begin(), sample.end());
    Bytes trailing = sample;
    trailing.insert(trailing.end(), 100, 0);
    Bytes oneMore = sample;
    oneMore.push_back(0x1A);
    Disk headerOnly;
    headerOnly.mediaType = 0x20;
    Disk bigBoot;
    bigBoot.tracks[0].push_back(d88test::sectorWithId(0, 0, 1, 3, Bytes(1024, 'B')));
    Disk fmBoot;
    fmBoot.tracks[0].push_back(d88test::sectorWithId(0, 0, 1, 0, Bytes(128, 'F')));
    const std::string text(800, 'x');
    struct Case {
        const char* what;
        Bytes image;
        std::string err;       // IMAGE stands for the path; a cut's first line
        std::string listing;   // words the text listing holds
    };
    const Case cases[] = {
        {"a truncated download", cutShort(sample, 183952),
         "IMAGE: disk image 1 runs past the end of the file: it gives its size as " +
             std::to_string(size) + " bytes from offset 0, the file ends at 183952\n",
         "known"},
        {"two files joined, the first's size one byte off", joined,
         "IMAGE: the " + std::to_string(size - 1) + " bytes from offset " +
             std::to_string(size + 1) + " on make no disk image\n",
         "known"},
        {"100 bytes after the disk image", trailing,
         "IMAGE: the 100 bytes from offset " + std::to_string(size) + " on make no disk image\n",
         "known"},
        {"a text file", Bytes(text.begin(), text.end()),
         "IMAGE: does not look like a D88 disk image\n", ""},
        {"one byte after the disk image, as some writers add", oneMore, "", "known"},
        {"a header-only image", d88test::buildImage({headerOnly}),
         "IMAGE: looked at 1 disk image; none is the known disk\n", "2HD         688  other"},
        {"a 1024-byte boot sector", d88test::buildImage({bigBoot}),
         "IMAGE: looked at 1 disk image; none is the known disk\n",
         "boot-sector-1024-bytes \"BBBBBBBBBBBBBBBB\""},
        {"a 128-byte FM boot sector", d88test::buildImage({fmBoot}),
         "IMAGE: looked at 1 disk image; none is the known disk\n",
         "boot-sector-128-bytes \"FFFFFFFFFFFFFFFF\""},
    };
    for (const Case& c : cases) {
        Scratch scratch;
        const std::string path = scratch.image(c.image);
        std::string err = c.err;
        for (std::size_t at; (at = err.find("IMAGE")) != std::string::npos;) {
            err.replace(at, 5, "d88cut: " + path);
        }
        const std::string cut = scratch.run({"d88cut", path}).err;
        EXPECT_EQ(cut.substr(0, cut.find('\n') + 1), err) << c.what;
        const d88test::RunResult listing = scratch.run({"d88cut", "-l", path});
        EXPECT_NE(listing.out.find(c.listing), std::string::npos) << c.what << "\n" << listing.out;
        EXPECT_EQ(listing.out.empty(), c.listing.empty()) << c.what;
    }
}

// The CRC-32 of a file, as the listings show it.
std::string crcOf(const Bytes& bytes) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (const std::uint8_t b : bytes) {
        c ^= b;
        for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", ~c);
    return hex;
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
    const Bytes image = d88test::buildImage({other("a\"b\\c\td"), known});
    Scratch scratch;
    // Windows takes no quote, backslash or byte that is not UTF-8 in a name.
    const bool wine = d88test::windowsExe() != nullptr;
    const std::string path =
        scratch.root() + (wine ? "/odd name \xe3\x82\xb2.d88" : "/\"odd\" \\name\x7f\xfe.d88");
    ASSERT_TRUE(d88test::writeFile(path, image));
    const d88test::RunResult json = scratch.run({"d88cut", "--json", path});
    const d88test::RunResult text = scratch.run({"d88cut", "--list", path});
    EXPECT_EQ(json.status, 2);
    const nlohmann::json doc = nlohmann::json::parse(json.out);
    EXPECT_EQ(doc.at("image"), wine ? path : scratch.root() + "/\"odd\" \\name\x7f\xEF\xBF\xBD.d88");
    EXPECT_EQ(doc.at("size"), image.size());
    ASSERT_EQ(doc.at("disks").size(), 2u);
    const nlohmann::json& first = doc.at("disks")[0];
    EXPECT_EQ(first.at("name"), "a\"b\\c\td");
    EXPECT_EQ(first.at("known"), false);
    EXPECT_EQ(first.at("files"), nullptr);
    EXPECT_EQ(first.at("boot").at("text"), std::string(16, ' '));
    const nlohmann::json& second = doc.at("disks")[1];
    EXPECT_EQ(second.at("name"), "\xE3\x82\xB2\xE3\x83\xBC\xE3\x83\xA0\"\\\x01\xEF\xBF\xBD");
    EXPECT_EQ(second.at("nameHex"), "8351815b8380225c01ff");
    EXPECT_EQ(second.at("offset"), d88test::buildImage({other("a\"b\\c\td")}).size());
    EXPECT_EQ(second.at("known"), true);

    // Every file against its line of the text listing and the cut's file.
    scratch.run({"d88cut", path});
    const auto files = scratch.files();
    const nlohmann::json& listed = second.at("files");
    ASSERT_EQ(listed.size(), 16u);
    for (const nlohmann::json& file : listed) {
        const std::string name = file.at("name");
        const std::string state = file.at("state");
        const std::size_t line = text.out.find("  " + name + " ");
        ASSERT_NE(line, std::string::npos) << name;
        const std::string row = text.out.substr(line, text.out.find('\n', line) - line);
        EXPECT_NE(row.find(" " + state + " "), std::string::npos) << row;
        if (state == "missing") {
            EXPECT_EQ(file.at("crc32"), nullptr) << name;
            EXPECT_EQ(files.count(name), 0u) << name;
            continue;
        }
        ASSERT_EQ(files.count(name), 1u) << name;
        EXPECT_EQ(file.at("crc32"), crcOf(files.at(name))) << name;
        EXPECT_EQ(file.at("size"), files.at(name).size()) << name;
    }
    EXPECT_EQ(listed[5].at("flagged").at("track"), 47);
    EXPECT_EQ(listed[5].at("flagged").at("trouble"), "a data CRC error");
    EXPECT_EQ(listed[7].at("stop"), nlohmann::json::parse(R"({"track":78,"sector":5,"short":false})"));
    EXPECT_EQ(listed[9].at("state"), "missing");
    EXPECT_EQ(listed[15].at("slots"), nlohmann::json::parse(R"({"missing":9,"short":0})"));
}

}  // namespace
