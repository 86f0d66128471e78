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
    // before the disk image. An entry equal to the disk size still counts as
    // present; one above it does not.
    if (offset <= 0 || offset > diskSize_) return false;
    return seekTo(static_cast<std::int64_t>(diskOffset_) + offset);
}

void D88Reader::clearSelection() {
    diskOffset_ = -1;
    currentDisk_ = -1;
    mediaType_ = -1;
    diskSize_ = 0;
    std::memset(name_, 0, sizeof name_);
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
    moreDisks_ = false;
    zeroSizeDisk_ = -1;
    trailingBytes_ = 0;
    trailingOffset_ = 0;
    unreachableDisk_ = -1;
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

    std::uint8_t header[kDiskHeaderSize];
    std::int64_t position = 0;
    diskCount_ = 0;
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
        plausible_[diskCount_] = plausibleHeader(header, position, fileSize);
        ++diskCount_;
        // A size of 0 lists the same header again, up to kMaxDisks.
        if (diskSize == 0 && zeroSizeDisk_ < 0) zeroSizeDisk_ = diskCount_ - 1;
        // A negative size would put the next image before this one.
        if (diskSize < 0) break;
        position += diskSize;
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

bool D88Reader::selectDisk(std::int32_t index) {
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
    if (!seekTo(diskOffsets_[index]) || readBytes(header, kDiskHeaderSize) != kDiskHeaderSize) {
        return false;
    }
    diskOffset_ = diskOffsets_[index];
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

SectorRead D88Reader::findRecord(std::int32_t track, std::int32_t c, std::int32_t h, std::int32_t r,
                                 std::int32_t n, bool cleanOnly) {
    SectorRead found;
    if (!seekTrack(track) || !mayWalk()) return found;
    std::uint8_t scratch[kSectorHeaderSize];
    std::int32_t walked = 0;
    while (walked < kMaxWalkRecords) {
        const std::uint8_t* header = readSectorHeader(scratch);
        if (header == nullptr) break;
        ++walked;
        const std::int32_t count = readLe16(header + kSectorCountOffset);
        const std::int32_t dataSize = readLe16(header + kDataSizeOffset);
        // An empty track, whatever the identity of its first record.
        if (count == 0) break;
        if (header[0] == c && header[1] == h && header[2] == r && header[3] == n) {
            found.found = true;
            found.dataSize = dataSize;
            found.dataOffset = position_;
            found.deleted = header[kDeletedMarkOffset] == kDeletedMark;
            found.status = header[kStatusOffset];
            if (!cleanOnly || !found.flagged()) break;
            found = SectorRead();
        }
        // The data is passed over, never read: a skip beyond the buffer
        // refills at the next header.
        skip(dataSize);
        // This header's count says the track ends here.
        if (walked == count) break;
    }
    recordsWalked_ += walked;
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
    // The bytes that arrived: the file may end inside the data.
    read.got = readBytes(out, read.dataSize < maxLen ? read.dataSize : maxLen);
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
    if (!seekTrack(track) || !mayWalk()) return 0;
    std::uint8_t scratch[kSectorHeaderSize];
    std::int32_t written = 0;
    std::int32_t walked = 0;
    // A sector count of 0 does not end this listing: it goes on until the
    // output is full, the file ends or the walk is as long as a track can be.
    while (maxLen - written >= 4 && walked < kMaxWalkRecords) {
        const std::uint8_t* header = readSectorHeader(scratch);
        if (header == nullptr) break;
        ++walked;
        std::memcpy(out + written, header, 4);
        written += 4;
        skip(readLe16(header + kDataSizeOffset));
        if (walked == readLe16(header + kSectorCountOffset)) break;
    }
    recordsWalked_ += walked;
    return written;
}

}  // namespace d88
