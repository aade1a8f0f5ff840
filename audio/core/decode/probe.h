// Finds the format of some bytes by their content and opens the matching
// decoder. The file name plays no part: an MP3 called .wav still plays.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "io/byte_source.h"
#include "decode/decoder.h"

namespace audio {

// Makes a BlockConverter for a WAVEFORMATEX; the platform's by default, a
// fake one in tests.
using ConverterFactory =
    std::function<std::unique_ptr<BlockConverter>(const std::vector<uint8_t>& wave_format, int* error)>;

// Returned by a format's probe when the content is not of that format at all,
// so that a more specific error of another probe is kept.
constexpr int kNotThisFormat = -1000;

// Opens the decoder for the content of source (rewound for each format in
// turn). Null with a BASS_ERROR_* in *error when no format accepts it.
std::unique_ptr<Decoder> open_decoder(std::unique_ptr<ByteSource> source,
                                      const ConverterFactory& converters, int* error);

// The same with the platform's converters.
std::unique_ptr<Decoder> open_decoder(std::unique_ptr<ByteSource> source, int* error);

}  // namespace audio
