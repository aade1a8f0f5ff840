// The render thread's steady state: while streams play, pause, stop,
// restart, end and are freed, the thread that renders allocates and frees
// no memory, reads no file and tears down no stream. This program replaces
// operator new and delete (replaced_new.cpp) to count what the render
// thread does, so it is a program of its own.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "mix/engine.h"
#include "replaced_new.h"
#include "test_signals.h"

using audio::Engine;
using audio::Error;
using namespace audio_test;
using namespace std::chrono_literals;

namespace {

thread_local bool t_render_thread = false;
std::atomic<int> g_render_allocations{0};
std::atomic<int> g_render_frees{0};

}  // namespace

bool audio_test::allocation_fails(std::size_t) {
    if (t_render_thread) ++g_render_allocations;
    return false;
}
void audio_test::note_release() {
    if (t_render_thread) ++g_render_frees;
}

namespace {

const uint32_t kOut = 44100;

// What the streams' sources saw: reads and teardowns, and how many of each
// happened on the render thread.
struct SourceLog {
    std::atomic<int> reads{0}, reads_on_render{0};
    std::atomic<int> destroyed{0}, destroyed_on_render{0};
};

class LoggedSource : public ForwardingSource {
public:
    LoggedSource(std::unique_ptr<audio::ByteSource> inner, SourceLog& log)
        : ForwardingSource(std::move(inner)), log_(log) {}
    ~LoggedSource() override {
        ++log_.destroyed;
        if (t_render_thread) ++log_.destroyed_on_render;
    }
    size_t read(void* dst, size_t n) override {
        ++log_.reads;
        if (t_render_thread) ++log_.reads_on_render;
        return inner_->read(dst, n);
    }

private:
    SourceLog& log_;
};

audio::SourceOpener logged(audio::SourceOpener inner, SourceLog& log) {
    return [inner, &log](Error* error) -> std::unique_ptr<audio::ByteSource> {
        std::unique_ptr<audio::ByteSource> source = inner(error);
        if (!source) return nullptr;
        return std::make_unique<LoggedSource>(std::move(source), log);
    };
}

// Pulls the engine as a device thread does, 10 ms at a time, a few times
// faster than real time; everything it needs is allocated before it starts
// counting.
class RenderThread {
public:
    explicit RenderThread(Engine& engine)
        : buffer_(2 * 441), thread_([this, &engine] {
              t_render_thread = true;
              while (!done_.load()) {
                  engine.render(buffer_.data(), 441);
                  for (float sample : buffer_) peak_ = std::max(peak_, std::fabs(sample));
                  ++blocks_;
                  std::this_thread::sleep_for(3ms);
              }
              t_render_thread = false;  // the thread's own teardown is not the render's
          }) {}
    ~RenderThread() { stop(); }
    void stop() {
        done_.store(true);
        if (thread_.joinable()) thread_.join();
    }
    int blocks() const { return blocks_; }
    float peak() const { return peak_; }

private:
    std::vector<float> buffer_;
    std::atomic<bool> done_{false};
    int blocks_ = 0;
    float peak_ = 0.0f;
    std::thread thread_;
};

uint32_t create(Engine& engine, audio::SourceOpener opener, bool auto_free = false) {
    audio::StreamOptions options;
    options.auto_free = auto_free;
    Error error = Error::none;
    uint32_t handle = engine.create_stream(std::move(opener), options, &error);
    EXPECT_NE(handle, 0u) << int(error);
    return handle;
}

// One round of every call that changes what plays: an Ogg file that is
// paused, resumed, restarted and freed; a WAV that is stopped and played on;
// a short one that ends and frees itself.
void play_a_round(Engine& engine, SourceLog& log, const std::vector<uint8_t>& ogg, int round) {
    WavLayout layout;
    uint32_t song = create(engine, logged(memory_opener(ogg), log));
    uint32_t tone = create(engine, logged(memory_opener(make_wav(layout, sine(440, kOut, 1, kOut, 0.3))), log));
    uint32_t blip = create(engine, logged(memory_opener(make_wav(layout, sine(880, kOut, 1, 4410, 0.3))), log), true);
    for (uint32_t h : {song, tone, blip}) EXPECT_EQ(engine.play(h, false), Error::none);
    std::this_thread::sleep_for(40ms);
    engine.pause(song);
    engine.stop(tone);
    engine.set_volume(uint32_t(50 + round));
    std::this_thread::sleep_for(20ms);
    engine.play(song, false);
    engine.play(tone, false);
    std::this_thread::sleep_for(30ms);
    engine.play(song, true);
    std::this_thread::sleep_for(30ms);
    engine.free_stream(song);
    engine.free_stream(tone);
    std::this_thread::sleep_for(30ms);
}

}  // namespace

TEST(RenderRealtime, TheRenderThreadNeitherAllocatesNorReadsNorTearsDown) {
    SourceLog log;
    std::vector<uint8_t> ogg = read_data_file("sine_1k_44100_stereo.ogg");
    float peak = 0.0f;
    int blocks = 0;
    {
        Engine engine(kOut);
        RenderThread device(engine);
        for (int round = 0; round < 10; ++round) play_a_round(engine, log, ogg, round);
        for (int i = 0; i < 200 && engine.held_stream_count() > 0; ++i) std::this_thread::sleep_for(10ms);
        EXPECT_EQ(engine.held_stream_count(), 0u);
        device.stop();
        peak = device.peak();
        blocks = device.blocks();
    }
    EXPECT_GT(blocks, 100);
    EXPECT_GT(peak, 0.2f) << "nothing was heard: the test watched an idle mixer";
    EXPECT_GT(log.reads.load(), 100);
    EXPECT_EQ(g_render_allocations.load(), 0);
    EXPECT_EQ(g_render_frees.load(), 0);
    EXPECT_EQ(log.reads_on_render.load(), 0);
    // Every source was closed (each round's three, and the restart's old one)...
    EXPECT_EQ(log.destroyed.load(), 10 * 4);
    // ...and none of them on the render thread.
    EXPECT_EQ(log.destroyed_on_render.load(), 0);
}
