// Names of the BASS_ERROR_* codes, for messages of tools and tests.
#pragma once

namespace audio {

// The code's name, e.g. "BASS_ERROR_FILEFORM"; "BASS_ERROR_UNKNOWN" for others.
const char* error_name(int code);

}  // namespace audio
