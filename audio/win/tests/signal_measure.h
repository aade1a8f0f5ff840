// Measurements of a decoded tone: its level and its pitch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace audio_test {

// Root mean square of one channel of interleaved 16-bit samples, as a
// fraction of full scale, over frames [first, first + count).
double rms(const std::vector<int16_t>& samples, size_t channels, size_t channel, size_t first,
           size_t count);

// Frequency of a tone in Hz from the rising zero crossings of one channel,
// measured between the first and the last crossing in [first, first + count).
double zero_crossing_frequency(const std::vector<int16_t>& samples, size_t channels, size_t channel,
                               size_t first, size_t count, double rate);

}  // namespace audio_test

namespace audio_test {

// How far one channel strays from a pure sine of `frequency`, as the largest
// |x[n-1] + x[n+1] - 2 cos(w) x[n]| (fraction of full scale) over frames
// [first, first + count). A continuous sine leaves only coding noise; a gap,
// a repeated or a lost piece shows as a jump of the order of the amplitude.
double max_sine_residual(const std::vector<int16_t>& samples, size_t channels, size_t channel,
                         size_t first, size_t count, double frequency, double rate);

}  // namespace audio_test
