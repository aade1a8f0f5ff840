// Level and pitch of a tone in 16-bit samples.
#include "signal_measure.h"

#include <algorithm>
#include <cmath>

namespace audio_test {

double rms(const std::vector<int16_t>& samples, size_t channels, size_t channel, size_t first,
           size_t count) {
    double sum = 0;
    for (size_t i = first; i < first + count; ++i) {
        double x = samples[i * channels + channel] / 32768.0;
        sum += x * x;
    }
    return count ? std::sqrt(sum / static_cast<double>(count)) : 0.0;
}

double zero_crossing_frequency(const std::vector<int16_t>& samples, size_t channels, size_t channel,
                               size_t first, size_t count, double rate) {
    // Interpolated crossing positions make the result precise to a fraction
    // of a sample over a few hundred periods.
    double first_crossing = -1, last_crossing = -1;
    int crossings = 0;
    for (size_t i = first + 1; i < first + count; ++i) {
        double a = samples[(i - 1) * channels + channel];
        double b = samples[i * channels + channel];
        if (a < 0 && b >= 0) {
            double at = static_cast<double>(i - 1) + (-a) / (b - a);
            if (crossings == 0) first_crossing = at;
            last_crossing = at;
            ++crossings;
        }
    }
    if (crossings < 2) return 0.0;
    return (crossings - 1) * rate / (last_crossing - first_crossing);
}

}  // namespace audio_test

namespace audio_test {

double max_sine_residual(const std::vector<int16_t>& samples, size_t channels, size_t channel,
                         size_t first, size_t count, double frequency, double rate) {
    const double k = 2.0 * std::cos(2.0 * 3.14159265358979323846 * frequency / rate);
    double worst = 0;
    for (size_t i = first + 1; i + 1 < first + count; ++i) {
        double before = samples[(i - 1) * channels + channel];
        double now = samples[i * channels + channel];
        double after = samples[(i + 1) * channels + channel];
        worst = std::max(worst, std::fabs(before + after - k * now) / 32768.0);
    }
    return worst;
}

}  // namespace audio_test
