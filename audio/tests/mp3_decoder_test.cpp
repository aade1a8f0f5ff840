// What the codec is given of an MP3 stream (alone or inside a WAV file),
// what of its output is kept, and a codec per channel count.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "io/le_bytes.h"
#include "decode/probe.h"
#include "mix/engine.h"
#include "mp3_test_frames.h"
#include "test_signals.h"

using namespace audio;
using namespace mp3_test;
using audio_test::FakeConverter;
using audio_test::open_bytes;

namespace {

// A codec stand-in that numbers the frames it puts out (0, 1, 2, ... on
// every channel, wrapping at 2^15), so a test sees exactly which of them the
// decoder kept. Like the real codec, it may hold the first frame back until
// the next one arrives.
class CountingConverter : public BlockConverter {
public:
    CountingConverter(AudioFormat format, bool holds_first_back)
        : format_(format), holds_first_back_(holds_first_back) {}
    AudioFormat output_format() const override { return format_; }
    bool convert(const uint8_t*, size_t, std::vector<int16_t>& out) override {
        ++calls_;
        if (holds_first_back_ && calls_ == 1) return true;
        size_t frames = holds_first_back_ && calls_ == 2 ? 2 * 1152 : 1152;
        for (size_t i = 0; i < frames; ++i, ++count_)
            out.insert(out.end(), format_.channels, int16_t(count_ & 0x7FFF));
        return true;
    }

private:
    AudioFormat format_;
    bool holds_first_back_;
    int calls_ = 0;
    uint32_t count_ = 0;
};

// Decodes bytes through a CountingConverter; each output frame's number.
std::vector<int> decode_numbered(const std::vector<uint8_t>& bytes, bool holds_first_back, Error* error) {
    ConverterFactory counting = [&](const std::vector<uint8_t>&, Error*) {
        return std::make_unique<CountingConverter>(AudioFormat{44100, 2}, holds_first_back);
    };
    auto decoder = open_bytes(bytes, error, counting);
    std::vector<int> numbers;
    if (!decoder) return numbers;
    std::vector<float> samples = audio_test::decode_all(*decoder);
    for (size_t i = 0; i < samples.size(); i += 2) numbers.push_back(int(std::lround(samples[i] * 32768)));
    return numbers;
}

}  // namespace

TEST(Mp3Decoder, TheCodecGetsTheStreamFormatAndOneFrameAtATime) {
    std::vector<uint8_t> info = frame(0x77);
    std::memcpy(info.data() + 36, "Info", 4);
    std::vector<uint8_t> bytes = concat({id3v2(64, false), info, frames(12), id3v1()});
    auto log = std::make_shared<FakeConverter::Log>();
    std::vector<uint8_t> format;
    ConverterFactory fake = [&](const std::vector<uint8_t>& f, audio::Error*) {
        format = f;
        return std::make_unique<FakeConverter>(AudioFormat{44100, 2}, 1152, log);
    };
    audio::Error error = audio::Error::none;
    auto decoder = open_bytes(bytes, &error, fake);
    ASSERT_TRUE(decoder) << int(error);
    EXPECT_EQ(decoder->content_type(), audio::ContentType::mp3);
    EXPECT_EQ(decoder->format().rate, 44100u);
    EXPECT_EQ(decoder->format().channels, 2u);
    // MPEGLAYER3WAVEFORMAT, little-endian.
    ASSERT_EQ(format.size(), 30u);
    EXPECT_EQ(le16(&format[0]), 0x55);
    EXPECT_EQ(le16(&format[2]), 2);
    EXPECT_EQ(le32(&format[4]), 44100u);
    EXPECT_EQ(le32(&format[8]), 16000u);
    EXPECT_EQ(le16(&format[12]), 1);
    EXPECT_EQ(le16(&format[14]), 0);
    EXPECT_EQ(le16(&format[16]), 12);
    EXPECT_EQ(le16(&format[18]), 1);
    EXPECT_EQ(le32(&format[20]), 2u);
    EXPECT_EQ(le16(&format[24]), 417);
    EXPECT_EQ(le16(&format[26]), 1);
    EXPECT_EQ(le16(&format[28]), 0);
    std::vector<float> samples = audio_test::decode_all(*decoder);
    // The twelve frames, then a silent one (the last header, nothing after
    // it) that makes a codec holding a frame back give up the last one; the
    // output stops after the twelve.
    EXPECT_EQ(samples.size(), 12u * 1152 * 2);
    std::vector<std::vector<uint8_t>> expected;
    for (int i = 0; i < 12; ++i) expected.push_back(frame(uint8_t(i + 1), i % 3 == 2));
    std::vector<uint8_t> silent(expected.back().size(), 0);
    std::copy(expected.back().begin(), expected.back().begin() + 4, silent.begin());
    expected.push_back(silent);
    EXPECT_EQ(log->inputs, expected);
}

