#include "sfmpq/list_records.h"

#include "sfmpq/member_names.h"

#include <cstring>
#include <sys/mman.h>

namespace sfmpq {

namespace {

size_t Padded(size_t length) {
    return (length + 3) & ~size_t(3);
}

} // namespace

bool ListRecordWriter::Put(const ListRecord& record, const char* name, size_t nameLength) {
    if (nameLength > kMaxMemberName) {
        nameLength = kMaxMemberName;
    }
    const size_t size = sizeof record + Padded(nameLength);
    if (size > capacity_ - used_) {
        return false;
    }
    if (prefault_ && used_ + size > prefaulted_) {
        Prefault(used_ + size);
    }
    ListRecord head = record;
    head.nameLength = static_cast<uint32_t>(nameLength);
    unsigned char* at = buffer_ + used_;
    std::memcpy(at, &head, sizeof head);
    std::memcpy(at + sizeof head, name, nameLength);
    std::memset(at + sizeof head + nameLength, 0, size - sizeof head - nameLength);
    used_ += size;
    return true;
}

void ListRecordWriter::Prefault(size_t needed) {
    // Stretches grow with what has been written, from 16 KiB to 256 KiB
    // (powers of two, so multiples of the page size): a small listing asks
    // for no more than a few pages it will not use.
    size_t stretch = size_t(16) << 10;
    while (stretch < prefaulted_ && stretch < (size_t(256) << 10)) {
        stretch *= 2;
    }
    size_t end = (needed + stretch - 1) / stretch * stretch;
    if (end > capacity_) {
        end = capacity_;
    }
    // A wish: where the system cannot, each page still comes at its fault.
    if (end > prefaulted_ &&
        madvise(buffer_ + prefaulted_, end - prefaulted_, MADV_POPULATE_WRITE) != 0) {
        prefault_ = false;
    }
    prefaulted_ = end;
}

bool SpreadListRecords(const unsigned char* records, size_t used, ListEntry* entries,
                       uint32_t count, NameFingerprints* names, bool cleared,
                       void (*behind)(size_t consumed, void* context), void* context) {
    if (names) {
        // Each record takes more than a ListRecord and 4 bytes: a bound for
        // the names' count.
        names->Clear();
        names->Reserve(used / (sizeof(ListRecord) + 4));
    }
    if (!cleared) {
        std::memset(entries, 0, size_t(count) * sizeof *entries);
    }
    size_t at = 0;
    size_t told = 0;       // what `behind` was last told
    uint64_t nextSlot = 0; // the lowest slot the next record may have
    while (at < used) {
        if (behind && at - told >= kSpreadStep) {
            behind(at, context);
            told = at;
        }
        ListRecord record;
        if (used - at < sizeof record) {
            return false;
        }
        std::memcpy(&record, records + at, sizeof record);
        if (record.slot < nextSlot || record.slot >= count || record.nameLength > kMaxMemberName ||
            Padded(record.nameLength) > used - at - sizeof record) {
            return false;
        }
        const char* name = reinterpret_cast<const char*>(records + at + sizeof record);
        // A zero inside the name ends it, as it would in the entry.
        const size_t length = strnlen(name, record.nameLength);
        ListEntry& entry = entries[record.slot];
        entry.exists = 1;
        entry.locale = record.locale;
        entry.compressedSize = record.compressedSize;
        entry.fullSize = record.fullSize;
        entry.flags = record.flags;
        std::memcpy(entry.name, name, length);
        if (names) {
            names->Add(name, length);
        }
        at += sizeof record + Padded(record.nameLength);
        nextSlot = uint64_t(record.slot) + 1;
    }
    return true;
}

} // namespace sfmpq
