// The ACM block converter against files made by sox and lame (see
// data/make-fixtures.sh): half a second of a sine at half of full scale
// must come out at that level and pitch, whatever pieces the input arrives in.
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "io/le_bytes.h"
#include "test_signals.h"
#include "win_platform.h"

namespace {

using audio::le16;
using audio_test::channel;
using audio_test::max_sine_residual;
using audio_test::rms;
using audio_test::zero_crossing_frequency;

// RMS of a sine with peak 0.5.
const double kSineRms = 0.5 / std::sqrt(2.0);

std::vector<uint8_t> read_fixture(const std::string& name) {
    return audio_test::read_file(std::string(WIN_TEST_DATA_DIR) + "/" + name);
}

// The header facts of one MPEG audio layer III frame.
struct Mp3Frame {
    uint32_t rate, channels, bitrate, size;
    bool mpeg1;
};

bool parse_mp3_header(const uint8_t* p, Mp3Frame* frame) {
    static const uint32_t kBitrates[2][15] = {
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},        // MPEG-2/2.5
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}};  // MPEG-1
    static const uint32_t kRates[3] = {44100, 48000, 32000};
    if (p[0] != 0xff || (p[1] & 0xe0) != 0xe0 || ((p[1] >> 1) & 3) != 1) return false;
    int version = (p[1] >> 3) & 3;  // 3 = MPEG-1, 2 = MPEG-2, 0 = MPEG-2.5
    int bitrate_index = p[2] >> 4, rate_index = (p[2] >> 2) & 3;
    if (version == 1 || bitrate_index == 0 || bitrate_index == 15 || rate_index == 3) return false;
    frame->mpeg1 = version == 3;
    frame->rate = kRates[rate_index] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    frame->bitrate = kBitrates[frame->mpeg1][bitrate_index] * 1000;
    frame->channels = (p[3] >> 6) == 3 ? 1 : 2;
    frame->size = (frame->mpeg1 ? 144 : 72) * frame->bitrate / frame->rate + ((p[2] >> 1) & 1);
    return true;
}

// The frames of a bare MP3 file (no tags), each as its own byte vector.
std::vector<std::vector<uint8_t>> split_mp3(const std::vector<uint8_t>& file, Mp3Frame* first) {
    std::vector<std::vector<uint8_t>> frames;
    Mp3Frame frame;
    for (size_t pos = 0; pos + 4 <= file.size() && parse_mp3_header(&file[pos], &frame);) {
        if (frames.empty()) *first = frame;
        size_t end = std::min<size_t>(pos + frame.size, file.size());
        frames.emplace_back(file.begin() + pos, file.begin() + end);
        pos = end;
    }
    return frames;
}

// The MPEGLAYER3WAVEFORMAT for such frames, as the bytes a WAV or MP3 parser hands over.
std::vector<uint8_t> mp3_wave_format(const Mp3Frame& frame) {
    std::vector<uint8_t> bytes;
    auto put16 = [&](uint32_t v) { bytes.push_back(v & 0xff); bytes.push_back((v >> 8) & 0xff); };
    auto put32 = [&](uint32_t v) { put16(v & 0xffff); put16(v >> 16); };
    put16(0x55);                // MPEG layer III
    put16(frame.channels);
    put32(frame.rate);
    put32(frame.bitrate / 8);   // average bytes per second
    put16(1);                   // block align
    put16(0);                   // bits per sample
    put16(12);                  // extra bytes
    put16(1);                   // id: MPEG
    put32(2);                   // padding off
    put16((frame.mpeg1 ? 144 : 72) * frame.bitrate / frame.rate);  // block size
    put16(1);                   // frames per block
    put16(0);                   // codec delay
    return bytes;
}

std::unique_ptr<audio::BlockConverter> open_converter(const std::vector<uint8_t>& format) {
    audio::Error error = audio::Error::none;
    std::unique_ptr<audio::BlockConverter> converter = audio::open_block_converter(format, &error);
    EXPECT_EQ(error, audio::Error::none);
    return converter;
}

