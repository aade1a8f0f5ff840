// Band-limited sample rate conversion of stereo float frames, streaming.
//
// A Kaiser-windowed sinc low-pass, tabulated at kPhases fractional offsets
// and linearly interpolated between them, is evaluated at each output
// instant. Its cutoff sits just below the lower of the two Nyquist rates, so
// downsampling does not alias and upsampling leaves no images. Equal rates
// pass the samples through untouched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace audio {

class Resampler {
public:
    Resampler(uint32_t in_rate, uint32_t out_rate);

    // How many input frames push() can take now.
    size_t space();
    // Appends interleaved stereo input frames (at most space()).
    void push(const float* stereo, size_t frames);
    // Appends the silence that lets the last pushed frames come out: call
    // once at the end of the input.
    void flush();
    // Writes up to `frames` interleaved stereo output frames; returns how
    // many the buffered input allowed.
    size_t pull(float* out, size_t frames);

    bool passthrough() const { return passthrough_; }

private:
    void build_table(uint32_t in_rate, uint32_t out_rate);
    void compact();

    bool passthrough_;
    size_t half_width_ = 0;  // input frames the filter reaches on each side
    size_t taps_ = 0;
    std::vector<float> table_;  // (kPhases + 1) rows of taps_ coefficients
    std::vector<float> coef_;   // the interpolated row for one output frame
    std::vector<float> left_, right_;  // buffered input, planar
    size_t capacity_;
    size_t end_ = 0;      // frames buffered
    size_t index_ = 0;    // the input frame at or before the next output instant
    uint64_t step_whole_ = 0, step_rem_ = 0;  // input frames per output frame, as whole + rem/out
    uint64_t frac_ = 0;   // the next output instant's fraction, in 1/out_rate units
    uint64_t out_rate_;
};

}  // namespace audio
