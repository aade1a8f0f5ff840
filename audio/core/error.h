// The core's own error codes. The public calls translate them into the codes
// their callers see; nothing in the core deals in those.
#pragma once

namespace audio {

enum class Error {
    none,
    no_memory,
    file_open,        // the file cannot be opened
    no_driver,        // no usable output driver
    bad_handle,       // no such stream: never made, or already released
    start_failed,     // the output device failed to start
    already_started,  // the output device was started before
    bad_parameter,    // an argument the call cannot take
    no_device,        // no such output device
    not_playing,      // pausing a stream that is not playing
    bad_file_format,  // unsupported or invalid content
    decode_channel,   // playing a stream that was made only to be read
    unknown,          // a failure of no kind above
    // A format's probe found content of another format altogether, so that a
    // more specific error of another probe is kept. Never leaves the probe.
    not_this_format,
};

}  // namespace audio
