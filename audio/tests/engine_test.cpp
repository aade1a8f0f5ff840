// The engine through offline rendering: level and pitch through the whole
// playback path, volume, ramps, pause and resume, stop and end with auto-free,
// stale handles, decode channels, calls racing the render thread, and the
// queue of sound decoded ahead: kept or emptied by the calls, and starving
// when the content's reads stall.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "host_platform.h"
#include "mix/engine.h"
#include "test_signals.h"

#ifndef _WIN32
#include <dirent.h>
#endif

using audio::Engine;
using audio::Error;
using audio::StreamOptions;
using audio::StreamState;
using namespace audio_test;

namespace {

const double kSineRms = 0.5 / std::sqrt(2.0);
const uint32_t kOut = 44100;

// Floats, so that gain ramps show directly in the rendered values.
const WavLayout kFloatMono = float_layout();

std::vector<float> render(Engine& engine, size_t frames) {
    std::vector<float> out(2 * frames);
    render_fed(engine, out.data(), frames);
    return out;
}

// Options of streams that free themselves, and of decode channels.
StreamOptions auto_free() {
    StreamOptions options;
    options.auto_free = true;
    return options;
}
StreamOptions decode_only() {
    StreamOptions options;
    options.decode_only = true;
    return options;
}

uint32_t create(Engine& engine, std::vector<uint8_t> bytes, StreamOptions options = {}) {
    Error error = Error::none;
    uint32_t handle = engine.create_stream(memory_opener(std::move(bytes)), options, &error);
    EXPECT_NE(handle, 0u) << int(error);
    return handle;
}

StreamState state(Engine& engine, uint32_t handle) {
    StreamState state;
    engine.state(handle, &state);
    return state;
}

uint64_t position(Engine& engine, uint32_t handle) {
    uint64_t frames = 0;
    engine.position(handle, &frames);
    return frames;
}

}  // namespace

TEST(Engine, SinesComeOutAtLevelAndPitchFromEveryRate) {
    for (uint32_t rate : {8000u, 11025u, 22050u, 32000u, 44100u, 48000u, 96000u}) {
        for (uint16_t channels : {1, 2}) {
            SCOPED_TRACE(testing::Message() << rate << " Hz, " << channels << " channels");
            Engine engine(kOut);
            uint32_t h = create(engine, sine_wav(rate, channels, 1.0));
            ASSERT_EQ(engine.play(h, false), Error::none);
            std::vector<float> out = render(engine, kOut / 2);
            std::vector<float> left = channel(out, 2, 0), right = channel(out, 2, 1);
            EXPECT_NEAR(rms(left, 1000), kSineRms, 0.005);
            EXPECT_NEAR(rms(right, 1000), kSineRms, 0.005);  // mono at the same level on both sides
            EXPECT_NEAR(zero_crossing_frequency(left, kOut, 1000), 1000.0, 0.5);
        }
    }
}

TEST(Engine, EncodedFilesPlayAtLevelAndPitch) {
    for (const char* file : {"sine_1k_44100_stereo.ogg", "sine_1k_22050_mono.ogg"}) {
        SCOPED_TRACE(file);
        Engine engine(kOut);
        uint32_t h = create(engine, read_data_file(file));
        ASSERT_EQ(engine.play(h, false), Error::none);
        std::vector<float> left = channel(render(engine, kOut / 2), 2, 0);
        EXPECT_NEAR(rms(left, 2000, 20000), kSineRms, 0.02);
        EXPECT_NEAR(zero_crossing_frequency(left, kOut, 2000, 20000), 1000.0, 2.0);
    }
}

TEST(Engine, SurroundIsMixedDownWithoutClipping) {
    // Tone on left and right of a three-channel file: heard on both sides,
    // scaled by the downmix that keeps full-scale input on all three in range.
    Engine engine(kOut);
    uint32_t h = create(engine, read_data_file("sine_1k_48000_3ch.ogg"));
    ASSERT_EQ(engine.play(h, false), Error::none);
    std::vector<float> out = render(engine, kOut / 4);
    double expected = kSineRms / (1 + 0.7071);
    EXPECT_NEAR(rms(channel(out, 2, 0), 2000, 9000), expected, 0.01);
    EXPECT_NEAR(rms(channel(out, 2, 1), 2000, 9000), expected, 0.01);
}

