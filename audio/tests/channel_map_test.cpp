// Stereo mapping: mono to both sides, stereo untouched, downmixes that
// cannot clip.
#include <gtest/gtest.h>

#include <vector>

#include "mix/channel_map.h"

using audio::ChannelMap;

namespace {
// The stereo frame made of a frame with only channel `index` at full scale.
std::vector<float> alone(const ChannelMap& map, uint32_t channels, uint32_t index) {
    std::vector<float> in(channels, 0.0f), out(2);
    in[index] = 1.0f;
    map.to_stereo(in.data(), out.data(), 1);
    return out;
}
}  // namespace

TEST(ChannelMap, MonoGoesToBothSidesAtTheSameLevel) {
    ChannelMap map(1);
    std::vector<float> in = {0.5f, -0.25f}, out(4);
    map.to_stereo(in.data(), out.data(), 2);
    EXPECT_EQ(out, (std::vector<float>{0.5f, 0.5f, -0.25f, -0.25f}));
}

TEST(ChannelMap, StereoPassesUnchanged) {
    ChannelMap map(2);
    std::vector<float> in = {0.1f, 0.2f, 0.3f, 0.4f}, out(4);
    map.to_stereo(in.data(), out.data(), 2);
    EXPECT_EQ(out, in);
}

TEST(ChannelMap, DownmixesNeverClipAndKeepSidesApart) {
    for (uint32_t channels = 3; channels <= 12; ++channels) {
        SCOPED_TRACE(channels);
        ChannelMap map(channels);
        // Full scale on every channel stays within range...
        std::vector<float> full(channels, 1.0f), out(2);
        map.to_stereo(full.data(), out.data(), 1);
        EXPECT_LE(out[0], 1.0f + 1e-6f);
        EXPECT_LE(out[1], 1.0f + 1e-6f);
        EXPECT_GT(out[0], 0.5f);
        // ...and front left is heard on the left only, front right on the right.
        std::vector<float> left = alone(map, channels, 0), right = alone(map, channels, 1);
        EXPECT_GT(left[0], 0.2f);
        EXPECT_EQ(left[1], 0.0f);
        EXPECT_EQ(right[0], 0.0f);
        EXPECT_GT(right[1], 0.2f);
    }
}

TEST(ChannelMap, FiveOneLeavesOutTheLfeAndCentresTheCentre) {
    for (uint32_t channels : {6u, 8u}) {  // 5.1 and 7.1 alike
        SCOPED_TRACE(channels);
        ChannelMap map(channels);
        EXPECT_EQ(alone(map, channels, 3), (std::vector<float>{0.0f, 0.0f}));  // LFE
        std::vector<float> centre = alone(map, channels, 2);
        EXPECT_GT(centre[0], 0.0f);
        EXPECT_FLOAT_EQ(centre[0], centre[1]);
    }
}
