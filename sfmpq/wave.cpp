// Adding wave files: lossy ADPCM compression for the sound data of 16-bit PCM
// wave files, lossless compression for everything else.
//
// Quality values:
//   0  medium: ADPCM (the engine's standard level) and Huffman coding
//   2  low:    the same as medium; the engine's add call offers one ADPCM level
//   1  high:   lossless (PKWARE implode), nothing of the sound is lost
//   any other value: lossless, as high
// Whatever the quality, the first sector (which holds the wave header) is
// always stored losslessly, and a file is compressed lossily only when its
// layout allows it without damage: PCM data of 16-bit samples, one or two
// channels, a data chunk that starts within the first sector, reaches the end
// of the file, and whose samples line up with the sector boundaries. Any
// other file, wave or not, is added losslessly.
#include "sfmpq/operations.h"

#include "sfmpq/library_state.h"
#include "sfmpq/wave_layout.h"

#include <cerrno>

namespace sfmpq {

namespace {

enum : uint32_t { kQualityMedium = 0, kQualityHigh = 1, kQualityLow = 2 };

} // namespace

int AddWave(MpqHandle handle, const char* source, const char* name, uint32_t flags,
            uint32_t quality) {
    Archive* archive = CheckAddArguments(handle, source, name);
    if (!archive) {
        return 0;
    }
    bool compress = (flags & kAddCompress) != 0;
    bool lossy = compress && (quality == kQualityMedium || quality == kQualityLow);
    DWORD next = MPQ_COMPRESSION_PKWARE;
    if (lossy) {
        DWORD sectorSize = 0;
        Storm()->GetFileInfo(archive->storm, SFileMpqSectorSize, &sectorSize, sizeof sectorSize,
                             nullptr);
        WaveLayout layout;
        if (ReadWaveLayout(source, &layout) && FitsLossyCompression(layout, sectorSize)) {
            next =
                (layout.channels == 1 ? MPQ_COMPRESSION_ADPCM_MONO : MPQ_COMPRESSION_ADPCM_STEREO) |
                MPQ_COMPRESSION_HUFFMANN;
        }
    }
    if (!AddWithEngine(archive, source, name, flags, MPQ_COMPRESSION_PKWARE, next, compress)) {
        return 0;
    }
    // The checksums StormLib keeps are of the source; lossy sound reads back
    // otherwise, so they are taken again from what the archive now holds.
    if (next != MPQ_COMPRESSION_PKWARE) {
        ApplyLocale(Storm());
        Storm()->UpdateFileAttributes(archive->storm, name);
    }
    return 1;
}

} // namespace sfmpq