TEST(Engine, VolumeScalesTheOutputLinearly) {
    for (uint32_t volume : {100u, 60u, 25u, 0u}) {
        SCOPED_TRACE(volume);
        Engine engine(kOut);
        engine.set_volume(volume);
        EXPECT_EQ(engine.volume(), volume);
        uint32_t h = create(engine, sine_wav(kOut, 2, 0.5));
        engine.play(h, false);
        render(engine, 2048);  // let the start ramp and the volume settle
        std::vector<float> left = channel(render(engine, 8192), 2, 0);
        EXPECT_NEAR(rms(left), kSineRms * volume / 100.0, 0.003);
    }
}

TEST(Engine, PlayStartsWithARampNotAClick) {
    Engine engine(kOut);
    uint32_t h = create(engine, dc_wav(0.5, 0.5f, kFloatMono));
    engine.play(h, false);
    std::vector<float> left = channel(render(engine, 1000), 2, 0);
    EXPECT_LT(left[0], 0.01f);
    EXPECT_NEAR(left[110], 0.25f, 0.02f);  // halfway through the 5 ms ramp
    EXPECT_NEAR(left[400], 0.5f, 1e-4f);
    for (size_t i = 1; i < left.size(); ++i) EXPECT_LE(std::fabs(left[i] - left[i - 1]), 0.01f) << i;
}

TEST(Engine, PauseFadesOutHoldsThePositionAndPlayResumesFromIt) {
    Engine engine(kOut);
    uint32_t h = create(engine, dc_wav(1.0, 0.5f, kFloatMono));
    engine.play(h, false);
    render(engine, 4410);
    EXPECT_EQ(engine.pause(h), Error::none);
    EXPECT_EQ(state(engine, h), StreamState::paused);
    EXPECT_EQ(engine.pause(h), Error::not_playing);
    std::vector<float> fade = channel(render(engine, 2205), 2, 0);  // 50 ms
    EXPECT_GT(fade[0], 0.45f);  // no jump to silence
    for (size_t i = 1; i < fade.size(); ++i) EXPECT_LE(fade[i], fade[i - 1] + 1e-6f);
    for (size_t i = 300; i < fade.size(); ++i) ASSERT_EQ(fade[i], 0.0f) << i;
    uint64_t held = position(engine, h);
    EXPECT_LT(held, 4410u + 300);
    render(engine, 4410);
    EXPECT_EQ(position(engine, h), held);
    EXPECT_EQ(engine.play(h, false), Error::none);
    EXPECT_EQ(state(engine, h), StreamState::playing);
    std::vector<float> resumed = channel(render(engine, 4410), 2, 0);
    EXPECT_NEAR(resumed[1000], 0.5f, 1e-4f);
    EXPECT_EQ(position(engine, h), held + 4410);
}

TEST(Engine, WhileTheOutputIsGonePlayingStreamsReportStalledAndCallsStillWork) {
    Engine engine(kOut);
    uint32_t playing = create(engine, dc_wav(1.0, 0.5f, kFloatMono));
    uint32_t paused = create(engine, dc_wav(1.0, 0.5f, kFloatMono));
    uint32_t idle = create(engine, dc_wav(1.0, 0.5f, kFloatMono));
    engine.play(playing, false);
    engine.play(paused, false);
    render(engine, 4410);
    engine.pause(paused);
    render(engine, 2205);
    uint64_t held = position(engine, playing);

    engine.set_output_stalled(true);
    EXPECT_EQ(state(engine, playing), StreamState::stalled);
    EXPECT_EQ(state(engine, paused), StreamState::paused);
    EXPECT_EQ(state(engine, idle), StreamState::stopped);
    // Pause, Play and Stop change what each stream will do once the output is back.
    EXPECT_EQ(engine.pause(playing), Error::none);
    EXPECT_EQ(state(engine, playing), StreamState::paused);
    EXPECT_EQ(engine.play(playing, false), Error::none);
    EXPECT_EQ(state(engine, playing), StreamState::stalled);
    EXPECT_EQ(engine.play(idle, false), Error::none);
    EXPECT_EQ(state(engine, idle), StreamState::stalled);
    EXPECT_EQ(engine.stop(idle), Error::none);
    EXPECT_EQ(state(engine, idle), StreamState::stopped);
    EXPECT_EQ(position(engine, playing), held);

    engine.set_output_stalled(false);
    EXPECT_EQ(state(engine, playing), StreamState::playing);
    std::vector<float> resumed = channel(render(engine, 4410), 2, 0);
    EXPECT_NEAR(resumed[100], 0.5f, 1e-4f) << "playback did not go on without a new ramp";
    EXPECT_EQ(position(engine, playing), held + 4410);
}

