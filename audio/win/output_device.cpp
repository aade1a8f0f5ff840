// Picks an output backend: WASAPI first (low latency, quick to open), then
// waveOut for systems where WASAPI is missing or refuses the device.
#include "device_thread.h"
#include "win_platform.h"

namespace audio {
namespace {

// Backends in order of preference.
const BackendFactory kBackends[] = {make_wasapi_backend, make_waveout_backend};

// Which of two failures to report: a device number that does not exist says
// the most, a device that would not start next, a missing system the least.
Error more_specific(Error a, Error b) {
    auto rank = [](Error error) {
        switch (error) {
            case Error::no_device: return 3;
            case Error::start_failed: return 2;
            case Error::no_driver: return 1;
            default: return 0;
        }
    };
    return rank(b) > rank(a) ? b : a;
}

}  // namespace

// Tries each backend in turn; the first that opens the device wins.
std::unique_ptr<OutputDevice> open_output_device(int device, uint32_t rate, Error* error) {
    Error failure = Error::no_driver;
    for (BackendFactory make_backend : kBackends) {
        Error backend_error = Error::none;
        std::unique_ptr<OutputDevice> output = open_on_device_thread(make_backend, device, rate, &backend_error);
        if (output) {
            *error = Error::none;
            return output;
        }
        failure = more_specific(failure, backend_error);
    }
    *error = failure;
    return nullptr;
}

}  // namespace audio
