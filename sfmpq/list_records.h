// A listing as the engine sends it: one record per slot that holds a member,
// in slot order, packed one after the other into the staging area. Most
// slots of a large archive hold short names, so this is a few bytes per
// member where the caller's ListEntry array takes 280 per slot; the client
// spreads the records over that array itself.
//
// A record is a ListRecord followed by its name's bytes (no zero), padded
// with zeros to a multiple of 4 bytes. The reader trusts nothing of it: the
// engine may have been taken over by the archive it reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "archive_library/archive_library.h"
#include "sfmpq/member_names.h"

namespace sfmpq {

struct ListRecord {
    uint32_t slot;
    uint32_t locale;
    uint32_t compressedSize;
    uint32_t fullSize;
    uint32_t flags;
    uint32_t nameLength;
};
static_assert(sizeof(ListRecord) == 24, "one record layout for 32- and 64-bit builds");

// The most bytes one record takes: a name of kMaxMemberName characters.
constexpr size_t kMaxListRecord = sizeof(ListRecord) + 260;

// Appends records to a buffer of `capacity` bytes. With `prefault` (for a
// page-aligned buffer of fresh shared memory) the pages ahead of the records
// are asked for a stretch at a time, not taken one fault at a time.
class ListRecordWriter {
  public:
    ListRecordWriter(unsigned char* buffer, size_t capacity, bool prefault = false)
        : buffer_(buffer), capacity_(capacity), prefault_(prefault) {}

    // Appends one record, its name cut to kMaxMemberName characters. False,
    // with nothing written, when it does not fit.
    bool Put(const ListRecord& record, const char* name, size_t nameLength);

    size_t Used() const { return used_; }

  private:
    void Prefault(size_t needed);

    unsigned char* buffer_;
    size_t capacity_;
    size_t used_ = 0;
    bool prefault_;
    size_t prefaulted_ = 0;
};

// Spreads the `used` bytes of records over `entries` (`count` of them): every
// entry is cleared (unless `cleared` says they all are already), then each
// record fills the entry of its slot. The names' order goes into `names`
// when given. False (nothing more written) at the first record that is cut
// short, out of slot order, beyond `count` or with a name longer than
// kMaxMemberName. `behind`, when given, is called with the bytes of records
// gone through so far each time another kSpreadStep of them has been.
constexpr size_t kSpreadStep = size_t(64) << 10;
bool SpreadListRecords(const unsigned char* records, size_t used, ListEntry* entries,
                       uint32_t count, NameFingerprints* names, bool cleared = false,
                       void (*behind)(size_t consumed, void* context) = nullptr,
                       void* context = nullptr);

} // namespace sfmpq
