// MP3 frame finding: headers, tags at both ends, junk, the Xing/Info frame
// and its encoder delay and padding, damage in the middle; what the codec is
// given, and what of its output is kept.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "io/le_bytes.h"
#include "decode/mp3_frame.h"
#include "decode/mp3_frame_guard.h"
#include "decode/mp3_scanner.h"
#include "decode/mp3_side_info.h"
#include "decode/probe.h"
#include "mix/engine.h"
#include "test_signals.h"

using namespace audio;
using audio_test::FakeConverter;

namespace {

// MPEG-1 Layer III, 128 kbit/s, 44.1 kHz, joint stereo, no CRC: 417 bytes
// (418 with padding).
const uint8_t kHeader128[4] = {0xFF, 0xFB, 0x90, 0x40};

// One frame: the header, then filler that holds no sync byte and tells the
// frames apart.
std::vector<uint8_t> frame(uint8_t tag, bool padded = false) {
    Mp3FrameHeader h;
    uint8_t header[4] = {kHeader128[0], kHeader128[1], uint8_t(kHeader128[2] | (padded ? 2 : 0)), kHeader128[3]};
    EXPECT_TRUE(parse_mp3_header(header, &h));
    std::vector<uint8_t> f(header, header + 4);
    f.resize(4 + 32, 0);  // side information of a silent frame
    f.resize(h.frame_bytes, tag);
    return f;
}

// `count` frames tagged 1, 2, 3, ... with padding on every third.
std::vector<uint8_t> frames(int count) {
    std::vector<uint8_t> out;
    for (int i = 0; i < count; ++i) {
        std::vector<uint8_t> f = frame(uint8_t(i + 1), i % 3 == 2);
        out.insert(out.end(), f.begin(), f.end());
    }
    return out;
}

std::vector<uint8_t> id3v2(size_t body, bool footer) {
    std::vector<uint8_t> tag = {'I', 'D', '3', 4, 0, uint8_t(footer ? 0x10 : 0),
                                uint8_t((body >> 21) & 0x7F), uint8_t((body >> 14) & 0x7F),
                                uint8_t((body >> 7) & 0x7F), uint8_t(body & 0x7F)};
    // A body that looks like frame sync, to show it is skipped by size.
    for (size_t i = 0; i < body; ++i) tag.push_back(i % 2 ? 0xFB : 0xFF);
    if (footer) tag.insert(tag.end(), {'3', 'D', 'I', 4, 0, 0x10, 0, 0, 0, 0});
    return tag;
}

std::vector<uint8_t> id3v1() {
    std::vector<uint8_t> tag = {'T', 'A', 'G'};
    tag.resize(128, 0xFF);  // sync-like bytes that must not be played
    return tag;
}

std::vector<uint8_t> ape_tag() {
    // Header + one item + footer; the size field counts item and footer.
    std::vector<uint8_t> item(40, 'x');
    auto block = [&](bool header) {
        std::vector<uint8_t> b = {'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X'};
        put_le32(b, 2000);
        put_le32(b, uint32_t(item.size() + 32));
        put_le32(b, 1);
        put_le32(b, 0x80000000u | (header ? 0x20000000u : 0));
        b.resize(32, 0);
        return b;
    };
    std::vector<uint8_t> tag = block(true);
    tag.insert(tag.end(), item.begin(), item.end());
    std::vector<uint8_t> footer = block(false);
    tag.insert(tag.end(), footer.begin(), footer.end());
    return tag;
}

std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Every frame the scanner delivers, by its filler tag byte.
struct Scan {
    Error open_result = Error::none;
    std::vector<uint8_t> tags;
    std::vector<std::vector<uint8_t>> frames;
    int resyncs = 0;
    bool skipped_info = false;
    uint64_t first_offset = 0;
};

Scan scan(const std::vector<uint8_t>& bytes) {
    auto source = make_memory_source(bytes.data(), bytes.size());
    Mp3Scanner scanner(*source);
    Scan result;
    result.open_result = scanner.open();
    if (result.open_result != Error::none) return result;
    result.first_offset = scanner.first_frame_offset();
    std::vector<uint8_t> f;
    while (scanner.next_frame(f)) {
        result.frames.push_back(f);
        result.tags.push_back(f.back());
    }
    result.resyncs = scanner.resyncs();
    result.skipped_info = scanner.skipped_info_frame();
    return result;
}

std::vector<uint8_t> tag_range(int from, int to) {
    std::vector<uint8_t> t;
    for (int i = from; i <= to; ++i) t.push_back(uint8_t(i));
    return t;
}

// An Info frame with a LAME extension that records the encoder's delay and
// padding. xing_flags picks the optional Xing fields before it.
std::vector<uint8_t> lame_info_frame(uint32_t delay, uint32_t padding, uint32_t xing_flags = 0x0F,
                                     const char* encoder = "LAME3.100") {
    std::vector<uint8_t> f = frame(0);
    std::memcpy(f.data() + 36, "Info", 4);
    f[43] = uint8_t(xing_flags);
    size_t lame = 44;
    const size_t field_bytes[4] = {4, 4, 100, 4};
    for (int i = 0; i < 4; ++i)
        if (xing_flags & (1u << i)) lame += field_bytes[i];
    std::memcpy(f.data() + lame, encoder, 9);
    f[lame + 21] = uint8_t(delay >> 4);
    f[lame + 22] = uint8_t((delay & 0x0F) << 4 | padding >> 8);
    f[lame + 23] = uint8_t(padding);
    return f;
}

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
    auto decoder = open_decoder(make_memory_source(bytes.data(), bytes.size()), counting, error);
    std::vector<int> numbers;
    if (!decoder) return numbers;
    std::vector<float> samples = audio_test::decode_all(*decoder);
    for (size_t i = 0; i < samples.size(); i += 2) numbers.push_back(int(std::lround(samples[i] * 32768)));
    return numbers;
}

}  // namespace

