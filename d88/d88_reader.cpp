// D88Reader: listing, selecting and reading the disk images of a D88 file.
#include "d88_reader.h"

#include <cerrno>
#include <cstring>

namespace d88 {

namespace platform = d88cut::platform;

namespace {

// Disk offsets are kept as signed 32-bit values, as in the layout's own
// fields; a disk image that would start beyond them cannot be addressed.
constexpr std::int64_t kMaxDiskOffset = INT32_MAX;
// A single byte past the last disk image is left by some writers and means
// nothing; more is said.
constexpr std::int64_t kIgnoredTrailingBytes = 1;
// What some writers put in the track table for a track the disk lacks.
constexpr std::int32_t kUnusedTrack = -1;
// The magic numbers of the compressed files people download disk images in.
constexpr std::uint8_t kGzipMagic[] = {0x1F, 0x8B};
constexpr std::uint8_t kZipMagic[] = {0x50, 0x4B, 0x03, 0x04};
// An IMD file begins with these letters.
constexpr char kImdMagic[] = "IMD ";

// The sector count as a walk takes it: a count whose low byte is 0 and high
// byte is not was written big-endian (or as 0x1000 for 16 sectors).
std::int32_t effectiveCount(std::int32_t raw) {
    return (raw & 0xFF) == 0 && (raw >> 8) != 0 ? raw >> 8 : raw;
}

// Whether a header at `position` of a file of `fileSize` bytes can be a disk
// header. A size of 0 repeats the header, which is said on its own, but a
// header of nothing (a file of zeros) is none; a header-only image (688
// bytes, no track) is a real one. No writer puts a negative offset in the
// track table; the bytes of a raw sector dump, or text, nearly always do.
bool plausibleHeader(const std::uint8_t* header, std::int64_t position, std::int64_t fileSize) {
    const std::int32_t size = readLe32(header + kDiskSizeOffset);
    bool anyTrack = false;
    bool trackInside = false;
    for (std::int32_t k = 0; k < kTrackCount; ++k) {
        const std::int32_t track = readLe32(header + kTrackTableOffset + 4 * k);
        // Some writers mark an unused entry with -1.
        if (track == kUnusedTrack) continue;
        if (track < 0) return false;
        anyTrack = anyTrack || track > 0;
        trackInside = trackInside || (track > 0 && track <= size);
    }
    if (size == 0) return anyTrack;
    if (size < kDiskHeaderSize) return false;
    if (position + size <= fileSize) return true;
    // Past the end: a download cut short, unless no floppy disk's image is
    // that large or no track of it lies inside it.
    if (size > kMaxPlausibleDiskSize) return false;
    return trackInside || size == kDiskHeaderSize;
}

}  // namespace

D88Reader::~D88Reader() { close(); }

void D88Reader::close() {
    if (file_ != platform::kNoFile) {
        platform::closeImage(file_);
        file_ = platform::kNoFile;
    }
}

bool D88Reader::currentState(platform::FileState& state) const {
    return file_ != platform::kNoFile && platform::stateOf(file_, state);
}

bool D88Reader::seekTo(std::int64_t position) {
    // The platform's seek is fill's, made only when bytes there are wanted.
    if (position < 0) return false;
    position_ = position;
    return true;
}

bool D88Reader::fill(std::int64_t position) {
    // Nothing is read past the end the file had when it was opened, or had
    // at a read since: what grows later is the change the end of a run
    // reports, not a part of the image. The buffer is kept for what follows.
    if (position >= knownEnd_) return false;
    bufferLength_ = 0;
    bufferReachesEnd_ = false;
    if (failure_ != ReadFailure::kNone) return false;
    if (bytesRead_ > kMaxBytesRead - kStreamBufferSize) {
        fail(ReadFailure::kWorkExhausted, 0);
        return false;
    }
    std::int32_t wanted = kStreamBufferSize;
    if (knownEnd_ - position < kStreamBufferSize) {
        wanted = static_cast<std::int32_t>(knownEnd_ - position);
    }
    const std::int64_t got = platform::readAt(file_, position, buffer_, wanted);
    if (got < 0) {
        fail(ReadFailure::kReadError, errno);
        return false;
    }
    bytesRead_ += got;
    bufferStart_ = position;
    bufferLength_ = static_cast<std::int32_t>(got);
    // Fewer bytes than asked for: the file ends sooner than it did.
    bufferReachesEnd_ = got < wanted || position + got == knownEnd_;
    if (bufferReachesEnd_) knownEnd_ = position + got;
    return got > 0;
}

void D88Reader::fail(ReadFailure failure, int reason) {
    if (failure_ != ReadFailure::kNone) return;
    failure_ = failure;
    // A read can fail without the system naming a reason.
    failureErrno_ = failure == ReadFailure::kReadError && reason == 0 ? EIO : reason;
}

bool D88Reader::mayWalk() {
    if (failure_ != ReadFailure::kNone) return false;
    if (recordsWalked_ < kMaxRecordsWalked) return true;
    fail(ReadFailure::kWorkExhausted, 0);
    return false;
}

void D88Reader::dropBuffer() {
    bufferLength_ = 0;
    bufferReachesEnd_ = false;
}

std::int32_t D88Reader::readBytes(std::uint8_t* out, std::int32_t count) {
    std::int32_t copied = 0;
    while (copied < count) {
        const std::int64_t offset = position_ - bufferStart_;
        if (offset < 0 || offset >= bufferLength_) {
            if (bufferReachesEnd_ && offset >= bufferLength_) break;
            if (!fill(position_)) break;
            continue;
        }
        const std::int64_t available = bufferLength_ - offset;
        const std::int32_t take =
            count - copied < available ? count - copied : static_cast<std::int32_t>(available);
        std::memcpy(out + copied, buffer_ + offset, static_cast<std::size_t>(take));
        copied += take;
        position_ += take;
    }
    return copied;
}

const std::uint8_t* D88Reader::readSectorHeader(std::uint8_t* scratch) {
    const std::int64_t offset = position_ - bufferStart_;
    if (offset >= 0 && offset + kSectorHeaderSize <= bufferLength_) {
        position_ += kSectorHeaderSize;
        return buffer_ + offset;
    }
    return readBytes(scratch, kSectorHeaderSize) == kSectorHeaderSize ? scratch : nullptr;
}

bool D88Reader::seekTrack(std::int32_t track) {
    if (file_ == platform::kNoFile || track < 0 || track >= kTrackCount) return false;
    const std::int32_t offset = trackOffsets_[track];
    // 0 marks an absent track, and so does a negative entry, which would point
    // before the disk image, or one at or past its end: a track there holds
    // nothing of this disk.
    if (offset <= 0 || offset >= diskExtent_) return false;
    return seekTo(static_cast<std::int64_t>(diskOffset_) + offset);
}

void D88Reader::clearSelection() {
    diskOffset_ = -1;
    currentDisk_ = -1;
    mediaType_ = -1;
    diskSize_ = 0;
    diskExtent_ = 0;
    std::memset(name_, 0, sizeof name_);
    std::memset(trackFixes_, 0, sizeof trackFixes_);
}

bool D88Reader::open(const char* path) {
    // Also when a new path is given: the reader holds at most one file.
    close();
    if (path == nullptr) {
        diskCount_ = 0;
        currentDisk_ = -1;
        mediaType_ = -1;
        return true;
    }
    failure_ = ReadFailure::kNone;
    failureErrno_ = 0;
    recordsWalked_ = 0;
    bytesRead_ = 0;
    format_ = Format::kD88;
    imdStop_ = ImdStop::kNone;
    imdStopOffset_ = 0;
    imdRecordCount_ = 0;
    dropBuffer();
    // Disk images are read in no fixed order, and selecting one reads it
    // afresh: anything but a regular file is refused before it is read.
    switch (platform::openImage(path, file_, openedState_)) {
        case platform::OpenResult::kOpened: break;
        case platform::OpenResult::kCannotOpen: failure_ = ReadFailure::kCannotOpen; break;
        case platform::OpenResult::kCannotRead: failure_ = ReadFailure::kReadError; break;
        case platform::OpenResult::kNotAFile: failure_ = ReadFailure::kNotAFile; break;
    }
    if (failure_ != ReadFailure::kNone) {
        failureErrno_ = errno;
        file_ = platform::kNoFile;
        diskCount_ = 0;
        return false;
    }
    knownEnd_ = openedState_.size;
    diskCount_ = 0;
    // What the file is, by its first bytes and its size.
    std::uint8_t start[kDiskHeaderSize];
    const std::int32_t got = seekTo(0) ? readBytes(start, kDiskHeaderSize) : 0;
    const std::int64_t fileSize = openedState_.size;
    if (got >= 2 && std::memcmp(start, kGzipMagic, sizeof kGzipMagic) == 0) {
        format_ = Format::kGzip;
    } else if (got >= 4 && std::memcmp(start, kZipMagic, sizeof kZipMagic) == 0) {
        format_ = Format::kZip;
    } else if (got >= 4 && std::memcmp(start, kImdMagic, 4) == 0) {
        openImd(start, got);
    } else if (fileSize == kRaw2DImageSize && !(plausibleHeader(start, 0, fileSize) &&
                                                readLe32(start + kDiskSizeOffset) == fileSize)) {
        // The size of a raw 2D image, and no D88 header of that size.
        format_ = Format::kRaw2D;
    }
    if (format_ == Format::kRaw2D || format_ == Format::kImd) {
        // The one disk image of the file.
        diskCount_ = 1;
        diskOffsets_[0] = 0;
        diskSizes_[0] = static_cast<std::int32_t>(fileSize);
        diskEnds_[0] = fileSize;
        plausible_[0] = true;
        followed_[0] = false;
        moreDisks_ = false;
        zeroSizeDisk_ = -1;
        trailingBytes_ = 0;
        trailingOffset_ = 0;
        unreachableDisk_ = -1;
    } else if (format_ == Format::kD88) {
        listFrom(0, 0);
    }
    // A path that opens but cannot be read, such as a directory, is no file
    // of disk images; only the end of the file ends a listing in silence.
    if (failure_ == ReadFailure::kReadError) {
        close();
        diskCount_ = 0;
        return false;
    }
    return true;
}

void D88Reader::listFrom(std::int32_t count, std::int64_t position) {
    moreDisks_ = false;
    if (zeroSizeDisk_ >= count) zeroSizeDisk_ = -1;
    trailingBytes_ = 0;
    trailingOffset_ = 0;
    unreachableDisk_ = -1;
    diskCount_ = count;
    std::uint8_t header[kDiskHeaderSize];
    const std::int64_t fileSize = openedState_.size;
    for (;;) {
        if (position > kMaxDiskOffset) {
            if (position + kDiskHeaderSize <= fileSize) unreachableDisk_ = position;
            break;
        }
        const std::int32_t got = seekTo(position) ? readBytes(header, kDiskHeaderSize) : 0;
        if (got != kDiskHeaderSize) {
            if (fileSize - position > kIgnoredTrailingBytes) {
                trailingOffset_ = position;
                trailingBytes_ = fileSize - position;
            }
            break;
        }
        // One more whole header than the listing holds: said, not listed,
        // when it is one; bytes that make no header are bytes after the
        // last disk image, and a header of size 0 only repeats itself.
        if (diskCount_ == kMaxDisks) {
            if (zeroSizeDisk_ >= 0) break;
            if (plausibleHeader(header, position, fileSize)) {
                moreDisks_ = true;
            } else {
                trailingOffset_ = position;
                trailingBytes_ = fileSize - position;
            }
            break;
        }
        const std::int32_t diskSize = readLe32(header + kDiskSizeOffset);
        diskOffsets_[diskCount_] = static_cast<std::int32_t>(position);
        diskSizes_[diskCount_] = diskSize;
        diskEnds_[diskCount_] = position + (diskSize > 0 ? diskSize : 0);
        plausible_[diskCount_] = plausibleHeader(header, position, fileSize);
        followed_[diskCount_] = false;
        ++diskCount_;
        // A size of 0 lists the same header again, up to kMaxDisks.
        if (diskSize == 0 && zeroSizeDisk_ < 0) zeroSizeDisk_ = diskCount_ - 1;
        // A negative size would put the next image before this one.
        if (diskSize < 0) break;
        position += diskSize;
    }
}

std::int64_t D88Reader::tracksEndAt(std::int32_t index) {
    if (format_ != Format::kD88 || !selectDisk(index)) return -1;
    const std::int64_t fileSize = openedState_.size;
    // Its last track is the one of the largest entry; one past the end of
    // the file says the disk image runs past it (a download cut short).
    std::int32_t last = -1;
    for (std::int32_t k = 0; k < kTrackCount; ++k) {
        const std::int32_t offset = trackOffsets_[k];
        if (offset > 0 && (last < 0 || offset > trackOffsets_[last])) last = k;
    }
    if (last < 0) return -1;
    const std::int64_t lastAt = diskOffset_ + static_cast<std::int64_t>(trackOffsets_[last]);
    // (At least its first record's header lies past the end.)
    if (lastAt >= fileSize) return lastAt + kSectorHeaderSize;
    // Read as far as the file goes, whatever the size field says.
    diskExtent_ = fileSize - diskOffset_;
    Walk walk;
    Record record;
    if (!beginWalk(walk, last)) return -1;
    std::int64_t end = walk.next;
    while (nextRecord(walk, record)) end = walk.next;
    endWalk(walk);
    // A track that ends before its count does ends at the end of the file,
    // and runs past it.
    return walk.done ? end : fileSize + 1;
}

bool D88Reader::followTrackTable(std::int32_t index) {
    const std::int64_t end = tracksEndAt(index);
    clearSelection();
    if (end < 0) return false;
    const std::int64_t fileSize = openedState_.size;
    diskEnds_[index] = end < fileSize ? end : fileSize;
    followed_[index] = true;
    // Its size of 0 no longer repeats its header.
    if (zeroSizeDisk_ >= index) zeroSizeDisk_ = -1;
    listFrom(index + 1, diskEnds_[index]);
    return true;
}

std::int32_t D88Reader::stepFixes() const {
    std::int32_t fixes = 0;
    for (const std::int32_t onTrack : trackFixes_) fixes += onTrack;
    return fixes;
}

StepFix D88Reader::firstStepFix() const {
    for (std::int32_t k = 0; k < kTrackCount; ++k) {
        if (trackFixes_[k] > 0) return trackFirstFix_[k];
    }
    return StepFix();
}

bool D88Reader::selectDisk(std::int32_t index, bool toFileEnd) {
    if (file_ == platform::kNoFile || failure_ != ReadFailure::kNone) return false;
    clearSelection();
    if (index < 0 || index >= diskCount_) return false;

    std::uint8_t header[kDiskHeaderSize];
    // The file may have changed since it was listed: then it is read afresh.
    // Unchanged, the buffer open filled still holds it, and the image is
    // read once.
    platform::FileState now;
    if (!platform::stateOf(file_, now) || platform::changedBetween(openedState_, now)) {
        dropBuffer();
    }
    if (format_ == Format::kRaw2D || format_ == Format::kImd) {
        diskOffset_ = 0;
        diskSize_ = diskSizes_[0];
        diskExtent_ = diskEnds_[0];
        // Both are the double-density disks of the known disk's machine.
        mediaType_ = 0;
        if (format_ == Format::kImd) std::memcpy(name_, imdText_, sizeof name_);
        currentDisk_ = index;
        return true;
    }
    if (!seekTo(diskOffsets_[index]) || readBytes(header, kDiskHeaderSize) != kDiskHeaderSize) {
        return false;
    }
    diskOffset_ = diskOffsets_[index];
    diskExtent_ = (toFileEnd ? openedState_.size : diskEnds_[index]) - diskOffset_;
    for (std::int32_t k = 0; k < kTrackCount; ++k) {
        trackOffsets_[k] = readLe32(header + kTrackTableOffset + 4 * k);
    }
    mediaType_ = header[kMediaTypeOffset];
    diskSize_ = readLe32(header + kDiskSizeOffset);
    for (std::int32_t i = 0; i < kDiskNameSize && header[i] != 0; ++i) {
        name_[i] = static_cast<char>(header[i]);
    }
    currentDisk_ = index;
    return true;
}

void D88Reader::setSectorRange(std::int32_t first, std::int32_t last) {
    firstSector_ = first;
    lastSector_ = last;
}

bool D88Reader::beginWalk(Walk& walk, std::int32_t track) {
    if (!seekTrack(track) || !mayWalk()) return false;
    walk.track = track;
    walk.next = position_;
    return true;
}

bool D88Reader::recordCanStart(const Walk& walk, std::int64_t position, bool last) {
    if (last) {
        // The next track, or the end of the disk image or of the file.
        if (position == diskOffset_ + diskExtent_ || position == openedState_.size) return true;
        for (const std::int32_t offset : trackOffsets_) {
            if (offset > 0 && diskOffset_ + static_cast<std::int64_t>(offset) == position)
                return true;
        }
        return false;
    }
    // A record of the same track: its C and H, and its count as the first
    // record gives it. Read in the buffer where it lies there whole, as it
    // does but for the last bytes of a buffer: a walk of records whose data
    // is shorter than their N looks at every next header.
    std::uint8_t scratch[kSectorHeaderSize];
    const std::uint8_t* header = nullptr;
    const std::int64_t offset = position - bufferStart_;
    if (offset >= 0 && offset + kSectorHeaderSize <= bufferLength_) {
        header = buffer_ + offset;
    } else {
        const std::int64_t keep = position_;
        position_ = position;
        header = readSectorHeader(scratch);
        position_ = keep;
    }
    return header != nullptr && header[0] == walk.c && header[1] == walk.h &&
           readLe16(header + kSectorCountOffset) == walk.rawCount;
}

void D88Reader::noteFix(Walk& walk, const std::uint8_t* id, std::int32_t field) {
    if (walk.fixes++ == 0 && trackFixes_[walk.track] == 0) {
        trackFirstFix_[walk.track] = {walk.track, id[0], id[1], id[2], id[3], field};
    }
}

void D88Reader::settleStep(Walk& walk, Record& record) {
    if (!walk.unsure) return;
    walk.unsure = false;
    if (recordCanStart(walk, walk.next, false) || !recordCanStart(walk, walk.nominalNext, false)) {
        return;
    }
    noteFix(walk, walk.unsureId, walk.unsureField);
    record.dataSize = static_cast<std::int32_t>(walk.nominalNext - record.dataAt);
    walk.next = walk.nominalNext;
}

inline bool D88Reader::nextRecord(Walk& walk, Record& record) {
    const std::int64_t offset = walk.next - bufferStart_;
    if (walk.walked == 0 || walk.unsure || walk.done || walk.walked >= kMaxWalkRecords ||
        offset < 0 || offset + kSectorHeaderSize > bufferLength_) {
        return nextRecordSlowly(walk, record);
    }
    const std::uint8_t* header = buffer_ + offset;
    const std::int32_t rawCount = readLe16(header + kSectorCountOffset);
    const std::int32_t field = readLe16(header + kDataSizeOffset);
    const std::int32_t n = header[3];
    // A count of 0 or of a low byte 0, or a field other than 128 << N.
    if ((rawCount & 0xFF) == 0 || n > kMaxRealSizeCode || field != kMinSectorSize << n) {
        return nextRecordSlowly(walk, record);
    }
    ++walk.walked;
    record.header = header;
    record.dataAt = walk.next + kSectorHeaderSize;
    record.dataSize = field;
    walk.next = record.dataAt + field;
    walk.done = walk.walked == rawCount;
    return true;
}

bool D88Reader::nextRecordSlowly(Walk& walk, Record& record) {
    if (walk.done || walk.walked >= kMaxWalkRecords) return false;
    std::uint8_t scratch[kSectorHeaderSize];
    position_ = walk.next;
    const std::uint8_t* header = readSectorHeader(scratch);
    if (walk.unsure) {
        // The last record's field did not lead to a record of the track:
        // 128 << N does, or neither, and the field stands.
        walk.unsure = false;
        const bool leads = header != nullptr && header[0] == walk.c && header[1] == walk.h &&
                           readLe16(header + kSectorCountOffset) == walk.rawCount;
        if (!leads && recordCanStart(walk, walk.nominalNext, false)) {
            noteFix(walk, walk.unsureId, walk.unsureField);
            walk.next = walk.nominalNext;
            position_ = walk.next;
            header = readSectorHeader(scratch);
        }
    }
    if (header == nullptr) return false;
    ++walk.walked;
    std::memcpy(walk.copy, header, kSectorHeaderSize);
    record.header = walk.copy;
    const std::int32_t rawCount = readLe16(header + kSectorCountOffset);
    const std::int32_t field = readLe16(header + kDataSizeOffset);
    const std::int32_t n = header[3];
    record.dataSize = field;
    record.dataAt = position_;
    if (walk.walked == 1) {
        walk.c = header[0];
        walk.h = header[1];
        walk.rawCount = rawCount;
    }
    // An empty track, whatever the identity of its first record.
    if (rawCount == 0 && walk.emptyEnds) {
        walk.done = true;
        return false;
    }
    const std::int32_t count = effectiveCount(rawCount);
    const bool last = walk.walked == count;
    // The data is passed over, never read: a skip beyond the buffer refills
    // at the next header.
    walk.next = record.dataAt + field;
    if (n <= kMaxRealSizeCode && field != kMinSectorSize << n) {
        const std::int64_t nominalNext = record.dataAt + (kMinSectorSize << n);
        if (!last) {
            // Settled by the next header, or by settleStep.
            walk.unsure = true;
            walk.nominalNext = nominalNext;
            std::memcpy(walk.unsureId, record.header, 4);
            walk.unsureField = field;
        } else if (!recordCanStart(walk, walk.next, true) &&
                   recordCanStart(walk, nominalNext, true)) {
            noteFix(walk, record.header, field);
            record.dataSize = static_cast<std::int32_t>(nominalNext - record.dataAt);
            walk.next = nominalNext;
        }
    }
    // This header's count says the track ends here; a count read from its
    // high byte ends it only where no record of the track follows (0x1000
    // written for 16 sectors on a track of 17).
    if (last) walk.done = count == rawCount || !recordCanStart(walk, walk.next, false);
    return true;
}

void D88Reader::endWalk(const Walk& walk) {
    recordsWalked_ += walk.walked;
    if (walk.fixes > trackFixes_[walk.track]) trackFixes_[walk.track] = walk.fixes;
}

SectorRead D88Reader::findRecord(std::int32_t track, std::int32_t c, std::int32_t h, std::int32_t r,
                                 std::int32_t n, bool cleanOnly) {
    if (format_ == Format::kRaw2D) return mayWalk() ? findRaw2D(track, c, h, r, n) : SectorRead();
    if (format_ == Format::kImd)
        return mayWalk() ? findImd(track, c, h, r, n, cleanOnly) : SectorRead();
    SectorRead found;
    Walk walk;
    Record record;
    if (!beginWalk(walk, track)) return found;
    while (nextRecord(walk, record)) {
        const std::uint8_t* id = record.header;
        if (id[0] == c && id[1] == h && id[2] == r && id[3] == n) {
            // (Its header first: settling may read past the buffer.)
            found.deleted = id[kDeletedMarkOffset] == kDeletedMark;
            found.status = id[kStatusOffset];
            settleStep(walk, record);
            found.found = true;
            found.dataSize = record.dataSize;
            found.dataOffset = record.dataAt;
            if (!cleanOnly || !found.flagged()) break;
            found = SectorRead();
        }
    }
    endWalk(walk);
    return found;
}

SectorRead D88Reader::readSectorCopy(std::int32_t track, std::int32_t c, std::int32_t h,
                                     std::int32_t r, std::int32_t n, std::uint8_t* out,
                                     std::int32_t maxLen, Copy which) {
    SectorRead read = findRecord(track, c, h, r, n, false);
    // Only a flagged first copy costs a second walk of its track.
    if (read.found && read.flagged() && which == Copy::kClean) {
        const SectorRead clean = findRecord(track, c, h, r, n, true);
        if (clean.found) read = clean;
    }
    if (!read.found || !seekTo(read.dataOffset)) return read;
    const std::int32_t wanted = read.dataSize < maxLen ? read.dataSize : maxLen;
    if (read.compressed) {
        // One fill byte stands for every byte of the sector.
        std::uint8_t fill = 0;
        if (wanted > 0 && readBytes(&fill, 1) == 1) {
            std::memset(out, fill, static_cast<std::size_t>(wanted));
            read.got = wanted;
        }
        return read;
    }
    // The bytes that arrived: the file may end inside the data.
    read.got = readBytes(out, wanted);
    return read;
}

std::int32_t D88Reader::readSector(std::int32_t track, std::int32_t c, std::int32_t h,
                                   std::int32_t r, std::int32_t n, std::uint8_t* out,
                                   std::int32_t maxLen) {
    // Any bytes that arrived are the caller's.
    return readSectorCopy(track, c, h, r, n, out, maxLen, Copy::kFirst).got;
}

std::int32_t D88Reader::readRaw(std::int64_t position, std::uint8_t* out, std::int32_t count) {
    if (file_ == platform::kNoFile || failure_ != ReadFailure::kNone || count <= 0 ||
        position < 0) {
        return 0;
    }
    // What the buffer holds is taken from it; the rest is read past it. A
    // copy of the file is no walk: it spends nothing of the budget.
    std::int32_t done = 0;
    const std::int64_t offset = position - bufferStart_;
    if (offset >= 0 && offset < bufferLength_) {
        const std::int64_t available = bufferLength_ - offset;
        done = count < available ? count : static_cast<std::int32_t>(available);
        std::memcpy(out, buffer_ + offset, static_cast<std::size_t>(done));
    }
    while (done < count) {
        const std::int64_t got = platform::readAt(file_, position + done, out + done, count - done);
        if (got < 0) {
            fail(ReadFailure::kReadError, errno);
            break;
        }
        if (got == 0) break;
        done += static_cast<std::int32_t>(got);
    }
    return done;
}

void D88Reader::stepRun(std::int32_t& track, std::int32_t& c, std::int32_t& h,
                        std::int32_t& r) const {
    if (r != lastSector_) {
        ++r;
        return;
    }
    ++track;
    if (h == 0) {
        h = 1;
    } else {
        h = 0;
        ++c;
    }
    r = firstSector_;
}

std::int32_t D88Reader::readSectors(std::int32_t track, std::int32_t c, std::int32_t h,
                                    std::int32_t r, std::int32_t n, std::uint8_t* out,
                                    std::int32_t length) {
    if (n < 0 || n > kMaxSizeCode) return 0;
    std::int32_t step = kMinSectorSize << n;
    std::int32_t done = 0;
    while (done < length) {
        if (step > length - done) step = length - done;
        // A short sector ends the run, its bytes not counted.
        if (readSector(track, c, h, r, n, out + done, step) < step) break;
        done += step;
        // A found sector has C, H, R below 256 and a track below 164, so the
        // steps cannot overflow.
        stepRun(track, c, h, r);
    }
    return done;
}

std::int32_t D88Reader::readTrackIds(std::int32_t track, std::uint8_t* out, std::int32_t maxLen) {
    std::int32_t written = 0;
    if (format_ == Format::kRaw2D || format_ == Format::kImd) {
        // The identities a read would find there, in file order.
        for (std::int32_t r = 1; r <= 255 && maxLen - written >= 4; ++r) {
            if (track < 0 || track >= kTrackCount) break;
            if (format_ == Format::kImd) {
                if (r > imdTrackCount_[track]) break;
                const ImdRecord& record = imdRecords_[imdTrackFirst_[track] + r - 1];
                const std::uint8_t id[4] = {record.c, record.h, record.r, record.n};
                std::memcpy(out + written, id, 4);
            } else {
                if (track >= kRaw2DTracks || r > kRaw2DSectors) break;
                const std::uint8_t id[4] = {static_cast<std::uint8_t>(track / 2),
                                            static_cast<std::uint8_t>(track % 2),
                                            static_cast<std::uint8_t>(r), 1};
                std::memcpy(out + written, id, 4);
            }
            written += 4;
        }
        return written;
    }
    Walk walk;
    Record record;
    // A sector count of 0 does not end this listing: it goes on until the
    // output is full, the file ends or the walk is as long as a track can be.
    walk.emptyEnds = false;
    if (!beginWalk(walk, track)) return 0;
    while (maxLen - written >= 4 && nextRecord(walk, record)) {
        std::memcpy(out + written, record.header, 4);
        written += 4;
    }
    endWalk(walk);
    return written;
}

}  // namespace d88
