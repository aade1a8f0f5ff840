// Layer III header tables and checks.
#include "decode/mp3_frame.h"

#include <cstring>

#include "io/le_bytes.h"
#include "decode/wave_format.h"

namespace audio {
namespace {

// kbit/s by bitrate index; index 0 is free format, 15 is not allowed.
const uint16_t kBitratesMpeg1[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
const uint16_t kBitratesMpeg2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
const uint32_t kRatesMpeg1[3] = {44100, 48000, 32000};

constexpr uint16_t kMpegLayer3IdMpeg = 1;
constexpr uint32_t kMpegLayer3FlagPaddingOff = 2;

// Where the Xing/Info tag sits: right after the side information (some
// encoders ignore the CRC word when placing it, so both places are checked).
size_t xing_offset(const Mp3FrameHeader& h) {
    bool mono = h.channels == 1;
    size_t side_info = h.version == MpegVersion::mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    return kMp3HeaderBytes + side_info;
}

// True when one of the Xing tags starts at frame + at, within the frame.
bool has_xing_tag(const uint8_t* frame, size_t at, size_t frame_bytes) {
    return at + 4 <= frame_bytes &&
           (std::memcmp(frame + at, "Xing", 4) == 0 || std::memcmp(frame + at, "Info", 4) == 0);
}

// Where the Xing/Info tag of an info frame starts; 0 when there is none.
size_t xing_tag_at(const uint8_t* frame, const Mp3FrameHeader& h) {
    size_t at = xing_offset(h);
    if (has_xing_tag(frame, at, h.frame_bytes)) return at;
    if (h.crc && has_xing_tag(frame, at + 2, h.frame_bytes)) return at + 2;
    return 0;
}

// The Xing fields present by their flags: frame count, byte count, seek
// table, quality; their sizes in bytes.
constexpr uint32_t kXingFieldFlags[4] = {1, 2, 4, 8};
constexpr size_t kXingFieldBytes[4] = {4, 4, 100, 4};
// The LAME extension: a 9-byte encoder name, then revision, lowpass, replay
// gain (8), flags and bitrate before the 3 bytes of delay and padding.
constexpr size_t kLameExtensionBytes = 36;
constexpr size_t kLameGapAt = 21;

// Encoders that write the LAME extension (LAME itself, and libavcodec).
bool known_lame_encoder(const uint8_t* name) {
    return std::memcmp(name, "LAME", 4) == 0 || std::memcmp(name, "Lavc", 4) == 0 ||
           std::memcmp(name, "Lavf", 4) == 0;
}

}  // namespace

bool parse_mp3_header(const uint8_t* p, Mp3FrameHeader* h, size_t free_bytes) {
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
    int version_bits = (p[1] >> 3) & 3;
    int layer_bits = (p[1] >> 1) & 3;
    int bitrate_index = p[2] >> 4;
    int rate_index = (p[2] >> 2) & 3;
    int emphasis = p[3] & 3;
    if (version_bits == 1 || layer_bits != 1 || rate_index == 3 || bitrate_index == 15) return false;
    if (bitrate_index == 0 && free_bytes == 0) return false;
    h->version = version_bits == 3 ? MpegVersion::mpeg1 : version_bits == 2 ? MpegVersion::mpeg2 : MpegVersion::mpeg25;
    bool mpeg1 = h->version == MpegVersion::mpeg1;
    uint32_t divisor = mpeg1 ? 1 : h->version == MpegVersion::mpeg2 ? 2 : 4;
    uint32_t slot_factor = mpeg1 ? 144 : 72;  // frame bytes per bit/s per sample/s
    h->rate = kRatesMpeg1[rate_index] / divisor;
    h->free_format = bitrate_index == 0;
    h->bitrate = h->free_format ? uint32_t(free_bytes * h->rate / slot_factor)
                                : uint32_t(mpeg1 ? kBitratesMpeg1[bitrate_index] : kBitratesMpeg2[bitrate_index]) * 1000;
    h->crc = (p[1] & 1) == 0;
    h->padding = (p[2] & 2) != 0;
    h->reserved_emphasis = emphasis == 2;
    h->channels = (p[3] >> 6) == 3 ? 1 : 2;
    h->samples = mpeg1 ? 1152 : 576;
    h->frame_bytes = (h->free_format ? free_bytes : slot_factor * h->bitrate / h->rate) + (h->padding ? 1 : 0);
    return true;
}

bool parse_mp3_frame_header(const std::vector<uint8_t>& frame, Mp3FrameHeader* h) {
    if (frame.size() < kMp3HeaderBytes) return false;
    size_t padding = (frame[2] >> 1) & 1;
    return parse_mp3_header(frame.data(), h, frame.size() > padding ? frame.size() - padding : 0) &&
           h->frame_bytes == frame.size();
}

bool is_free_format_mp3_header(const uint8_t* p) {
    Mp3FrameHeader h;
    return (p[2] >> 4) == 0 && parse_mp3_header(p, &h, 1);
}

bool same_mp3_stream(const Mp3FrameHeader& a, const Mp3FrameHeader& b) {
    return a.version == b.version && a.rate == b.rate;
}

bool is_mp3_info_frame(const uint8_t* frame, const Mp3FrameHeader& h) {
    if (xing_tag_at(frame, h) != 0) return true;
    // VBRI sits at a fixed place, 32 bytes after the header.
    const size_t vbri = kMp3HeaderBytes + 32;
    return vbri + 4 <= h.frame_bytes && std::memcmp(frame + vbri, "VBRI", 4) == 0;
}

bool read_mp3_encoder_gap(const uint8_t* frame, const Mp3FrameHeader& h, Mp3EncoderGap* gap) {
    size_t at = xing_tag_at(frame, h);
    if (at == 0 || at + 8 > h.frame_bytes) return false;
    uint32_t flags = uint32_t(frame[at + 4]) << 24 | uint32_t(frame[at + 5]) << 16 | frame[at + 6] << 8 | frame[at + 7];
    size_t lame = at + 8;
    for (int i = 0; i < 4; ++i)
        if (flags & kXingFieldFlags[i]) lame += kXingFieldBytes[i];
    if (lame + kLameExtensionBytes > h.frame_bytes || !known_lame_encoder(frame + lame)) return false;
    const uint8_t* p = frame + lame + kLameGapAt;
    gap->delay = uint32_t(p[0]) << 4 | p[1] >> 4;
    gap->padding = uint32_t(p[1] & 0x0F) << 8 | p[2];
    return true;
}

std::vector<uint8_t> mp3_wave_format(const Mp3FrameHeader& h) {
    std::vector<uint8_t> f;
    put_le16(f, kWaveFormatMp3);
    put_le16(f, h.channels);
    put_le32(f, h.rate);
    put_le32(f, h.bitrate / 8);  // average bytes per second
    put_le16(f, 1);              // block align
    put_le16(f, 0);              // bits per sample
    put_le16(f, 12);             // size of the MPEG Layer 3 extension below
    put_le16(f, kMpegLayer3IdMpeg);
    put_le32(f, kMpegLayer3FlagPaddingOff);
    put_le16(f, uint16_t(h.frame_bytes - (h.padding ? 1 : 0)));  // a typical frame size
    put_le16(f, 1);      // frames per block
    put_le16(f, 0);      // codec delay
    return f;
}

}  // namespace audio
