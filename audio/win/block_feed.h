// Feeds a codec that takes whole blocks only: input short of a block waits
// for the next call, and a block the codec rejects is dropped, so that the
// blocks after it still decode instead of failing on the same bytes again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace audio {

class BlockFeed {
public:
    enum class Outcome { converted, needs_more, rejected };
    // Converts [src, src + n), appending PCM to out; on `converted`, *used
    // holds the input bytes taken (at least one).
    using ConvertChunk = std::function<Outcome(uint8_t* src, size_t n, std::vector<int16_t>& out, size_t* used)>;

    // block_bytes: the codec's block (nBlockAlign), dropped on a rejection;
    // 0 for a codec fed one frame per call (MP3), where a rejection drops the
    // whole of what is pending. max_chunk bounds the bytes of one conversion.
    BlockFeed(size_t block_bytes, size_t max_chunk) : block_bytes_(block_bytes), max_chunk_(max_chunk) {}

    // Converts what is pending plus the new bytes. False when the codec
    // rejected some of them; the rest is converted all the same.
    bool convert(const uint8_t* in, size_t n, std::vector<int16_t>& out, const ConvertChunk& chunk);

private:
    size_t block_bytes_;
    size_t max_chunk_;
    std::vector<uint8_t> pending_;  // input not yet taken by the codec
};

}  // namespace audio