TEST(Mp3Frame, HeadersOfEveryVersion) {
    Mp3FrameHeader h;
    ASSERT_TRUE(parse_mp3_header(kHeader128, &h));
    EXPECT_EQ(h.version, MpegVersion::mpeg1);
    EXPECT_EQ(h.rate, 44100u);
    EXPECT_EQ(h.bitrate, 128000u);
    EXPECT_EQ(h.channels, 2u);
    EXPECT_EQ(h.frame_bytes, 417u);
    EXPECT_EQ(h.samples, 1152u);
    const uint8_t mpeg2_mono[4] = {0xFF, 0xF3, 0x82, 0xC0};  // 64 kbit/s, 22.05 kHz, padded
    ASSERT_TRUE(parse_mp3_header(mpeg2_mono, &h));
    EXPECT_EQ(h.version, MpegVersion::mpeg2);
    EXPECT_EQ(h.rate, 22050u);
    EXPECT_EQ(h.channels, 1u);
    EXPECT_EQ(h.frame_bytes, 72u * 64000 / 22050 + 1);
    EXPECT_EQ(h.samples, 576u);
    const uint8_t mpeg25[4] = {0xFF, 0xE3, 0x28, 0xC0};  // 16 kbit/s, 8 kHz
    ASSERT_TRUE(parse_mp3_header(mpeg25, &h));
    EXPECT_EQ(h.version, MpegVersion::mpeg25);
    EXPECT_EQ(h.rate, 8000u);
    EXPECT_EQ(h.frame_bytes, 144u);
}

