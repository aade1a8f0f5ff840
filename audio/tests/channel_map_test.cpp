// Stereo mapping: mono to both sides, stereo untouched, downmixes that
// cannot clip.
#include <gtest/gtest.h>

#include <vector>

#include "mix/channel_map.h"

using audio::ChannelMap;

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
        std::vector<float> left_only(channels, 0.0f);
        left_only[0] = 1.0f;
        map.to_stereo(left_only.data(), out.data(), 1);
        EXPECT_GT(out[0], 0.2f);
        EXPECT_EQ(out[1], 0.0f);
        std::vector<float> right_only(channels, 0.0f);
        right_only[1] = 1.0f;
        map.to_stereo(right_only.data(), out.data(), 1);
        EXPECT_EQ(out[0], 0.0f);
        EXPECT_GT(out[1], 0.2f);
    }
}

TEST(ChannelMap, FiveOneLeavesOutTheLfeAndCentresTheCentre) {
    ChannelMap map(6);
    std::vector<float> out(2);
    std::vector<float> lfe = {0, 0, 0, 1, 0, 0};
    map.to_stereo(lfe.data(), out.data(), 1);
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_EQ(out[1], 0.0f);
    std::vector<float> centre = {0, 0, 1, 0, 0, 0};
    map.to_stereo(centre.data(), out.data(), 1);
    EXPECT_GT(out[0], 0.0f);
    EXPECT_FLOAT_EQ(out[0], out[1]);
}
