// Hands vorbisfile the bytes of a ByteSource through its callbacks, with a
// budget: one decode call reads at most so many bytes, so that a long stretch
// of damage never turns into a long read on the mixing thread.
#pragma once

#include <cstddef>
#include <cstdint>

#define OV_EXCLUDE_STATIC_CALLBACKS 1
#include <vorbis/vorbisfile.h>

#include "io/byte_source.h"

namespace audio {

class VorbisByteReader {
public:
    // `stream` is vorbisfile's packet stream, whose buffers each read grows
    // ahead of need (see grow_ahead in the .cpp).
    VorbisByteReader(ByteSource& source, ogg_stream_state& stream) : source_(source), stream_(stream) {}

    // Starts a new budget of `bytes`; what the previous one left is dropped.
    void allow(uint64_t bytes) {
        budget_ = bytes;
        exhausted_ = false;
    }
    // True when a read was cut short by the budget, not by the end of the source.
    bool exhausted() const { return exhausted_; }

    // Read-only, unseekable callbacks: vorbisfile then only ever reads ahead,
    // and never scans the file's end or its links while opening.
    static ov_callbacks callbacks();

private:
    static size_t read(void* dst, size_t size, size_t count, void* self);

    ByteSource& source_;
    ogg_stream_state& stream_;
    uint64_t budget_ = 0;
    bool exhausted_ = false;
};

}  // namespace audio