TEST(Mp3Frame, RejectsInvalidHeaders) {
    Mp3FrameHeader h;
    const uint8_t bad[][4] = {
        {0xFF, 0xFD, 0x90, 0x40},  // layer II
        {0xFF, 0xEB, 0x90, 0x40},  // reserved version
        {0xFF, 0xFB, 0x00, 0x40},  // free format
        {0xFF, 0xFB, 0xF0, 0x40},  // bitrate index 15
        {0xFF, 0xFB, 0x9C, 0x40},  // reserved rate
        {0xFE, 0xFB, 0x90, 0x40},  // no sync
    };
    for (const auto& b : bad) EXPECT_FALSE(parse_mp3_header(b, &h));
    // Reserved emphasis is only marked: decoders ignore emphasis.
    const uint8_t reserved_emphasis[4] = {0xFF, 0xFB, 0x90, 0x42};
    ASSERT_TRUE(parse_mp3_header(reserved_emphasis, &h));
    EXPECT_TRUE(h.reserved_emphasis);
}

TEST(Mp3Scanner, FindsEveryFrameOfAPlainStream) {
    Scan s = scan(frames(20));
    ASSERT_EQ(s.open_result, Error::none);
    EXPECT_EQ(s.tags, tag_range(1, 20));
    EXPECT_EQ(s.frames[2].size(), 418u);  // padded frames keep their extra byte
    EXPECT_EQ(s.resyncs, 0);
}

TEST(Mp3Scanner, SkipsId3v2TagsAndLeadingJunk) {
    std::vector<uint8_t> junk = {0xFF, 0xFB, 0x90, 0x40, 0x00, 0xFF, 0xFA, 0x12, 0x34};  // a lone fake header
    for (bool footer : {false, true}) {
        Scan s = scan(concat({id3v2(300, footer), id3v2(20, false), junk, frames(10)}));
        ASSERT_EQ(s.open_result, Error::none);
        EXPECT_EQ(s.first_offset, 310u + (footer ? 10 : 0) + 30 + junk.size());
        EXPECT_EQ(s.tags, tag_range(1, 10));
    }
}

TEST(Mp3Scanner, SkipsTheXingOrInfoFrameButNotOrdinaryFrames) {
    for (const char* name : {"Xing", "Info", "VBRI"}) {
        SCOPED_TRACE(name);
        std::vector<uint8_t> info = frame(0x77);
        // Stereo MPEG-1: Xing/Info follow 32 bytes of side information, and
        // VBRI always sits 32 bytes after the header: both at byte 36.
        std::memcpy(info.data() + 36, name, 4);
        Scan s = scan(concat({info, frames(5)}));
        ASSERT_EQ(s.open_result, Error::none);
        EXPECT_TRUE(s.skipped_info);
        EXPECT_EQ(s.tags, tag_range(1, 5));
    }
    // The same bytes in a later frame are audio.
    std::vector<uint8_t> later = frame(0x77);
    std::memcpy(later.data() + 36, "Xing", 4);
    Scan s = scan(concat({frames(3), later, frames(2)}));
    EXPECT_FALSE(s.skipped_info);
    EXPECT_EQ(s.frames.size(), 6u);
}

TEST(Mp3Scanner, StopsBeforeId3v1AndApeTags) {
    Scan s = scan(concat({frames(8), id3v1()}));
    ASSERT_EQ(s.open_result, Error::none);
    EXPECT_EQ(s.tags, tag_range(1, 8));
    s = scan(concat({frames(8), ape_tag(), id3v1()}));
    EXPECT_EQ(s.tags, tag_range(1, 8));
    s = scan(concat({frames(8), ape_tag()}));
    EXPECT_EQ(s.tags, tag_range(1, 8));
}

TEST(Mp3Scanner, ResyncsAfterDamageInTheMiddle) {
    std::vector<uint8_t> bytes = frames(20);
    // Wreck the header of frame 10 and leave a fake sync inside its body.
    size_t frame10 = 0;
    for (int i = 0; i < 9; ++i) frame10 += 417 + (i % 3 == 2 ? 1 : 0);
    bytes[frame10] = 0x00;
    bytes[frame10 + 1] = 0x00;
    bytes[frame10 + 100] = 0xFF;
    bytes[frame10 + 101] = 0xFB;
    bytes[frame10 + 102] = 0x90;
    bytes[frame10 + 103] = 0x40;
    Scan s = scan(bytes);
    ASSERT_EQ(s.open_result, Error::none);
    std::vector<uint8_t> expected = tag_range(1, 9);
    std::vector<uint8_t> rest = tag_range(11, 20);
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(s.tags, expected);
    EXPECT_EQ(s.resyncs, 1);
}

