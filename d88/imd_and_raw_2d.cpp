// D88Reader on the two other containers of a disk: the sectors of a raw 2D
// image, found by their place, and those of an IMD file, indexed once when
// it is opened.
#include <cstring>

#include "d88_reader.h"

namespace d88 {

namespace {

// Bytes of an IMD track's head before its maps: mode, cylinder, head,
// sector count, size code.
constexpr std::int32_t kImdTrackHeadSize = 5;
constexpr std::uint8_t kImdCylinderMap = 0x80;
constexpr std::uint8_t kImdHeadMap = 0x40;
constexpr std::uint8_t kImdHeadBits = 0x3F;
constexpr std::uint8_t kImdEndOfText = 0x1A;
// Size code 0xFF: the sizes follow in a table, one 16-bit size a sector.
constexpr std::uint8_t kImdSizeTable = 0xFF;
// Size codes 0 to 6: 128 to 8,192 bytes.
constexpr std::uint8_t kImdLargestSizeCode = 6;
constexpr std::uint8_t kImdLargestType = 8;
constexpr std::int32_t kImdMaxSectors = 255;

bool imdCompressed(std::uint8_t type) { return type != 0 && type % 2 == 0; }
bool imdDeleted(std::uint8_t type) { return type == 3 || type == 4 || type == 7 || type == 8; }
bool imdError(std::uint8_t type) { return type >= 5; }

}  // namespace

SectorRead D88Reader::findRaw2D(std::int32_t track, std::int32_t c, std::int32_t h, std::int32_t r,
                                std::int32_t n) const {
    SectorRead found;
    if (track < 0 || track >= kRaw2DTracks || c != track / 2 || h != track % 2 || n != 1 || r < 1 ||
        r > kRaw2DSectors) {
        return found;
    }
    found.found = true;
    found.dataSize = kRaw2DSectorSize;
    found.dataOffset = std::int64_t{track} * kRaw2DTrackSize + (r - 1) * kRaw2DSectorSize;
    return found;
}

SectorRead D88Reader::findImd(std::int32_t track, std::int32_t c, std::int32_t h, std::int32_t r,
                              std::int32_t n, bool cleanOnly) const {
    SectorRead found;
    if (track < 0 || track >= kTrackCount) return found;
    for (std::int32_t i = 0; i < imdTrackCount_[track]; ++i) {
        const ImdRecord& record = imdRecords_[imdTrackFirst_[track] + i];
        // An unavailable sector has an identity and no data.
        if (record.type == 0 || record.c != c || record.h != h || record.r != r || record.n != n) {
            continue;
        }
        found.found = true;
        found.dataSize = kMinSectorSize << record.n;
        found.dataOffset = record.dataAt;
        found.compressed = imdCompressed(record.type);
        found.deleted = imdDeleted(record.type);
        found.status = imdError(record.type) ? kStatusDataError : kStatusGood;
        if (!cleanOnly || !found.flagged()) break;
        found = SectorRead();
    }
    return found;
}

bool D88Reader::readImdTrack(std::int64_t& position, bool store, std::int32_t* filled) {
    const std::int64_t at = position;
    auto stop = [&](ImdStop why) {
        imdStop_ = why;
        imdStopOffset_ = at;
        return false;
    };
    std::uint8_t head[kImdTrackHeadSize];
    std::uint8_t numbers[kImdMaxSectors];
    std::uint8_t cylinders[kImdMaxSectors];
    std::uint8_t heads[kImdMaxSectors];
    if (!seekTo(position)) return false;
    const std::int32_t got = readBytes(head, kImdTrackHeadSize);
    if (got == 0) return false;  // the end of the file, after a whole track
    if (got < kImdTrackHeadSize) return stop(ImdStop::kCutShort);
    const std::int32_t cylinder = head[1];
    const std::int32_t side = head[2] & kImdHeadBits;
    const std::int32_t count = head[3];
    const std::uint8_t sizeCode = head[4];
    const std::int32_t track = cylinder * 2 + side;
    if (side > 1 || track >= kTrackCount) return stop(ImdStop::kBadTrack);
    if (sizeCode == kImdSizeTable) return stop(ImdStop::kSizeTable);
    if (sizeCode > kImdLargestSizeCode) return stop(ImdStop::kBadSizeCode);
    if (!store && imdRecordCount_ + count > kMaxImdRecords) return stop(ImdStop::kTooManyRecords);
    if (readBytes(numbers, count) != count ||
        ((head[2] & kImdCylinderMap) != 0 && readBytes(cylinders, count) != count) ||
        ((head[2] & kImdHeadMap) != 0 && readBytes(heads, count) != count)) {
        return stop(ImdStop::kCutShort);
    }
    const std::int32_t dataSize = kMinSectorSize << sizeCode;
    for (std::int32_t i = 0; i < count; ++i) {
        std::uint8_t type = 0;
        if (readBytes(&type, 1) != 1) return stop(ImdStop::kCutShort);
        if (type > kImdLargestType) return stop(ImdStop::kBadRecordType);
        const std::int64_t dataAt = position_;
        const std::int32_t length = type == 0 ? 0 : imdCompressed(type) ? 1 : dataSize;
        // The data must be in the file; it is read when it is asked for.
        if (dataAt + length > openedState_.size) return stop(ImdStop::kCutShort);
        skip(length);
        if (!store) continue;
        ImdRecord& record = imdRecords_[imdTrackFirst_[track] + filled[track]++];
        record.dataAt = dataAt;
        record.c =
            (head[2] & kImdCylinderMap) != 0 ? cylinders[i] : static_cast<std::uint8_t>(cylinder);
        record.h = (head[2] & kImdHeadMap) != 0 ? heads[i] : static_cast<std::uint8_t>(side);
        record.r = numbers[i];
        record.n = sizeCode;
        record.type = type;
    }
    if (!store) {
        imdTrackCount_[track] += count;
        imdRecordCount_ += count;
    }
    recordsWalked_ += count;
    position = position_;
    return mayWalk();
}

void D88Reader::openImd(const std::uint8_t* start, std::int32_t length) {
    format_ = Format::kImd;
    std::memset(imdText_, 0, sizeof imdText_);
    std::memset(imdTrackCount_, 0, sizeof imdTrackCount_);
    // The header text, up to its end mark: the first bytes shown as the
    // disk's name.
    std::int64_t end = -1;
    for (std::int32_t i = 0; i < length && end < 0; ++i) {
        if (start[i] == kImdEndOfText) end = i;
    }
    for (std::int64_t at = length; end < 0 && at < openedState_.size;) {
        std::uint8_t piece[kDiskHeaderSize];
        const std::int32_t got = seekTo(at) ? readBytes(piece, kDiskHeaderSize) : 0;
        if (got == 0) break;
        for (std::int32_t i = 0; i < got && end < 0; ++i) {
            if (piece[i] == kImdEndOfText) end = at + i;
        }
        at += got;
    }
    const std::int32_t shown = end < 0 || end > length ? length : static_cast<std::int32_t>(end);
    std::memcpy(imdText_, start,
                static_cast<std::size_t>(shown < kMaxNameSize ? shown : kMaxNameSize));
    if (end < 0) {
        imdStop_ = ImdStop::kCutShort;
        imdStopOffset_ = 0;
        return;
    }
    // Two passes: the records of each track counted, then placed, so that
    // a track's records stand together whatever order the file has them in.
    std::int64_t position = end + 1;
    while (readImdTrack(position, false, nullptr)) {
    }
    std::int32_t first = 0;
    for (std::int32_t k = 0; k < kTrackCount; ++k) {
        imdTrackFirst_[k] = first;
        first += imdTrackCount_[k];
    }
    std::int32_t filled[kTrackCount] = {};
    const std::int64_t stopAt = imdStop_ == ImdStop::kNone ? openedState_.size : imdStopOffset_;
    position = end + 1;
    while (position < stopAt && readImdTrack(position, true, filled)) {
    }
}

}  // namespace d88