// Feeds data in pieces of `piece` bytes (the last one shorter).
std::vector<int16_t> convert_in_pieces(audio::BlockConverter& converter, const std::vector<uint8_t>& data,
                                       size_t piece) {
    std::vector<int16_t> out;
    for (size_t pos = 0; pos < data.size(); pos += piece) {
        size_t n = std::min(piece, data.size() - pos);
        EXPECT_TRUE(converter.convert(data.data() + pos, n, out)) << "at byte " << pos;
    }
    return out;
}

// Checks every channel of the middle 60% of pcm: level of a 0.5 peak sine
// within `level_tolerance` (a fraction), pitch within 0.5%, and no break in
// the waveform.
void expect_sine(const std::vector<int16_t>& pcm, uint32_t channels, uint32_t rate, double frequency,
                 double level_tolerance) {
    size_t frames = pcm.size() / channels;
    ASSERT_GT(frames, rate / 10u);
    size_t first = frames / 5, count = frames * 3 / 5;
    for (uint32_t c = 0; c < channels; ++c) {
        std::vector<float> x = channel(pcm, channels, c);
        EXPECT_NEAR(rms(x, first, first + count), kSineRms, kSineRms * level_tolerance) << "channel " << c;
        EXPECT_NEAR(zero_crossing_frequency(x, rate, first, first + count), frequency, frequency * 0.005)
            << "channel " << c;
        EXPECT_LT(max_sine_residual(x, rate, frequency, first, first + count), 0.05) << "channel " << c;
    }
}

struct WaveCase {
    const char* file;
    uint16_t tag;
    uint32_t rate, channels;
    double frequency;
};

class AcmWaveFormats : public testing::TestWithParam<WaveCase> {};

TEST_P(AcmWaveFormats, DecodesTheSineAtItsLevelAndPitch) {
    const WaveCase& c = GetParam();
    audio_test::WavChunks wave = audio_test::wav_chunks(read_fixture(c.file));
    ASSERT_GE(wave.format.size(), 16u) << c.file;
    ASSERT_EQ(le16(&wave.format[0]), c.tag);
    uint16_t block_align = le16(&wave.format[12]);

    auto converter = open_converter(wave.format);
    ASSERT_TRUE(converter);
    EXPECT_EQ(converter->output_format().rate, c.rate);
    EXPECT_EQ(converter->output_format().channels, c.channels);

    // Pieces that cut through blocks: the converter must hold back the
    // partial block and take it up with the next piece.
    std::vector<int16_t> pcm = convert_in_pieces(*converter, wave.data, 333);
    expect_sine(pcm, c.channels, c.rate, c.frequency, 0.05);
    // Half a second; the last block may be padded.
    size_t frames = pcm.size() / c.channels;
    EXPECT_GE(frames, c.rate / 2 - block_align);
    EXPECT_LE(frames, c.rate / 2 + block_align * 2u);

    // Whole-file conversion gives the very same samples.
    auto whole = open_converter(wave.format);
    ASSERT_TRUE(whole);
    std::vector<int16_t> at_once;
    ASSERT_TRUE(whole->convert(wave.data.data(), wave.data.size(), at_once));
    EXPECT_EQ(at_once, pcm);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, AcmWaveFormats,
    testing::Values(WaveCase{"ima_adpcm_22050_stereo_440.wav", 0x11, 22050, 2, 440.0},
                    WaveCase{"ms_adpcm_44100_mono_1000.wav", 0x02, 44100, 1, 1000.0},
                    WaveCase{"mulaw_8000_mono_440.wav", 0x07, 8000, 1, 440.0},
                    WaveCase{"alaw_8000_mono_440.wav", 0x06, 8000, 1, 440.0}),
    [](const testing::TestParamInfo<WaveCase>& info) {
        std::string name = info.param.file;
        return name.substr(0, name.find('_'));
    });

struct Mp3Case {
    const char* file;
    uint32_t rate, channels;
    double frequency;
};