TEST(Mp3Scanner, ReservedEmphasisOnlyKeepsARunOfFramesFromStartingThere) {
    struct Case {
        std::vector<int> marked;  // frames (from 0) with emphasis 2
        std::vector<uint8_t> tags;
    } cases[] = {
        {{4}, tag_range(1, 10)},
        {{3, 4, 5, 9}, tag_range(1, 10)},
        {{0}, tag_range(2, 10)},  // looks like junk where the stream would start
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes;
        for (int i = 0; i < 10; ++i) {
            std::vector<uint8_t> f = frame(uint8_t(i + 1));
            if (std::count(c.marked.begin(), c.marked.end(), i)) f[3] |= 2;
            bytes.insert(bytes.end(), f.begin(), f.end());
        }
        Scan s = scan(bytes);
        EXPECT_EQ(s.tags, c.tags) << c.marked[0];
        EXPECT_EQ(s.resyncs, 0);
    }
}

TEST(Mp3Scanner, FreeFormatFramesTakeTheirLengthFromTheDistanceToTheNext) {
    // 44.1 kHz stereo, bitrate index 0: 600 bytes, 601 with padding.
    std::vector<uint8_t> bytes = {0x00, 0xFF, 0xFB, 0x00, 0x40};  // junk, and a lone header in it
    for (int i = 0; i < 8; ++i) {
        bool padded = i % 3 == 2;
        std::vector<uint8_t> f = {0xFF, 0xFB, uint8_t(padded ? 0x02 : 0x00), 0x40};
        f.resize(4 + 32, 0);
        f.resize(600 + (padded ? 1 : 0), uint8_t(i + 1));
        bytes.insert(bytes.end(), f.begin(), f.end());
    }
    auto source = make_memory_source(bytes.data(), bytes.size());
    Mp3Scanner scanner(*source);
    ASSERT_EQ(scanner.open(), Error::none);
    EXPECT_EQ(scanner.first_frame_offset(), 5u);
    EXPECT_TRUE(scanner.first_header().free_format);
    EXPECT_EQ(scanner.first_header().bitrate, 600u * 44100 / 144);
    EXPECT_EQ(le16(&mp3_wave_format(scanner.first_header())[24]), 600);
    std::vector<uint8_t> f;
    std::vector<uint8_t> tags;
    while (scanner.next_frame(f)) {
        EXPECT_EQ(f.size(), tags.size() % 3 == 2 ? 601u : 600u);
        tags.push_back(f.back());
    }
    EXPECT_EQ(tags, tag_range(1, 8));
}

TEST(Mp3Scanner, DropsACutOffLastFrame) {
    std::vector<uint8_t> bytes = frames(6);
    bytes.resize(bytes.size() - 50);
    Scan s = scan(bytes);
    EXPECT_EQ(s.tags, tag_range(1, 5));
}

TEST(Mp3Scanner, RefusesWhatIsNoMp3) {
    std::vector<uint8_t> noise(100000);
    uint32_t x = 12345;
    for (auto& b : noise) b = uint8_t((x = x * 1103515245 + 12345) >> 24);
    EXPECT_NE(scan(noise).open_result, Error::none);
    // Two frames followed by junk are not enough to trust a sync.
    EXPECT_NE(scan(concat({frames(2), std::vector<uint8_t>(3000, 0x11)})).open_result, Error::none);
    // A tag with nothing after it.
    EXPECT_EQ(scan(id3v2(50, false)).open_result, audio::Error::bad_file_format);
    // A tag that claims more than the file.
    std::vector<uint8_t> tag = id3v2(50, false);
    tag[8] = 0x7F;
    EXPECT_EQ(scan(concat({tag, frames(5)})).open_result, audio::Error::bad_file_format);
}

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
    auto decoder = open_decoder(make_memory_source(bytes.data(), bytes.size()), fake, &error);
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
    EXPECT_FALSE(open_decoder(make_memory_source(bytes.data(), bytes.size()), none, &error));
    EXPECT_EQ(error, audio::Error::bad_file_format);
    auto log = std::make_shared<FakeConverter::Log>();
    ConverterFactory mono = [&](const std::vector<uint8_t>&, audio::Error*) {
        return std::make_unique<FakeConverter>(AudioFormat{44100, 1}, 1152, log);
    };
    EXPECT_FALSE(open_decoder(make_memory_source(bytes.data(), bytes.size()), mono, &error));
}