TEST(Engine, PlayOnAPlayingStreamDoesNotRestartButRestartDoes) {
    Engine engine(kOut);
    uint32_t h = create(engine, sine_wav(kOut, 1, 1.0));
    engine.play(h, false);
    render(engine, 8820);
    EXPECT_EQ(engine.play(h, false), Error::none);
    EXPECT_EQ(position(engine, h), 8820u);
    EXPECT_EQ(engine.play(h, true), Error::none);
    EXPECT_EQ(position(engine, h), 0u);
    render(engine, 100);
    EXPECT_EQ(position(engine, h), 100u);
}

TEST(Engine, RestartCrossfadesTheOldSoundIntoTheNew) {
    // -0.5 for the first 1000 frames, then 0.5: the restart goes from 0.5 to -0.5.
    std::vector<float> samples(kOut, 0.5f);
    std::fill(samples.begin(), samples.begin() + 1000, -0.5f);
    WavLayout layout;
    layout.tag = 3;
    layout.bits = 32;
    Engine engine(kOut);
    uint32_t h = create(engine, make_wav(layout, samples));
    engine.play(h, false);
    std::vector<float> left = channel(render(engine, 4410), 2, 0);
    engine.play(h, true);
    std::vector<float> after = channel(render(engine, 900), 2, 0);
    left.insert(left.end(), after.begin(), after.end());
    for (size_t i = 2000; i < left.size(); ++i) ASSERT_LE(std::fabs(left[i] - left[i - 1]), 0.01f) << i;
    EXPECT_NEAR(after[110], 0.0f, 0.01f);  // halfway through
    EXPECT_NEAR(after[300], -0.5f, 1e-4f);
}

TEST(Engine, StopReleasesAnAutoFreeStreamAfterItsFade) {
    Engine engine(kOut);
    uint32_t h = create(engine, dc_wav(1.0, 0.5f, kFloatMono), auto_free());
    engine.play(h, false);
    render(engine, 1000);
    EXPECT_EQ(engine.stop(h), Error::none);
    // The handle is gone at once...
    EXPECT_EQ(engine.play(h, false), Error::bad_handle);
    EXPECT_EQ(engine.stop(h), Error::bad_handle);
    EXPECT_EQ(engine.stream_count(), 0u);
    // ...while the sound fades out instead of stopping dead.
    std::vector<float> left = channel(render(engine, 2205), 2, 0);
    EXPECT_GT(left[0], 0.45f);
    EXPECT_EQ(left[400], 0.0f);
    EXPECT_EQ(left.back(), 0.0f);
}

TEST(Engine, HeldStreamsCountThoseFadingOutUntilTheMixerLetsThemGo) {
    Engine engine(kOut);
    uint32_t playing = create(engine, dc_wav(1.0, 0.5f, kFloatMono));
    uint32_t idle = create(engine, dc_wav(1.0, 0.5f, kFloatMono));
    engine.play(playing, false);
    render(engine, 1000);
    EXPECT_EQ(engine.held_stream_count(), 2u);
    engine.free_stream(idle);
    engine.free_stream(playing);
    // Both handles are gone, but the played one is still fading out.
    EXPECT_EQ(engine.stream_count(), 0u);
    EXPECT_EQ(engine.held_stream_count(), 1u);
    render(engine, 4410);
    EXPECT_EQ(engine.held_stream_count(), 0u);
}

namespace {

// The files the process holds open; Wine keeps no count a test can read.
size_t open_file_count() {
    size_t count = 0;
#ifndef _WIN32
    DIR* fds = opendir("/proc/self/fd");
    while (fds && readdir(fds)) ++count;
    if (fds) closedir(fds);
#endif
    return count;
}

}  // namespace

