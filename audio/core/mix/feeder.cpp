// The feeder threads' loop.
#include "mix/feeder.h"

#include <chrono>

namespace audio {
namespace {
// Between passes when nobody wakes the feeder: a small part of the queue's
// length, so that a queue is topped up long before it could run dry.
constexpr auto kTick = std::chrono::milliseconds(40);
}  // namespace

Feeder::Feeder(size_t threads, std::function<void()> pass) : pass_(std::move(pass)) {
    try {
        for (size_t i = 0; i < threads; ++i) threads_.emplace_back(&Feeder::run, this);
    } catch (...) {
        stop();
        throw;
    }
}

Feeder::~Feeder() { stop(); }

void Feeder::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (auto& thread : threads_) thread.join();
    threads_.clear();
}

void Feeder::wake() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++wakes_;
    }
    wake_.notify_one();
}

void Feeder::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        lock.unlock();
        try {
            pass_();
        } catch (...) {
            // Memory ran short outside any one stream: the next tick retries.
        }
        lock.lock();
        if (wakes_ == 0) wake_.wait_for(lock, kTick, [this] { return stopping_ || wakes_ > 0; });
        if (wakes_ > 0) --wakes_;
    }
}

}  // namespace audio
