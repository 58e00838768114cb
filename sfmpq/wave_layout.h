// The layout of a RIFF wave file, as far as lossy compression needs it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sfmpq {

// A RIFF wave file: a file header ("RIFF", a size, "WAVE"), then chunks, each
// an 8-byte chunk header (an id and the size of its data) and its data,
// padded to an even size. Fields are little-endian.
namespace riff {
constexpr size_t kFileHeaderSize = 12;
constexpr size_t kFormOffset = 8; // "WAVE"
constexpr size_t kChunkHeaderSize = 8;
constexpr size_t kChunkSizeOffset = 4;
// The fields of a "fmt " chunk's data that are read, and their extent.
constexpr size_t kFormatTagOffset = 0; // 1 for PCM
constexpr size_t kChannelsOffset = 2;
constexpr size_t kBlockAlignOffset = 12;
constexpr size_t kBitsPerSampleOffset = 14;
constexpr size_t kFormatSize = 16;
} // namespace riff

struct WaveLayout {
    uint16_t format = 0; // 1 for PCM
    uint16_t channels = 0;
    uint16_t blockAlign = 0; // bytes per sample frame
    uint16_t bitsPerSample = 0;
    uint64_t dataOffset = 0; // where the sound data starts
    uint64_t dataSize = 0;
    uint64_t fileSize = 0;
};

// Reads the "fmt " and "data" chunks of a wave file. False for a file that is
// not a well-formed RIFF wave file.
bool ReadWaveLayout(const char* path, WaveLayout* layout);

// True when ADPCM can compress every sector after the first without touching
// anything but whole 16-bit samples (see wave.cpp).
bool FitsLossyCompression(const WaveLayout& layout, uint32_t sectorSize);

} // namespace sfmpq