TEST(Engine, StreamsFreedWhileNobodyHearsThemGoAtOnce) {
    // Their fade has nobody to hear it: the stream, its file and its codec go
    // now. One was heard before the output went quiet; no feeder thread
    // tidies up behind the calls.
    const struct {
        const char* name;
        void (*silence)(Engine&);
    } cases[] = {
        {"output stalled", [](Engine& e) { e.set_output_stalled(true); }},
        {"nothing renders", [](Engine&) { std::this_thread::sleep_for(std::chrono::milliseconds(300)); }},
    };
    std::string path = data_file_path("sine_1k_44100_stereo.ogg");
    audio::SourceOpener file = [path](Error* e) { return audio::host_platform().open_file_source(path.c_str(), e); };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Engine engine(kOut, audio::host_platform().open_block_converter, 0);
        size_t files = open_file_count();
        Error error = Error::none;
        uint32_t heard = engine.create_stream(file, {}, &error);
        ASSERT_EQ(engine.play(heard, false), Error::none);
        render(engine, 441);
        c.silence(engine);
        EXPECT_EQ(engine.free_stream(heard), Error::none);
        EXPECT_EQ(engine.held_stream_count(), 0u);
        for (int i = 0; i < 1000; ++i) {
            uint32_t h = engine.create_stream(file, i % 2 ? auto_free() : StreamOptions{}, &error);
            ASSERT_NE(h, 0u) << int(error);
            ASSERT_EQ(engine.play(h, false), Error::none);
            ASSERT_EQ(i % 2 ? engine.stop(h) : engine.free_stream(h), Error::none);
        }
        EXPECT_EQ(engine.held_stream_count(), 0u);
        EXPECT_EQ(open_file_count(), files);
    }
}

TEST(Engine, StopWithoutAutoFreeKeepsTheStream) {
    Engine engine(kOut);
    uint32_t h = create(engine, sine_wav(kOut, 1, 1.0));
    engine.play(h, false);
    render(engine, 1000);
    EXPECT_EQ(engine.stop(h), Error::none);
    EXPECT_EQ(state(engine, h), StreamState::stopped);
    render(engine, 1000);
    EXPECT_EQ(engine.play(h, false), Error::none);
    EXPECT_EQ(engine.stream_count(), 1u);
}

TEST(Engine, TheEndReleasesAnAutoFreeStream) {
    Engine engine(kOut);
    uint32_t freed = create(engine, sine_wav(22050, 1, 0.1), auto_free());
    uint32_t kept = create(engine, sine_wav(22050, 1, 0.1));
    engine.play(freed, false);
    engine.play(kept, false);
    std::vector<float> out = render(engine, kOut / 5);
    EXPECT_EQ(engine.play(freed, false), Error::bad_handle);
    EXPECT_EQ(state(engine, kept), StreamState::ended);
    EXPECT_EQ(position(engine, kept), 2205u);
    // Silence after the end (both streams carried the same tone).
    std::vector<float> left = channel(out, 2, 0);
    EXPECT_GT(rms(left, 0, 4000), 0.5);
    EXPECT_LT(rms(left, 4500), 1e-6);
    // Playing an ended stream starts it over.
    EXPECT_EQ(engine.play(kept, false), Error::none);
    render(engine, 441);
    EXPECT_EQ(position(engine, kept), 220u);
}

TEST(Engine, AtItsEndAStreamIsAtItsLengthFromEveryRate) {
    for (uint32_t rate : {8000u, 11025u, 22050u, 32000u, 48000u, 96000u}) {
        SCOPED_TRACE(testing::Message() << rate << " Hz");
        Engine engine(kOut);
        uint32_t h = create(engine, sine_wav(rate, 1, 0.1));
        engine.play(h, false);
        render(engine, kOut / 5);
        EXPECT_EQ(state(engine, h), StreamState::ended);
        EXPECT_EQ(position(engine, h), rate / 10);
    }
}

TEST(Engine, PauseOrStopAmongTheLastFramesKeepsThatState) {
    // The fade out wants more frames than are left: the end comes during it.
    const struct {
        const char* name;
        Error (Engine::*call)(uint32_t);
        StreamState expected;
    } cases[] = {{"pause", &Engine::pause, StreamState::paused}, {"stop", &Engine::stop, StreamState::stopped}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Engine engine(kOut);
        uint32_t h = create(engine, dc_wav(0.1, 0.5f, kFloatMono));
        engine.play(h, false);
        render(engine, kOut / 10 - 100);
        EXPECT_EQ((engine.*c.call)(h), Error::none);
        render(engine, kOut / 10);
        EXPECT_EQ(state(engine, h), c.expected);
    }
}

