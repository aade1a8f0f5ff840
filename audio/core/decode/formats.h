// The format decoders the probe table lists. Each opener inspects the source
// from its start; on success it takes the source, otherwise it leaves it and
// sets *error (Error::not_this_format when the content is not of its format
// at all).
#pragma once

#include <memory>

#include "decode/decoder.h"

namespace audio {

struct WavLayout;

using FormatOpener = std::unique_ptr<Decoder> (*)(std::unique_ptr<ByteSource>& source,
                                                  const ConverterFactory& converters, Error* error);

std::unique_ptr<Decoder> open_wav_decoder(std::unique_ptr<ByteSource>& source,
                                          const ConverterFactory& converters, Error* error);
std::unique_ptr<Decoder> open_vorbis_decoder(std::unique_ptr<ByteSource>& source,
                                             const ConverterFactory& converters, Error* error);
std::unique_ptr<Decoder> open_mp3_decoder(std::unique_ptr<ByteSource>& source,
                                          const ConverterFactory& converters, Error* error);

// MP3 frames in the data chunk of a WAV file (format tag 0x55), decoded as a
// plain MP3 is. Sets Error::not_this_format, leaving the source, when the data holds
// no frames the scanner can follow.
std::unique_ptr<Decoder> open_mp3_wav_decoder(std::unique_ptr<ByteSource>& source, const WavLayout& layout,
                                              const ConverterFactory& converters, Error* error);

}  // namespace audio
