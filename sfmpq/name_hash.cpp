#include "sfmpq/name_hash.h"

namespace sfmpq {

namespace {

// The format's table of 0x500 pseudo-random values, made from one seed.
struct CryptTable {
    uint32_t values[0x500];

    CryptTable() {
        uint32_t seed = 0x00100001;
        for (uint32_t first = 0; first < 0x100; ++first) {
            for (uint32_t i = 0, index = first; i < 5; ++i, index += 0x100) {
                seed = (seed * 125 + 3) % 0x2AAAAB;
                const uint32_t high = (seed & 0xFFFF) << 16;
                seed = (seed * 125 + 3) % 0x2AAAAB;
                values[index] = high | (seed & 0xFFFF);
            }
        }
    }
};

const CryptTable crypt;

unsigned char Fold(unsigned char c) {
    return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

} // namespace

NameHashes HashName(const char* name) {
    // The table's first three rows of 0x100 values, one per hash.
    const uint32_t* index = crypt.values;
    const uint32_t* a = crypt.values + 0x100;
    const uint32_t* b = crypt.values + 0x200;
    uint32_t index1 = 0x7FED7FED, index2 = 0xEEEEEEEE;
    uint32_t a1 = 0x7FED7FED, a2 = 0xEEEEEEEE;
    uint32_t b1 = 0x7FED7FED, b2 = 0xEEEEEEEE;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p; ++p) {
        const uint32_t c = Fold(*p);
        index1 = index[c] ^ (index1 + index2);
        index2 = c + index1 + index2 + (index2 << 5) + 3;
        a1 = a[c] ^ (a1 + a2);
        a2 = c + a1 + a2 + (a2 << 5) + 3;
        b1 = b[c] ^ (b1 + b2);
        b2 = c + b1 + b2 + (b2 << 5) + 3;
    }
    return {index1, a1, b1};
}

} // namespace sfmpq
