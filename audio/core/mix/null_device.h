// The "no sound" device: a thread that pulls the mixer in real time and
// discards what it renders, so that streams play, end and free themselves
// exactly as they would on a real device.
#pragma once

#include <atomic>
#include <thread>
#include <vector>

#include "mix/output_device.h"

namespace audio {

class NullDevice : public OutputDevice {
public:
    explicit NullDevice(uint32_t rate) : rate_(rate) {}
    ~NullDevice() override;
    bool start(RenderSource* source, Error* error) override;

private:
    // The device thread: one period every 10 ms, on a fixed schedule.
    void run(RenderSource* source);

    uint32_t rate_;
    std::atomic<bool> running_{false};
    std::thread thread_;
};

}  // namespace audio
