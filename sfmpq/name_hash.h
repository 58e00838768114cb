// The archive format's name hashes: where a member's name puts it in the hash
// table and the two values that tell it from the other names there. The
// letter case of ASCII letters does not count; '/' and '\' are different.
#pragma once

#include <cstdint>

namespace sfmpq {

enum class NameHash : uint32_t {
    TableIndex = 0, // the slot the search starts at (masked to the table's size)
    NameA = 1,      // the slot's first name hash
    NameB = 2,      // the slot's second name hash
};

// The hash of `name` (zero-terminated) of the given kind.
uint32_t HashName(const char* name, NameHash kind);

} // namespace sfmpq
