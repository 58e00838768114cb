#include "sfmpq/checksums.h"

#include <algorithm>
#include <zlib.h>

#if defined(__x86_64__) || defined(__i386__)
#define SFMPQ_X86_CHECKSUMS 1
#include <immintrin.h>
#endif

namespace sfmpq {

namespace {

// zlib's own code, called by the names that the engine does not replace
// (it defines adler32 itself: see zlib_adler32.cpp).
uint32_t ZlibCrc32(uint32_t crc, const void* data, size_t size) {
    return static_cast<uint32_t>(crc32_z(crc, static_cast<const Bytef*>(data), size));
}

uint32_t ZlibAdler32(uint32_t adler, const void* data, size_t size) {
    return static_cast<uint32_t>(adler32_z(adler, static_cast<const Bytef*>(data), size));
}

#ifdef SFMPQ_X86_CHECKSUMS

// CRC32 by folding (carry-less multiplication): the data is taken 128 bits
// at a time into running remainders, each of which is moved forward over the
// data that follows it by multiplying its two 64-bit halves by x^(n+32) and
// x^(n-32) modulo the polynomial, then the last 128 bits are reduced to 32
// (Barrett). Everything is bit-reflected, as zlib's CRC32 is.

constexpr uint64_t kPolynomial = 0x104C11DB7; // x^32 + x^26 + ... + 1

constexpr uint64_t Reflect(uint64_t value, int bits) {
    uint64_t reflected = 0;
    for (int i = 0; i < bits; ++i) {
        reflected |= ((value >> i) & 1) << (bits - 1 - i);
    }
    return reflected;
}

// x^n modulo the polynomial, reflected and shifted as the folding wants it.
constexpr uint64_t PowerOfX(unsigned n) {
    uint64_t remainder = 1;
    for (unsigned i = 0; i < n; ++i) {
        remainder <<= 1;
        if (remainder >> 32) {
            remainder ^= kPolynomial;
        }
    }
    return Reflect(remainder, 32) << 1;
}

// The quotient of x^64 by the polynomial, reflected: Barrett's constant.
constexpr uint64_t BarrettQuotient() {
    uint64_t window = uint64_t(1) << 32; // x^64, with the 32 degrees below it
    uint64_t quotient = 0;
    for (int degree = 64; degree >= 32; --degree) {
        if ((window >> 32) & 1) {
            quotient |= uint64_t(1) << (degree - 32);
            window ^= kPolynomial;
        }
        window <<= 1;
    }
    return Reflect(quotient, 33);
}

static_assert(PowerOfX(544) == 0x154442bd4 && PowerOfX(96) == 0xccaa009e, "fold constants");
static_assert(BarrettQuotient() == 0x1f7011641, "Barrett's constant");

// The two constants that move a 128-bit remainder forward over `bits` bits:
// the low half's in the low 64 bits, the high half's in the high 64.
#define SFMPQ_FOLD_BY(bits)                                                                        \
    _mm_set_epi64x(static_cast<long long>(PowerOfX((bits)-32)),                                    \
                   static_cast<long long>(PowerOfX((bits) + 32)))

__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold(__m128i remainder, __m128i by,
                                                             __m128i next) {
    __m128i low = _mm_clmulepi64_si128(remainder, by, 0x00);
    __m128i high = _mm_clmulepi64_si128(remainder, by, 0x11);
    return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

__attribute__((target("pclmul,sse4.1"))) inline __m128i Load16(const unsigned char* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// Folds the rest in 16 bytes at a time into `remainder`, reduces it and
// hands the last bytes (fewer than 16) to zlib.
__attribute__((target("pclmul,sse4.1"))) uint32_t Finish(__m128i remainder, const unsigned char* p,
                                                         size_t size) {
    const __m128i by128 = SFMPQ_FOLD_BY(128);
    for (; size >= 16; p += 16, size -= 16) {
        remainder = Fold(remainder, by128, Load16(p));
    }
    const __m128i low32 = _mm_set_epi32(0, 0, 0, -1);
    // 128 bits to 64 (with the 32 zero bits a CRC appends)...
    __m128i x =
        _mm_xor_si128(_mm_clmulepi64_si128(remainder, by128, 0x10), _mm_srli_si128(remainder, 8));
    // ...to 64 bits that hold the 32 that matter...
    const __m128i by64 = _mm_set_epi64x(0, static_cast<long long>(PowerOfX(64)));
    x = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x, low32), by64, 0x00),
                      _mm_srli_si128(x, 4));
    // ...and Barrett's reduction to 32.
    const __m128i barrett = _mm_set_epi64x(static_cast<long long>(BarrettQuotient()),
                                           static_cast<long long>(Reflect(kPolynomial, 33)));
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x, low32), barrett, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), barrett, 0x00);
    uint32_t crc = static_cast<uint32_t>(_mm_extract_epi32(_mm_xor_si128(x, t), 1));
    return ZlibCrc32(~crc, p, size);
}

