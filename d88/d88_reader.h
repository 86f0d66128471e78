// Reading the sectors of the disk images held in one D88 file, or of the one
// disk of a raw 2D image or an IMD (ImageDisk) file.
//
// A D88 file is one or more disk images back to back from offset 0, with no
// file header and no magic number. Each disk image is a DiskHeader followed by
// its tracks; each track is a run of sector records without gaps, each record
// a SectorHeader followed by exactly data-size bytes of data. Records need not
// stand in sector-number order.
//
//   file:   [disk 0: header | tracks...][disk 1: header | tracks...] ...
//   track:  [SectorHeader | data][SectorHeader | data] ...
//
// DiskHeader, 688 bytes at the start of each disk image:
//
//   offset size  field        meaning
//   0      16    name         raw bytes; a shorter name ends at a NUL, a
//                             16-byte name has none
//   16     11    -            not interpreted
//   27     1     media type   unsigned byte, passed on unchanged
//   28     4     disk size    signed LE32: length of this disk image in bytes,
//                             header included; the next image starts after it
//   32     656   track table  164 signed LE32 offsets of each track's first
//                             record, counted from the first byte of this
//                             header; 0 = absent track
//
// SectorHeader, 16 bytes before each sector's data:
//
//   offset size  field        meaning
//   0      1     C            cylinder, as recorded in the sector's identity
//   1      1     H            head, as recorded
//   2      1     R            sector number
//   3      1     N            size code: the sector holds 128 << N bytes
//   4      2     sector count unsigned LE16: records in this track (repeated
//                             in every header of the track)
//   6      1     -            not interpreted
//   7      1     deleted mark 0x10: the sector was written with a deleted-data
//                             mark; 0x00 otherwise
//   8      1     status       the floppy controller's status when the disk was
//                             dumped: 0x00 read well, 0x10 deleted data, 0xA0
//                             ID CRC error, 0xB0 data CRC error, 0xE0 no
//                             address mark, 0xF0 no data mark
//   9      5     -            not interpreted
//   14     2     data size    unsigned LE16: data bytes after this header
//
// A sector is found by its identity, all four of C, H, R and N. On the
// double-sided disks handled here, track index k holds cylinder k / 2 and
// head k % 2.
//
// What writers of D88 files are known to get wrong is read as the disk it
// describes: a record whose data-size field does not step to the next
// record where 128 << N does is stepped by 128 << N (and counted); a sector
// count whose low byte is 0 counts by its high byte (written big-endian);
// an unused track-table entry of -1 is no reason to doubt the header. A
// disk image whose size field disagrees with the file can be read by its
// track table instead, when the caller asks (followTrackTable).
//
// A raw 2D image is 40 cylinders of 2 heads of sectors 1 to 16 of 256 bytes
// in order, nothing else: track t at offset t * 4096. An IMD file is an
// ASCII header ending in 0x1A, then per track its mode, cylinder, head
// (bit 7: a cylinder map follows, bit 6: a head map), sector count and size
// code, the sector-number map, the optional maps, and one record a sector:
// a type byte, then the data (types 1, 3, 5, 7), one fill byte (2, 4, 6, 8:
// compressed) or nothing (0: unavailable). Types 3 and 4 carry a deleted-
// data mark, 5 and 6 a data error, 7 and 8 both. Each is read as one disk
// image whose records carry the same marks as a D88's.
//
// Everything read from the file is untrusted: every count and offset is
// checked before it is used, positions are computed in 64 bits, and a field
// that points nowhere simply finds nothing. The work of one opened file is
// bounded whatever its fields say: a walk ends after 65,535 records, and a
// budget of records walked and bytes read ends all reading. A read the system
// fails is a failure the caller can ask about, never a missing sector. No
// operation prints; outcomes are return values.
#ifndef D88CUT_D88_D88_READER_H
#define D88CUT_D88_D88_READER_H

#include <cstdint>

#include "platform/platform.h"

