// POSIX systems offer no compressed-WAVE or MP3 codecs the core could use.
#include "bass.h"
#include "platform.h"

namespace audio {

std::unique_ptr<BlockConverter> open_block_converter(const std::vector<uint8_t>&, int* error) {
    *error = BASS_ERROR_FILEFORM;
    return nullptr;
}

}  // namespace audio
