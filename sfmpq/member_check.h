// A member's data checked against its checksums as it is read, first byte to
// last: the CRC32 that the archive's "(attributes)" keeps for it, or, where
// that has no CRC32 but an MD5, the MD5. The sector checksums of members that
// have them are StormLib's to check (MPQ_OPEN_CHECK_SECTOR_CRC), with the
// engine's own adler32 (zlib_adler32.cpp). A member without a checksum reads
// unchecked.
#pragma once

#include <cstdint>
#include <string>

#include "sfmpq/storm_api.h"

namespace sfmpq {

struct MemberCheck {
    enum class Kind { None, Crc32, Md5 };
    Kind kind = Kind::None;
    uint64_t size = 0;     // the member's size
    uint64_t seen = 0;     // bytes read so far, in order
    uint32_t crc = 0;      // their running CRC32
    uint32_t expected = 0; // the CRC32 in "(attributes)"
    std::string name;      // what the MD5 check opens the member by
};

// Prepares the check of `member`, opened as `name` from `archive` with
// `size` bytes.
void BeginCheck(HANDLE archive, HANDLE member, const char* name, uint64_t size, MemberCheck* check);

// Takes the next `count` bytes read. Returns 0, or EBADMSG when they complete
// the member and it does not match its checksum.
int CheckData(HANDLE archive, MemberCheck* check, const void* data, uint32_t count);

// 0, or EBADMSG when the data of `member` would lie beyond the end of the
// archive file of `fileSize` bytes: sizes that cannot be true.
int CheckMemberFits(HANDLE archive, HANDLE member, uint64_t fileSize);

} // namespace sfmpq
