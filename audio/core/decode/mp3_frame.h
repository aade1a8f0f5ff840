// MPEG audio Layer III frame headers: parsing and checking them, spotting the
// Xing/Info/VBRI header frame and the encoder's delay and padding in it, and
// describing the stream to a codec.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace audio {

enum class MpegVersion { mpeg1, mpeg2, mpeg25 };

struct Mp3FrameHeader {
    MpegVersion version = MpegVersion::mpeg1;
    uint32_t bitrate = 0;  // bits per second
    uint32_t rate = 0;     // samples per second
    uint32_t channels = 0;
    bool free_format = false;
    bool crc = false;
    bool padding = false;
    // Emphasis 2 is reserved. Decoders ignore emphasis, so such a frame in a
    // stream plays; only the search for the first frame distrusts it.
    bool reserved_emphasis = false;
    size_t frame_bytes = 0;  // the whole frame, header included
    size_t samples = 0;      // per channel
};

constexpr size_t kMp3HeaderBytes = 4;

// Parses the 4 header bytes at p. False unless they are a valid Layer III
// header with a known rate, and a known bitrate or free format (bitrate
// index 0, a frame length the encoder chose). A free-format header parses
// only when free_bytes, the stream's frame length without padding, is given.
// Reserved emphasis is allowed and marked.
bool parse_mp3_header(const uint8_t* p, Mp3FrameHeader* header, size_t free_bytes = 0);

// Parses the header of a whole frame; a free-format one takes its length
// from the frame.
bool parse_mp3_frame_header(const std::vector<uint8_t>& frame, Mp3FrameHeader* header);

// True when the 4 bytes at p are a free-format Layer III header.
bool is_free_format_mp3_header(const uint8_t* p);

// True when two headers can belong to one stream: same version and rate.
bool same_mp3_stream(const Mp3FrameHeader& a, const Mp3FrameHeader& b);

// True when a whole frame is a Xing, Info or VBRI header frame, which carries
// stream information instead of audio.
bool is_mp3_info_frame(const uint8_t* frame, const Mp3FrameHeader& header);

// Silence the encoder added around the sound, in samples per channel: its
// delay before the first sample, and the padding that fills the last frame.
struct Mp3EncoderGap {
    uint32_t delay = 0;
    uint32_t padding = 0;
};

// Reads the delay and padding from the LAME extension of a Xing/Info header
// frame. False when the frame carries no such extension.
bool read_mp3_encoder_gap(const uint8_t* frame, const Mp3FrameHeader& header, Mp3EncoderGap* gap);

// The MPEGLAYER3WAVEFORMAT bytes a codec needs to decode this stream.
std::vector<uint8_t> mp3_wave_format(const Mp3FrameHeader& header);

}  // namespace audio
