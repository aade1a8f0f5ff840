// A RenderSource that plays a continuous sine on both channels, and counts
// what the device thread asked of it.
#pragma once

#include <windows.h>

#include <atomic>
#include <cmath>
#include <cstddef>

#include "mix/output_device.h"

namespace audio_test {

class SineSource : public audio::RenderSource {
public:
    SineSource(double frequency, double peak, double rate)
        : step_(2.0 * 3.14159265358979323846 * frequency / rate), peak_(peak) {}

    // The next `frames` frames of the tone, or silence while muted; the
    // phase runs on either way, as a real mixer's clock would.
    void render(float* out, size_t frames) override {
        float peak = muted_.load() ? 0.0f : static_cast<float>(peak_);
        for (size_t i = 0; i < frames; ++i) {
            float value = peak * static_cast<float>(std::sin(phase_));
            out[2 * i] = value;
            out[2 * i + 1] = value;
            phase_ += step_;
            if (phase_ > 2.0 * 3.14159265358979323846) phase_ -= 2.0 * 3.14159265358979323846;
        }
        render_thread_ = GetCurrentThreadId();
        frames_rendered_ += frames;
        ++calls_;
    }

    void set_muted(bool muted) { muted_ = muted; }
    size_t frames_rendered() const { return frames_rendered_.load(); }
    size_t calls() const { return calls_.load(); }
    DWORD render_thread() const { return render_thread_.load(); }

private:
    double step_;
    double peak_;
    double phase_ = 0;
    std::atomic<bool> muted_{false};
    std::atomic<size_t> frames_rendered_{0};
    std::atomic<size_t> calls_{0};
    std::atomic<DWORD> render_thread_{0};
};

}  // namespace audio_test
