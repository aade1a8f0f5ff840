// A ByteSource over a block of memory that the caller keeps alive.
#include <algorithm>
#include <cstring>

#include "io/byte_source.h"

namespace audio {
namespace {

class MemorySource : public PositionedSource {
public:
    MemorySource(const void* data, uint64_t size)
        : PositionedSource(size), data_(static_cast<const uint8_t*>(data)) {}

    size_t read(void* dst, size_t n) override {
        uint64_t left = size_ - pos_;
        size_t count = size_t(std::min<uint64_t>(n, left));
        if (count > 0) std::memcpy(dst, data_ + pos_, count);
        pos_ += count;
        return count;
    }

    std::unique_ptr<ByteSource> duplicate() const override {
        return std::make_unique<MemorySource>(data_, size_);
    }

private:
    const uint8_t* data_;
};

}  // namespace

std::unique_ptr<ByteSource> make_memory_source(const void* data, uint64_t size) {
    if (data == nullptr) size = 0;
    return std::make_unique<MemorySource>(data, size);
}

}  // namespace audio
