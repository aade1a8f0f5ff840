// An output device pulls stereo float frames from a RenderSource on its own
// thread, at its own pace, and sends them to the speakers (or nowhere).
#pragma once

#include <cstddef>
#include <cstdint>

#include "error.h"

namespace audio {

class RenderSource {
public:
    virtual ~RenderSource() = default;
    // Fills out with `frames` interleaved stereo frames at the output rate.
    // Called from the device's thread; must not block for long.
    virtual void render(float* out, size_t frames) = 0;
    // The device says its output has gone away (true) or is back (false).
    // No render comes in between, so what plays holds its place meanwhile.
    virtual void set_output_stalled(bool stalled) { (void)stalled; }
};

class OutputDevice {
public:
    // Stops the thread and releases the device; safe after a partial start.
    virtual ~OutputDevice() = default;
    // Starts pulling from source until destruction; the error when the
    // device cannot start.
    virtual Error start(RenderSource* source) = 0;
};

}  // namespace audio
