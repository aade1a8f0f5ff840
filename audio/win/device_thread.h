// Runs a PlaybackBackend on a thread of its own: the thread opens the device
// through the first backend of a table that can, waits for start(), then
// keeps the device's queue filled from the RenderSource until the
// OutputDevice is destroyed.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "mix/output_device.h"
#include "playback_backend.h"

namespace audio {

using BackendFactory = std::unique_ptr<PlaybackBackend> (*)();
// Backends in order of preference.
using BackendTable = std::vector<BackendFactory>;

// Opens `device` through the first backend of the table that opens it, on
// a new device thread; each retry after the output is lost walks the table
// again. Null with the most telling error in *error when none opens.
std::unique_ptr<OutputDevice> open_on_device_thread(BackendTable backends, int device, uint32_t rate,
                                                    Error* error);

}  // namespace audio