// 64 bytes a time in four 128-bit remainders.
__attribute__((target("pclmul,sse4.1"))) uint32_t Crc32Pclmul(uint32_t crc, const void* data,
                                                              size_t size) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    if (size < 64) {
        return ZlibCrc32(crc, p, size);
    }
    __m128i x0 = _mm_xor_si128(Load16(p), _mm_cvtsi32_si128(static_cast<int>(~crc)));
    __m128i x1 = Load16(p + 16);
    __m128i x2 = Load16(p + 32);
    __m128i x3 = Load16(p + 48);
    p += 64;
    size -= 64;
    const __m128i by512 = SFMPQ_FOLD_BY(512);
    for (; size >= 64; p += 64, size -= 64) {
        x0 = Fold(x0, by512, Load16(p));
        x1 = Fold(x1, by512, Load16(p + 16));
        x2 = Fold(x2, by512, Load16(p + 32));
        x3 = Fold(x3, by512, Load16(p + 48));
    }
    const __m128i by128 = SFMPQ_FOLD_BY(128);
    x0 = Fold(Fold(Fold(x0, by128, x1), by128, x2), by128, x3);
    return Finish(x0, p, size);
}

#define SFMPQ_WIDE "avx512f,vpclmulqdq,pclmul,sse4.1"

// The same 128 bits in each quarter. (Without _mm512_broadcast_i32x4 and
// _mm512_extracti32x4_epi32, which GCC 12 warns about wrongly.)
__attribute__((target(SFMPQ_WIDE))) inline __m512i FourTimes(__m128i value) {
    alignas(16) long long halves[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(halves), value);
    return _mm512_set_epi64(halves[1], halves[0], halves[1], halves[0], halves[1], halves[0],
                            halves[1], halves[0]);
}

__attribute__((target(SFMPQ_WIDE))) inline __m512i Fold(__m512i remainder, __m512i by,
                                                        __m512i next) {
    __m512i low = _mm512_clmulepi64_epi128(remainder, by, 0x00);
    __m512i high = _mm512_clmulepi64_epi128(remainder, by, 0x11);
    return _mm512_ternarylogic_epi64(low, high, next, 0x96); // low ^ high ^ next
}

__attribute__((target(SFMPQ_WIDE))) inline __m512i Load64(const unsigned char* at) {
    return _mm512_loadu_si512(at);
}

// 256 bytes a time in four 512-bit registers of four remainders each.
__attribute__((target(SFMPQ_WIDE))) uint32_t Crc32Avx512(uint32_t crc, const void* data,
                                                         size_t size) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    if (size < 256) {
        return Crc32Pclmul(crc, p, size);
    }
    __m512i z0 = _mm512_xor_si512(
        Load64(p), _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(~crc))));
    __m512i z1 = Load64(p + 64);
    __m512i z2 = Load64(p + 128);
    __m512i z3 = Load64(p + 192);
    p += 256;
    size -= 256;
    const __m512i by2048 = FourTimes(SFMPQ_FOLD_BY(2048));
    for (; size >= 256; p += 256, size -= 256) {
        z0 = Fold(z0, by2048, Load64(p));
        z1 = Fold(z1, by2048, Load64(p + 64));
        z2 = Fold(z2, by2048, Load64(p + 128));
        z3 = Fold(z3, by2048, Load64(p + 192));
    }
    const __m512i by512 = FourTimes(SFMPQ_FOLD_BY(512));
    z0 = Fold(Fold(Fold(z0, by512, z1), by512, z2), by512, z3);
    for (; size >= 64; p += 64, size -= 64) {
        z0 = Fold(z0, by512, Load64(p));
    }
    // The four remainders of the last 64 bytes folded into the last one.
    alignas(64) __m128i quarters[4];
    _mm512_store_si512(quarters, z0);
    __m128i x = Fold(quarters[2], SFMPQ_FOLD_BY(128), quarters[3]);
    x = Fold(quarters[1], SFMPQ_FOLD_BY(256), x);
    x = Fold(quarters[0], SFMPQ_FOLD_BY(384), x);
    return Finish(x, p, size);
}

