// MP3 frame headers of every version, and the encoder's delay and padding in
// the LAME extension of the Info frame.
#include <gtest/gtest.h>

#include "io/le_bytes.h"
#include "decode/mp3_frame.h"
#include "decode/mp3_scanner.h"
#include "mp3_test_frames.h"
#include "test_signals.h"

using namespace audio;
using namespace mp3_test;

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
    EXPECT_EQ(le16(&mp3_wave_format(h)[24]), 72u * 64000 / 22050);  // the codec's typical frame: unpadded
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
    Mp3EncoderGap gap;
    for (const char* encoder : {"Lavc58.91", "Lavf58.76"}) {
        std::vector<uint8_t> lavc = lame_info_frame(0xFFF, 0xABC, 0xF, encoder);
        ASSERT_TRUE(read_mp3_encoder_gap(lavc.data(), h, &gap)) << encoder;
        EXPECT_EQ(gap.delay, 0xFFFu);
        EXPECT_EQ(gap.padding, 0xABCu);
    }
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
