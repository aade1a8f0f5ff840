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
}  // namespace

bool Mp3FrameGuard::pass(std::vector<uint8_t>& frame) {
    Mp3FrameHeader h;
    if (frame.size() < kMp3HeaderBytes || !parse_mp3_header(frame.data(), &h) || h.frame_bytes != frame.size())
        return false;
    Mp3SideInfo info = read_mp3_side_info(frame.data(), h);
    size_t limit = h.version == MpegVersion::mpeg1 ? kMaxReservoirMpeg1 : kMaxReservoirMpeg2;
    if (!info.plausible) {
        // Garbage: silence; its bytes are no reservoir for the next frames.
        std::fill(frame.begin() + kMp3HeaderBytes, frame.end(), 0);
        reservoir_ = 0;
        ++silenced_;
        return true;
    }
    bool reaches_into_bad_bytes = info.main_data_begin > reservoir_;
    reservoir_ = std::min(limit, (reaches_into_bad_bytes ? 0 : reservoir_) + info.main_data_bytes);
    if (!reaches_into_bad_bytes) return false;
    // Its own bytes are good and later frames may use them; only what it
    // decodes would be built on garbage.
    std::fill(frame.begin() + long(info.side_info_at), frame.begin() + long(info.side_info_at + info.side_info_bytes), 0);
    ++silenced_;
    return true;
}

}  // namespace audio