TEST(Mp3Decoder, RefusedWithoutACodecOrWhenTheCodecDisagrees) {
    std::vector<uint8_t> bytes = frames(10);
    audio::Error error = audio::Error::none;
    ConverterFactory none = audio_test::no_codecs;
    EXPECT_FALSE(open_bytes(bytes, &error, none));
    EXPECT_EQ(error, audio::Error::bad_file_format);
    auto log = std::make_shared<FakeConverter::Log>();
    ConverterFactory mono = [&](const std::vector<uint8_t>&, audio::Error*) {
        return std::make_unique<FakeConverter>(AudioFormat{44100, 1}, 1152, log);
    };
    EXPECT_FALSE(open_bytes(bytes, &error, mono));
}

TEST(Mp3Decoder, CutsTheEncoderDelayAndPaddingAndTheCodecDelay) {
    const int kCodecDelay = 529;
    struct Case {
        int frames, delay, padding;
    } cases[] = {
        {12, 576, 1000},      // lame's usual delay
        {5, 1105, 1152 + 7},  // padding longer than a frame
        {2, 576, 1152 * 2 - 576 - 100},  // 100 samples: less than one frame of sound
    };
    for (const Case& c : cases) {
        for (bool holds_first_back : {false, true}) {
            SCOPED_TRACE(testing::Message() << c.frames << " frames, held back " << holds_first_back);
            std::vector<uint8_t> bytes = concat({lame_info_frame(c.delay, c.padding), frames(c.frames)});
            Error error = Error::none;
            std::vector<int> numbers = decode_numbered(bytes, holds_first_back, &error);
            int encoded = c.frames * 1152 - c.delay - c.padding;
            ASSERT_EQ(int(numbers.size()), encoded) << int(error);
            // The codec's output numbered from 0: sample n of the sound is its
            // sample delay + codec delay + n.
            for (int i = 0; i < encoded; ++i) ASSERT_EQ(numbers[i], (c.delay + kCodecDelay + i) & 0x7FFF) << i;
        }
    }
}

TEST(Mp3Decoder, WithoutTheEncoderWordTheStartStaysAndTheFramesFedEndIt) {
    std::vector<uint8_t> plain_info = frame(0);
    std::memcpy(plain_info.data() + 36, "Xing", 4);
    for (const auto& bytes : {frames(7), concat({plain_info, frames(7)})}) {
        Error error = Error::none;
        std::vector<int> numbers = decode_numbered(bytes, true, &error);
        ASSERT_EQ(numbers.size(), 7u * 1152) << int(error);
        EXPECT_EQ(numbers.front(), 0);
        EXPECT_EQ(numbers.back(), 7 * 1152 - 1);
    }
}

TEST(Mp3Decoder, MpegFramesInsideWavAreTrimmedAndFlushedAlike) {
    std::vector<uint8_t> mp3 = concat({lame_info_frame(576, 700), frames(6)});
    audio_test::WavLayout layout;
    layout.tag = 0x55;
    layout.channels = 2;
    layout.bits = 0;
    layout.block_align = 1;
    std::vector<uint8_t> fmt = audio_test::fmt_body(layout);
    std::vector<uint8_t> wav = audio_test::WavBuilder().chunk("fmt ", fmt).chunk("data", mp3).build();
    Error error = Error::none;
    std::vector<int> numbers = decode_numbered(wav, true, &error);
    ASSERT_EQ(numbers.size(), 6u * 1152 - 576 - 700) << int(error);
    EXPECT_EQ(numbers.front(), 576 + 529);
    // The codec gets the frames one by one, then the silent one.
    auto log = std::make_shared<FakeConverter::Log>();
    ConverterFactory logging = [&](const std::vector<uint8_t>& f, Error*) {
        EXPECT_EQ(f, fmt);  // the file's own format chunk
        return std::make_unique<FakeConverter>(AudioFormat{44100, 2}, 1152, log);
    };
    auto decoder = open_bytes(wav, &error, logging);
    ASSERT_TRUE(decoder);
    EXPECT_EQ(decoder->content_type(), ContentType::wav_codec);
    audio_test::decode_all(*decoder);
    ASSERT_EQ(log->inputs.size(), 7u);
    EXPECT_EQ(log->inputs[0], frame(1));
    EXPECT_EQ(log->inputs[6].size(), log->inputs[5].size());
    EXPECT_EQ(std::count(log->inputs[6].begin() + 4, log->inputs[6].end(), 0), long(log->inputs[6].size() - 4));
}

