// The "no sound" device: a thread that pulls the mixer in real time and
// discards what it renders, so that streams play, end and free themselves
// exactly as they would on a real device.
#pragma once

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "mix/output_device.h"

namespace audio {

// The time a device without hardware keeps: the system's steady clock, or a
// simulated one in tests.
class DeviceClock {
public:
    using time_point = std::chrono::steady_clock::time_point;
    virtual ~DeviceClock() = default;
    virtual time_point now() = 0;
    virtual void sleep_until(time_point when) = 0;
};

// The steady clock, with real sleeps.
DeviceClock& steady_device_clock();

class NullDevice : public OutputDevice {
public:
    explicit NullDevice(uint32_t rate, DeviceClock& clock = steady_device_clock()) : rate_(rate), clock_(clock) {}
    ~NullDevice() override;
    Error start(RenderSource* source) override;

private:
    static constexpr uint64_t kPeriodsPerSecond = 100;

    // The device thread: one period every 10 ms, on a schedule kept from
    // its start.
    void run(RenderSource* source);

    uint32_t rate_;
    DeviceClock& clock_;
    std::atomic<bool> running_{false};
    std::vector<float> buffer_;  // one period, the thread's own once started
    std::thread thread_;
};

}  // namespace audio
