#include "plugin/folder_entries.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/bounded_text.h"
#include "platform/platform.h"

namespace {

const char kAllMembers[] = "*.*";
constexpr size_t kAllMembersLength = sizeof kAllMembers - 1;

// Orders two names byte by byte with ASCII letters folded; a name before
// every longer name it begins.
int CompareNoCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        unsigned char x = static_cast<unsigned char>(LowerAscii(*a));
        unsigned char y = static_cast<unsigned char>(LowerAscii(*b));
        if (x != y || x == 0) {
            return x < y ? -1 : (x > y ? 1 : 0);
        }
    }
}

// Compares the beginning of `name` with the `length` bytes of `prefix`: 0
// when the name begins with it, else as CompareNoCase orders them.
int ComparePrefixNoCase(const char* name, const char* prefix, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        unsigned char x = static_cast<unsigned char>(LowerAscii(name[i]));
        unsigned char y = static_cast<unsigned char>(LowerAscii(prefix[i]));
        if (x != y) {
            return x < y ? -1 : 1; // a name that ends early is the smaller
        }
    }
    return 0;
}

} // namespace

size_t FolderEntryPrefixLength(const char* member) {
    size_t length = std::strlen(member);
    if (length < kAllMembersLength + 1) {
        return 0;
    }
    size_t folderLength = length - kAllMembersLength;
    if (member[folderLength - 1] != '\\' || std::strcmp(member + folderLength, kAllMembers) != 0) {
        return 0;
    }
    return folderLength;
}

bool IsFolderAddEntry(const char* name) {
    size_t length = std::strlen(name);
    return length > 0 && IsFolderSeparator(name[length - 1]);
}

bool BuildMemberIndex(MemberIndex* index, const ListEntry* entries, uint32_t entryCount) {
    index->entries = entries;
    index->count = 0;
    index->order = static_cast<uint32_t*>(std::calloc(entryCount + 1, sizeof(uint32_t)));
    index->done = static_cast<unsigned char*>(std::calloc(entryCount + 1, 1));
    if (!index->order || !index->done) {
        FreeMemberIndex(index);
        return false;
    }
    for (uint32_t i = 0; i < entryCount; ++i) {
        const ListEntry& entry = entries[i];
        if (entry.exists && strnlen(entry.name, sizeof entry.name) < sizeof entry.name) {
            index->order[index->count++] = i;
        }
    }
    std::sort(index->order, index->order + index->count, [entries](uint32_t a, uint32_t b) {
        return CompareNoCase(entries[a].name, entries[b].name) < 0;
    });
    return true;
}

void FreeMemberIndex(MemberIndex* index) {
    std::free(index->order);
    std::free(index->done);
    index->order = nullptr;
    index->done = nullptr;
    index->count = 0;
}

const char* IndexedName(const MemberIndex* index, uint32_t position) {
    return index->entries[index->order[position]].name;
}

void FindByPrefix(const MemberIndex* index, const char* prefix, size_t length, uint32_t* first,
                  uint32_t* end) {
    const ListEntry* entries = index->entries;
    const uint32_t* begin = index->order;
    const uint32_t* last = index->order + index->count;
    const uint32_t* low = std::partition_point(begin, last, [&](uint32_t i) {
        return ComparePrefixNoCase(entries[i].name, prefix, length) < 0;
    });
    const uint32_t* high = std::partition_point(low, last, [&](uint32_t i) {
        return ComparePrefixNoCase(entries[i].name, prefix, length) == 0;
    });
    *first = static_cast<uint32_t>(low - begin);
    *end = static_cast<uint32_t>(high - begin);
}

void FindByName(const MemberIndex* index, const char* name, uint32_t* first, uint32_t* end) {
    size_t length = std::strlen(name);
    FindByPrefix(index, name, length, first, end);
    // Of the names that begin with `name`, the equal ones come first.
    uint32_t equal = *first;
    while (equal < *end && IndexedName(index, equal)[length] == '\0') {
        ++equal;
    }
    *end = equal;
}
