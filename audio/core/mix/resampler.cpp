// Windowed-sinc resampler: filter design and the streaming loop.
#include "mix/resampler.h"

#include <algorithm>
#include <cmath>

namespace audio {
namespace {

constexpr int kPhases = 256;          // tabulated fractional offsets
constexpr size_t kBaseHalfWidth = 32; // zero crossings of the sinc on each side
constexpr double kKaiserBeta = 9.0;   // ~90 dB stopband
constexpr double kCutoff = 0.45;      // of the lower rate: passband to ~0.41, stop at 0.5
constexpr size_t kBlockFrames = 4096; // input frames buffered at most per push

// The zeroth-order modified Bessel function, by its power series.
double bessel_i0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 50; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
        if (term < sum * 1e-17) break;
    }
    return sum;
}

// sin(pi x) / (pi x).
double sinc(double x) {
    if (std::fabs(x) < 1e-12) return 1.0;
    const double pi = 3.14159265358979323846;
    return std::sin(pi * x) / (pi * x);
}

}  // namespace

Resampler::Resampler(uint32_t in_rate, uint32_t out_rate)
    : passthrough_(in_rate == out_rate), out_rate_(out_rate) {
    step_whole_ = in_rate / out_rate;
    step_rem_ = in_rate % out_rate;
    if (!passthrough_) build_table(in_rate, out_rate);
    capacity_ = kBlockFrames + 2 * taps_ + 1;
    left_.assign(capacity_, 0.0f);
    right_.assign(capacity_, 0.0f);
    if (!passthrough_) {
        // Silence before the first frame, so the first output lines up with it.
        end_ = half_width_ - 1;
        index_ = half_width_ - 1;
    }
}

void Resampler::build_table(uint32_t in_rate, uint32_t out_rate) {
    // Downsampling widens the filter in input terms to keep its transition
    // band the same width at the output rate.
    double ratio = double(in_rate) / out_rate;
    half_width_ = size_t(std::ceil(kBaseHalfWidth * std::max(1.0, ratio)));
    taps_ = 2 * half_width_;
    double cutoff = kCutoff * std::min(1.0, 1.0 / ratio);  // cycles per input frame
    double i0_beta = bessel_i0(kKaiserBeta);
    table_.assign((kPhases + 1) * taps_, 0.0f);
    coef_.assign(taps_, 0.0f);
    std::vector<double> row(taps_);
    for (int p = 0; p <= kPhases; ++p) {
        double sum = 0;
        for (size_t k = 0; k < taps_; ++k) {
            // Distance of tap k from the output instant, in input frames.
            double d = double(k) - double(half_width_ - 1) - double(p) / kPhases;
            double x = d / double(half_width_);
            double window = std::fabs(x) >= 1.0 ? 0.0 : bessel_i0(kKaiserBeta * std::sqrt(1 - x * x)) / i0_beta;
            row[k] = 2 * cutoff * sinc(2 * cutoff * d) * window;
            sum += row[k];
        }
        // Unity gain at DC for every phase.
        for (size_t k = 0; k < taps_; ++k) table_[p * taps_ + k] = float(row[k] / sum);
    }
}

void Resampler::compact() {
    // Keep the frames the filter still reaches back to.
    size_t keep_from = passthrough_ ? index_ : index_ + 1 - half_width_;
    if (keep_from == 0) return;
    std::copy(left_.begin() + long(keep_from), left_.begin() + long(end_), left_.begin());
    std::copy(right_.begin() + long(keep_from), right_.begin() + long(end_), right_.begin());
    end_ -= keep_from;
    index_ -= keep_from;
}

size_t Resampler::space() {
    if (capacity_ - end_ < kBlockFrames / 2) compact();
    return capacity_ - end_;
}

void Resampler::push(const float* stereo, size_t frames) {
    frames = std::min(frames, space());
    for (size_t i = 0; i < frames; ++i) {
        left_[end_ + i] = stereo[2 * i];
        right_[end_ + i] = stereo[2 * i + 1];
    }
    end_ += frames;
}

void Resampler::flush() {
    if (passthrough_) return;
    compact();
    size_t n = std::min(half_width_, capacity_ - end_);
    std::fill(left_.begin() + long(end_), left_.begin() + long(end_ + n), 0.0f);
    std::fill(right_.begin() + long(end_), right_.begin() + long(end_ + n), 0.0f);
    end_ += n;
}

size_t Resampler::pull(float* out, size_t frames) {
    size_t produced = 0;
    if (passthrough_) {
        produced = std::min(frames, end_ - index_);
        for (size_t i = 0; i < produced; ++i) {
            out[2 * i] = left_[index_ + i];
            out[2 * i + 1] = right_[index_ + i];
        }
        index_ += produced;
        return produced;
    }
    const double phase_scale = double(kPhases) / double(out_rate_);
    while (produced < frames && index_ + half_width_ < end_) {
        // Interpolate the filter row for this output instant's fraction.
        double phase = double(frac_) * phase_scale;
        size_t p = size_t(phase);
        float mix = float(phase - double(p));
        const float* row0 = &table_[p * taps_];
        const float* row1 = row0 + taps_;
        for (size_t k = 0; k < taps_; ++k) coef_[k] = row0[k] + mix * (row1[k] - row0[k]);
        const float* l = &left_[index_ + 1 - half_width_];
        const float* r = &right_[index_ + 1 - half_width_];
        float acc_l = 0, acc_r = 0;
        for (size_t k = 0; k < taps_; ++k) {
            acc_l += l[k] * coef_[k];
            acc_r += r[k] * coef_[k];
        }
        out[2 * produced] = acc_l;
        out[2 * produced + 1] = acc_r;
        ++produced;
        // Advance the output instant by in_rate/out_rate input frames, exactly.
        index_ += step_whole_;
        frac_ += step_rem_;
        if (frac_ >= out_rate_) {
            frac_ -= out_rate_;
            ++index_;
        }
    }
    return produced;
}

}  // namespace audio
