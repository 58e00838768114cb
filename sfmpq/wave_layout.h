// The layout of a RIFF wave file, as far as lossy compression needs it.
#pragma once

#include <cstdint>

namespace sfmpq {

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
