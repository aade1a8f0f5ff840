// Ogg Vorbis decoding: level, pitch, length, channel order and downmix,
// damaged headers, and how much opening reads.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "counting_source.h"
#include "decode/probe.h"
#include "mix/channel_map.h"
#include "test_signals.h"

using namespace audio_test;

TEST(VorbisDecoder, DecodesTonesAtLevelAndPitch) {
    struct Case {
        const char* file;
        uint32_t rate, channels;
    } cases[] = {{"sine_1k_44100_stereo.ogg", 44100, 2}, {"sine_1k_22050_mono.ogg", 22050, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        std::vector<uint8_t> bytes = read_data_file(c.file);
        audio::Error error = audio::Error::none;
        auto decoder = open_bytes(bytes, &error);
        ASSERT_TRUE(decoder) << int(error);
        EXPECT_EQ(decoder->content_type(), audio::ContentType::ogg);
        EXPECT_EQ(decoder->format().rate, c.rate);
        EXPECT_EQ(decoder->format().channels, c.channels);
        std::vector<float> samples = decode_all(*decoder);
        EXPECT_EQ(samples.size(), size_t(c.rate / 2) * c.channels);  // exactly the encoded length
        std::vector<float> first = channel(samples, c.channels, 0);
        size_t margin = c.rate / 20;
        EXPECT_NEAR(rms(first, margin, first.size() - margin), 0.5 / std::sqrt(2.0), 0.02);
        EXPECT_NEAR(zero_crossing_frequency(first, c.rate, margin, first.size() - margin), 1000.0, 2.0);
    }
}

TEST(VorbisDecoder, SurroundChannelsComeOutInWavOrder) {
    // The file holds the tone on left and right with a silent centre; Vorbis
    // orders three channels L C R, WAV L R C, so a missing reorder would
    // leave the right channel silent.
    std::vector<uint8_t> bytes = read_data_file("sine_1k_48000_3ch.ogg");
    audio::Error error = audio::Error::none;
    auto decoder = open_bytes(bytes, &error);
    ASSERT_TRUE(decoder) << int(error);
    ASSERT_EQ(decoder->format().channels, 3u);
    std::vector<float> samples = decode_all(*decoder);
    EXPECT_GT(rms(channel(samples, 3, 0)), 0.3);
    EXPECT_GT(rms(channel(samples, 3, 1)), 0.3);
    EXPECT_LT(rms(channel(samples, 3, 2)), 0.01);
}

TEST(VorbisDecoder, DamagedFilesAreRefusedOrEndEarly) {
    std::vector<uint8_t> bytes = read_data_file("sine_1k_44100_stereo.ogg");
    audio::Error error = audio::Error::none;
    // Only the first page: the headers are incomplete.
    EXPECT_FALSE(open_bytes(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 60), &error));
    EXPECT_EQ(error, audio::Error::bad_file_format);
    // An Ogg page signature over garbage.
    std::vector<uint8_t> garbage(5000, 0x5A);
    std::copy_n("OggS", 4, garbage.begin());
    EXPECT_FALSE(open_bytes(garbage, &error));
    EXPECT_EQ(error, audio::Error::bad_file_format);
    // Cut inside the audio page (the headers end before byte 4000 in this
    // file): it opens, plays what it can and ends without error.
    std::vector<uint8_t> cut(bytes.begin(), bytes.end() - 500);
    auto decoder = open_bytes(cut, &error);
    ASSERT_TRUE(decoder) << int(error);
    EXPECT_LT(decode_all(*decoder).size() / 2, 22050u);
}

TEST(VorbisDecoder, DamagedCommentCountsAndLengthsAreRefused) {
    // The comment header is the first packet on the second page. Counts and
    // lengths that claim more than the packet holds once crashed the decoder.
    std::vector<uint8_t> bytes = read_data_file("sine_1k_44100_stereo.ogg");
    size_t page = 58;
    ASSERT_EQ(std::string(bytes.begin() + long(page), bytes.begin() + long(page) + 4), "OggS");
    size_t packet = page + 27 + bytes[page + 26];
    ASSERT_EQ(bytes[packet], 3);
    size_t vendor = bytes[packet + 7] | bytes[packet + 8] << 8;
    size_t count_at = packet + 11 + vendor;
    for (uint32_t count : {0x7FFFFFFFu, 0x10000u}) {
        std::vector<uint8_t> damaged = bytes;
        std::memcpy(&damaged[count_at], &count, 4);
        audio::Error error = audio::Error::none;
        EXPECT_FALSE(open_bytes(damaged, &error)) << count;
        EXPECT_EQ(error, audio::Error::bad_file_format);
    }
    std::vector<uint8_t> damaged = bytes;
    uint32_t huge_vendor = 0xFFFFFFF0u;
    std::memcpy(&damaged[packet + 7], &huge_vendor, 4);
    audio::Error error = audio::Error::none;
    EXPECT_FALSE(open_bytes(damaged, &error));
    // The first comment's length, made negative as a signed value.
    damaged = bytes;
    uint32_t negative = 0xFFFFFFFEu;
    std::memcpy(&damaged[count_at + 4], &negative, 4);
    EXPECT_FALSE(open_bytes(damaged, &error));
}

