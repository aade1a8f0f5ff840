// A read buffer over a ByteSource for parsers that look at small runs of
// bytes at scattered positions (frame headers, tag footers) without a read
// call for each.
#pragma once

#include <cstdint>
#include <vector>

#include "io/byte_source.h"

namespace audio {

class ByteWindow {
public:
    explicit ByteWindow(ByteSource& source, size_t capacity = 65536)
        : source_(source), bytes_(capacity) {}

    // Bytes [pos, pos + n) (n at most the capacity), or null when the source
    // ends before pos + n. Valid until the next call.
    const uint8_t* get(uint64_t pos, size_t n) {
        if (pos >= base_ && pos + n <= base_ + length_) return bytes_.data() + (pos - base_);
        if (n > bytes_.size() || !source_.seek(pos)) return nullptr;
        base_ = pos;
        length_ = source_.read(bytes_.data(), bytes_.size());
        return n <= length_ ? bytes_.data() : nullptr;
    }

private:
    ByteSource& source_;
    std::vector<uint8_t> bytes_;
    uint64_t base_ = 0;
    size_t length_ = 0;
};

}  // namespace audio
