// Plays a sine through one output backend for the capture test
// (record_test.sh): silent after open, the tone from start, silence again
// after a mute, then the device is destroyed. Logs each step for the analyser.
//
//   play_sine BACKEND DEVICE SECONDS FREQUENCY PEAK
//   BACKEND: wasapi, waveout or auto (the library's own choice)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "device_thread.h"
#include "event_log.h"
#include "sine_source.h"
#include "win_platform.h"

using audio_test::log_event;
using audio_test::log_figure;
using audio_test::unix_time_now;

namespace {

constexpr uint32_t kRate = 44100;

// Opens the device through the named backend.
std::unique_ptr<audio::OutputDevice> open_device(const char* backend, int device, audio::Error* error) {
    if (std::strcmp(backend, "wasapi") == 0)
        return audio::open_on_device_thread({audio::make_wasapi_backend}, device, kRate, error);
    if (std::strcmp(backend, "waveout") == 0)
        return audio::open_on_device_thread({audio::make_waveout_backend}, device, kRate, error);
    return audio::open_output_device(device, kRate, error);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: play_sine BACKEND DEVICE SECONDS FREQUENCY PEAK\n");
        return 2;
    }
    const char* backend = argv[1];
    int device = std::atoi(argv[2]);
    double seconds = std::atof(argv[3]);
    double frequency = std::atof(argv[4]);
    double peak = std::atof(argv[5]);

    audio_test::SineSource sine(frequency, peak, kRate);
    audio_test::log_tone(frequency);
    log_event("open", 0);
    double opening = unix_time_now();
    audio::Error error = audio::Error::none;
    std::unique_ptr<audio::OutputDevice> output = open_device(backend, device, &error);
    if (!output) {
        std::fprintf(stderr, "play_sine: open failed with error %d\n", int(error));
        return 1;
    }
    log_figure("open", (unix_time_now() - opening) * 1000, "ms");
    Sleep(300);  // the capture must stay silent until start

    log_event("start", peak);
    if ((error = output->start(&sine)) != audio::Error::none) {
        std::fprintf(stderr, "play_sine: start failed with error %d\n", int(error));
        return 1;
    }
    Sleep(static_cast<DWORD>(seconds * 1000));

    sine.set_muted(true);
    log_event("mute", 0);
    Sleep(300);

    double destroying = unix_time_now();
    output.reset();
    double destroy_ms = (unix_time_now() - destroying) * 1000;
    log_figure("destroy", destroy_ms, "ms");
    log_event("destroyed", 0);
    // Everything rendered must have come from the device thread, in about
    // real time (the device may be some periods ahead of the clock).
    if (sine.render_thread() == GetCurrentThreadId()) {
        std::fprintf(stderr, "play_sine: render ran on the caller's thread\n");
        return 1;
    }
    double rendered_s = static_cast<double>(sine.frames_rendered()) / kRate;
    log_figure("rendered", rendered_s * 1000, "ms");
    log_figure("render_calls", static_cast<double>(sine.calls()), "calls");
    if (destroy_ms > 200) {
        std::fprintf(stderr, "play_sine: destroying the device took %.0f ms\n", destroy_ms);
        return 1;
    }
    return 0;
}
