// Maps a stream's channels to the stereo the mixer works in. Mono goes to
// both sides at the same level; more than two channels are mixed down with
// weights that add up to at most 1 per side, so the downmix cannot clip.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace audio {

class ChannelMap {
public:
    // Channels are in WAV order (FL FR FC LFE BL BR SL SR ...).
    explicit ChannelMap(uint32_t channels);
    // Converts `frames` frames of interleaved input to interleaved stereo.
    void to_stereo(const float* in, float* out, size_t frames) const;

private:
    uint32_t channels_;
    std::vector<float> left_weights_;
    std::vector<float> right_weights_;
};

}  // namespace audio
