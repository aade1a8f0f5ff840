// Ogg Vorbis files with damage in them, and with very large comment headers:
// what a damaged page costs, how much one decode call reads, and where the
// header size stops.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "counting_source.h"
#include "decode/formats.h"
#include "ogg_test_files.h"
#include "decode/probe.h"
#include "test_signals.h"

using namespace audio_test;

namespace {

constexpr uint32_t kRate = 44100;
const char kToneFile[] = "tone_noise_4s_44100_stereo.ogg";

std::unique_ptr<audio::Decoder> open_bytes(const std::vector<uint8_t>& bytes, audio::Error* error) {
    return audio::open_decoder(audio::make_memory_source(bytes.data(), bytes.size()), no_codecs, error);
}

// The last second still holds the tone, at its level and pitch.
void expect_tone_at_end(const std::vector<float>& samples) {
    std::vector<float> left = channel(samples, 2, 0);
    ASSERT_GT(left.size(), size_t(kRate));
    size_t begin = left.size() - kRate, end = left.size() - kRate / 10;
    std::vector<float> tail(left.begin() + long(begin), left.begin() + long(end));
    EXPECT_NEAR(tone_amplitude(tail, kRate, 1000.0), 0.5, 0.02);
    EXPECT_NEAR(rms(tail), 0.5 / std::sqrt(2.0), 0.02);  // the tone and the faint noise, nothing else
}

float peak(const std::vector<float>& samples) {
    float p = 0;
    for (float s : samples) p = std::max(p, std::fabs(s));
    return p;
}

}  // namespace

TEST(VorbisDamage, ADamagedPageCostsAboutItsOwnAudio) {
    const std::vector<uint8_t> bytes = read_data_file(kToneFile);
    const std::vector<OggPageSpan> pages = ogg_pages(bytes);
    ASSERT_GE(pages.size(), ogg_header_pages(bytes) + 5);
    audio::Error error = audio::Error::none;
    auto clean = open_bytes(bytes, &error);
    ASSERT_TRUE(clean) << int(error);
    const size_t total = decode_all(*clean).size() / 2;

    const size_t broken = ogg_header_pages(bytes) + 2;  // an audio page in the middle
    const size_t page_frames = size_t(pages[broken].granule - pages[broken - 1].granule);
    struct Damage {
        const char* what;
        size_t at;  // offset in the page
    } damages[] = {
        {"a byte of the body (the checksum fails)", pages[broken].size / 2},
        {"the capture pattern", 1},
        {"the segment count", 26},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.what);
        std::vector<uint8_t> damaged = bytes;
        damaged[pages[broken].offset + d.at] ^= 0x5A;
        auto decoder = open_bytes(damaged, &error);
        ASSERT_TRUE(decoder) << int(error);
        std::vector<float> samples = decode_all(*decoder);
        size_t lost = total - std::min(total, samples.size() / 2);
        std::printf("damaged %s: %zu frames lost, the page holds %zu\n", d.what, lost, page_frames);
        // The page itself, and at most the long block that overlaps it.
        EXPECT_LE(lost, page_frames + 2048);
        EXPECT_LT(peak(samples), 0.7f);  // no burst of garbage
        expect_tone_at_end(samples);
    }
}

TEST(VorbisDamage, LongDamageIsReadInBoundedSteps) {
    // Megabytes of noise between two audio pages: each read() call may read
    // only a bounded amount while it looks for the next page, and the audio
    // after the damage still plays.
    std::vector<uint8_t> bytes = read_data_file(kToneFile);
    const std::vector<OggPageSpan> pages = ogg_pages(bytes);
    const size_t at = pages[ogg_header_pages(bytes) + 2].offset;
    std::vector<uint8_t> garbage(3u << 20);
    uint32_t state = 12345;
    for (uint8_t& b : garbage) b = uint8_t((state = state * 1664525u + 1013904223u) >> 24);
    bytes.insert(bytes.begin() + long(at), garbage.begin(), garbage.end());

    uint64_t read = 0;
    audio::Error error = audio::Error::none;
    auto decoder = audio::open_decoder(std::make_unique<CountingSource>(bytes, &read), no_codecs, &error);
    ASSERT_TRUE(decoder) << int(error);
    std::vector<float> samples, block(1024 * 2);
    uint64_t most = 0;
    for (size_t got = 1; got > 0;) {
        uint64_t before = read;
        got = decoder->read(block.data(), 1024);
        most = std::max(most, read - before);
        samples.insert(samples.end(), block.begin(), block.begin() + long(got * 2));
    }
    std::printf("3 MB of damage: at most %llu bytes read by one call\n", (unsigned long long)most);
    EXPECT_LE(most, 256u * 1024);
    EXPECT_GE(samples.size() / 2, size_t(pages.back().granule));  // nothing lost, silence added
    expect_tone_at_end(samples);
}