TEST(VorbisDecoder, OpeningReadsOnlyTheStartOfTheFile) {
    // The same file padded to several megabytes: opening must not read it all.
    std::vector<uint8_t> bytes = read_data_file("sine_1k_44100_stereo.ogg");
    bytes.resize(8 << 20, 0);
    uint64_t read = 0;
    audio::Error error = audio::Error::none;
    auto decoder = audio::open_decoder(std::make_unique<CountingSource>(bytes, &read), audio_test::no_codecs, &error);
    ASSERT_TRUE(decoder) << int(error);
    EXPECT_LT(read, 64u * 1024);
}

TEST(VorbisDecoder, FiveOneKeepsEveryChannelAtItsOwnLevelThroughTheDownmix) {
    // Each channel of the file (WAV order FL FR FC LFE BL BR) carries a tone
    // of its own frequency and level.
    const double hz[6] = {500, 700, 900, 110, 1100, 1300};
    const double level[6] = {0.5, 0.4, 0.3, 0.2, 0.25, 0.15};
    std::vector<uint8_t> bytes = read_data_file("tones_5_1_44100.ogg");
    audio::Error error = audio::Error::none;
    auto decoder = open_bytes(bytes, &error);
    ASSERT_TRUE(decoder) << int(error);
    ASSERT_EQ(decoder->format().channels, 6u);
    const uint32_t rate = decoder->format().rate;
    std::vector<float> samples = decode_all(*decoder);
    ASSERT_EQ(samples.size(), size_t(rate / 2) * 6);
    for (uint32_t c = 0; c < 6; ++c) {
        std::vector<float> one = channel(samples, 6, c);
        for (uint32_t t = 0; t < 6; ++t) {
            double amplitude = tone_amplitude(one, rate, hz[t]);
            std::printf("channel %u, %g Hz: %.4f\n", c, hz[t], amplitude);
            // The encoder codes the LFE coarsely (it comes out 2.4 dB
            // louder, decoded by any Vorbis decoder); it stays out of the downmix.
            double tolerance = c == 3 ? 0.5 * level[c] : 0.05 * level[c];
            if (t == c) EXPECT_NEAR(amplitude, level[c], tolerance) << "channel " << c;
            else EXPECT_LT(amplitude, 0.01) << "channel " << c << ", tone of channel " << t;
        }
    }
    // Downmixed, the left side holds FL, FC and BL, the right FR, FC and BR,
    // each in proportion to its own level (centre and surrounds 3 dB down).
    std::vector<float> stereo(samples.size() / 3);
    audio::ChannelMap(6).to_stereo(samples.data(), stereo.data(), samples.size() / 6);
    const char sides[6] = {'L', 'R', 'C', 'X', 'L', 'R'};
    const double weight[6] = {1.0, 1.0, 0.7071, 0.0, 0.7071, 0.7071};
    for (uint32_t side = 0; side < 2; ++side) {
        std::vector<float> out = channel(stereo, 2, side);
        uint32_t front = side;  // FL or FR: the reference level of this side
        double scale = tone_amplitude(out, rate, hz[front]) / level[front];
        EXPECT_GT(scale, 0.2);
        for (uint32_t c = 0; c < 6; ++c) {
            bool here = sides[c] == 'C' || sides[c] == (side == 0 ? 'L' : 'R');
            double expected = here ? scale * weight[c] * level[c] : 0.0;
            double amplitude = tone_amplitude(out, rate, hz[c]);
            std::printf("downmix side %u, channel %u: %.4f (expected %.4f)\n", side, c, amplitude, expected);
            EXPECT_NEAR(amplitude, expected, 0.05 * scale * level[c] + 0.005) << "side " << side << ", channel " << c;
        }
    }
}
