// MP3 frame finding: tags at both ends, junk, the Xing/Info frame, free
// format, damage in the middle, and files that lame wrote.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "io/le_bytes.h"
#include "decode/mp3_frame.h"
#include "decode/mp3_scanner.h"
#include "mp3_test_frames.h"
#include "test_signals.h"

using namespace audio;
using namespace mp3_test;

namespace {

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

}  // namespace

TEST(Mp3Scanner, FindsEveryFrameOfAPlainStream) {
    Scan s = scan(frames(20));
    ASSERT_EQ(s.open_result, Error::none);
    EXPECT_EQ(s.tags, tag_range(1, 20));
    EXPECT_EQ(s.frames[2].size(), 418u);  // padded frames keep their extra byte
    EXPECT_EQ(s.resyncs, 0);
    EXPECT_EQ(scan(frame(1)).tags, tag_range(1, 1));  // one frame that fills the file
}

TEST(Mp3Scanner, SkipsId3v2TagsAndLeadingJunk) {
    std::vector<uint8_t> junk = {0xFF, 0xFB, 0x90, 0x40, 0x00, 0xFF, 0xFA, 0x12, 0x34};  // a lone fake header
    // A second tag whose body is frames: played only if the first is skipped wrongly.
    std::vector<uint8_t> tag_of_frames = concat({id3v2(0, false), frames(3)});
    tag_of_frames[8] = uint8_t(1252 >> 7);
    tag_of_frames[9] = uint8_t(1252 & 0x7F);
    for (bool footer : {false, true}) {
        Scan s = scan(concat({id3v2(300, footer), tag_of_frames, junk, frames(10)}));
        ASSERT_EQ(s.open_result, Error::none);
        EXPECT_EQ(s.first_offset, 310u + (footer ? 10 : 0) + 1262 + junk.size());
        EXPECT_EQ(s.tags, tag_range(1, 10));
    }
}

TEST(Mp3Scanner, SkipsTheXingOrInfoFrameButNotOrdinaryFrames) {
    struct Case {
        const char* name;
        uint8_t byte1, byte3;  // of the header: protection, and channel mode
        size_t at;
    } cases[] = {
        // Stereo MPEG-1: Xing/Info follow 32 bytes of side information, and
        // VBRI always sits 32 bytes after the header: both at byte 36.
        {"Xing", 0xFB, 0x40, 36}, {"Info", 0xFB, 0x40, 36}, {"VBRI", 0xFB, 0x40, 36},
        {"Info", 0xFB, 0xC0, 21},  // mono: 17 bytes of side information
        {"Info", 0xFA, 0x40, 38},  // after the CRC word
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.name << " at " << c.at);
        std::vector<uint8_t> info = frame(0x77);
        info[1] = c.byte1;
        info[3] = c.byte3;
        std::memcpy(info.data() + c.at, c.name, 4);
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
    std::vector<uint8_t> lying = ape_tag();  // its size claims more than the file
    lying[lying.size() - 32 + 14] = 0x01;
    s = scan(concat({frames(8), lying}));
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
    // Two frames of another rate (48 kHz, 96 bytes) in the damage are not the stream.
    const uint8_t other_rate[4] = {0xFF, 0xFB, 0x14, 0x40};
    for (size_t at : {frame10 + 200, frame10 + 296}) std::copy(other_rate, other_rate + 4, bytes.begin() + long(at));
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
    // 44.1 kHz stereo, bitrate index 0: 600 bytes, 601 with padding on every
    // third frame, the first of them or not.
    for (int first_padded : {2, 0}) {
        SCOPED_TRACE(first_padded);
        std::vector<uint8_t> bytes = {0x00, 0xFF, 0xFB, 0x00, 0x40};  // junk, and a lone header in it
        for (int i = 0; i < 8; ++i) {
            bool padded = i % 3 == first_padded;
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
            EXPECT_EQ(f.size(), int(tags.size()) % 3 == first_padded ? 601u : 600u);
            tags.push_back(f.back());
        }
        EXPECT_EQ(tags, tag_range(1, 8));
    }
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
