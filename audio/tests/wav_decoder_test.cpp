// WAV decoding: every sample format at the right level and pitch, odd chunk
// layouts, sizes that lie, and compressed formats handed to the codec.
#include <gtest/gtest.h>

#include <cmath>

#include "decode/probe.h"
#include "test_signals.h"

using namespace audio_test;

namespace {

// The error of a refused file (or Error::none if it opened).
audio::Error open_error(const std::vector<uint8_t>& bytes) {
    audio::Error error = audio::Error::none;
    return open_bytes(bytes, &error) ? audio::Error::none : error;
}

const double kSineRms = 0.5 / std::sqrt(2.0);

}  // namespace

TEST(WavDecoder, EveryPcmAndFloatFormatDecodesAtLevelAndPitch) {
    struct Case {
        uint16_t tag, subformat, bits;
        audio::ContentType ctype;
    } cases[] = {
        {1, 1, 8, audio::ContentType::wav_pcm},       {1, 1, 16, audio::ContentType::wav_pcm},
        {1, 1, 24, audio::ContentType::wav_pcm},      {1, 1, 32, audio::ContentType::wav_pcm},
        {3, 3, 32, audio::ContentType::wav_float},    {3, 3, 64, audio::ContentType::wav_float},
        {0xFFFE, 1, 16, audio::ContentType::wav_pcm}, {0xFFFE, 1, 24, audio::ContentType::wav_pcm},
        {0xFFFE, 3, 32, audio::ContentType::wav_float},
    };
    for (const Case& c : cases) {
        for (uint16_t channels : {1, 2}) {
            SCOPED_TRACE(testing::Message() << "tag " << c.tag << " bits " << c.bits << " channels " << channels);
            WavLayout layout;
            layout.tag = c.tag;
            layout.subformat = c.subformat;
            layout.bits = c.bits;
            layout.channels = channels;
            layout.rate = 22050;
            std::vector<uint8_t> wav = make_wav(layout, sine(1000, 22050, channels, 22050, 0.5));
            audio::Error error = audio::Error::none;
            auto decoder = open_bytes(wav, &error);
            ASSERT_TRUE(decoder) << int(error);
            EXPECT_EQ(decoder->format().rate, 22050u);
            EXPECT_EQ(decoder->format().channels, channels);
            EXPECT_EQ(decoder->content_type(), c.ctype);
            std::vector<float> samples = decode_all(*decoder);
            ASSERT_EQ(samples.size(), size_t(22050) * channels);
            std::vector<float> last = channel(samples, channels, channels - 1u);
            EXPECT_NEAR(rms(last), kSineRms, c.bits == 8 ? 0.01 : 0.001);
            EXPECT_NEAR(zero_crossing_frequency(last, 22050), 1000.0, 0.5);
        }
    }
}

TEST(WavDecoder, ChunksAroundDataAndOddSizesWithPadBytes) {
    WavLayout layout;
    std::vector<float> tone = sine(1000, 44100, 1, 4410, 0.5);
    std::vector<uint8_t> odd_list = {1, 2, 3};  // odd size: a pad byte follows
    std::vector<uint8_t> wav = WavBuilder()
                                   .chunk("LIST", odd_list)
                                   .chunk("fmt ", fmt_body(layout))
                                   .chunk("fact", {4, 0, 0, 0})
                                   .chunk("junk", std::vector<uint8_t>(7, 0xEE))
                                   .chunk("data", encode_samples(layout, tone))
                                   .chunk("LIST", odd_list)
                                   .build();
    audio::Error error = audio::Error::none;
    auto decoder = open_bytes(wav, &error);
    ASSERT_TRUE(decoder) << int(error);
    std::vector<float> samples = decode_all(*decoder);
    ASSERT_EQ(samples.size(), tone.size());  // the chunk after data is not played
    EXPECT_NEAR(samples[100], tone[100], 1e-4);
}

TEST(WavDecoder, OddSizedDataChunkThenMoreChunks) {
    WavLayout layout;
    layout.bits = 8;
    std::vector<float> tone = sine(500, 44100, 1, 101, 0.5);  // 101 bytes: odd
    std::vector<uint8_t> wav =
        WavBuilder().chunk("fmt ", fmt_body(layout)).chunk("data", encode_samples(layout, tone)).chunk("LIST", {9, 9}).build();
    audio::Error error = audio::Error::none;
    auto decoder = open_bytes(wav, &error);
    ASSERT_TRUE(decoder);
    EXPECT_EQ(decode_all(*decoder).size(), 101u);
}

