// Picks an output backend: WASAPI first (low latency, quick to open), then
// waveOut for systems where WASAPI is missing or refuses the device.
#include "bass.h"
#include "device_thread.h"
#include "platform.h"

namespace audio {
namespace {

// Backends in order of preference.
const BackendFactory kBackends[] = {make_wasapi_backend, make_waveout_backend};

// Which of two failures to report: a device number that does not exist says
// the most, a device that would not start next, a missing system the least.
int more_specific(int a, int b) {
    auto rank = [](int error) {
        switch (error) {
            case BASS_ERROR_DEVICE: return 3;
            case BASS_ERROR_START: return 2;
            case BASS_ERROR_DRIVER: return 1;
            default: return 0;
        }
    };
    return rank(b) > rank(a) ? b : a;
}

}  // namespace

// Tries each backend in turn; the first that opens the device wins.
std::unique_ptr<OutputDevice> open_output_device(int device, uint32_t rate, int* error) {
    int failure = BASS_ERROR_DRIVER;
    for (BackendFactory make_backend : kBackends) {
        int backend_error = BASS_OK;
        std::unique_ptr<OutputDevice> output = open_on_device_thread(make_backend, device, rate, &backend_error);
        if (output) {
            *error = BASS_OK;
            return output;
        }
        failure = more_specific(failure, backend_error);
    }
    *error = failure;
    return nullptr;
}

}  // namespace audio
