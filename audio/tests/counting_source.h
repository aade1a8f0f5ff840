// A memory source that counts the bytes read from it, for tests and fuzzers
// that check how much a decoder reads.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "io/byte_source.h"

namespace audio_test {

class CountingSource : public audio::ByteSource {
public:
    // The counter outlives the source (which the decoder may destroy early).
    CountingSource(const std::vector<uint8_t>& bytes, uint64_t* counter)
        : inner_(audio::make_memory_source(bytes.data(), bytes.size())), counter_(counter) {}
    size_t read(void* dst, size_t n) override {
        size_t got = inner_->read(dst, n);
        *counter_ += got;
        return got;
    }
    bool seek(uint64_t pos) override { return inner_->seek(pos); }
    uint64_t tell() const override { return inner_->tell(); }
    uint64_t size() const override { return inner_->size(); }

private:
    std::unique_ptr<audio::ByteSource> inner_;
    uint64_t* counter_;
};

}  // namespace audio_test