namespace {
// A codec stand-in for one channel count that puts out frame n of its input
// when frame n + 1 arrives, each sample tag * 16 + its channel, and logs the
// tags of the frames it is given.
class LaggingConverter : public BlockConverter {
public:
    LaggingConverter(uint32_t channels, std::vector<uint8_t>* log, uint32_t rate = 44100)
        : channels_(channels), rate_(rate), log_(log) {}
    AudioFormat output_format() const override { return AudioFormat{rate_, channels_}; }
    bool convert(const uint8_t* in, size_t n, std::vector<int16_t>& out) override {
        log_->push_back(in[n - 1]);
        for (size_t i = 0; held_ && i < 1152; ++i)
            for (uint32_t c = 0; c < channels_; ++c) out.push_back(int16_t(held_ * 16 + c * 2));
        held_ = in[n - 1];
        return true;
    }

private:
    uint32_t channels_;
    uint32_t rate_;
    std::vector<uint8_t>* log_;
    int held_ = 0;
};
}  // namespace

TEST(Mp3Decoder, EachChannelCountGetsACodecOfItsOwnAndTheFirstFrameDecidesTheOutput) {
    const uint8_t stereo[4] = {0xFF, 0xFB, 0x90, 0x40}, mono[4] = {0xFF, 0xFB, 0x90, 0xC0};
    auto stream = [&](const std::vector<bool>& mono_frames) {
        std::vector<uint8_t> bytes;
        for (size_t i = 0; i < mono_frames.size(); ++i) {
            std::vector<uint8_t> f(mono_frames[i] ? mono : stereo, (mono_frames[i] ? mono : stereo) + 4);
            f.resize(417, 0);
            f.back() = uint8_t(i + 1);
            bytes.insert(bytes.end(), f.begin(), f.end());
        }
        return bytes;
    };
    struct Case {
        std::vector<bool> mono_frames;
        uint32_t channels;
        std::vector<std::vector<uint8_t>> codecs;  // the tags each codec got, a silent frame being 0
        std::vector<int> left, right;              // each output frame's samples, by 16ths
    } cases[] = {
        {{true, true, false, false, true}, 1, {{1, 2, 0}, {3, 4, 0}, {5, 0}}, {16, 32, 49, 65, 80}, {}},
        {{false, true, false}, 2, {{1, 0}, {2, 0}, {3, 0}}, {16, 32, 48}, {18, 32, 50}},
    };
    for (const Case& c : cases) {
        std::vector<std::vector<uint8_t>> logs(4);
        std::vector<uint32_t> opened;
        ConverterFactory codecs = [&](const std::vector<uint8_t>& format, Error*) {
            opened.push_back(le16(&format[2]));
            return std::make_unique<LaggingConverter>(opened.back(), &logs[opened.size() - 1]);
        };
        std::vector<uint8_t> bytes = stream(c.mono_frames);
        Error error = Error::none;
        auto decoder = open_bytes(bytes, &error, codecs);
        ASSERT_TRUE(decoder) << int(error);
        EXPECT_EQ(decoder->format().channels, c.channels);
        std::vector<float> samples = audio_test::decode_all(*decoder);
        ASSERT_EQ(samples.size(), c.mono_frames.size() * 1152 * c.channels);
        for (size_t i = 0; i < c.mono_frames.size(); ++i) {
            SCOPED_TRACE(i);
            for (uint32_t ch = 0; ch < c.channels; ++ch)
                EXPECT_EQ(std::lround(samples[(i * 1152 + 1151) * c.channels + ch] * 32768),
                          (ch ? c.right : c.left)[i]);
        }
        for (size_t k = 0; k < c.codecs.size(); ++k) EXPECT_EQ(logs[k], c.codecs[k]) << k;
    }
    // A codec for the new channel count at another rate cannot join the
    // stream: it ends with the frames before the switch.
    std::vector<uint8_t> log;
    ConverterFactory other_rate = [&](const std::vector<uint8_t>& format, Error*) {
        uint32_t channels = le16(&format[2]);
        return std::make_unique<LaggingConverter>(channels, &log, channels == 1 ? 22050 : 44100);
    };
    std::vector<uint8_t> bytes = stream({false, true, true});
    Error error = Error::none;
    auto decoder = open_bytes(bytes, &error, other_rate);
    ASSERT_TRUE(decoder) << int(error);
    EXPECT_EQ(audio_test::decode_all(*decoder).size(), 1152u * 2);
}