TEST(Engine, StaleHandlesNeverReachNewerStreams) {
    Engine engine(kOut);
    uint32_t first = create(engine, sine_wav(kOut, 1, 0.1));
    EXPECT_EQ(engine.free_stream(first), Error::none);
    uint32_t second = create(engine, sine_wav(kOut, 1, 0.1));
    EXPECT_NE(first, second);
    EXPECT_EQ(engine.free_stream(first), Error::bad_handle);
    EXPECT_EQ(engine.play(first, false), Error::bad_handle);
    EXPECT_EQ(engine.pause(first), Error::bad_handle);
    audio::StreamInfo info;
    EXPECT_EQ(engine.info(first, &info), Error::bad_handle);
    EXPECT_EQ(engine.info(second, &info), Error::none);
    EXPECT_EQ(engine.play(0, false), Error::bad_handle);
}

TEST(Engine, DecodeChannelsAreReadNotPlayed) {
    Engine engine(kOut);
    std::vector<float> tone = sine(1000, 22050, 2, 5000, 0.5);
    uint32_t h = create(engine, make_wav(float_layout(22050, 2), tone), decode_only());
    EXPECT_EQ(engine.play(h, false), Error::decode_channel);
    EXPECT_LT(rms(render(engine, 1000)), 1e-9);  // never mixed
    std::vector<float> decoded(2 * 3000);
    size_t got = 0;
    ASSERT_EQ(engine.read_decoded(h, decoded.data(), 3000, &got), Error::none);
    ASSERT_EQ(got, 3000u);
    ASSERT_EQ(engine.read_decoded(h, decoded.data() + 0, 3000, &got), Error::none);
    EXPECT_EQ(got, 2000u);
    EXPECT_EQ(decoded[2 * 1999], tone[2 * 4999]);  // the stream's own samples, unchanged
    EXPECT_EQ(position(engine, h), 5000u);
    ASSERT_EQ(engine.read_decoded(h, decoded.data(), 3000, &got), Error::none);
    EXPECT_EQ(got, 0u);
}

TEST(Engine, AutoFreeDecodeChannelsAreReleasedAtTheirEnd) {
    Engine engine(kOut);
    StreamOptions options = decode_only();
    options.auto_free = true;
    uint32_t h = create(engine, sine_wav(22050, 1, 0.1), options);
    std::vector<float> out(4000);
    size_t got = 0;
    ASSERT_EQ(engine.read_decoded(h, out.data(), 4000, &got), Error::none);
    EXPECT_EQ(got, 2205u);
    EXPECT_EQ(engine.stream_count(), 1u);  // the end is reported first...
    ASSERT_EQ(engine.read_decoded(h, out.data(), 4000, &got), Error::none);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(engine.stream_count(), 0u);  // ...and the stream goes with it
    EXPECT_EQ(engine.read_decoded(h, out.data(), 4000, &got), Error::bad_handle);
}

TEST(Engine, CallsFromOtherThreadsRaceTheRenderThreadSafely) {
    Engine engine(kOut);
    std::atomic<bool> done{false};
    std::thread device([&] {
        std::vector<float> out(2 * 441);
        while (!done.load()) engine.render(out.data(), 441);
    });
    std::vector<uint8_t> wav = sine_wav(48000, 2, 0.05);
    for (int i = 0; i < 200; ++i) {
        uint32_t h = create(engine, wav, i % 2 ? auto_free() : StreamOptions{});
        engine.play(h, false);
        if (i % 3 == 0) engine.pause(h);
        if (i % 5 == 0) engine.play(h, true);
        engine.set_volume(uint32_t(i % 101));
        if (i % 2) engine.stop(h);
        else engine.free_stream(h);
    }
    done.store(true);
    device.join();
    EXPECT_EQ(engine.stream_count(), 0u);
}

