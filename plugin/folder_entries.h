// Folders in the host's name lists. MPQ archives have no folders: a member's
// folder is only the part of its name before a backslash. A delete list names
// a folder as "folder\*.*" ("folder/*.*" from a Linux host) and means every
// member below it; an add list names a folder as "folder\" ("folder/"), which
// has nothing to add.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive_library/archive_library.h"

// For a member name (backslash form) that ends with a backslash and "*.*":
// the length of the folder part, its backslash included. 0 for any other
// name.
size_t FolderEntryPrefixLength(const char* member);

// True when the host's add-list name ends with a folder separator.
bool IsFolderAddEntry(const char* name);

// The existing members of a listing, ordered by name with ASCII letters
// folded, so that the members of a folder, and the records of one name,
// stand together. Each position carries a mark: the member was dealt with
// by this call.
struct MemberIndex {
    const ListEntry* entries;
    uint32_t* order; // indexes into `entries`
    unsigned char* done;
    uint32_t count;
};

// Builds the index of the existing records of `entries`; a record whose name
// fills its field without a terminating zero names no member and is left
// out. Returns false when memory is short, leaving the index empty.
bool BuildMemberIndex(MemberIndex* index, const ListEntry* entries, uint32_t entryCount);
void FreeMemberIndex(MemberIndex* index);

// The name of the member at `position`.
const char* IndexedName(const MemberIndex* index, uint32_t position);

// The positions [*first, *end) of the members whose names start with the
// `length` bytes of `prefix`, ASCII letter case aside.
void FindByPrefix(const MemberIndex* index, const char* prefix, size_t length, uint32_t* first,
                  uint32_t* end);

// The positions [*first, *end) of the members named `name`, letter case
// aside (a name can be listed once per locale).
void FindByName(const MemberIndex* index, const char* name, uint32_t* first, uint32_t* end);
