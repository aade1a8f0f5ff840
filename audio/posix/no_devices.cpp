// POSIX systems have no output devices of their own here: only the core's
// null device (device 0) exists.
#include "bass.h"
#include "platform.h"

namespace audio {

std::unique_ptr<OutputDevice> open_output_device(int, uint32_t, int* error) {
    *error = BASS_ERROR_DEVICE;
    return nullptr;
}

}  // namespace audio
