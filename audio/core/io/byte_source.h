// Random-access bytes that decoders read from: a file (platform layer) or a
// block of memory. Decoders never learn which.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace audio {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads up to n bytes at the current position; returns how many were read
    // (fewer only at the end or on a read error).
    virtual size_t read(void* dst, size_t n) = 0;
    // Moves to an absolute position; false (position unchanged) past the end.
    virtual bool seek(uint64_t pos) = 0;
    virtual uint64_t tell() const = 0;
    virtual uint64_t size() const = 0;
    // A new reader of the same bytes at position 0, with a position of its
    // own: for a file, the same open file, never the path again. Safe to
    // call while another thread reads this source. Null from a source that
    // cannot be read twice (the default).
    virtual std::unique_ptr<ByteSource> duplicate() const { return nullptr; }
};

// A source of a fixed size whose reads start at a position of its own:
// seeking only moves that position, so several readers of the same bytes
// never disturb each other.
class PositionedSource : public ByteSource {
public:
    bool seek(uint64_t pos) override {
        if (pos > size_) return false;
        pos_ = pos;
        return true;
    }
    uint64_t tell() const override { return pos_; }
    uint64_t size() const override { return size_; }

protected:
    explicit PositionedSource(uint64_t size) : size_(size) {}
    const uint64_t size_;
    uint64_t pos_ = 0;
};

// Bytes owned by the caller, which must outlive the source.
std::unique_ptr<ByteSource> make_memory_source(const void* data, uint64_t size);

// The part [offset, offset + length) of another source; length 0 means "to the
// end". Returns null when offset lies past the end.
std::unique_ptr<ByteSource> make_section_source(std::unique_ptr<ByteSource> inner,
                                                uint64_t offset, uint64_t length);

}  // namespace audio
