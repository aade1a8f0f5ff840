// Runs a PlaybackBackend on a thread of its own: the thread opens the device,
// waits for start(), then keeps the device's queue filled from the
// RenderSource until the OutputDevice is destroyed.
#pragma once

#include <cstdint>
#include <memory>

#include "mix/output_device.h"
#include "playback_backend.h"

namespace audio {

using BackendFactory = std::unique_ptr<PlaybackBackend> (*)();

// Opens `device` through a new backend made by make_backend, on a new device
// thread. Null with the error in *error when the backend fails.
std::unique_ptr<OutputDevice> open_on_device_thread(BackendFactory make_backend, int device,
                                                    uint32_t rate, Error* error);

}  // namespace audio
