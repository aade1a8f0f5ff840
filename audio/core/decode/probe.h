// Finds the format of some bytes by their content and opens the matching
// decoder. The file name plays no part: an MP3 called .wav still plays.
#pragma once

#include <memory>

#include "decode/decoder.h"
#include "io/byte_source.h"

namespace audio {

// Opens the decoder for the content of source (rewound for each format in
// turn), with converters for compressed content. Null with the error in
// *error when no format accepts it.
std::unique_ptr<Decoder> open_decoder(std::unique_ptr<ByteSource> source,
                                      const ConverterFactory& converters, Error* error);

}  // namespace audio
