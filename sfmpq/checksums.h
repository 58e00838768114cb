// The two checksums that reading members computes over all of their data:
// CRC32 (each member's, from "(attributes)") and Adler-32 (each sector's).
// Both give zlib's results bit for bit, computed with the processor's
// carry-less multiply and vector instructions where it has them (chosen once,
// at the first call) and by zlib's own code elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sfmpq {

// zlib's crc32(crc, data, size): `crc` is 0 or a previous result.
uint32_t Crc32(uint32_t crc, const void* data, size_t size);

// zlib's adler32(adler, data, size): `adler` is 1 or a previous result.
uint32_t Adler32(uint32_t adler, const void* data, size_t size);

// Each way of computing them that this processor can run, zlib's first,
// so that tests and benchmarks can hold every one against zlib.
struct ChecksumWay {
    const char* name;
    uint32_t (*function)(uint32_t, const void*, size_t);
};
std::vector<ChecksumWay> Crc32Ways();
std::vector<ChecksumWay> Adler32Ways();

} // namespace sfmpq
