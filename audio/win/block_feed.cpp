// Whole-block feeding with rejected blocks dropped.
#include "block_feed.h"

#include <algorithm>

namespace audio {

bool BlockFeed::convert(const uint8_t* in, size_t n, std::vector<int16_t>& out, const ConvertChunk& chunk) {
    pending_.insert(pending_.end(), in, in + n);
    size_t offset = 0;
    size_t limit = max_chunk_;
    bool ok = true;
    while (offset < pending_.size()) {
        size_t length = std::min(pending_.size() - offset, limit);
        size_t used = 0;
        Outcome outcome = chunk(pending_.data() + offset, length, out, &used);
        if (outcome == Outcome::needs_more) break;  // not even one whole block yet
        if (outcome == Outcome::converted) {
            offset += std::min(used, length);
            continue;
        }
        if (block_bytes_ != 0 && length > block_bytes_) {
            // Some block of several is at fault: go on one block at a time.
            limit = block_bytes_;
            continue;
        }
        offset += block_bytes_ != 0 ? block_bytes_ : length;
        ok = false;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(offset));
    return ok;
}

}  // namespace audio
