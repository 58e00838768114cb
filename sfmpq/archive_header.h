// A look at an archive's header before the engine is given the file.
//
// The engine trusts what the header says. It allocates and decrypts hash and
// block tables of the claimed size, whatever the file holds (a damaged or
// hostile header claiming hundreds of millions of entries costs gigabytes of
// memory and many seconds per open); it computes the sector size as 512
// shifted left by the header's shift, which overflows to 0 (a division by
// zero) for large shifts; and it asserts on several inconsistent fields of
// the newer header formats and of the related "MPK" format. The library
// therefore opens every archive as format 1, where the engine reads only the
// classic fields, and checks those fields here first.
#pragma once

#include <cstdint>

namespace sfmpq {

// Tables larger than this many entries must fit in the file behind the
// header; smaller ones may be cut short, as some protected maps have them.
constexpr unsigned kMaxUncheckedTableEntries = 1u << 20;

// The largest sector-size shift believed: sectors of 512 << 15 = 16 MiB.
constexpr unsigned kMaxSectorShift = 15;

struct ArchiveHeaderInfo {
    bool found = false;      // the engine would take a header in this file
    uint64_t offset = 0;     // where that header starts
    uint16_t formatCode = 0; // its format field: 0 for format 1, 1 for format 2, ...
    // A user-data header ("MPQ\x1B") comes before it. Opened for writing, the
    // engine cannot be held to format 1 and follows such a header elsewhere.
    bool userDataBefore = false;
};

// Finds the header the engine would use when it opens `path` as format 1:
// the first "MPQ\x1A" signature, at a multiple of 512 bytes, with a header
// size of at least 32 bytes. Returns 0 when there is none (the engine then
// says so itself) or when that header is believable; ENOEXEC for a header
// whose tables cannot be in the file, whose sector shift is absurd, that is
// cut short, or for an "MPK" archive met first; an errno value when the file
// cannot be read. `info` (optional) tells what was found.
int CheckArchiveHeader(const char* path, ArchiveHeaderInfo* info = nullptr);

} // namespace sfmpq
