// The single-producer, single-consumer ring of decoded frames.
#include "mix/frame_queue.h"

#include <algorithm>

namespace audio {

FrameQueue::FrameQueue(size_t capacity_frames) : ring_(2 * capacity_frames), capacity_(capacity_frames) {}

size_t FrameQueue::available() const {
    return size_t(written_.load(std::memory_order_acquire) - read_.load(std::memory_order_acquire));
}

float* FrameQueue::write_run(size_t* frames) {
    uint64_t written = written_.load(std::memory_order_relaxed);
    size_t at = size_t(written % capacity_);
    size_t free = capacity_ - size_t(written - read_.load(std::memory_order_acquire));
    *frames = std::min(free, capacity_ - at);
    return ring_.data() + 2 * at;
}

void FrameQueue::commit(size_t frames) {
    written_.store(written_.load(std::memory_order_relaxed) + frames, std::memory_order_release);
}

const float* FrameQueue::read_run(size_t* frames) const {
    uint64_t read = read_.load(std::memory_order_relaxed);
    size_t at = size_t(read % capacity_);
    size_t ready = size_t(written_.load(std::memory_order_acquire) - read);
    *frames = std::min(ready, capacity_ - at);
    return ring_.data() + 2 * at;
}

void FrameQueue::consume(size_t frames) {
    read_.store(read_.load(std::memory_order_relaxed) + frames, std::memory_order_release);
}

void FrameQueue::reset() {
    written_.store(0);
    read_.store(0);
    end_.store(false);
}

}  // namespace audio
