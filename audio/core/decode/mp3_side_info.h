// The side information of a Layer III frame: where its main data starts in
// the bit reservoir, how many bits it spends, and whether its fields can
// belong to a real frame at all. A frame whose header checks out can still
// carry garbage; its side information then tells.
#pragma once

#include <cstddef>
#include <cstdint>

#include "decode/mp3_frame.h"

namespace audio {

struct Mp3SideInfo {
    uint32_t main_data_begin = 0;  // bytes of earlier frames' data this frame starts in
    size_t main_data_bytes = 0;    // bytes after the side information, in this frame
    size_t side_info_at = 0;       // where the side information starts in the frame
    size_t side_info_bytes = 0;
    bool plausible = false;  // every granule within the format's limits and the frame's bits
};

// Reads the side information of a whole frame (header included).
Mp3SideInfo read_mp3_side_info(const uint8_t* frame, const Mp3FrameHeader& header);

}  // namespace audio
