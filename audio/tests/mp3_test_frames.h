// Builders of MP3 bytes for the MP3 tests: frames of one known header,
// tags at either end of a file, and the encoder's Info frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace mp3_test {

// MPEG-1 Layer III, 128 kbit/s, 44.1 kHz, joint stereo, no CRC: 417 bytes
// (418 with padding).
inline constexpr uint8_t kHeader128[4] = {0xFF, 0xFB, 0x90, 0x40};

// One frame: the header, then filler that holds no sync byte and tells the
// frames apart.
std::vector<uint8_t> frame(uint8_t tag, bool padded = false);

// `count` frames tagged 1, 2, 3, ... with padding on every third.
std::vector<uint8_t> frames(int count);

// An ID3v2 tag of `body` bytes, with or without its footer.
std::vector<uint8_t> id3v2(size_t body, bool footer);
// An ID3v1 tag.
std::vector<uint8_t> id3v1();

std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts);
// The tags from..to, the filler bytes of the frames a scan should deliver.
std::vector<uint8_t> tag_range(int from, int to);

// An Info frame with a LAME extension that records the encoder's delay and
// padding. xing_flags picks the optional Xing fields before it.
std::vector<uint8_t> lame_info_frame(uint32_t delay, uint32_t padding, uint32_t xing_flags = 0x0F,
                                     const char* encoder = "LAME3.100");

}  // namespace mp3_test
