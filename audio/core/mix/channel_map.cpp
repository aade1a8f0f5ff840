// Stereo mapping and the multichannel downmix weights.
#include "mix/channel_map.h"

#include <algorithm>

namespace audio {
namespace {

// Where one input channel goes: its weight on the left and on the right.
struct Placement {
    float left, right;
};

constexpr float kSide = 0.7071f;  // -3 dB for centre and surround channels

// The sides of the usual layouts by channel count, in WAV order: L left,
// R right, C both (centres), X neither (LFE: it only adds rumble).
const char* const kLayouts[] = {
    nullptr, nullptr, nullptr,
    "LRC",       // 3: L R C
    "LRLR",      // 4: L R BL BR
    "LRCLR",     // 5: L R C BL BR
    "LRCXLR",    // 6: 5.1
    "LRCXCLR",   // 7: 6.1 (back centre)
    "LRCXLRLR",  // 8: 7.1
};

// The placement of channel i of a stream with n channels (n > 2).
Placement placement(uint32_t i, uint32_t n) {
    float level = i < 2 ? 1.0f : kSide;
    char side = n <= 8 ? kLayouts[n][i] : (i % 2 == 0 ? 'L' : 'R');  // unknown: alternate
    switch (side) {
    case 'L': return {level, 0};
    case 'R': return {0, level};
    case 'C': return {kSide, kSide};
    default: return {0, 0};
    }
}

}  // namespace

ChannelMap::ChannelMap(uint32_t channels) : channels_(channels) {
    if (channels_ <= 2) return;
    float left_sum = 0, right_sum = 0;
    for (uint32_t i = 0; i < channels_; ++i) {
        Placement p = placement(i, channels_);
        left_weights_.push_back(p.left);
        right_weights_.push_back(p.right);
        left_sum += p.left;
        right_sum += p.right;
    }
    // Scale so that full-scale input on every channel stays within -1..1.
    float scale = 1.0f / std::max({left_sum, right_sum, 1.0f});
    for (uint32_t i = 0; i < channels_; ++i) {
        left_weights_[i] *= scale;
        right_weights_[i] *= scale;
    }
}

void ChannelMap::to_stereo(const float* in, float* out, size_t frames) const {
    if (channels_ == 1) {
        for (size_t i = 0; i < frames; ++i) out[2 * i] = out[2 * i + 1] = in[i];
        return;
    }
    if (channels_ == 2) {
        std::copy(in, in + 2 * frames, out);
        return;
    }
    for (size_t f = 0; f < frames; ++f) {
        const float* frame = in + f * channels_;
        float l = 0, r = 0;
        for (uint32_t c = 0; c < channels_; ++c) {
            l += frame[c] * left_weights_[c];
            r += frame[c] * right_weights_[c];
        }
        out[2 * f] = l;
        out[2 * f + 1] = r;
    }
}

}  // namespace audio
