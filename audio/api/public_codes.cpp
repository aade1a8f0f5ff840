// The tables between the core's words and the public header's numbers.
#include "public_codes.h"

namespace audio {
namespace {

// The BASS_CTYPE_* value of a content type.
DWORD public_content_type(ContentType type) {
    switch (type) {
    case ContentType::wav_pcm: return BASS_CTYPE_WAV_PCM;
    case ContentType::wav_float: return BASS_CTYPE_WAV_FLOAT;
    case ContentType::wav_codec: return BASS_CTYPE_WAV_CODEC;
    case ContentType::mp3: return BASS_CTYPE_MP3;
    case ContentType::ogg: return BASS_CTYPE_OGG;
    }
    return 0;
}

}  // namespace

int public_error_code(Error error) {
    switch (error) {
    case Error::none: return BASS_OK;
    case Error::no_memory: return BASS_ERROR_MEM;
    case Error::file_open: return BASS_ERROR_FILEOPEN;
    case Error::no_driver: return BASS_ERROR_DRIVER;
    case Error::bad_handle: return BASS_ERROR_HANDLE;
    case Error::start_failed: return BASS_ERROR_START;
    case Error::already_started: return BASS_ERROR_ALREADY;
    case Error::bad_parameter: return BASS_ERROR_ILLPARAM;
    case Error::no_device: return BASS_ERROR_DEVICE;
    case Error::not_playing: return BASS_ERROR_NOPLAY;
    case Error::bad_file_format: return BASS_ERROR_FILEFORM;
    case Error::decode_channel: return BASS_ERROR_DECODE;
    case Error::unknown: return BASS_ERROR_UNKNOWN;
    case Error::not_this_format: return BASS_ERROR_FILEFORM;  // never leaves the probe
    }
    return BASS_ERROR_UNKNOWN;
}

DWORD public_state(StreamState state) {
    switch (state) {
    case StreamState::playing: return BASS_ACTIVE_PLAYING;
    case StreamState::stalled: return BASS_ACTIVE_STALLED;
    case StreamState::paused: return BASS_ACTIVE_PAUSED;
    case StreamState::stopped:
    case StreamState::ended: return BASS_ACTIVE_STOPPED;
    }
    return BASS_ACTIVE_STOPPED;
}

BASS_CHANNELINFO public_info(const StreamInfo& info) {
    return BASS_CHANNELINFO{info.rate, info.channels, info.caller_flags,
                            public_content_type(info.content_type)};
}

StreamOptions stream_options(DWORD flags) {
    StreamOptions options;
    options.decode_only = (flags & BASS_STREAM_DECODE) != 0;
    options.auto_free = (flags & BASS_STREAM_AUTOFREE) != 0;
    options.caller_flags = flags;
    return options;
}

}  // namespace audio
