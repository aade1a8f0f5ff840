// The budgeted read callback of vorbisfile.
#include "decode/vorbis_byte_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace audio {
namespace {

// Buffers this full are grown ahead: only a packet of many pages (a large
// comment header) gets there.
constexpr long kGrowFromBytes = 256 * 1024;
constexpr long kRoomBytes = 128 * 1024;  // two pages of the largest size

// libogg grows a packet's buffers by one page at a time, so a header of many
// megabytes is copied once per page: 64 MB took most of a minute on Windows.
// Doubling them before they fill keeps that linear. libogg allocates them
// with realloc and frees them with free, and takes the larger storage as
// its own; a stream it has cleared (no buffer) is left alone.
void grow_ahead(ogg_stream_state& stream) {
    if (!stream.body_data || stream.body_fill < kGrowFromBytes) return;
    if (stream.body_storage - stream.body_fill < kRoomBytes) {
        long storage = stream.body_storage * 2;
        if (auto* body = static_cast<unsigned char*>(std::realloc(stream.body_data, size_t(storage)))) {
            stream.body_data = body;
            stream.body_storage = storage;
        }
    }
    const long lacing_room = kRoomBytes / 255;
    if (stream.lacing_vals && stream.granule_vals && stream.lacing_storage - stream.lacing_fill < lacing_room) {
        long storage = stream.lacing_storage * 2;
        auto* lacing = static_cast<int*>(std::realloc(stream.lacing_vals, size_t(storage) * sizeof(int)));
        if (!lacing) return;
        stream.lacing_vals = lacing;
        auto* granules = static_cast<ogg_int64_t*>(std::realloc(stream.granule_vals, size_t(storage) * sizeof(ogg_int64_t)));
        if (!granules) return;  // the larger lacing array alone does no harm
        stream.granule_vals = granules;
        stream.lacing_storage = storage;
    }
}

}  // namespace

ov_callbacks VorbisByteReader::callbacks() {
    ov_callbacks callbacks{};
    callbacks.read_func = &VorbisByteReader::read;
    return callbacks;
}

void VorbisByteReader::budget_for_headers() {
    // vorbisfile decodes audio only in INITSET; below it, it is reading (or
    // has just read) the headers of a link.
    bool in_headers = file_.ready_state < INITSET;
    if (in_headers && !in_headers_) budget_ = std::max(budget_, header_bytes_);
    if (!in_headers && in_headers_) budget_ = std::min(budget_, call_budget_);
    in_headers_ = in_headers;
}

size_t VorbisByteReader::read(void* dst, size_t size, size_t count, void* self) {
    auto& reader = *static_cast<VorbisByteReader*>(self);
    reader.budget_for_headers();
    grow_ahead(reader.file_.os);
    // vorbisfile takes a zero return with errno set for a read error; ours
    // are ends (of the source or of the budget), never errors.
    errno = 0;
    uint64_t wanted = uint64_t(size) * count;
    if (wanted > reader.budget_) {
        reader.exhausted_ = true;
        wanted = reader.budget_;
    }
    size_t got = reader.source_.read(dst, size_t(wanted));
    reader.budget_ -= got;
    return size == 0 ? 0 : got / size;
}

}  // namespace audio
