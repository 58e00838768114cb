// The per-archive handle that OpenArchive hands to the host.
#pragma once

#include <cstdint>

#include "archive_library/archive_library.h"

struct OpenedArchive {
    uint32_t nextIndex;  // the entry after the one ReadHeader returned last
    ListEntry* entries;  // one record per member slot, filled by the library
    uint32_t entryCount; // number of member slots
    MpqHandle archive;   // the library's archive handle, closed by CloseArchive
};

// The entry that ReadHeader returned last, or null when there is none yet.
inline const ListEntry* CurrentEntry(const OpenedArchive* opened) {
    if (!opened || opened->nextIndex == 0 || opened->nextIndex > opened->entryCount) {
        return nullptr;
    }
    return &opened->entries[opened->nextIndex - 1];
}
