// POSIX systems have no output devices of their own here: only the core's
// null device (device 0) exists.
#include "posix_platform.h"

namespace audio {

std::unique_ptr<OutputDevice> open_output_device(int, uint32_t, Error* error) {
    *error = Error::no_device;
    return nullptr;
}

}  // namespace audio
