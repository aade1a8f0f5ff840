// Streams read their files as they play: creation reads the headers, and
// playing reads about as much as it has played and decoded ahead, never the
// whole file.
#include <gtest/gtest.h>

#include "counting_source.h"
#include "io/byte_window.h"
#include "mix/engine.h"
#include "test_signals.h"

using namespace audio_test;

TEST(StreamReading, CreationReadsTheHeadersAndPlayingReadsAsItGoes) {
    WavLayout layout;
    std::vector<uint8_t> wav = make_wav(layout, sine(1000, 44100, 1, 44100 * 60, 0.5));  // 5 MB
    uint64_t bytes_read = 0;
    audio::Engine engine(44100);
    audio::Error error = audio::Error::none;
    uint32_t h = engine.create_stream(
        [&](audio::Error*) { return std::make_unique<CountingSource>(wav, &bytes_read); }, {}, &error);
    ASSERT_NE(h, 0u) << int(error);
    EXPECT_LT(bytes_read, 64u * 1024);
    engine.play(h, false);
    std::vector<float> out(2 * 44100);
    render_fed(engine, out.data(), 44100);  // one second: 88 kB of samples
    // ...and half a second more, decoded ahead.
    EXPECT_GT(bytes_read, 88200u + 44100);
    EXPECT_LT(bytes_read, 88200u + 44100 + 128 * 1024);
}

TEST(StreamReading, SourcesAndWindowsReachTheLastByteButNotPastIt) {
    std::vector<uint8_t> bytes(100);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i);
    auto memory = audio::make_memory_source(bytes.data(), bytes.size());
    EXPECT_TRUE(memory->seek(100));
    EXPECT_FALSE(memory->seek(101));
    // A section asked for more than the file holds ends with the file.
    auto section = audio::make_section_source(audio::make_memory_source(bytes.data(), bytes.size()), 10, 1000);
    EXPECT_EQ(section->size(), 90u);
    audio::ByteWindow window(*section, 16);
    ASSERT_TRUE(window.get(0, 4));
    const uint8_t* last = window.get(74, 16);  // exactly the last 16 bytes
    ASSERT_TRUE(last);
    EXPECT_EQ(last[15], 99);
}
