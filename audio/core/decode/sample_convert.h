// Conversion of packed PCM and float samples to float, one block at a time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace audio {

// Converts `count` samples from `in` to floats in -1..1.
using SampleConverter = void (*)(const uint8_t* in, float* out, size_t count);

// The converter for integer PCM with `bytes` (1..4) per sample, or for IEEE
// float with 4 or 8 bytes; null for anything else.
SampleConverter pcm_converter(int bytes);
SampleConverter float_converter(int bytes);

// Converts 16-bit samples (a codec's output) to floats.
void int16_to_float(const int16_t* in, float* out, size_t count);

}  // namespace audio
