// The engine's feeder threads: each runs the engine's feeding pass every few
// milliseconds, and at once when woken. There are a few of them so that one
// stream whose file read or codec call hangs holds up only itself.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace audio {

class Feeder {
public:
    // Starts the threads; throws std::system_error when one cannot start.
    Feeder(size_t threads, std::function<void()> pass);
    // Stops and joins the threads; a pass under way finishes first.
    ~Feeder();
    Feeder(const Feeder&) = delete;
    Feeder& operator=(const Feeder&) = delete;

    // Runs a pass now rather than at the next tick (a stream was started).
    void wake();

private:
    void run();
    void stop();

    const std::function<void()> pass_;
    std::mutex mutex_;  // guards wakes_ and stopping_
    std::condition_variable wake_;
    unsigned wakes_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace audio
