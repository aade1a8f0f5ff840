// The table of the POSIX layer's operations. POSIX systems offer no
// compressed-WAVE or MP3 codecs the core could use, and no output devices of
// their own here: only the core's null device (device 0) exists.
#include "posix_platform.h"

namespace audio {
namespace {

std::unique_ptr<BlockConverter> no_block_converter(const std::vector<uint8_t>&, Error* error) {
    *error = Error::bad_file_format;
    return nullptr;
}

std::unique_ptr<OutputDevice> no_output_device(int, uint32_t, Error* error) {
    *error = Error::no_device;
    return nullptr;
}

}  // namespace

const Platform& posix_platform() {
    static const Platform operations{open_posix_file_source, no_block_converter, no_output_device};
    return operations;
}

}  // namespace audio
