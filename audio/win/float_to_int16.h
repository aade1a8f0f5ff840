// Float samples to the 16-bit integers that some devices want.
#pragma once

#include <cstddef>
#include <cstdint>

namespace audio {

// Converts n samples of nominal range -1..1 to int16, clipping what lies
// outside (a loud mix must saturate, not wrap around).
void float_to_int16(const float* in, int16_t* out, size_t n);

}  // namespace audio