namespace {
// A codec stand-in that rejects every frame but those tagged 1, 12 and 23,
// and holds the sound back until the last of them, as a codec may.
class RejectingConverter : public BlockConverter {
public:
    AudioFormat output_format() const override { return AudioFormat{44100, 2}; }
    bool convert(const uint8_t* in, size_t n, std::vector<int16_t>& out) override {
        if (in[n - 1] % 11 != 1) return false;
        if (in[n - 1] == 23) out.insert(out.end(), 2 * 1152, int16_t(8192));
        return true;
    }
};
}  // namespace

TEST(Mp3Decoder, RejectedFramesInSeparateStretchesCostOnlyThemselves) {
    // Ten rejected, one good, ten rejected, one good: never the 16 in a row
    // that end a stream.
    std::vector<uint8_t> bytes = frames(23);
    ConverterFactory rejecting = [](const std::vector<uint8_t>&, Error*) {
        return std::make_unique<RejectingConverter>();
    };
    Error error = Error::none;
    auto decoder = open_bytes(bytes, &error, rejecting);
    ASSERT_TRUE(decoder) << int(error);
    EXPECT_EQ(audio_test::decode_all(*decoder).size(), 1152u * 2);
}

TEST(Mp3Decoder, AFrameAfterDamageThatReachesBackIntoItIsSilenced) {
    std::vector<uint8_t> wrecked = frame(4), reaching = frame(5);
    wrecked[0] = 0;  // the scanner resyncs at frame 5
    reaching[4] = 100 >> 1;  // its main data begins 100 bytes back, in frame 4
    reaching[7] = 0x10;      // and it spends bits
    std::vector<uint8_t> bytes = concat({frames(3), wrecked, reaching, frame(6), frame(7)});
    auto log = std::make_shared<FakeConverter::Log>();
    ConverterFactory fake = [&](const std::vector<uint8_t>&, Error*) {
        return std::make_unique<FakeConverter>(AudioFormat{44100, 2}, 1152, log);
    };
    Error error = Error::none;
    auto decoder = open_bytes(bytes, &error, fake);
    ASSERT_TRUE(decoder) << int(error);
    audio_test::decode_all(*decoder);
    ASSERT_GE(log->inputs.size(), 5u);
    std::vector<uint8_t> silenced = reaching;
    silenced[7] = 0;
    EXPECT_EQ(log->inputs[3], silenced);
    EXPECT_EQ(log->inputs[4], frame(6));
}

TEST(Mp3Decoder, PositionZeroIsTheFirstEncodedSampleAtEveryStart) {
    std::vector<uint8_t> bytes = concat({lame_info_frame(576, 1000), frames(12)});
    ConverterFactory counting = [](const std::vector<uint8_t>&, Error*) {
        return std::make_unique<CountingConverter>(AudioFormat{44100, 2}, true);
    };
    Engine engine(44100, counting);
    Error error = Error::none;
    uint32_t h = engine.create_stream(audio_test::memory_opener(bytes), StreamOptions{}, &error);
    ASSERT_NE(h, 0u) << int(error);
    std::vector<float> out(2 * 4000);
    auto expect_from_the_first_sample = [&](const char* start) {
        SCOPED_TRACE(start);
        engine.render(out.data(), 4000);
        uint64_t position = 0;
        engine.position(h, &position);
        EXPECT_EQ(position, 4000u);
        // Past the start's short fade-in, output frame i is encoded sample i,
        // which the codec numbered 576 + 529 + i.
        for (size_t i = 2000; i < 4000; ++i) ASSERT_NEAR(out[2 * i] * 32768, double(576 + 529 + i), 1e-3) << i;
    };
    ASSERT_EQ(engine.play(h, false), Error::none);
    expect_from_the_first_sample("first play");
    ASSERT_EQ(engine.play(h, true), Error::none);
    expect_from_the_first_sample("restart");
    // Played to its end (12 frames less delay and padding), it starts over.
    std::vector<float> rest(2 * 12 * 1152);
    audio_test::render_fed(engine, rest.data(), 12 * 1152);
    uint64_t end = 0;
    engine.position(h, &end);
    EXPECT_EQ(end, 12u * 1152 - 576 - 1000);
    ASSERT_EQ(engine.play(h, false), Error::none);
    expect_from_the_first_sample("play after the end");
}
