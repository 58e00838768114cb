// Wave additions: lossy only for sound data that can take it, byte-exact
// for everything else.
#include "sfmpq_test_support.h"

#include <cmath>
#include <cstring>

namespace {

std::string Wave(uint16_t channels, uint16_t bits, uint32_t frames, const std::string& tail = "") {
    uint32_t align = channels * bits / 8;
    uint32_t dataSize = frames * align;
    std::string w = "RIFF";
    auto put32 = [&w](uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            w += static_cast<char>(v >> (8 * i));
        }
    };
    auto put16 = [&w](uint16_t v) {
        w += static_cast<char>(v);
        w += static_cast<char>(v >> 8);
    };
    put32(36 + dataSize);
    w += "WAVEfmt ";
    put32(16);
    put16(1);
    put16(channels);
    put32(22050);
    put32(22050 * align);
    put16(static_cast<uint16_t>(align));
    put16(bits);
    w += "data";
    put32(dataSize);
    for (uint32_t i = 0; i < frames * channels; ++i) {
        double t = i / static_cast<double>(channels);
        int sample = static_cast<int>(8000 * std::sin(t / 7.0) + 3000 * std::sin(t / 2.3));
        if (bits == 16) {
            put16(static_cast<uint16_t>(static_cast<int16_t>(sample)));
        } else {
            w += static_cast<char>(128 + sample / 256);
        }
    }
    return w + tail;
}

// The content read back; `kinds` gets the compressions of its sectors (which
// only a member added without encryption shows).
std::string AddWave(const std::string& content, uint32_t quality, uint32_t* packed = nullptr,
                    std::vector<uint8_t>* kinds = nullptr) {
    Folder folder;
    std::string archive = folder / "a.mpq";
    WriteFile(folder / "src", content);
    MpqHandle h = Lib().MpqOpenArchiveForUpdate(archive.c_str(), 0x21, 16);
    EXPECT_TRUE(Lib().MpqAddWaveToArchive(h, (folder / "src").c_str(), "s.wav",
                                          kinds ? 0x201 : 0x10201, quality));
    EXPECT_TRUE(Lib().MpqCloseUpdatedArchive(h, 0));
    if (packed) {
        for (const ListEntry& e : List(archive, "s.wav", kListIsText)) {
            if (std::strcmp(e.name, "s.wav") == 0) {
                *packed = e.compressedSize;
            }
        }
    }
    if (kinds) {
        *kinds = SectorCompressions(archive, "s.wav");
    }
    return ExtractFrom(archive, "s.wav");
}

// `wave` with a chunk of `size` bytes (and its pad byte, when odd) put
// before its sound data.
std::string WithChunkBefore(std::string wave, uint32_t size) {
    std::string chunk = "junk";
    for (int i = 0; i < 4; ++i) {
        chunk += static_cast<char>(size >> (8 * i));
    }
    chunk += std::string(size, 'j') + std::string(size & 1, '\0');
    wave.insert(36, chunk);
    uint32_t riff = static_cast<uint32_t>(wave.size() - 8);
    for (int i = 0; i < 4; ++i) {
        wave[4 + i] = static_cast<char>(riff >> (8 * i));
    }
    return wave;
}

double RelativeError(const std::string& original, const std::string& decoded) {
    double error = 0;
    double signal = 0;
    for (size_t i = 44; i + 1 < original.size(); i += 2) {
        int16_t a, b;
        std::memcpy(&a, &original[i], 2);
        std::memcpy(&b, &decoded[i], 2);
        error += double(a - b) * (a - b);
        signal += double(a) * a;
    }
    return std::sqrt(error / signal);
}

