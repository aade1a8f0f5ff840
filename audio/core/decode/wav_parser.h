// Reads the RIFF/WAVE structure: the format chunk and where the sample data
// lies. Every declared size is checked against the bytes really present.
#pragma once

#include <cstdint>
#include <vector>

#include "io/byte_source.h"

namespace audio {

constexpr uint16_t kWaveFormatPcm = 0x0001;
constexpr uint16_t kWaveFormatFloat = 0x0003;
constexpr uint16_t kWaveFormatMp3 = 0x0055;
constexpr uint16_t kWaveFormatExtensible = 0xFFFE;

struct WavLayout {
    std::vector<uint8_t> fmt_chunk;  // the fmt chunk's bytes, as codecs want them
    uint16_t format_tag = 0;         // the effective tag (an extensible subformat resolved)
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint16_t block_align = 0;
    uint16_t bits_per_sample = 0;
    uint64_t data_offset = 0;  // where the samples start in the source
    uint64_t data_size = 0;    // bytes of sample data really present
};

// Parses a WAV file from the start of source. Returns a BASS_ERROR_* code, 0
// on success, or kNotThisFormat when the source is no RIFF/WAVE file.
int parse_wav(ByteSource& source, WavLayout* layout);

}  // namespace audio
