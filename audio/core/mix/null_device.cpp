// The null device's real-time pull loop.
#include "mix/null_device.h"

#include <chrono>
#include <system_error>

namespace audio {

NullDevice::~NullDevice() {
    running_.store(false);
    if (thread_.joinable()) thread_.join();
}

bool NullDevice::start(RenderSource* source, Error* error) {
    running_.store(true);
    try {
        thread_ = std::thread(&NullDevice::run, this, source);
    } catch (const std::system_error&) {
        running_.store(false);
        *error = Error::start_failed;
        return false;
    }
    return true;
}

void NullDevice::run(RenderSource* source) {
    using clock = std::chrono::steady_clock;
    const auto period = std::chrono::milliseconds(10);
    const size_t frames = rate_ / 100;
    std::vector<float> buffer(2 * frames);
    auto next = clock::now();
    while (running_.load()) {
        try {
            source->render(buffer.data(), frames);
        } catch (...) {
            // A period that could not be rendered (memory ran short) is lost;
            // the thread, and so the process, goes on.
        }
        next += period;
        // After a long stall, resume the schedule from now rather than catch up.
        auto now = clock::now();
        if (next < now - 10 * period) next = now;
        std::this_thread::sleep_until(next);
    }
}

}  // namespace audio
