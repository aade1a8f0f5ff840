// Keeps garbage out of the codec: a frame whose header checks out but whose
// side information cannot be real is fed as silence, and so are frames whose
// main data begins in bytes the codec never got right (a silenced frame, a
// stretch skipped by a resync, the start of the stream). The codec would
// otherwise decode them into noise, often far louder than the music.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "decode/mp3_frame.h"

namespace audio {

class Mp3FrameGuard {
public:
    // Checks the next frame in feeding order and silences it in place if
    // needed. Returns true when it did.
    bool pass(std::vector<uint8_t>& frame);
    // The bytes before the next frame are not the stream's (after a resync).
    void break_reservoir() { reservoir_ = 0; }

    int silenced() const { return silenced_; }

private:
    size_t reservoir_ = 0;  // main data bytes the codec holds that are good
    int silenced_ = 0;
};

}  // namespace audio
