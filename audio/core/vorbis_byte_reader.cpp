// The budgeted read callback of vorbisfile.
#include "vorbis_byte_reader.h"

#include <cerrno>

namespace audio {

ov_callbacks VorbisByteReader::callbacks() {
    ov_callbacks callbacks{};
    callbacks.read_func = &VorbisByteReader::read;
    return callbacks;
}

size_t VorbisByteReader::read(void* dst, size_t size, size_t count, void* self) {
    auto& reader = *static_cast<VorbisByteReader*>(self);
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
