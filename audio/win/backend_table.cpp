// The table of output backends, in order of preference: WASAPI first (low
// latency, quick to open), then waveOut for systems where WASAPI is missing or
// refuses the device.
#include "device_thread.h"
#include "win_platform.h"

namespace audio {

// Opens the device on a thread that tries the backends in turn.
std::unique_ptr<OutputDevice> open_output_device(int device, uint32_t rate, Error* error) {
    return open_on_device_thread({make_wasapi_backend, make_waveout_backend}, device, rate, error);
}

}  // namespace audio
