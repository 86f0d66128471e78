// The merge of several dumps' accounts, sector by sector, by the rules in
// merge.h; the merged account is settled by the state rule of any account.
#include "known/merge.h"

#include <cstring>

namespace d88cut {

namespace {

// Byte votes need three or more copies; two cannot outvote each other.
constexpr std::int32_t kMinVoters = 3;
// Dumps that differ in more than this share of the sectors both hold clean
// (1 in 4) may be of different disks.
constexpr std::int32_t kApartShare = 4;

// Dump d's note and bytes of sector k of file `file`; null where its account
// holds none (a file it did not read to there).
const SectorNote* noteOf(const DiskAccount& dump, std::int32_t file, std::int32_t k) {
    const FileAccount& f = dump.files[file];
    if (file >= dump.filesRead || k >= f.sectorCount) return nullptr;
    return &sectorOf(dump, f, k);
}

const std::uint8_t* bytesAt(const DiskAccount& dump, std::int32_t file, std::int32_t k) {
    return bytesOf(dump, file) + k * kSectorSize;
}

bool clean(const SectorNote* note) {
    return note != nullptr && note->found == kSectorSize && !note->flagged;
}

// One sector of the merge: its note and its bytes (`out`, zero before).
void mergeSector(const DiskAccount* const* dumps, std::int32_t count, std::int32_t file,
                 std::int32_t k, SectorNote& note, std::uint8_t* out) {
    // Clean copies: the one most dumps hold, ties to the earliest.
    std::int32_t best = -1;
    std::int32_t bestVotes = 0;
    for (std::int32_t d = 0; d < count; ++d) {
        if (!clean(noteOf(*dumps[d], file, k))) continue;
        std::int32_t votes = 0;
        for (std::int32_t e = 0; e < count; ++e) {
            if (clean(noteOf(*dumps[e], file, k)) &&
                std::memcmp(bytesAt(*dumps[d], file, k), bytesAt(*dumps[e], file, k),
                            kSectorSize) == 0) {
                ++votes;
            }
        }
        if (votes > bestVotes) {
            best = d;
            bestVotes = votes;
        }
    }
    if (best >= 0) {
        note = *noteOf(*dumps[best], file, k);
        note.from = static_cast<std::uint8_t>(best + 1);
        note.differ = 0;
        for (std::int32_t e = 0; e < count; ++e) {
            if (clean(noteOf(*dumps[e], file, k)) &&
                std::memcmp(bytesAt(*dumps[best], file, k), bytesAt(*dumps[e], file, k),
                            kSectorSize) != 0) {
                note.differ = static_cast<std::uint16_t>(note.differ | 1u << e);
            }
        }
        std::memcpy(out, bytesAt(*dumps[best], file, k), kSectorSize);
        return;
    }
    // Whole flagged copies: the earliest, or with three or more, each byte
    // the value most of them hold, ties to the earliest dump's.
    std::int32_t voters[kMaxDumps];
    std::int32_t voterCount = 0;
    for (std::int32_t d = 0; d < count; ++d) {
        const SectorNote* n = noteOf(*dumps[d], file, k);
        if (n != nullptr && n->found == kSectorSize) voters[voterCount++] = d;
    }
    if (voterCount > 0) {
        note = *noteOf(*dumps[voters[0]], file, k);
        note.from = static_cast<std::uint8_t>(voters[0] + 1);
        note.differ = 0;
        std::memcpy(out, bytesAt(*dumps[voters[0]], file, k), kSectorSize);
        if (voterCount < kMinVoters) return;
        for (std::int32_t b = 0; b < kSectorSize; ++b) {
            std::int32_t bestCount = 0;
            for (std::int32_t v = 0; v < voterCount; ++v) {
                const std::uint8_t value = bytesAt(*dumps[voters[v]], file, k)[b];
                std::int32_t same = 0;
                for (std::int32_t w = 0; w < voterCount; ++w) {
                    if (bytesAt(*dumps[voters[w]], file, k)[b] == value) ++same;
                }
                if (same > bestCount) {
                    bestCount = same;
                    out[b] = value;
                }
            }
        }
        return;
    }
    // Short copies: the longest, ties to the earliest; the rest zero.
    std::int32_t longest = -1;
    for (std::int32_t d = 0; d < count; ++d) {
        const SectorNote* n = noteOf(*dumps[d], file, k);
        if (n != nullptr && n->found > 0 &&
            (longest < 0 || n->found > noteOf(*dumps[longest], file, k)->found)) {
            longest = d;
        }
    }
    if (longest >= 0) {
        note = *noteOf(*dumps[longest], file, k);
        note.from = static_cast<std::uint8_t>(longest + 1);
        note.differ = 0;
        std::memcpy(out, bytesAt(*dumps[longest], file, k), static_cast<std::size_t>(note.found));
        return;
    }
    // Missing in every dump: its place as the first dump noted it, if any.
    const SectorNote* any = nullptr;
    for (std::int32_t d = 0; d < count && any == nullptr; ++d) any = noteOf(*dumps[d], file, k);
    if (any != nullptr) note = *any;
    note.found = 0;
    note.dataOffset = -1;
    note.flagged = false;
    note.from = 0;
    note.differ = 0;
}

}  // namespace

void mergeDumps(const DiskAccount* const* dumps, std::int32_t count, DiskAccount& merged) {
    const DiskAccount& first = *dumps[0];
    merged.number = 1;
    merged.selected = true;
    merged.offset = 0;
    merged.size = first.size;
    merged.mediaType = first.mediaType;
    std::memcpy(merged.name, first.name, sizeof merged.name);
    // A raw 2D image holds no PSGMUS; a merge holds it where any dump does.
    merged.format = d88::Format::kRaw2D;
    for (std::int32_t d = 0; d < count; ++d) {
        if (dumps[d]->format != d88::Format::kRaw2D) merged.format = d88::Format::kD88;
    }
    merged.plausible = true;
    merged.runsPastEnd = false;
    merged.followed = false;
    merged.end = 0;
    merged.stepFixes = 0;
    merged.firstFix = d88::StepFix();
    merged.boot = first.boot;
    merged.known = true;
    merged.filesRead = 0;
    for (std::int32_t i = 0; i < kFileCount; ++i) {
        const FilePlace& place = filePlace(i);
        FileAccount& file = merged.files[i];
        file = FileAccount();
        file.name = place.name;
        file.size = place.size;
        file.gathered = place.gathered;
        file.firstSector = place.firstSector;
        std::uint8_t* out = merged.bytes + place.offset;
        std::memset(out, 0, static_cast<std::size_t>(place.size));
        file.sectorCount = place.size / kSectorSize;
        for (std::int32_t k = 0; k < file.sectorCount; ++k) {
            mergeSector(dumps, count, i, k, merged.sectors[file.firstSector + k],
                        out + k * kSectorSize);
            // A block whose first sector no dump holds whole is not cut, as
            // of one dump: only that sector is noted.
            if (k == 0 && !file.gathered && merged.sectors[file.firstSector].found < kSectorSize) {
                file.sectorCount = 1;
            }
        }
        settle(merged, file);
        merged.filesRead = i + 1;
    }
}

bool dumpsApart(const DiskAccount* const* dumps, std::int32_t count, DumpsApart& apart) {
    for (std::int32_t a = 0; a < count; ++a) {
        for (std::int32_t b = a + 1; b < count; ++b) {
            std::int32_t both = 0;
            std::int32_t differ = 0;
            for (std::int32_t i = 0; i < kFileCount; ++i) {
                for (std::int32_t k = 0; k < filePlace(i).size / kSectorSize; ++k) {
                    if (!clean(noteOf(*dumps[a], i, k)) || !clean(noteOf(*dumps[b], i, k)))
                        continue;
                    ++both;
                    if (std::memcmp(bytesAt(*dumps[a], i, k), bytesAt(*dumps[b], i, k),
                                    kSectorSize) != 0) {
                        ++differ;
                    }
                }
            }
            if (both > 0 && differ * kApartShare > both) {
                apart = {a + 1, b + 1, differ, both};
                return true;
            }
        }
    }
    return false;
}

}  // namespace d88cut
