// Builders of MP3 bytes for the MP3 tests.
#include "mp3_test_frames.h"

#include <gtest/gtest.h>

#include <cstring>

#include "io/le_bytes.h"
#include "decode/mp3_frame.h"

using namespace audio;

namespace mp3_test {

std::vector<uint8_t> frame(uint8_t tag, bool padded) {
    Mp3FrameHeader h;
    uint8_t header[4] = {kHeader128[0], kHeader128[1], uint8_t(kHeader128[2] | (padded ? 2 : 0)), kHeader128[3]};
    EXPECT_TRUE(parse_mp3_header(header, &h));
    std::vector<uint8_t> f(header, header + 4);
    f.resize(4 + 32, 0);  // side information of a silent frame
    f.resize(h.frame_bytes, tag);
    return f;
}

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

std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::vector<uint8_t> tag_range(int from, int to) {
    std::vector<uint8_t> t;
    for (int i = from; i <= to; ++i) t.push_back(uint8_t(i));
    return t;
}

std::vector<uint8_t> lame_info_frame(uint32_t delay, uint32_t padding, uint32_t xing_flags,
                                     const char* encoder) {
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

}  // namespace mp3_test
