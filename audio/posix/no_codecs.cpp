// POSIX systems offer no compressed-WAVE or MP3 codecs the core could use.
#include "posix_platform.h"

namespace audio {

std::unique_ptr<BlockConverter> open_block_converter(const std::vector<uint8_t>&, Error* error) {
    *error = Error::bad_file_format;
    return nullptr;
}

}  // namespace audio
