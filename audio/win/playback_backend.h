// One way of sending sound to the system (WASAPI, waveOut). A backend is
// driven entirely from the device thread (device_thread.h), which owns COM
// for it; nothing here runs on the caller's thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "mix/output_device.h"

namespace audio {

class PlaybackBackend {
public:
    // Releases whatever open() acquired, and only that.
    virtual ~PlaybackBackend() = default;
    // Opens output `device` (1 = first, -1 = default) for `rate` Hz stereo
    // without making any sound. Returns Error::none or the error.
    virtual Error open(int device, uint32_t rate) = 0;
    // Starts the device on a queue of silence, rendering nothing: a device
    // that fails to start then costs no sound. The first refill follows
    // as soon as the device asks for more.
    virtual Error start() = 0;
    // Signalled when the device has room for more sound.
    virtual HANDLE refill_event() const = 0;
    // Tops the queue up from source. False when the device has failed.
    virtual bool refill(RenderSource* source) = 0;
    // Stops the sound at once (queued sound is dropped).
    virtual void stop() = 0;
};

std::unique_ptr<PlaybackBackend> make_wasapi_backend();
std::unique_ptr<PlaybackBackend> make_waveout_backend();

}  // namespace audio