namespace {

// Renders in its own thread, a few times faster than real time, as a
// device's thread would, until destroyed.
class MixingThread {
public:
    explicit MixingThread(Engine& engine)
        : thread_([this, &engine] {
              std::vector<float> out(2 * 441);
              while (!done_.load()) {
                  engine.render(out.data(), 441);
                  std::this_thread::sleep_for(std::chrono::milliseconds(1));
              }
          }) {}
    ~MixingThread() {
        done_.store(true);
        thread_.join();
    }

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

}  // namespace

TEST(EngineRace, ReleasedStreamsNeverComeBackIntoTheMix) {
    // Play and restart race a release from another thread: StreamFree, Stop
    // of an auto-free stream, or the mixer's own auto-free at the end. Once
    // every handle is gone nothing may be left playing: a stream revived
    // without a handle would play its minute of sound to the end.
    Engine engine(kOut);
    audio::SourceOpener minute = memory_opener(dc_wav(60.0, 0.5f));
    audio::SourceOpener blip = memory_opener(make_wav(WavLayout{}, std::vector<float>(100, 0.5f)));
    {
        MixingThread mixer(engine);
        for (int i = 0; i < 300; ++i) {
            Error error = Error::none;
            uint32_t h = engine.create_stream(i % 3 == 2 ? blip : minute, auto_free(), &error);
            ASSERT_NE(h, 0u);
            engine.play(h, false);
            std::thread releaser([&engine, h, i] {
                if (i % 3 == 0) engine.free_stream(h);
                if (i % 3 == 1) engine.stop(h);
            });
            for (int k = 0; k < 20; ++k) {
                if (engine.play(h, k % 2 == 1) == Error::bad_handle) break;
            }
            releaser.join();
            engine.free_stream(h);  // a blip the mixer has not ended yet
            EXPECT_EQ(engine.play(h, false), Error::bad_handle);
        }
    }
    EXPECT_EQ(engine.stream_count(), 0u);
    render(engine, 4410);  // the last fades
    double level = rms(render(engine, 4410));
    EXPECT_EQ(level, 0.0) << "streams playing without a handle: " << level / 0.5;
}

namespace {

// A float stereo WAV with `left` and `right` as its channels.
std::vector<uint8_t> stereo_wav(const std::vector<float>& left, const std::vector<float>& right) {
    std::vector<float> samples;
    for (size_t i = 0; i < left.size(); ++i) {
        samples.push_back(left[i]);
        samples.push_back(right[i]);
    }
    WavLayout layout;
    layout.tag = 3;
    layout.bits = 32;
    layout.channels = 2;
    return make_wav(layout, samples);
}

// A signal that is never 0 and tells each frame's place: a heard sample
// names the position it came from, within a period of 1000 frames.
std::vector<float> position_signal(size_t frames) {
    std::vector<float> signal(frames);
    for (size_t i = 0; i < frames; ++i) signal[i] = 0.25f + 0.5f * float(i % 1000) / 1000.0f;
    return signal;
}

// Frames into the ramp after which a started stream plays at full gain.
const size_t kRampFrames = 221;

// Checks that heard[from..] is signal[start + from..]: the sound goes on
// from `start`, skipping nothing.
void expect_continues(const std::vector<float>& heard, const std::vector<float>& signal, size_t start,
                      size_t from = kRampFrames) {
    for (size_t i = from; i < heard.size(); ++i) ASSERT_EQ(heard[i], signal[start + i]) << "frame " << i;
}

}  // namespace

TEST(EngineFeed, StopAndPauseKeepTheQueueAndRestartEmptiesIt) {
    // No feeder threads and no feeding after the call: what plays next comes
    // from the queue as the call left it (and from Play's own first block).
    const std::vector<float> signal = position_signal(kOut * 2);
    const struct {
        const char* name;
        Error (*act)(Engine&, uint32_t);
        bool from_start;
    } cases[] = {
        {"pause", [](Engine& e, uint32_t h) { return e.pause(h); }, false},
        {"stop", [](Engine& e, uint32_t h) { return e.stop(h); }, false},
        {"restart", [](Engine& e, uint32_t h) { return e.play(h, true); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Engine engine(kOut, nullptr, 0);
        uint32_t h = create(engine, stereo_wav(signal, signal));
        engine.play(h, false);
        render(engine, 8820);  // and the queue is full
        ASSERT_EQ(c.act(engine, h), Error::none);
        std::vector<float> out(2 * 2205);
        engine.render(out.data(), 2205);  // a fade, or the restart's start
        uint64_t held = position(engine, h);
        if (!c.from_start) {
            ASSERT_EQ(engine.play(h, false), Error::none);
            engine.render(out.data(), 2205);
        }
        EXPECT_EQ(position(engine, h), held + (c.from_start ? 0 : 2205));
        expect_continues(channel(out, 2, 0), signal, c.from_start ? 0 : size_t(held));
    }
}

namespace {

// Content whose reads wait while the gate is closed: storage that stalls.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = true;
    void set(bool now_open) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            open = now_open;
        }
        changed.notify_all();
    }
};

class GatedSource : public ForwardingSource {
public:
    GatedSource(std::unique_ptr<audio::ByteSource> inner, Gate& gate)
        : ForwardingSource(std::move(inner)), gate_(gate) {}
    size_t read(void* dst, size_t n) override {
        std::unique_lock<std::mutex> lock(gate_.mutex);
        gate_.changed.wait(lock, [this] { return gate_.open; });
        return inner_->read(dst, n);
    }

private:
    Gate& gate_;
};

// Renders in real time, 10 ms a period, into a recording made up front.
class Recorder {
public:
    Recorder(Engine& engine, double seconds)
        : out_(size_t(2 * kOut * seconds)), thread_([this, &engine] {
              auto next = std::chrono::steady_clock::now();
              for (size_t at = 0; at + 2 * 441 <= out_.size() && !done_.load(); at += 2 * 441) {
                  engine.render(out_.data() + at, 441);
                  frames_.store(at / 2 + 441);
                  next += std::chrono::milliseconds(10);
                  std::this_thread::sleep_until(next);
              }
          }) {}
    // The recording so far, once the thread has stopped.
    std::vector<float> stop() {
        done_.store(true);
        thread_.join();
        out_.resize(2 * frames_.load());
        return out_;
    }

private:
    std::vector<float> out_;
    std::atomic<bool> done_{false};
    std::atomic<size_t> frames_{0};
    std::thread thread_;
};

// Waits up to five seconds for `condition`.
template <typename Condition>
bool wait_for(Condition condition) {
    auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > give_up) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace

TEST(EngineFeed, AStarvingStreamGoesSilentAndResumesWhereItWasWhileOthersPlayOn) {
    // The stalled stream plays on the left, a steady one on the right.
    const std::vector<float> signal = position_signal(kOut * 4);
    const std::vector<float> none(kOut * 4, 0.0f), steady(kOut * 4, 0.5f);
    Gate gate;
    Engine engine(kOut);
    audio::SourceOpener stalled_content = memory_opener(stereo_wav(signal, none));
    Error error = Error::none;
    uint32_t stalled = engine.create_stream(
        [&](Error* e) { return std::make_unique<GatedSource>(stalled_content(e), gate); }, {}, &error);
    uint32_t other = create(engine, stereo_wav(none, steady));
    Recorder recorder(engine, 3.5);
    engine.play(stalled, false);
    engine.play(other, false);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    gate.set(false);
    ASSERT_TRUE(wait_for([&] { return engine.underrun_count() > 0; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // Starving, the position is that of the last sound heard.
    uint64_t held = position(engine, stalled);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(position(engine, stalled), held);
    gate.set(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    std::vector<float> out = recorder.stop();

    EXPECT_EQ(engine.underrun_count(), 1u);
    std::vector<float> left = channel(out, 2, 0), right = channel(out, 2, 1);
    std::vector<float> heard;  // the left channel without its silences
    size_t silent = 0, first = left.size();
    for (size_t i = 0; i < left.size(); ++i) {
        if (left[i] != 0.0f) heard.push_back(left[i]), first = std::min(first, i);
        else if (i > first) ++silent;
    }
    EXPECT_GT(silent, size_t(kOut * 0.3)) << "the stall was never heard";
    EXPECT_EQ(position(engine, stalled), heard.size());
    expect_continues(heard, signal, 0);
    size_t other_start = size_t(std::find(right.begin(), right.end(), 0.5f) - right.begin());
    for (size_t i = other_start; i < right.size(); ++i) ASSERT_EQ(right[i], 0.5f) << "the other stream broke at " << i;
}
