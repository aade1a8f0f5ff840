// Float to 16-bit conversion for the output backends.
#include "float_to_int16.h"

#include <cmath>

namespace audio {

// Rounds to the nearest step; see the header for the clipping.
void float_to_int16(const float* in, int16_t* out, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        float scaled = in[i] * 32768.0f;
        // NaN compares false both ways and ends up as silence.
        if (scaled >= 32767.0f) {
            out[i] = 32767;
        } else if (scaled <= -32768.0f) {
            out[i] = -32768;
        } else if (scaled == scaled) {
            out[i] = static_cast<int16_t>(std::lrintf(scaled));
        } else {
            out[i] = 0;
        }
    }
}

}  // namespace audio
