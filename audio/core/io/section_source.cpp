// A window [offset, offset + length) onto another ByteSource, so that a part
// of a file can be played as if it were the whole file.
#include <algorithm>

#include "io/byte_source.h"

namespace audio {
namespace {

class SectionSource : public ByteSource {
public:
    SectionSource(std::unique_ptr<ByteSource> inner, uint64_t offset, uint64_t length)
        : inner_(std::move(inner)), offset_(offset), length_(length) {
        inner_->seek(offset_);
    }

    size_t read(void* dst, size_t n) override {
        uint64_t left = length_ - pos_;
        size_t count = size_t(std::min<uint64_t>(n, left));
        if (count == 0) return 0;
        size_t got = inner_->read(dst, count);
        pos_ += got;
        return got;
    }

    bool seek(uint64_t pos) override {
        if (pos > length_ || !inner_->seek(offset_ + pos)) return false;
        pos_ = pos;
        return true;
    }

    uint64_t tell() const override { return pos_; }
    uint64_t size() const override { return length_; }
    std::unique_ptr<ByteSource> duplicate() const override {
        std::unique_ptr<ByteSource> inner = inner_->duplicate();
        if (!inner) return nullptr;
        return std::make_unique<SectionSource>(std::move(inner), offset_, length_);
    }

private:
    std::unique_ptr<ByteSource> inner_;
    uint64_t offset_;
    uint64_t length_;
    uint64_t pos_ = 0;
};

}  // namespace

std::unique_ptr<ByteSource> make_section_source(std::unique_ptr<ByteSource> inner,
                                                uint64_t offset, uint64_t length) {
    if (!inner) return nullptr;
    uint64_t total = inner->size();
    if (offset > total) return nullptr;
    uint64_t available = total - offset;
    if (length == 0 || length > available) length = available;
    return std::make_unique<SectionSource>(std::move(inner), offset, length);
}

}  // namespace audio
