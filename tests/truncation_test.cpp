// The sample disk cut short at every record boundary and inside headers and
// data: every cut ends cleanly, and the files hold only the bytes that
// arrived, zero past them.
#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include <gtest/gtest.h>

#include "image_builder.h"
#include "known_disk_blocks.h"
#include "tool_runner.h"

namespace {

using d88test::Bytes;

struct Sample {
    Bytes bytes;
    std::map<std::pair<int, int>, d88test::Placed> at;  // by (track, sector)
};

const Sample& sample() {
    static const Sample built = [] {
        Sample s;
        std::vector<d88test::Placed> places;
        s.bytes = d88test::buildImage({d88test::knownDisk()}, &places);
        for (const d88test::Placed& p : places) s.at[{p.track, p.r}] = p;
        return s;
    }();
    return built;
}

// Cuts inside the disk header, and at, inside the header of and inside the
// data of every record.
std::vector<std::size_t> cutPoints() {
    std::set<std::size_t> cuts = {0, 27, 28, 687, sample().bytes.size() - 1};
    for (const auto& [id, p] : sample().at) {
        cuts.insert({p.headerAt, p.headerAt + 8, p.dataAt + 100});
    }
    return {cuts.begin(), cuts.end()};
}

struct Outcome {
    int status = 0;
    std::string out;
    std::string err;
    std::map<std::string, Bytes> files;
};

// What d88cut must print and leave for the sample cut to `length` bytes and
// written to `path`.
Outcome expectedFor(std::size_t length, const std::string& path) {
    const Sample& s = sample();
    // The data bytes of a sector that are in the file, none when its header
    // is cut (records stand in file order, so every earlier header is whole).
    auto arrived = [&](int track, int r) -> Bytes {
        const d88test::Placed& p = s.at.at({track, r});
        if (p.dataAt > length) return {};
        const std::size_t end = std::min(p.dataAt + p.dataSize, length);
        return Bytes(s.bytes.begin() + p.dataAt, s.bytes.begin() + end);
    };
    Outcome expected;
    // Every cut leaves less: no disk image, or one that runs past the end.
    expected.status = 2;
    if (length < 688) {
        expected.err = "d88cut: " + path +
                       ": holds no D88 disk image: it is shorter than one 688-byte "
                       "disk header\n";
        return expected;
    }
    if (length < s.bytes.size()) {
        expected.err = "d88cut: " + path +
                       ": disk image 1 runs past the end of the file: it gives "
                       "its size as " +
                       std::to_string(s.bytes.size()) +
                       " bytes from offset 0, "
                       "the file ends at " +
                       std::to_string(length) + "\n";
    }
    if (arrived(0, 1).size() < 17) {
        expected.err += "d88cut: " + path + ": looked at 1 disk image; none is the known disk\n";
        return expected;
    }
    expected.out = d88test::kRecognised;
    // The account of the same bytes, taken in this process, must find the
    // gaps that the cut-off leaves; the cut then says of each file what the
    // account says of it, and writes the bytes that arrived, zero past them.
    static const auto account = std::make_unique<d88cut::DiskAccount>();
    EXPECT_TRUE(d88cut::reader.open(path.c_str()));
    d88cut::takeAccount(*account, 0, d88cut::Depth::kFiles);
    EXPECT_EQ(account->filesRead, 16);
    for (int i = 0; i < account->filesRead; ++i) {
        const d88cut::FileAccount& file = account->files[i];
        const std::vector<std::pair<int, int>> sectors = d88test::fileSectors(file.name);
        Bytes data;
        std::vector<d88test::Gap> gaps;
        for (const auto& [track, r] : sectors) {
            Bytes sector = arrived(track, r);
            if (sector.size() < 256) gaps.push_back({track, r, static_cast<int>(sector.size())});
            sector.resize(256, 0);
            data.insert(data.end(), sector.begin(), sector.end());
        }
        // A block whose first sector did not arrive whole is not cut.
        const bool cut =
            file.gathered || gaps.empty() || gaps[0].track != sectors[0].first || gaps[0].sector != sectors[0].second;
        if (!cut) gaps.resize(1);
        EXPECT_EQ(d88test::gapsOf(*account, file), gaps) << file.name << " cut at " << length;
        if (cut) {
            expected.out += d88test::cuttingLine(file.name);
            expected.files[file.name] = data;
        }
        if (file.said[0] != '\0') expected.err += "d88cut: " + path + ": " + file.said + "\n";
    }
    d88cut::reader.open(nullptr);
    return expected;
}

// Eight shards, so that ctest can run them side by side.
constexpr int kShards = 8;
class TruncationSweep : public ::testing::TestWithParam<int> {};

TEST_P(TruncationSweep, EveryCutEndsCleanlyWithOnlyTheBytesThatArrived) {
    const std::vector<std::size_t> cuts = cutPoints();
    ASSERT_GT(cuts.size(), 4000u);
    d88test::Scratch scratch;
    for (std::size_t i = static_cast<std::size_t>(GetParam()); i < cuts.size(); i += kShards) {
        const std::size_t length = cuts[i];
        const Bytes image(sample().bytes.begin(), sample().bytes.begin() + length);
        for (const auto& entry : std::filesystem::directory_iterator(scratch.work())) {
            std::filesystem::remove(entry.path());
        }
        const std::string path = scratch.image(image);
        const d88test::RunResult run = scratch.run({"d88cut", path});
        const Outcome expected = expectedFor(length, path);

        ASSERT_EQ(run.status, expected.status) << "cut at " << length << ": " << run.err;
        ASSERT_EQ(run.out, expected.out) << "cut at " << length;
        ASSERT_EQ(run.err, expected.err) << "cut at " << length;
        ASSERT_EQ(scratch.files(), expected.files) << "cut at " << length;
        // Nothing beside the work directory changed: the image is as written
        // and no file appeared next to it.
        ASSERT_EQ(d88test::entriesOf(scratch.root()), (std::set<std::string>{"image.d88", "stderr", "stdout", "work"}));
        ASSERT_EQ(d88test::readFile(path), image) << "cut at " << length;
    }
}

INSTANTIATE_TEST_SUITE_P(Shards, TruncationSweep, ::testing::Range(0, kShards));

}  // namespace
