// The guard that feeds silence in place of frames the codec would turn into
// noise.
#include <gtest/gtest.h>

#include <algorithm>

#include "decode/mp3_frame.h"
#include "decode/mp3_frame_guard.h"
#include "decode/mp3_side_info.h"
#include "mp3_test_frames.h"

using namespace audio;
using namespace mp3_test;

namespace {
// A frame whose main data begins `back` bytes into earlier frames' data.
std::vector<uint8_t> frame_reaching_back(uint8_t tag, uint32_t back) {
    std::vector<uint8_t> f = frame(tag);
    f[4] = uint8_t(back >> 1);
    f[5] = uint8_t((back & 1) << 7);
    return f;
}

constexpr int kGarbage = -1;  // a frame whose side information cannot be real
constexpr int kResync = -2;   // the scanner skipped damage before the next frame

// One frame fed to the guard: how far back its main data begins (or one of
// the two above), whether it must come out silenced, and how far back its
// main data then begins. Its first granule may spend bits and carry
// spectral values.
struct GuardStep {
    int reach;
    bool silenced;
    uint32_t begins;
    uint32_t bits = 0;  // part2_3_length
    uint32_t big_values = 0;
};
}  // namespace

TEST(Mp3FrameGuard, SilencesWhatBuildsOnMissingOrBadBytesOnly) {
    // Every frame of these holds 381 bytes of main data.
    struct Case {
        const char* name;
        std::vector<GuardStep> steps;
    } cases[] = {
        // A stream cut out of a longer one: what the first frames reach back
        // for is gone. Silenced frames still reach back as far as the codec
        // holds bytes, so that it keeps the good ones for later frames.
        {"cut file, reservoir fuller than a frame",
         {{461, true, 0}, {461, true, 381}, {461, false, 461}, {461, false, 461}}},
        {"good frames", {{0, false, 0}, {300, false, 300}, {500, false, 500}}},
        {"garbage and what builds on it",
         {{0, false, 0}, {kGarbage, true, 0}, {100, true, 100}, {382, true, 382}, {500, false, 500}}},
        {"resync", {{0, false, 0}, {kResync, false, 0}, {1, true, 1}, {381, false, 381}}},
        // Bits beyond the frame's own bytes, from the reservoir; the most big_values allowed.
        {"real fields at their limits", {{0, false, 0}, {300, false, 300, 3500}, {0, false, 0, 0, 288}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Mp3FrameGuard guard;
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const GuardStep& step = c.steps[i];
            SCOPED_TRACE(i);
            if (step.reach == kResync) {
                guard.break_reservoir();
                continue;
            }
            std::vector<uint8_t> fed = frame_reaching_back(uint8_t(i + 1), uint32_t(std::max(step.reach, 0)));
            fed[6] = uint8_t(step.bits >> 8);
            fed[7] = uint8_t(step.bits);
            fed[8] = uint8_t(step.big_values >> 1);
            fed[9] = uint8_t((step.big_values & 1) << 7);
            if (step.reach == kGarbage) std::fill(fed.begin() + 4, fed.end(), 0xA7);  // big_values beyond 288
            const std::vector<uint8_t> original = fed;
            EXPECT_EQ(guard.pass(fed), step.silenced);
            Mp3FrameHeader h;
            ASSERT_TRUE(parse_mp3_header(fed.data(), &h));
            EXPECT_EQ(read_mp3_side_info(fed.data(), h).main_data_begin, step.begins);
            if (!step.silenced) EXPECT_EQ(fed, original);
            if (!step.silenced) continue;
            // No granule spends a bit. Garbage loses its bytes too; a frame
            // that only builds on bad bytes keeps its own.
            EXPECT_EQ(std::count(fed.begin() + 6, fed.begin() + 36, 0), 30);
            EXPECT_EQ(fed.back(), step.reach == kGarbage ? 0 : original.back());
        }
    }
}
