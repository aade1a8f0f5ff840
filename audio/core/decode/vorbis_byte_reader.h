// Hands vorbisfile the bytes of a ByteSource through its callbacks, with a
// budget: one decode call reads at most so many bytes, so that a long stretch
// of damage never turns into a long read on the mixing thread. The headers
// of each link have a budget of their own, as large for a later link of a
// chained file as for the first.
#pragma once

#include <cstddef>
#include <cstdint>

#define OV_EXCLUDE_STATIC_CALLBACKS 1
#include <vorbis/vorbisfile.h>

#include "io/byte_source.h"

namespace audio {

class VorbisByteReader {
public:
    // `file` is the vorbisfile state this reader feeds: its packet stream's
    // buffers each read grows ahead of need (see grow_ahead in the .cpp),
    // and its state tells when a link's headers are being read.
    // `header_bytes` is the budget of every link's headers.
    VorbisByteReader(ByteSource& source, OggVorbis_File& file, uint64_t header_bytes)
        : source_(source), file_(file), header_bytes_(header_bytes) {}

    // Starts a new budget of `bytes`; what the previous one left is dropped.
    void allow(uint64_t bytes) {
        budget_ = bytes;
        call_budget_ = bytes;
        exhausted_ = false;
    }
    // True when a read was cut short by the budget, not by the end of the source.
    bool exhausted() const { return exhausted_; }

    // Read-only, unseekable callbacks: vorbisfile then only ever reads ahead,
    // and never scans the file's end or its links while opening.
    static ov_callbacks callbacks();

private:
    static size_t read(void* dst, size_t size, size_t count, void* self);
    // A link's headers (a later link's too, met while decoding) may read up
    // to header_bytes_; the audio after them only what the call has left.
    void budget_for_headers();

    ByteSource& source_;
    OggVorbis_File& file_;
    const uint64_t header_bytes_;
    uint64_t budget_ = 0;
    uint64_t call_budget_ = 0;  // the budget allow() last gave
    bool in_headers_ = false;
    bool exhausted_ = false;
};

}  // namespace audio
