// A look at an archive's header before an engine is given the file.
//
// StormLib trusts what the header says. It allocates and decrypts hash and
// block tables of the claimed size, whatever the file holds (a damaged or
// hostile header claiming hundreds of millions of entries costs gigabytes of
// memory and many seconds per open), and it computes the sector size as 512
// shifted left by the header's shift, which overflows to 0 (a division by
// zero) for large shifts. Inside the engine these would only end the engine;
// checked here, the caller learns that the file is no usable archive
// (ENOEXEC) at once.
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
    // A user-data header ("MPQ\x1B") comes before it; StormLib follows such a
    // header, possibly elsewhere than this check looked.
    bool userDataBefore = false;
};

// Finds the first header the format allows in `path`: the first "MPQ\x1A"
// signature, at a multiple of 512 bytes, with a header
// size of at least 32 bytes. Returns 0 when there is none (the engine then
// says so itself) or when that header is believable; ENOEXEC for a header
// whose tables cannot be in the file, whose sector shift is absurd, that is
// cut short, or for an "MPK" archive met first; an errno value when the file
// cannot be read. `info` (optional) tells what was found.
int CheckArchiveHeader(const char* path, ArchiveHeaderInfo* info = nullptr);

} // namespace sfmpq