class AcmMp3 : public testing::TestWithParam<Mp3Case> {};

TEST_P(AcmMp3, DecodesFramesFedAFewAtATime) {
    const Mp3Case& c = GetParam();
    Mp3Frame first = {};
    std::vector<std::vector<uint8_t>> frames = split_mp3(read_fixture(c.file), &first);
    ASSERT_GT(frames.size(), 10u) << c.file;
    ASSERT_EQ(first.rate, c.rate);

    auto converter = open_converter(mp3_wave_format(first));
    ASSERT_TRUE(converter);
    EXPECT_EQ(converter->output_format().rate, c.rate);
    EXPECT_EQ(converter->output_format().channels, c.channels);

    std::vector<int16_t> pcm;
    for (size_t i = 0; i < frames.size(); i += 3) {
        std::vector<uint8_t> group;
        for (size_t j = i; j < std::min(i + 3, frames.size()); ++j)
            group.insert(group.end(), frames[j].begin(), frames[j].end());
        ASSERT_TRUE(converter->convert(group.data(), group.size(), pcm)) << "frame " << i;
    }
    // The encoder itself leaves the tone about 5% below the source (a
    // reference decoder measures the same), hence the wider margin.
    expect_sine(pcm, c.channels, c.rate, c.frequency, 0.08);
    // All but the codec's start-up delay comes out; at most the frames' padding more.
    size_t samples_per_frame = first.mpeg1 ? 1152 : 576;
    size_t frames_out = pcm.size() / c.channels;
    EXPECT_GE(frames_out, c.rate / 2 - samples_per_frame * 2);
    EXPECT_LE(frames_out, frames.size() * samples_per_frame);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, AcmMp3,
                         testing::Values(Mp3Case{"mp3_44100_stereo_440.mp3", 44100, 2, 440.0},
                                         Mp3Case{"mp3_22050_mono_1000.mp3", 22050, 1, 1000.0}),
                         [](const testing::TestParamInfo<Mp3Case>& info) {
                             return std::to_string(info.param.rate) + "Hz";
                         });

TEST(AcmConverter, RefusesFormatsNoCodecHandles) {
    // A tag no codec claims, and bytes too short to be a format at all.
    std::vector<uint8_t> unknown = {0x34, 0x12, 1, 0, 0x44, 0xac, 0, 0, 0x10, 0xb1, 2, 0,
                                    2,    0,    16, 0, 0, 0};
    std::vector<uint8_t> truncated(unknown.begin(), unknown.begin() + 10);
    std::vector<uint8_t> no_channels = unknown;
    no_channels[0] = 0x11;  // IMA ADPCM, but with zero channels
    no_channels[2] = 0;
    for (const auto& format : {unknown, truncated, no_channels}) {
        audio::Error error = audio::Error::none;
        EXPECT_FALSE(audio::open_block_converter(format, &error));
        EXPECT_EQ(error, audio::Error::bad_file_format);
    }
}

TEST(AcmConverter, HoldsBackInputShorterThanABlock) {
    audio_test::WavChunks wave = audio_test::wav_chunks(read_fixture("ima_adpcm_22050_stereo_440.wav"));
    uint16_t block_align = le16(&wave.format[12]);
    ASSERT_GT(wave.data.size(), block_align * 2u);
    auto converter = open_converter(wave.format);
    ASSERT_TRUE(converter);

    std::vector<int16_t> pcm;
    ASSERT_TRUE(converter->convert(wave.data.data(), block_align - 1u, pcm));
    EXPECT_TRUE(pcm.empty());
    // The missing byte completes the block: now exactly one block comes out.
    ASSERT_TRUE(converter->convert(wave.data.data() + block_align - 1, 1, pcm));
    EXPECT_FALSE(pcm.empty());
    size_t one_block = pcm.size();
    ASSERT_TRUE(converter->convert(wave.data.data() + block_align, block_align, pcm));
    EXPECT_EQ(pcm.size(), one_block * 2);
}

}  // namespace