namespace d88 {

constexpr std::int32_t kDiskHeaderSize = 688;
constexpr std::int32_t kDiskNameSize = 16;
// An IMD file's header text shows where a D88's name does, up to this many
// bytes.
constexpr std::int32_t kMaxNameSize = 128;
constexpr std::int32_t kMediaTypeOffset = 27;
constexpr std::int32_t kDiskSizeOffset = 28;
constexpr std::int32_t kTrackTableOffset = 32;
// 164 entries fill the header exactly: 32 + 164 * 4 = 688.
constexpr std::int32_t kTrackCount = 164;
// The listing of disk images ends after this many, even if more follow.
constexpr std::int32_t kMaxDisks = 64;
// A disk image's size field may run past the end of a file cut short, but
// no floppy disk gives an image this large: a header whose size both runs
// past the end and exceeds this is not a D88 disk header (text, or bytes
// read from the wrong offset).
constexpr std::int32_t kMaxPlausibleDiskSize = 8 << 20;

constexpr std::int32_t kSectorHeaderSize = 16;
constexpr std::int32_t kSectorCountOffset = 4;
constexpr std::int32_t kDeletedMarkOffset = 7;
constexpr std::int32_t kStatusOffset = 8;
constexpr std::int32_t kDataSizeOffset = 14;
constexpr std::uint8_t kDeletedMark = 0x10;
constexpr std::uint8_t kStatusGood = 0x00;
// What a D88 records for a data CRC error: an IMD record of a data error
// reads as one.
constexpr std::uint8_t kStatusDataError = 0xB0;
// A size code above this is no floppy sector (16 KiB): 128 << N is not
// taken for a record's data size beyond it.
constexpr std::int32_t kMaxRealSizeCode = 7;

// A raw 2D image: 80 tracks of 16 sectors of 256 bytes, and nothing else.
constexpr std::int32_t kRaw2DTracks = 80;
constexpr std::int32_t kRaw2DSectors = 16;
constexpr std::int32_t kRaw2DSectorSize = 256;
constexpr std::int32_t kRaw2DTrackSize = kRaw2DSectors * kRaw2DSectorSize;
constexpr std::int64_t kRaw2DImageSize = std::int64_t{kRaw2DTracks} * kRaw2DTrackSize;
// The most sector records an IMD file may hold that the reader indexes:
// 164 tracks of 64 sectors, far more than any floppy disk.
constexpr std::int32_t kMaxImdRecords = kTrackCount * 64;
// A sector of size code N holds kMinSectorSize << N bytes.
constexpr std::int32_t kMinSectorSize = 128;
// Size codes above this make 128 << N overflow a signed 32-bit step.
constexpr std::int32_t kMaxSizeCode = 23;

// D88 images of the disks handled run from about 350 KiB to 1.3 MiB: the
// reader's buffer holds any of them whole, so a run reads the file once.
constexpr std::int32_t kStreamBufferSize = 2 << 20;

// No track's 16-bit sector count can describe more records: a walk still
// going by then follows headers whose counts disagree, and ends there.
constexpr std::int32_t kMaxWalkRecords = 65535;
// What one opened file may cost at most, far above what any image a real
// disk gives needs (64 disk images of a few hundred records a track walk
// about 4 million records and read about 256 MiB): an image built to make a
// run take hours stops at it within seconds instead.
constexpr std::int64_t kMaxRecordsWalked = std::int64_t{1} << 28;
constexpr std::int64_t kMaxBytesRead = std::int64_t{1} << 30;

// Why the reader stopped short of what it was asked when the image is not
// to blame: a caller must never take these for sectors that are absent.
enum class ReadFailure {
    kNone,
    // open: the system would not open the path; failureErrno() says why.
    kCannotOpen,
    // open: not a regular file (a pipe, a FIFO, a device), which cannot be
    // read in the order disk images are visited; refused before any read.
    kNotAFile,
    // The system failed a read, or could not say what the open file is;
    // failureErrno() holds its reason.
    kReadError,
    // The budget of records walked or bytes read is spent.
    kWorkExhausted,
};

// The unsigned value of two bytes, first byte lowest.
inline std::uint16_t readLe16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

// The signed value of four bytes, first byte lowest.
inline std::int32_t readLe32(const std::uint8_t* bytes) {
    const std::uint32_t u =
        static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
        (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
    // Two's complement spelled out, so the result never rests on an
    // implementation-defined conversion.
    return u <= 0x7FFFFFFFu ? static_cast<std::int32_t>(u) : -static_cast<std::int32_t>(~u) - 1;
}

// What the file is. Compressed files are recognised, never read.
enum class Format {
    kD88,
    kRaw2D,
    kImd,
    kGzip,
    kZip,
};

// Why an IMD file was read only in part: the track at imdStopOffset() and
// those after it were not read.
enum class ImdStop {
    kNone,
    kCutShort,       // the file ends inside the track
    kSizeTable,      // size code 0xFF: each sector's size in a table, not read
    kBadSizeCode,    // a size code above 6, which the format does not have
    kBadRecordType,  // a record type above 8
    kBadTrack,       // a cylinder and head past the 164 tracks of a D88
    kTooManyRecords  // more than kMaxImdRecords sectors
};

// The first record of a disk image whose data-size field was not taken, in
// file order of the tracks walked: its track and identity.
struct StepFix {
    std::int32_t track = -1;
    std::uint8_t c = 0, h = 0, r = 0, n = 0;
    std::int32_t dataSize = 0;  // the field as it stands
};

// Which copy a read takes where a track holds one identity more than once.
enum class Copy {
    kFirst,  // the first recorded, as a floppy controller would find it
    // The first recorded without an error status or a deleted-data mark;
    // the first when every copy is flagged. Dumps that read a sector again
    // after an error keep both reads.
    kClean,
};

// What one read of a sector found: the copy taken, where its data lies in
// the file, and how many of its bytes arrived.
struct SectorRead {
    bool found = false;                 // a record of that identity is on the track
    std::int32_t got = 0;               // bytes placed in `out`
    std::int32_t dataSize = 0;          // as the copy's header gives it
    std::int64_t dataOffset = -1;       // file offset of the copy's data
    std::uint8_t status = kStatusGood;  // the copy's status byte
    bool deleted = false;               // recorded with a deleted-data mark
    // An IMD record whose data is one fill byte, at dataOffset: its type
    // byte stands before it.
    bool compressed = false;
    // The dump says it did not read this copy well.
    bool flagged() const { return deleted || status != kStatusGood; }
};

class D88Reader {
public:
    D88Reader() = default;
    ~D88Reader();
    D88Reader(const D88Reader&) = delete;
    D88Reader& operator=(const D88Reader&) = delete;

    // Opens the file and lists its disk images; true also when it holds none,
    // false when it cannot be opened or read. A null path closes the file and
    // returns true.
    bool open(const char* path);
    std::int32_t diskCount() const { return diskCount_; }
    // True when a header that can be a disk header follows the last disk
    // image listed, which the listing's limit of kMaxDisks left out.
    bool moreDisksThanListed() const { return moreDisks_; }
    // The index of the first disk image whose disk-size field is 0, after
    // which the listing repeats that one header; -1 when none is.
    std::int32_t zeroSizeDisk() const { return zeroSizeDisk_; }
    // The file offset and disk-size field of disk image `index` as listed.
    std::int64_t diskOffsetAt(std::int32_t index) const { return diskOffsets_[index]; }
    std::int32_t diskSizeAt(std::int32_t index) const { return diskSizes_[index]; }
    // Whether the header of disk image `index` can be a disk header: false
    // when its size field is negative or below a header's size, or 0 with no
    // track, when its track table holds a negative offset, or when it runs
    // past the end of the file by more than any floppy disk's image, or with
    // no track inside it (text, zeros, a raw sector dump, or bytes read at
    // the wrong offset). It is listed all the same; the caller decides what
    // it is.
    bool plausibleAt(std::int32_t index) const { return plausible_[index]; }
    // Bytes after the last disk image listed that make no disk header: fewer
    // than a header, but for a single byte, which some writers add, or after
    // kMaxDisks disk images, a header that cannot be one. 0 when there are
    // none.
    std::int64_t trailingBytes() const { return trailingBytes_; }
    std::int64_t trailingOffset() const { return trailingOffset_; }
    // The file offset of a disk header the listing could not take because it
    // lies past 2 GiB, where the layout's 32-bit offsets end; -1 when none.
    std::int64_t unreachableDisk() const { return unreachableDisk_; }
    // The size of the file when it was opened.
    std::int64_t fileSize() const { return openedState_.size; }
    // What the file is: D88 (also when it is no disk image at all), a raw
    // 2D image, an IMD file, or a compressed file, which lists no disk.
    Format format() const { return format_; }
    // Where an IMD file was read only in part, why, and the offset of the
    // track not read; kNone when it was read whole.
    ImdStop imdStop() const { return imdStop_; }
    std::int64_t imdStopOffset() const { return imdStopOffset_; }
    // Where disk image `index` ends for its reading: where its size field
    // says, or where its tracks end once the track table was followed.
    std::int64_t diskEndAt(std::int32_t index) const { return diskEnds_[index]; }
    // Reads disk image `index` by its track table: it ends where the records
    // of its last track do (at most at the end of the file), and the disk
    // images after it are listed again from there. For a header whose size
    // field disagrees with the file (0, too small or too large); the caller
    // decides which. False, and nothing changed, when no track of the table
    // lies in the file.
    bool followTrackTable(std::int32_t index);
    // True once followTrackTable took disk image `index`.
    bool followedAt(std::int32_t index) const { return followed_[index]; }
    // Where the records of the last track of disk image `index` end by its
    // track table: past the end of the file when that track, or its records,
    // run past it; -1 when the table holds no track.
    std::int64_t tracksEndAt(std::int32_t index);
    // Makes disk image `index` current; false (and no disk selected) when the
    // index is out of range or its header can no longer be read whole. With
    // `toFileEnd`, its tracks are read as far as the file goes, whatever its
    // size field says: to look at a disk image whose field disagrees.
    bool selectDisk(std::int32_t index, bool toFileEnd = false);
    // The sector numbers that begin and end a track in readSectors' runs.
    void setSectorRange(std::int32_t first, std::int32_t last);

    // Reads the sector with identity (c, h, r, n) on track `track` into `out`,
    // at most maxLen bytes; returns the bytes that arrived, 0 when not found.
    std::int32_t readSector(std::int32_t track, std::int32_t c, std::int32_t h, std::int32_t r,
                            std::int32_t n, std::uint8_t* out, std::int32_t maxLen);
    // Reads `length` bytes of consecutive sectors from (c, h, r, n) on, in
    // steps of 128 << n bytes, across tracks; returns the bytes of the whole
    // steps that were read before a sector was missing or short.
    std::int32_t readSectors(std::int32_t track, std::int32_t c, std::int32_t h, std::int32_t r,
                             std::int32_t n, std::uint8_t* out, std::int32_t length);
    // Lists the C, H, R, N bytes of a track's records in file order, 4 bytes a
    // record, as many as fit in maxLen; returns the bytes written.
    std::int32_t readTrackIds(std::int32_t track, std::uint8_t* out, std::int32_t maxLen);

    // Reads up to `count` bytes of the file from `position` on, as they
    // stand, for a copy of the image; returns the bytes that arrived. A
    // copy spends nothing of the budget of work, which bounds walks.
    std::int32_t readRaw(std::int64_t position, std::uint8_t* out, std::int32_t count);
    // readSector, with all the read found: `which` copy of the sector, its
    // place in the file and its marks.
    SectorRead readSectorCopy(std::int32_t track, std::int32_t c, std::int32_t h, std::int32_t r,
                              std::int32_t n, std::uint8_t* out, std::int32_t maxLen, Copy which);
    // The sector after (track, c, h, r) in a run, as readSectors steps: r up
    // to the range's last sector, then the range's first on the next track
    // (head 0 to 1 on one cylinder, head 1 to 0 on the next).
    void stepRun(std::int32_t& track, std::int32_t& c, std::int32_t& h, std::int32_t& r) const;

    std::int32_t currentDisk() const { return currentDisk_; }
    // The current disk's name, NUL-terminated (empty when none is selected):
    // a D88 header's name field, an IMD file's header text.
    const char* diskName() const { return name_; }
    // The records of the current disk whose data-size field was not taken,
    // in the tracks walked so far, and the first of them.
    std::int32_t stepFixes() const;
    StepFix firstStepFix() const;
    std::int32_t mediaType() const { return mediaType_; }
    // The current disk's disk-size field; 0 when none is selected.
    std::int32_t diskSize() const { return diskSize_; }
    // What the system said of the file when it was opened (which file it is,
    // its size and time), and what it says now; false when it cannot say.
    const d88cut::platform::FileState& openedState() const { return openedState_; }
    bool currentState(d88cut::platform::FileState& state) const;

    // kNone while every read the reader asked of the system was answered.
    // Once it is anything else, the reader reads nothing more until the next
    // open: every operation finds nothing.
    ReadFailure failure() const { return failure_; }
    int failureErrno() const { return failureErrno_; }
    std::int64_t recordsWalked() const { return recordsWalked_; }

private:
    void close();
    // The reader's file stream: reads at a position, beneath a buffer of its
    // own, so that seeks and reads inside the buffer make no system call and
    // the file is read in large pieces.
    //
    // Moves the read position; false when it is negative.
    bool seekTo(std::int64_t position);
    void skip(std::int32_t count) { position_ += count; }
    // Reads up to `count` bytes at the read position; returns those that
    // arrived, fewer only at the end of the file or where it cannot be read.
    std::int32_t readBytes(std::uint8_t* out, std::int32_t count);
    // The next record header: a pointer into the buffer when it lies there
    // whole, else read into `scratch`; null when it cannot be read whole.
    const std::uint8_t* readSectorHeader(std::uint8_t* scratch);
    // Refills the buffer from `position` on; false when nothing arrived, at
    // the end of the file or on a failure.
    bool fill(std::int64_t position);
    // Forgets the buffer, so that the next read sees the file as it is now.
    void dropBuffer();
    // Seeks to the first record of `track`; false when the track is absent.
    bool seekTrack(std::int32_t track);
    // A walk through the records of one track of a D88 disk image: each
    // record's header (in the buffer, or copied into the walk; good until
    // the next read), where its data lies and the step past it.
    struct Record {
        const std::uint8_t* header;
        std::int32_t dataSize;  // the step to the next record
        std::int64_t dataAt;
    };
    struct Walk {
        std::int32_t track = 0;
        bool emptyEnds = true;  // a sector count of 0 ends the track
        bool done = false;
        std::int32_t walked = 0;
        std::int32_t fixes = 0;
        // The first record's C, H and sector-count field: those of the track.
        std::uint8_t c = 0, h = 0;
        std::int32_t rawCount = 0;
        std::int64_t next = 0;  // where the next record's header starts
        // The last record's data-size field was taken on trust: the next
        // header read shows whether it leads to a record of the track, or
        // only 128 << N does (at `nominalNext`).
        bool unsure = false;
        std::int64_t nominalNext = 0;
        std::uint8_t unsureId[4] = {};
        std::int32_t unsureField = 0;
        std::uint8_t copy[kSectorHeaderSize] = {};
    };
    bool beginWalk(Walk& walk, std::int32_t track);
    // The next record of the walk; false when the track ends. The plain
    // record of a track begun is read in line; the rest the long way.
    bool nextRecord(Walk& walk, Record& record);
    bool nextRecordSlowly(Walk& walk, Record& record);
    // Settles the data size of the record just walked (`record`), taken on
    // trust, before its data is read.
    void settleStep(Walk& walk, Record& record);
    void noteFix(Walk& walk, const std::uint8_t* id, std::int32_t field);
    void endWalk(const Walk& walk);
    // Whether a record of the walk's track can begin at `position` (`last`:
    // where its last record ends: a track, the disk image or the file).
    bool recordCanStart(const Walk& walk, std::int64_t position, bool last);
    // Walks `track` from its first record to the first record of this
    // identity (with `cleanOnly`, the first not flagged) and leaves the
    // position at its data; says what it found, `got` 0.
    SectorRead findRecord(std::int32_t track, std::int32_t c, std::int32_t h, std::int32_t r,
                          std::int32_t n, bool cleanOnly);
    // The same in a raw 2D image and an IMD file.
    SectorRead findRaw2D(std::int32_t track, std::int32_t c, std::int32_t h, std::int32_t r,
                         std::int32_t n) const;
    SectorRead findImd(std::int32_t track, std::int32_t c, std::int32_t h, std::int32_t r,
                       std::int32_t n, bool cleanOnly) const;
    // Lists the disk images from `position` on, after the first `count`.
    void listFrom(std::int32_t count, std::int64_t position);
    // Reads an IMD file's header and indexes its records.
    void openImd(const std::uint8_t* start, std::int32_t length);
    bool readImdTrack(std::int64_t& position, bool store, std::int32_t* filled);
    // True while the reader may go on: no failure, and records left in the
    // budget.
    bool mayWalk();
    void fail(ReadFailure failure, int reason);
    void clearSelection();

    d88cut::platform::File file_ = d88cut::platform::kNoFile;
    d88cut::platform::FileState openedState_;
    std::int32_t currentDisk_ = -1;
    std::int32_t diskCount_ = 0;
    bool moreDisks_ = false;
    std::int32_t zeroSizeDisk_ = -1;
    std::int32_t firstSector_ = 1;
    std::int32_t lastSector_ = 16;
    Format format_ = Format::kD88;
    std::int32_t diskOffsets_[kMaxDisks] = {};
    std::int32_t diskSizes_[kMaxDisks] = {};
    std::int64_t diskEnds_[kMaxDisks] = {};
    bool plausible_[kMaxDisks] = {};
    bool followed_[kMaxDisks] = {};
    std::int64_t trailingBytes_ = 0;
    std::int64_t trailingOffset_ = 0;
    std::int64_t unreachableDisk_ = -1;
    std::int32_t diskSize_ = 0;
    std::int32_t diskOffset_ = 0;
    // Where the current disk image ends for its reading: a track at or past
    // it is absent.
    std::int64_t diskExtent_ = 0;
    std::int32_t trackOffsets_[kTrackCount] = {};
    std::int32_t mediaType_ = -1;
    // One byte more than the longest name, so it always ends in NUL.
    char name_[kMaxNameSize + 1] = {};
    // The records whose data-size field was not taken, by track (the most
    // any walk of the track met), and the first of each track.
    std::int32_t trackFixes_[kTrackCount] = {};
    StepFix trackFirstFix_[kTrackCount] = {};

    // An IMD file: its header text, and every record by track, in file
    // order within a track.
    struct ImdRecord {
        std::int64_t dataAt;  // its data, or its fill byte
        std::uint8_t c, h, r, n;
        std::uint8_t type;
    };
    char imdText_[kMaxNameSize + 1] = {};
    ImdStop imdStop_ = ImdStop::kNone;
    std::int64_t imdStopOffset_ = 0;
    std::int32_t imdRecordCount_ = 0;
    std::int32_t imdTrackFirst_[kTrackCount] = {};
    std::int32_t imdTrackCount_[kTrackCount] = {};
    // Filled before it is read, and without an initializer: the reader is
    // static, and zeroing it at start-up cost a cut a third of its CPU.
    ImdRecord imdRecords_[kMaxImdRecords];

    // The stream's state: buffer_ holds bufferLength_ bytes of the file from
    // bufferStart_ on; position_ is where the next read starts.
    std::int64_t position_ = 0;
    std::int64_t bufferStart_ = 0;
    std::int32_t bufferLength_ = 0;
    // The buffer ends at the end of the file: nothing lies beyond it.
    bool bufferReachesEnd_ = false;
    // Where the file ended when it was opened, or where a fill since met its
    // end: no fill asks for more.
    std::int64_t knownEnd_ = -1;
    ReadFailure failure_ = ReadFailure::kNone;
    int failureErrno_ = 0;
    // The work since the file was opened, against the budget above.
    std::int64_t recordsWalked_ = 0;
    std::int64_t bytesRead_ = 0;
    std::uint8_t buffer_[kStreamBufferSize];
};

}  // namespace d88

#endif
