// Keeps garbage out of the codec: a frame whose header checks out but whose
// side information cannot be real is fed as silence, and so are frames whose
// main data begins in bytes the codec never got right (a silenced frame, a
// stretch skipped by a resync, the start of a stream cut out of a longer
// one). The codec would otherwise decode them into noise, often far louder
// than the music.
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
    void break_reservoir() { good_ = 0; }
    // The next frame goes to a codec that holds no bytes yet.
    void start_codec() { held_ = good_ = 0; }

    int silenced() const { return silenced_; }

private:
    // The codec keeps, for the next frame to reach back into, the bytes from
    // where the last frame's main data began to its end. held_ counts them,
    // good_ the ones at their end that are the stream's own.
    size_t held_ = 0;
    size_t good_ = 0;
    int silenced_ = 0;
};

}  // namespace audio