TEST(WavDecoder, DataSizeUnknownOrLargerThanTheFileMeansToTheEnd) {
    WavLayout layout;
    std::vector<uint8_t> data = encode_samples(layout, sine(1000, 44100, 1, 1000, 0.5));
    for (uint32_t declared : {0u, 0xFFFFFFFFu, 1000000u}) {
        SCOPED_TRACE(declared);
        std::vector<uint8_t> wav = WavBuilder().chunk("fmt ", fmt_body(layout)).chunk_with_size("data", declared, data).build();
        audio::Error error = audio::Error::none;
        auto decoder = open_bytes(wav, &error);
        ASSERT_TRUE(decoder) << int(error);
        EXPECT_EQ(decode_all(*decoder).size(), 1000u);
    }
}

namespace {

// Sets the size in a built file's RIFF header.
void set_riff_size(std::vector<uint8_t>& wav, uint32_t size) {
    for (int i = 0; i < 4; ++i) wav[4 + i] = uint8_t(size >> (8 * i));
}

}  // namespace

TEST(WavDecoder, ZeroSizedDataIsEmptyWhenAChunkFollowsOrTheRiffSizeEndsThere) {
    WavLayout layout;
    std::vector<uint8_t> data = encode_samples(layout, sine(1000, 44100, 1, 1000, 0.5));
    // A chunk after an empty data chunk, full of loud bytes: never played.
    std::vector<uint8_t> followed = WavBuilder()
                                        .chunk("fmt ", fmt_body(layout))
                                        .chunk("data", {})
                                        .chunk("LIST", std::vector<uint8_t>(4000, 0x7F))
                                        .build();
    // The RIFF size: where it ends (the header is 12 bytes, fmt and data's
    // header 32 more), and the frames expected of a data chunk declared 0.
    const struct { uint32_t riff_size; size_t frames; } cases[] = {
        {36, 0}, {36 + 1000, 500}, {0, 1000}, {0xFFFFFFFF, 1000}, {36 + 2000, 1000}, {36 + 90000, 1000},
    };
    audio::Error error = audio::Error::none;
    auto decoder = open_bytes(followed, &error);
    ASSERT_TRUE(decoder) << int(error);
    EXPECT_EQ(decode_all(*decoder).size(), 0u);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.riff_size);
        std::vector<uint8_t> wav = WavBuilder().chunk("fmt ", fmt_body(layout)).chunk_with_size("data", 0, data).build();
        set_riff_size(wav, c.riff_size);
        decoder = open_bytes(wav, &error);
        ASSERT_TRUE(decoder) << int(error);
        EXPECT_EQ(decode_all(*decoder).size(), c.frames);
    }
}

