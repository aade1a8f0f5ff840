// The format decoders the probe table lists. Each opener inspects the source
// from its start; on success it takes the source, otherwise it leaves it and
// sets *error (kNotThisFormat when the content is not of its format at all).
#pragma once

#include <memory>

#include "probe.h"

namespace audio {

struct WavLayout;

using FormatOpener = std::unique_ptr<Decoder> (*)(std::unique_ptr<ByteSource>& source,
                                                  const ConverterFactory& converters, int* error);

std::unique_ptr<Decoder> open_wav_decoder(std::unique_ptr<ByteSource>& source,
                                          const ConverterFactory& converters, int* error);
std::unique_ptr<Decoder> open_vorbis_decoder(std::unique_ptr<ByteSource>& source,
                                             const ConverterFactory& converters, int* error);
std::unique_ptr<Decoder> open_mp3_decoder(std::unique_ptr<ByteSource>& source,
                                          const ConverterFactory& converters, int* error);

// MP3 frames in the data chunk of a WAV file (format tag 0x55), decoded as a
// plain MP3 is. Sets kNotThisFormat, leaving the source, when the data holds
// no frames the scanner can follow.
std::unique_ptr<Decoder> open_mp3_wav_decoder(std::unique_ptr<ByteSource>& source, const WavLayout& layout,
                                              const ConverterFactory& converters, int* error);

}  // namespace audio