// Adler-32 in 32-byte blocks: each block adds the sum of its bytes to the
// first sum, and to the second 32 times the first sum before it plus its
// bytes weighted 32 down to 1. Rounds are short enough that no lane of 32
// bits overflows before the sums are taken modulo 65521.
constexpr uint32_t kAdlerBase = 65521;
constexpr size_t kBlocksPerRound = 1024;

__attribute__((target("avx2"))) uint64_t SumLanes(__m256i lanes) {
    __m128i sum = _mm_add_epi32(_mm256_castsi256_si128(lanes), _mm256_extracti128_si256(lanes, 1));
    alignas(16) uint32_t parts[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(parts), sum);
    return uint64_t(parts[0]) + parts[1] + parts[2] + parts[3];
}

__attribute__((target("avx2"))) uint32_t Adler32Avx2(uint32_t adler, const void* data,
                                                     size_t size) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    uint64_t first = adler & 0xFFFF;
    uint64_t second = adler >> 16;
    if (size < 64 || !data) {
        return ZlibAdler32(adler, data, size);
    }
    const __m256i weights =
        _mm256_setr_epi8(32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16, 15, 14,
                         13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1);
    const __m256i ones = _mm256_set1_epi16(1);
    const __m256i zero = _mm256_setzero_si256();
    while (size >= 32) {
        size_t blocks = std::min(size / 32, kBlocksPerRound);
        __m256i sums = zero;   // the bytes, per lane
        __m256i before = zero; // the sums before each block, added up
        __m256i weighted = zero;
        for (size_t i = 0; i < blocks; ++i, p += 32) {
            __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
            before = _mm256_add_epi32(before, sums);
            sums = _mm256_add_epi32(sums, _mm256_sad_epu8(bytes, zero));
            weighted = _mm256_add_epi32(
                weighted, _mm256_madd_epi16(_mm256_maddubs_epi16(bytes, weights), ones));
        }
        second = (second + first * 32 * blocks + 32 * SumLanes(before) + SumLanes(weighted)) %
                 kAdlerBase;
        first = (first + SumLanes(sums)) % kAdlerBase;
        size -= blocks * 32;
    }
    for (; size > 0; --size, ++p) {
        first += *p;
        second += first;
    }
    return static_cast<uint32_t>((second % kAdlerBase) << 16 | (first % kAdlerBase));
}

#endif // SFMPQ_X86_CHECKSUMS

using Function = uint32_t (*)(uint32_t, const void*, size_t);

Function FastestCrc32() {
#ifdef SFMPQ_X86_CHECKSUMS
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("vpclmulqdq")) {
        return Crc32Avx512;
    }
    if (__builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1")) {
        return Crc32Pclmul;
    }
#endif
    return ZlibCrc32;
}

Function FastestAdler32() {
#ifdef SFMPQ_X86_CHECKSUMS
    if (__builtin_cpu_supports("avx2")) {
        return Adler32Avx2;
    }
#endif
    return ZlibAdler32;
}

} // namespace

uint32_t Crc32(uint32_t crc, const void* data, size_t size) {
    static const Function chosen = FastestCrc32();
    return chosen(crc, data, size);
}

uint32_t Adler32(uint32_t adler, const void* data, size_t size) {
    static const Function chosen = FastestAdler32();
    return chosen(adler, data, size);
}

std::vector<ChecksumWay> Crc32Ways() {
    std::vector<ChecksumWay> ways = {{"zlib", ZlibCrc32}};
#ifdef SFMPQ_X86_CHECKSUMS
    if (__builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1")) {
        ways.push_back({"pclmul", Crc32Pclmul});
    }
    if (FastestCrc32() == Crc32Avx512) {
        ways.push_back({"avx512-vpclmul", Crc32Avx512});
    }
#endif
    return ways;
}

std::vector<ChecksumWay> Adler32Ways() {
    std::vector<ChecksumWay> ways = {{"zlib", ZlibAdler32}};
#ifdef SFMPQ_X86_CHECKSUMS
    if (FastestAdler32() == Adler32Avx2) {
        ways.push_back({"avx2", Adler32Avx2});
    }
#endif
    return ways;
}

} // namespace sfmpq
