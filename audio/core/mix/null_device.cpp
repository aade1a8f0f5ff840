// The null device's real-time pull loop.
#include "mix/null_device.h"

#include <chrono>
#include <new>
#include <system_error>

namespace audio {
namespace {

class SteadyDeviceClock final : public DeviceClock {
public:
    time_point now() override { return std::chrono::steady_clock::now(); }
    void sleep_until(time_point when) override { std::this_thread::sleep_until(when); }
};

}  // namespace

DeviceClock& steady_device_clock() {
    static SteadyDeviceClock clock;
    return clock;
}

NullDevice::~NullDevice() {
    running_.store(false);
    if (thread_.joinable()) thread_.join();
}

Error NullDevice::start(RenderSource* source) {
    // Everything the thread needs is allocated here, where a failure can be
    // reported: on the thread it would end the process.
    try {
        buffer_.assign(2 * (rate_ / kPeriodsPerSecond + 1), 0.0f);
        running_.store(true);
        thread_ = std::thread(&NullDevice::run, this, source);
    } catch (const std::bad_alloc&) {
        running_.store(false);
        return Error::no_memory;
    } catch (const std::system_error&) {
        running_.store(false);
        return Error::start_failed;
    }
    return Error::none;
}

void NullDevice::run(RenderSource* source) {
    const auto period = std::chrono::milliseconds(1000 / kPeriodsPerSecond);
    // A period holds a fractional number of frames at most rates (220.5 at
    // 22,050 Hz): each one renders what the clock owes since the start, so
    // the rounding never adds up.
    auto start = clock_.now();
    int64_t periods = 0;  // signed, as the clock's durations are
    uint64_t rendered = 0;
    while (running_.load()) {
        ++periods;
        uint64_t due = rate_ * uint64_t(periods) / kPeriodsPerSecond;
        try {
            source->render(buffer_.data(), size_t(due - rendered));
        } catch (...) {
            // A period that could not be rendered (memory ran short) is lost;
            // the thread, and so the process, goes on.
        }
        rendered = due;
        auto next = start + periods * period;
        // After a long stall, resume the schedule from now rather than catch up.
        auto now = clock_.now();
        if (next < now - 10 * period) {
            start = next = now;
            periods = 0;
            rendered = 0;
        }
        clock_.sleep_until(next);
    }
}

}  // namespace audio
