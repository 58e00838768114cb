#include "sfmpq/wave_layout.h"

#include <cstdio>
#include <cstring>

#include "sfmpq/little_endian.h"

namespace sfmpq {

bool ReadWaveLayout(const char* path, WaveLayout* layout) {
    *layout = WaveLayout();
    FILE* file = std::fopen(path, "rb");
    if (!file) {
        return false;
    }
    bool ok = false;
    bool haveFormat = false;
    using namespace riff;
    unsigned char header[kFileHeaderSize];
    if (std::fseek(file, 0, SEEK_END) == 0) {
        long size = std::ftell(file);
        layout->fileSize = size > 0 ? static_cast<uint64_t>(size) : 0;
        std::rewind(file);
    }
    if (std::fread(header, 1, sizeof header, file) == sizeof header &&
        std::memcmp(header, "RIFF", 4) == 0 && std::memcmp(header + kFormOffset, "WAVE", 4) == 0) {
        uint64_t offset = kFileHeaderSize;
        unsigned char chunk[kChunkHeaderSize];
        // Chunks are walked in order; a bounded number, so a damaged file
        // cannot keep the loop going.
        for (int i = 0; i < 64 && std::fread(chunk, 1, sizeof chunk, file) == sizeof chunk; ++i) {
            uint64_t size = Le32(chunk + kChunkSizeOffset);
            offset += kChunkHeaderSize;
            if (std::memcmp(chunk, "fmt ", 4) == 0 && size >= kFormatSize) {
                unsigned char format[kFormatSize];
                if (std::fread(format, 1, sizeof format, file) != sizeof format) {
                    break;
                }
                layout->format = Le16(format + kFormatTagOffset);
                layout->channels = Le16(format + kChannelsOffset);
                layout->blockAlign = Le16(format + kBlockAlignOffset);
                layout->bitsPerSample = Le16(format + kBitsPerSampleOffset);
                haveFormat = true;
                offset += kFormatSize;
                size -= kFormatSize;
            } else if (std::memcmp(chunk, "data", 4) == 0) {
                layout->dataOffset = offset;
                layout->dataSize = size;
                ok = haveFormat;
                break;
            }
            // Chunks are padded to an even size.
            offset += size + (size & 1);
            if (offset > layout->fileSize ||
                std::fseek(file, static_cast<long>(offset), SEEK_SET) != 0) {
                break;
            }
        }
    }
    std::fclose(file);
    return ok;
}

bool FitsLossyCompression(const WaveLayout& layout, uint32_t sectorSize) {
    if (layout.format != 1 || layout.bitsPerSample != 16 ||
        (layout.channels != 1 && layout.channels != 2) ||
        layout.blockAlign != 2 * layout.channels || sectorSize == 0 ||
        sectorSize % layout.blockAlign != 0) {
        return false;
    }
    // Only sound data may follow the first sector, all of it whole frames.
    return layout.dataOffset <= sectorSize &&
           layout.dataOffset + layout.dataSize == layout.fileSize &&
           (sectorSize - layout.dataOffset) % layout.blockAlign == 0 &&
           layout.dataSize % layout.blockAlign == 0;
}

} // namespace sfmpq
