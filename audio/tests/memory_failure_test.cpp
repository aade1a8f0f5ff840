// Memory running short (failing_allocations.h): the calls report it, a
// stream whose decoding fails stops while the others play on, and the null
// device neither starts without its buffer nor dies of a render that throws.
// The engines here have no feeder threads: the test's own thread decodes,
// and so meets the failures.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <new>
#include <thread>

#include "bass.h"
#include "failing_allocations.h"
#include "mix/engine.h"
#include "mix/null_device.h"
#include "test_signals.h"

using audio::Engine;
using audio::Error;
using audio::StreamState;
using namespace audio_test;

namespace {

const uint32_t kOut = 44100;

// Memory content read through a staging buffer allocated on every read, as a
// buffered file reader might: its stream allocates while it is mixed.
class AllocatingSource : public ForwardingSource {
public:
    using ForwardingSource::ForwardingSource;
    size_t read(void* dst, size_t n) override {
        std::vector<uint8_t> staging(n);
        size_t got = inner_->read(staging.data(), n);
        std::copy(staging.begin(), staging.begin() + long(got), static_cast<uint8_t*>(dst));
        return got;
    }
};

// Opens the content of `inner` through an AllocatingSource.
audio::SourceOpener allocating(audio::SourceOpener inner) {
    return [inner](Error* error) -> std::unique_ptr<audio::ByteSource> {
        return std::make_unique<AllocatingSource>(inner(error));
    };
}

// The left channel's mean over the last half of `frames` rendered frames,
// with the first `failures` allocations of the render failing.
double rendered_level(Engine& engine, size_t frames, int failures = 0) {
    std::vector<float> out(2 * frames);
    with_failing_allocations(failures, [&] {
        render_fed(engine, out.data(), frames);
        return 0;
    });
    double sum = 0;
    for (size_t i = frames / 2; i < frames; ++i) sum += out[2 * i];
    return sum / double(frames - frames / 2);
}

StreamState state(Engine& engine, uint32_t handle) {
    StreamState state = StreamState::stopped;
    engine.state(handle, &state);
    return state;
}

}  // namespace

TEST(MemoryFailure, AStreamThatFailsWhileMixedStopsAndTheOthersPlayOn) {
    Engine engine(kOut, nullptr, 0);
    audio::SourceOpener plain = memory_opener(dc_wav(2.0, 0.5f));
    Error error = Error::none;
    uint32_t healthy = engine.create_stream(plain, {}, &error);
    uint32_t failing = engine.create_stream(allocating(memory_opener(dc_wav(2.0, 0.25f))), {}, &error);
    ASSERT_EQ(engine.play(healthy, false), Error::none);
    // Failing in Play's own first decoding, it says so and stays stopped.
    EXPECT_EQ(with_failing_allocations(1, [&] { return engine.play(failing, false); }), Error::no_memory);
    EXPECT_EQ(state(engine, failing), StreamState::stopped);
    ASSERT_EQ(engine.play(failing, false), Error::none);
    EXPECT_NEAR(rendered_level(engine, 4410), 0.75, 1e-3);
    // The failing stream's next read allocates: that allocation fails.
    EXPECT_NEAR(rendered_level(engine, 44100, 1), 0.5, 1e-3);
    EXPECT_EQ(state(engine, failing), StreamState::stopped);
    EXPECT_EQ(engine.failure(failing), Error::no_memory);  // and it says why
    EXPECT_EQ(state(engine, healthy), StreamState::playing);
    EXPECT_EQ(engine.failure(healthy), Error::none);
    // Played again, it starts over from a fresh decoder.
    ASSERT_EQ(engine.play(failing, false), Error::none);
    EXPECT_EQ(engine.failure(failing), Error::none);
    uint64_t position = 1;
    engine.position(failing, &position);
    EXPECT_EQ(position, 0u);
    EXPECT_NEAR(rendered_level(engine, 4410), 0.75, 1e-3);
}

TEST(MemoryFailure, AnAutoFreeStreamThatFailsIsReleased) {
    Engine engine(kOut, nullptr, 0);
    Error error = Error::none;
    audio::StreamOptions auto_free;
    auto_free.auto_free = true;
    uint32_t h = engine.create_stream(allocating(memory_opener(dc_wav(2.0, 0.25f))), auto_free, &error);
    ASSERT_EQ(engine.play(h, false), Error::none);
    rendered_level(engine, 44100, 1);
    EXPECT_EQ(engine.play(h, false), Error::bad_handle);
    EXPECT_EQ(engine.stream_count(), 0u);
}

