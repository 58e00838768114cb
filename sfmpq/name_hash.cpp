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

uint32_t HashName(const char* name, NameHash kind) {
    const uint32_t* table = crypt.values + static_cast<uint32_t>(kind) * 0x100;
    uint32_t seed1 = 0x7FED7FED;
    uint32_t seed2 = 0xEEEEEEEE;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p; ++p) {
        const uint32_t c = Fold(*p);
        seed1 = table[c] ^ (seed1 + seed2);
        seed2 = c + seed1 + seed2 + (seed2 << 5) + 3;
    }
    return seed1;
}

} // namespace sfmpq