TEST(VorbisDamage, DamageWithoutEndEndsTheStream) {
    // After 16 MB without a usable page the rest is not taken for audio: the
    // stream ends instead of giving silence for as long as the bytes last.
    std::vector<uint8_t> bytes = read_data_file(kToneFile);
    const std::vector<OggPageSpan> pages = ogg_pages(bytes);
    const size_t header_pages = ogg_header_pages(bytes);
    bytes.resize(pages[header_pages + 2].offset);
    const size_t before = size_t(pages[header_pages + 1].granule);
    bytes.resize(bytes.size() + (20u << 20), 0x5A);
    audio::Error error = audio::Error::none;
    auto decoder = open_bytes(bytes, &error);
    ASSERT_TRUE(decoder) << int(error);
    std::vector<float> samples = decode_all(*decoder);
    EXPECT_GE(samples.size() / 2, before);
    EXPECT_LE(samples.size() / 2, before + 64 * 1024);  // 64 reads' silence at the most
}

TEST(VorbisDamage, LargeCommentHeadersPlay) {
    // Taggers embed cover pictures of many megabytes in the comment header,
    // of the first link or of any later one of a chained file.
    const std::vector<uint8_t> sine = read_data_file("sine_1k_44100_stereo.ogg");
    const std::vector<uint8_t> tone = read_data_file(kToneFile);
    struct Case {
        const char* what;
        std::vector<std::vector<uint8_t>> links;  // chained in this order
    } cases[] = {
        {"9 MB in the only link", {with_comment_of_size(sine, 9u << 20)}},
        {"1 MB in the second link", {tone, with_comment_of_size(sine, 1u << 20)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> bytes;
        size_t frames = 0;
        for (const std::vector<uint8_t>& link : c.links) {
            bytes.insert(bytes.end(), link.begin(), link.end());
            frames += size_t(ogg_pages(link).back().granule);
        }
        audio::Error error = audio::Error::none;
        auto decoder = open_bytes(bytes, &error);
        ASSERT_TRUE(decoder) << int(error);
        std::vector<float> samples = decode_all(*decoder);
        ASSERT_EQ(samples.size(), frames * 2);
        // The sine link is last, and it plays to its end.
        std::vector<float> left = channel(samples, 2, 0);
        EXPECT_NEAR(rms(left, left.size() - kRate / 2 + 2205, left.size() - 2205), 0.5 / std::sqrt(2.0), 0.02);
    }
}

TEST(VorbisDamage, CommentHeadersBeyondTheirBoundAreRefused) {
    // Beyond 64 MB the header is taken for a hostile file, and opening stops
    // reading soon after that bound.
    const std::vector<uint8_t> bytes = read_data_file("sine_1k_44100_stereo.ogg");
    std::vector<uint8_t> tagged = with_comment_of_size(bytes, 65u << 20);
    audio::Error error = audio::Error::none;
    uint64_t read = 0;
    std::unique_ptr<audio::ByteSource> source = std::make_unique<CountingSource>(tagged, &read);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(audio::open_vorbis_decoder(source, no_codecs, &error));
    // Buffers grown one page at a time made this take most of a minute.
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 10.0);
    EXPECT_EQ(error, audio::Error::bad_file_format);
    EXPECT_LE(read, (64u << 20) + (64u << 10));
}

TEST(VorbisDamage, ASetupThatLibvorbisCannotBuildIsRefused) {
    // Found by the stream fuzzer: a setup header whose codebooks libvorbis
    // fails to build. Asked for audio again after that failure, it decodes
    // with the half-built books and divides by zero.
    const std::vector<uint8_t> bytes = read_data_file("vorbis_unbuildable_setup.ogg");
    audio::Error error = audio::Error::none;
    auto decoder = open_bytes(bytes, &error);
    EXPECT_FALSE(decoder);
    EXPECT_EQ(error, audio::Error::bad_file_format);
}