TEST(MemoryFailure, TheMixerNeedsNoMemoryHoweverManyStreamsPlay) {
    Engine engine(kOut, nullptr, 0);
    audio::SourceOpener quiet = memory_opener(dc_wav(2.0, 0.01f));
    for (int i = 0; i < 100; ++i) {
        Error error = Error::none;
        ASSERT_EQ(engine.play(engine.create_stream(quiet, {}, &error), false), Error::none);
    }
    engine.feed();
    std::vector<float> out(2 * 4410);
    with_failing_allocations(1000, [&] {
        engine.render(out.data(), 4410);
        return 0;
    });
    EXPECT_NEAR(out[2 * 4000], 1.0, 1e-3);
}

TEST(MemoryFailure, CallsThatCannotAllocateReportNoMemoryAndChangeNothing) {
    Engine engine(kOut, nullptr, 0);
    audio::SourceOpener plain = memory_opener(dc_wav(2.0, 0.5f));
    Error error = Error::none;
    audio::SourceOpener copy = plain;
    uint32_t none =
        with_failing_allocations(1000, [&] { return engine.create_stream(std::move(copy), {}, &error); });
    EXPECT_EQ(none, 0u);
    EXPECT_EQ(error, Error::no_memory);
    uint32_t h = engine.create_stream(plain, {}, &error);
    ASSERT_EQ(engine.play(h, false), Error::none);
    rendered_level(engine, 4410);
    // A restart opens a fresh decoder.
    EXPECT_EQ(with_failing_allocations(1000, [&] { return engine.play(h, true); }), Error::no_memory);
    uint64_t position = 0;
    engine.position(h, &position);
    EXPECT_EQ(position, 4410u);
    EXPECT_EQ(state(engine, h), StreamState::playing);
    EXPECT_NEAR(rendered_level(engine, 4410), 0.5, 1e-3);
}

TEST(MemoryFailure, PublicCallsReportMem) {
    ASSERT_TRUE(BASS_Init(BASS_DEVICE_NOSOUND, 44100, 0, nullptr, nullptr));
    std::vector<uint8_t> wav = dc_wav(2.0, 0.5f);
    HSTREAM none = with_failing_allocations(
        1000, [&] { return BASS_StreamCreateFile(TRUE, wav.data(), 0, DWORD(wav.size()), 0); });
    EXPECT_EQ(none, 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_MEM);
    HSTREAM h = BASS_StreamCreateFile(TRUE, wav.data(), 0, DWORD(wav.size()), 0);
    ASSERT_NE(h, 0u);
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    EXPECT_FALSE(with_failing_allocations(1000, [&] { return BASS_ChannelPlay(h, TRUE); }));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_MEM);
    EXPECT_EQ(BASS_ChannelIsActive(h), DWORD(BASS_ACTIVE_PLAYING));
    EXPECT_TRUE(BASS_Free());
}

TEST(MemoryFailure, TheNullDeviceReportsMemoryItCannotHave) {
    // Its thread allocates nothing: what it needs is taken here, or refused.
    class SilentSource : public audio::RenderSource {
        void render(float*, size_t) override {}
    } source;
    for (int failures : {1, 1000}) {
        audio::NullDevice device(kOut);
        Error error = with_failing_allocations(failures, [&] { return device.start(&source); });
        EXPECT_EQ(error, Error::no_memory) << failures << " failures";
    }
}

TEST(MemoryFailure, TheNullDevicesThreadOutlivesARenderThatThrows) {
    // Every third period fails; the thread goes on pulling.
    class ThrowingSource : public audio::RenderSource {
    public:
        void render(float*, size_t) override {
            if (++calls % 3 == 0) throw std::bad_alloc();
        }
        std::atomic<int> calls{0};
    } source;
    {
        audio::NullDevice device(kOut);
        ASSERT_EQ(device.start(&source), Error::none);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (source.calls.load() < 10 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_GE(source.calls.load(), 10);
}
