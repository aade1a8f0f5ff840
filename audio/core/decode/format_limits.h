// The range of stream formats the engine accepts. Anything outside is
// treated as a damaged header rather than risking absurd allocations.
#pragma once

#include <cstdint>

namespace audio {

constexpr uint32_t kMinRate = 1000;
constexpr uint32_t kMaxRate = 768000;
constexpr uint32_t kMaxChannels = 32;

// True when a decoder may announce this rate and channel count.
inline bool format_supported(uint32_t rate, uint32_t channels) {
    return rate >= kMinRate && rate <= kMaxRate && channels >= 1 && channels <= kMaxChannels;
}

}  // namespace audio
