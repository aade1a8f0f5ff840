// Translation from the core's vocabulary into the public header's: error
// codes, channel states, content types and stream flags, with the numbers
// that callers of the public calls see.
#pragma once

#include "bass.h"
#include "error.h"
#include "mix/stream_info.h"

namespace audio {

// The BASS_ERROR_* code (BASS_OK for Error::none) of a core error.
int public_error_code(Error error);

// The BASS_ACTIVE_* value of a stream state: an ended stream reads as stopped.
DWORD public_state(StreamState state);

// The public description of a stream.
BASS_CHANNELINFO public_info(const StreamInfo& info);

// The core's options for a stream made with BASS_STREAM_* flags.
StreamOptions stream_options(DWORD flags);

}  // namespace audio
