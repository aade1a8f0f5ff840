// Layer III side information: field layout of MPEG-1 and MPEG-2/2.5.
#include "decode/mp3_side_info.h"

namespace audio {
namespace {

// Reads big-endian bit fields from a byte run.
class BitReader {
public:
    explicit BitReader(const uint8_t* bytes) : bytes_(bytes) {}
    uint32_t take(int bits) {
        uint32_t value = 0;
        for (int i = 0; i < bits; ++i, ++pos_) value = value << 1 | ((bytes_[pos_ / 8] >> (7 - pos_ % 8)) & 1);
        return value;
    }

private:
    const uint8_t* bytes_;
    size_t pos_ = 0;
};

constexpr uint32_t kMaxBigValues = 288;  // pairs of spectral values in a granule

// Reads one granule of one channel; false when its fields cannot be real.
// Adds the bits it spends to *bits.
bool read_granule(BitReader& in, bool mpeg1, uint64_t* bits) {
    *bits += in.take(12);  // part2_3_length
    uint32_t big_values = in.take(9);
    in.take(8);            // global gain
    in.take(mpeg1 ? 4 : 9);  // scale factor compression
    bool window_switching = in.take(1) != 0;
    bool ok = big_values <= kMaxBigValues;
    if (window_switching) {
        ok = ok && in.take(2) != 0;  // block type 0 cannot switch windows
        in.take(1 + 2 * 5 + 3 * 3);  // mixed block, two tables, sub-block gains
    } else {
        in.take(3 * 5 + 4 + 3);  // three tables, region counts
    }
    in.take(mpeg1 ? 3 : 2);  // preflag (MPEG-1), scale factor scale, count1 table
    return ok;
}

}  // namespace

Mp3SideInfo read_mp3_side_info(const uint8_t* frame, const Mp3FrameHeader& h) {
    Mp3SideInfo info;
    bool mpeg1 = h.version == MpegVersion::mpeg1;
    bool mono = h.channels == 1;
    info.side_info_at = kMp3HeaderBytes + (h.crc ? 2 : 0);
    info.side_info_bytes = mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    size_t head = info.side_info_at + info.side_info_bytes;
    if (head > h.frame_bytes) return info;
    info.main_data_bytes = h.frame_bytes - head;

    BitReader in(frame + info.side_info_at);
    info.main_data_begin = in.take(mpeg1 ? 9 : 8);
    in.take(mpeg1 ? (mono ? 5 : 3) : (mono ? 1 : 2));  // private bits
    if (mpeg1) in.take(4 * h.channels);                 // scale factor sharing
    bool ok = true;
    uint64_t bits = 0;
    for (int granule = 0; granule < (mpeg1 ? 2 : 1); ++granule)
        for (uint32_t channel = 0; channel < h.channels; ++channel) ok = read_granule(in, mpeg1, &bits) && ok;
    info.plausible = ok && bits <= uint64_t(info.main_data_begin + info.main_data_bytes) * 8;
    return info;
}

}  // namespace audio