TEST(Wave, PcmSoundIsCompressedLossilyWithTheHeaderIntact) {
    for (uint16_t channels : {1, 2}) {
        std::string wave = Wave(channels, 16, 40000);
        uint32_t packed = 0;
        std::string decoded = AddWave(wave, 0, &packed);
        ASSERT_EQ(decoded.size(), wave.size());
        EXPECT_EQ(decoded.substr(0, 4096), wave.substr(0, 4096)) << "first sector lossless";
        EXPECT_NE(decoded.substr(4096, 4096), wave.substr(4096, 4096)) << "the second is not";
        EXPECT_LT(packed, wave.size() / 2) << "ADPCM packs 16-bit samples to about a quarter";
        EXPECT_LT(RelativeError(wave, decoded), 0.1) << channels << " channel(s)";
        EXPECT_EQ(AddWave(wave, 2), decoded) << "low is the same as medium";
    }
}

TEST(Wave, EverythingElseIsAddedLosslessly) {
    std::string stereo = Wave(2, 16, 40000);
    EXPECT_TRUE(AddWave(stereo, 1) == stereo) << "high quality";
    EXPECT_TRUE(AddWave(stereo, 7) == stereo) << "unknown quality";
    std::string eightBit = Wave(1, 8, 40000);
    EXPECT_TRUE(AddWave(eightBit, 0) == eightBit);
    std::string tail = Wave(2, 16, 40000, std::string("LIST\x04\0\0\0abcd", 12));
    EXPECT_TRUE(AddWave(tail, 0) == tail) << "a chunk after the sound data";
    std::string odd = Wave(2, 16, 40000);
    odd.insert(36, std::string("junk\x01\0\0\0x\0", 10)); // moves the data by 10 bytes
    odd[4] += 10;
    EXPECT_TRUE(AddWave(odd, 0) == odd) << "samples that do not line up with the sectors";
    std::string partial = Wave(2, 16, 40000) + "pa";
    for (size_t field : {4u, 40u}) { // the RIFF and data sizes, two bytes more
        partial[field] = static_cast<char>(partial[field] + 2);
    }
    EXPECT_TRUE(AddWave(partial, 0) == partial) << "sound data ending in part of a frame";
    std::string misaligned = Wave(2, 16, 40000);
    misaligned[32] = 2; // a block align of one channel's sample for two channels
    EXPECT_TRUE(AddWave(misaligned, 0) == misaligned) << "a block align that is not the frame's";
    std::string notWave = Content(100000, 9, false);
    EXPECT_TRUE(AddWave(notWave, 0) == notWave);
}

// Sound data may begin as late as the end of the first sector, also behind
// a chunk of odd size and its pad byte, or behind a dozen chunks, and is
// still packed lossily from there on: the first sector by PKWARE, the rest
// by ADPCM and Huffman coding.
TEST(Wave, SoundDataMayBeginAsLateAsTheEndOfTheFirstSector) {
    for (uint16_t channels : {1, 2}) {
        // 36 bytes before the chunk, its 8-byte header and the data's: 4096;
        // or 56 bytes with a chunk of 3 and its pad byte; or 12 such chunks.
        for (auto [chunk, count] : {std::pair{4096u - 52, 1}, {3u, 1}, {3u, 12}}) {
            SCOPED_TRACE(std::to_string(channels) + " channel(s), " + std::to_string(count) +
                         " chunk(s) of " + std::to_string(chunk));
            std::string late = Wave(channels, 16, 40000);
            for (int i = 0; i < count; ++i) {
                late = WithChunkBefore(late, chunk);
            }
            std::vector<uint8_t> kinds;
            std::string decoded = AddWave(late, 0, nullptr, &kinds);
            ASSERT_EQ(decoded.size(), late.size());
            ASSERT_GT(kinds.size(), 2u);
            if (chunk > 3) { // a first sector of the chunk's bytes, which PKWARE packs
                EXPECT_EQ(kinds[0], 0x08);
            }
            EXPECT_EQ(kinds[1], channels == 1 ? 0x41 : 0x81) << "ADPCM and Huffman";
            EXPECT_EQ(decoded.substr(0, 4096), late.substr(0, 4096));
            EXPECT_FALSE(decoded == late) << "the sound data is packed lossily";
        }
    }
}

} // namespace