TEST(Mp3Scanner, EncodedFilesOfEveryVersion) {
    struct Case {
        const char* file;
        uint32_t rate, channels;
        bool info_frame;
    } cases[] = {
        {"sine_1k_44100_stereo.mp3", 44100, 2, true},
        {"sine_1k_22050_mono_vbr.mp3", 22050, 1, true},
        {"sine_1k_8000_mono.mp3", 8000, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        std::vector<uint8_t> bytes = audio_test::read_data_file(c.file);
        ASSERT_FALSE(bytes.empty());
        auto source = make_memory_source(bytes.data(), bytes.size());
        Mp3Scanner scanner(*source);
        ASSERT_EQ(scanner.open(), Error::none);
        EXPECT_EQ(scanner.first_header().rate, c.rate);
        EXPECT_EQ(scanner.first_header().channels, c.channels);
        std::vector<uint8_t> f;
        size_t count = 0, samples = 0;
        while (scanner.next_frame(f)) {
            Mp3FrameHeader h;
            ASSERT_TRUE(parse_mp3_header(f.data(), &h));
            EXPECT_EQ(f.size(), h.frame_bytes);
            samples += h.samples;
            ++count;
        }
        EXPECT_EQ(scanner.skipped_info_frame(), c.info_frame);
        EXPECT_EQ(scanner.resyncs(), 0);
        // Half a second of sound, plus the encoder's padding of a few frames.
        EXPECT_GE(samples, c.rate / 2);
        EXPECT_LE(samples, c.rate / 2 + 4 * 1152);
    }
}

TEST(Mp3Frame, ReadsTheEncoderDelayAndPaddingFromTheLameExtension) {
    Mp3FrameHeader h;
    ASSERT_TRUE(parse_mp3_header(kHeader128, &h));
    // Whichever optional Xing fields come before it.
    for (uint32_t flags : {0x0u, 0x1u, 0x5u, 0xFu}) {
        std::vector<uint8_t> f = lame_info_frame(576, 1234, flags);
        Mp3EncoderGap gap;
        ASSERT_TRUE(read_mp3_encoder_gap(f.data(), h, &gap)) << flags;
        EXPECT_EQ(gap.delay, 576u);
        EXPECT_EQ(gap.padding, 1234u);
    }
    std::vector<uint8_t> lavc = lame_info_frame(0xFFF, 0xABC, 0xF, "Lavc58.91");
    Mp3EncoderGap gap;
    ASSERT_TRUE(read_mp3_encoder_gap(lavc.data(), h, &gap));
    EXPECT_EQ(gap.delay, 0xFFFu);
    EXPECT_EQ(gap.padding, 0xABCu);
    // An Info frame of another encoder, without the extension, and an
    // ordinary frame say nothing.
    EXPECT_FALSE(read_mp3_encoder_gap(lame_info_frame(576, 100, 0xF, "Xyzzy1.00").data(), h, &gap));
    EXPECT_FALSE(read_mp3_encoder_gap(frame(0x4C).data(), h, &gap));
    // The committed fixture, encoded by lame with its tag.
    std::vector<uint8_t> bytes = audio_test::read_data_file("sine_1k_44100_stereo.mp3");
    auto source = make_memory_source(bytes.data(), bytes.size());
    Mp3Scanner scanner(*source);
    ASSERT_EQ(scanner.open(), Error::none);
    ASSERT_TRUE(scanner.encoder_gap());
    EXPECT_EQ(scanner.encoder_gap()->delay, 576u);
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
    auto decoder = open_decoder(make_memory_source(wav.data(), wav.size()), logging, &error);
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
    LaggingConverter(uint32_t channels, std::vector<uint8_t>* log) : channels_(channels), log_(log) {}
    AudioFormat output_format() const override { return AudioFormat{44100, channels_}; }
    bool convert(const uint8_t* in, size_t n, std::vector<int16_t>& out) override {
        log_->push_back(in[n - 1]);
        for (size_t i = 0; held_ && i < 1152; ++i)
            for (uint32_t c = 0; c < channels_; ++c) out.push_back(int16_t(held_ * 16 + c * 2));
        held_ = in[n - 1];
        return true;
    }

private:
    uint32_t channels_;
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
        auto decoder = open_decoder(make_memory_source(bytes.data(), bytes.size()), codecs, &error);
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
}

namespace {
// A frame whose main data begins `back` bytes into earlier frames' data.
std::vector<uint8_t> frame_reaching_back(uint8_t tag, uint32_t back) {
    std::vector<uint8_t> f = frame(tag);
    f[4] = uint8_t(back >> 1);
    f[5] = uint8_t((back & 1) << 7);
    return f;
}

constexpr int kGarbage = -1;  // a frame whose side information cannot be real
constexpr int kResync = -2;   // the scanner skipped damage before the next frame

// One frame fed to the guard: how far back its main data begins (or one of
// the two above), whether it must come out silenced, and how far back its
// main data then begins.
struct GuardStep {
    int reach;
    bool silenced;
    uint32_t begins;
};
}  // namespace

TEST(Mp3FrameGuard, SilencesWhatBuildsOnMissingOrBadBytesOnly) {
    // Every frame of these holds 381 bytes of main data.
    struct Case {
        const char* name;
        std::vector<GuardStep> steps;
    } cases[] = {
        // A stream cut out of a longer one: what the first frames reach back
        // for is gone. Silenced frames still reach back as far as the codec
        // holds bytes, so that it keeps the good ones for later frames.
        {"cut file, reservoir fuller than a frame",
         {{461, true, 0}, {461, true, 381}, {461, false, 461}, {461, false, 461}}},
        {"good frames", {{0, false, 0}, {300, false, 300}, {500, false, 500}}},
        {"garbage and what builds on it",
         {{0, false, 0}, {kGarbage, true, 0}, {100, true, 100}, {382, true, 382}, {500, false, 500}}},
        {"resync", {{0, false, 0}, {kResync, false, 0}, {1, true, 1}, {381, false, 381}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Mp3FrameGuard guard;
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const GuardStep& step = c.steps[i];
            SCOPED_TRACE(i);
            if (step.reach == kResync) {
                guard.break_reservoir();
                continue;
            }
            std::vector<uint8_t> fed = frame_reaching_back(uint8_t(i + 1), uint32_t(std::max(step.reach, 0)));
            if (step.reach == kGarbage) std::fill(fed.begin() + 4, fed.end(), 0xA7);  // big_values beyond 288
            const std::vector<uint8_t> original = fed;
            EXPECT_EQ(guard.pass(fed), step.silenced);
            Mp3FrameHeader h;
            ASSERT_TRUE(parse_mp3_header(fed.data(), &h));
            EXPECT_EQ(read_mp3_side_info(fed.data(), h).main_data_begin, step.begins);
            if (!step.silenced) EXPECT_EQ(fed, original);
            if (!step.silenced) continue;
            // No granule spends a bit. Garbage loses its bytes too; a frame
            // that only builds on bad bytes keeps its own.
            EXPECT_EQ(std::count(fed.begin() + 6, fed.begin() + 36, 0), 30);
            EXPECT_EQ(fed.back(), step.reach == kGarbage ? 0 : original.back());
        }
    }
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
