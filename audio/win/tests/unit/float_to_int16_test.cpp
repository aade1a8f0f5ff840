// Float to 16-bit conversion for devices that want integers.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "float_to_int16.h"

namespace {

TEST(FloatToInt16, ScalesRoundsAndClipsInsteadOfWrapping) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float in[] = {0.0f, 0.5f, -0.5f, 1.0f / 32768, 0.4f / 32768, 0.6f / 32768, -0.6f / 32768,
                        0.99994f, 1.0f, 1.5f, -1.0f, -1.5f, 1e9f, -1e9f, nan};
    const int16_t expected[] = {0, 16384, -16384, 1, 0, 1, -1, 32766, 32767, 32767, -32768, -32768,
                                32767, -32768, 0};
    constexpr size_t n = sizeof(in) / sizeof(in[0]);
    std::vector<int16_t> out(n, 12345);
    audio::float_to_int16(in, out.data(), n);
    for (size_t i = 0; i < n; ++i) EXPECT_EQ(out[i], expected[i]) << "input " << in[i];
}

}  // namespace
