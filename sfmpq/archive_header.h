// A look at an archive's header before the engine is given the file.
//
// The engine takes the sizes of the hash and block tables from the header as
// they stand and allocates and decrypts tables of that size, whatever the
// file holds: a damaged or hostile header claiming hundreds of millions of
// entries costs gigabytes of memory and many seconds per open. Such headers
// are refused here.
#pragma once

namespace sfmpq {

// Tables larger than this many entries must fit in the file behind the
// header; smaller ones may be cut short, as some protected maps have them.
constexpr unsigned kMaxUncheckedTableEntries = 1u << 20;

// Returns 0 when the file has no archive header the engine would find (the
// engine then says so itself) or a header whose tables are believable;
// ENOEXEC for a header whose tables cannot be in the file, or an errno value
// when the file cannot be read.
int CheckArchiveHeader(const char* path);

} // namespace sfmpq
