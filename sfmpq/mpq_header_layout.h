// The MPQ archive header, as far as this project reads it before StormLib
// does: the stand-in's checks (archive_header.h) and the tarnel command's
// look at an archive (host/archive_check.h). Header only, so that the
// command, built for Windows too, shares it without linking the stand-in.
//
// A header starts at a multiple of kHeaderStep bytes with its signature;
// every field is little-endian, at these offsets from the signature. The
// table positions count from the header's start.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mpq_header {

constexpr size_t kHeaderStep = 512; // readers look at every such boundary

// Signatures: an archive header; a user-data header, which may come before
// one; an "MPK" archive, which is no MPQ archive.
constexpr char kArchiveSignature[] = "MPQ\x1A";
constexpr char kUserDataSignature[] = "MPQ\x1B";
constexpr char kMpkSignature[] = "MPK\x1A";
constexpr size_t kSignatureSize = 4;

constexpr size_t kHeaderSizeField = 4;      // uint32: the header's size in bytes
constexpr size_t kFormatField = 12;         // uint16: 0 for format 1, 1 for format 2, ...
constexpr size_t kSectorShiftField = 14;    // uint16: sectors of 512 << shift bytes
constexpr size_t kHashTablePosField = 16;   // uint32
constexpr size_t kBlockTablePosField = 20;  // uint32
constexpr size_t kHashTableSizeField = 24;  // uint32: entries
constexpr size_t kBlockTableSizeField = 28; // uint32: entries

// The format-1 header, which every later format begins with; a signature
// with a smaller header size is no header.
constexpr size_t kFormat1HeaderSize = 32;

// The bytes of one hash-table or block-table entry.
constexpr uint64_t kTableEntrySize = 16;

} // namespace mpq_header
