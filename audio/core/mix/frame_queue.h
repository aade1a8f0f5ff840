// A bounded queue of decoded stereo frames between one producer (a feeder
// thread, or a caller priming a stream) and one consumer (the render
// thread). Neither side waits for the other or allocates: the ring is
// allocated once, and each side moves only its own counter.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace audio {

class FrameQueue {
public:
    explicit FrameQueue(size_t capacity_frames);

    size_t capacity() const { return capacity_; }
    size_t available() const;  // frames written and not yet read
    size_t space() const { return capacity_ - available(); }

    // Producer: the free frames after the last one written, as one run that
    // does not wrap (empty when full); commit() publishes what was written.
    float* write_run(size_t* frames);
    void commit(size_t frames);
    // No frame will follow the ones written so far.
    void mark_end() { end_.store(true, std::memory_order_release); }

    // Consumer: the oldest unread frames, as one run that does not wrap;
    // consume() frees them for the producer.
    const float* read_run(size_t* frames) const;
    void consume(size_t frames);
    // Read before draining: once true, every frame is already visible.
    bool end_marked() const { return end_.load(std::memory_order_acquire); }

    // Empties the queue; only while neither side is using it.
    void reset();

private:
    std::vector<float> ring_;  // 2 floats a frame
    const size_t capacity_;
    // Frames written and read since the last reset; each moved by one side.
    std::atomic<uint64_t> written_{0};
    std::atomic<uint64_t> read_{0};
    std::atomic<bool> end_{false};
};

}  // namespace audio
