// The archive format's name hashes: where a member's name puts it in the hash
// table and the two values that tell it from the other names there. The
// letter case of ASCII letters does not count; '/' and '\' are different.
#pragma once

#include <cstdint>

namespace sfmpq {

struct NameHashes {
    uint32_t tableIndex; // the slot the search starts at (masked to the table's size)
    uint32_t nameA;      // the slot's first name hash
    uint32_t nameB;      // the slot's second name hash
};

// The three hashes of `name` (zero-terminated), in one pass over it: each is a
// chain of steps that waits on the step before, so the three run side by side.
NameHashes HashName(const char* name);

} // namespace sfmpq
