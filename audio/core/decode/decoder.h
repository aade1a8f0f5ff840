// A decoder turns a ByteSource into interleaved float frames at the content's
// own rate and channel count. One decoder per format; a probe table tries them
// in order (see probe.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "error.h"
#include "io/byte_source.h"

namespace audio {

struct AudioFormat {
    uint32_t rate = 0;
    uint32_t channels = 0;
};

// What the content was found to be: its container and codec.
enum class ContentType {
    wav_pcm,    // integer PCM
    wav_float,  // IEEE float
    wav_codec,  // compressed WAV through a platform codec
    mp3,
    ogg,
};

class Decoder {
public:
    virtual ~Decoder() = default;
    virtual AudioFormat format() const = 0;
    virtual ContentType content_type() const = 0;
    // Decodes up to `frames` frames (frames * channels floats, nominal range
    // -1..1) into out. Returns the frames written; 0 means the end (a damaged
    // file ends where its good part ends).
    virtual size_t read(float* out, size_t frames) = 0;
};

// Turns blocks of a compressed format into 16-bit PCM. The platform supplies
// it (the system's ACM codecs on Windows); the core only frames the data.
class BlockConverter {
public:
    virtual ~BlockConverter() = default;
    // The PCM format that convert() produces.
    virtual AudioFormat output_format() const = 0;
    // Converts n bytes of compressed data (whole blocks or frames), appending
    // interleaved 16-bit samples to out. False when the codec fails.
    virtual bool convert(const uint8_t* in, size_t n, std::vector<int16_t>& out) = 0;
};

// Makes a BlockConverter for the bytes of a WAVEFORMATEX: the platform's, or
// a fake one in tests. Null with Error::bad_file_format when no codec fits.
using ConverterFactory =
    std::function<std::unique_ptr<BlockConverter>(const std::vector<uint8_t>& wave_format, Error* error)>;

}  // namespace audio
