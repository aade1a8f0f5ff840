// How the engine describes a stream to its callers: the options it was made
// with, its state, and what its content is.
#pragma once

#include <cstdint>

#include "decode/decoder.h"

namespace audio {

enum class StreamState {
    stopped,  // not started yet, or stopped
    playing,
    paused,
    ended,    // played or read to the end of its content
    stalled,  // playing, but the output device is gone; goes on when it is back
};

struct StreamOptions {
    bool decode_only = false;  // never played: read with Engine::read_decoded
    bool auto_free = false;    // released when stopped or ended
    uint32_t caller_flags = 0; // the caller's own flags, kept for StreamInfo
};

struct StreamInfo {
    uint32_t rate = 0;      // the content's own sample rate
    uint32_t channels = 0;  // the content's own channel count
    uint32_t caller_flags = 0;
    ContentType content_type = ContentType::wav_pcm;
};

}  // namespace audio
