// The null device's pace, on a simulated clock: at rates whose 10 ms period
// is no whole number of frames, over seconds, with late wake-ups, the sound
// it has pulled keeps up with the clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "mix/null_device.h"

using std::chrono::microseconds;
using std::chrono::milliseconds;

namespace {

// Time that passes only when the device sleeps: each sleep ends at its wake
// time plus a lateness of up to `late_by` (a busy machine), so seconds of
// the device's life pass in a moment. From `stop_at` on, time stands still.
class SimulatedClock final : public audio::DeviceClock {
public:
    SimulatedClock(microseconds late_by, milliseconds stop_at) : late_by_(late_by), stop_at_(stop_at) {}
    time_point now() override { return time_point(microseconds(now_us_.load())); }
    void sleep_until(time_point when) override {
        if (microseconds(now_us_.load()) >= stop_at_) {
            std::this_thread::sleep_for(milliseconds(1));
            return;
        }
        random_ = random_ * 1664525u + 1013904223u;
        auto late = microseconds(late_by_.count() ? (random_ >> 8) % uint32_t(late_by_.count()) : 0);
        auto wake = std::chrono::duration_cast<microseconds>(when.time_since_epoch()) + late;
        now_us_.store(std::max(now_us_.load(), int64_t(wake.count())));
    }
    bool stopped() const { return microseconds(now_us_.load()) >= stop_at_; }

private:
    const microseconds late_by_;
    const milliseconds stop_at_;
    std::atomic<int64_t> now_us_{0};
    uint32_t random_ = 1;
};

// Compares, after each render, the frames pulled so far with the frames
// that the simulated time since the first render holds.
class PaceWatcher final : public audio::RenderSource {
public:
    PaceWatcher(SimulatedClock& clock, uint32_t rate) : clock_(clock), rate_(rate) {}
    void render(float* out, size_t frames) override {
        std::fill(out, out + 2 * frames, 1.0f);
        if (clock_.stopped()) return;
        pulled_ += frames;
        double elapsed = std::chrono::duration<double>(clock_.now().time_since_epoch()).count();
        double ms_ahead = (double(pulled_) / rate_ - elapsed) * 1000.0;
        most_behind_ms = std::max(most_behind_ms.load(), -ms_ahead);
        most_ahead_ms = std::max(most_ahead_ms.load(), ms_ahead);
    }
    std::atomic<double> most_behind_ms{0}, most_ahead_ms{0};

private:
    SimulatedClock& clock_;
    const uint32_t rate_;
    uint64_t pulled_ = 0;
};

}  // namespace

TEST(NullDevice, KeepsPaceWithTheClockAtAnyRate) {
    for (uint32_t rate : {1000u, 1050u, 11025u, 22050u, 44100u, 384000u}) {
        for (microseconds late_by : {microseconds(0), microseconds(3000)}) {
            SCOPED_TRACE(testing::Message() << rate << " Hz, wake-ups up to " << late_by.count() << " us late");
            SimulatedClock clock(late_by, milliseconds(20000));
            PaceWatcher watcher(clock, rate);
            {
                audio::NullDevice device(rate, clock);
                ASSERT_EQ(device.start(&watcher), audio::Error::none);
                auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
                while (!clock.stopped() && std::chrono::steady_clock::now() < give_up)
                    std::this_thread::sleep_for(milliseconds(1));
            }
            ASSERT_TRUE(clock.stopped()) << "the device stopped sleeping, or never slept";
            std::printf("%6u Hz, late by up to %4lld us: at most %.3f ms behind, %.3f ms ahead over 20 s\n", rate,
                        (long long)late_by.count(), watcher.most_behind_ms.load(), watcher.most_ahead_ms.load());
            EXPECT_LE(watcher.most_behind_ms.load(), 1.0);
            EXPECT_LE(watcher.most_ahead_ms.load(), 10.0 + 1000.0 / rate);  // one period queued ahead
        }
    }
}