TEST(WavDecoder, IntegerSamplesMapToTheirExactLevels) {
    // The lowest code, silence, the highest code and one step above silence,
    // for each width: a DC offset or a wrong scale shows at once.
    for (int bytes = 1; bytes <= 4; ++bytes) {
        SCOPED_TRACE(bytes);
        int64_t half = int64_t(1) << (8 * bytes - 1);
        const int64_t codes[] = {-half, 0, half - 1, 1};
        WavLayout layout;
        layout.bits = uint16_t(8 * bytes);
        std::vector<uint8_t> data;
        for (int64_t code : codes) {
            uint64_t stored = uint64_t(bytes == 1 ? code + 128 : code);  // 8-bit WAV is unsigned
            for (int i = 0; i < bytes; ++i) data.push_back(uint8_t(stored >> (8 * i)));
        }
        std::vector<uint8_t> wav = WavBuilder().chunk("fmt ", fmt_body(layout)).chunk("data", data).build();
        audio::Error error = audio::Error::none;
        auto decoder = open_bytes(wav, &error);
        ASSERT_TRUE(decoder) << int(error);
        std::vector<float> samples = decode_all(*decoder);
        ASSERT_EQ(samples.size(), 4u);
        for (size_t i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(samples[i], float(double(codes[i]) / double(half))) << i;
    }
}

TEST(WavDecoder, FmtChunkShorterThanSixteenBytesIsRefused) {
    // The 14 bytes of a format without its bits field, for a compressed tag
    // that a codec would take: refused before any codec sees it.
    WavLayout layout;
    layout.tag = 0x11;
    layout.bits = 4;
    layout.block_align = 256;
    std::vector<uint8_t> fmt = fmt_body(layout);
    fmt.resize(14);
    bool codec_asked = false;
    audio::ConverterFactory any_codec = [&](const std::vector<uint8_t>&, audio::Error*) {
        codec_asked = true;
        return std::make_unique<FakeConverter>(audio::AudioFormat{44100, 1}, 505,
                                               std::make_shared<FakeConverter::Log>());
    };
    std::vector<uint8_t> wav = WavBuilder().chunk("fmt ", fmt).chunk("data", std::vector<uint8_t>(1024)).build();
    audio::Error error = audio::Error::none;
    EXPECT_FALSE(open_bytes(wav, &error, any_codec));
    EXPECT_EQ(error, audio::Error::bad_file_format);
    EXPECT_FALSE(codec_asked);
}

TEST(WavDecoder, TruncatedAndInvalidHeadersAreRefused) {
    WavLayout layout;
    std::vector<uint8_t> good = make_wav(layout, sine(1000, 44100, 1, 100, 0.5));
    // Cut inside the RIFF header, the fmt chunk, and before any data chunk.
    for (size_t cut : {4u, 11u, 20u, 30u, 36u}) {
        SCOPED_TRACE(cut);
        EXPECT_EQ(open_error(std::vector<uint8_t>(good.begin(), good.begin() + long(cut))), audio::Error::bad_file_format);
    }
    // A fmt chunk that claims more than the file holds.
    std::vector<uint8_t> long_fmt = WavBuilder().chunk_with_size("fmt ", 5000, fmt_body(layout)).build();
    EXPECT_EQ(open_error(long_fmt), audio::Error::bad_file_format);
    // Too short a fmt chunk, no channels, an absurd rate, unsupported bits.
    EXPECT_EQ(open_error(WavBuilder().chunk("fmt ", {1, 0, 1, 0}).chunk("data", {0, 0}).build()), audio::Error::bad_file_format);
    WavLayout bad = layout;
    bad.channels = 0;
    EXPECT_EQ(open_error(make_wav(bad, {})), audio::Error::bad_file_format);
    bad = layout;
    bad.rate = 0;
    EXPECT_EQ(open_error(make_wav(bad, {0.0f})), audio::Error::bad_file_format);
    bad = layout;
    bad.tag = 3;
    bad.bits = 16;
    EXPECT_EQ(open_error(make_wav(bad, {0.0f})), audio::Error::bad_file_format);
    // Extensible with a truncated extension.
    bad = layout;
    bad.tag = 0xFFFE;
    std::vector<uint8_t> ext = fmt_body(bad);
    ext.resize(30);
    EXPECT_EQ(open_error(WavBuilder().chunk("fmt ", ext).chunk("data", {0, 0}).build()), audio::Error::bad_file_format);
}

TEST(WavDecoder, CompressedFormatsWithoutACodecAreRefused) {
    WavLayout layout;
    layout.tag = 0x11;  // IMA ADPCM
    layout.bits = 4;
    layout.block_align = 256;
    std::vector<uint8_t> wav = WavBuilder().chunk("fmt ", fmt_body(layout)).chunk("data", std::vector<uint8_t>(1024)).build();
    EXPECT_EQ(open_error(wav), audio::Error::bad_file_format);
}

TEST(WavDecoder, CompressedDataGoesToTheCodecInWholeBlocks) {
    WavLayout layout;
    layout.tag = 0x11;
    layout.bits = 4;
    layout.block_align = 256;
    // 10 whole blocks and a partial one that cannot be decoded.
    std::vector<uint8_t> data(256 * 10 + 100);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7);
    std::vector<uint8_t> wav = WavBuilder().chunk("fmt ", fmt_body(layout)).chunk("data", data).build();
    auto log = std::make_shared<FakeConverter::Log>();
    std::vector<uint8_t> seen_format;
    audio::ConverterFactory fake = [&](const std::vector<uint8_t>& format, audio::Error*) {
        seen_format = format;
        return std::make_unique<FakeConverter>(audio::AudioFormat{44100, 1}, 505, log);
    };
    audio::Error error = audio::Error::none;
    auto decoder = open_bytes(wav, &error, fake);
    ASSERT_TRUE(decoder) << int(error);
    EXPECT_EQ(decoder->content_type(), audio::ContentType::wav_codec);
    EXPECT_EQ(seen_format, fmt_body(layout));  // the fmt chunk as it is in the file
    std::vector<float> samples = decode_all(*decoder);
    std::vector<uint8_t> fed;
    for (const auto& input : log->inputs) {
        EXPECT_EQ(input.size() % 256, 0u);
        fed.insert(fed.end(), input.begin(), input.end());
    }
    EXPECT_EQ(fed, std::vector<uint8_t>(data.begin(), data.begin() + 2560));
    // The codec's 16-bit output arrives as float.
    ASSERT_EQ(samples.size(), log->inputs.size() * 505);
    EXPECT_FLOAT_EQ(samples[0], 0.25f);
}
