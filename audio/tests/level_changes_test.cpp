// The promise that nothing clicks: every change of level the engine makes,
// master volume included, moves in small steps when rendered in the blocks a
// device pulls. Each case plays a constant level, so any jump is the engine's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

#include "mix/engine.h"
#include "test_signals.h"

using audio::Engine;
using audio::Error;
using namespace audio_test;

namespace {

const uint32_t kOut = 44100;
const size_t kDeviceBlock = 441;  // 10 ms, as the null device pulls
// Largest sample-to-sample change allowed: a 0.5 level faded over 1 ms
// moves 0.011 a sample, a cut moves 0.5.
const float kMaxStep = 0.012f;

// A stream of a constant 0.5 on both channels, playing at full level.
uint32_t playing_dc(Engine& engine, audio::StreamOptions options = {}) {
    Error error = Error::none;
    uint32_t h = engine.create_stream(memory_opener(dc_wav(2.0, 0.5f, float_layout())),
                                      options, &error);
    EXPECT_NE(h, 0u) << int(error);
    engine.play(h, false);
    return h;
}

// Renders `frames` left-channel samples in device-sized blocks.
std::vector<float> render_left(Engine& engine, size_t frames) {
    std::vector<float> left, block(2 * kDeviceBlock);
    while (left.size() < frames) {
        render_fed(engine, block.data(), kDeviceBlock);
        for (size_t i = 0; i < kDeviceBlock; ++i) left.push_back(block[2 * i]);
    }
    return left;
}

// The largest change between neighbouring samples, counting the step from
// `before` (the last sample heard) into the first.
float largest_step(float before, const std::vector<float>& samples) {
    float step = std::fabs(samples[0] - before);
    for (size_t i = 1; i < samples.size(); ++i) step = std::max(step, std::fabs(samples[i] - samples[i - 1]));
    return step;
}

}  // namespace

TEST(LevelChanges, MasterVolumeGlidesToItsNewValue) {
    const struct { uint32_t from, to; } changes[] = {{100, 20}, {20, 100}, {60, 0}};
    for (auto [from, to] : changes) {
        SCOPED_TRACE(testing::Message() << from << " -> " << to);
        Engine engine(kOut);
        engine.set_volume(from);
        playing_dc(engine);
        float before = render_left(engine, 4410).back();
        ASSERT_NEAR(before, 0.5f * float(from) / 100, 1e-4f);
        engine.set_volume(to);
        std::vector<float> after = render_left(engine, 4410);
        EXPECT_LE(largest_step(before, after), kMaxStep);
        EXPECT_NEAR(after.back(), 0.5f * float(to) / 100, 1e-4f);  // and it does arrive
    }
}

TEST(LevelChanges, EveryWayOfSilencingAPlayingStreamFades) {
    struct Case {
        const char* name;
        bool auto_free;
        std::function<Error(Engine&, uint32_t)> act;
    } cases[] = {
        {"pause", false, [](Engine& e, uint32_t h) { return e.pause(h); }},
        {"stop", false, [](Engine& e, uint32_t h) { return e.stop(h); }},
        {"stop with auto-free", true, [](Engine& e, uint32_t h) { return e.stop(h); }},
        {"free", false, [](Engine& e, uint32_t h) { return e.free_stream(h); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Engine engine(kOut);
        audio::StreamOptions options;
        options.auto_free = c.auto_free;
        uint32_t h = playing_dc(engine, options);
        float before = render_left(engine, 4410).back();
        ASSERT_EQ(c.act(engine, h), Error::none);
        std::vector<float> after = render_left(engine, 4410);
        EXPECT_LE(largest_step(before, after), kMaxStep);
        EXPECT_EQ(after.back(), 0.0f);
    }
}
