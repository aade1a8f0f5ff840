// Whole-block feeding: a block the codec rejects is dropped and the input
// after it decodes, whether it came in the same call or a later one.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "block_feed.h"

namespace {

using audio::BlockFeed;

constexpr size_t kBlock = 4;
constexpr uint8_t kBad = 0xBD;  // first byte of a block the codec rejects

// A codec of 4-byte blocks that puts out each block's first byte as one
// sample and rejects any conversion holding a bad block, as a real codec
// fails a whole call.
BlockFeed::Outcome fake_codec(uint8_t* src, size_t n, std::vector<int16_t>& out, size_t* used) {
    size_t whole = n / kBlock * kBlock;
    if (whole == 0) return BlockFeed::Outcome::needs_more;
    for (size_t i = 0; i < whole; i += kBlock)
        if (src[i] == kBad) return BlockFeed::Outcome::rejected;
    for (size_t i = 0; i < whole; i += kBlock) out.push_back(src[i]);
    *used = whole;
    return BlockFeed::Outcome::converted;
}

// Blocks whose first bytes are the given values.
std::vector<uint8_t> blocks(std::initializer_list<uint8_t> firsts) {
    std::vector<uint8_t> bytes;
    for (uint8_t f : firsts) bytes.insert(bytes.end(), {f, 0, 0, 0});
    return bytes;
}

bool feed(BlockFeed& feed, const std::vector<uint8_t>& bytes, std::vector<int16_t>& out) {
    return feed.convert(bytes.data(), bytes.size(), out, fake_codec);
}

TEST(BlockFeed, ARejectedBlockIsDroppedAndTheRestDecodes) {
    BlockFeed blocks_feed(kBlock, 64);
    std::vector<int16_t> out;
    EXPECT_FALSE(feed(blocks_feed, blocks({1, 2, kBad, 4, 5}), out));
    EXPECT_EQ(out, (std::vector<int16_t>{1, 2, 4, 5}));
    // Later input no longer meets the rejected bytes.
    EXPECT_TRUE(feed(blocks_feed, blocks({6, 7}), out));
    EXPECT_EQ(out, (std::vector<int16_t>{1, 2, 4, 5, 6, 7}));
}

TEST(BlockFeed, PartialBlocksWaitAcrossARejection) {
    BlockFeed blocks_feed(kBlock, 64);
    std::vector<int16_t> out;
    std::vector<uint8_t> bytes = blocks({1, kBad, 3, kBad, kBad, 6});
    // Pieces of 3 bytes cut through every block.
    for (size_t pos = 0; pos < bytes.size(); pos += 3) {
        std::vector<uint8_t> piece(bytes.begin() + long(pos), bytes.begin() + long(std::min(pos + 3, bytes.size())));
        feed(blocks_feed, piece, out);
    }
    EXPECT_EQ(out, (std::vector<int16_t>{1, 3, 6}));
}

TEST(BlockFeed, AFrameCodecLosesTheRejectedFrameOnly) {
    // Block size 0: frames arrive one per call, a rejection drops the frame.
    BlockFeed frames_feed(0, 64);
    std::vector<int16_t> out;
    EXPECT_TRUE(feed(frames_feed, blocks({1, 2}), out));
    EXPECT_FALSE(feed(frames_feed, blocks({3, kBad}), out));
    EXPECT_TRUE(feed(frames_feed, blocks({5}), out));
    EXPECT_EQ(out, (std::vector<int16_t>{1, 2, 5}));
}

}  // namespace
