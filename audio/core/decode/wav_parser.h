// Reads the RIFF/WAVE structure: the format chunk and where the sample data
// lies. Every declared size is checked against the bytes really present.
#pragma once

#include <cstdint>
#include <vector>

#include "error.h"
#include "io/byte_source.h"

namespace audio {

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

// Parses a WAV file from the start of source. Returns Error::none on
// success, the error otherwise: Error::not_this_format when the source is no RIFF/WAVE file.
Error parse_wav(ByteSource& source, WavLayout* layout);

}  // namespace audio
