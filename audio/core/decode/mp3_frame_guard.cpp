// Silencing of garbage frames and of frames that build on garbage.
#include "decode/mp3_frame_guard.h"

#include <algorithm>

#include "decode/mp3_side_info.h"

namespace audio {
namespace {
// The most main data a frame can reach back for: its 9-bit (MPEG-1) or
// 8-bit (MPEG-2, 2.5) main_data_begin.
constexpr size_t kMaxReservoirMpeg1 = 511;
constexpr size_t kMaxReservoirMpeg2 = 255;

// Makes a frame decode to silence: no bits in any granule, while its main
// data still begins `begin` bytes back, so the codec goes on keeping the
// bytes before it for the frames that follow.
void silence_side_info(std::vector<uint8_t>& frame, const Mp3SideInfo& info, bool mpeg1, size_t begin) {
    uint8_t* side = frame.data() + info.side_info_at;
    std::fill(side, side + info.side_info_bytes, 0);
    if (mpeg1) {
        side[0] = uint8_t(begin >> 1);
        side[1] = uint8_t((begin & 1) << 7);
    } else {
        side[0] = uint8_t(begin);
    }
}
}  // namespace

bool Mp3FrameGuard::pass(std::vector<uint8_t>& frame) {
    Mp3FrameHeader h;
    if (!parse_mp3_frame_header(frame, &h)) return false;
    Mp3SideInfo info = read_mp3_side_info(frame.data(), h);
    bool mpeg1 = h.version == MpegVersion::mpeg1;
    size_t limit = mpeg1 ? kMaxReservoirMpeg1 : kMaxReservoirMpeg2;
    if (!info.plausible) {
        // Garbage: silence; its zeroed bytes are no reservoir for the next frames.
        std::fill(frame.begin() + kMp3HeaderBytes, frame.end(), 0);
        held_ = std::min(limit, info.main_data_bytes);
        good_ = 0;
        ++silenced_;
        return true;
    }
    if (info.main_data_begin <= good_) {
        held_ = good_ = std::min(limit, info.main_data_begin + info.main_data_bytes);
        return false;
    }
    // It would decode bytes that are bad or missing. Its own bytes are good
    // and later frames may use them, so it still reaches back as far as the
    // codec holds bytes: the good ones before it stay in the codec.
    size_t begin = std::min<size_t>(info.main_data_begin, held_);
    silence_side_info(frame, info, mpeg1, begin);
    held_ = std::min(limit, begin + info.main_data_bytes);
    good_ = std::min(limit, good_ + info.main_data_bytes);
    ++silenced_;
    return true;
}

}  // namespace audio
